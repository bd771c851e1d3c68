// Progress reports of whole runs against the scripted engine: the engine's
// records, chosen one by one, become callback calls per joined source.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "output/output_properties.h"
#include "output/output_settings.h"
#include "platform/text.h"
#include "support/engine_session.h"
#include "support/session_run.h"
#include "support/source_builder.h"

namespace nvt {
namespace {

using norv_test::CallbackEvent;
using norv_test::RecordingCallback;
using norv_test::ScriptedEngine;
using norv_test::SourceBuilder;

/// A part of a film; parts made here can all be joined.
nvtl::RefCountedPtr_STLSafe<ISourceMedia> Part(const std::string& path) {
    return SourceBuilder(path)
        .Video(VC_H264, 1280, 720, 25.0, 16.0 / 9.0, 4000000.0)
        .Audio(1, AC_AAC, "eng", 128)
        .File(0, path.c_str())
        .FileSize(1000000)
        .Get();
}

/// One expected callback call; source is an index into the run's sources.
struct Expected {
    CallbackEvent::Kind kind;
    size_t source;
    uint32_t countOfStages = 0;
    uint32_t stage = 0;
    int32_t stageKind = 0;
    double progress = 0.0;
};

Expected Progress(size_t source, uint32_t count, uint32_t stage, int32_t kind, double progress) {
    return Expected{CallbackEvent::Progress, source, count, stage, kind, progress};
}

Expected Complete(size_t source) {
    return Expected{CallbackEvent::Complete, source};
}

class ProgressRun : public ::testing::Test {
protected:
    SourceList sources;
    nvtl::RefCountedPtr<ITranscodeOutputSettings> settings{new TranscodeOutputSettings(NP_HD720)};
    nvtl::RefCountedPtr<ITranscodeEngineInfo> engineInfo{new TranscodeEngineInfo()};
    const WideString output = W("/out/progress.mkv");
    nvtl::RefCountedPtr<TranscodeSession> session;
    nvtl::RefCountedPtr<RecordingCallback> callback;

    void Join(size_t count) {
        for (size_t i = 0; i < count; ++i) {
            sources.push_back(Part("/media/part" + std::to_string(i + 1) + ".mts"));
        }
    }

    /// Runs the engine's progress script over the joined sources until the
    /// session reaches end; returns what the callback was told.
    std::vector<CallbackEvent> Run(const std::string& script, TranscodeState end = TS_Done) {
        session = norv_test::NewSession(ScriptedEngine({"--progress-script=" + script}));
        for (const auto& source : sources) {
            EXPECT_EQ(session->AddSource(source.get()), SUCCESS);
        }
        EXPECT_EQ(session->SetOutputSettings(settings.get()), SUCCESS);
        EXPECT_EQ(session->SetEngineInfo(engineInfo.get()), SUCCESS);
        callback = new RecordingCallback(session.get());
        EXPECT_EQ(session->Start(output, callback.get()), SUCCESS);
        // The final callback is made under the session's lock, so once the
        // state can be read as final, the callback has returned.
        EXPECT_TRUE(norv_test::WaitForState(*session, end));
        return callback->Events();
    }

