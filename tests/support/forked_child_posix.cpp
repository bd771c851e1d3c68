#include "support/forked_child.h"

#include <signal.h>
#include <sys/resource.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

namespace norv_test {

namespace {

int ChildMain(const std::function<int()>& body, const ChildOptions& options) {
    // The file-size signal must keep its default action (end the process).
    ::signal(SIGXFSZ, SIG_DFL);
    if (options.dropRights && ::geteuid() == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) {
            return kChildCannotDropRights;
        }
    }
    if (options.fileSizeLimit >= 0) {
        struct rlimit limit;
        limit.rlim_cur = static_cast<rlim_t>(options.fileSizeLimit);
        limit.rlim_max = static_cast<rlim_t>(options.fileSizeLimit);
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) {
            return 126;
        }
    }
    try {
        return body();
    } catch (...) {
        return 125;
    }
}

} // namespace

int StartChild(const std::function<int()>& body, const ChildOptions& options) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::_exit(ChildMain(body, options));
    }
    return pid < 0 ? -1 : static_cast<int>(pid);
}

int StartProgram(const std::vector<std::string>& args) {
    if (args.empty()) {
        return -1;
    }
    std::vector<char*> argv;
    for (const std::string& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    return pid < 0 ? -1 : static_cast<int>(pid);
}

ChildOutcome RunInChild(const std::function<int()>& body, const ChildOptions& options) {
    return WaitChild(StartChild(body, options));
}

ChildOutcome WaitChild(int pid) {
    ChildOutcome outcome;
    if (pid < 0) {
        return outcome;
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            return outcome;
        }
    }
    if (WIFEXITED(status)) {
        outcome.exited = true;
        outcome.exitCode = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        outcome.killedBySignal = true;
        outcome.killedForFileSize = WTERMSIG(status) == SIGXFSZ;
    }
    return outcome;
}

} // namespace norv_test
