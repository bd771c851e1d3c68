// The channel's send and subscription rules, over a real pipe pair: a server
// channel and a client channel in this process.
#include <gtest/gtest.h>

#include "ipc/norv_ipc.h"
#include "ipc/transport.h"
#include "ipc_test_util.h"
#include "platform/last_error.h"
#include "platform/local_pipe.h"
#include "support/raw_pipe_peer.h"

using ipc_test::Collector;

namespace {

// Appends "<tag>:<topicRest>" to a log shared by several subscribers.
class Tagged : public nvtl::RefCountedImpl<nvds::INorvIPCCallback> {
public:
    Tagged(std::string tag, std::mutex& lock, std::vector<std::string>& log)
        : tag_(std::move(tag)), lock_(lock), log_(log) {}
    void OnMessage(const std::string&, const std::string& topicRest, uint32_t,
                   const char*) override {
        std::lock_guard<std::mutex> guard(lock_);
        log_.push_back(tag_ + ":" + topicRest);
    }

private:
    std::string tag_;
    std::mutex& lock_;
    std::vector<std::string>& log_;
};

class ChannelPairTest : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string base = ipc_test::UniqueBaseName("pair");
        ASSERT_TRUE(nvds::CreatePipeIPC(base, true, nullptr, &server_));
        ASSERT_TRUE(nvds::CreatePipeIPC(base, false, nullptr, &client_));
        received_ = new Collector;
    }

    bool SendToClient(const std::string& topic, const std::string& payload = "p") {
        return server_->Send(std::string("lib"), topic, static_cast<uint32_t>(payload.size()),
                             payload.data(), nullptr);
    }

    nvtl::RefCountedPtr<nvds::INorvIPCCallback> NewTagged(const std::string& tag) {
        return nvtl::RefCountedPtr<nvds::INorvIPCCallback>(new Tagged(tag, logLock_, log_));
    }

    std::vector<std::string> Log() {
        std::lock_guard<std::mutex> guard(logLock_);
        return log_;
    }

    // The log outlives the channels, whose subscribers write into it.
    std::mutex logLock_;
    std::vector<std::string> log_;
    nvtl::RefCountedPtr<nvds::INorvIPC> server_;
    nvtl::RefCountedPtr<nvds::INorvIPC> client_;
    nvtl::RefCountedPtr<Collector> received_;
};

TEST_F(ChannelPairTest, SendRefusesBadArgumentsWithoutWriting) {
    ASSERT_TRUE(client_->Subscribe(std::string("T"), received_.get(), false));
    const std::string topic256 = "T" + std::string(255, 'a');
    const std::string topic257 = "T" + std::string(256, 'a');
    uint32_t sent = 9;
    EXPECT_FALSE(server_->Send(std::string("lib"), topic257, 1, "x", &sent));
    EXPECT_EQ(sent, 0u);
    sent = 9;
    EXPECT_FALSE(server_->Send(std::string(257, 's'), std::string("Tx"), 1, "x", &sent));
    EXPECT_EQ(sent, 0u);
    EXPECT_FALSE(server_->Send(std::string(), std::string("Tx"), 1, "x", &sent));
    EXPECT_FALSE(server_->Send(std::string("lib"), std::string(), 1, "x", &sent));
    EXPECT_FALSE(server_->Send(std::string("lib"), std::string("Tx"), 1, nullptr, &sent));
    EXPECT_EQ(sent, 0u);

    ASSERT_TRUE(server_->Send(std::string(256, 's'), topic256, 2, "ok", &sent));
    EXPECT_EQ(sent, 1u);
    ASSERT_TRUE(server_->Send(std::string("lib"), std::string("Tempty"), 0, nullptr, nullptr));
    ASSERT_TRUE(server_->Send(nvt::WideString(NORV_WTEXT("wide")),
                              nvt::WideString(NORV_WTEXT("Twide")), 1, "w", &sent));
    EXPECT_EQ(sent, 1u);

    ASSERT_TRUE(received_->WaitCount(3));
    const auto got = received_->Snapshot();
    ASSERT_EQ(got.size(), 3u); // the refused sends wrote nothing
    EXPECT_EQ(got[0].topic, topic256.substr(1));
    EXPECT_EQ(got[0].sender, std::string(256, 's'));
    EXPECT_EQ(got[0].payload, "ok");
    EXPECT_EQ(got[1].topic, "empty");
    EXPECT_TRUE(got[1].payloadNull);
    EXPECT_EQ(got[2].sender, "wide");
    EXPECT_EQ(got[2].topic, "wide");
}

