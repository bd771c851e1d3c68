// Transcode runs against the scripted engine in real processes: the order of
// the callbacks, the states, engine failures, cancellation and release.
#include <gtest/gtest.h>

#include <atomic>
#include <exception>
#include <filesystem>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "messages/xml.h"
#include "output/output_settings.h"
#include "platform/process.h"
#include "platform/text.h"
#include "session/transcode_session.h"
#include "support/engine_session.h"
#include "support/raw_pipe_peer.h"
#include "support/recorded_requests.h"
#include "support/temp_dir.h"

namespace nvt {
namespace {

using norv_test::CallbackEvent;
using norv_test::RecordingCallback;
using norv_test::ScriptedEngine;
using MediaList = std::vector<nvtl::RefCountedPtr<ISourceMedia>>;

nvtl::RefCountedPtr<TranscodeSession> NewSession(const std::string& location) {
    return nvtl::RefCountedPtr<TranscodeSession>(new TranscodeSession(W(location.c_str())));
}

/// Analyses a file through a session of its own; options shape the answer.
MediaList Analyse(std::initializer_list<std::string> options, const char* path = "/v/movie.mts") {
    auto session = NewSession(ScriptedEngine(options));
    MediaList sources;
    int32_t width = 0;
    int32_t height = 0;
    EXPECT_EQ(session->Analyze(W(path), &width, &height, WideString(), sources), SUCCESS);
    return sources;
}

/// The records of one kind the engine received, parsed.
template <class Record>
std::vector<Record> Received(const std::string& recordFile, const std::string& name) {
    std::vector<Record> out;
    for (const auto& r : norv_test::ReadRecordedRequests(recordFile)) {
        if (r.record == name) {
            Record record;
            EXPECT_TRUE(TBS::FromXml(r.payload, record));
            out.push_back(record);
        }
    }
    return out;
}

TranscodeState StateOf(ITranscodeSession& session) {
    TranscodeState state = TS_Pending;
    EXPECT_EQ(session.GetState(&state), SUCCESS);
    return state;
}

bool StateBecomes(ITranscodeSession& session, TranscodeState wanted) {
    return norv_test::WaitUntil([&] { return StateOf(session) == wanted; });
}

class TranscodeRunTest : public ::testing::Test {
protected:
    norv_test::TempDir dir;
    nvtl::RefCountedPtr<ITranscodeOutputSettings> settings{new TranscodeOutputSettings(NP_HD720)};
    const WideString output = W("/out/joined.mkv");

