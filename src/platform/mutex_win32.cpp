// Locks on Windows: CNorvMutex is a critical section (recursive by nature),
// nvpm::Mutex an unnamed kernel mutex (re-entrant for its owning thread).
#include "platform/mutex.h"

#include <new>

#include <windows.h>

namespace NorvOS {

struct CNorvMutex::Impl {
    CRITICAL_SECTION section;
};

CNorvMutex::CNorvMutex() : impl_(new Impl) {
    ::InitializeCriticalSection(&impl_->section);
}

CNorvMutex::~CNorvMutex() {
    ::DeleteCriticalSection(&impl_->section);
}

int CNorvMutex::Lock() {
    ::EnterCriticalSection(&impl_->section);
    return 0;
}

int CNorvMutex::Unlock() {
    ::LeaveCriticalSection(&impl_->section);
    return 0;
}

} // namespace NorvOS

namespace nvpm {

struct Mutex::Impl {
    HANDLE handle = nullptr;
};

Mutex::Mutex() : impl_(new Impl) {
    impl_->handle = ::CreateMutexW(nullptr, FALSE, nullptr);
    if (impl_->handle == nullptr) {
        // Without its handle the lock could not exclude anyone.
        throw std::bad_alloc();
    }
}

Mutex::~Mutex() {
    ::CloseHandle(impl_->handle);
}

void Mutex::Lock() {
    ::WaitForSingleObject(impl_->handle, INFINITE);
}

void Mutex::Unlock() {
    ::ReleaseMutex(impl_->handle);
}

} // namespace nvpm
