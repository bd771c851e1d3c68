// The frame on the wire and the receiver's checks, seen from a raw socket
// peer that does not use the library's transport.
#include <gtest/gtest.h>

#include "ipc/crc.h"
#include "ipc/norv_ipc.h"
#include "ipc/transport.h"
#include "ipc_test_util.h"
#if !defined(_WIN32)
#include "support/forked_child.h"
#endif
#include "support/raw_pipe_peer.h"

using ipc_test::Collector;
using norv_test::EncodeFrame;
using norv_test::EncodeValue;
using norv_test::RawPipePeer;

namespace {

const std::string kResponseTopic = "TRANS->CONVstruct TBS::ProgressResponse";

TEST(FrameCrc, MatchesTheComplementOfTheCommonCrc32) {
    EXPECT_EQ(nvds::FrameCrc("abc", 3), 0xCADBBE3Du);
    EXPECT_EQ(nvds::FrameCrc(nullptr, 0), 0xFFFFFFFFu);
    EXPECT_EQ(nvds::FrameCrc("123456789", 9), ~0xCBF43926u);
}

// A server channel with a raw client connected to both of its pipes.
class RawClientTest : public ::testing::Test {
protected:
    void SetUp() override {
        base_ = ipc_test::UniqueBaseName("raw");
        ASSERT_TRUE(nvds::CreatePipeIPC(base_, true, nullptr, &channel_));
        ASSERT_TRUE(fromServer_.Connect(nvds::ServerToClientPipeName(base_)));
        ASSERT_TRUE(toServer_.Connect(nvds::ClientToServerPipeName(base_)));
        collector_ = new Collector;
    }

    void Subscribe() {
        ASSERT_TRUE(channel_->Subscribe(std::string("TRANS->CONV"), collector_.get(), false));
    }

    std::string base_;
    nvtl::RefCountedPtr<nvds::INorvIPC> channel_;
    RawPipePeer fromServer_;
    RawPipePeer toServer_;
    nvtl::RefCountedPtr<Collector> collector_;
};

TEST_F(RawClientTest, WritesTheEightFieldsInOrder) {
    uint32_t sent = 7;
    ASSERT_TRUE(channel_->Send(std::string("sender"), std::string("topic"), 3, "abc", &sent));
    EXPECT_EQ(sent, 1u);
    EXPECT_EQ(fromServer_.ReceiveText(4), "Norv");
    EXPECT_EQ(fromServer_.ReceiveValue(), 3u);
    EXPECT_EQ(fromServer_.ReceiveValue(), 0xCADBBE3Du);
    EXPECT_EQ(fromServer_.ReceiveValue(), 6u);
    EXPECT_EQ(fromServer_.ReceiveText(6), "sender");
    EXPECT_EQ(fromServer_.ReceiveValue(), 5u);
    EXPECT_EQ(fromServer_.ReceiveText(5), "topic");
    EXPECT_EQ(fromServer_.ReceiveText(3), "abc");
}

TEST_F(RawClientTest, EmptyPayloadHasCrcOfAllOnesAndNoPayloadField) {
    ASSERT_TRUE(channel_->Send(std::string("s"), std::string("empty"), 0, nullptr, nullptr));
    ASSERT_TRUE(channel_->Send(std::string("s"), std::string("next"), 1, "x", nullptr));
    EXPECT_EQ(fromServer_.ReceiveText(4), "Norv");
    EXPECT_EQ(fromServer_.ReceiveValue(), 0u);
    EXPECT_EQ(fromServer_.ReceiveValue(), 0xFFFFFFFFu);
    EXPECT_EQ(fromServer_.ReceiveValue(), 1u);
    EXPECT_EQ(fromServer_.ReceiveText(1), "s");
    EXPECT_EQ(fromServer_.ReceiveValue(), 5u);
    EXPECT_EQ(fromServer_.ReceiveText(5), "empty");
    // The next frame follows the topic directly.
    EXPECT_EQ(fromServer_.ReceiveText(4), "Norv");
    EXPECT_EQ(fromServer_.ReceiveValue(), 1u);
}

TEST_F(RawClientTest, ReadsFramesWhateverTheirChunking) {
    Subscribe();
    const std::string first = EncodeFrame("engine", kResponseTopic, "<xml>1</xml>");
    const std::string empty = EncodeFrame("engine", "TRANS->CONVexit", "");
    const std::string last = EncodeFrame("engine", kResponseTopic, std::string(10000, 'z'));
    ASSERT_TRUE(toServer_.Send(first.data(), first.size(), 1));
    ASSERT_TRUE(toServer_.Send(empty + last)); // two frames in one write
    ASSERT_TRUE(collector_->WaitCount(3));
    const auto got = collector_->Snapshot();
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0].sender, "engine");
    EXPECT_EQ(got[0].topic, "struct TBS::ProgressResponse");
    EXPECT_EQ(got[0].payload, "<xml>1</xml>");
    EXPECT_EQ(got[1].topic, "exit");
    EXPECT_TRUE(got[1].payloadNull);
    EXPECT_EQ(got[1].payloadLength, 0u);
    EXPECT_EQ(got[2].payload, std::string(10000, 'z'));
}

// Each bad frame makes the reader report one pipe error and end: later good
// frames are not delivered.
struct BadFrame {
    const char* name;
    std::string bytes;
};

class BadFrameTest : public RawClientTest, public ::testing::WithParamInterface<BadFrame> {};

