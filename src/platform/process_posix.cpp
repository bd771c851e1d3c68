// Child processes with fork/exec. The child is held before exec, blocked
// reading a close-on-exec pipe, until the parent releases it; a second
// close-on-exec pipe carries a failed exec's errno back at once. The handle
// is a pidfd, and one detached waiter thread per child reaps that child and
// no other.
#include "platform/process.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace NorvOS {

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

bool IsExecutableFile(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

// Launches are serialised from the creation of a child's pipes until its
// exec is confirmed, so that no child inherits another launch's pipe ends
// and keeps them open while it is held.
std::mutex& LaunchLock() {
    static std::mutex lock;
    return lock;
}

// What the child's waiter and its handle share. While reaped is false under
// lock, the process id cannot have been handed to another process.
struct ChildState {
    explicit ChildState(pid_t id) : pid(id) {}
    const pid_t pid;
    std::mutex lock;
    bool reaped = false;
};

void WaitForChild(const std::shared_ptr<ChildState>& state) {
    siginfo_t info{};
    // Wait for the end without reaping, so that a priority change holding
    // the lock never reaches a recycled id.
    while (::waitid(P_PID, static_cast<id_t>(state->pid), &info, WEXITED | WNOWAIT) != 0 &&
           errno == EINTR) {
    }
    std::lock_guard<std::mutex> guard(state->lock);
    int status = 0;
    while (::waitpid(state->pid, &status, 0) < 0 && errno == EINTR) {
    }
    state->reaped = true;
}

// Runs in the child between fork and exec: only async-signal-safe calls.
[[noreturn]] void RunChild(int resumeFd, int errorFd, const char* program, char* const argv[]) {
    char go = 0;
    ssize_t n;
    do {
        n = ::read(resumeFd, &go, 1);
    } while (n < 0 && errno == EINTR);
    if (n != 1) {
        ::_exit(127); // the starter gave up before releasing us
    }
    sigset_t none;
    ::sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    // A session of its own, like a hidden process: the terminal's Ctrl-C
    // and hang-up reach the application, which cancels through the library,
    // and never strike the engine behind its back.
    ::setsid();
    ::execve(program, argv, environ);
    const int err = errno;
    ssize_t ignored = ::write(errorFd, &err, sizeof(err));
    (void)ignored;
    ::_exit(127);
}

// Called through syscall(): the C library's own wrappers are not usable
// from C++ with every C library version.
int PidfdOpen(pid_t pid) {
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0U));
}

int PidfdKill(int pidfd) {
    return static_cast<int>(::syscall(SYS_pidfd_send_signal, pidfd, SIGKILL, nullptr, 0U));
}

void CloseFd(int& fd) {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

} // namespace

std::vector<std::string> SplitCommandLine(const std::string& commandLine) {
    std::vector<std::string> args;
    size_t i = 0;
    const size_t n = commandLine.size();
    while (i < n && IsBlank(commandLine[i])) {
        ++i;
    }
    if (i == n) {
        return args;
    }
    // The program name: no escapes; quotes only delimit.
    std::string program;
    if (commandLine[i] == '"') {
        ++i;
        while (i < n && commandLine[i] != '"') {
            program += commandLine[i++];
        }
        if (i < n) {
            ++i;
        }
    } else {
        while (i < n && !IsBlank(commandLine[i])) {
            program += commandLine[i++];
        }
    }
    args.push_back(program);
    while (i < n && IsBlank(commandLine[i])) {
        ++i;
    }
    if (i == n) {
        return args;
    }
    // The other arguments. quotes is 0 outside and 1 inside a quoted part. A
    // run of double quotes counts on from there: reaching 3 adds a literal
    // quote and starts again from 0, and a run that ends at 2 leaves the
    // quoted part. So outside quotes "" is nothing and """ a literal quote;
    // inside, "" is a literal quote that also ends the quoted part.
    std::string current;
    int quotes = 0;
    size_t backslashes = 0;
    for (; i < n; ++i) {
        const char c = commandLine[i];
        if (IsBlank(c) && quotes == 0) {
            args.push_back(current);
            current.clear();
            backslashes = 0;
            while (i + 1 < n && IsBlank(commandLine[i + 1])) {
                ++i;
            }
            if (i + 1 == n) {
                return args;
            }
            continue;
        }
        if (c == '\\') {
            current += c;
            ++backslashes;
            continue;
        }
        if (c != '"') {
            current += c;
            backslashes = 0;
            continue;
        }
        // 2n backslashes and a quote: n backslashes and a grouping quote;
        // 2n+1 backslashes and a quote: n backslashes and a literal quote.
        current.erase(current.size() - backslashes / 2 - backslashes % 2);
        if (backslashes % 2 == 1) {
            current += '"';
        } else {
            ++quotes;
        }
        backslashes = 0;
        while (i + 1 < n && commandLine[i + 1] == '"') {
            ++i;
            if (++quotes == 3) {
                current += '"';
                quotes = 0;
            }
        }
        if (quotes == 2) {
            quotes = 0;
        }
    }
    args.push_back(current);
    return args;
}

std::string FindProgram(const std::string& name) {
    if (name.empty()) {
        return std::string();
    }
    if (name.find('/') != std::string::npos) {
        return IsExecutableFile(name) ? name : std::string();
    }
    const char* path = std::getenv("PATH");
    const std::string dirs = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
    size_t start = 0;
    for (;;) {
        const size_t end = dirs.find(':', start);
        std::string dir =
            dirs.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (dir.empty()) {
            dir = ".";
        }
        const std::string candidate = dir + "/" + name;
        if (IsExecutableFile(candidate)) {
            return candidate;
        }
        if (end == std::string::npos) {
            return std::string();
        }
        start = end + 1;
    }
}

