// The frame protocol: magic "Norv", payload length, payload CRC, sender
// length, sender, topic length, topic and payload, each its own write.
#pragma once

#include <cstdint>
#include <string>

#include "api/ref_counted_impl.h"
#include "ipc/transport.h"
#include "platform/text.h"

namespace nvds {

/// Received frames are refused beyond these lengths, before anything is
/// allocated for them.
constexpr uint32_t kMaxReceivedAddressLength = 64U * 1024U;
constexpr uint32_t kMaxReceivedPayloadLength = 256U * 1024U * 1024U;

class CPipeProtocol : public nvtl::RefCountedImpl<IProtocolIPC> {
public:
    explicit CPipeProtocol(ITransportIPC* transport);
    ~CPipeProtocol() override;

    bool SendFrame(const std::string& sender, const std::string& topic, uint32_t payloadLength,
                   const void* payload) override;
    /// A failed read leaves the transport's last error; a bad magic, a bad
    /// CRC or a length beyond the limits leaves 0.
    bool ReceiveFrame(std::string& sender, std::string& topic, uint32_t& payloadLength,
                      const char*& payload) override;

private:
    bool WriteValue(uint32_t value);
    bool ReadValue(uint32_t& value);
    bool ReadText(uint32_t length, std::string& text);

    nvtl::RefCountedPtr<ITransportIPC> transport_;
    nvtl::MemoryBuffer<char> receiveBuffer_;
};

} // namespace nvds