    /// A session for the engine options with the sources and the settings.
    nvtl::RefCountedPtr<TranscodeSession> Prepared(std::initializer_list<std::string> options,
                                                   const MediaList& sources) {
        auto session = NewSession(ScriptedEngine(options));
        for (const auto& s : sources) {
            EXPECT_EQ(session->AddSource(s.get()), SUCCESS);
        }
        EXPECT_EQ(session->SetOutputSettings(settings.get()), SUCCESS);
        return session;
    }
};

TEST_F(TranscodeRunTest, ThreeJoinedSourcesReportEachSourceInOrder) {
    const MediaList sources = Analyse({"--analysis-files=3"});
    ASSERT_EQ(sources.size(), 3u);
    const std::string record = dir.file("requests");
    auto session = Prepared({"--progress=6", "--files=3", "--record=" + record}, sources);
    nvtl::RefCountedPtr<RecordingCallback> callback(new RecordingCallback(session.get()));

    ASSERT_EQ(session->Start(output, callback.get()), SUCCESS);
    ASSERT_TRUE(callback->WaitForCount(11));
    ASSERT_TRUE(StateBecomes(*session, TS_Done));

    struct Expected {
        CallbackEvent::Kind kind;
        size_t source;
        int32_t stageKind;
    };
    const Expected expected[] = {
        {CallbackEvent::Progress, 0, 0}, {CallbackEvent::Progress, 0, 0},
        {CallbackEvent::Progress, 0, 7}, {CallbackEvent::Complete, 0, 0},
        {CallbackEvent::Progress, 1, 0}, {CallbackEvent::Progress, 1, 0},
        {CallbackEvent::Progress, 1, 7}, {CallbackEvent::Complete, 1, 0},
        {CallbackEvent::Progress, 2, 0}, {CallbackEvent::Progress, 2, 0},
        {CallbackEvent::Complete, 2, 0},
    };
    const auto events = callback->Events();
    ASSERT_EQ(events.size(), std::size(expected));
    for (size_t i = 0; i < events.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(events[i].kind, expected[i].kind);
        EXPECT_EQ(events[i].source, sources[expected[i].source].get());
        if (expected[i].kind == CallbackEvent::Progress) {
            EXPECT_EQ(events[i].stageKind, expected[i].stageKind);
        } else {
            EXPECT_EQ(events[i].outputFile, output);
        }
        // Every report but the final one comes while the run is in progress.
        EXPECT_EQ(events[i].state, i + 1 < events.size() ? TS_Running : TS_Done);
    }
    EXPECT_DOUBLE_EQ(events[2].progress, 100.0);
    EXPECT_DOUBLE_EQ(events[9].progress, 100.0);

    // The engine received one transcode request naming the three files.
    const auto requests = Received<TBS::TranscodeRequest>(record, "TranscodeRequest");
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].outputFile, "/out/joined.mkv");
    ASSERT_EQ(requests[0].inputFiles.size(), 3u);
    EXPECT_EQ(requests[0].inputFiles[2], "/v/movie.mts.part3");

    // A finished run is final: setters and Start are refused.
    EXPECT_EQ(session->Start(output, callback.get()), NotAvailable);
    EXPECT_EQ(session->AddSource(sources[0].get()), NotAvailable);
    session.reset();
    EXPECT_EQ(callback->CountOf(CallbackEvent::Cancel), 0u); // the callback was let go
}

TEST_F(TranscodeRunTest, EngineFailureIsReportedForTheSourceInWork) {
    const MediaList sources = Analyse({"--analysis-files=3"});
    ASSERT_EQ(sources.size(), 3u);
    auto session = Prepared({"--progress=3", "--files=3", "--result=140"}, sources);
    nvtl::RefCountedPtr<RecordingCallback> callback(new RecordingCallback());
    ASSERT_EQ(session->Start(output, callback.get()), SUCCESS);
    ASSERT_TRUE(callback->WaitFor(CallbackEvent::Error));
    ASSERT_TRUE(StateBecomes(*session, TS_Failed));
    const auto events = callback->Events();
    EXPECT_EQ(events.back().kind, CallbackEvent::Error);
    EXPECT_EQ(events.back().code, ENG_WRITING_ERROR);
    EXPECT_EQ(events.back().source, sources[2].get());
    EXPECT_EQ(callback->CountOf(CallbackEvent::Error), 1u);
}

TEST_F(TranscodeRunTest, EngineErrorOrExitInsteadOfAResultFailsTheRun) {
    const MediaList sources = Analyse({});
    for (const char* reply : {"--reply=error", "--reply=exit"}) {
        SCOPED_TRACE(reply);
        auto session = Prepared({reply, "--reply-to=TranscodeRequest"}, sources);
        nvtl::RefCountedPtr<RecordingCallback> callback(new RecordingCallback());
        ASSERT_EQ(session->Start(output, callback.get()), SUCCESS);
        ASSERT_TRUE(callback->WaitFor(CallbackEvent::Error));
        ASSERT_TRUE(StateBecomes(*session, TS_Failed));
        const auto events = callback->Events();
        ASSERT_EQ(events.size(), 1u);
        EXPECT_EQ(events[0].code, ENG_ERR);
        EXPECT_EQ(events[0].source, sources[0].get());
    }
}

