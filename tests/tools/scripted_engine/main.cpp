// A stand-in for the engine process, for tests: it opens the pipes as the
// client end of the library's own transport and channel, signals its
// start-up event and answers requests as its options say.
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "api/ref_counted_impl.h"
#include "ipc/crc.h"
#include "ipc/launcher.h"
#include "ipc/norv_ipc.h"
#include "ipc/transport.h"
#include "messages/xml.h"
#include "options.h"
#include "platform/process.h"
#include "replies.h"

namespace scripted {
namespace {

const std::string kTypePrefix = "struct TBS::";

struct Message {
    std::string topic; // without the subscription key; "IPCPipeError" for a broken pipe
    std::string payload;
};

/// Subscriber that queues every message for the main thread.
class Inbox : public nvtl::RefCountedImpl<nvds::INorvIPCCallback> {
public:
    void OnMessage(const std::string& sender, const std::string& topicRest, uint32_t payloadLength,
                   const char* payload) override {
        Message message;
        (void)sender;
        message.topic = topicRest;
        if (payload != nullptr) {
            message.payload.assign(payload, payloadLength);
        }
        std::lock_guard<std::mutex> guard(lock_);
        queue_.push_back(std::move(message));
        ready_.notify_all();
    }

    /// Waits, without time-out, for the next message. A broken pipe always
    /// ends up queued, so the wait ends.
    Message Wait() {
        std::unique_lock<std::mutex> guard(lock_);
        ready_.wait(guard, [this] { return !queue_.empty(); });
        return Take();
    }

    /// The next message if one is queued; false, without waiting, if not.
    bool Poll(Message& out) {
        std::lock_guard<std::mutex> guard(lock_);
        if (queue_.empty()) {
            return false;
        }
        out = Take();
        return true;
    }

private:
    Message Take() {
        Message message = std::move(queue_.front());
        queue_.pop_front();
        return message;
    }

