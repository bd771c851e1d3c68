#include "ipc/pipe_protocol.h"

#include <cstring>

#include "ipc/crc.h"
#include "platform/last_error.h"

namespace nvds {

namespace {

const char kMagic[4] = {'N', 'o', 'r', 'v'};

// A frame that fails a test although every read succeeded.
bool RejectFrame() {
    NorvOS::SetLastSystemError(NorvOS::kErrorSuccess);
    return false;
}

} // namespace

CPipeProtocol::CPipeProtocol(ITransportIPC* transport) : transport_(transport) {}

CPipeProtocol::~CPipeProtocol() = default;

bool CPipeProtocol::WriteValue(uint32_t value) {
    const uint8_t bytes[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                              static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
    return transport_->Write(bytes, sizeof(bytes));
}

bool CPipeProtocol::ReadValue(uint32_t& value) {
    uint8_t bytes[4];
    if (!transport_->Read(bytes, sizeof(bytes))) {
        return false;
    }
    value = static_cast<uint32_t>(bytes[0]) | (static_cast<uint32_t>(bytes[1]) << 8) |
            (static_cast<uint32_t>(bytes[2]) << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
    return true;
}

bool CPipeProtocol::ReadText(uint32_t length, std::string& text) {
    text.assign(length, '\0');
    return length == 0 || transport_->Read(&text[0], length);
}

bool CPipeProtocol::SendFrame(const std::string& sender, const std::string& topic,
                              uint32_t payloadLength, const void* payload) {
    if (payloadLength != 0 && payload == nullptr) {
        return false;
    }
    const auto senderLength = static_cast<uint32_t>(sender.size());
    const auto topicLength = static_cast<uint32_t>(topic.size());
    return transport_->Write(kMagic, sizeof(kMagic)) && WriteValue(payloadLength) &&
           WriteValue(FrameCrc(payload, payloadLength)) && WriteValue(senderLength) &&
           transport_->Write(senderLength != 0 ? sender.data() : nullptr, senderLength) &&
           WriteValue(topicLength) &&
           transport_->Write(topicLength != 0 ? topic.data() : nullptr, topicLength) &&
           (payloadLength == 0 || transport_->Write(payload, payloadLength));
}

bool CPipeProtocol::ReceiveFrame(std::string& sender, std::string& topic, uint32_t& payloadLength,
                                 const char*& payload) {
    payloadLength = 0;
    payload = nullptr;
    char magic[4];
    if (!transport_->Read(magic, sizeof(magic))) {
        return false;
    }
    if (std::memcmp(magic, kMagic, sizeof(kMagic)) != 0) {
        return RejectFrame();
    }
    uint32_t length = 0;
    uint32_t crc = 0;
    uint32_t senderLength = 0;
    uint32_t topicLength = 0;
    std::string senderText;
    std::string topicText;
    if (!ReadValue(length)) {
        return false;
    }
    if (length > kMaxReceivedPayloadLength) {
        return RejectFrame();
    }
    if (!ReadValue(crc) || !ReadValue(senderLength)) {
        return false;
    }
    if (senderLength > kMaxReceivedAddressLength) {
        return RejectFrame();
    }
    if (!ReadText(senderLength, senderText) || !ReadValue(topicLength)) {
        return false;
    }
    if (topicLength > kMaxReceivedAddressLength) {
        return RejectFrame();
    }
    if (!ReadText(topicLength, topicText)) {
        return false;
    }
    receiveBuffer_.Resize(length);
    if (receiveBuffer_.Count() != length) {
        return RejectFrame(); // out of memory: the stream cannot be followed
    }
    if (length != 0) {
        if (!transport_->Read(receiveBuffer_.Data(), length)) {
            return false;
        }
        if (FrameCrc(receiveBuffer_.Data(), length) != crc) {
            return RejectFrame();
        }
    }
    sender.swap(senderText);
    topic.swap(topicText);
    payloadLength = length;
    payload = length != 0 ? receiveBuffer_.Data() : nullptr;
    NorvOS::SetLastSystemError(NorvOS::kErrorSuccess);
    return true;
}

bool CreatePipeProtocol(ITransportIPC* transport, nvtl::RefCountedPtr<IProtocolIPC>* out) {
    if (transport == nullptr || out == nullptr) {
        return false;
    }
    try {
        *out = new CPipeProtocol(transport);
        return true;
    } catch (...) {
        return false;
    }
}

} // namespace nvds
