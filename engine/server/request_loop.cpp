#include "request_loop.h"

#include <chrono>
#include <cstdlib>

#include "api/ref_counted_impl.h"
#include "engine_log.h"
#include "ipc/transport.h"
#include "output_file.h"
#include "replier.h"
#include "requests.h"
#include "sandbox.h"

namespace norv_engine {

namespace {

/// Hands every frame of the channel to the loop.
class Inbox : public nvtl::RefCountedImpl<nvds::INorvIPCCallback> {
public:
    explicit Inbox(RequestLoop* loop) : loop_(loop) {}

    void OnMessage(const std::string& /*sender*/, const std::string& topicRest,
                   uint32_t payloadLength, const char* payload) override {
        loop_->Deliver(topicRest,
                       payload != nullptr ? std::string(payload, payloadLength) : std::string());
    }

private:
    RequestLoop* const loop_;
};

} // namespace

RequestLoop::RequestLoop(std::string baseName) : baseName_(std::move(baseName)) {}

RequestLoop::~RequestLoop() {
    if (worker_.joinable()) {
        worker_.join();
    }
}

int RequestLoop::Run() {
    // Opening the client end connects the server-to-client pipe, then the
    // client-to-server pipe, then signals the start-up event.
    nvtl::RefCountedPtr<nvds::ITransportIPC> transport;
    if (!nvds::CreatePipeTransport(baseName_, false, nullptr, &transport) ||
        !nvds::CreateNamedPipeIPC(transport, &channel_)) {
        LogLine(Severity::Critical, "cannot open the pipes of %s", baseName_.c_str());
        return 1;
    }
    channel_->Subscribe(std::string(nvds::kRequestTopicPrefix), new Inbox(this), false);
    // Connected: nothing the engine does from here on needs more.
    LockDownEngine();
    Serve();
    Shutdown();
    return 0;
}

void RequestLoop::Deliver(const std::string& topicRest, const std::string& payload) {
    std::lock_guard<std::mutex> guard(lock_);
    if (topicRest == nvds::kPipeErrorTopic) {
        closing_ = true;
    } else if (topicRest == CancelTypeName()) {
        // Stops the running job and every request received before the cancel.
        if (running_) {
            running_->Cancel();
        }
        for (Request& queued : queue_) {
            queued.stop->Cancel();
        }
        LogLine(Severity::Info, "cancel requested");
    } else {
        queue_.push_back(Request{topicRest, payload, std::make_shared<StopToken>(closing_)});
    }
    changed_.notify_all();
}

void RequestLoop::Serve() {
    std::unique_lock<std::mutex> guard(lock_);
    for (;;) {
        changed_.wait(guard, [this] { return closing_ || (!jobRunning_ && !queue_.empty()); });
        if (closing_) {
            return;
        }
        Request request = std::move(queue_.front());
        queue_.pop_front();
        jobRunning_ = true;
        running_ = request.stop;
        if (worker_.joinable()) {
            worker_.join(); // the previous job's thread, which has finished
        }
        worker_ = std::thread([this, request] {
            RunJob(request);
            std::lock_guard<std::mutex> done(lock_);
            jobRunning_ = false;
            running_.reset();
            changed_.notify_all();
        });
    }
}

void RequestLoop::RunJob(const Request& request) {
    Replier reply(channel_.get());
    const RequestHandler handler = FindHandler(request.typeName);
    if (handler == nullptr) {
        LogLine(Severity::Warning, "unknown request %s", request.typeName.c_str());
        reply.SendError();
        return;
    }
    try {
        handler(request.payload, *request.stop, reply);
    } catch (const std::exception& e) {
        LogLine(Severity::Error, "%s failed: %s", request.typeName.c_str(), e.what());
        reply.SendError();
    }
}

void RequestLoop::Shutdown() {
    {
        // The job's inputs see the closing flag through their interrupt
        // callbacks; one that does not end in time is not waited for.
        std::unique_lock<std::mutex> guard(lock_);
        if (!changed_.wait_for(guard, std::chrono::milliseconds(kJobGraceMs),
                               [this] { return !jobRunning_; })) {
            LogLine(Severity::Warning, "the pipes closed; ending without the running job");
            // The job cannot remove its partial output any more: that is
            // done here, and no output starts a file after it.
            OutputFile::RemoveUnfinishedBeforeExit();
            std::_Exit(0);
        }
    }
    if (worker_.joinable()) {
        worker_.join();
    }
    LogLine(Severity::Info, "the pipes closed; ending");
    channel_.reset();
}

} // namespace norv_engine
