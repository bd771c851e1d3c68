// Local pipes as Windows named pipes. A server end is one instance of a
// one-way message pipe (PIPE_ACCESS_INBOUND for a reading end,
// PIPE_ACCESS_OUTBOUND for a writing end; message type, message read mode,
// blocking; 4096-byte buffers; the default time-out) that its client
// connects to as soon as it is created: reads and writes report
// ERROR_PIPE_LISTENING until then, and a Read waits for the client with
// ConnectNamedPipe. A client end opens it with CreateFileA and stays in byte
// read mode. Every failure leaves Windows' own error code behind.
//
// Both ends are opened for overlapped I/O, and each ReadFile, WriteFile and
// ConnectNamedPipe is waited for at once, so that callers see synchronous
// transfers. The wait also watches the end's own stop event, which
// Disconnect sets: a transfer blocked on a peer that neither writes nor
// reads nor goes ends then, and so does the wait for a client. (On a handle
// opened for synchronous I/O, Windows runs one call at a time per handle,
// so a Disconnect would wait behind the very read it is meant to end.)
#include "platform/local_pipe.h"

#include <chrono>
#include <mutex>
#include <new>
#include <vector>

#include <windows.h>

#include "platform/last_error.h"

namespace NorvOS {

namespace {

constexpr DWORD kPipeBufferSize = 4096;

// The pipe's security: full access for the user this process runs as, and
// for nobody else (the default would let every user read a pipe). Built
// once; a process's user does not change.
class OwnerOnlySecurity {
public:
    OwnerOnlySecurity() {
        HANDLE token = nullptr;
        if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) {
            return;
        }
        DWORD size = 0;
        ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
        std::vector<unsigned char> user(size);
        const bool haveUser =
            size != 0 && ::GetTokenInformation(token, TokenUser, user.data(), size, &size);
        ::CloseHandle(token);
        if (!haveUser) {
            return;
        }
        PSID sid = reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;
        const DWORD aclSize =
            sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) + ::GetLengthSid(sid);
        acl_.resize(aclSize);
        PACL acl = reinterpret_cast<PACL>(acl_.data());
        if (!::InitializeAcl(acl, aclSize, ACL_REVISION) ||
            !::AddAccessAllowedAce(acl, ACL_REVISION, GENERIC_ALL, sid) ||
            !::InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) ||
            !::SetSecurityDescriptorDacl(&descriptor_, TRUE, acl, FALSE)) {
            return;
        }
        attributes_.nLength = sizeof(attributes_);
        attributes_.lpSecurityDescriptor = &descriptor_;
        attributes_.bInheritHandle = FALSE;
        ready_ = true;
    }

    /// Null when the descriptor could not be built; the pipe is then not
    /// created at all.
    SECURITY_ATTRIBUTES* Attributes() { return ready_ ? &attributes_ : nullptr; }

private:
    std::vector<unsigned char> acl_;
    SECURITY_DESCRIPTOR descriptor_{};
    SECURITY_ATTRIBUTES attributes_{};
    bool ready_ = false;
};

SECURITY_ATTRIBUTES* PipeSecurity() {
    static OwnerOnlySecurity security;
    return security.Attributes();
}

// The helper thread of a bounded Flush: a small stack, as it makes one call.
constexpr DWORD kFlushStackSize = 64 * 1024;
constexpr DWORD kFlushCancelRetryMs = 10;

// One FlushFileBuffers call, made on a helper thread.
struct FlushCall {
    HANDLE pipe;
    bool drained = false;

    static DWORD WINAPI Run(void* self) {
        auto* call = static_cast<FlushCall*>(self);
        // Fails at once when no peer is connected or it has gone: nothing is
        // left to be read then either. A cancelled flush fails with
        // ERROR_OPERATION_ABORTED, data still unread.
        call->drained =
            ::FlushFileBuffers(call->pipe) != FALSE || ::GetLastError() != ERROR_OPERATION_ABORTED;
        return 0;
    }
};

bool ValidName(const std::string& name) {
    return !name.empty() && name.size() <= CLocalPipe::kMaxNameLength;
}

} // namespace

// A manual-reset event, not signalled, closed with its owner.
struct EventHandle {
    HANDLE handle = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    EventHandle() = default;
    EventHandle(const EventHandle&) = delete;
    EventHandle& operator=(const EventHandle&) = delete;
    ~EventHandle() {
        if (handle != nullptr) {
            ::CloseHandle(handle);
        }
    }
};

