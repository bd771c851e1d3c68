// The bytes of frames as the wire carries them, built by hand for tests,
// and the raw peer's reads of values and texts, the same on every system.
#include "ipc/crc.h"
#include "support/raw_pipe_peer.h"

namespace norv_test {

uint32_t RawPipePeer::ReceiveValue(uint32_t timeoutMs) {
    uint8_t b[4] = {0, 0, 0, 0};
    if (!Receive(b, 4, timeoutMs)) {
        return 0xDEADDEADU;
    }
    return b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<uint32_t>(b[3]) << 24);
}

std::string RawPipePeer::ReceiveText(size_t size, uint32_t timeoutMs) {
    std::string text(size, '\0');
    if (size != 0 && !Receive(&text[0], size, timeoutMs)) {
        return "<nothing received>";
    }
    return text;
}

std::string EncodeValue(uint32_t value) {
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i) {
        bytes[i] = static_cast<char>((value >> (8 * i)) & 0xFFU);
    }
    return bytes;
}

std::string EncodeFrame(const std::string& sender, const std::string& topic,
                        const std::string& payload) {
    const auto n = static_cast<uint32_t>(payload.size());
    return "Norv" + EncodeValue(n) + EncodeValue(nvds::FrameCrc(payload.data(), n)) +
           EncodeValue(static_cast<uint32_t>(sender.size())) + sender +
           EncodeValue(static_cast<uint32_t>(topic.size())) + topic + payload;
}

} // namespace norv_test
