// Manual-reset event on a mutex and a condition variable; the Windows build
// uses the system's own events (event_win32.cpp).
#include "platform/event.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace NorvOS {

struct CEvent::Impl {
    std::mutex mutex;
    std::condition_variable cv;
    bool signalled = false;
};

CEvent::CEvent(bool initiallySignalled) : impl_(new Impl) {
    impl_->signalled = initiallySignalled;
}

CEvent::~CEvent() = default;

void CEvent::Set() {
    {
        std::lock_guard<std::mutex> lock(impl_->mutex);
        impl_->signalled = true;
    }
    impl_->cv.notify_all();
}

void CEvent::Reset() {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->signalled = false;
}

void CEvent::Wait() {
    std::unique_lock<std::mutex> lock(impl_->mutex);
    impl_->cv.wait(lock, [this] { return impl_->signalled; });
}

bool CEvent::WaitFor(uint32_t timeoutMs) {
    std::unique_lock<std::mutex> lock(impl_->mutex);
    return impl_->cv.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                              [this] { return impl_->signalled; });
}

bool CEvent::IsSet() {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->signalled;
}

} // namespace NorvOS
