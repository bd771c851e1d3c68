#include "ipc/named_pipe_ipc.h"

#include <cstdio>

#include "ipc/pipe_protocol.h"
#include "platform/last_error.h"
#include "platform/text.h"

namespace nvds {

CNorvIPCBase::CNorvIPCBase() = default;

CNorvIPCBase::~CNorvIPCBase() {
    NorvOS::CAutoMutex guard(&subscriptionLock_);
    subscriptions_.clear();
}

bool CNorvIPCBase::Subscribe(const nvt::WideString& key,
                             const nvtl::RefCountedPtr<INorvIPCCallback>& subscriber, bool append) {
    return Subscribe(nvt::WideToUtf8(key), subscriber, append);
}

bool CNorvIPCBase::Subscribe(const std::string& key,
                             const nvtl::RefCountedPtr<INorvIPCCallback>& subscriber, bool append) {
    if (key.empty() || !subscriber) {
        return false;
    }
    try {
        NorvOS::CAutoMutex guard(&subscriptionLock_);
        SubscriberList& list = subscriptions_[key];
        if (!append) {
            list.clear();
        }
        list.emplace_back(subscriber);
        return true;
    } catch (...) {
        return false;
    }
}

bool CNorvIPCBase::Send(const nvt::WideString& sender, const nvt::WideString& topic,
                        uint32_t payloadLength, const void* payload, uint32_t* sentCount) {
    return Send(nvt::WideToUtf8(sender), nvt::WideToUtf8(topic), payloadLength, payload, sentCount);
}

bool CNorvIPCBase::Send(const std::string& sender, const std::string& topic, uint32_t payloadLength,
                        const void* payload, uint32_t* sentCount) {
    if (sentCount != nullptr) {
        *sentCount = 0;
    }
    if (sender.empty() || sender.size() > kMaxAddressLength || topic.empty() ||
        topic.size() > kMaxAddressLength || (payloadLength != 0 && payload == nullptr)) {
        return false;
    }
    NorvOS::CAutoMutex guard(&sendLock_);
    sentCounter_ = sentCount;
    bool sent = false;
    try {
        sent = SendImpl(sender, topic, payloadLength, payload);
    } catch (...) {
        sent = false;
    }
    // The caller's counter is not touched once Send has returned.
    sentCounter_ = nullptr;
    return sent;
}

CNorvIPCBase::SubscriptionMap CNorvIPCBase::CopySubscriptions() {
    NorvOS::CAutoMutex guard(&subscriptionLock_);
    return subscriptions_;
}

void CNorvIPCBase::Dispatch(const std::string& sender, const std::string& topic,
                            uint32_t payloadLength, const char* payload) {
    const SubscriptionMap copy = CopySubscriptions();
    for (const auto& entry : copy) {
        const std::string& key = entry.first;
        if (topic.compare(0, key.size(), key) != 0) {
            continue;
        }
        const std::string topicRest = topic.substr(key.size());
        for (const auto& subscriber : entry.second) {
            subscriber->OnMessage(sender, topicRest, payloadLength,
                                  payloadLength != 0 ? payload : nullptr);
        }
    }
}

void CNorvIPCBase::NotifyError(const std::string& what) {
    const SubscriptionMap copy = CopySubscriptions();
    for (const auto& entry : copy) {
        for (const auto& subscriber : entry.second) {
            subscriber->OnMessage(kPipeErrorSender, what, 0, nullptr);
        }
    }
}

CNorvNamedPipeIPC::CNorvNamedPipeIPC(ITransportIPC* transport) {
    transport_ = transport;
    protocol_ = new CPipeProtocol(transport);
}

CNorvNamedPipeIPC::~CNorvNamedPipeIPC() {
    if (transport_) {
        transport_->Close();
    }
    protocol_.reset();
    transport_.reset();
}

bool CNorvNamedPipeIPC::Subscribe(const std::string& key,
                                  const nvtl::RefCountedPtr<INorvIPCCallback>& subscriber,
                                  bool append) {
    if (!CNorvIPCBase::Subscribe(key, subscriber, append)) {
        return false;
    }
    transport_->SetCallback(this);
    return true;
}

bool CNorvNamedPipeIPC::SendImpl(const std::string& sender, const std::string& topic,
                                 uint32_t payloadLength, const void* payload) {
    if (!protocol_->SendFrame(sender, topic, payloadLength, payload)) {
        return false;
    }
    if (sentCounter_ != nullptr) {
        ++*sentCounter_;
    }
    return true;
}

bool CNorvNamedPipeIPC::ProcessIncoming() {
    std::string sender;
    std::string topic;
    uint32_t payloadLength = 0;
    const char* payload = nullptr;
    if (protocol_->ReceiveFrame(sender, topic, payloadLength, payload)) {
        try {
            Dispatch(sender, topic, payloadLength, payload);
        } catch (...) {
            // A subscriber's failure must not end the reader thread.
        }
        return true;
    }
    const uint32_t error = NorvOS::GetLastSystemError();
    switch (error) {
    case NorvOS::kErrorSuccess:
    case NorvOS::kErrorBrokenPipe:
    case NorvOS::kErrorPipeNotConnected:
        try {
            NotifyError(kPipeErrorTopic);
        } catch (...) {
        }
        return false;
    case NorvOS::kErrorPipeListening:
        return true; // the engine has not connected yet
    default:
        std::printf("\ndwLastError = %d\n", static_cast<int>(error));
        return true;
    }
}

bool CreateNamedPipeIPC(ITransportIPC* transport, nvtl::RefCountedPtr<INorvIPC>* out) {
    if (transport == nullptr || out == nullptr) {
        return false;
    }
    try {
        nvtl::RefCountedPtr<INorvIPC> channel(new CNorvNamedPipeIPC(transport));
        if (!transport->Open()) {
            return false;
        }
        *out = channel;
        return true;
    } catch (...) {
        return false;
    }
}

bool CreatePipeIPC(const std::string& baseName, bool isServer, IPipeLauncher* launcher,
                   nvtl::RefCountedPtr<INorvIPC>* out) {
    if (baseName.empty() || out == nullptr) {
        return false;
    }
    nvtl::RefCountedPtr<ITransportIPC> transport;
    if (!CreatePipeTransport(baseName, isServer, launcher, &transport)) {
        return false;
    }
    return CreateNamedPipeIPC(transport, out);
}

} // namespace nvds
