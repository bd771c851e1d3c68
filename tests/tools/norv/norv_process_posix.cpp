// Runs norv with fork and execve, in a process group of its own.
#include "norv_process.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include <gtest/gtest.h>

#include "support/temp_dir.h"

extern char** environ;

namespace norv_test {

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::chrono::seconds kPatience(60);

std::vector<std::string> Environment(const std::map<std::string, std::string>& extra) {
    std::map<std::string, std::string> env;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text(*entry);
        const size_t eq = text.find('=');
        if (eq != std::string::npos) {
            env[text.substr(0, eq)] = text.substr(eq + 1);
        }
    }
    env.erase("NORV_ENGINE");
    for (const auto& entry : extra) {
        env[entry.first] = entry.second;
    }
    std::vector<std::string> list;
    for (const auto& entry : env) {
        list.push_back(entry.first + "=" + entry.second);
    }
    return list;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (std::string& text : texts) {
        pointers.push_back(text.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

} // namespace

struct NorvProcess::Impl {
    pid_t pid = -1;
    std::string outPath;
    std::string errPath;
    int terminal = -1; // pseudo-terminal master when norv's stderr is a terminal
    std::thread terminalReader;
    std::string terminalText;
    bool ended = false;
    NorvOutput output;
};

NorvProcess::NorvProcess(const std::vector<std::string>& args, const NorvOptions& options)
    : impl_(new Impl) {
    const std::string files = options.folder + "/.norv-" + std::to_string(::getpid()) + "-" +
                              std::to_string(reinterpret_cast<uintptr_t>(this));
    impl_->outPath = files + ".out";
    impl_->errPath = files + ".err";
    std::vector<std::string> argv{options.program.empty() ? NORV_CLI : options.program};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<std::string> envp = Environment(NorvEnvironment(options));
    std::vector<char*> argvPtr = Pointers(argv);
    std::vector<char*> envpPtr = Pointers(envp);
    std::string terminalName;
    if (options.terminal) {
        impl_->terminal = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        EXPECT_GE(impl_->terminal, 0);
        ::grantpt(impl_->terminal);
        ::unlockpt(impl_->terminal);
        terminalName = ::ptsname(impl_->terminal);
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setpgid(0, 0);
        const int out = ::open(impl_->outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = options.terminal
                            ? ::open(terminalName.c_str(), O_RDWR | O_NOCTTY)
                            : ::open(impl_->errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int in = ::open("/dev/null", O_RDONLY);
        if (out < 0 || err < 0 || in < 0 || ::chdir(options.folder.c_str()) != 0) {
            ::_exit(126);
        }
        ::dup2(in, 0);
        ::dup2(out, 1);
        ::dup2(err, 2);
        ::execve(argvPtr[0], argvPtr.data(), envpPtr.data());
        ::_exit(127);
    }
    impl_->pid = pid;
    ::setpgid(pid, pid); // also here, so that the group exists when we signal it
    if (options.terminal) {
        // The master is read as norv writes, so a full terminal never stalls it.
        impl_->terminalReader = std::thread([impl = impl_.get()] {
            char buffer[4096];
            ssize_t n;
            while ((n = ::read(impl->terminal, buffer, sizeof buffer)) > 0) {
                impl->terminalText.append(buffer, static_cast<size_t>(n));
            }
        });
    }
}

NorvProcess::~NorvProcess() {
    if (!impl_->ended && impl_->pid > 0) {
        ::kill(-impl_->pid, SIGKILL);
        Wait();
    }
}

bool NorvProcess::WaitForError(const std::function<bool(const std::string&)>& ready) {
    const Clock::time_point end = Clock::now() + kPatience;
    while (Clock::now() < end) {
        if (ready(ReadFile(impl_->errPath))) {
            return true;
        }
        int status = 0;
        if (::waitpid(impl_->pid, &status, WNOHANG) == impl_->pid) {
            impl_->ended = true;
            impl_->output.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

void NorvProcess::SignalGroup(int sig) {
    ::kill(-impl_->pid, sig);
}

NorvOutput NorvProcess::Wait() {
    if (!impl_->ended) {
        int status = 0;
        while (::waitpid(impl_->pid, &status, 0) < 0 && errno == EINTR) {
        }
        impl_->ended = true;
        impl_->output.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    if (impl_->terminalReader.joinable()) {
        impl_->terminalReader.join(); // the read ends once norv closed the terminal
        ::close(impl_->terminal);
    }
    impl_->output.out = ReadFile(impl_->outPath);
    impl_->output.err = impl_->terminal >= 0 ? impl_->terminalText : ReadFile(impl_->errPath);
    ::unlink(impl_->outPath.c_str());
    ::unlink(impl_->errPath.c_str());
    return impl_->output;
}

bool ProcessEnds(int pid) {
    const Clock::time_point end = Clock::now() + kPatience;
    while (Clock::now() < end) {
        const std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
        const size_t close = stat.rfind(')');
        if (stat.empty() || (close != std::string::npos && stat.compare(close + 2, 1, "Z") == 0)) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

} // namespace norv_test