TEST_F(TranscodeRunTest, EngineDyingMidRunFailsTheRunWithoutHanging) {
    const MediaList sources = Analyse({});
    const std::string pidFile = dir.file("pid");
    auto session =
        Prepared({"--progress=3", "--die-after-progress=1", "--pid-file=" + pidFile}, sources);
    nvtl::RefCountedPtr<RecordingCallback> callback(new RecordingCallback());
    ASSERT_EQ(session->Start(output, callback.get()), SUCCESS);
    ASSERT_TRUE(callback->WaitFor(CallbackEvent::Error));
    ASSERT_TRUE(StateBecomes(*session, TS_Failed));
    const auto events = callback->Events();
    EXPECT_EQ(events.back().code, ENG_ERR);
    EXPECT_EQ(events.back().source, sources[0].get());
    EXPECT_EQ(callback->CountOf(CallbackEvent::Error), 1u);

    const uint32_t pid = norv_test::ReadPidFile(pidFile);
    ASSERT_NE(pid, 0u);
    EXPECT_TRUE(norv_test::WaitUntil([&] { return !norv_test::ProcessExists(pid); }));
    // Cancel can still bring the session back to TS_Pending.
    EXPECT_EQ(session->Cancel(), ENG_ERR); // the cancel request cannot be written any more
    EXPECT_EQ(StateOf(*session), TS_Pending);
    EXPECT_EQ(callback->CountOf(CallbackEvent::Cancel), 0u);
}

TEST_F(TranscodeRunTest, CancelSendsOneRequestAndReportsOnlyTheCancel) {
    const MediaList sources = Analyse({});
    const std::string record = dir.file("requests");
    const std::string pidFile = dir.file("pid");
    auto session = Prepared(
        {"--progress=2", "--wait-cancel", "--record=" + record, "--pid-file=" + pidFile}, sources);
    nvtl::RefCountedPtr<RecordingCallback> callback(new RecordingCallback(session.get()));
    ASSERT_EQ(session->Start(output, callback.get()), SUCCESS);
    ASSERT_TRUE(callback->WaitForCount(2)); // the engine now waits for the cancel

    // While the run is in progress the session refuses changes.
    EXPECT_EQ(StateOf(*session), TS_Running);
    EXPECT_EQ(session->AddSource(sources[0].get()), NotAvailable);
    EXPECT_EQ(session->SetOutputSettings(settings.get()), NotAvailable);
    EXPECT_EQ(session->Start(output, callback.get()), NotAvailable);
    MediaList more;
    EXPECT_EQ(session->Analyze(W("/v/x.mp4"), nullptr, nullptr, WideString(), more), NotAvailable);

    EXPECT_EQ(session->Cancel(), SUCCESS);
    // By now the engine has received the cancel and the run has ended.
    auto cancels = Received<TBS::CancelTranscodingRequest>(record, "CancelTranscodingRequest");
    ASSERT_EQ(cancels.size(), 1u);
    EXPECT_EQ(cancels[0].err, 0u);
    EXPECT_EQ(StateOf(*session), TS_Pending);
    const auto events = callback->Events();
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[2].kind, CallbackEvent::Cancel);
    EXPECT_EQ(callback->CountOf(CallbackEvent::Complete), 0u);
    EXPECT_EQ(callback->CountOf(CallbackEvent::Error), 0u);

    const uint32_t pid = norv_test::ReadPidFile(pidFile);
    session.reset();
    EXPECT_TRUE(norv_test::WaitUntil([&] { return !norv_test::ProcessExists(pid); }));
    cancels = Received<TBS::CancelTranscodingRequest>(record, "CancelTranscodingRequest");
    EXPECT_EQ(cancels.size(), 1u);
    EXPECT_EQ(callback->CountOf(CallbackEvent::Cancel), 1u);
}

