// The bridge between the IPC channel's reader thread and the thread that
// handles engine messages: a subscriber that forwards into a locked
// first-in first-out queue.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>

#include "api/ref_counted_impl.h"
#include "ipc/norv_ipc.h"
#include "platform/text.h"

/// Receiver of the messages a CNorvIPCCallback forwards.
class INorvIPCCallbackForward {
public:
    virtual void OnMessage(const std::string& sender, const std::string& topic,
                           uint32_t payloadLength, const char* payload) = 0;

protected:
    ~INorvIPCCallbackForward() = default;
};

/// The subscriber the channel holds. It passes every message on to its
/// target, which must outlive every channel that holds the subscriber.
class CNorvIPCCallback final : public nvtl::RefCountedImpl<nvds::INorvIPCCallback> {
public:
    explicit CNorvIPCCallback(INorvIPCCallbackForward* target) : target_(target) {}

    void OnMessage(const std::string& sender, const std::string& topicRest, uint32_t payloadLength,
                   const char* payload) override;

private:
    INorvIPCCallbackForward* const target_;
};

/// One received message.
struct InboundMessage {
    uint32_t payloadLength = 0;
    std::string sender;
    /// The topic without the subscription key: a record's type name such as
    /// "struct TBS::ProgressResponse", or "IPCPipeError".
    std::string topic;
    nvtl::MemoryBuffer<char> payload;

    /// The payload as text (the XML of a record).
    std::string PayloadText() const;
};

/// A locked queue of received messages, filled on the channel's reader
/// thread and drained by the owner's consumer thread. The lock is held only
/// while a message is copied in or out (and while a waiting consumer tests
/// whether to go on waiting); queuing a message wakes the consumer.
class CLogicCallback : public INorvIPCCallbackForward {
public:
    CLogicCallback();
    virtual ~CLogicCallback();
    CLogicCallback(const CLogicCallback&) = delete;
    CLogicCallback& operator=(const CLogicCallback&) = delete;

    /// Queues a copy of the message at the back. Allocation failures
    /// propagate to the caller (the channel's reader thread).
    void OnMessage(const std::string& sender, const std::string& topic, uint32_t payloadLength,
                   const char* payload) override;

    /// Copies the oldest message into out and removes it. False, leaving out
    /// unchanged, when the queue is empty.
    bool PopMessage(InboundMessage& out);

    /// The consumer loop's wait: blocks until a message is queued or ended()
    /// holds, without time-out. Returns false, taking nothing, when ended()
    /// holds (it is tested first); otherwise pops the oldest message into out
    /// as PopMessage does and returns true. ended() runs under the queue's
    /// lock: it must only read state whose change is announced through
    /// WakeConsumer.
    bool WaitForMessage(InboundMessage& out, const std::function<bool()>& ended);

    /// Wakes a consumer blocked in WaitForMessage so that it tests its end
    /// condition again. Call after the condition has changed.
    void WakeConsumer();

    /// True when a queued message has exactly this topic. Removes nothing.
    bool HasMessage(const std::string& topic);

    /// Drops every queued message.
    void DiscardMessages();

    /// The subscriber to hand to the channel's Subscribe.
    nvtl::RefCountedPtr<nvds::INorvIPCCallback>& Subscriber() { return subscriber_; }

private:
    /// Under lock_: copies the oldest message into out and removes it.
    void PopFrontLocked(InboundMessage& out);

    std::mutex lock_;
    std::condition_variable changed_; // a message was queued or the end condition changed
    std::deque<InboundMessage> queue_;
    nvtl::RefCountedPtr<nvds::INorvIPCCallback> subscriber_;
};