uint32_t CurrentProcessId() {
    return static_cast<uint32_t>(::getpid());
}

bool PriorityClassToNice(uint32_t priorityClass, int& nice) {
    switch (priorityClass) {
    case kIdlePriorityClass:
        nice = 19;
        return true;
    case kBelowNormalPriorityClass:
        nice = 10;
        return true;
    case kNormalPriorityClass:
        nice = 0;
        return true;
    case kAboveNormalPriorityClass:
        nice = -5;
        return true;
    default:
        return false;
    }
}

struct CChildProcess::Impl {
    int pidfd = -1;
    std::shared_ptr<ChildState> state;
};

CChildProcess::CChildProcess() : impl_(new Impl) {}

CChildProcess::~CChildProcess() {
    Forget();
}

bool CChildProcess::Start(const std::string& commandLine,
                          const std::function<void(uint32_t processId)>& beforeResume,
                          const Confinement* /*confinement: the program confines itself*/) {
    Forget();
    const std::vector<std::string> args = SplitCommandLine(commandLine);
    if (args.empty()) {
        return false;
    }
    const std::string program = FindProgram(args[0]);
    if (program.empty()) {
        return false;
    }
    std::vector<char*> argv;
    for (const std::string& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);

    std::lock_guard<std::mutex> launchGuard(LaunchLock());
    int resumePipe[2] = {-1, -1};
    int errorPipe[2] = {-1, -1};
    if (::pipe2(resumePipe, O_CLOEXEC) != 0) {
        return false;
    }
    if (::pipe2(errorPipe, O_CLOEXEC) != 0) {
        CloseFd(resumePipe[0]);
        CloseFd(resumePipe[1]);
        return false;
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        RunChild(resumePipe[0], errorPipe[1], program.c_str(), argv.data());
    }
    CloseFd(resumePipe[0]);
    CloseFd(errorPipe[1]);
    if (pid < 0) {
        CloseFd(resumePipe[1]);
        CloseFd(errorPipe[0]);
        return false;
    }

    // The child is ours and not reaped yet, so its id is still its own.
    int pidfd = PidfdOpen(pid);
    auto state = std::make_shared<ChildState>(pid);
    bool waiterStarted = false;
    if (pidfd >= 0) {
        try {
            std::thread(WaitForChild, state).detach();
            waiterStarted = true;
        } catch (...) {
        }
    }
    if (!waiterStarted) {
        // Closing the release pipe unheld makes the child end at once.
        CloseFd(resumePipe[1]);
        CloseFd(errorPipe[0]);
        CloseFd(pidfd);
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        return false;
    }

    impl_->pidfd = pidfd;
    impl_->state = std::move(state);
    if (beforeResume) {
        beforeResume(static_cast<uint32_t>(pid));
    }

    const char go = 1;
    ssize_t written;
    do {
        written = ::write(resumePipe[1], &go, 1);
    } while (written < 0 && errno == EINTR);
    CloseFd(resumePipe[1]);

    // End of file: the exec succeeded and closed the child's end.
    int execError = 0;
    ssize_t got;
    do {
        got = ::read(errorPipe[0], &execError, sizeof(execError));
    } while (got < 0 && errno == EINTR);
    CloseFd(errorPipe[0]);
    if (written != 1 || got != 0) {
        PidfdKill(impl_->pidfd);
        Forget();
        return false;
    }
    return true;
}

bool CChildProcess::IsValid() const {
    return impl_->pidfd >= 0;
}

uint32_t CChildProcess::Id() const {
    return impl_->state ? static_cast<uint32_t>(impl_->state->pid) : 0;
}

bool CChildProcess::SetPriorityClass(uint32_t priorityClass) {
    int nice = 0;
    if (!impl_->state || !PriorityClassToNice(priorityClass, nice)) {
        return false;
    }
    ChildState& state = *impl_->state;
    std::lock_guard<std::mutex> guard(state.lock);
    if (state.reaped) {
        return false;
    }
    // A nice value belongs to one thread on Linux: change every thread.
    const std::string taskDir = "/proc/" + std::to_string(state.pid) + "/task";
    DIR* dir = ::opendir(taskDir.c_str());
    if (dir == nullptr) {
        return ::setpriority(PRIO_PROCESS, static_cast<id_t>(state.pid), nice) == 0;
    }
    bool ok = true;
    bool any = false;
    while (dirent* entry = ::readdir(dir)) {
        char* end = nullptr;
        const long tid = std::strtol(entry->d_name, &end, 10);
        if (end == entry->d_name || *end != '\0' || tid <= 0) {
            continue;
        }
        if (::setpriority(PRIO_PROCESS, static_cast<id_t>(tid), nice) == 0) {
            any = true;
        } else if (errno != ESRCH) {
            ok = false; // a thread that just ended does not count
        }
    }
    ::closedir(dir);
    return ok && any;
}

bool CChildProcess::Terminate() {
    if (impl_->pidfd < 0) {
        return false;
    }
    PidfdKill(impl_->pidfd);
    Forget();
    return true;
}

bool CChildProcess::HasExited() {
    return WaitForExit(0);
}

bool CChildProcess::WaitForExit(uint32_t timeoutMs) {
    if (impl_->pidfd < 0) {
        return true;
    }
    pollfd entry{impl_->pidfd, POLLIN, 0};
    int ready;
    do {
        ready = ::poll(&entry, 1, static_cast<int>(timeoutMs));
    } while (ready < 0 && errno == EINTR);
    return ready > 0;
}

intptr_t CChildProcess::WaitHandle() const {
    return impl_->pidfd;
}

void CChildProcess::Forget() {
    CloseFd(impl_->pidfd);
    impl_->state.reset();
}

} // namespace NorvOS
