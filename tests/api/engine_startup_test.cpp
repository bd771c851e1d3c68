// Engine start-up end to end: InitTranscodeEngine launches the scripted
// engine (or reaches one started later), asks for its technical information
// and hands out the filled information object.
#include <gtest/gtest.h>

#include <thread>

#include "api/engine_info.h"
#include "api/transcoder_logic.h"
#include "messages/xml.h"
#include "platform/process.h"
#include "platform/text.h"
#include "support/engine_session.h"
#include "support/recorded_requests.h"
#include "support/temp_dir.h"

namespace nvt {
namespace {

using norv_test::ScriptedEngine;

/// Holds what InitTranscodeEngine handed out.
nvtl::RefCountedPtr<ITranscodeEngineInfo> Adopt(ITranscodeEngineInfo* raw) {
    nvtl::RefCountedPtr<ITranscodeEngineInfo> held(raw);
    if (raw != nullptr) {
        raw->Release();
    }
    return held;
}

class EngineStartup : public ::testing::Test {
protected:
    CNorvTranscoderLogic logic; // a fresh engine object per test
    norv_test::TempDir dir;
};

TEST_F(EngineStartup, HandsOutTheEnginesInformation) {
    const std::string record = dir.file("requests");
    SLoggerParam logger;
    logger.enableLogs = true;
    logger.logLevel = NORV_DEBUG_MSG;
    logger.logPath = "/var/log/engine.log";
    ITranscodeEngineInfo* raw = nullptr;
    const Result result = logic.InitTranscodeEngine(
        W(ScriptedEngine({"--version=7.1.2.3", "--supported-profiles=5", "--record=" + record})
              .c_str()),
        logger, &raw, W("/tmp/d\xC3\xA9tails.txt"));
    auto info = Adopt(raw);
    ASSERT_EQ(result, SUCCESS);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->GetRefCount(), 1);

    std::string version;
    info->GetVersion(version);
    EXPECT_EQ(version, "7.1.2.3");
    std::vector<bool> profiles;
    info->GetSupportedProfiles(profiles);
    ASSERT_EQ(profiles.size(), 12u);
    EXPECT_TRUE(profiles[4]);
    EXPECT_FALSE(profiles[5]);
    std::vector<AudioCodec> codecs;
    info->GetSupportedOutputCodecs(NP_NorvPlusHD, codecs);
    EXPECT_EQ(codecs, (std::vector<AudioCodec>{AC_AAC, AC_AC3}));
    EXPECT_EQ(info->GetLocalSystemCodePages().at("UTF-8"), 65001u);

    // The request never asks the engine to log, and names the caller's file.
    std::vector<TBS::TechnicalInfoRequest> requests;
    for (const auto& r : norv_test::ReadRecordedRequests(record)) {
        if (r.record == "TechnicalInfoRequest") {
            requests.emplace_back();
            ASSERT_TRUE(TBS::FromXml(r.payload, requests.back()));
        }
    }
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_FALSE(requests[0].loggerParam.enableLogs);
    EXPECT_EQ(requests[0].loggerParam.logLevel, 0);
    EXPECT_EQ(requests[0].loggerParam.logPath, "");
    EXPECT_EQ(requests[0].technicalDetailsFile, "/tmp/d\xC3\xA9tails.txt");

