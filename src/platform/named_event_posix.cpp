// Named start-up events as FIFOs in /dev/shm, mode 0600: the creator holds
// the FIFO open for reading (and writing, so that it never sees a hang-up),
// and each signal is one byte written into it. A FIFO can be polled together
// with the process it waits for.
#include "platform/named_event.h"

#include <cerrno>
#include <chrono>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/process.h"

namespace NorvOS {

namespace {

std::string FifoPath(const std::string& name) {
    return "/dev/shm/norv-event." + name;
}

bool ValidName(const std::string& name) {
    return !name.empty() && name.find('/') == std::string::npos;
}

// True when fd is a FIFO that belongs to this user.
bool IsOwnFifo(int fd) {
    struct stat info {};
    return ::fstat(fd, &info) == 0 && S_ISFIFO(info.st_mode) && info.st_uid == ::geteuid();
}

void CloseFd(int fd) {
    if (fd >= 0) {
        ::close(fd);
    }
}

} // namespace

struct CNamedEvent::Impl {
    int fd = -1;
    std::string path;

    // Takes one pending signal. False when none is there.
    bool TakeSignal() const {
        char byte = 0;
        ssize_t n;
        do {
            n = ::read(fd, &byte, 1);
        } while (n < 0 && errno == EINTR);
        return n == 1;
    }
};

CNamedEvent::CNamedEvent(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

std::unique_ptr<CNamedEvent> CNamedEvent::Create(const std::string& name) {
    if (!ValidName(name)) {
        return nullptr;
    }
    auto impl = std::make_unique<Impl>();
    impl->path = FifoPath(name);
    // A process that ended without cleaning up may have left this name.
    ::unlink(impl->path.c_str());
    if (::mkfifo(impl->path.c_str(), 0600) != 0) {
        return nullptr;
    }
    impl->fd = ::open(impl->path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW);
    if (impl->fd < 0 || !IsOwnFifo(impl->fd)) {
        CloseFd(impl->fd);
        ::unlink(impl->path.c_str());
        return nullptr;
    }
    return std::unique_ptr<CNamedEvent>(new CNamedEvent(std::move(impl)));
}

bool CNamedEvent::Signal(const std::string& name) {
    if (!ValidName(name)) {
        return false;
    }
    // Fails at once when nobody holds the FIFO open for reading.
    const int fd = ::open(FifoPath(name).c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        return false;
    }
    bool posted = false;
    if (IsOwnFifo(fd)) {
        const char byte = 1;
        ssize_t n;
        do {
            n = ::write(fd, &byte, 1);
        } while (n < 0 && errno == EINTR);
        posted = n == 1;
    }
    ::close(fd);
    return posted;
}

CNamedEvent::~CNamedEvent() {
    CloseFd(impl_->fd);
    ::unlink(impl_->path.c_str());
}

bool CNamedEvent::WaitFor(uint32_t timeoutMs, const CChildProcess* endsWith) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    const int processFd = endsWith != nullptr ? static_cast<int>(endsWith->WaitHandle()) : -1;
    for (;;) {
        if (impl_->TakeSignal()) {
            return true;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) {
            return false;
        }
        pollfd entries[2] = {{impl_->fd, POLLIN, 0}, {processFd, POLLIN, 0}};
        const nfds_t count = processFd >= 0 ? 2 : 1;
        const int ready = ::poll(entries, count, static_cast<int>(left));
        if (ready < 0 && errno != EINTR) {
            return false;
        }
        if (ready > 0 && count == 2 && (entries[1].revents & POLLIN) != 0) {
            // The process has ended; a signal it gave just before counts.
            return impl_->TakeSignal();
        }
    }
}

} // namespace NorvOS
