// Whole exchanges with the scripted engine: launched through the launcher
// over a fresh base name, or started by the test on a ":" name.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "ipc/launcher.h"
#include "ipc/norv_ipc.h"
#include "ipc/pipe_launcher.h"
#include "ipc_test_util.h"
#include "messages/xml.h"
#include "platform/last_error.h"
#include "support/raw_pipe_peer.h"
#include "support/recorded_requests.h"
#include "support/temp_dir.h"

using ipc_test::Collector;

namespace {

const std::string kRequest = "CONV->TRANSstruct TBS::";

class EngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (ipc_test::EnginePath().empty()) {
            GTEST_SKIP() << "the scripted engine is not built";
        }
        collector_ = new Collector;
    }

    void TearDown() override {
        channel_.reset();
        if (launcher_) {
            launcher_->Terminate();
        }
    }

    // Launches the engine with these options and subscribes the collector.
    void Connect(const std::string& options) {
        ASSERT_TRUE(nvds::CreatePipeLauncher(ipc_test::EnginePath() + " " + options, &launcher_));
        ASSERT_TRUE(
            nvds::CreatePipeIPC(nvds::MakePipeBaseName(), true, launcher_.get(), &channel_));
        ASSERT_TRUE(channel_->Subscribe(std::string("TRANS->CONV"), collector_.get(), false));
    }

    template <class Record> void SendRecord(const std::string& name, const Record& record) {
        std::string xml;
        ASSERT_TRUE(TBS::ToXml(record, xml));
        uint32_t sent = 0;
        ASSERT_TRUE(channel_->Send(std::string("TranscodeSession"), kRequest + name,
                                   static_cast<uint32_t>(xml.size()), xml.data(), &sent));
        EXPECT_EQ(sent, 1u);
    }

    uint32_t EnginePid() {
        return dynamic_cast<nvds::CPipeLauncher*>(launcher_.get())->ProcessId();
    }

    nvtl::RefCountedPtr<nvds::IPipeLauncher> launcher_;
    nvtl::RefCountedPtr<nvds::INorvIPC> channel_;
    nvtl::RefCountedPtr<Collector> collector_;
};

TEST_F(EngineTest, AnswersTechnicalInformationAndRecordsTheRequest) {
    norv_test::TempDir dir;
    const std::string record = dir.file("requests.txt");
    Connect("--version=9.8.7 --supported-profiles=3 --record=" + record);
    TBS::TechnicalInfoRequest request;
    request.technicalDetailsFile = "details.txt";
    SendRecord("TechnicalInfoRequest", request);
    ASSERT_TRUE(collector_->WaitCount(1));
    const auto reply = collector_->Snapshot()[0];
    EXPECT_EQ(reply.sender, "NorvEngine");
    ASSERT_EQ(reply.topic, "struct TBS::TechnicalInfoResponse");
    TBS::TechnicalInfoResponse info;
    ASSERT_TRUE(TBS::FromXml(reply.payload, info));
    EXPECT_EQ(info.sVersion, "9.8.7");
    ASSERT_EQ(info.vecSupportedProfiles.size(), 12u);
    EXPECT_TRUE(info.vecSupportedProfiles[2]);
    EXPECT_FALSE(info.vecSupportedProfiles[3]);

    const auto requests = norv_test::ReadRecordedRequests(record);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].record, "TechnicalInfoRequest");
    TBS::TechnicalInfoRequest echoed;
    ASSERT_TRUE(TBS::FromXml(requests[0].payload, echoed));
    EXPECT_EQ(echoed.technicalDetailsFile, "details.txt");
}

TEST_F(EngineTest, AnswersAnAnalysisAsDescribed) {
    Connect("--analysis-files=3 --audio-tracks=2 --subtitle-tracks=1 --analysis-err=50");
    TBS::AnalyzeRequest request;
    request.inputFile = "/media/movie.mp4";
    SendRecord("AnalyzeRequest", request);
    ASSERT_TRUE(collector_->WaitCount(1));
    const auto reply = collector_->Snapshot()[0];
    ASSERT_EQ(reply.topic, "struct TBS::AnalyzeResponse");
    TBS::AnalyzeResponse analysis;
    ASSERT_TRUE(TBS::FromXml(reply.payload, analysis));
    EXPECT_EQ(analysis.err, 50u);
    EXPECT_EQ(analysis.audioTracks.size(), 2u);
    EXPECT_EQ(analysis.subtitleTracks.size(), 1u);
    ASSERT_EQ(analysis.srcFileListList.size(), 1u);
    ASSERT_EQ(analysis.srcFileListList[0].fileList.size(), 3u);
    EXPECT_EQ(analysis.srcFileListList[0].fileList[0].source, "/media/movie.mp4");
    EXPECT_EQ(analysis.duration.size(), 3u);
}