TEST_F(TranscodeRunTest, CancelAnsweredByExitReportsOnlyTheCancel) {
    const MediaList sources = Analyse({});
    const std::string record = dir.file("requests");
    auto session =
        Prepared({"--progress=1", "--wait-cancel", "--cancel=exit", "--record=" + record}, sources);
    nvtl::RefCountedPtr<RecordingCallback> callback(new RecordingCallback());
    ASSERT_EQ(session->Start(output, callback.get()), SUCCESS);
    ASSERT_TRUE(callback->WaitFor(CallbackEvent::Progress));

    // The engine ends the run with "exit" instead of a result: for a
    // cancelled run that is no failure.
    EXPECT_EQ(session->Cancel(), SUCCESS);
    EXPECT_EQ(StateOf(*session), TS_Pending);
    const auto events = callback->Events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[1].kind, CallbackEvent::Cancel);
    EXPECT_EQ(Received<TBS::CancelTranscodingRequest>(record, "CancelTranscodingRequest").size(),
              1u);
    session.reset();
    EXPECT_EQ(callback->Events().size(), 2u);
}

TEST_F(TranscodeRunTest, SessionRunsAgainAfterCancel) {
    const MediaList sources = Analyse({});
    // Each run reaches an engine that the test starts under the session's
    // pipe name: the first one waits for the cancel, the second finishes.
    const std::string name = norv_test::UniquePipeName();
    auto session = NewSession(name);
    ASSERT_EQ(session->AddSource(sources[0].get()), SUCCESS);
    ASSERT_EQ(session->SetOutputSettings(settings.get()), SUCCESS);
    const auto startWithEngine = [&](ITranscodeProgressCB* callback,
                                     std::initializer_list<std::string> options,
                                     NorvOS::CChildProcess& engine) {
        Result started = NOT_SET;
        std::thread start([&] { started = session->Start(output, callback); });
        const bool listening = norv_test::WaitForListeningPipes(name);
        std::vector<std::string> arguments(options);
        arguments.push_back(name);
        std::string command = ScriptedEngine();
        for (const std::string& argument : arguments) {
            command += " " + argument;
        }
        const bool launched = listening && engine.Start(command, [](uint32_t) {});
        if (!launched) {
            // Start keeps trying to reach an engine for ever: end the test
            // program rather than hang.
            ADD_FAILURE() << "no engine for " << name;
            std::terminate();
        }
        start.join();
        return started;
    };

    NorvOS::CChildProcess firstEngine;
    nvtl::RefCountedPtr<RecordingCallback> first(new RecordingCallback());
    ASSERT_EQ(startWithEngine(first.get(), {"--progress=1", "--wait-cancel"}, firstEngine),
              SUCCESS);
    ASSERT_TRUE(first->WaitFor(CallbackEvent::Progress));
    EXPECT_EQ(session->Cancel(), SUCCESS);
    EXPECT_EQ(first->Events().back().kind, CallbackEvent::Cancel);
    EXPECT_EQ(StateOf(*session), TS_Pending);

    // The second run starts clean: the first run's end and its channel's
    // closing notice do not end it.
    NorvOS::CChildProcess secondEngine;
    nvtl::RefCountedPtr<RecordingCallback> second(new RecordingCallback());
    ASSERT_EQ(startWithEngine(second.get(), {"--progress=4"}, secondEngine), SUCCESS);
    ASSERT_TRUE(second->WaitFor(CallbackEvent::Complete));
    ASSERT_TRUE(StateBecomes(*session, TS_Done));
    EXPECT_EQ(second->CountOf(CallbackEvent::Progress), 4u);
    EXPECT_EQ(second->CountOf(CallbackEvent::Error), 0u);
    EXPECT_EQ(second->Events().back().source, sources[0].get());
    EXPECT_EQ(first->Events().size(), 2u); // the first run heard nothing more

    // Both engines end once their pipes have closed.
    EXPECT_TRUE(firstEngine.WaitForExit(norv_test::kLongWaitMs));
    EXPECT_TRUE(secondEngine.WaitForExit(norv_test::kLongWaitMs));
}