TEST_P(BadFrameTest, EndsTheReaderWithOnePipeError) {
    Subscribe();
    ASSERT_TRUE(toServer_.Send(GetParam().bytes));
    ASSERT_TRUE(collector_->WaitCount(1));
    const std::string good = EncodeFrame("engine", kResponseTopic, "late");
    toServer_.Send(good);
    ipc_test::SleepMs(300);
    const auto got = collector_->Snapshot();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].sender, "_NorvPipeIPC_::");
    EXPECT_EQ(got[0].topic, "IPCPipeError");
    EXPECT_TRUE(got[0].payloadNull);
}

std::string ChangedPayload() {
    std::string frame = EncodeFrame("engine", kResponseTopic, "payload");
    frame[frame.size() - 3] ^= 0x20;
    return frame;
}

// Only the header: a receiver that waited for the announced bytes would
// never report anything.
std::string Header(uint32_t payloadLength, uint32_t senderLength) {
    return "Norv" + EncodeValue(payloadLength) + EncodeValue(0) + EncodeValue(senderLength);
}

INSTANTIATE_TEST_SUITE_P(
    Frames, BadFrameTest,
    ::testing::Values(BadFrame{"BadMagic",
                               "Nor!" + EncodeFrame("engine", kResponseTopic, "x").substr(4)},
                      BadFrame{"BadCrc", ChangedPayload()},
                      BadFrame{"HugeSender", Header(0, 64 * 1024 + 1)},
                      BadFrame{"HugeTopic", Header(0, 1) + "e" + EncodeValue(64 * 1024 + 1)},
                      BadFrame{"HugePayload", Header(256U * 1024 * 1024 + 1, 1)}),
    [](const ::testing::TestParamInfo<BadFrame>& info) { return std::string(info.param.name); });

TEST_F(RawClientTest, PeerClosingGivesOnePipeErrorPerSubscription) {
    nvtl::RefCountedPtr<Collector> other(new Collector);
    Subscribe();
    ASSERT_TRUE(channel_->Subscribe(std::string("TRANS->"), collector_.get(), true));
    ASSERT_TRUE(channel_->Subscribe(std::string("X"), other.get(), false));
    toServer_.Close();
    fromServer_.Close();
    ASSERT_TRUE(collector_->WaitCount(2));
    ASSERT_TRUE(other->WaitCount(1));
    ipc_test::SleepMs(200);
    EXPECT_EQ(collector_->CountTopic("IPCPipeError"), 2u);
    EXPECT_EQ(other->CountTopic("IPCPipeError"), 1u);
    EXPECT_EQ(collector_->Snapshot().size(), 2u);
    // Writes now fail; the sent count stays 0.
    uint32_t sent = 5;
    EXPECT_FALSE(channel_->Send(std::string("s"), std::string("t"), 1, "x", &sent));
    EXPECT_EQ(sent, 0u);
}

TEST_F(RawClientTest, ClosingWhileAFrameIsHalfReceivedEndsCleanly) {
    Subscribe();
    ASSERT_TRUE(toServer_.Send(EncodeFrame("engine", kResponseTopic, "whole")));
    ASSERT_TRUE(collector_->WaitCount(1)); // the reader is past a first frame
    const std::string frame = EncodeFrame("engine", kResponseTopic, std::string(100000, 'h'));
    ASSERT_TRUE(toServer_.Send(frame.substr(0, frame.size() / 2)));
    ipc_test::SleepMs(50); // the reader now waits inside the payload
    channel_.reset();      // must not hang
    // Nothing of the half frame; the close may tell the subscriber once.
    const auto got = collector_->Snapshot();
    ASSERT_GE(got.size(), 1u);
    EXPECT_EQ(got[0].payload, "whole");
    EXPECT_LE(got.size(), 2u);
    EXPECT_EQ(collector_->CountTopic("IPCPipeError"), got.size() - 1);
    EXPECT_TRUE(fromServer_.WaitClosedByPeer());
}

// Windows pipes keep other users out by their security descriptor instead.
#if !defined(_WIN32)
TEST(PeerCredentials, PeerOfAnotherUserIsRefusedAndThePipeKeepsListening) {
    const std::string base = ipc_test::UniqueBaseName("uid");
    nvtl::RefCountedPtr<nvds::INorvIPC> channel;
    ASSERT_TRUE(nvds::CreatePipeIPC(base, true, nullptr, &channel));
    nvtl::RefCountedPtr<Collector> collector(new Collector);
    ASSERT_TRUE(channel->Subscribe(std::string("TRANS->CONV"), collector.get(), false));
    const std::string pipe = nvds::ClientToServerPipeName(base);

    norv_test::ChildOptions options;
    options.dropRights = true;
    const auto outcome = norv_test::RunInChild(
        [&] {
            RawPipePeer intruder;
            if (!intruder.Connect(pipe)) {
                return 2;
            }
            intruder.Send(EncodeFrame("intruder", "TRANS->CONVintruder", "bad"));
            return intruder.WaitClosedByPeer(20000) ? 0 : 1;
        },
        options);
    if (outcome.exited && outcome.exitCode == norv_test::kChildCannotDropRights) {
        GTEST_SKIP() << "needs root to run a peer under another user";
    }
    ASSERT_TRUE(outcome.exited);
    EXPECT_EQ(outcome.exitCode, 0) << "the other user's peer was not dropped";

    RawPipePeer friendly;
    ASSERT_TRUE(friendly.Connect(pipe));
    ASSERT_TRUE(friendly.Send(EncodeFrame("engine", "TRANS->CONVfriend", "good")));
    ASSERT_TRUE(collector->WaitTopic("friend"));
    EXPECT_EQ(collector->CountTopic("intruder"), 0u);
    EXPECT_EQ(collector->CountTopic("IPCPipeError"), 0u);
}

#endif

} // namespace
