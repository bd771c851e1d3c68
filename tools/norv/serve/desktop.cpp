#include "serve/desktop.h"

#include <atomic>
#include <cstdlib>
#include <filesystem>

#include "common/library.h"

#if defined(_WIN32)
#include <windows.h>

// Needs what windows.h declares.
#include <shellapi.h>
#else
#include <fcntl.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;
#endif

namespace norv {

namespace {

namespace fs = std::filesystem;

// The folder an environment variable names, with parts below it; empty when
// the variable is unset or (on POSIX, as the XDG rules say) not absolute.
std::string Under(const char* variable, const std::initializer_list<const char*>& parts) {
    const char* value = std::getenv(variable);
    if (value == nullptr || *value == '\0') {
        return std::string();
    }
    fs::path folder = fs::u8path(value);
    if (!folder.is_absolute()) {
        return std::string();
    }
    for (const char* part : parts) {
        folder /= part;
    }
    return folder.u8string();
}

} // namespace

#if defined(_WIN32)

std::string DefaultStateFolder() {
    return Under("LOCALAPPDATA", {"norv"});
}

std::string DefaultPresetFolder() {
    return Under("APPDATA", {"norv", "presets"});
}

FolderLock::FolderLock(const std::string& file) {
    // No sharing: a second opener is refused while this handle is open.
    const HANDLE handle =
        CreateFileW(fs::u8path(file).wstring().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        throw Failure(file + ": another norv serve uses this state folder", nvt::NotAvailable);
    }
    handle_ = reinterpret_cast<long long>(handle);
}

FolderLock::~FolderLock() {
    CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

bool OpenInBrowser(const std::string& url) {
    const std::wstring wide = fs::u8path(url).wstring();
    return reinterpret_cast<INT_PTR>(
               ShellExecuteW(nullptr, L"open", wide.c_str(), nullptr, nullptr, SW_SHOWNORMAL)) > 32;
}

void ReapBrowser() {}

#else

namespace {

std::atomic<pid_t> gOpener{0};

} // namespace

std::string DefaultStateFolder() {
    std::string folder = Under("XDG_STATE_HOME", {"norv"});
    return folder.empty() ? Under("HOME", {".local", "state", "norv"}) : folder;
}

std::string DefaultPresetFolder() {
    std::string folder = Under("XDG_CONFIG_HOME", {"norv", "presets"});
    return folder.empty() ? Under("HOME", {".config", "norv", "presets"}) : folder;
}

FolderLock::FolderLock(const std::string& file) {
    const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        throw Failure(file + ": cannot open the lock file", nvt::ENG_WRITING_ERROR);
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        throw Failure(file + ": another norv serve uses this state folder", nvt::NotAvailable);
    }
    handle_ = fd;
}

FolderLock::~FolderLock() {
    ::close(static_cast<int>(handle_));
}

bool OpenInBrowser(const std::string& url) {
    // The URL is one argument of its own; no shell reads it.
    char program[] = "xdg-open";
    std::string argument = url;
    char* const argv[] = {program, argument.data(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t child = 0;
    const int failed = posix_spawnp(&child, program, &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (failed == 0) {
        gOpener = child;
    }
    return failed == 0;
}

void ReapBrowser() {
    // Only the opener: the engines are the library's to wait for.
    int status = 0;
    if (gOpener > 0 && ::waitpid(gOpener, &status, WNOHANG) == gOpener) {
        gOpener = 0;
    }
}

#endif

} // namespace norv
