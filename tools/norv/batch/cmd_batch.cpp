// norv batch: one output per input, several at once, each in a session and
// engine of its own, with one overall progress line. --shard takes a share
// of the inputs so that a scheduler's array of jobs can split a large batch;
// a run again over a shard skips what an earlier run finished, and --report
// tells what became of each file, from the start of the run on.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <thread>

#include "batch/batch_report.h"
#include "batch/batch_resume.h"
#include "batch/path_list.h"
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

// The shard this run takes: --shard as given, checked against what an
// earlier run of the batch recorded. Throws ShardError.
Shard ChooseShard(const Invocation& in, const CompletionRecords& records,
                  const BatchIdentity& batch) {
    if (in.shardText.empty()) {
        return Shard{};
    }
    return ResolveShard(in.shardText, ProcessEnvironment, records.EarlierRun(batch, in.reportFile));
}

void AnnounceRemoved(bool json, const std::vector<std::string>& names) {
    for (const std::string& name : names) {
        if (json) {
            PrintJson(Json{{"event", "leftover_removed"}, {"file", name}});
        } else {
            std::fprintf(stderr, "removed %s (left by an engine that no longer runs)\n",
                         name.c_str());
        }
    }
}

// Rewrites the report as a file ends; a report that cannot be written
// then is said once, and the run goes on.
void SaveReport(const ShardReport& report, std::atomic<bool>& warned) {
    try {
        report.Save();
    } catch (const Failure& failure) {
        if (!warned.exchange(true)) {
            std::fprintf(stderr, "norv: %s\n", failure.what());
        }
    }
}

} // namespace