struct CLocalPipe::Impl {
    mutable std::mutex lock;
    HANDLE handle = INVALID_HANDLE_VALUE; // kept until Close
    bool server = false;
    bool valid = false;
    PipeDirection direction = PipeDirection::Read;
    std::string name; // a server end's, to connect to itself
    // Set by Disconnect; ends every wait of a transfer on this end.
    EventHandle stopped;
    // One for the reading and one for the writing calls, so that a read and
    // a write may run side by side.
    EventHandle readDone;
    EventHandle writeDone;

    bool InUseLocked() const { return handle != INVALID_HANDLE_VALUE; }

    // The handle for one transfer; INVALID_HANDLE_VALUE, with the last error
    // set, once this end has been disconnected.
    HANDLE Acquire() {
        std::lock_guard<std::mutex> guard(lock);
        if (!valid) {
            ::SetLastError(ERROR_PIPE_NOT_CONNECTED);
            return INVALID_HANDLE_VALUE;
        }
        return handle;
    }

    // Under lock: whether the events a transfer waits on exist; sets the
    // last error when not.
    bool EventsReadyLocked() const {
        if (stopped.handle == nullptr || readDone.handle == nullptr ||
            writeDone.handle == nullptr) {
            ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return false;
        }
        return true;
    }

    // Under lock: takes the end's handle after a successful Create or Open.
    void AdoptLocked(HANDLE newHandle, bool isServer, PipeDirection way) {
        handle = newHandle;
        server = isServer;
        valid = true;
        direction = way;
        ::ResetEvent(stopped.handle);
        ::SetLastError(ERROR_SUCCESS);
    }

    // Waits for an overlapped call that issued reported (its return value)
    // and gives its outcome as a synchronous call would: true with the bytes
    // moved in n, or false with the last error set. Disconnect ends the wait
    // with ERROR_PIPE_NOT_CONNECTED unless the call had completed anyway.
    bool Await(HANDLE pipe, OVERLAPPED& overlapped, BOOL issued, DWORD& n) {
        n = 0;
        if (issued) {
            return ::GetOverlappedResult(pipe, &overlapped, &n, FALSE) != FALSE;
        }
        const DWORD error = ::GetLastError();
        if (error == ERROR_MORE_DATA) {
            // Done at once with part of a message: the count is kept.
            ::GetOverlappedResult(pipe, &overlapped, &n, FALSE);
            ::SetLastError(error);
            return false;
        }
        if (error != ERROR_IO_PENDING) {
            return Failed(error);
        }
        const HANDLE objects[2] = {overlapped.hEvent, stopped.handle};
        const bool interrupted =
            ::WaitForMultipleObjects(2, objects, FALSE, INFINITE) != WAIT_OBJECT_0;
        if (interrupted) {
            ::CancelIoEx(pipe, &overlapped);
        }
        if (::GetOverlappedResult(pipe, &overlapped, &n, TRUE)) {
            return true;
        }
        return Failed(interrupted ? ERROR_PIPE_NOT_CONNECTED : ::GetLastError());
    }

    // Reports a failed call: false, with the call's error, or with
    // ERROR_PIPE_NOT_CONNECTED once this end has been disconnected.
    bool Failed(DWORD error) {
        std::lock_guard<std::mutex> guard(lock);
        ::SetLastError(valid ? error : ERROR_PIPE_NOT_CONNECTED);
        return false;
    }

    // Waits on a server end that has no client yet until one connects.
    // True once a client is there (it may have gone again already).
    bool AwaitClient(HANDLE pipe) {
        OVERLAPPED overlapped{};
        overlapped.hEvent = readDone.handle;
        DWORD unused = 0;
        const BOOL issued = ::ConnectNamedPipe(pipe, &overlapped);
        if (!issued) {
            const DWORD error = ::GetLastError();
            if (error == ERROR_PIPE_CONNECTED || error == ERROR_NO_DATA) {
                return true; // it came, and maybe went, since the read
            }
        }
        if (Await(pipe, overlapped, issued, unused)) {
            return true;
        }
        const DWORD error = ::GetLastError();
        std::lock_guard<std::mutex> guard(lock);
        if (!valid) {
            // A ConnectNamedPipe issued after Disconnect listens again; the
            // disconnected end stops listening for good.
            StopListeningLocked();
        }
        ::SetLastError(error);
        return false;
    }