TEST_F(TranscodeRunTest, CancelWithoutConnectionEndsALingeringEngine) {
    const MediaList sources = Analyse({});
    const std::string pidFile = dir.file("pid");
    auto session = Prepared({"--ignore-close", "--pid-file=" + pidFile}, sources);
    nvtl::RefCountedPtr<RecordingCallback> callback(new RecordingCallback());
    ASSERT_EQ(session->Start(output, callback.get()), SUCCESS);
    ASSERT_TRUE(callback->WaitFor(CallbackEvent::Complete));
    ASSERT_TRUE(StateBecomes(*session, TS_Done));
    const uint32_t pid = norv_test::ReadPidFile(pidFile);
    ASSERT_TRUE(norv_test::ProcessRunning(pid)); // it stays on after its pipes closed

    EXPECT_EQ(session->Cancel(), NotAvailable); // the channel went with the final response
    EXPECT_TRUE(norv_test::WaitUntil([&] { return !norv_test::ProcessExists(pid); }));
    EXPECT_EQ(StateOf(*session), TS_Pending);
    EXPECT_EQ(callback->CountOf(CallbackEvent::Cancel), 0u);
}

TEST_F(TranscodeRunTest, ReleasingARunningSessionCancelsIt) {
    const MediaList sources = Analyse({});
    const std::string record = dir.file("requests");
    const std::string pidFile = dir.file("pid");
    auto session = Prepared(
        {"--progress=1", "--wait-cancel", "--record=" + record, "--pid-file=" + pidFile}, sources);
    nvtl::RefCountedPtr<RecordingCallback> callback(new RecordingCallback());
    ASSERT_EQ(session->Start(output, callback.get()), SUCCESS);
    ASSERT_TRUE(callback->WaitFor(CallbackEvent::Progress));
    const uint32_t pid = norv_test::ReadPidFile(pidFile);
    ASSERT_NE(pid, 0u);

    session.reset(); // the last reference
    EXPECT_EQ(callback->Events().back().kind, CallbackEvent::Cancel);
    EXPECT_EQ(callback->CountOf(CallbackEvent::Error), 0u);
    EXPECT_EQ(Received<TBS::CancelTranscodingRequest>(record, "CancelTranscodingRequest").size(),
              1u);
    // The engine ends and is reaped: no process, no zombie.
    EXPECT_TRUE(norv_test::WaitUntil([&] { return !norv_test::ProcessExists(pid); }));
}

TEST_F(TranscodeRunTest, EngineThatCannotStartFailsStartOnce) {
    const MediaList sources = Analyse({});
    auto session = NewSession("/nonexistent/folder/engine");
    ASSERT_EQ(session->AddSource(sources[0].get()), SUCCESS);
    ASSERT_EQ(session->SetOutputSettings(settings.get()), SUCCESS);
    nvtl::RefCountedPtr<RecordingCallback> callback(new RecordingCallback());
    EXPECT_EQ(session->Start(output, callback.get()), ENG_ERR);
    auto events = callback->Events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].kind, CallbackEvent::Error);
    EXPECT_EQ(events[0].code, ENG_ERR);
    EXPECT_EQ(events[0].source, sources[0].get());
    EXPECT_EQ(StateOf(*session), TS_Pending);
    EXPECT_EQ(session->Start(output, nullptr), ENG_ERR); // no callback: nothing reported
    session.reset();
    EXPECT_EQ(callback->Events().size(), 1u); // no OnCancel for a run that never started
}

/// A callback that throws from every call.
class ThrowingCallback final : public nvtl::RefCountedImpl<ITranscodeProgressCB> {
public:
    Result OnProgress(ISourceMedia*, uint32_t, uint32_t, int32_t, double) override {
        return Throw();
    }
    Result OnComplete(ISourceMedia*, const WideString&) override { return Throw(); }
    Result OnCancel() override { return Throw(); }
    Result OnError(ISourceMedia*, Result) override { return Throw(); }
    int Calls() const { return calls_.load(); }

private:
    Result Throw() {
        ++calls_;
        throw std::runtime_error("callback failed");
    }
    std::atomic<int> calls_{0};
};

