// Local pipes as Windows named pipes. A server end is one instance of a
// one-way message pipe (PIPE_ACCESS_INBOUND for a reading end,
// PIPE_ACCESS_OUTBOUND for a writing end; message type, message read mode,
// blocking; 4096-byte buffers; the default time-out) that its client
// connects to without ConnectNamedPipe: until then reads and writes report
// ERROR_PIPE_LISTENING. A client end opens it with CreateFileA and stays in
// byte read mode. All transfers are synchronous ReadFile / WriteFile calls,
// and every failure leaves Windows' own error code behind.
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

bool ValidName(const std::string& name) {
    return !name.empty() && name.size() <= CLocalPipe::kMaxNameLength;
}

} // namespace

struct CLocalPipe::Impl {
    mutable std::mutex lock;
    HANDLE handle = INVALID_HANDLE_VALUE; // kept until Close
    bool server = false;
    bool valid = false;
    PipeDirection direction = PipeDirection::Read;

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

    // Under lock: takes the end's handle after a successful Create or Open.
    void AdoptLocked(HANDLE newHandle, bool isServer, PipeDirection way) {
        handle = newHandle;
        server = isServer;
        valid = true;
        direction = way;
        ::SetLastError(ERROR_SUCCESS);
    }

    // A transfer that failed because this end was disconnected meanwhile (a
    // client end's blocked call is cancelled) reports the disconnection.
    void ReportFailure(DWORD error) {
        std::lock_guard<std::mutex> guard(lock);
        ::SetLastError(!valid && error == ERROR_OPERATION_ABORTED ? ERROR_PIPE_NOT_CONNECTED
                                                                  : error);
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
    SECURITY_ATTRIBUTES* security = PipeSecurity();
    if (security == nullptr) {
        ::SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    // The first instance only: a name someone else already serves is
    // refused instead of joined. Clients on other machines are refused.
    const DWORD openMode =
        (direction == PipeDirection::Read ? PIPE_ACCESS_INBOUND : PIPE_ACCESS_OUTBOUND) |
        FILE_FLAG_FIRST_PIPE_INSTANCE;
    const DWORD pipeMode =
        PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS;
    HANDLE handle = ::CreateNamedPipeA(name.c_str(), openMode, pipeMode, PIPE_UNLIMITED_INSTANCES,
                                       kPipeBufferSize, kPipeBufferSize, 0, security);
    if (handle == INVALID_HANDLE_VALUE) {
        return false;
    }
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
    }
    if (!ValidName(name)) {
        ::SetLastError(ERROR_INVALID_NAME);
        return false;
    }
    // The server may identify this client but never act in its name.
    const DWORD access = direction == PipeDirection::Read ? GENERIC_READ : GENERIC_WRITE;
    const DWORD flags = SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION;
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
        DWORD n = 0;
        if (!::ReadFile(handle, p + done, count - done, &n, nullptr)) {
            const DWORD error = ::GetLastError();
            // A message longer than what is still wanted: its first part has
            // arrived and the rest waits for the next read, so fields are
            // read alike however the peer grouped its writes.
            if (error != ERROR_MORE_DATA) {
                impl_->ReportFailure(error);
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
        DWORD n = 0;
        if (!::WriteFile(handle, p + done, count - done, &n, nullptr)) {
            impl_->ReportFailure(::GetLastError());
            return false;
        }
        done += n;
    } while (done < count);
    ::SetLastError(ERROR_SUCCESS);
    return true;
}

void CLocalPipe::Flush() {
    HANDLE handle = INVALID_HANDLE_VALUE;
    {
        std::lock_guard<std::mutex> guard(impl_->lock);
        if (impl_->valid && impl_->direction == PipeDirection::Write) {
            handle = impl_->handle;
        }
    }
    if (handle != INVALID_HANDLE_VALUE) {
        // Returns once the client has read everything, or at once with an
        // error when no client is connected or it has gone.
        ::FlushFileBuffers(handle);
    }
}

void CLocalPipe::Disconnect() {
    std::lock_guard<std::mutex> guard(impl_->lock);
    if (!impl_->valid) {
        return;
    }
    impl_->valid = false;
    if (impl_->server) {
        // Wakes a blocked read or write on this end, and the client's too.
        ::DisconnectNamedPipe(impl_->handle);
    } else {
        // A client end cannot disconnect; its blocked calls are cancelled.
        ::CancelIoEx(impl_->handle, nullptr);
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