    std::mutex lock_;
    std::condition_variable ready_;
    std::deque<Message> queue_;
};

void SleepMs(uint32_t ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

[[noreturn]] void Die(int code) {
    std::fflush(nullptr);
    std::_Exit(code);
}

class Engine {
public:
    explicit Engine(const Options& options) : o_(options) {}

    int Run() {
        if (o_.speak) {
            // The same descriptor as its parent's: the library's own
            // diagnostic line lands there too.
            std::printf("\ndwLastError = 31\n");
            std::fflush(stdout);
        }
        if (!o_.pidFile.empty()) {
            std::ofstream(o_.pidFile) << NorvOS::CurrentProcessId() << "\n";
        }
        if (o_.signalOnly) {
            return nvds::SignalStartupEvent() ? 0 : 1;
        }
        if (o_.noStartup) {
            SleepMs(o_.lingerMs);
            return 0;
        }
        SleepMs(o_.startupDelayMs);
        // Opening the channel opens both pipes and signals the start-up event.
        if (!nvds::CreatePipeTransport(o_.baseName, false, nullptr, &transport_) ||
            !nvds::CreateNamedPipeIPC(transport_, &channel_)) {
            std::fprintf(stderr, "scripted-engine: cannot open the pipes of %s\n",
                         o_.baseName.c_str());
            return 1;
        }
        if (o_.closePipes) {
            transport_->Close();
            SleepMs(o_.lingerMs);
            return 0;
        }
        if (!o_.deafTo.empty()) {
            // Without a subscription the channel's reader never reads.
            AnswerNormally(o_.deafTo, std::string());
            SleepMs(o_.lingerMs);
            return 0;
        }
        inbox_ = new Inbox;
        channel_->Subscribe(std::string(nvds::kRequestTopicPrefix), inbox_.get(), false);
        for (uint32_t i = 0; i < o_.greetings; ++i) {
            SendText("greeting", "greeting " + std::to_string(i + 1));
        }
        const int code = Serve();
        channel_.reset();
        transport_.reset();
        return code;
    }

private:
    // Answers requests until the pipes close.
    int Serve() {
        for (;;) {
            const Message message = inbox_->Wait();
            if (IsPipeError(message)) {
                return PipesClosed();
            }
            Handle(message);
        }
    }

    static bool IsPipeError(const Message& message) {
        return message.topic == nvds::kPipeErrorTopic;
    }

    int PipesClosed() {
        if (o_.ignoreClose) {
            SleepMs(o_.lingerMs);
        }
        return 0;
    }

    void Record(const Message& message) {
        if (o_.recordFile.empty()) {
            return;
        }
        std::ofstream out(o_.recordFile, std::ios::binary | std::ios::app);
        out << "@@ " << RecordName(message.topic) << " " << message.payload.size() << "\n"
            << message.payload << "\n";
    }

    static std::string RecordName(const std::string& topic) {
        return topic.compare(0, kTypePrefix.size(), kTypePrefix) == 0
                   ? topic.substr(kTypePrefix.size())
                   : topic;
    }

    void Handle(const Message& message) {
        Record(message);
        const std::string record = RecordName(message.topic);
        ReplyMode mode = o_.reply;
        if (!o_.replyTo.empty() && record != o_.replyTo) {
            mode = ReplyMode::Normal;
        }
        if (record == "CancelTranscodingRequest" && mode == ReplyMode::Normal) {
            AnswerCancel();
            return;
        }
        switch (mode) {
        case ReplyMode::Normal:
            AnswerNormally(record, message.payload);
            break;
        case ReplyMode::Error:
            SendText("error", std::string());
            break;
        case ReplyMode::Exit:
            SendText("exit", std::string());
            break;
        case ReplyMode::None:
            break;
        case ReplyMode::Die:
            DieHere(3, record);
        case ReplyMode::BadMagic:
            SendRawFrame("Xorv", "abc", false);
            break;
        case ReplyMode::BadCrc:
            SendRawFrame("Norv", "abc", true);
            break;
        case ReplyMode::Echo:
            SendText("echo", message.payload);
            break;
        }
    }

    void AnswerNormally(const std::string& record, const std::string& payload) {
        if (record == "TechnicalInfoRequest") {
            TBS::TechnicalInfoRequest request;
            TBS::FromXml(payload, request);
            if (!o_.sandbox.empty() && !request.technicalDetailsFile.empty()) {
                std::ofstream(request.technicalDetailsFile) << "Sandbox: " << o_.sandbox << "\n";
            }
            SendRecord(MakeTechnicalInfo(o_));
        } else if (record == "AnalyzeRequest") {
            TBS::AnalyzeRequest request;
            TBS::FromXml(payload, request);
            SendRecord(MakeAnalysis(o_, request));
        } else if (record == "TranscodeRequest") {
            TBS::TranscodeRequest request;
            TBS::FromXml(payload, request);
            Transcode(request);
        } else {
            SendText("error", std::string());
        }
    }

    void Transcode(const TBS::TranscodeRequest& request) {
        const auto records = o_.progressScript.empty()
                                 ? o_.progressCount
                                 : static_cast<uint32_t>(o_.progressScript.size());
        for (uint32_t i = 0; i < records; ++i) {
            if (o_.dieAfterProgress == static_cast<int64_t>(i)) {
                DieHere(4, "ProgressResponse");
            }
            if (CancelArrived()) {
                return;
            }
            SendProgress(request, i);
            if (o_.writeOutput) {
                std::ofstream(request.outputFile, std::ios::app) << "progress " << i << "\n";
            }
            SleepMs(o_.progressIntervalMs);
        }
        if (o_.dieAfterProgress == static_cast<int64_t>(records)) {
            DieHere(4, "TranscodeResponse");
        }
        if (o_.waitCancel) {
            for (;;) {
                const Message message = inbox_->Wait();
                if (IsPipeError(message)) {
                    Die(PipesClosed());
                }
                Record(message);
                if (RecordName(message.topic) == "CancelTranscodingRequest") {
                    AnswerCancel();
                    return;
                }
            }
        }
        SendRecord(MakeTranscodeResult(o_.result, o_.resultDescription));
    }

    void SendProgress(const TBS::TranscodeRequest& request, uint32_t index) {
        if (o_.progressScript.empty()) {
            SendRecord(MakeProgress(o_, request, index));
        } else if (o_.progressScript[index].unreadable) {
            SendText(TypeName(TBS::ProgressResponse()), "not a progress record");
        } else {
            SendRecord(MakeScriptedProgress(o_.progressScript, request, index));
        }
    }

    // Handles whatever arrived during a run; true when the run was cancelled.
    bool CancelArrived() {
        Message message;
        while (inbox_->Poll(message)) {
            if (IsPipeError(message)) {
                Die(PipesClosed());
            }
            Record(message);
            if (RecordName(message.topic) == "CancelTranscodingRequest") {
                AnswerCancel();
                return true;
            }
        }
        return false;
    }

    void AnswerCancel() {
        switch (o_.cancel) {
        case CancelMode::Response:
            SendRecord(MakeTranscodeResult(o_.cancelResult, "cancelled"));
            break;
        case CancelMode::Exit:
            SendText("exit", std::string());
            break;
        case CancelMode::None:
            break;
        }
    }

    template <class Record> void SendRecord(const Record& record) {
        std::string xml;
        if (!TBS::ToXml(record, xml)) {
            std::fprintf(stderr, "scripted-engine: cannot serialise a reply\n");
            return;
        }
        SendText(TypeName(record), xml);
    }

    static std::string TypeName(const TBS::TechnicalInfoResponse&) {
        return kTypePrefix + "TechnicalInfoResponse";
    }
    static std::string TypeName(const TBS::AnalyzeResponse&) {
        return kTypePrefix + "AnalyzeResponse";
    }
    static std::string TypeName(const TBS::ProgressResponse&) {
        return kTypePrefix + "ProgressResponse";
    }
    static std::string TypeName(const TBS::TranscodeResponse&) {
        return kTypePrefix + "TranscodeResponse";
    }

    void SendText(const std::string& topicRest, const std::string& payload) {
        uint32_t sent = 0;
        channel_->Send(o_.sender, nvds::kResponseTopicPrefix + topicRest,
                       static_cast<uint32_t>(payload.size()),
                       payload.empty() ? nullptr : payload.data(), &sent);
    }

    // Ends the process where the script says so: with --die-mid-frame after
    // writing the first half of a frame of the named record, by SIGKILL
    // (Windows has none; _Exit ends the process as abruptly there).
    [[noreturn]] void DieHere(int code, const std::string& record) {
        if (o_.dieMidFrame) {
            const std::string payload(512, 'x');
            const std::string topic = nvds::kResponseTopicPrefix + kTypePrefix + record;
            std::string frame = "Norv";
            for (uint32_t v :
                 {static_cast<uint32_t>(payload.size()), nvds::FrameCrc(payload.data(), 512),
                  static_cast<uint32_t>(o_.sender.size())}) {
                frame += FieldBytes(v);
            }
            frame += o_.sender + FieldBytes(static_cast<uint32_t>(topic.size())) + topic + payload;
            transport_->Write(frame.data(), static_cast<uint32_t>(frame.size() / 2));
#if defined(SIGKILL)
            std::raise(SIGKILL);
#endif
        }
        Die(code);
    }

    static std::string FieldBytes(uint32_t v) {
        return std::string{static_cast<char>(v), static_cast<char>(v >> 8),
                           static_cast<char>(v >> 16), static_cast<char>(v >> 24)};
    }

    // Writes one frame field by field straight to the transport, with the
    // given magic and, when corrupt, a CRC that does not match the payload.
    void SendRawFrame(const char* magic, const std::string& payload, bool corrupt) {
        const std::string topic = std::string(nvds::kResponseTopicPrefix) + "garbage";
        auto value = [this](uint32_t v) {
            const uint8_t bytes[4] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8),
                                      static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 24)};
            transport_->Write(bytes, 4);
        };
        const auto length = static_cast<uint32_t>(payload.size());
        const uint32_t crc = nvds::FrameCrc(payload.data(), length);
        transport_->Write(magic, 4);
        value(length);
        value(corrupt ? crc ^ 0x1U : crc);
        value(static_cast<uint32_t>(o_.sender.size()));
        transport_->Write(o_.sender.data(), static_cast<uint32_t>(o_.sender.size()));
        value(static_cast<uint32_t>(topic.size()));
        transport_->Write(topic.data(), static_cast<uint32_t>(topic.size()));
        transport_->Write(payload.data(), length);
    }

    const Options& o_;
    nvtl::RefCountedPtr<nvds::ITransportIPC> transport_;
    nvtl::RefCountedPtr<nvds::INorvIPC> channel_;
    nvtl::RefCountedPtr<Inbox> inbox_;
};

} // namespace
} // namespace scripted

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    scripted::Options options;
    std::string error;
    if (!scripted::ParseOptions(args, options, error)) {
        std::fprintf(stderr, "scripted-engine: %s\n%s", error.c_str(), scripted::Usage());
        return 2;
    }
    if (options.help) {
        std::fputs(scripted::Usage(), stdout);
        return 0;
    }
    if (options.exitAtOnce) {
        return 0;
    }
    return scripted::Engine(options).Run();
}
