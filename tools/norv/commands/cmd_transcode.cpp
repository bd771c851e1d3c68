// norv transcode: joins the inputs into one output with a progress line.
#include <chrono>

#include "commands/commands.h"
#include "common/console.h"
#include "common/engine.h"
#include "common/transcode_run.h"
#include "parts/film_parts.h"
#include "timing/estimate.h"
#include "timing/progress.h"

namespace norv {

int CommandTranscode(const Invocation& in) {
    if (in.parts > 0) {
        return CommandFilmParts(in);
    }
    // The rate kept for this machine covers the whole command, as a user
    // waits for it: starting the engine and analysing the sources included.
    const auto start = std::chrono::steady_clock::now();
    const Ptr<nvt::ITranscodeEngineInfo> info = StartEngine(LocateEngine(in.engine), true);
    CheckOutputPath(in.output, in.inputs, in.overwrite);
    const Sources sources = AnalyseJoined(in.inputs);
    const Ptr<nvt::ITranscodeOutputSettings> settings =
        MakeOutputSettings(in.choice, sources.front().get());
    Ptr<nvt::ITranscodeSession> session =
        MakeSession(sources, settings.get(), info.get(), in.choice.job.enginePriority);
    const JobWork work = DescribeWork(*session, *settings, sources);
    TranscodeProgress progress(ChooseProgressMode(in.json), in.progressPeriod, in.output);
    const RunOutcome outcome = RunTranscode(std::move(session), sources, in.output, progress);
    if (outcome.cancelled) {
        throw Failure("cancelled, no output left", nvt::Aborted);
    }
    if (outcome.result != nvt::SUCCESS) {
        throw Failure(outcome.failedSource + ": transcode failed", outcome.result);
    }
    RememberRun(work,
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    return 0;
}

} // namespace norv
