// Locks: the recursive lock CNorvMutex with its scoped guard CAutoMutex, and
// the re-entrant mutex nvpm::Mutex with its guard nvpm::MutexLock.
// Every wait is unbounded.
#pragma once

#include <memory>

namespace NorvOS {

/// Recursive lock: the owning thread may lock it again and must unlock it as
/// often.
class CNorvMutex {
public:
    CNorvMutex();
    virtual ~CNorvMutex();
    CNorvMutex(const CNorvMutex&) = delete;
    CNorvMutex& operator=(const CNorvMutex&) = delete;

    /// Blocks until the lock is held. Returns 0.
    int Lock();
    /// Releases one level of the lock. Returns 0.
    int Unlock();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

/// Scoped guard over a CNorvMutex (which it does not own).
class CAutoMutex {
public:
    /// Locks the mutex at once when lockNow is true and the mutex is non-null.
    explicit CAutoMutex(CNorvMutex* mutex, bool lockNow = true);
    virtual ~CAutoMutex();
    CAutoMutex(const CAutoMutex&) = delete;
    CAutoMutex& operator=(const CAutoMutex&) = delete;

    /// Unlocks once, if still held by this guard.
    void Unlock();

private:
    CNorvMutex* mutex_;
    bool released_;
};

} // namespace NorvOS

namespace nvpm {

/// Re-entrant mutex for its owning thread.
class Mutex {
public:
    Mutex();
    virtual ~Mutex();
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;

    virtual void Unlock();
    virtual void Lock();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

/// Scoped guard: locks in the constructor, unlocks in the destructor unless
/// already released.
class MutexLock {
public:
    explicit MutexLock(Mutex& lockable);
    virtual ~MutexLock();
    MutexLock(const MutexLock&) = delete;
    MutexLock& operator=(const MutexLock&) = delete;

    /// Unlocks now instead of at destruction.
    void Release();

private:
    Mutex* lockable_;
};

} // namespace nvpm