int CommandBatch(const Invocation& in) {
    std::error_code error;
    fs::create_directories(in.outputDir, error);
    if (!fs::is_directory(in.outputDir, error)) {
        throw Failure(in.outputDir + ": cannot make the output folder", nvt::ENG_WRITING_ERROR);
    }
    // What decides the outputs, and which batch this is: its list and its
    // settings.
    const Json settings = DecidingSettings(in.choice);
    const BatchIdentity batch{ListDigest(in.inputs), in.inputs.size(), TextDigest(settings.dump())};
    const CompletionRecords records(in.outputDir, settings);
    const Shard shard = ChooseShard(in, records, batch);
    records.RememberShards(batch, shard);

    const Ptr<nvt::ITranscodeEngineInfo> info = StartEngine(LocateEngine(in.engine), true);
    const auto profile =
        static_cast<nvt::NorvProfile>(MakeOutputSettings(in.choice, nullptr)->GetProfile());
    const std::vector<std::string> allOutputs =
        OutputPaths(in.inputs, in.outputDir, OutputExtension(profile, info.get()));

    // Shard K of N takes the inputs K, K+N, K+2N, ... (counted from 1).
    std::vector<std::string> shardInputs, shardOutputs;
    for (size_t i = shard.index - 1; i < in.inputs.size(); i += shard.count) {
        shardInputs.push_back(in.inputs[i]);
        shardOutputs.push_back(allOutputs[i]);
    }
    // The report is there from the start, every file not started: a run
    // that cannot write it stops before doing anything.
    ShardReport report(shard, batch, shardInputs, shardOutputs, in.reportFile);
    report.Save();
    AnnounceRemoved(in.json, RemoveLeftoverScratch(in.outputDir));

    // A run again over the shard skips the outputs an earlier run finished.
    std::vector<std::string> inputs, outputs;
    std::vector<size_t> place; // each file's place in the report
    std::vector<ResumeDecision> decisions;
    for (size_t i = 0; i < shardInputs.size(); ++i) {
        const ResumeDecision decision =
            records.Check(shardInputs[i], shardOutputs[i], in.overwrite);
        if (decision.action == ResumeDecision::Skip) {
            report.Skipped(i, decision.note);
            AnnounceSkipped(in.json, shardInputs[i], shardOutputs[i]);
            continue;
        }
        if (decision.action == ResumeDecision::Transcode && !decision.note.empty()) {
            report.Noted(i, decision.note);
        }
        place.push_back(i);
        inputs.push_back(shardInputs[i]);
        outputs.push_back(shardOutputs[i]);
        decisions.push_back(decision);
    }
    report.Save();
    // Every file is analysed up front, so that the overall remaining time
    // weighs each by its work.
    const BatchWork plan(inputs, in.choice, info.get(), EffectiveJobs(in.jobs));
    // --quality and --total-size choose each file's bitrate before any runs.
    BatchQuality quality(in, plan, inputs, outputs, shardOutputs, info.get());
    BatchProgress board(ChooseProgressMode(in.json), in.progressPeriod, inputs, outputs,
                        plan.work());
    board.Expect(plan.librarySeconds(), plan.measured());
    board.HoldDone(quality.active());

    std::atomic<size_t> next{0};
    std::atomic<size_t> active{0};
    std::atomic<size_t> working{0};
    std::atomic<bool> reportWarned{false};
    // Runs file i from its run firstRun on: again, lower, while it is above
    // its share of a total size; a failed second, higher encode leaves the
    // output it was to replace.
    auto encode = [&](size_t i, const Sources& sources, OutputChoice choice, int firstRun) {
        nvt::Result result = nvt::SUCCESS;
        bool restored = false;
        try {
            records.Started(inputs[i], outputs[i]);
            for (int run = firstRun;; ++run) {
                const Ptr<nvt::ITranscodeOutputSettings> outputSettings =
                    MakeOutputSettings(choice, sources.front().get());
                result = RunTranscode(MakeSession(sources, outputSettings.get(), info.get(),
                                                  choice.job.enginePriority),
                                      sources, outputs[i], board.Observer(i))
                             .result;
                std::optional<OutputChoice> again;
                if (result == nvt::SUCCESS && quality.active()) {
                    again = quality.Again(i, choice, outputs[i], run);
                }
                if (!again) {
                    break;
                }
                choice = *again;
            }
        } catch (...) {
            if (!(restored = quality.Restore(i, outputs[i]))) {
                throw;
            }
        }
        restored = restored || (result != nvt::SUCCESS && quality.Restore(i, outputs[i]));
        if (restored) {
            result = nvt::SUCCESS;
            board.JobStands(i);
        }
        if (result == nvt::SUCCESS && quality.active()) {
            report.SetQuality(place[i], quality.Measured(i, sources, choice, outputs[i]));
        }
        if (result == nvt::SUCCESS) {
            if (!records.Finished(inputs[i], outputs[i])) {
                std::fprintf(stderr,
                             "norv: %s: cannot record it finished; a run again will "
                             "not take it as complete\n",
                             outputs[i].c_str());
            }
            board.JobSettled(i);
        } else {
            records.Forget(outputs[i]);
        }
        return result;
    };
    auto since = [](std::chrono::steady_clock::time_point begun) {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - begun).count();
    };
    std::vector<double> spentSeconds(inputs.size(), 0.0);
    // One run of file i (body gives its result; what it throws fails the
    // file), and its end as the report and the board tell it.
    auto attempt = [&](size_t i, const std::function<nvt::Result()>& body) {
        const auto begun = std::chrono::steady_clock::now();
        nvt::Result result = nvt::ENG_ERR;
        std::string why;
        try {
            result = body();
        } catch (const Failure& failure) {
            board.JobFailed(i, failure.result(), failure.what());
            result = failure.result();
            why = failure.what();
        } catch (const std::exception& e) {
            board.JobFailed(i, nvt::ENG_ERR, inputs[i] + ": " + e.what());
            result = nvt::ENG_ERR;
            why = inputs[i] + ": " + e.what();
        }
        spentSeconds[i] += since(begun);
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
        report.Ended(place[i], result, spentSeconds[i], why);
        SaveReport(report, reportWarned);
    };
    // Once every file has ended, a batch below its floor of a total size
    // encodes a file that can take more once again, higher.
    auto fill = [&] {
        while (!InterruptRequested()) {
            const auto more = quality.LastTopUp(outputs);
            if (!more) {
                return;
            }
            const size_t i = more->first;
            attempt(i, [&] { return encode(i, plan.SourcesOf(i), more->second, 2); });
        }
    };
    auto worker = [&] {
        for (size_t i = next++; i < inputs.size() && !InterruptRequested(); i = next++) {
            attempt(i, [&] {
                if (decisions[i].action == ResumeDecision::Refuse) {
                    throw Failure(decisions[i].note, nvt::CTRL_DUPLICATE_FILE);
                }
                CheckOutputPath(outputs[i], {inputs[i]}, in.overwrite || decisions[i].replace);
                const Sources sources = plan.SourcesOf(i);
                report.SetDuration(place[i], TotalDurationMs(sources) / 1000.0);
                const OutputChoice choice = quality.ChoiceFor(i, in.choice);
                const auto began = std::chrono::steady_clock::now();
                const nvt::Result result = encode(i, sources, choice, 1);
                if (result == nvt::SUCCESS) {
                    plan.Remember(i, since(began));
                }
                return result;
            });
        }
        // The last worker to run out of files finds every file ended.
        if (--working == 0) {
            fill();
        }
        --active;
    };
    const size_t threads = std::min<size_t>(EffectiveJobs(in.jobs), inputs.size());
    std::vector<std::thread> pool;
    active = threads;
    working = threads;
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
    if (InterruptRequested()) {
        // The files never started stay so in the report; the status is the
        // signal's, whatever became of the report.
        SaveReport(report, reportWarned);
        throw Failure("batch cancelled, no partial output left", nvt::Aborted);
    }
    report.Save();
    if (board.failed() > 0) {
        throw Failure(std::to_string(board.failed()) + " of " + std::to_string(inputs.size()) +
                          " files failed",
                      board.firstFailure());
    }
    return 0;
}

} // namespace norv
