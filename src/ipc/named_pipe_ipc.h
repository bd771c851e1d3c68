// The channel's subscriptions and locking (CNorvIPCBase) and the channel
// over the pipe transport (CNorvNamedPipeIPC).
#pragma once

#include <map>
#include <string>
#include <vector>

#include "api/ref_counted_impl.h"
#include "ipc/norv_ipc.h"
#include "ipc/transport.h"
#include "platform/mutex.h"

namespace nvds {

class CNorvIPCBase : public INorvIPC {
public:
    bool Subscribe(const nvt::WideString& key,
                   const nvtl::RefCountedPtr<INorvIPCCallback>& subscriber, bool append) override;
    bool Subscribe(const std::string& key, const nvtl::RefCountedPtr<INorvIPCCallback>& subscriber,
                   bool append) override;
    bool Send(const nvt::WideString& sender, const nvt::WideString& topic, uint32_t payloadLength,
              const void* payload, uint32_t* sentCount) override;
    bool Send(const std::string& sender, const std::string& topic, uint32_t payloadLength,
              const void* payload, uint32_t* sentCount) override;

protected:
    using SubscriberList = std::vector<nvtl::RefCountedPtr_STLSafe<INorvIPCCallback>>;
    using SubscriptionMap = std::map<std::string, SubscriberList>;

    CNorvIPCBase();
    ~CNorvIPCBase() override;

    /// Writes one frame; runs under sendLock_ and counts a written frame
    /// through sentCounter_.
    virtual bool SendImpl(const std::string& sender, const std::string& topic,
                          uint32_t payloadLength, const void* payload) = 0;

    /// Delivers a received frame to every subscriber whose key prefixes topic.
    void Dispatch(const std::string& sender, const std::string& topic, uint32_t payloadLength,
                  const char* payload);
    /// Tells every subscription entry that the pipe failed.
    void NotifyError(const std::string& what);

    NorvOS::CNorvMutex sendLock_;
    NorvOS::CNorvMutex subscriptionLock_;
    SubscriptionMap subscriptions_;
    nvtl::RefCountedPtr<ITransportIPC> transport_;
    nvtl::RefCountedPtr<IProtocolIPC> protocol_;
    uint32_t* sentCounter_ = nullptr;

private:
    SubscriptionMap CopySubscriptions();
};

class CNorvNamedPipeIPC : public nvtl::RefCountedImpl<CNorvIPCBase>, public ITransportIPCCallback {
public:
    /// Builds the frame protocol over transport; the transport is not opened.
    explicit CNorvNamedPipeIPC(ITransportIPC* transport);
    /// Closes the transport, then releases protocol and transport.
    ~CNorvNamedPipeIPC() override;

    using CNorvIPCBase::Subscribe;
    /// Subscribes, then installs the channel as the transport's callback so
    /// that the reader starts delivering.
    bool Subscribe(const std::string& key, const nvtl::RefCountedPtr<INorvIPCCallback>& subscriber,
                   bool append) override;

    /// Receives one frame and dispatches it; reports a broken pipe to every
    /// subscriber and returns false to end the reader.
    bool ProcessIncoming() override;

protected:
    bool SendImpl(const std::string& sender, const std::string& topic, uint32_t payloadLength,
                  const void* payload) override;
};

} // namespace nvds
