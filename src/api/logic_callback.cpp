#include "api/logic_callback.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {

/// Sizes buffer to length and copies length bytes from data into it.
void CopyPayload(nvtl::MemoryBuffer<char>& buffer, uint32_t length, const char* data) {
    buffer.Resize(length);
    if (buffer.Count() != length) {
        throw std::bad_alloc();
    }
    if (length != 0) {
        std::memcpy(buffer.Data(), data, length);
    }
}

} // namespace

void CNorvIPCCallback::OnMessage(const std::string& sender, const std::string& topicRest,
                                 uint32_t payloadLength, const char* payload) {
    if (target_ != nullptr) {
        target_->OnMessage(sender, topicRest, payloadLength, payload);
    }
}

std::string InboundMessage::PayloadText() const {
    return payload.Count() == 0 ? std::string() : std::string(payload.Data(), payload.Count());
}

CLogicCallback::CLogicCallback() : subscriber_(new CNorvIPCCallback(this)) {}

CLogicCallback::~CLogicCallback() {
    subscriber_.reset();
}

void CLogicCallback::OnMessage(const std::string& sender, const std::string& topic,
                               uint32_t payloadLength, const char* payload) {
    if (payload == nullptr) {
        payloadLength = 0;
    }
    {
        std::lock_guard<std::mutex> guard(lock_);
        queue_.emplace_back();
        InboundMessage& message = queue_.back();
        try {
            message.sender = sender;
            message.topic = topic;
            message.payloadLength = payloadLength;
            CopyPayload(message.payload, payloadLength, payload);
        } catch (...) {
            queue_.pop_back(); // no half-filled message stays queued
            throw;
        }
    }
    changed_.notify_all();
}

void CLogicCallback::PopFrontLocked(InboundMessage& out) {
    InboundMessage& front = queue_.front();
    out.sender = front.sender;
    out.topic = front.topic;
    out.payloadLength = front.payloadLength;
    CopyPayload(out.payload, front.payloadLength, front.payload.Data());
    queue_.pop_front();
}

bool CLogicCallback::PopMessage(InboundMessage& out) {
    std::lock_guard<std::mutex> guard(lock_);
    if (queue_.empty()) {
        return false;
    }
    PopFrontLocked(out);
    return true;
}

bool CLogicCallback::WaitForMessage(InboundMessage& out, const std::function<bool()>& ended) {
    std::unique_lock<std::mutex> guard(lock_);
    bool done = false;
    changed_.wait(guard, [&] {
        done = ended();
        return done || !queue_.empty();
    });
    if (done) {
        return false;
    }
    PopFrontLocked(out);
    return true;
}

void CLogicCallback::WakeConsumer() {
    // Passing through the lock orders the wake-up after a consumer that has
    // just found the condition false has started to wait.
    { std::lock_guard<std::mutex> guard(lock_); }
    changed_.notify_all();
}

bool CLogicCallback::HasMessage(const std::string& topic) {
    std::lock_guard<std::mutex> guard(lock_);
    return std::any_of(queue_.begin(), queue_.end(),
                       [&topic](const InboundMessage& m) { return m.topic == topic; });
}

void CLogicCallback::DiscardMessages() {
    std::lock_guard<std::mutex> guard(lock_);
    queue_.clear();
}