TEST_F(ChannelPairTest, SubscribeReplacesOrAppendsInOrder) {
    const auto a = NewTagged("a");
    const auto b = NewTagged("b");
    const auto c = NewTagged("c");

    EXPECT_FALSE(client_->Subscribe(std::string(), a, false));
    EXPECT_FALSE(
        client_->Subscribe(std::string("K"), nvtl::RefCountedPtr<nvds::INorvIPCCallback>(), false));
    ASSERT_TRUE(client_->Subscribe(std::string("K"), a, false));
    ASSERT_TRUE(client_->Subscribe(std::string("K"), b, false)); // replaces a
    ASSERT_TRUE(client_->Subscribe(nvt::WideString(NORV_WTEXT("K")), c, true));
    ASSERT_TRUE(client_->Subscribe(std::string("Z"), received_.get(), false));

    ASSERT_TRUE(SendToClient("K1"));
    ASSERT_TRUE(SendToClient("Zend")); // delivered after K1: arrival order
    ASSERT_TRUE(received_->WaitCount(1));
    EXPECT_EQ(Log(), (std::vector<std::string>{"b:1", "c:1"}));
    EXPECT_EQ(a->GetRefCount(), 1); // the channel let go of it
}

TEST_F(ChannelPairTest, TopicReachesEveryMatchingKeyWithItsRest) {
    const auto longKey = NewTagged("long");
    const auto shortKey = NewTagged("short");
    ASSERT_TRUE(client_->Subscribe(std::string("TRANS->CONV"), longKey, false));
    ASSERT_TRUE(client_->Subscribe(std::string("TRANS->"), shortKey, false));
    ASSERT_TRUE(client_->Subscribe(std::string("Z"), received_.get(), false));

    ASSERT_TRUE(SendToClient("TRANS->CONVstruct TBS::ProgressResponse"));
    ASSERT_TRUE(SendToClient("TRANS->other"));
    ASSERT_TRUE(SendToClient("nobody listens"));
    ASSERT_TRUE(SendToClient("Zend"));
    ASSERT_TRUE(received_->WaitCount(1));
    // Keys in ascending order: "TRANS->" before "TRANS->CONV".
    EXPECT_EQ(Log(),
              (std::vector<std::string>{"short:CONVstruct TBS::ProgressResponse",
                                        "long:struct TBS::ProgressResponse", "short:other"}));
}

TEST_F(ChannelPairTest, FrameSentBeforeTheFirstSubscriptionIsDeliveredAfterIt) {
    ASSERT_TRUE(SendToClient("Tearly", "first"));
    ipc_test::SleepMs(100);
    EXPECT_TRUE(received_->Snapshot().empty());
    ASSERT_TRUE(client_->Subscribe(std::string("T"), received_.get(), false));
    ASSERT_TRUE(received_->WaitCount(1));
    EXPECT_EQ(received_->Snapshot()[0].topic, "early");
    EXPECT_EQ(received_->Snapshot()[0].payload, "first");
}

TEST_F(ChannelPairTest, ReleasingTheClientWakesItsBlockedReader) {
    nvtl::RefCountedPtr<Collector> clientSide(new Collector);
    ASSERT_TRUE(client_->Subscribe(std::string("T"), clientSide.get(), false));
    ASSERT_TRUE(server_->Subscribe(std::string("T"), received_.get(), false));
    ipc_test::SleepMs(50); // both readers are now blocked in a receive
    client_.reset();       // must not hang
    // A close may tell the subscriber once: not at all when the reader saw
    // the stop request before it went back into its receive.
    EXPECT_LE(clientSide->CountTopic("IPCPipeError"), 1u);
    ASSERT_TRUE(received_->WaitTopic("IPCPipeError"));
    EXPECT_EQ(received_->CountTopic("IPCPipeError"), 1u);
    uint32_t sent = 3;
    EXPECT_FALSE(server_->Send(std::string("lib"), std::string("Tx"), 1, "x", &sent));
    EXPECT_EQ(sent, 0u);
}

// A reader that waits for its callback, or on a server end for its client,
// ends when its transport closes.
TEST(WaitingReader, EndsWhenItsTransportCloses) {
    const std::string base = ipc_test::UniqueBaseName("idle");
    nvtl::RefCountedPtr<nvds::ITransportIPC> server;
    nvtl::RefCountedPtr<nvds::ITransportIPC> client;
    ASSERT_TRUE(nvds::CreatePipeTransport(base, true, nullptr, &server));
    ASSERT_TRUE(nvds::CreatePipeTransport(base, false, nullptr, &client));
    ASSERT_TRUE(server->Open());
    ASSERT_TRUE(client->Open());
    ipc_test::SleepMs(50); // both readers wait for a callback
    client->Close();       // must not hang
    server->Close();

    nvtl::RefCountedPtr<nvds::INorvIPC> listening;
    ASSERT_TRUE(nvds::CreatePipeIPC(ipc_test::UniqueBaseName("idle"), true, nullptr, &listening));
    nvtl::RefCountedPtr<Collector> collector(new Collector);
    ASSERT_TRUE(listening->Subscribe(std::string("T"), collector.get(), false));
    ipc_test::SleepMs(50); // the reader waits for a client that never comes
    listening.reset();     // must not hang
    EXPECT_LE(collector->CountTopic("IPCPipeError"), 1u); // a close may tell it once
}

