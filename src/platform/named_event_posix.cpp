// Named start-up events as POSIX named semaphores: the name is "/" followed
// by the event name; created with value 0 and mode 0600.
//
// A semaphore cannot be polled together with a process. A wait that also
// ends with a process therefore runs a watcher thread for its duration: the
// watcher polls the process's pidfd and, when the process ends, posts the
// semaphore itself; its post is taken back before the wait returns.
#include "platform/named_event.h"

#include <cerrno>
#include <ctime>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <semaphore.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/process.h"

namespace NorvOS {

namespace {

std::string SemaphoreName(const std::string& name) {
    return "/" + name;
}

// The C library keeps the process's open semaphores in one table, guarded by
// a lock of its own that ThreadSanitizer cannot see. Opening and closing
// under this lock too keeps events made on several threads at once from
// being reported as a race inside that table.
std::mutex& SemaphoreTableLock() {
    static std::mutex lock;
    return lock;
}

sem_t* OpenSemaphore(const std::string& name, int flags) {
    std::lock_guard<std::mutex> guard(SemaphoreTableLock());
    return ::sem_open(name.c_str(), flags, 0600, 0);
}

void CloseSemaphore(sem_t* semaphore) {
    std::lock_guard<std::mutex> guard(SemaphoreTableLock());
    ::sem_close(semaphore);
}

timespec DeadlineAfter(uint32_t timeoutMs) {
    timespec deadline{};
    ::clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += static_cast<time_t>(timeoutMs / 1000);
    deadline.tv_nsec += static_cast<long>(timeoutMs % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000000000L;
    }
    return deadline;
}

bool WaitUntil(sem_t* semaphore, const timespec& deadline) {
    for (;;) {
        if (::sem_clockwait(semaphore, CLOCK_MONOTONIC, &deadline) == 0) {
            return true;
        }
        if (errno != EINTR) {
            return false;
        }
    }
}

// Takes every pending post; returns how many there were.
int TakeAll(sem_t* semaphore) {
    int taken = 0;
    while (::sem_trywait(semaphore) == 0) {
        ++taken;
    }
    return taken;
}

// Posts semaphore when the process behind processFd ends, unless cancelFd
// becomes readable first. Returns whether it posted.
bool WatchProcess(int processFd, int cancelFd, sem_t* semaphore) {
    pollfd entries[2] = {{processFd, POLLIN, 0}, {cancelFd, POLLIN, 0}};
    while (::poll(entries, 2, -1) < 0) {
        if (errno != EINTR) {
            return false;
        }
    }
    if ((entries[0].revents & POLLIN) == 0) {
        return false;
    }
    ::sem_post(semaphore);
    return true;
}

} // namespace

struct CNamedEvent::Impl {
    sem_t* semaphore = SEM_FAILED;
    std::string name;
};

CNamedEvent::CNamedEvent(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

std::unique_ptr<CNamedEvent> CNamedEvent::Create(const std::string& name) {
    if (name.empty() || name.find('/') != std::string::npos) {
        return nullptr;
    }
    auto impl = std::make_unique<Impl>();
    impl->name = SemaphoreName(name);
    // A process that ended without cleaning up may have left this name.
    ::sem_unlink(impl->name.c_str());
    impl->semaphore = OpenSemaphore(impl->name, O_CREAT | O_EXCL);
    if (impl->semaphore == SEM_FAILED) {
        return nullptr;
    }
    return std::unique_ptr<CNamedEvent>(new CNamedEvent(std::move(impl)));
}

bool CNamedEvent::Signal(const std::string& name) {
    if (name.empty() || name.find('/') != std::string::npos) {
        return false;
    }
    sem_t* semaphore = OpenSemaphore(SemaphoreName(name), 0);
    if (semaphore == SEM_FAILED) {
        return false;
    }
    const bool posted = ::sem_post(semaphore) == 0;
    CloseSemaphore(semaphore);
    return posted;
}

CNamedEvent::~CNamedEvent() {
    CloseSemaphore(impl_->semaphore);
    ::sem_unlink(impl_->name.c_str());
}

bool CNamedEvent::WaitFor(uint32_t timeoutMs, const CChildProcess* endsWith) {
    const timespec deadline = DeadlineAfter(timeoutMs);
    const int processFd = endsWith != nullptr ? static_cast<int>(endsWith->WaitHandle()) : -1;
    int cancel[2] = {-1, -1};
    if (processFd < 0 || ::pipe2(cancel, O_CLOEXEC) != 0) {
        return WaitUntil(impl_->semaphore, deadline);
    }
    sem_t* const semaphore = impl_->semaphore;
    bool watcherPosted = false;
    std::thread watcher;
    try {
        watcher =
            std::thread([&] { watcherPosted = WatchProcess(processFd, cancel[0], semaphore); });
    } catch (...) {
        ::close(cancel[0]);
        ::close(cancel[1]);
        return WaitUntil(semaphore, deadline);
    }
    const bool woken = WaitUntil(semaphore, deadline);
    const char stop = 1;
    while (::write(cancel[1], &stop, 1) < 0 && errno == EINTR) {
    }
    watcher.join();
    ::close(cancel[0]);
    ::close(cancel[1]);
    if (!watcherPosted) {
        return woken;
    }
    // One of the posts taken was the watcher's; any other came from the
    // process before it ended.
    const int taken = (woken ? 1 : 0) + TakeAll(semaphore);
    return taken > 1;
}

} // namespace NorvOS
