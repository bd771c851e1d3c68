// The fault matrix against the scripted engine: the engine killed at every
// phase, stopped and resumed, closing its pipes or never reading; the
// session released in every state; two sessions cancelling at once. Each
// row checks its outcome, and the frame checks that nothing is left behind
// (docs/fault-matrix.md holds the table).
#include <gtest/gtest.h>

#include <fstream>
#include <thread>

#include "output/output_settings.h"
#include "platform/text.h"
#include "session/transcode_session.h"
#include "support/engine_session.h"
#include "support/fault_matrix.h"
#include "support/recorded_requests.h"
#include "support/session_run.h"
#include "support/temp_dir.h"

namespace nvt {
namespace {

using norv_test::CallbackEvent;
using norv_test::FaultRow;
using norv_test::FaultRowContext;
using norv_test::RecordingCallback;
using norv_test::ScriptedEngine;
using MediaList = std::vector<nvtl::RefCountedPtr<ISourceMedia>>;

nvtl::RefCountedPtr<TranscodeSession> Session(std::initializer_list<std::string> options) {
    return nvtl::RefCountedPtr<TranscodeSession>(
        new TranscodeSession(W(ScriptedEngine(options).c_str())));
}

struct Analysis {
    Result result = NOT_SET;
    MediaList sources;
};

Analysis Analyse(std::initializer_list<std::string> options) {
    Analysis a;
    int32_t width = 0;
    int32_t height = 0;
    a.result =
        Session(options)->Analyze(W("/v/movie.mts"), &width, &height, WideString(), a.sources);
    return a;
}

/// A session for the engine options, ready to start: one analysed source
/// and output settings.
nvtl::RefCountedPtr<TranscodeSession> Prepared(std::initializer_list<std::string> options) {
    static const MediaList sources = Analyse({}).sources;
    auto session = Session(options);
    nvtl::RefCountedPtr<ITranscodeOutputSettings> settings(new TranscodeOutputSettings(NP_HD720));
    EXPECT_EQ(session->AddSource(sources.at(0).get()), SUCCESS);
    EXPECT_EQ(session->SetOutputSettings(settings.get()), SUCCESS);
    return session;
}

const WideString kOutput = W("/out/matrix.mkv");

// Starts a run and waits for its first progress report.
nvtl::RefCountedPtr<RecordingCallback> StartAndAwaitProgress(TranscodeSession& session) {
    nvtl::RefCountedPtr<RecordingCallback> callback(new RecordingCallback());
    EXPECT_EQ(session.Start(kOutput, callback.get()), SUCCESS);
    EXPECT_TRUE(callback->WaitFor(CallbackEvent::Progress));
    return callback;
}

void ExpectAnalysisFails(const Analysis& a) {
    EXPECT_EQ(a.result, ENG_ERR);
    EXPECT_TRUE(a.sources.empty());
}

// An exchange whose engine the row kills once test says so.
void KillWhen(FaultRowContext& context, const std::function<bool()>& test, uint32_t& pid) {
    ASSERT_TRUE(norv_test::WaitUntil(test));
    context.AddEngine(pid);
    norv_test::SignalProcess(pid, norv_test::kSigKill);
}

std::vector<FaultRow> Rows() {
    return {
        {"KilledBeforeStartupSignal", "SIGKILL before the start-up signal (analysis)",
         "Analyze returns ENG_ERR, no source",
         [](FaultRowContext& context) {
             norv_test::TempDir dir;
             const std::string pidFile = dir.file("pid");
             uint32_t pid = 0;
             std::thread killer([&] {
                 pid = norv_test::ReadPidFile(pidFile);
                 KillWhen(
                     context, [&] { return pid != 0; }, pid);
             });
             const Analysis a = Analyse({"--no-startup", "--pid-file=" + pidFile});
             killer.join();
             ExpectAnalysisFails(a);
         }},
        {"KilledBeforeAnswer", "SIGKILL after the request arrived, before the answer (analysis)",
         "Analyze returns ENG_ERR, no source",
         [](FaultRowContext& context) {
             norv_test::TempDir dir;
             const std::string pidFile = dir.file("pid");
             const std::string record = dir.file("record");
             uint32_t pid = 0;
             std::thread killer([&] {
                 pid = norv_test::ReadPidFile(pidFile);
                 KillWhen(
                     context, [&] { return !norv_test::ReadRecordedRequests(record).empty(); },
                     pid);
             });
             const Analysis a =
                 Analyse({"--reply=none", "--record=" + record, "--pid-file=" + pidFile});
             killer.join();
             ExpectAnalysisFails(a);
         }},
        {"KilledMidProgress", "SIGKILL after the first progress report (transcode)",
         "OnError(ENG_ERR) once, state TS_Failed",
         [](FaultRowContext& context) {
             norv_test::TempDir dir;
             const std::string pidFile = dir.file("pid");
             auto session = Prepared({"--progress=1", "--wait-cancel", "--pid-file=" + pidFile});
             auto callback = StartAndAwaitProgress(*session);
             uint32_t pid = norv_test::ReadPidFile(pidFile);
             KillWhen(
                 context, [] { return true; }, pid);
             ASSERT_TRUE(norv_test::WaitForState(*session, TS_Failed));
             EXPECT_EQ(callback->CountOf(CallbackEvent::Error), 1u);
             EXPECT_EQ(callback->Events().back().code, ENG_ERR);
         }},
        {"KilledMidFrameOfTheAnswer", "SIGKILL with half of the answer's frame written",
         "Analyze returns ENG_ERR, no source",
         [](FaultRowContext&) {
             ExpectAnalysisFails(Analyse({"--reply=die", "--die-mid-frame"}));
         }},
        {"KilledMidFrameOfAProgressReport",
         "SIGKILL with half of the second progress frame written",
         "one OnProgress, then OnError(ENG_ERR), state TS_Failed",
         [](FaultRowContext&) {
             auto session = Prepared({"--progress=3", "--die-after-progress=1", "--die-mid-frame"});
             nvtl::RefCountedPtr<RecordingCallback> callback(new RecordingCallback());
             ASSERT_EQ(session->Start(kOutput, callback.get()), SUCCESS);
             ASSERT_TRUE(norv_test::WaitForState(*session, TS_Failed));
             EXPECT_EQ(callback->CountOf(CallbackEvent::Progress), 1u);
             EXPECT_EQ(callback->CountOf(CallbackEvent::Error), 1u);
             EXPECT_EQ(callback->Events().back().code, ENG_ERR);
         }},
        {"StoppedAndResumed", "SIGSTOP after the first progress report, SIGCONT later",
         "the run waits (TS_Running, no result), then ends: OnComplete, TS_Done",
         [](FaultRowContext& context) {
             norv_test::TempDir dir;
             const std::string pidFile = dir.file("pid");
             auto session =
                 Prepared({"--progress=3", "--progress-interval=100", "--pid-file=" + pidFile});
             auto callback = StartAndAwaitProgress(*session);
             const uint32_t pid = norv_test::ReadPidFile(pidFile);
             context.AddEngine(pid);
             norv_test::SignalProcess(pid, norv_test::kSigStop);
             std::this_thread::sleep_for(std::chrono::milliseconds(500));
             EXPECT_EQ(norv_test::StateOf(*session), TS_Running);
             EXPECT_EQ(callback->CountOf(CallbackEvent::Complete), 0u);
             norv_test::SignalProcess(pid, norv_test::kSigCont);
             ASSERT_TRUE(norv_test::WaitForState(*session, TS_Done));
             EXPECT_EQ(callback->CountOf(CallbackEvent::Complete), 1u);
             EXPECT_EQ(callback->CountOf(CallbackEvent::Error), 0u);
         }},
        {"PipesClosedByTheEngine", "the engine closes both pipes unread while the library writes",
         "Analyze returns ENG_ERR, no source; the write fails without a signal",
         [](FaultRowContext&) { ExpectAnalysisFails(Analyse({"--close-pipes"})); }},
        {"EngineThatNeverReads", "the engine answers, then never reads (the close's flush)",
         "Analyze returns SUCCESS with one source, once the bounded flush gave up",
         [](FaultRowContext&) {
             // It ends by itself after --linger: the library leaves an engine that
             // outlives an analysis to end on its own.
             const Analysis a = Analyse({"--deaf=AnalyzeRequest", "--linger=8000"});
             EXPECT_EQ(a.result, SUCCESS);
             EXPECT_EQ(a.sources.size(), 1u);
         }},
        {"ReleasedPending", "session released before any run", "no callback",
         [](FaultRowContext&) {
             auto session = Prepared({});
             nvtl::RefCountedPtr<RecordingCallback> callback(new RecordingCallback());
             session.reset();
             EXPECT_TRUE(callback->Events().empty());
         }},
        {"ReleasedRunning", "session released during a run",
         "OnCancel once, nothing else after the progress",
         [](FaultRowContext&) {
             auto session = Prepared({"--progress=1", "--wait-cancel"});
             auto callback = StartAndAwaitProgress(*session);
             session.reset();
             EXPECT_EQ(callback->CountOf(CallbackEvent::Cancel), 1u);
             EXPECT_EQ(callback->CountOf(CallbackEvent::Error), 0u);
             EXPECT_EQ(callback->Events().back().kind, CallbackEvent::Cancel);
         }},
        {"ReleasedDone", "session released after a finished run (the engine stays on)",
         "OnComplete once; the lingering engine is ended",
         [](FaultRowContext&) {
             auto session = Prepared({"--progress=1", "--ignore-close"});
             nvtl::RefCountedPtr<RecordingCallback> callback(new RecordingCallback());
             ASSERT_EQ(session->Start(kOutput, callback.get()), SUCCESS);
             ASSERT_TRUE(norv_test::WaitForState(*session, TS_Done));
             session.reset();
             EXPECT_EQ(callback->CountOf(CallbackEvent::Complete), 1u);
             EXPECT_EQ(callback->CountOf(CallbackEvent::Cancel), 0u);
         }},
        {"ReleasedFailed", "session released after a failed run",
         "OnError(ENG_ERR) once, nothing else",
         [](FaultRowContext&) {
             auto session = Prepared({"--progress=1", "--result=2"});
             nvtl::RefCountedPtr<RecordingCallback> callback(new RecordingCallback());
             ASSERT_EQ(session->Start(kOutput, callback.get()), SUCCESS);
             ASSERT_TRUE(norv_test::WaitForState(*session, TS_Failed));
             session.reset();
             EXPECT_EQ(callback->CountOf(CallbackEvent::Error), 1u);
             EXPECT_EQ(callback->CountOf(CallbackEvent::Cancel), 0u);
         }},
        {"ReleasedAfterCancel", "session released after a cancelled run",
         "Cancel returns SUCCESS, OnCancel once",
         [](FaultRowContext&) {
             auto session = Prepared({"--progress=1", "--wait-cancel"});
             auto callback = StartAndAwaitProgress(*session);
             EXPECT_EQ(session->Cancel(), SUCCESS);
             EXPECT_EQ(norv_test::StateOf(*session), TS_Pending);
             session.reset();
             EXPECT_EQ(callback->CountOf(CallbackEvent::Cancel), 1u);
         }},
        {"TwoSessionsCancelAtOnce", "two running sessions cancelled from two threads at once",
         "both Cancel calls return SUCCESS, each session OnCancel once",
         [](FaultRowContext&) {
             auto first = Prepared({"--progress=1", "--wait-cancel"});
             auto second = Prepared({"--progress=1", "--wait-cancel"});
             auto firstCallback = StartAndAwaitProgress(*first);
             auto secondCallback = StartAndAwaitProgress(*second);
             norv_test::ExpectBothCancelAtOnce(*first, *firstCallback, *second, *secondCallback);
         }},
    };
}

class ScriptedEngineFaultMatrix : public ::testing::TestWithParam<FaultRow> {
protected:
    static void SetUpTestSuite() {
        norv_test::PrimeProcess([] { Analyse({}); });
    }
};

TEST_P(ScriptedEngineFaultMatrix, OutcomeAndNothingLeftBehind) {
    norv_test::RunFaultRow(GetParam());
}

INSTANTIATE_TEST_SUITE_P(Rows, ScriptedEngineFaultMatrix, ::testing::ValuesIn(Rows()),
                         [](const auto& info) { return info.param.name; });

} // namespace
} // namespace nvt