TEST_F(TranscodeRunTest, WhatTheCallbackThrowsStaysWithTheSession) {
    const MediaList sources = Analyse({});
    nvtl::RefCountedPtr<ThrowingCallback> callback(new ThrowingCallback());

    // A start that fails reports to the callback and still answers.
    auto unreachable = NewSession("/nonexistent/folder/engine");
    ASSERT_EQ(unreachable->AddSource(sources[0].get()), SUCCESS);
    ASSERT_EQ(unreachable->SetOutputSettings(settings.get()), SUCCESS);
    EXPECT_EQ(unreachable->Start(output, callback.get()), ENG_ERR);
    EXPECT_EQ(callback->Calls(), 1);

    // A progress report that throws ends the run as failed, as any reply
    // that cannot be handled does; the failure is reported (and throws
    // again) without taking the process down.
    auto session = Prepared({"--progress=1", "--wait-cancel"}, sources);
    ASSERT_EQ(session->Start(output, callback.get()), SUCCESS);
    ASSERT_TRUE(StateBecomes(*session, TS_Failed));
    EXPECT_EQ(callback->Calls(), 3); // OnProgress, then OnError

    // A cancel keeps its outcome, whatever the callback does.
    nvtl::RefCountedPtr<ThrowingCallback> quiet(new ThrowingCallback());
    session = Prepared({"--progress=0", "--wait-cancel"}, sources);
    ASSERT_EQ(session->Start(output, quiet.get()), SUCCESS);
    EXPECT_EQ(session->Cancel(), SUCCESS); // OnCancel throws
    EXPECT_EQ(quiet->Calls(), 1);
    EXPECT_EQ(StateOf(*session), TS_Pending);
}

TEST_F(TranscodeRunTest, RunWithoutCallbackStillEnds) {
    const MediaList sources = Analyse({});
    auto session = Prepared({"--progress=2"}, sources);
    ASSERT_EQ(session->Start(output, nullptr), SUCCESS);
    EXPECT_TRUE(StateBecomes(*session, TS_Done));
}

#if defined(_WIN32)
size_t OpenDescriptors() {
    return static_cast<size_t>(norv_test::CountOpenDescriptors());
}
#else
size_t OpenDescriptors() {
    size_t count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        (void)entry;
        ++count;
    }
    return count;
}
#endif

TEST(SessionResources, ExchangesLeaveNoDescriptorsBehind) {
    const size_t before = OpenDescriptors();
    {
        const MediaList sources = Analyse({"--analysis-files=2"});
        ASSERT_EQ(sources.size(), 2u);
        auto session = NewSession(ScriptedEngine({"--progress=2", "--files=2"}));
        nvtl::RefCountedPtr<ITranscodeOutputSettings> settings(
            new TranscodeOutputSettings(NP_HD1080));
        ASSERT_EQ(session->AddSource(sources[0].get()), SUCCESS);
        ASSERT_EQ(session->AddSource(sources[1].get()), SUCCESS);
        ASSERT_EQ(session->SetOutputSettings(settings.get()), SUCCESS);
        nvtl::RefCountedPtr<RecordingCallback> callback(new RecordingCallback());
        ASSERT_EQ(session->Start(W("/out/x.mkv"), callback.get()), SUCCESS);
        ASSERT_TRUE(callback->WaitFor(CallbackEvent::Complete));
        ASSERT_TRUE(StateBecomes(*session, TS_Done));
        EXPECT_EQ(session->Cancel(), NotAvailable);
        EXPECT_EQ(session->Cancel(), NotAvailable); // harmless when repeated
    }
    EXPECT_TRUE(norv_test::WaitUntil([&] { return OpenDescriptors() <= before; }))
        << OpenDescriptors() << " open, " << before << " before";
}