    void ExpectEvents(const std::vector<CallbackEvent>& events,
                      const std::vector<Expected>& expected) {
        ASSERT_EQ(events.size(), expected.size());
        for (size_t i = 0; i < events.size(); ++i) {
            SCOPED_TRACE("callback " + std::to_string(i));
            const CallbackEvent& e = events[i];
            const Expected& x = expected[i];
            EXPECT_EQ(e.kind, x.kind);
            EXPECT_EQ(e.source, sources.at(x.source).get());
            if (x.kind == CallbackEvent::Progress) {
                EXPECT_EQ(e.countOfStages, x.countOfStages);
                EXPECT_EQ(e.stage, x.stage);
                EXPECT_EQ(e.stageKind, x.stageKind);
                EXPECT_DOUBLE_EQ(e.progress, x.progress);
                EXPECT_EQ(e.state, TS_Running);
            } else if (x.kind == CallbackEvent::Complete) {
                EXPECT_EQ(e.outputFile, output);
                // Only the run's final completion comes after the state changed.
                EXPECT_EQ(e.state, i + 1 == events.size() ? TS_Done : TS_Running);
            }
        }
    }
};

TEST_F(ProgressRun, OneSourceReportsEachRecordAndCompletesOnce) {
    Join(1);
    // Stage kinds pass through unchanged, those above 7 included.
    const auto events = Run("1:0,1:3,1:9");
    ExpectEvents(events, {Progress(0, 3, 1, 0, 100.0 / 3), Progress(0, 3, 2, 3, 200.0 / 3),
                          Progress(0, 3, 3, 9, 100.0), Complete(0)});
}

TEST_F(ProgressRun, MovingToTheSecondSourceClosesTheFirst) {
    Join(2);
    const auto events = Run("1,1:2,2:4,2:5");
    // The closing report of the first source carries the stage counts of the
    // record that moved on, with stage kind 7 and 100 %.
    ExpectEvents(events, {Progress(0, 4, 1, 0, 25.0), Progress(0, 4, 2, 2, 50.0),
                          Progress(0, 4, 3, 7, 100.0), Complete(0), Progress(1, 4, 3, 4, 75.0),
                          Progress(1, 4, 4, 5, 100.0), Complete(1)});
}

TEST_F(ProgressRun, FileNumberZeroReportsForTheSourceInWork) {
    Join(2);
    const auto events = Run("0:1,0:2,1:3,2:4,0:5");
    ExpectEvents(events, {Progress(0, 5, 1, 1, 20.0), Progress(0, 5, 2, 2, 40.0),
                          Progress(0, 5, 3, 3, 60.0), Progress(0, 5, 4, 7, 100.0), Complete(0),
                          Progress(1, 5, 4, 4, 80.0), Progress(1, 5, 5, 5, 100.0),
                          // The final report follows the last record's file
                          // number; 0 names no file, so the first source.
                          Complete(0)});
}

TEST_F(ProgressRun, RecordWithoutFileNameIsKeptForTheFinalReport) {
    Join(2);
    // The second record names no file: nothing is reported for it, not even
    // the move to the second source, but the final report follows its file
    // number and its remaining time is not taken.
    const auto events = Run("1:0:40,-2:0:5");
    ExpectEvents(events, {Progress(0, 2, 1, 0, 50.0), Complete(1)});

    // A finished session is busy: its properties hold the engine's last
    // remaining time.
    ITranscodeOutputProperties* properties = nullptr;
    ASSERT_EQ(session->GetOutputProperties(&properties), SUCCESS);
    int32_t seconds = 0;
    properties->GetEstimatedTime(&seconds);
    EXPECT_EQ(seconds, 40);
    properties->Release();
}

TEST_F(ProgressRun, JumpOverASourceClosesOnlyTheSourceLeft) {
    Join(3);
    const auto events = Run("1,3,3");
    ExpectEvents(events,
                 {Progress(0, 3, 1, 0, 100.0 / 3), Progress(0, 3, 2, 7, 100.0), Complete(0),
                  Progress(2, 3, 2, 0, 200.0 / 3), Progress(2, 3, 3, 0, 100.0), Complete(2)});
}

TEST_F(ProgressRun, UnreadableRecordFailsTheRun) {
    Join(2);
    const auto events = Run("1,bad,2", TS_Failed);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].kind, CallbackEvent::Progress);
    EXPECT_EQ(events[1].kind, CallbackEvent::Error);
    EXPECT_EQ(events[1].code, ENG_ERR);
    EXPECT_EQ(events[1].source, sources[0].get());
    // Nothing after the unreadable record is reported, and releasing the
    // session adds nothing: the callback was let go with the error.
    session.reset();
    EXPECT_EQ(callback->Events().size(), 2u);
}

/// A callback whose first progress call waits until the test lets it go.
class HoldingCallback final : public nvtl::RefCountedImpl<ITranscodeProgressCB> {
public:
    Result OnProgress(ISourceMedia*, uint32_t, uint32_t, int32_t, double) override {
        std::unique_lock<std::mutex> guard(lock_);
        if (progressCalls_++ == 0) {
            inside_ = true;
            changed_.notify_all();
            changed_.wait_for(guard, std::chrono::milliseconds(norv_test::kLongWaitMs),
                              [this] { return released_; });
        }
        return SUCCESS;
    }
    Result OnComplete(ISourceMedia*, const WideString&) override { return SUCCESS; }
    Result OnCancel() override { return SUCCESS; }
    Result OnError(ISourceMedia*, Result) override { return SUCCESS; }

    bool WaitInside() {
        std::unique_lock<std::mutex> guard(lock_);
        return changed_.wait_for(guard, std::chrono::milliseconds(norv_test::kLongWaitMs),
                                 [this] { return inside_; });
    }
    void LetGo() {
        std::lock_guard<std::mutex> guard(lock_);
        released_ = true;
        changed_.notify_all();
    }

private:
    std::mutex lock_;
    std::condition_variable changed_;
    int progressCalls_ = 0;
    bool inside_ = false;
    bool released_ = false;
};

TEST_F(ProgressRun, ProgressIsReportedWithTheSessionLocked) {
    Join(1);
    session = norv_test::NewSession(ScriptedEngine({"--progress-script=1,1"}));
    ASSERT_EQ(session->AddSource(sources[0].get()), SUCCESS);
    ASSERT_EQ(session->SetOutputSettings(settings.get()), SUCCESS);
    nvtl::RefCountedPtr<HoldingCallback> holding(new HoldingCallback());
    ASSERT_EQ(session->Start(output, holding.get()), SUCCESS);
    ASSERT_TRUE(holding->WaitInside());

    // Another thread asking for the state waits for the callback to return.
    std::atomic<bool> answered{false};
    std::thread reader([&] {
        norv_test::StateOf(*session);
        answered.store(true);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(answered.load());
    holding->LetGo();
    reader.join();
    EXPECT_TRUE(answered.load());
    EXPECT_TRUE(norv_test::WaitForState(*session, TS_Done));
}

} // namespace
} // namespace nvt
