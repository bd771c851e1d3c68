// The raw pipe peer and the process facts on Windows.
#include "support/raw_pipe_peer.h"

#include <chrono>
#include <thread>

#include <windows.h>

namespace norv_test {

namespace {

HANDLE AsHandle(void* handle) {
    return handle == nullptr ? INVALID_HANDLE_VALUE : static_cast<HANDLE>(handle);
}

using Clock = std::chrono::steady_clock;

} // namespace

RawPipePeer::~RawPipePeer() {
    Close();
}

bool RawPipePeer::Connect(const std::string& pipeName) {
    Close();
    // A server's reading end admits writers only, its writing end readers.
    HANDLE h = ::CreateFileA(pipeName.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_ACCESS_DENIED) {
        h = ::CreateFileA(pipeName.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    }
    if (h == INVALID_HANDLE_VALUE) {
        return false;
    }
    handle_ = h;
    return true;
}

bool RawPipePeer::Send(const void* data, size_t size, size_t chunk) {
    const auto* p = static_cast<const char*>(data);
    while (size > 0) {
        const DWORD part = static_cast<DWORD>(size < chunk ? size : chunk);
        DWORD written = 0;
        if (!::WriteFile(AsHandle(handle_), p, part, &written, nullptr)) {
            return false;
        }
        p += written;
        size -= written;
    }
    return true;
}

bool RawPipePeer::Receive(void* data, size_t size, uint32_t timeoutMs) {
    auto* p = static_cast<char*>(data);
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (size > 0) {
        DWORD available = 0;
        if (!::PeekNamedPipe(AsHandle(handle_), nullptr, 0, nullptr, &available, nullptr)) {
            return false;
        }
        if (available == 0) {
            if (Clock::now() >= deadline) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            continue;
        }
        DWORD got = 0;
        const DWORD want = static_cast<DWORD>(size < available ? size : available);
        if (!::ReadFile(AsHandle(handle_), p, want, &got, nullptr) &&
            ::GetLastError() != ERROR_MORE_DATA) {
            return false;
        }
        p += got;
        size -= got;
    }
    return true;
}

bool RawPipePeer::WaitClosedByPeer(uint32_t timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Clock::now() < deadline) {
        DWORD available = 0;
        BOOL alive = ::PeekNamedPipe(AsHandle(handle_), nullptr, 0, nullptr, &available, nullptr);
        if (!alive && ::GetLastError() == ERROR_ACCESS_DENIED) {
            // A writing end: an empty write tells whether the reader is there.
            DWORD written = 0;
            alive = ::WriteFile(AsHandle(handle_), "", 0, &written, nullptr);
        }
        if (!alive) {
            return true;
        }
        if (available != 0) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

void RawPipePeer::Close() {
    if (handle_ != nullptr) {
        ::CloseHandle(AsHandle(handle_));
        handle_ = nullptr;
    }
}

int CountOpenDescriptors() {
    DWORD count = 0;
    return ::GetProcessHandleCount(::GetCurrentProcess(), &count) ? static_cast<int>(count) : -1;
}

int CountZombieChildren() {
    return 0;
}

uint32_t PriorityClassOf(uint32_t processId) {
    HANDLE process = ::OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, processId);
    if (process == nullptr) {
        return 0;
    }
    const DWORD priorityClass = ::GetPriorityClass(process);
    ::CloseHandle(process);
    return priorityClass;
}

bool RunningUnderWine() {
    HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

bool ProcessAlive(uint32_t processId) {
    HANDLE process = ::OpenProcess(SYNCHRONIZE, FALSE, processId);
    if (process == nullptr) {
        return false;
    }
    const bool running = ::WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    ::CloseHandle(process);
    return running;
}

void KillProcess(uint32_t processId) {
    HANDLE process = ::OpenProcess(PROCESS_TERMINATE, FALSE, processId);
    if (process != nullptr) {
        ::TerminateProcess(process, 1);
        ::CloseHandle(process);
    }
}

} // namespace norv_test
