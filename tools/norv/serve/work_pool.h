// A few threads for the page's slow requests (an analysis starts an engine),
// so that the server's own thread only reads and writes.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace norv {

class WorkPool {
public:
    explicit WorkPool(size_t threads);
    ~WorkPool();
    WorkPool(const WorkPool&) = delete;
    WorkPool& operator=(const WorkPool&) = delete;

    /// Queues a task; false once Stop was called.
    bool Post(std::function<void()> task);
    /// Drops the tasks not yet begun and waits for the others.
    void Stop();

private:
    void Work();

    std::mutex lock_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> tasks_;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

} // namespace norv
