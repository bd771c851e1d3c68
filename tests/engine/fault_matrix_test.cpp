// The fault matrix against the real engine, with signals from the test: the
// engine killed before its start-up signal and before its answer, stopped
// and resumed, the session released in every state, two sessions cancelling
// at once, during analyses and during transcodes. The frame checks that
// nothing is left behind (docs/fault-matrix.md holds the table).
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <thread>

#include "corpus.h"
#include "output/output_settings.h"
#include "platform/text.h"
#include "session/transcode_session.h"
#include "support/engine_session.h"
#include "support/fault_matrix.h"
#include "support/raw_pipe_peer.h"
#include "support/session_run.h"
#include "support/temp_dir.h"

namespace nvt {
namespace {

using norv_test::CallbackEvent;
using norv_test::FaultRow;
using norv_test::FaultRowContext;
using norv_test::RecordingCallback;
using MediaList = std::vector<nvtl::RefCountedPtr<ISourceMedia>>;

nvtl::RefCountedPtr<TranscodeSession> Session(const std::string& location) {
    return nvtl::RefCountedPtr<TranscodeSession>(new TranscodeSession(W(location.c_str())));
}

struct Analysis {
    Result result = NOT_SET;
    MediaList sources;
};

Analysis Analyse(const std::string& path, const std::string& location = norv_test::RealEngine()) {
    Analysis a;
    int32_t width = 0;
    int32_t height = 0;
    a.result =
        Session(location)->Analyze(W(path.c_str()), &width, &height, WideString(), a.sources);
    return a;
}

/// A list of count copies of a corpus clip: its analysis keeps the engine
/// busy for a while.
std::string ClipList(const norv_test::TempDir& dir, int count) {
    const std::string path = dir.file("clips.ffconcat");
    std::ofstream out(path);
    out << "ffconcat version 1.0\n";
    for (int i = 0; i < count; ++i) {
        out << "file '" << norv_test::CorpusFile("part1.mp4") << "'\n";
    }
    return path;
}

bool Connected(uint32_t pid) {
    return norv_test::ProgramConnected(pid, norv_test::RealEngine());
}

/// A transcode, started; a null session when it could not start.
struct Run {
    nvtl::RefCountedPtr<TranscodeSession> session;
    nvtl::RefCountedPtr<RecordingCallback> callback;
};

/// A clip made at test time, long enough to act on while it is transcoded.
const std::string& LongClip() {
    static norv_test::TempDir folder;
    static const std::string path = [] {
        const std::string clip = folder.file("clip.mp4");
        const std::string command =
            "ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i "
            "testsrc2=size=320x240:rate=25:duration=20 -f lavfi -i "
            "sine=frequency=440:sample_rate=48000:duration=20 -c:v libx264 -preset ultrafast "
            "-c:a aac -shortest " +
            clip;
        return std::system(command.c_str()) == 0 ? clip : std::string();
    }();
    return path;
}

Run StartTranscode(const norv_test::TempDir& dir, const std::string& input) {
    Run run;
    const Analysis a = Analyse(input);
    EXPECT_EQ(a.result, SUCCESS);
    if (a.sources.empty()) {
        return run;
    }
    run.session = Session(norv_test::RealEngine());
    nvtl::RefCountedPtr<ITranscodeOutputSettings> settings(new TranscodeOutputSettings(NP_HD720));
    EXPECT_EQ(run.session->AddSource(a.sources[0].get()), SUCCESS);
    EXPECT_EQ(run.session->SetOutputSettings(settings.get()), SUCCESS);
    run.callback = new RecordingCallback();
    EXPECT_EQ(run.session->Start(W(dir.file("out.mp4").c_str()), run.callback.get()), SUCCESS);
    return run;
}

// A running transcode of the long clip, at its first progress report.
Run RunningTranscode(const norv_test::TempDir& dir) {
    Run run = StartTranscode(dir, LongClip());
    if (run.session) {
        EXPECT_TRUE(run.callback->WaitFor(CallbackEvent::Progress));
    }
    return run;
}

std::vector<FaultRow> Rows() {
    return {
        {"KilledBeforeStartupSignal",
         "SIGKILL before the start-up signal (the engine's command kills itself first)",
         "Analyze returns ENG_ERR, no source",
         [](FaultRowContext&) {
             const std::string location =
                 "/bin/sh -c \"kill -KILL $$; exec " + norv_test::RealEngine() + " $0\"";
             const Analysis a = Analyse(norv_test::CorpusFile("h264_aac.mp4"), location);
             EXPECT_EQ(a.result, ENG_ERR);
             EXPECT_TRUE(a.sources.empty());
         }},
        {"KilledBeforeAnswer", "SIGKILL once the engine is connected, during a long analysis",
         "Analyze returns ENG_ERR, no source",
         [](FaultRowContext& context) {
             norv_test::TempDir dir;
             const std::string list = ClipList(dir, 3000);
             std::thread killer([&] {
                 const uint32_t pid = context.WaitForEngine();
                 norv_test::WaitUntil([&] { return Connected(pid); });
                 norv_test::SignalProcess(pid, norv_test::kSigKill);
             });
             const Analysis a = Analyse(list);
             killer.join();
             EXPECT_EQ(a.result, ENG_ERR);
             EXPECT_TRUE(a.sources.empty());
         }},
        {"StoppedAndResumedDuringAnalysis", "SIGSTOP during an analysis, SIGCONT later",
         "Analyze waits, then returns SUCCESS with one source per listed file",
         [](FaultRowContext& context) {
             norv_test::TempDir dir;
             const std::string list = ClipList(dir, 20);
             std::thread stopper([&] {
                 const uint32_t pid = context.WaitForEngine();
                 norv_test::WaitUntil([&] { return Connected(pid); });
                 norv_test::SignalProcess(pid, norv_test::kSigStop);
                 std::this_thread::sleep_for(std::chrono::milliseconds(500));
                 norv_test::SignalProcess(pid, norv_test::kSigCont);
             });
             const Analysis a = Analyse(list);
             stopper.join();
             EXPECT_EQ(a.result, SUCCESS);
             EXPECT_EQ(a.sources.size(), 20u);
         }},
        {"KilledMidProgress", "SIGKILL after the first progress report (transcode)",
         "OnError(ENG_ERR) once, state TS_Failed",
         [](FaultRowContext& context) {
             norv_test::TempDir dir;
             Run run = RunningTranscode(dir);
             ASSERT_TRUE(run.session);
             norv_test::SignalProcess(context.WaitForEngine(), norv_test::kSigKill);
             ASSERT_TRUE(norv_test::WaitForState(*run.session, TS_Failed));
             EXPECT_EQ(run.callback->CountOf(CallbackEvent::Error), 1u);
             EXPECT_EQ(run.callback->Events().back().code, ENG_ERR);
         }},
        {"StoppedAndResumedMidTranscode", "SIGSTOP after the first progress report, SIGCONT later",
         "the run waits, then ends: OnComplete, TS_Done",
         [](FaultRowContext& context) {
             norv_test::TempDir dir;
             Run run = RunningTranscode(dir);
             ASSERT_TRUE(run.session);
             const uint32_t pid = context.WaitForEngine();
             norv_test::SignalProcess(pid, norv_test::kSigStop);
             std::this_thread::sleep_for(std::chrono::milliseconds(500));
             EXPECT_EQ(norv_test::StateOf(*run.session), TS_Running);
             norv_test::SignalProcess(pid, norv_test::kSigCont);
             ASSERT_TRUE(norv_test::WaitForState(*run.session, TS_Done));
             EXPECT_EQ(run.callback->CountOf(CallbackEvent::Complete), 1u);
         }},
        {"ReleasedPending", "session released before any run", "no callback",
         [](FaultRowContext&) {
             auto session = Session(norv_test::RealEngine());
             session.reset();
         }},
        {"ReleasedAfterItsRun", "session released once its run ended", "OnComplete, nothing more",
         [](FaultRowContext&) {
             norv_test::TempDir dir;
             Run run = StartTranscode(dir, norv_test::CorpusFile("h264_aac.mp4"));
             ASSERT_TRUE(run.session);
             ASSERT_TRUE(norv_test::WaitForState(*run.session, TS_Done));
             run.session.reset();
             EXPECT_EQ(run.callback->Events().size() -
                           run.callback->CountOf(CallbackEvent::Progress),
                       1u);
             EXPECT_EQ(run.callback->CountOf(CallbackEvent::Complete), 1u);
         }},
        {"ReleasedRunning", "session released during a run", "OnCancel once",
         [](FaultRowContext&) {
             norv_test::TempDir dir;
             Run run = RunningTranscode(dir);
             ASSERT_TRUE(run.session);
             run.session.reset();
             EXPECT_EQ(run.callback->CountOf(CallbackEvent::Cancel), 1u);
             EXPECT_EQ(run.callback->CountOf(CallbackEvent::Error), 0u);
         }},
        {"TwoSessionsCancelAtOnce", "two running transcodes cancelled from two threads at once",
         "both Cancel calls return SUCCESS, each session OnCancel once",
         [](FaultRowContext& context) {
             norv_test::TempDir dir1;
             norv_test::TempDir dir2;
             Run first = RunningTranscode(dir1);
             ASSERT_TRUE(first.session);
             // The first engine waits, stopped, while the second starts, so
             // that both are still running when the cancels come.
             const uint32_t pid = context.WaitForEngine();
             norv_test::SignalProcess(pid, norv_test::kSigStop);
             Run second = RunningTranscode(dir2);
             norv_test::SignalProcess(pid, norv_test::kSigCont);
             ASSERT_TRUE(second.session);
             norv_test::ExpectBothCancelAtOnce(*first.session, *first.callback, *second.session,
                                               *second.callback);
         }},
    };
}

class RealEngineFaultMatrix : public ::testing::TestWithParam<FaultRow> {
protected:
    static void SetUpTestSuite() {
        norv_test::PrimeProcess([] { Analyse(norv_test::CorpusFile("h264_aac.mp4")); });
    }
};

TEST_P(RealEngineFaultMatrix, OutcomeAndNothingLeftBehind) {
    norv_test::RunFaultRow(GetParam());
}

INSTANTIATE_TEST_SUITE_P(Rows, RealEngineFaultMatrix, ::testing::ValuesIn(Rows()),
                         [](const auto& info) { return info.param.name; });

} // namespace
} // namespace nvt
