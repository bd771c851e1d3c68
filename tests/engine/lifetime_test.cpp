// How real engines live: they end on their own when the library's side goes
// away in the middle of an analysis, and several run side by side.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>
#if !defined(_WIN32)
#include <signal.h>
#endif

#include "api/transcoder_logic.h"
#include "corpus.h"
#include "output/output_settings.h"
#include "platform/text.h"
#include "session/transcode_session.h"
#include "support/engine_session.h"
#include "support/forked_child.h"
#include "support/raw_pipe_peer.h"
#include "support/temp_dir.h"
#include "transcode_support.h"

namespace nvt {
namespace {

// The process id the engine writes on each log line ("... [1234] INFO ...")
// once it has logged text; 0 until then.
uint32_t EnginePidFromLog(const std::string& log, const std::string& text) {
    const std::string content = norv_test::ReadFile(log);
    const size_t at = content.find(text);
    if (at == std::string::npos) {
        return 0;
    }
    const size_t open = content.rfind('[', at);
    return open == std::string::npos ? 0
                                     : static_cast<uint32_t>(std::stoul(content.substr(open + 1)));
}

TEST(RealEngineLifetime, EndsWhenTheLibrarySideIsKilledMidAnalysis) {
    norv_test::TempDir dir;
    const std::string log = dir.file("engine.log");
    // Analysing a list of thousands of files keeps the engine busy a while.
    const std::string list = norv_test::CorpusFile("long.ffconcat");
    const int library = norv_test::StartChild([&] {
        CNorvTranscoderLogic logic;
        ITranscodeEngineInfo* info = nullptr; // asking for it stores the logger parameters
        logic.InitTranscodeEngine(W(norv_test::RealEngine().c_str()),
                                  SLoggerParam{true, NORV_INFO_MSG, log}, &info, WideString());
        std::vector<nvtl::RefCountedPtr<ISourceMedia>> sources;
        int32_t width = 0, height = 0;
        logic.CreateMediaSource(W(list.c_str()), &width, &height, WideString(), sources);
        return 0;
    });
    ASSERT_GT(library, 0);
    uint32_t engine = 0;
    ASSERT_TRUE(norv_test::WaitUntil(
        [&] { return (engine = EnginePidFromLog(log, "INFO analysing " + list)) != 0; }));
    ASSERT_TRUE(norv_test::ProcessRunning(engine));

    norv_test::KillProcess(static_cast<uint32_t>(library));
    EXPECT_TRUE(norv_test::WaitChild(library).killedBySignal);
    EXPECT_TRUE(norv_test::WaitUntil([&] { return !norv_test::ProcessRunning(engine); }));
    // The analysis was stopped half-way, or the engine ended without it;
    // on a machine that ran the library side late, the analysis may have
    // finished first, and its answer found no one to take it.
    const std::string text = norv_test::ReadFile(log);
    EXPECT_TRUE(text.find("analysis of " + list + " failed: Aborted") != std::string::npos ||
                text.find("ending without the running job") != std::string::npos ||
                text.find("could not send struct TBS::AnalyzeResponse") != std::string::npos)
        << text;
}

// An engine someone else started on a pipe name: it answers, ends by itself
// when the library closes its pipes, and ends well (in the sanitizer builds:
// without a report, which would change its exit status).
TEST(RealEngineLifetime, RunningEngineAnswersAndEndsCleanly) {
    const std::string name = norv_test::UniquePipeName();
    CNorvTranscoderLogic logic;
    ASSERT_EQ(logic.InitTranscodeEngine(W(name.c_str()), SLoggerParam(), nullptr, WideString()),
              SUCCESS);
    int engine = -1;
    std::thread starter([&] {
        if (norv_test::WaitForListeningPipes(name)) {
            engine = norv_test::StartProgram({norv_test::RealEngine(), name});
        }
    });
    std::vector<nvtl::RefCountedPtr<ISourceMedia>> sources;
    int32_t width = 0, height = 0;
    const Result result = logic.CreateMediaSource(W(norv_test::CorpusFile("h264_ac3.mkv").c_str()),
                                                  &width, &height, WideString(), sources);
    starter.join();
    EXPECT_EQ(result, SUCCESS);
    ASSERT_GT(engine, 0);
    ASSERT_TRUE(norv_test::WaitUntil(
        [&] { return !norv_test::ProcessRunning(static_cast<uint32_t>(engine)); }));
    const auto outcome = norv_test::WaitChild(engine);
    EXPECT_TRUE(outcome.exited);
    EXPECT_EQ(outcome.exitCode, 0);
}

// The library side killed in the middle of a transcode, or the engine itself
// told to end (as a scheduler ends every process of a job): the engine stops,
// removes what it had written and ends.
TEST(RealEngineLifetime, EndsAndCleansUpWhenTheLibrarySideIsKilledMidTranscode) {
    struct Case {
        const char* what;
        int engineSignal; // 0: the library side is killed
    };
    std::vector<Case> cases{{"library side killed", 0}};
#if !defined(_WIN32)
    cases.push_back({"engine sent SIGTERM", SIGTERM});
    cases.push_back({"engine sent SIGHUP", SIGHUP});
#endif
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        norv_test::TempDir dir;
        norv_test::TempDir logs;
        const std::string log = logs.file("engine.log");
        const std::string engine = norv_test::RealEngine();
        const int library = norv_test::StartChild([&] {
            CNorvTranscoderLogic logic;
            logic.InitTranscodeEngine(W(engine.c_str()), SLoggerParam(), nullptr, WideString());
            std::vector<nvtl::RefCountedPtr<ISourceMedia>> sources;
            int32_t width = 0, height = 0;
            logic.CreateMediaSource(W(norv_test::CorpusFile("long.mp4").c_str()), &width, &height,
                                    WideString(), sources);
            if (sources.empty()) {
                return 1;
            }
            nvtl::RefCountedPtr<TranscodeSession> session(new TranscodeSession(W(engine.c_str())));
            nvtl::RefCountedPtr<TranscodeOutputSettings> settings(
                new TranscodeOutputSettings(NP_HEVC720));
            settings->SetHevcQualityLevel(hevc_ql_best);
            session->AddSource(sources[0].get());
            session->SetOutputSettings(settings.get());
            session->SetLoggerParam(SLoggerParam{true, NORV_ALL_MSG, log});
            session->Start(W(dir.file("film.mkv").c_str()), nullptr);
            for (;;) {
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
        });
        ASSERT_GT(library, 0);
        uint32_t pid = 0;
        ASSERT_TRUE(norv_test::WaitUntil([&] {
            // Under way once the output is open.
            return (pid = EnginePidFromLog(log, "writing " + dir.path())) != 0;
        }));
#if !defined(_WIN32)
        if (c.engineSignal != 0) {
            ::kill(static_cast<pid_t>(pid), c.engineSignal);
            EXPECT_TRUE(norv_test::WaitUntil([&] { return !norv_test::ProcessRunning(pid); }));
            EXPECT_TRUE(norv_test::FolderEntries(dir.path()).empty());
        }
#endif
        norv_test::KillProcess(static_cast<uint32_t>(library));
        EXPECT_TRUE(norv_test::WaitChild(library).killedBySignal);
        EXPECT_TRUE(norv_test::WaitUntil([&] { return !norv_test::ProcessRunning(pid); }));
        EXPECT_TRUE(norv_test::FolderEntries(dir.path()).empty());
    }
}

TEST(RealEngineLifetime, SeveralEnginesRunSideBySide) {
    const char* const files[] = {"h264_ac3.mkv", "h264_aac.mp4", "mpeg2.ts", "audio.mp3"};
    const char* const containers[] = {"matroska", "mp4", "mpegts", "mp3"};
    Result results[4] = {};
    std::string names[4];
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i) {
        threads.emplace_back([&, i] {
            CNorvTranscoderLogic logic;
            logic.InitTranscodeEngine(W(norv_test::RealEngine().c_str()), SLoggerParam(), nullptr,
                                      WideString());
            std::vector<nvtl::RefCountedPtr<ISourceMedia>> sources;
            int32_t width = 0, height = 0;
            results[i] = logic.CreateMediaSource(W(norv_test::CorpusFile(files[i]).c_str()), &width,
                                                 &height, WideString(), sources);
            WideString name;
            if (!sources.empty()) {
                sources[0]->GetContainerFormatName(name);
            }
            names[i] = WideToUtf8(name);
        });
    }
    for (std::thread& t : threads) {
        t.join();
    }
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(results[i], SUCCESS) << files[i];
        EXPECT_EQ(names[i], containers[i]) << files[i];
    }
    // Ended engines are reaped as they end, not before their exchange
    // returns: wait for it rather than catch one between its end and its reaping.
    EXPECT_TRUE(norv_test::WaitUntil([] { return norv_test::CountZombieChildren() == 0; }));
}

} // namespace
} // namespace nvt
