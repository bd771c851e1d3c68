// Manual-reset event on a Windows event object.
#include "platform/event.h"

#include <new>

#include <windows.h>

namespace NorvOS {

struct CEvent::Impl {
    HANDLE handle = nullptr;
};

CEvent::CEvent(bool initiallySignalled) : impl_(new Impl) {
    impl_->handle = ::CreateEventW(nullptr, TRUE, initiallySignalled ? TRUE : FALSE, nullptr);
    if (impl_->handle == nullptr) {
        throw std::bad_alloc();
    }
}

CEvent::~CEvent() {
    ::CloseHandle(impl_->handle);
}

void CEvent::Set() {
    ::SetEvent(impl_->handle);
}

void CEvent::Reset() {
    ::ResetEvent(impl_->handle);
}

void CEvent::Wait() {
    ::WaitForSingleObject(impl_->handle, INFINITE);
}

bool CEvent::WaitFor(uint32_t timeoutMs) {
    // INFINITE is the largest value: a wait that long is still bounded.
    const DWORD wait = timeoutMs == INFINITE ? INFINITE - 1 : timeoutMs;
    return ::WaitForSingleObject(impl_->handle, wait) == WAIT_OBJECT_0;
}

bool CEvent::IsSet() {
    const DWORD state = ::WaitForSingleObject(impl_->handle, 0);
    return state == WAIT_OBJECT_0 || state == WAIT_ABANDONED;
}

} // namespace NorvOS