#if defined(_WIN32)
// The priority class of a running process, as Windows reports it.
uint32_t PriorityOf(uint32_t pid) {
    return norv_test::PriorityClassOf(pid);
}

uint32_t ExpectedPriority(uint32_t priorityClass) {
    return priorityClass;
}
#else
/// The nice value of a running process: field 19 of /proc/<pid>/stat.
int PriorityOf(uint32_t pid) {
    const std::string stat = norv_test::ReadFile("/proc/" + std::to_string(pid) + "/stat");
    const auto close = stat.rfind(')');
    if (close == std::string::npos) {
        ADD_FAILURE() << "no process " << pid;
        return 0;
    }
    std::istringstream fields(stat.substr(close + 2));
    std::string field;
    for (int i = 3; i <= 19; ++i) {
        fields >> field;
    }
    return std::stoi(field);
}

int ExpectedPriority(uint32_t priorityClass) {
    int nice = 0;
    EXPECT_TRUE(NorvOS::PriorityClassToNice(priorityClass, nice));
    return nice;
}

#endif

TEST(SessionPriority, AnalysisRunsTheEngineAtTheSessionsPriority) {
    norv_test::TempDir dir;
    const std::string pidFile = dir.file("pid");
    auto session = NewSession(ScriptedEngine({"--pid-file=" + pidFile}));
    ASSERT_EQ(session->SetPriority(TP_Low), SUCCESS);
    MediaList sources;
    ASSERT_EQ(session->Analyze(W("/v/a.mp4"), nullptr, nullptr, WideString(), sources), SUCCESS);
    // The engine stays on while the session holds its pipes.
    const uint32_t pid = norv_test::ReadPidFile(pidFile);
    ASSERT_NE(pid, 0u);
    EXPECT_EQ(PriorityOf(pid), ExpectedPriority(NorvOS::kBelowNormalPriorityClass));
    session.reset();
    EXPECT_TRUE(norv_test::WaitUntil([&] { return !norv_test::ProcessExists(pid); }));
}

TEST(SessionPriority, TranscodeRunsTheEngineAtTheMappedPriority) {
    const MediaList sources = Analyse({});
    nvtl::RefCountedPtr<ITranscodeOutputSettings> settings(new TranscodeOutputSettings(NP_HD720));
    struct Case {
        TranscodePriority priority;
        uint32_t priorityClass;
    };
    // The four known priorities map to their own level; any other value
    // runs the engine at normal priority.
    const Case cases[] = {
        {TP_Idle, NorvOS::kIdlePriorityClass},
        {static_cast<TranscodePriority>(7), NorvOS::kNormalPriorityClass},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.priority));
        norv_test::TempDir dir;
        const std::string pidFile = dir.file("pid");
        auto session =
            NewSession(ScriptedEngine({"--progress=1", "--wait-cancel", "--pid-file=" + pidFile}));
        ASSERT_EQ(session->AddSource(sources[0].get()), SUCCESS);
        ASSERT_EQ(session->SetOutputSettings(settings.get()), SUCCESS);
        ASSERT_EQ(session->SetPriority(c.priority), SUCCESS);
        nvtl::RefCountedPtr<RecordingCallback> callback(new RecordingCallback());
        ASSERT_EQ(session->Start(W("/out/x.mkv"), callback.get()), SUCCESS);
        ASSERT_TRUE(callback->WaitFor(CallbackEvent::Progress)); // the engine now waits
        const uint32_t pid = norv_test::ReadPidFile(pidFile);
        ASSERT_NE(pid, 0u);
        EXPECT_EQ(PriorityOf(pid), ExpectedPriority(c.priorityClass));
        EXPECT_EQ(session->Cancel(), SUCCESS);
        session.reset();
        EXPECT_TRUE(norv_test::WaitUntil([&] { return !norv_test::ProcessExists(pid); }));
    }
}

} // namespace
} // namespace nvt
