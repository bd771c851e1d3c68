#include "serve/work_pool.h"

namespace norv {

WorkPool::WorkPool(size_t threads) {
    for (size_t i = 0; i < threads; ++i) {
        threads_.emplace_back([this] { Work(); });
    }
}

WorkPool::~WorkPool() {
    Stop();
}

bool WorkPool::Post(std::function<void()> task) {
    std::lock_guard<std::mutex> hold(lock_);
    if (stopping_) {
        return false;
    }
    tasks_.push_back(std::move(task));
    wake_.notify_one();
    return true;
}

void WorkPool::Stop() {
    std::deque<std::function<void()>> dropped;
    {
        std::lock_guard<std::mutex> hold(lock_);
        stopping_ = true;
        dropped.swap(tasks_);
        wake_.notify_all();
    }
    dropped.clear(); // outside the lock: a task may hold what takes it
    for (std::thread& thread : threads_) {
        if (thread.joinable()) {
            thread.join();
        }
    }
}

void WorkPool::Work() {
    for (;;) {
        std::function<void()> task;
        {
            std::unique_lock<std::mutex> hold(lock_);
            wake_.wait(hold, [this] { return stopping_ || !tasks_.empty(); });
            if (stopping_) {
                return;
            }
            task = std::move(tasks_.front());
            tasks_.pop_front();
        }
        task();
    }
}

} // namespace norv