// A peer that is connected and alive but never reads: the close lets it read
// for a while only, then disconnects anyway.
TEST(PeerThatNeverReads, CloseReturnsAndDisconnectsIt) {
    const std::string base = ipc_test::UniqueBaseName("deaf");
    nvtl::RefCountedPtr<nvds::INorvIPC> server;
    ASSERT_TRUE(nvds::CreatePipeIPC(base, true, nullptr, &server));
    norv_test::RawPipePeer fromServer;
    norv_test::RawPipePeer toServer;
    ASSERT_TRUE(fromServer.Connect(nvds::ServerToClientPipeName(base)));
    ASSERT_TRUE(toServer.Connect(nvds::ClientToServerPipeName(base)));
    uint32_t sent = 0;
    ASSERT_TRUE(server->Send(std::string("lib"), std::string("Tx"), 5, "never", &sent));
    server.reset(); // returns although the frame stays unread
#if !defined(_WIN32)
    // A socket keeps what it received; a Windows pipe's unread data goes
    // with the connection.
    EXPECT_EQ(fromServer.ReceiveText(norv_test::EncodeFrame("lib", "Tx", "never").size()),
              norv_test::EncodeFrame("lib", "Tx", "never"));
#endif
    EXPECT_TRUE(fromServer.WaitClosedByPeer());
}

TEST(ServerWithoutClient, WritesReportListeningUntilAClientArrives) {
    const std::string base = ipc_test::UniqueBaseName("listen");
    nvtl::RefCountedPtr<nvds::INorvIPC> server;
    ASSERT_TRUE(nvds::CreatePipeIPC(base, true, nullptr, &server));
    uint32_t sent = 4;
    EXPECT_FALSE(server->Send(std::string("lib"), std::string("Tx"), 1, "x", &sent));
    EXPECT_EQ(NorvOS::GetLastSystemError(), NorvOS::kErrorPipeListening);
    EXPECT_EQ(sent, 0u);

    nvtl::RefCountedPtr<nvds::INorvIPC> client;
    ASSERT_TRUE(nvds::CreatePipeIPC(base, false, nullptr, &client));
    EXPECT_TRUE(server->Send(std::string("lib"), std::string("Tx"), 1, "x", &sent));
    EXPECT_EQ(sent, 1u);
}

TEST(Factories, RefuseBadArguments) {
    nvtl::RefCountedPtr<nvds::INorvIPC> channel;
    nvtl::RefCountedPtr<nvds::ITransportIPC> transport;
    EXPECT_FALSE(nvds::CreatePipeIPC(std::string(), true, nullptr, &channel));
    EXPECT_FALSE(nvds::CreatePipeIPC("x", true, nullptr, nullptr));
    EXPECT_FALSE(nvds::CreateNamedPipeIPC(nullptr, &channel));
    EXPECT_FALSE(nvds::CreatePipeTransport(std::string(), true, nullptr, &transport));
    // A client end never has a launcher; nothing listens under this name.
    EXPECT_FALSE(nvds::CreatePipeIPC(ipc_test::UniqueBaseName("none"), false, nullptr, &channel));
    EXPECT_EQ(NorvOS::GetLastSystemError(), NorvOS::kErrorFileNotFound);
    // A name the system cannot carry.
    EXPECT_FALSE(nvds::CreatePipeIPC(std::string(NorvOS::CLocalPipe::kMaxNameLength, 'n'), true,
                                     nullptr, &channel));
    EXPECT_FALSE(channel);
}

TEST(TransportWrites, FollowTheNullAndCountRules) {
    const std::string base = ipc_test::UniqueBaseName("write");
    nvtl::RefCountedPtr<nvds::ITransportIPC> server;
    ASSERT_TRUE(nvds::CreatePipeTransport(base, true, nullptr, &server));
    EXPECT_FALSE(server->Write(nullptr, 0)); // not open yet
    ASSERT_TRUE(server->Open());
    EXPECT_TRUE(server->IsConnected());
    EXPECT_FALSE(server->Open()); // already open
    EXPECT_TRUE(server->Write(nullptr, 0));
    EXPECT_FALSE(server->Write("x", 0));
    EXPECT_FALSE(server->Write(nullptr, 1));
    server->Close();
    EXPECT_FALSE(server->IsConnected());
    ASSERT_TRUE(server->Open()); // again after Close
    server->Close();
}

} // namespace
