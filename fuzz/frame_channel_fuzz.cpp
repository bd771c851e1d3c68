// The whole receiving channel fed through a real pair of local pipes: a
// server channel opened as the library opens it (its reader thread, its
// dispatch to subscribers), and a client end that writes the input as the
// engine would, then goes away. Every frame the input holds reaches the
// subscribers; whatever follows ends the reader with exactly one pipe-error
// notice per subscription, and the channel is released cleanly. Slower than
// frame_receiver (a channel and its thread per input), it covers what lies
// above the frame protocol.
#include <condition_variable>
#include <mutex>
#include <string>

#include "api/ref_counted_impl.h"
#include "fuzz_support.h"
#include "ipc/norv_ipc.h"
#include "ipc/transport.h"
#include "platform/local_pipe.h"
#include "platform/process.h"

namespace {

class Subscriber final : public nvtl::RefCountedImpl<nvds::INorvIPCCallback> {
public:
    void OnMessage(const std::string& sender, const std::string& topicRest, uint32_t payloadLength,
                   const char* payload) override {
        // Reading every byte handed over lets the sanitizer check its range.
        unsigned sum = 0;
        for (uint32_t i = 0; i < payloadLength; ++i) {
            sum += static_cast<unsigned char>(payload[i]);
        }
        NORV_FUZZ_CHECK((payloadLength == 0) == (payload == nullptr));
        std::lock_guard<std::mutex> guard(lock_);
        checksum_ += sum + static_cast<unsigned>(sender.size() + topicRest.size());
        if (sender == nvds::kPipeErrorSender && topicRest == nvds::kPipeErrorTopic) {
            ++errors_;
            ended_.notify_all();
        }
    }

    void WaitForErrors(int count) {
        std::unique_lock<std::mutex> guard(lock_);
        ended_.wait(guard, [&] { return errors_ >= count; });
    }

    int Errors() {
        std::lock_guard<std::mutex> guard(lock_);
        return errors_;
    }

private:
    std::mutex lock_;
    std::condition_variable ended_;
    int errors_ = 0;
    unsigned checksum_ = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string base =
        "norv-fuzz-channel-" + std::to_string(NorvOS::CurrentProcessId());
    nvtl::RefCountedPtr<nvds::INorvIPC> channel;
    NORV_FUZZ_CHECK(nvds::CreatePipeIPC(base, true, nullptr, &channel));
    NorvOS::CLocalPipe toServer;
    NORV_FUZZ_CHECK(
        toServer.Open(nvds::ClientToServerPipeName(base), NorvOS::PipeDirection::Write));

    // Two keys, one a prefix of the other: a frame may reach both.
    nvtl::RefCountedPtr<Subscriber> subscriber(new Subscriber);
    NORV_FUZZ_CHECK(channel->Subscribe(std::string("TRANS->CONV"), subscriber.get(), false));
    NORV_FUZZ_CHECK(channel->Subscribe(std::string("TRANS->"), subscriber.get(), true));

    // The input fits in the socket's buffer (fuzz/run bounds its length), so
    // the write ends even when the reader refuses a frame half-way.
    if (size != 0) {
        NORV_FUZZ_CHECK(toServer.Write(data, static_cast<uint32_t>(size)));
    }
    toServer.Disconnect();
    subscriber->WaitForErrors(2);
    channel.reset();
    toServer.Close();
    NORV_FUZZ_CHECK(subscriber->Errors() == 2);
    return 0;
}