TEST_F(EngineTest, RunsATranscodeWithProgressOverFilesThenItsResult) {
    Connect("--progress=4 --files=2 --result=13");
    TBS::TranscodeRequest request;
    request.inputFiles = {"a.mp4", "b.mp4"};
    SendRecord("TranscodeRequest", request);
    ASSERT_TRUE(collector_->WaitCount(5));
    const auto got = collector_->Snapshot();
    std::vector<unsigned> fileNums;
    for (int i = 0; i < 4; ++i) {
        ASSERT_EQ(got[i].topic, "struct TBS::ProgressResponse");
        TBS::ProgressResponse progress;
        ASSERT_TRUE(TBS::FromXml(got[i].payload, progress));
        fileNums.push_back(progress.fileNum);
        EXPECT_EQ(progress.sFilename, progress.fileNum == 1 ? "a.mp4" : "b.mp4");
    }
    EXPECT_EQ(fileNums, (std::vector<unsigned>{1, 1, 2, 2}));
    ASSERT_EQ(got[4].topic, "struct TBS::TranscodeResponse");
    TBS::TranscodeResponse result;
    ASSERT_TRUE(TBS::FromXml(got[4].payload, result));
    EXPECT_EQ(result.resultID, 13u);
}

TEST_F(EngineTest, AnswersACancelWithAResponse) {
    Connect("--progress=1 --wait-cancel --cancel-result=-998");
    SendRecord("TranscodeRequest", TBS::TranscodeRequest());
    ASSERT_TRUE(collector_->WaitCount(1));
    SendRecord("CancelTranscodingRequest", TBS::CancelTranscodingRequest());
    ASSERT_TRUE(collector_->WaitCount(2));
    const auto got = collector_->Snapshot();
    ASSERT_EQ(got[1].topic, "struct TBS::TranscodeResponse");
    TBS::TranscodeResponse result;
    ASSERT_TRUE(TBS::FromXml(got[1].payload, result));
    EXPECT_EQ(static_cast<int32_t>(result.resultID), -998);
}

class EngineReplyTest : public EngineTest,
                        public ::testing::WithParamInterface<std::pair<const char*, const char*>> {
};

TEST_P(EngineReplyTest, ReplyReachesTheSubscriber) {
    Connect(std::string("--reply=") + GetParam().first);
    SendRecord("TechnicalInfoRequest", TBS::TechnicalInfoRequest());
    ASSERT_TRUE(collector_->WaitCount(1));
    ipc_test::SleepMs(200);
    const auto got = collector_->Snapshot();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].topic, GetParam().second);
}

// Bad frames and a dead engine end the reader with one pipe error.
INSTANTIATE_TEST_SUITE_P(Replies, EngineReplyTest,
                         ::testing::Values(std::make_pair("error", "error"),
                                           std::make_pair("exit", "exit"),
                                           std::make_pair("die", "IPCPipeError"),
                                           std::make_pair("bad-magic", "IPCPipeError"),
                                           std::make_pair("bad-crc", "IPCPipeError")),
                         [](const auto& info) {
                             std::string name = info.param.first;
                             name.erase(std::remove(name.begin(), name.end(), '-'), name.end());
                             return name;
                         });

