// The scoped guards over the locks, the same on every system.
#include "platform/mutex.h"

namespace NorvOS {

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
