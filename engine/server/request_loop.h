// The engine's life: connect to the library's pipes, signal the start-up
// event, run each request as a job while reading on, and end as soon as the
// library closes or breaks the pipes, whatever a job is doing.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "ipc/norv_ipc.h"
#include "stop_token.h"

namespace norv_engine {

/// How long a job has to notice that the pipes closed before the engine
/// ends without it.
constexpr int kJobGraceMs = 500;

class RequestLoop {
public:
    explicit RequestLoop(std::string baseName);
    ~RequestLoop();
    RequestLoop(const RequestLoop&) = delete;
    RequestLoop& operator=(const RequestLoop&) = delete;

    /// Serves the library until the pipes close. Returns the process's exit
    /// code: 0, or 1 when the pipes could not be opened.
    int Run();

    /// Called on the channel's reader thread for every frame, and once with
    /// the pipe error topic when the pipes close.
    void Deliver(const std::string& topicRest, const std::string& payload);

private:
    struct Request {
        std::string typeName;
        std::string payload;
        std::shared_ptr<StopToken> stop;
    };

    void Serve();
    void RunJob(const Request& request);
    void Shutdown();

    const std::string baseName_;
    nvtl::RefCountedPtr<nvds::INorvIPC> channel_;

    std::atomic<bool> closing_{false};
    std::mutex lock_;
    std::condition_variable changed_;
    std::deque<Request> queue_;          // requests not yet started
    std::shared_ptr<StopToken> running_; // the running job's token, if any
    bool jobRunning_ = false;
    std::thread worker_;
};

} // namespace norv_engine
