// The inbound message queue and handler dispatch: order, copies, lookups
// without removal, unmatched topics, and delivery through a real channel.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "api/logic_base.h"
#include "api/logic_callback.h"
#include "ipc/launcher.h"
#include "ipc/norv_ipc.h"
#include "platform/thread.h"
#include "support/engine_session.h"

namespace {

class Handlers : public CLogicBase<Handlers>, public CLogicCallback {
public:
    static const HandlerEntry* HandlerTable() {
        static const HandlerEntry kTable[] = {
            {"alpha", &Handlers::OnAlpha},
            {"beta", &Handlers::OnBeta},
            {"alpha", &Handlers::OnShadowed}, // never reached: the first row wins
            {nullptr, nullptr},
        };
        return kTable;
    }

    bool OnAlpha(const InboundMessage& m) {
        calls.push_back("alpha:" + m.PayloadText());
        return true;
    }
    bool OnBeta(const InboundMessage& m) {
        calls.push_back("beta:" + m.PayloadText());
        return false;
    }
    bool OnShadowed(const InboundMessage&) {
        calls.push_back("shadowed");
        return true;
    }

    std::vector<std::string> calls;
};

void Queue(CLogicCallback& q, const std::string& topic, const std::string& payload) {
    q.OnMessage("sender-" + topic, topic, static_cast<uint32_t>(payload.size()),
                payload.empty() ? nullptr : payload.data());
}

TEST(LogicQueue, MessagesComeOutInArrivalOrderAsExactCopies) {
    Handlers q;
    const std::string binary("a\0b\xff", 4);
    Queue(q, "one", binary);
    Queue(q, "two", "");
    Queue(q, "three", "xml");

    InboundMessage m;
    ASSERT_TRUE(q.PopMessage(m));
    EXPECT_EQ(m.sender, "sender-one");
    EXPECT_EQ(m.topic, "one");
    EXPECT_EQ(m.payloadLength, 4u);
    EXPECT_EQ(m.PayloadText(), binary);
    ASSERT_TRUE(q.PopMessage(m));
    EXPECT_EQ(m.topic, "two");
    EXPECT_EQ(m.payloadLength, 0u);
    EXPECT_EQ(m.payload.Data(), nullptr); // an empty payload is an empty buffer
    ASSERT_TRUE(q.PopMessage(m));
    EXPECT_EQ(m.topic, "three");
    EXPECT_EQ(m.PayloadText(), "xml");

    EXPECT_FALSE(q.PopMessage(m));
    EXPECT_EQ(m.topic, "three"); // left unchanged
}

TEST(LogicQueue, HasMessageFindsWithoutRemoving) {
    Handlers q;
    Queue(q, "struct TBS::ProgressResponse", "p");
    Queue(q, "struct TBS::ProgressResponse", "q");
    Queue(q, "IPCPipeError", "");
    EXPECT_TRUE(q.HasMessage("IPCPipeError"));
    EXPECT_FALSE(q.HasMessage("IPCPipe"));     // whole topics only
    EXPECT_TRUE(q.HasMessage("IPCPipeError")); // still there
    InboundMessage m;
    ASSERT_TRUE(q.PopMessage(m));
    EXPECT_EQ(m.PayloadText(), "p");
    q.DiscardMessages();
    EXPECT_FALSE(q.HasMessage("IPCPipeError"));
    EXPECT_FALSE(q.PopMessage(m));
}

TEST(LogicQueue, DispatchUsesTheFirstMatchingRowAndDropsUnmatchedTopics) {
    Handlers q;
    Queue(q, "beta", "1");
    Queue(q, "gamma", "2");
    Queue(q, "alpha", "3");
    Queue(q, "alph", "4");

    std::vector<bool> results;
    InboundMessage m;
    while (q.PopMessage(m)) {
        results.push_back(q.DispatchMessage(m));
    }
    EXPECT_EQ(results, (std::vector<bool>{false, false, true, false}));
    EXPECT_EQ(q.calls, (std::vector<std::string>{"beta:1", "alpha:3"}));
}

TEST(LogicQueue, SubscriberForwardsToItsTarget) {
    Handlers q;
    auto& subscriber = q.Subscriber();
    ASSERT_TRUE(subscriber);
    EXPECT_EQ(subscriber->GetRefCount(), 1);
    subscriber->OnMessage("engine", "alpha", 2, "hi");
    InboundMessage m;
    ASSERT_TRUE(q.PopMessage(m));
    EXPECT_EQ(m.sender, "engine");
    EXPECT_EQ(m.PayloadText(), "hi");

    nvtl::RefCountedPtr<nvds::INorvIPCCallback> orphan(new CNorvIPCCallback(nullptr));
    orphan->OnMessage("engine", "alpha", 2, "hi"); // no target: nothing happens
}

TEST(LogicQueue, ProducerAndConsumerThreadsKeepOrder) {
    Handlers q;
    constexpr int kCount = 2000;
    std::thread producer([&] {
        for (int i = 0; i < kCount; ++i) {
            Queue(q, "n", std::to_string(i));
        }
    });
    int next = 0;
    InboundMessage m;
    while (next < kCount) {
        if (q.PopMessage(m)) {
            ASSERT_EQ(m.PayloadText(), std::to_string(next));
            ++next;
        } else {
            std::this_thread::yield();
        }
    }
    producer.join();
}

// Frames sent in a burst pile up in the queue while nobody consumes; the
// consumer's wait then takes them all, complete and in order. A watchdog
// ends the wait through the end condition should any frame be missing.
TEST(LogicQueue, BurstOfFramesReachesAWaitingConsumerCompleteAndInOrder) {
    Handlers q; // outlives the channels, which deliver into it
    const std::string base = nvds::MakePipeBaseName();
    nvtl::RefCountedPtr<nvds::INorvIPC> server;
    nvtl::RefCountedPtr<nvds::INorvIPC> client;
    ASSERT_TRUE(nvds::CreatePipeIPC(base, true, nullptr, &server));
    ASSERT_TRUE(nvds::CreatePipeIPC(base, false, nullptr, &client));
    ASSERT_TRUE(client->Subscribe(std::string("T"), q.Subscriber(), false));

    constexpr int kCount = 500;
    auto payloadOf = [](int i) {
        return std::string(static_cast<size_t>(i % 7 == 0 ? 70000 : i),
                           static_cast<char>('a' + i % 26));
    };
    for (int i = 0; i < kCount; ++i) {
        const std::string payload = payloadOf(i);
        ASSERT_TRUE(server->Send(std::string("lib"), "T" + std::to_string(i),
                                 static_cast<uint32_t>(payload.size()),
                                 payload.empty() ? nullptr : payload.data(), nullptr));
    }

    std::atomic<bool> gaveUp{false};
    std::mutex lock;
    std::condition_variable finished;
    bool done = false;
    std::thread watchdog([&] {
        std::unique_lock<std::mutex> guard(lock);
        if (!finished.wait_for(guard, std::chrono::milliseconds(norv_test::kLongWaitMs),
                               [&] { return done; })) {
            gaveUp.store(true);
            q.WakeConsumer();
        }
    });
    int next = 0;
    InboundMessage m;
    while (next < kCount && q.WaitForMessage(m, [&] { return gaveUp.load(); })) {
        if (m.topic != std::to_string(next) || m.PayloadText() != payloadOf(next)) {
            break; // out of order or damaged
        }
        ++next;
    }
    {
        std::lock_guard<std::mutex> guard(lock);
        done = true;
    }
    finished.notify_all();
    watchdog.join();
    EXPECT_EQ(next, kCount);
    EXPECT_FALSE(q.PopMessage(m)); // nothing beyond the burst
}

TEST(LogicQueue, ChannelRepliesReachTheQueueInOrderWithTheKeyRemoved) {
    // The scripted engine greets three times as soon as it is up.
    nvtl::RefCountedPtr<nvds::IPipeLauncher> launcher;
    ASSERT_TRUE(nvds::CreatePipeLauncher(norv_test::ScriptedEngine({"--greet=3"}), &launcher));
    nvtl::RefCountedPtr<nvds::INorvIPC> channel;
    ASSERT_TRUE(nvds::CreatePipeIPC(nvds::MakePipeBaseName(), true, launcher.get(), &channel));
    Handlers q;
    ASSERT_TRUE(channel->Subscribe(std::string(nvds::kResponseTopicPrefix), q.Subscriber(), false));

    std::vector<std::string> payloads;
    ASSERT_TRUE(norv_test::WaitUntil([&] {
        InboundMessage m;
        while (q.PopMessage(m)) {
            EXPECT_EQ(m.topic, "greeting");
            payloads.push_back(m.PayloadText());
        }
        return payloads.size() >= 3;
    }));
    EXPECT_EQ(payloads, (std::vector<std::string>{"greeting 1", "greeting 2", "greeting 3"}));
    channel.reset(); // before the queue it delivers into
}

} // namespace
