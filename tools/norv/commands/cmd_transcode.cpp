// norv transcode: joins the inputs into one output with a progress line.
#include <chrono>

#include "commands/commands.h"
#include "common/console.h"
#include "common/engine.h"
#include "common/json_output.h"
#include "common/transcode_run.h"
#include "parts/film_parts.h"
#include "quality/quality_mode.h"
#include "timing/estimate.h"
#include "timing/progress.h"

namespace norv {

void AnnounceQualityPlan(const QualityPlan& plan, bool json) {
    if (json) {
        Json event{{"event", "quality_plan"}};
        event.update(QualityJson(plan));
        event["predicted_size"] = plan.bytes;
        PrintJson(event);
        return;
    }
    for (const std::string& line : QualityLines(plan)) {
        std::fprintf(stderr, "%s\n", line.c_str());
    }
    std::fprintf(stderr, "size        about %.1f MiB predicted\n", plan.bytes / 1048576.0);
}

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
    OutputChoice choice = in.choice;
    std::optional<QualityPlan> plan;
    if (in.quality) {
        plan = PlanQuality(sources, choice, info.get(), *in.quality, ChooseProgressMode(in.json),
                           in.progressPeriod, in.inputs.front());
    }
    const Ptr<nvt::ITranscodeOutputSettings> settings =
        MakeOutputSettings(choice, sources.front().get());
    Ptr<nvt::ITranscodeSession> session =
        MakeSession(sources, settings.get(), info.get(), choice.job.enginePriority);
    if (plan) {
        SettlePlan(*plan, *DeriveOutput(*session), TotalDurationMs(sources) / 1000.0);
        AnnounceQualityPlan(*plan, in.json);
    }
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
