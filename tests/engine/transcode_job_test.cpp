// The transcode job run in-process on a channel that keeps what the engine
// sends: every progress record is complete, the progress only grows, the
// remaining time counts down smoothly to 0, and one response ends the job.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <vector>

#include "analysis.h"
#include "api/ref_counted_impl.h"
#include "corpus.h"
#include "ipc/norv_ipc.h"
#include "messages/xml.h"
#include "norv/enum_names.h"
#include "opened_files.h"
#include "output_file.h"
#include "progress_meter.h"
#include "support/forked_child.h"
#include "support/temp_dir.h"
#include "transcode_job.h"
#include "transcode_support.h"

namespace norv_engine {
namespace {

// Keeps the frames the engine sends.
class RecordingChannel : public nvtl::RefCountedImpl<nvds::INorvIPC> {
public:
    bool Subscribe(const nvt::WideString&, const nvtl::RefCountedPtr<nvds::INorvIPCCallback>&,
                   bool) override {
        return true;
    }
    bool Subscribe(const std::string&, const nvtl::RefCountedPtr<nvds::INorvIPCCallback>&,
                   bool) override {
        return true;
    }
    bool Send(const nvt::WideString&, const nvt::WideString&, uint32_t, const void*,
              uint32_t*) override {
        return false;
    }
    bool Send(const std::string&, const std::string& topic, uint32_t length, const void* payload,
              uint32_t* sent) override {
        frames.emplace_back(topic, std::string(static_cast<const char*>(payload), length));
        if (sent != nullptr) {
            *sent = 1;
        }
        return true;
    }
    std::vector<std::pair<std::string, std::string>> frames;
};

TBS::TranscodeRequest TwoPassRequest(const std::string& input, const std::string& output) {
    TBS::TranscodeRequest request;
    request.CustomPresetData = nvt::CustomPresetData(nvt::NP_Mobile);
    request.CustomPresetData.enableVideo2passEncoding = true;
    request.inputFiles = {input};
    request.outputFile = output;
    request.audioTracks = {0};
    request.needTranscode = true;
    return request;
}

TEST(TranscodeJob, ProgressRecordsAreCompleteAndTheRemainingTimeCountsDownSmoothly) {
    norv_test::TempDir dir;
    nvtl::RefCountedPtr<RecordingChannel> channel(new RecordingChannel());
    Replier reply(channel.get());
    std::atomic<bool> closing{false};
    StopToken stop(closing);
    const std::string input = norv_test::CorpusFile("long.mp4");
    const TBS::TranscodeResponse response =
        RunTranscode(TwoPassRequest(input, dir.file("out.avi")), stop, reply);
    EXPECT_EQ(response.resultID, 0u) << response.resultDescription;
    EXPECT_FALSE(response.resultDescription.empty());

    std::vector<TBS::ProgressResponse> records;
    for (const auto& frame : channel->frames) {
        ASSERT_EQ(frame.first, "TRANS->CONVstruct TBS::ProgressResponse");
        TBS::ProgressResponse p;
        ASSERT_TRUE(TBS::FromXml(frame.second, p));
        records.push_back(p);
    }
    // About four a second: how many depends on the machine's speed; the
    // first and the closing record always come.
    ASSERT_GE(records.size(), 2u);
    const TBS::ProgressResponse* previous = nullptr;
    int turns = 0;     // times the remaining time changed direction
    int direction = 0; // of its last change of more than a second
    for (const TBS::ProgressResponse& p : records) {
        EXPECT_EQ(p.sFilename, input);
        EXPECT_EQ(p.fileNum, 1u);
        EXPECT_EQ(p.fileCount, 1u);
        EXPECT_EQ(p.countOfStages, 2u);
        EXPECT_EQ(p.passCount, 2u);
        EXPECT_EQ(p.stage, p.passStepNum);
        EXPECT_FALSE(p.details.empty());
        // The analysis pass, then the encoding pass (the first record may
        // come before either, the last closes the job).
        EXPECT_EQ(p.stageID, p.stage == 1 ? (p.progress == 0.0 ? p.stageID : 1) : p.stageID);
        if (previous != nullptr) {
            EXPECT_GE(p.progress, previous->progress);
            EXPECT_GE(p.stage, previous->stage);
            EXPECT_GE(p.timeElapsed, previous->timeElapsed);
            const int change =
                static_cast<int>(p.timeRemaining) - static_cast<int>(previous->timeRemaining);
            if (std::abs(change) > 1) {
                const int now = change > 0 ? 1 : -1;
                turns += direction != 0 && now != direction ? 1 : 0;
                direction = now;
            }
        }
        previous = &p;
    }
    EXPECT_LE(turns, 1);
    const TBS::ProgressResponse& last = records.back();
    EXPECT_EQ(last.progress, 100.0);
    EXPECT_EQ(last.timeRemaining, 0u);
    EXPECT_EQ(last.stageID, 4);
    EXPECT_EQ(last.stage, 2u);
    EXPECT_GT(last.currentVideoFrame, 400u); // 20 s at 25 frames per second
    bool rated = false;
    for (const TBS::ProgressResponse& p : records) {
        rated = rated || (p.videoRenderingRate > 0 && p.currentAudioSample > 0);
    }
    EXPECT_TRUE(rated);
}

TEST(TranscodeJob, SmoothedRemainingTime) {
    // Before anything is measured, the measurement is taken as it is.
    EXPECT_DOUBLE_EQ(ProgressMeter::SmoothRemaining(-1.0, 0.0, 0.5, 10.0), 10.0);
    // A measurement far off moves the estimate a little, not all the way.
    const double moved = ProgressMeter::SmoothRemaining(20.0, 0.25, 0.5, 10.0);
    EXPECT_LT(moved, 19.75);
    EXPECT_GT(moved, 17.0);
    // Never negative; 0 at the end.
    EXPECT_EQ(ProgressMeter::SmoothRemaining(-1.0, 0.0, 0.0, -5.0), 0.0);
    EXPECT_EQ(ProgressMeter::SmoothRemaining(50.0, 0.25, 1.0, 10.0), 0.0);
}

TEST(TranscodeJob, RemainingTimeCountsThePassesStillToCome) {
    struct Case {
        const char* what;
        StageWork work;
        double remaining;
    };
    // clang-format off
    const Case cases[] = {
        {"one pass at half way, 20 s for the pass", {{1.0}, 0, 0.5, 0.05, 0.0, 99.0}, 10.0},
        // Pass one (30 % of the work) takes 25 s: 15 s of it are left, and
        // pass two, 7/3 as much work, follows.
        {"40 % of pass one", {{0.3, 0.7}, 0, 0.4, 0.04, 0.0, 99.0}, 15.0 + 25.0 * 0.7 / 0.3},
        {"pass two at its rate only", {{0.3, 0.7}, 1, 0.5, 0.1, 30.0, 99.0}, 5.0},
        {"a pass just begun: as long per share as the one before",
         {{0.5, 0.5}, 1, 0.0, 0.0, 40.0, 99.0}, 20.0},
        {"a re-encode of the last pass after a size check, a quarter done",
         {{0.3, 0.7}, 1, 0.25, 0.0, 34.0, 99.0}, 0.75 * 0.7 * 34.0},
        {"nothing measured: the guess", {{0.3, 0.7}, 0, 0.0, 0.0, 0.0, 42.0}, 42.0},
    };
    // clang-format on
    for (const Case& c : cases) {
        EXPECT_NEAR(ProgressMeter::MeasuredRemaining(c.work), c.remaining, 1e-9) << c.what;
    }
}

std::vector<TBS::ProgressResponse> Records(const RecordingChannel& channel) {
    std::vector<TBS::ProgressResponse> records;
    for (const auto& frame : channel.frames) {
        TBS::ProgressResponse p;
        if (frame.first == "TRANS->CONVstruct TBS::ProgressResponse" &&
            TBS::FromXml(frame.second, p)) {
            records.push_back(p);
        }
    }
    return records;
}

// What the protocol notes promise of every job's records: one or two
// stages, the stage in work among them, a progress that never decreases
// and says 100 only at the end (when the job ends well).
void ExpectWithinTheNotes(const std::vector<TBS::ProgressResponse>& records, bool finished) {
    ASSERT_FALSE(records.empty());
    double previous = 0.0;
    for (size_t i = 0; i < records.size(); ++i) {
        const TBS::ProgressResponse& p = records[i];
        EXPECT_GE(p.countOfStages, 1u) << "record " << i;
        EXPECT_LE(p.countOfStages, 2u) << "record " << i;
        EXPECT_GE(p.stage, 1u) << "record " << i;
        EXPECT_LE(p.stage, p.countOfStages) << "record " << i;
        EXPECT_GE(p.progress, previous) << "record " << i;
        EXPECT_EQ(p.progress == 100.0, finished && i + 1 == records.size()) << "record " << i;
        previous = p.progress;
    }
}

// Work the plan did not foresee (the last pass again for a size limit, a
// copy above its limit encoded after all) goes on from where the bar
// stands, under the stage numbers the notes allow, and still moves it; a
// new plan's remaining time is its own estimate, not one measured from the
// copy.
TEST(TranscodeJob, WorkAfterASizeCheckMovesTheBarWithinTheNotes) {
    struct Row {
        const char* what;
        std::function<void(ProgressMeter&, const ProgressCounters&)> script;
        std::function<void(const std::vector<TBS::ProgressResponse>&)> check;
    };
    const Row rows[] = {
        {"the last of two passes again",
         [](ProgressMeter& meter, const ProgressCounters& counters) {
             meter.Plan({0.3, 0.7});
             meter.HoldBack(0.1);
             meter.BeginStage(0, kStageAnalysisPass);
             meter.Update(1.0, counters, true);
             meter.BeginStage(1, kStageEncoding);
             meter.Update(1.0, counters, true);
             meter.RetryLastStage();
             meter.BeginStage(1, kStageEncoding);
             meter.Update(0.5, counters, true);
             meter.Update(1.0, counters, true);
             meter.Finish(counters);
         },
         [](const std::vector<TBS::ProgressResponse>& records) {
             ASSERT_EQ(records.size(), 5u);
             EXPECT_NEAR(records[1].progress, 0.9 * 99.9, 1e-9);
             EXPECT_EQ(records[2].stage, 2u);
             EXPECT_GT(records[3].progress, records[1].progress + 4.0);
         }},
        {"a copy above its limit, then two passes",
         [](ProgressMeter& meter, const ProgressCounters& counters) {
             meter.Plan({1.0});
             meter.HoldBack(0.5);
             meter.BeginStage(0, kStageCopying);
             meter.Update(1.0, counters, true);
             meter.Plan({0.42, 0.58});
             meter.SetPrior(8.0);
             meter.HoldBack(0.1);
             meter.BeginStage(0, kStageAnalysisPass);
             meter.Update(0.0, counters, true);
             meter.Update(1.0, counters, true);
             meter.BeginStage(1, kStageEncoding);
             meter.Update(0.5, counters, true);
             meter.Finish(counters);
         },
         [](const std::vector<TBS::ProgressResponse>& records) {
             ASSERT_EQ(records.size(), 5u);
             EXPECT_NEAR(records[0].progress, 0.5 * 99.9, 1e-9);
             EXPECT_EQ(records[1].timeRemaining, 8u);
             EXPECT_EQ(records[1].countOfStages, 2u);
             EXPECT_EQ(records[1].stage, 1u);
             EXPECT_GT(records[3].progress, records[0].progress + 20.0);
         }},
        {"no estimate and nothing measured",
         [](ProgressMeter& meter, const ProgressCounters& counters) {
             meter.Plan({1.0});
             meter.SetPrior(0.0);
             meter.BeginStage(0, kStageEncoding);
             meter.Update(0.2, counters, true);
             meter.Finish(counters);
         },
         [](const std::vector<TBS::ProgressResponse>& records) {
             ASSERT_EQ(records.size(), 2u);
             EXPECT_NE(records[0].details.find("remaining time unknown"), std::string::npos);
             EXPECT_EQ(records[1].details.find("unknown"), std::string::npos);
         }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        nvtl::RefCountedPtr<RecordingChannel> channel(new RecordingChannel());
        Replier reply(channel.get());
        ProgressMeter meter(reply, 1, 0.0);
        ProgressCounters counters;
        counters.file = "in.mp4";
        row.script(meter, counters);
        const std::vector<TBS::ProgressResponse> records = Records(*channel);
        ExpectWithinTheNotes(records, true);
        row.check(records);
    }
}

// Jobs whose work changes on the way, and one whose playing time is
// unknown, run in-process: a copy above its size limit is encoded instead
// and the bar moves through the encode; FFmpeg's MPEG-4 encoder, which
// cannot make noise small, fails at once instead of writing the same
// second pass three times; a raw stream's progress follows the bytes read.
TEST(TranscodeJob, ProgressOfChangingAndUnmeasuredWorkKeepsToTheNotes) {
    struct Row {
        const char* what;
        const char* source;
        nvt::NorvProfile profile;
        uint64_t limit; // with the size as the priority; 0: none
        bool passthrough;
        nvt::Result result;
        std::function<void(const std::vector<TBS::ProgressResponse>&)> check;
    };
    const auto highest = [](const std::vector<TBS::ProgressResponse>& records, int stageId) {
        double most = -1.0;
        for (const TBS::ProgressResponse& p : records) {
            most = p.stageID == stageId ? std::max(most, p.progress) : most;
        }
        return most;
    };
    const Row rows[] = {
        {"a copy above its size limit", "understated.mkv", nvt::NP_NorvPlusHD, 60000, true,
         nvt::SUCCESS,
         [&](const std::vector<TBS::ProgressResponse>& records) {
             const double copied = highest(records, kStageCopying);
             EXPECT_GT(copied, 0.0);
             EXPECT_GT(highest(records, kStageEncoding), copied + 10.0);
         }},
        {"MPEG-4 noise under a limit it cannot reach", "noisy.mp4", nvt::NP_Mobile, 15000, false,
         nvt::ENG_OUTOFRANGE_ERR,
         [&](const std::vector<TBS::ProgressResponse>& records) {
             EXPECT_GT(highest(records, kStageAnalysisPass), 0.0);
             EXPECT_LT(highest(records, kStageEncoding), 0.0); // no second pass
         }},
        {"a raw H.264 stream", "raw.h264", nvt::NP_NorvPlusHD, 0, false, nvt::SUCCESS,
         [&](const std::vector<TBS::ProgressResponse>& records) {
             bool between = false;
             bool unknown = false;
             for (const TBS::ProgressResponse& p : records) {
                 between = between || (p.progress > 0.0 && p.progress < 100.0);
                 unknown = unknown || p.details.find("remaining time unknown") != std::string::npos;
             }
             EXPECT_TRUE(between);
             EXPECT_TRUE(unknown);
         }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        norv_test::TempDir dir;
        nvtl::RefCountedPtr<RecordingChannel> channel(new RecordingChannel());
        Replier reply(channel.get());
        std::atomic<bool> closing{false};
        StopToken stop(closing);
        TBS::TranscodeRequest request;
        request.CustomPresetData = nvt::CustomPresetData(row.profile);
        request.CustomPresetData.videoPassthrough = row.passthrough;
        if (row.limit != 0) {
            request.CustomPresetData.fileSizeLimit = row.limit;
            request.CustomPresetData.prio = nvt::prioFilesize;
        }
        request.inputFiles = {norv_test::CorpusFile(row.source)};
        request.outputFile = dir.file("out");
        request.needTranscode = true;
        const TBS::TranscodeResponse response = RunTranscode(request, stop, reply);
        EXPECT_EQ(response.resultID, static_cast<unsigned>(row.result))
            << response.resultDescription;
        const std::vector<TBS::ProgressResponse> records = Records(*channel);
        ExpectWithinTheNotes(records, row.result == nvt::SUCCESS);
        row.check(records);
    }
}

// Every input is opened once per job: the analysis the plan is made from,
// the stream plan and both passes read the same opened file, rewound
// between passes (by bytes for a recording whose timestamps jump back).
TEST(TranscodeJob, EachInputIsOpenedOncePerJob) {
    struct Case {
        const char* what;
        std::vector<std::string> inputs;
        std::vector<std::string> extras;
        unsigned long long opens;
    };
    const Case cases[] = {
        {"one file, two passes", {"long.mp4"}, {}, 1},
        {"joined files and an audio file", {"part1.mp4", "part2.mp4"}, {"audio.mp3"}, 3},
        {"a recording whose timestamps jump back", {"ts_back.ts"}, {}, 1},
    };
    for (const Case& c : cases) {
        norv_test::TempDir dir;
        nvtl::RefCountedPtr<RecordingChannel> channel(new RecordingChannel());
        Replier reply(channel.get());
        std::atomic<bool> closing{false};
        StopToken stop(closing);
        TBS::TranscodeRequest request = TwoPassRequest("", dir.file("out.avi"));
        request.inputFiles.clear();
        for (const std::string& name : c.inputs) {
            request.inputFiles.push_back(norv_test::CorpusFile(name));
        }
        for (const std::string& name : c.extras) {
            request.extraFiles.push_back(norv_test::CorpusFile(name));
        }
        const unsigned long long before = OpenedFiles::OpensInProcess();
        const TBS::TranscodeResponse response = RunTranscode(request, stop, reply);
        EXPECT_EQ(response.resultID, 0u) << c.what << ": " << response.resultDescription;
        EXPECT_EQ(OpenedFiles::OpensInProcess() - before, c.opens) << c.what;
    }
}

// The highest descriptor the process has open.
int HighestDescriptor() {
    int highest = 2;
    for (const std::string& entry : norv_test::FolderEntries("/proc/self/fd")) {
        highest = std::max(highest, std::atoi(entry.substr(entry.rfind('/') + 1).c_str()));
    }
    return highest;
}

// Only a few inputs are open at a time, whatever the length of the list:
// the analysis of a long list and a transcode of a list run with a few
// descriptors to spare. With none to spare, an input cannot be opened for
// that reason, not for being of an unknown type (the probe is asked alone:
// a sanitizer's own checks need descriptors too).
TEST(OpenedFiles, AFewInputsAreOpenAtATimeAndAShortageIsTold) {
    enum class Work { Analysis, Transcode, Probe };
    struct Case {
        const char* what;
        int files; // listed, each under a name of its own
        Work work;
        int spare; // descriptors above those open; 0: none free at all
        nvt::Result result;
    };
    const Case cases[] = {
        {"the analysis of 60 files with 20 descriptors to spare", 60, Work::Analysis, 20,
         nvt::SUCCESS},
        {"a transcode of 20 files with 12 descriptors to spare", 20, Work::Transcode, 12,
         nvt::SUCCESS},
        {"a file opened with no descriptor free", 1, Work::Probe, 0, nvt::ENG_ERR},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        norv_test::TempDir dir;
        std::ofstream list(dir.file("list.ffconcat"));
        list << "ffconcat version 1.0\n";
        for (int i = 0; i < c.files; ++i) {
            const std::string name = "part" + std::to_string(i) + ".mp4";
            std::filesystem::create_hard_link(norv_test::CorpusFile("part1.mp4"), dir.file(name));
            list << "file " << name << "\n";
        }
        list.close();
        const std::string input = c.files == 1 ? dir.file("part0.mp4") : dir.file("list.ffconcat");
        const norv_test::ChildOutcome outcome = norv_test::RunInChild([&] {
            const int highest = HighestDescriptor();
            const rlimit limit{static_cast<rlim_t>(highest + 1 + c.spare),
                               static_cast<rlim_t>(highest + 1 + c.spare)};
            if (setrlimit(RLIMIT_NOFILE, &limit) != 0) {
                return 100;
            }
            // Fills the free numbers below the limit's spare ones.
            int fd = 0;
            while ((fd = open("/dev/null", O_RDONLY)) >= 0 && fd <= highest) {
            }
            if (fd > highest) {
                close(fd);
            }
            std::atomic<bool> closing{false};
            StopToken stop(closing);
            nvt::Result result = nvt::NOT_SET;
            if (c.work == Work::Probe) {
                result = ProbeFile(input, stop).err;
            } else if (c.work == Work::Transcode) {
                nvtl::RefCountedPtr<RecordingChannel> channel(new RecordingChannel());
                Replier reply(channel.get());
                TBS::TranscodeRequest request = TwoPassRequest(input, dir.file("out.avi"));
                request.CustomPresetData.enableVideo2passEncoding = false;
                result = static_cast<nvt::Result>(
                    static_cast<int32_t>(RunTranscode(request, stop, reply).resultID));
            } else {
                TBS::AnalyzeRequest request;
                request.inputFile = input;
                result = static_cast<nvt::Result>(static_cast<int32_t>(Analyze(request, stop).err));
            }
            return static_cast<int>(result);
        });
        ASSERT_TRUE(outcome.exited);
        EXPECT_EQ(outcome.exitCode, static_cast<int>(c.result))
            << nvt::EnumName<nvt::Result>(outcome.exitCode);
    }
}

// An engine that ends before its job removes the job's unfinished files
// itself (the temporary output and the encoders' statistics) and keeps an
// output that was finished.
TEST(OutputFile, UnfinishedFilesGoWhenTheEngineEndsBeforeItsJob) {
    norv_test::TempDir dir;
    const norv_test::ChildOutcome outcome = norv_test::RunInChild([&] {
        OutputFile done;
        if (!done.Prepare(dir.file("done.mkv"), "", false).ok()) {
            return 1;
        }
        std::ofstream(done.WorkPath()) << "whole";
        if (!done.Commit().ok()) {
            return 2;
        }
        OutputFile running;
        if (!running.Prepare(dir.file("film.mkv"), "", false).ok()) {
            return 3;
        }
        std::ofstream(running.WorkPath()) << "partial";
        const std::string stats = running.ScratchPath("pass");
        std::ofstream(stats) << "stats";
        std::ofstream(stats + ".mbtree") << "tree";
        OutputFile::RemoveUnfinishedBeforeExit();
        std::_Exit(0);
    });
    EXPECT_TRUE(outcome.exited && outcome.exitCode == 0) << outcome.exitCode;
    EXPECT_EQ(norv_test::FolderEntries(dir.path()), std::vector<std::string>{dir.file("done.mkv")});
}

} // namespace
} // namespace norv_engine
