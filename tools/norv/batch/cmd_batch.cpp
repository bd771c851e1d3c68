// norv batch: one output per input, several at once, each in a session and
// engine of its own, with one overall progress line. --shard takes a share
// of the inputs so that a scheduler's array of jobs can split a large batch;
// a run again over a shard skips what an earlier run finished, and --report
// tells what became of each file.
#include <atomic>
#include <chrono>
#include <filesystem>
#include <map>
#include <thread>

#include "batch/batch_report.h"
#include "batch/batch_resume.h"
#include "commands/commands.h"
#include "common/console.h"
#include "common/engine.h"
#include "common/transcode_run.h"
#include "quality/quality_batch.h"
#include "timing/estimate.h"
#include "timing/progress.h"

namespace norv {

namespace {

namespace fs = std::filesystem;

// Output paths for every input (before sharding, so that every shard agrees).
std::vector<std::string> OutputPaths(const std::vector<std::string>& inputs,
                                     const std::string& folder, const std::string& extension) {
    std::vector<std::string> outputs;
    std::map<std::string, std::string> taken;
    for (const std::string& input : inputs) {
        const std::string output =
            (fs::path(folder) / fs::path(input).stem()).string() + "." + extension;
        const auto clash = taken.emplace(output, input);
        if (!clash.second) {
            throw Failure(input + " and " + clash.first->second + " would both write " + output,
                          nvt::CTRL_DUPLICATE_FILE);
        }
        outputs.push_back(output);
    }
    return outputs;
}

} // namespace

int CommandBatch(const Invocation& in) {
    const Ptr<nvt::ITranscodeEngineInfo> info = StartEngine(LocateEngine(in.engine), true);
    // The choice is checked once up front; it also tells the profile.
    const auto profile =
        static_cast<nvt::NorvProfile>(MakeOutputSettings(in.choice, nullptr)->GetProfile());
    const std::vector<std::string> allOutputs =
        OutputPaths(in.inputs, in.outputDir, OutputExtension(profile, info.get()));
    std::error_code error;
    fs::create_directories(in.outputDir, error);
    if (!fs::is_directory(in.outputDir, error)) {
        throw Failure(in.outputDir + ": cannot make the output folder", nvt::ENG_WRITING_ERROR);
    }

    // Shard K of N takes the inputs K, K+N, K+2N, ... (counted from 1).
    std::vector<std::string> shardInputs, shardOutputs;
    for (size_t i = in.shardIndex - 1; i < in.inputs.size(); i += in.shardCount) {
        shardInputs.push_back(in.inputs[i]);
        shardOutputs.push_back(allOutputs[i]);
    }
    ShardReport report(Shard{in.shardIndex, in.shardCount}, shardInputs, shardOutputs);
    // A run again over the shard skips the outputs an earlier run finished.
    std::vector<std::string> inputs, outputs;
    std::vector<size_t> place; // each file's place in the report
    for (size_t i = 0; i < shardInputs.size(); ++i) {
        if (OutputComplete(shardOutputs[i], shardInputs[i], in.overwrite)) {
            report.Skipped(i);
            AnnounceSkipped(in.json, shardInputs[i], shardOutputs[i]);
            continue;
        }
        place.push_back(i);
        inputs.push_back(shardInputs[i]);
        outputs.push_back(shardOutputs[i]);
    }
    // Every file is analysed up front, so that the overall remaining time
    // weighs each by its work.
    const BatchWork plan(inputs, in.choice, info.get(), EffectiveJobs(in.jobs));
    // --quality and --total-size choose each file's bitrate before any runs.
    BatchQuality quality(in, plan, inputs, outputs, shardOutputs, info.get());
    BatchProgress board(ChooseProgressMode(in.json), in.progressPeriod, inputs, outputs,
                        plan.work());
    board.Expect(plan.librarySeconds(), plan.measured());

    std::atomic<size_t> next{0};
    std::atomic<size_t> active{0};
    auto worker = [&] {
        for (size_t i = next++; i < inputs.size() && !InterruptRequested(); i = next++) {
            const auto begun = std::chrono::steady_clock::now();
            nvt::Result result = nvt::SUCCESS;
            std::string why;
            try {
                CheckOutputPath(outputs[i], {inputs[i]}, in.overwrite);
                const Sources sources = plan.SourcesOf(i);
                report.SetDuration(place[i], TotalDurationMs(sources) / 1000.0);
                const OutputChoice choice = quality.ChoiceFor(i, in.choice);
                const Ptr<nvt::ITranscodeOutputSettings> settings =
                    MakeOutputSettings(choice, sources.front().get());
                const auto began = std::chrono::steady_clock::now();
                result = RunTranscode(MakeSession(sources, settings.get(), info.get(),
                                                  choice.job.enginePriority),
                                      sources, outputs[i], board.Observer(i))
                             .result;
                if (result == nvt::SUCCESS && quality.active()) {
                    report.SetQuality(place[i], quality.Measured(i, sources, choice, outputs[i]));
                }
                if (result == nvt::SUCCESS) {
                    plan.Remember(
                        i, std::chrono::duration<double>(std::chrono::steady_clock::now() - began)
                               .count());
                }
            } catch (const Failure& failure) {
                board.JobFailed(i, failure.result(), failure.what());
                result = failure.result();
                why = failure.what();
            } catch (const std::exception& e) {
                board.JobFailed(i, nvt::ENG_ERR, inputs[i] + ": " + e.what());
                result = nvt::ENG_ERR;
                why = inputs[i] + ": " + e.what();
            }
            // A scheduler signals every process of the job at once: the
            // engine may end (and its run fail as a lost engine) a moment
            // before norv hears the same signal, so a lost engine waits a
            // little for it.
            for (int waited = 0; result == nvt::ENG_ERR && !InterruptRequested() && waited < 100;
                 ++waited) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            if (result != nvt::SUCCESS && InterruptRequested()) {
                result = nvt::Aborted;
            }
            if (result != nvt::SUCCESS && why.empty()) {
                why = inputs[i] + (result == nvt::Aborted ? ": cancelled" : ": transcode failed");
            }
            report.Ended(
                place[i], result,
                std::chrono::duration<double>(std::chrono::steady_clock::now() - begun).count(),
                why);
        }
        --active;
    };
    const size_t threads = std::min<size_t>(EffectiveJobs(in.jobs), inputs.size());
    std::vector<std::thread> pool;
    active = threads;
    for (size_t t = 0; t < threads; ++t) {
        pool.emplace_back(worker);
    }
    while (active > 0) {
        board.Tick();
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    for (std::thread& thread : pool) {
        thread.join();
    }
    board.Finish();
    if (!in.reportFile.empty()) {
        WriteJsonFile(in.reportFile, report.ToJson());
    }
    if (InterruptRequested()) {
        throw Failure("batch cancelled, no partial output left", nvt::Aborted);
    }
    if (board.failed() > 0) {
        throw Failure(std::to_string(board.failed()) + " of " + std::to_string(inputs.size()) +
                          " files failed",
                      board.firstFailure());
    }
    return 0;
}

} // namespace norv
