// Local pipes as Unix-domain stream sockets in Linux's abstract namespace.
// The address is one NUL byte followed by the pipe name, without terminator.
#include "platform/local_pipe.h"

#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <linux/sockios.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "platform/last_error.h"

namespace NorvOS {

namespace {

uint32_t MapErrno(int err) {
    switch (err) {
    case ECONNRESET:
    case EPIPE:
        return kErrorBrokenPipe;
    case ENOTCONN:
    case EBADF:
    case ENOTSOCK:
        return kErrorPipeNotConnected;
    case ECONNREFUSED:
    case ENOENT:
        return kErrorFileNotFound;
    case EAGAIN:
        return kErrorPipeBusy;
    case EADDRINUSE:
    case EACCES:
    case EPERM:
        return kErrorAccessDenied;
    case ENOMEM:
    case ENOBUFS:
        return kErrorNotEnoughMemory;
    default:
        return kErrorGenFailure;
    }
}

bool MakeAddress(const std::string& name, sockaddr_un& address, socklen_t& length) {
    if (name.empty() || name.size() > CLocalPipe::kMaxNameLength) {
        return false;
    }
    std::memset(&address, 0, sizeof(address));
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path + 1, name.data(), name.size());
    length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
    return true;
}

// The address of a pipe name and a fresh non-blocking, close-on-exec stream
// socket for it. Returns -1 with the last error set when the name does not
// fit or no socket can be had.
int NewSocketFor(const std::string& name, sockaddr_un& address, socklen_t& length) {
    if (!MakeAddress(name, address, length)) {
        SetLastSystemError(kErrorInvalidName);
        return -1;
    }
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        SetLastSystemError(MapErrno(errno));
    }
    return fd;
}

void CloseFd(int& fd) {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

} // namespace

struct CLocalPipe::Impl {
    mutable std::mutex lock;
    // Server end: listens until its client is accepted. The descriptor is
    // shut down (no more clients, pollers woken) rather than closed before
    // Close, because a reader may be polling it without the lock.
    int listenFd = -1;
    bool listening = false;
    int connFd = -1; // the connection, kept until Close
    bool valid = false;

    // Under lock: the connection to use for one transfer, accepting a waiting
    // client first on a server end. Returns -1 with the last error set.
    int AcquireLocked() {
        if (!valid) {
            SetLastSystemError(kErrorPipeNotConnected);
            return -1;
        }
        if (connFd < 0 && listening) {
            AcceptLocked();
        }
        return connFd;
    }

    void AcceptLocked() {
        const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            const int err = errno;
            SetLastSystemError(err == EAGAIN || err == EWOULDBLOCK || err == ECONNABORTED ||
                                       err == EINTR
                                   ? kErrorPipeListening
                                   : MapErrno(err));
            return;
        }
        // Only a peer running under our own user may talk to us; any other
        // is dropped and the pipe goes on listening.
        ucred cred{};
        socklen_t credLength = sizeof(cred);
        if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &credLength) != 0 ||
            cred.uid != ::geteuid()) {
            ::shutdown(fd, SHUT_RDWR);
            ::close(fd);
            SetLastSystemError(kErrorPipeListening);
            return;
        }
        connFd = fd;
        StopListeningLocked();
    }

    void StopListeningLocked() {
        if (listening) {
            ::shutdown(listenFd, SHUT_RDWR);
            listening = false;
        }
    }

    // Waits until the listening socket has a client to accept or stops
    // listening. False with the last error set when the poll failed.
    static bool WaitForClient(int fd) {
        pollfd entry{fd, POLLIN, 0};
        while (::poll(&entry, 1, -1) < 0) {
            if (errno != EINTR) {
                SetLastSystemError(MapErrno(errno));
                return false;
            }
        }
        return true;
    }
};

CLocalPipe::CLocalPipe() : impl_(new Impl) {}

CLocalPipe::~CLocalPipe() {
    Close();
}

bool CLocalPipe::Create(const std::string& name, PipeDirection /*direction*/) {
    std::lock_guard<std::mutex> guard(impl_->lock);
    if (impl_->valid || impl_->listenFd >= 0 || impl_->connFd >= 0) {
        SetLastSystemError(kErrorInvalidParameter);
        return false;
    }
    sockaddr_un address;
    socklen_t length = 0;
    const int fd = NewSocketFor(name, address, length);
    if (fd < 0) {
        return false;
    }
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 || ::listen(fd, 1) != 0) {
        SetLastSystemError(MapErrno(errno));
        ::close(fd);
        return false;
    }
    impl_->listenFd = fd;
    impl_->listening = true;
    impl_->valid = true;
    SetLastSystemError(kErrorSuccess);
    return true;
}

