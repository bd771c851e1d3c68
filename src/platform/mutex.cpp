// Locks on the standard library's recursive mutex, which maps to a critical
// section on Windows and to a recursive pthread mutex on POSIX.
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

CAutoMutex::CAutoMutex(CNorvMutex* mutex, bool lockNow) : mutex_(mutex), released_(!lockNow) {
    if (lockNow && mutex_ != nullptr) {
        mutex_->Lock();
    }
}

CAutoMutex::~CAutoMutex() {
    Unlock();
    mutex_ = nullptr;
}

void CAutoMutex::Unlock() {
    if (!released_ && mutex_ != nullptr) {
        mutex_->Unlock();
    }
    released_ = true;
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

MutexLock::MutexLock(Mutex& lockable) : lockable_(&lockable) {
    lockable_->Lock();
}

MutexLock::~MutexLock() {
    Release();
}

void MutexLock::Release() {
    if (lockable_ != nullptr) {
        lockable_->Unlock();
        lockable_ = nullptr;
    }
}

} // namespace nvpm