    // The temporary session said goodbye with one cancel request (err 0)
    // before its pipes closed.
    std::vector<TBS::CancelTranscodingRequest> cancels;
    EXPECT_TRUE(norv_test::WaitUntil([&] {
        cancels.clear();
        for (const auto& r : norv_test::ReadRecordedRequests(record)) {
            if (r.record == "CancelTranscodingRequest") {
                cancels.emplace_back();
                EXPECT_TRUE(TBS::FromXml(r.payload, cancels.back()));
            }
        }
        return !cancels.empty();
    }));
    ASSERT_EQ(cancels.size(), 1u);
    EXPECT_EQ(cancels[0].err, 0u);
}

TEST_F(EngineStartup, EngineDyingBeforeItAnswersLeavesTheInformationEmpty) {
    ITranscodeEngineInfo* raw = nullptr;
    const Result result = logic.InitTranscodeEngine(W(ScriptedEngine({"--reply=die"}).c_str()),
                                                    SLoggerParam(), &raw, WideString());
    auto info = Adopt(raw);
    EXPECT_EQ(result, SUCCESS);
    ASSERT_TRUE(info);
    std::string version = "x";
    info->GetVersion(version);
    EXPECT_EQ(version, "");
}

TEST_F(EngineStartup, ErrorOrExitInsteadOfAnAnswerLeavesTheInformationEmpty) {
    for (const char* reply : {"--reply=error", "--reply=exit"}) {
        ITranscodeEngineInfo* raw = nullptr;
        EXPECT_EQ(logic.InitTranscodeEngine(W(ScriptedEngine({reply}).c_str()), SLoggerParam(),
                                            &raw, WideString()),
                  SUCCESS)
            << reply;
        auto info = Adopt(raw);
        ASSERT_TRUE(info);
        std::vector<bool> profiles{true};
        info->GetSupportedProfiles(profiles);
        EXPECT_TRUE(profiles.empty()) << reply;
    }
}

TEST_F(EngineStartup, EngineThatCannotBeLaunchedStillGivesAnInformationObject) {
    ITranscodeEngineInfo* raw = nullptr;
    EXPECT_EQ(logic.InitTranscodeEngine(W("/nonexistent/folder/NorvEngine"), SLoggerParam(), &raw,
                                        WideString()),
              ENG_ERR);
    auto info = Adopt(raw);
    ASSERT_TRUE(info);
    std::string version = "x";
    info->GetVersion(version);
    EXPECT_EQ(version, "");
    // The location is stored all the same.
    ITranscodeSession* session = nullptr;
    EXPECT_EQ(logic.CreateTranscodeSession(&session), SUCCESS);
    session->Release();
}

TEST_F(EngineStartup, RunningEngineFormRetriesUntilTheEngineArrives) {
    const std::string name = norv_test::UniquePipeName();
    Result result = NOT_SET;
    ITranscodeEngineInfo* raw = nullptr;
    std::thread init([&] {
        result = logic.InitTranscodeEngine(W(name.c_str()), SLoggerParam(), &raw, WideString());
    });

    // The engine comes later, started by someone else, under the same name,
    // once the session listens (meanwhile the session keeps trying to send).
    ASSERT_TRUE(norv_test::WaitForListeningPipes(name));
    NorvOS::CChildProcess engine;
    ASSERT_TRUE(engine.Start(ScriptedEngine({"--version=9.9", name}), [](uint32_t) {}));
    init.join();
    auto info = Adopt(raw);
    EXPECT_EQ(result, SUCCESS);
    ASSERT_TRUE(info);
    std::string version;
    info->GetVersion(version);
    EXPECT_EQ(version, "9.9");
    // With its pipes closed, the engine ends by itself.
    EXPECT_TRUE(engine.WaitForExit(norv_test::kLongWaitMs));
}

TEST(EngineStartupEntryPoints, ApplicationAnalysesAndTranscodesThroughTheEntryPoints) {
    // Only the public entry points and interfaces, as an application uses them.
    ITranscodeEngineInfo* info = nullptr;
    ASSERT_EQ(InitTranscodeEngine(W(ScriptedEngine({"--files=1"}).c_str()), SLoggerParam(), &info,
                                  WideString()),
              SUCCESS);
    ASSERT_NE(info, nullptr);

    std::vector<nvtl::RefCountedPtr<ISourceMedia>> sources;
    ASSERT_EQ(CreateMediaSource(W("/videos/holiday.mp4"), sources), SUCCESS);
    ASSERT_EQ(sources.size(), 1u);

    ITranscodeOutputSettings* settings = nullptr;
    ASSERT_EQ(CreateDefaultTranscodeOutputSettings(NP_HD720, &settings), SUCCESS);
    ITranscodeSession* session = nullptr;
    ASSERT_EQ(CreateTranscodeSession(&session), SUCCESS);
    ASSERT_EQ(session->AddSource(sources[0].get()), SUCCESS);
    ASSERT_EQ(session->SetOutputSettings(settings), SUCCESS);
    ASSERT_EQ(session->SetEngineInfo(info), SUCCESS);
    nvtl::RefCountedPtr<norv_test::RecordingCallback> callback(new norv_test::RecordingCallback());
    ASSERT_EQ(session->Start(W("/videos/holiday.mkv"), callback.get()), SUCCESS);
    ASSERT_TRUE(callback->WaitFor(norv_test::CallbackEvent::Complete));
    const auto events = callback->Events();
    EXPECT_EQ(events.back().source, sources[0].get());
    EXPECT_EQ(events.back().outputFile, W("/videos/holiday.mkv"));

    EXPECT_EQ(session->Release(), 0);
    settings->Release();
    info->Release();
}

} // namespace
} // namespace nvt