bool CLocalPipe::Open(const std::string& name, PipeDirection /*direction*/) {
    {
        std::lock_guard<std::mutex> guard(impl_->lock);
        if (impl_->valid || impl_->listenFd >= 0 || impl_->connFd >= 0) {
            SetLastSystemError(kErrorInvalidParameter);
            return false;
        }
    }
    // Non-blocking only for the connect, so that a full listen queue
    // reports EAGAIN instead of blocking without bound.
    sockaddr_un address;
    socklen_t length = 0;
    const int fd = NewSocketFor(name, address, length);
    if (fd < 0) {
        return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kBusyWaitMs);
    for (;;) {
        if (::connect(fd, reinterpret_cast<sockaddr*>(&address), length) == 0) {
            break;
        }
        const int err = errno;
        if (err == EINTR) {
            continue;
        }
        if (err != EAGAIN || std::chrono::steady_clock::now() >= deadline) {
            SetLastSystemError(MapErrno(err));
            ::close(fd);
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        SetLastSystemError(MapErrno(errno));
        ::close(fd);
        return false;
    }
    std::lock_guard<std::mutex> guard(impl_->lock);
    impl_->connFd = fd;
    impl_->valid = true;
    SetLastSystemError(kErrorSuccess);
    return true;
}

bool CLocalPipe::IsValid() const {
    std::lock_guard<std::mutex> guard(impl_->lock);
    return impl_->valid;
}

bool CLocalPipe::Read(void* buffer, uint32_t count) {
    // A server end without its client waits for the client to arrive; a
    // Disconnect ends the wait.
    int fd = -1;
    for (;;) {
        int listenFd = -1;
        {
            std::lock_guard<std::mutex> guard(impl_->lock);
            fd = impl_->AcquireLocked();
            if (fd < 0 && impl_->valid && impl_->listening &&
                GetLastSystemError() == kErrorPipeListening) {
                listenFd = impl_->listenFd;
            }
        }
        if (listenFd < 0) {
            break;
        }
        if (!Impl::WaitForClient(listenFd)) {
            return false;
        }
    }
    if (fd < 0) {
        return false;
    }
    auto* p = static_cast<char*>(buffer);
    uint32_t done = 0;
    while (done < count) {
        const ssize_t n = ::recv(fd, p + done, count - done, 0);
        if (n > 0) {
            done += static_cast<uint32_t>(n);
        } else if (n == 0) {
            SetLastSystemError(kErrorBrokenPipe);
            return false;
        } else if (errno != EINTR) {
            SetLastSystemError(MapErrno(errno));
            return false;
        }
    }
    SetLastSystemError(kErrorSuccess);
    return true;
}

bool CLocalPipe::Write(const void* buffer, uint32_t count) {
    int fd = -1;
    {
        std::lock_guard<std::mutex> guard(impl_->lock);
        fd = impl_->AcquireLocked();
    }
    if (fd < 0) {
        return false;
    }
    const auto* p = static_cast<const char*>(buffer);
    uint32_t done = 0;
    while (done < count) {
        const ssize_t n = ::send(fd, p + done, count - done, MSG_NOSIGNAL);
        if (n >= 0) {
            done += static_cast<uint32_t>(n);
        } else if (errno != EINTR) {
            SetLastSystemError(MapErrno(errno));
            return false;
        }
    }
    SetLastSystemError(kErrorSuccess);
    return true;
}

bool CLocalPipe::Flush(uint32_t timeoutMs) {
    int fd = -1;
    {
        std::lock_guard<std::mutex> guard(impl_->lock);
        if (impl_->valid) {
            fd = impl_->connFd;
        }
    }
    if (fd < 0) {
        return true;
    }
    // Each time the peer takes data off the connection, or goes, the socket
    // reports new write space or a hang-up: an edge-triggered epoll wakes on
    // every such report, so the unread count is looked at again exactly then.
    const int epoll = ::epoll_create1(EPOLL_CLOEXEC);
    if (epoll < 0) {
        return true;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    bool drained = true;
    epoll_event watch{};
    watch.events = EPOLLOUT | EPOLLET;
    if (::epoll_ctl(epoll, EPOLL_CTL_ADD, fd, &watch) == 0) {
        for (;;) {
            int unread = 0;
            if (::ioctl(fd, SIOCOUTQ, &unread) != 0 || unread <= 0) {
                break;
            }
            int waitMs = -1;
            if (timeoutMs != kFlushForever) {
                const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now());
                if (left.count() <= 0) {
                    drained = false; // alive, but not reading
                    break;
                }
                waitMs = static_cast<int>(left.count());
            }
            epoll_event event{};
            const int ready = ::epoll_wait(epoll, &event, 1, waitMs);
            if (ready < 0 && errno != EINTR) {
                break;
            }
            if (ready > 0 && (event.events & (EPOLLHUP | EPOLLERR)) != 0) {
                break; // the peer has gone without reading
            }
        }
    }
    ::close(epoll);
    return drained;
}

void CLocalPipe::Disconnect() {
    std::lock_guard<std::mutex> guard(impl_->lock);
    impl_->valid = false;
    if (impl_->connFd >= 0) {
        ::shutdown(impl_->connFd, SHUT_RDWR);
    }
    impl_->StopListeningLocked();
}

void CLocalPipe::Close() {
    Disconnect();
    std::lock_guard<std::mutex> guard(impl_->lock);
    CloseFd(impl_->connFd);
    CloseFd(impl_->listenFd);
}

} // namespace NorvOS