TEST_F(EngineTest, KilledEngineGivesExactlyOnePipeErrorPerSubscription) {
    Connect("--reply=none");
    nvtl::RefCountedPtr<Collector> other(new Collector);
    ASSERT_TRUE(channel_->Subscribe(std::string("TRANS->"), collector_.get(), true));
    ASSERT_TRUE(channel_->Subscribe(std::string("ZZZ"), other.get(), true));
    norv_test::KillProcess(EnginePid());
    ASSERT_TRUE(collector_->WaitCount(2));
    ASSERT_TRUE(other->WaitCount(1));
    channel_.reset(); // closing after the reader ended adds nothing
    EXPECT_EQ(collector_->Snapshot().size(), 2u);
    EXPECT_EQ(collector_->CountTopic("IPCPipeError"), 2u);
    EXPECT_EQ(other->Snapshot().size(), 1u);
    EXPECT_EQ(other->Snapshot()[0].sender, "_NorvPipeIPC_::");
}

TEST_F(EngineTest, EngineDyingMidRunEndsTheExchange) {
    Connect("--progress=5 --die-after-progress=2");
    SendRecord("TranscodeRequest", TBS::TranscodeRequest());
    ASSERT_TRUE(collector_->WaitTopic("IPCPipeError"));
    EXPECT_EQ(collector_->CountTopic("struct TBS::ProgressResponse"), 2u);
    EXPECT_EQ(collector_->CountTopic("IPCPipeError"), 1u);
}

TEST_F(EngineTest, GreetingSentBeforeTheFirstSubscriptionIsDeliveredAfterIt) {
    ASSERT_TRUE(nvds::CreatePipeLauncher(ipc_test::EnginePath() + " --greet=2", &launcher_));
    ASSERT_TRUE(nvds::CreatePipeIPC(nvds::MakePipeBaseName(), true, launcher_.get(), &channel_));
    ipc_test::SleepMs(200);
    ASSERT_TRUE(channel_->Subscribe(std::string("TRANS->CONV"), collector_.get(), false));
    ASSERT_TRUE(collector_->WaitCount(2));
    EXPECT_EQ(collector_->Snapshot()[0].payload, "greeting 1");
    EXPECT_EQ(collector_->Snapshot()[1].payload, "greeting 2");
}

TEST_F(EngineTest, EngineIgnoringTheCloseKeepsRunningUntilTerminated) {
    Connect("--ignore-close --linger=60000");
    const uint32_t pid = EnginePid();
    channel_.reset();
    ipc_test::SleepMs(300);
    EXPECT_TRUE(norv_test::ProcessAlive(pid));
    EXPECT_TRUE(launcher_->Terminate());
    EXPECT_FALSE(launcher_->Terminate()); // nothing left to end
}

TEST(ColonName, ServesAnEngineStartedByOthers) {
    if (ipc_test::EnginePath().empty()) {
        GTEST_SKIP() << "the scripted engine is not built";
    }
    const std::string base = ":" + ipc_test::UniqueBaseName("colon");
    nvtl::RefCountedPtr<nvds::INorvIPC> channel;
    ASSERT_TRUE(nvds::CreatePipeIPC(base, true, nullptr, &channel));
    nvtl::RefCountedPtr<Collector> collector(new Collector);
    ASSERT_TRUE(channel->Subscribe(std::string("TRANS->CONV"), collector.get(), false));
    uint32_t sent = 0;
    EXPECT_FALSE(channel->Send(std::string("TranscodeSession"), std::string("CONV->TRANSping"), 4,
                               "ping", &sent));
    EXPECT_EQ(NorvOS::GetLastSystemError(), NorvOS::kErrorPipeListening);

    NorvOS::CChildProcess engine;
    ASSERT_TRUE(engine.Start(ipc_test::EnginePath() + " --reply=echo " + base, nullptr));
    bool delivered = false;
    for (int i = 0; i < 3000 && !delivered; ++i) {
        delivered = channel->Send(std::string("TranscodeSession"), std::string("CONV->TRANSping"),
                                  4, "ping", &sent);
        if (!delivered) {
            ASSERT_EQ(NorvOS::GetLastSystemError(), NorvOS::kErrorPipeListening);
            ipc_test::SleepMs(10);
        }
    }
    ASSERT_TRUE(delivered);
    EXPECT_EQ(sent, 1u);
    ASSERT_TRUE(collector->WaitTopic("echo"));
    EXPECT_EQ(collector->Snapshot()[0].payload, "ping");
    channel.reset();
    EXPECT_TRUE(engine.WaitForExit(ipc_test::kWaitMs)); // it ends when its pipes close
}

} // namespace
