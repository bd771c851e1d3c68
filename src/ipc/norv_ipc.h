// The IPC channel to the engine: messages addressed by sender and topic,
// delivered to subscribers by topic prefix.
#pragma once

#include <cstdint>
#include <string>

#include "norv/refcounted.h"
#include "norv/types.h"

namespace nvds {

class IPipeLauncher;
class ITransportIPC;

/// Topic prefixes of the engine exchange, and the local error notice.
constexpr char kRequestTopicPrefix[] = "CONV->TRANS";
constexpr char kResponseTopicPrefix[] = "TRANS->CONV";
constexpr char kPipeErrorSender[] = "_NorvPipeIPC_::";
constexpr char kPipeErrorTopic[] = "IPCPipeError";
/// Longest sender or topic Send accepts, in bytes.
constexpr uint32_t kMaxAddressLength = 256;

/// A subscriber. OnMessage runs on the channel's reader thread; payload is
/// valid only during the call and is null when payloadLength is 0.
class INorvIPCCallback : public nvtl::IRefCounted {
public:
    virtual void OnMessage(const std::string& sender, const std::string& topicRest,
                           uint32_t payloadLength, const char* payload) = 0;
};

class INorvIPC : public nvtl::IRefCounted {
public:
    /// Adds subscriber under key (replacing the key's subscribers unless
    /// append). Every received frame whose topic begins with key reaches it,
    /// with the topic's remainder. False for an empty key or no subscriber.
    virtual bool Subscribe(const nvt::WideString& key,
                           const nvtl::RefCountedPtr<INorvIPCCallback>& subscriber,
                           bool append) = 0;
    virtual bool Subscribe(const std::string& key,
                           const nvtl::RefCountedPtr<INorvIPCCallback>& subscriber,
                           bool append) = 0;
    /// Sends one frame. sender and topic must be 1 to 256 bytes long, and
    /// payload non-null when payloadLength is not 0. *sentCount (when
    /// sentCount is non-null) is 1 when the frame was written, 0 otherwise.
    virtual bool Send(const nvt::WideString& sender, const nvt::WideString& topic,
                      uint32_t payloadLength, const void* payload, uint32_t* sentCount) = 0;
    virtual bool Send(const std::string& sender, const std::string& topic, uint32_t payloadLength,
                      const void* payload, uint32_t* sentCount) = 0;
};

/// Builds a channel over transport and opens the transport (creating the
/// pipes and, with a launcher, starting and awaiting the engine). The
/// channel is handed out only when the transport opened.
bool CreateNamedPipeIPC(ITransportIPC* transport, nvtl::RefCountedPtr<INorvIPC>* out);

/// CreatePipeTransport followed by CreateNamedPipeIPC. The library is the
/// server end (isServer true); an engine uses the client end with no
/// launcher.
bool CreatePipeIPC(const std::string& baseName, bool isServer, IPipeLauncher* launcher,
                   nvtl::RefCountedPtr<INorvIPC>* out);

} // namespace nvds