    // Under lock: ends the connection of a server end, or its listening
    // when no client has come. Windows stops a listening pipe with
    // DisconnectNamedPipe; Wine refuses that with ERROR_PIPE_LISTENING, and
    // only a connected pipe can be disconnected there, so a client of our
    // own connects first and leaves at once.
    void StopListeningLocked() {
        if (::DisconnectNamedPipe(handle) || ::GetLastError() != ERROR_PIPE_LISTENING) {
            return;
        }
        const DWORD access = direction == PipeDirection::Read ? GENERIC_WRITE : GENERIC_READ;
        const HANDLE client =
            ::CreateFileA(name.c_str(), access, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (client != INVALID_HANDLE_VALUE) {
            ::CloseHandle(client);
            ::DisconnectNamedPipe(handle);
        }
    }
};

CLocalPipe::CLocalPipe() : impl_(new Impl) {}

CLocalPipe::~CLocalPipe() {
    Close();
}

bool CLocalPipe::Create(const std::string& name, PipeDirection direction) {
    std::lock_guard<std::mutex> guard(impl_->lock);
    if (impl_->InUseLocked()) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    if (!ValidName(name)) {
        ::SetLastError(ERROR_INVALID_NAME);
        return false;
    }
    if (!impl_->EventsReadyLocked()) {
        return false;
    }
    SECURITY_ATTRIBUTES* security = PipeSecurity();
    if (security == nullptr) {
        ::SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    // The first instance only: a name someone else already serves is
    // refused instead of joined. Clients on other machines are refused.
    const DWORD openMode =
        (direction == PipeDirection::Read ? PIPE_ACCESS_INBOUND : PIPE_ACCESS_OUTBOUND) |
        FILE_FLAG_FIRST_PIPE_INSTANCE | FILE_FLAG_OVERLAPPED;
    const DWORD pipeMode =
        PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS;
    HANDLE handle = ::CreateNamedPipeA(name.c_str(), openMode, pipeMode, PIPE_UNLIMITED_INSTANCES,
                                       kPipeBufferSize, kPipeBufferSize, 0, security);
    if (handle == INVALID_HANDLE_VALUE) {
        return false;
    }
    impl_->name = name;
    impl_->AdoptLocked(handle, true, direction);
    return true;
}

bool CLocalPipe::Open(const std::string& name, PipeDirection direction) {
    {
        std::lock_guard<std::mutex> guard(impl_->lock);
        if (impl_->InUseLocked()) {
            ::SetLastError(ERROR_INVALID_PARAMETER);
            return false;
        }
        if (!impl_->EventsReadyLocked()) {
            return false;
        }
    }
    if (!ValidName(name)) {
        ::SetLastError(ERROR_INVALID_NAME);
        return false;
    }
    // The server may identify this client but never act in its name.
    const DWORD access = direction == PipeDirection::Read ? GENERIC_READ : GENERIC_WRITE;
    const DWORD flags = SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION | FILE_FLAG_OVERLAPPED;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kBusyWaitMs);
    HANDLE handle = INVALID_HANDLE_VALUE;
    for (;;) {
        handle = ::CreateFileA(name.c_str(), access, 0, nullptr, OPEN_EXISTING, flags, nullptr);
        if (handle != INVALID_HANDLE_VALUE) {
            break;
        }
        if (::GetLastError() != ERROR_PIPE_BUSY) {
            return false;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0 || !::WaitNamedPipeA(name.c_str(), static_cast<DWORD>(left))) {
            ::SetLastError(ERROR_PIPE_BUSY);
            return false;
        }
    }
    std::lock_guard<std::mutex> guard(impl_->lock);
    impl_->AdoptLocked(handle, false, direction);
    return true;
}

bool CLocalPipe::IsValid() const {
    std::lock_guard<std::mutex> guard(impl_->lock);
    return impl_->valid;
}

bool CLocalPipe::Read(void* buffer, uint32_t count) {
    const HANDLE handle = impl_->Acquire();
    if (handle == INVALID_HANDLE_VALUE) {
        return false;
    }
    auto* p = static_cast<char*>(buffer);
    uint32_t done = 0;
    while (done < count) {
        OVERLAPPED overlapped{};
        overlapped.hEvent = impl_->readDone.handle;
        DWORD n = 0;
        const BOOL issued = ::ReadFile(handle, p + done, count - done, nullptr, &overlapped);
        if (!impl_->Await(handle, overlapped, issued, n)) {
            const DWORD error = ::GetLastError();
            if (error == ERROR_PIPE_LISTENING) {
                // A server end whose client has not come yet waits for it.
                if (!impl_->AwaitClient(handle)) {
                    return false;
                }
                continue;
            }
            // A message longer than what is still wanted: its first part has
            // arrived and the rest waits for the next read, so fields are
            // read alike however the peer grouped its writes.
            if (error != ERROR_MORE_DATA) {
                return false;
            }
        }
        done += n;
    }
    ::SetLastError(ERROR_SUCCESS);
    return true;
}

bool CLocalPipe::Write(const void* buffer, uint32_t count) {
    const HANDLE handle = impl_->Acquire();
    if (handle == INVALID_HANDLE_VALUE) {
        return false;
    }
    const auto* p = static_cast<const char*>(buffer);
    uint32_t done = 0;
    do {
        OVERLAPPED overlapped{};
        overlapped.hEvent = impl_->writeDone.handle;
        DWORD n = 0;
        const BOOL issued = ::WriteFile(handle, p + done, count - done, nullptr, &overlapped);
        if (!impl_->Await(handle, overlapped, issued, n)) {
            return false;
        }
        done += n;
    } while (done < count);
    ::SetLastError(ERROR_SUCCESS);
    return true;
}

bool CLocalPipe::Flush(uint32_t timeoutMs) {
    HANDLE handle = INVALID_HANDLE_VALUE;
    {
        std::lock_guard<std::mutex> guard(impl_->lock);
        if (impl_->valid && impl_->direction == PipeDirection::Write) {
            handle = impl_->handle;
        }
    }
    if (handle == INVALID_HANDLE_VALUE) {
        return true;
    }
    // FlushFileBuffers returns once the peer has read everything, or at once
    // with an error when no peer is connected or it has gone; it has no time
    // limit of its own. It runs on a helper thread, so that this one can stop
    // waiting for it, when the time runs out or this end is disconnected, and
    // end it with CancelSynchronousIo. The helper is always waited for, so
    // it never outlives the call nor uses the handle after it.
    FlushCall call{handle};
    const HANDLE helper = ::CreateThread(nullptr, kFlushStackSize, &FlushCall::Run, &call,
                                         STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (helper == nullptr) {
        // Without a helper the wait cannot be bounded: a bounded flush reports
        // the data as possibly unread, as one that ran out of time does.
        if (timeoutMs != kFlushForever) {
            return false;
        }
        ::FlushFileBuffers(handle);
        return true;
    }
    const HANDLE objects[2] = {helper, impl_->stopped.handle};
    const DWORD waited = ::WaitForMultipleObjects(
        2, objects, FALSE, timeoutMs == kFlushForever ? INFINITE : timeoutMs);
    bool ranOut = false;
    if (waited != WAIT_OBJECT_0) {
        ranOut = waited == WAIT_TIMEOUT;
        // A cancel finds nothing while the helper has not entered the call
        // yet, so it is repeated until the helper has ended.
        do {
            ::CancelSynchronousIo(helper);
        } while (::WaitForSingleObject(helper, kFlushCancelRetryMs) == WAIT_TIMEOUT);
    }
    ::CloseHandle(helper);
    // A flush that completed just as the time ran out has done its work.
    return !ranOut || call.drained;
}

void CLocalPipe::Disconnect() {
    std::lock_guard<std::mutex> guard(impl_->lock);
    if (!impl_->valid) {
        return;
    }
    impl_->valid = false;
    // Ends the waits of this end's transfers, and of its wait for a client.
    ::SetEvent(impl_->stopped.handle);
    if (impl_->server) {
        // Tells the client, and stops listening. A client end cannot
        // disconnect; its peer learns of it at Close.
        impl_->StopListeningLocked();
    }
}

void CLocalPipe::Close() {
    Disconnect();
    std::lock_guard<std::mutex> guard(impl_->lock);
    if (impl_->handle != INVALID_HANDLE_VALUE) {
        ::CloseHandle(impl_->handle);
        impl_->handle = INVALID_HANDLE_VALUE;
    }
}

} // namespace NorvOS
