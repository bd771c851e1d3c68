// Helpers shared by the IPC tests: a subscriber that records what it is
// told, unique pipe names and the scripted engine's location.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "api/ref_counted_impl.h"
#include "ipc/norv_ipc.h"
#include "platform/process.h"

namespace ipc_test {

constexpr uint32_t kWaitMs = 30000;

struct Received {
    std::string sender;
    std::string topic;
    std::string payload;
    bool payloadNull = false;
    uint32_t payloadLength = 0;
};

class Collector : public nvtl::RefCountedImpl<nvds::INorvIPCCallback> {
public:
    void OnMessage(const std::string& sender, const std::string& topicRest, uint32_t payloadLength,
                   const char* payload) override {
        Received r;
        r.sender = sender;
        r.topic = topicRest;
        r.payloadNull = payload == nullptr;
        r.payloadLength = payloadLength;
        if (payload != nullptr) {
            r.payload.assign(payload, payloadLength);
        }
        std::lock_guard<std::mutex> guard(lock_);
        received_.push_back(r);
        changed_.notify_all();
    }

    /// Waits until at least n messages have arrived.
    bool WaitCount(size_t n, uint32_t timeoutMs = kWaitMs) {
        std::unique_lock<std::mutex> guard(lock_);
        return changed_.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                                 [&] { return received_.size() >= n; });
    }

    /// Waits until a message with this topic has arrived.
    bool WaitTopic(const std::string& topic, uint32_t timeoutMs = kWaitMs) {
        std::unique_lock<std::mutex> guard(lock_);
        return changed_.wait_for(guard, std::chrono::milliseconds(timeoutMs), [&] {
            for (const auto& r : received_) {
                if (r.topic == topic) {
                    return true;
                }
            }
            return false;
        });
    }

    std::vector<Received> Snapshot() {
        std::lock_guard<std::mutex> guard(lock_);
        return received_;
    }

    size_t CountTopic(const std::string& topic) {
        std::lock_guard<std::mutex> guard(lock_);
        size_t n = 0;
        for (const auto& r : received_) {
            n += r.topic == topic ? 1 : 0;
        }
        return n;
    }

private:
    std::mutex lock_;
    std::condition_variable changed_;
    std::vector<Received> received_;
};

inline std::string UniqueBaseName(const std::string& tag) {
    static std::atomic<int> counter{0};
    return "norv-test-" + tag + "-" + std::to_string(NorvOS::CurrentProcessId()) + "-" +
           std::to_string(counter.fetch_add(1));
}

inline std::string EnginePath() {
#ifdef NORV_SCRIPTED_ENGINE
    return NORV_SCRIPTED_ENGINE;
#else
    return std::string();
#endif
}

inline void SleepMs(uint32_t ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

} // namespace ipc_test
