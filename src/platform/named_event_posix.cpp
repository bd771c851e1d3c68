// Named start-up events as POSIX named semaphores: the name is "/" followed
// by the event name; created with value 0 and mode 0600.
#include "platform/named_event.h"

#include <cerrno>
#include <ctime>

#include <fcntl.h>
#include <semaphore.h>
#include <sys/stat.h>

namespace NorvOS {

namespace {
std::string SemaphoreName(const std::string& name) {
    return "/" + name;
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
    impl->semaphore = ::sem_open(impl->name.c_str(), O_CREAT | O_EXCL, 0600, 0);
    if (impl->semaphore == SEM_FAILED) {
        return nullptr;
    }
    return std::unique_ptr<CNamedEvent>(new CNamedEvent(std::move(impl)));
}

bool CNamedEvent::Signal(const std::string& name) {
    if (name.empty() || name.find('/') != std::string::npos) {
        return false;
    }
    sem_t* semaphore = ::sem_open(SemaphoreName(name).c_str(), 0);
    if (semaphore == SEM_FAILED) {
        return false;
    }
    const bool posted = ::sem_post(semaphore) == 0;
    ::sem_close(semaphore);
    return posted;
}

CNamedEvent::~CNamedEvent() {
    ::sem_close(impl_->semaphore);
    ::sem_unlink(impl_->name.c_str());
}

bool CNamedEvent::WaitFor(uint32_t timeoutMs) {
    timespec deadline{};
    ::clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += static_cast<time_t>(timeoutMs / 1000);
    deadline.tv_nsec += static_cast<long>(timeoutMs % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000000000L;
    }
    for (;;) {
        if (::sem_clockwait(impl_->semaphore, CLOCK_MONOTONIC, &deadline) == 0) {
            return true;
        }
        if (errno != EINTR) {
            return false;
        }
    }
}

} // namespace NorvOS
