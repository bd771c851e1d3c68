#include "common/console.h"

#include <atomic>
#include <csignal>
#include <filesystem>

#if defined(_WIN32)
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace norv {

namespace {

// Written by the handler, read by every thread of a run: a lock-free
// atomic serves both (a volatile sig_atomic_t is safe for the handler
// alone, not between threads).
std::atomic<int> gInterruptSignal{0};
static_assert(std::atomic<int>::is_always_lock_free, "the handler needs a lock-free flag");

extern "C" void OnInterrupt(int signalNumber) {
    if (gInterruptSignal != 0) {
        // Asked twice: stop waiting for the engine and end now.
        std::signal(signalNumber, SIG_DFL);
        std::raise(signalNumber);
        return;
    }
    gInterruptSignal = signalNumber;
    std::signal(signalNumber, OnInterrupt); // some systems reset the handler
}

} // namespace

#if defined(_WIN32)

bool IsTerminal(std::FILE* stream) {
    return _isatty(_fileno(stream)) != 0;
}

int TerminalWidth(std::FILE* stream) {
    CONSOLE_SCREEN_BUFFER_INFO info;
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    if (GetConsoleScreenBufferInfo(handle, &info) != 0) {
        return info.srWindow.Right - info.srWindow.Left + 1;
    }
    return 80;
}

std::string ExecutableFolder() {
    wchar_t path[32768];
    const DWORD length = GetModuleFileNameW(nullptr, path, 32768);
    if (length == 0 || length >= 32768) {
        return std::string();
    }
    return std::filesystem::path(std::wstring(path, length)).parent_path().u8string();
}

#else

bool IsTerminal(std::FILE* stream) {
    return ::isatty(::fileno(stream)) != 0;
}

int TerminalWidth(std::FILE* stream) {
    winsize size{};
    if (::ioctl(::fileno(stream), TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
        return size.ws_col;
    }
    return 80;
}

std::string ExecutableFolder() {
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string() : self.parent_path().string();
}

#endif

void WatchInterrupts() {
    std::signal(SIGINT, OnInterrupt);
    std::signal(SIGTERM, OnInterrupt);
}

bool InterruptRequested() {
    return gInterruptSignal != 0;
}

bool StopRequested(const StopCheck& stop) {
    return InterruptRequested() || (stop && stop());
}

int InterruptExitStatus() {
    const int signalNumber = gInterruptSignal;
    return 128 + (signalNumber != 0 ? signalNumber : SIGINT);
}

std::FILE* SetAsideStandardOutput() {
    std::fflush(stdout);
#if defined(_WIN32)
    const int kept = _dup(_fileno(stdout));
    std::FILE* stream = kept >= 0 ? _fdopen(kept, "w") : nullptr;
    if (stream == nullptr || _dup2(_fileno(stderr), _fileno(stdout)) != 0) {
#else
    const int kept = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    std::FILE* stream = kept >= 0 ? ::fdopen(kept, "w") : nullptr;
    if (stream == nullptr || ::dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
#endif
        if (stream != nullptr) {
            std::fclose(stream);
        }
        return stdout;
    }
    return stream;
}

} // namespace norv
