// Named start-up events as Windows event objects: manual reset, created not
// signalled. A successful wait resets the event, so that each signal
// satisfies one wait as on the other systems.
#include "platform/named_event.h"

#include <windows.h>

#include "platform/process.h"
#include "platform/text.h"

namespace NorvOS {

namespace {

// Backslashes would address a kernel namespace, and slashes are refused on
// every system; either makes the name invalid.
bool ValidName(const std::string& name) {
    return !name.empty() && name.find_first_of("/\\") == std::string::npos;
}

} // namespace

struct CNamedEvent::Impl {
    HANDLE handle = nullptr;
};

CNamedEvent::CNamedEvent(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

std::unique_ptr<CNamedEvent> CNamedEvent::Create(const std::string& name) {
    const nvt::WideString wide = nvt::Utf8ToWide(name);
    if (!ValidName(name) || wide.empty()) {
        return nullptr;
    }
    auto impl = std::make_unique<Impl>();
    impl->handle = ::CreateEventW(nullptr, TRUE, FALSE, wide.c_str());
    if (impl->handle == nullptr) {
        return nullptr;
    }
    // An event of this name that someone still holds is the same object:
    // start it afresh, not signalled.
    if (::GetLastError() == ERROR_ALREADY_EXISTS) {
        ::ResetEvent(impl->handle);
    }
    return std::unique_ptr<CNamedEvent>(new CNamedEvent(std::move(impl)));
}

bool CNamedEvent::Signal(const std::string& name) {
    const nvt::WideString wide = nvt::Utf8ToWide(name);
    if (!ValidName(name) || wide.empty()) {
        return false;
    }
    HANDLE event = ::OpenEventW(EVENT_ALL_ACCESS, FALSE, wide.c_str());
    if (event == nullptr) {
        return false;
    }
    const bool set = ::SetEvent(event) != FALSE;
    ::CloseHandle(event);
    return set;
}

CNamedEvent::~CNamedEvent() {
    ::CloseHandle(impl_->handle);
}

bool CNamedEvent::WaitFor(uint32_t timeoutMs, const CChildProcess* endsWith) {
    const DWORD wait = timeoutMs == INFINITE ? INFINITE - 1 : timeoutMs;
    const intptr_t process = endsWith != nullptr ? endsWith->WaitHandle() : -1;
    DWORD outcome = WAIT_FAILED;
    if (process == -1) {
        outcome = ::WaitForSingleObject(impl_->handle, wait);
    } else {
        // The event comes first, so a signal wins over the process's end
        // when both are there.
        const HANDLE objects[2] = {impl_->handle, reinterpret_cast<HANDLE>(process)};
        outcome = ::WaitForMultipleObjects(2, objects, FALSE, wait);
        if (outcome == WAIT_OBJECT_0 + 1) {
            // The process ended; a signal it gave just before counts.
            outcome = ::WaitForSingleObject(impl_->handle, 0);
        }
    }
    if (outcome != WAIT_OBJECT_0) {
        return false;
    }
    ::ResetEvent(impl_->handle);
    return true;
}

} // namespace NorvOS
