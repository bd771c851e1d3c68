// The frame receiver fed through a real pair of local pipes: the input is
// written by a client end, as the engine writes, into the server end the
// library reads, and the library's frame protocol receives frames from it
// until the stream ends or a frame is refused. Each received frame must be
// whole: lengths within the limits, a payload exactly when its length is not
// 0. No thread is involved, so that a pair of pipes per input stays cheap;
// frame_channel covers the channel's reader and dispatch above this.
#include <string>

#include "api/ref_counted_impl.h"
#include "fuzz_support.h"
#include "ipc/pipe_protocol.h"
#include "ipc/transport.h"
#include "platform/local_pipe.h"
#include "platform/process.h"

namespace {

/// The reading side of a server transport: one local pipe, read on the
/// calling thread.
class ReadingEnd final : public nvtl::RefCountedImpl<nvds::ITransportIPC> {
public:
    explicit ReadingEnd(NorvOS::CLocalPipe& pipe) : pipe_(pipe) {}
    bool Open() override { return true; }
    void Close() override {}
    bool IsConnected() override { return pipe_.IsValid(); }
    bool Write(const void*, uint32_t) override { return false; }
    bool Read(void* buffer, uint32_t count) override { return pipe_.Read(buffer, count); }
    bool SetCallback(nvds::ITransportIPCCallback*) override { return true; }

private:
    NorvOS::CLocalPipe& pipe_;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string name = nvds::ClientToServerPipeName(
        "norv-fuzz-frames-" + std::to_string(NorvOS::CurrentProcessId()));
    NorvOS::CLocalPipe server;
    NorvOS::CLocalPipe client;
    NORV_FUZZ_CHECK(server.Create(name, NorvOS::PipeDirection::Read));
    NORV_FUZZ_CHECK(client.Open(name, NorvOS::PipeDirection::Write));
    // The input fits in the socket's buffer (fuzz/run bounds its length).
    if (size != 0) {
        NORV_FUZZ_CHECK(client.Write(data, static_cast<uint32_t>(size)));
    }
    client.Disconnect();

    nvtl::RefCountedPtr<nvds::ITransportIPC> transport(new ReadingEnd(server));
    nvtl::RefCountedPtr<nvds::IProtocolIPC> protocol;
    NORV_FUZZ_CHECK(nvds::CreatePipeProtocol(transport.get(), &protocol));
    std::string sender;
    std::string topic;
    uint32_t length = 0;
    const char* payload = nullptr;
    size_t consumed = 0;
    while (protocol->ReceiveFrame(sender, topic, length, payload)) {
        NORV_FUZZ_CHECK(sender.size() <= nvds::kMaxReceivedAddressLength);
        NORV_FUZZ_CHECK(topic.size() <= nvds::kMaxReceivedAddressLength);
        NORV_FUZZ_CHECK((length == 0) == (payload == nullptr));
        unsigned sum = 0; // reading every byte lets the sanitizer check the range
        for (uint32_t i = 0; i < length; ++i) {
            sum += static_cast<unsigned char>(payload[i]);
        }
        (void)sum;
        consumed += 16 + sender.size() + 4 + topic.size() + length;
        NORV_FUZZ_CHECK(consumed <= size);
    }
    protocol.reset();
    transport.reset();
    server.Close();
    client.Close();
    return 0;
}
