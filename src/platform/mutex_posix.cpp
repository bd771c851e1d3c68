// Locks on the standard library's recursive mutex (a recursive pthread mutex on
// POSIX); the Windows build has its own in mutex_win32.cpp.
#include "platform/mutex.h"

#include <mutex>

namespace NorvOS {

struct CNorvMutex::Impl {
    std::recursive_mutex mutex;
};

CNorvMutex::CNorvMutex() : impl_(new Impl) {}
CNorvMutex::~CNorvMutex() = default;

int CNorvMutex::Lock() {
    impl_->mutex.lock();
    return 0;
}

int CNorvMutex::Unlock() {
    impl_->mutex.unlock();
    return 0;
}

} // namespace NorvOS

namespace nvpm {

struct Mutex::Impl {
    std::recursive_mutex mutex;
};

Mutex::Mutex() : impl_(new Impl) {}
Mutex::~Mutex() = default;

void Mutex::Lock() {
    impl_->mutex.lock();
}
void Mutex::Unlock() {
    impl_->mutex.unlock();
}

} // namespace nvpm
