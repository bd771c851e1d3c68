#include "every_thread_linux.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <set>
#include <string>
#include <vector>

#include <dirent.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace norv_engine {

namespace {

// How long a thread may take to answer: it answers as soon as the kernel
// runs it, whatever it is waiting for (the handler interrupts the wait).
constexpr long kAnswerMs = 10000;
constexpr int kMaxThreads = 1024;

std::atomic<ThreadCall> g_call{nullptr};
std::atomic<long> g_argument{0};
std::atomic<int> g_answers{0};
std::atomic<int> g_failures{0};
std::atomic<pid_t> g_answered[kMaxThreads];

int CallSignal() {
    return SIGRTMIN + 7;
}

pid_t ThreadId() {
    return static_cast<pid_t>(syscall(SYS_gettid));
}

void OnSignal(int) {
    const int saved = errno;
    const ThreadCall call = g_call.load();
    if (call == nullptr || call(g_argument.load()) != 0) {
        g_failures.fetch_add(1);
    }
    const int slot = g_answers.fetch_add(1);
    if (slot < kMaxThreads) {
        g_answered[slot].store(ThreadId());
    }
    errno = saved;
}

std::vector<pid_t> Threads() {
    std::vector<pid_t> threads;
    DIR* dir = opendir("/proc/self/task");
    if (dir == nullptr) {
        return threads;
    }
    while (const dirent* entry = readdir(dir)) {
        const long id = std::strtol(entry->d_name, nullptr, 10);
        if (id > 0) {
            threads.push_back(static_cast<pid_t>(id));
        }
    }
    closedir(dir);
    return threads;
}

bool Answered(pid_t thread) {
    const int answers = std::min(g_answers.load(), kMaxThreads);
    for (int i = 0; i < answers; ++i) {
        if (g_answered[i].load() == thread) {
            return true;
        }
    }
    return false;
}

bool ThreadGone(pid_t thread) {
    struct stat ignored;
    return stat(("/proc/self/task/" + std::to_string(thread)).c_str(), &ignored) != 0;
}

// Waits until every thread signalled has answered or is gone.
bool AwaitAnswers(const std::vector<pid_t>& signalled) {
    const timespec pause{0, 1000000};
    for (long waited = 0; waited < kAnswerMs; ++waited) {
        bool all = true;
        for (const pid_t thread : signalled) {
            if (!Answered(thread) && !ThreadGone(thread)) {
                all = false;
                break;
            }
        }
        if (all) {
            return true;
        }
        nanosleep(&pause, nullptr);
    }
    return false;
}

} // namespace

bool OnEveryThread(ThreadCall call, long argument) {
    const pid_t process = getpid();
    const pid_t self = ThreadId();
    g_call.store(call);
    g_argument.store(argument);
    g_answers.store(0);
    g_failures.store(0);
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    action.sa_flags = SA_RESTART;
    sigfillset(&action.sa_mask);
    if (sigaction(CallSignal(), &action, nullptr) != 0) {
        return false;
    }
    bool answered = true;
    std::set<pid_t> asked{self};
    // Threads that were asked may have started others meanwhile: asked
    // again until none is new.
    for (int round = 0; answered && round < 100; ++round) {
        std::vector<pid_t> signalled;
        for (const pid_t thread : Threads()) {
            if (asked.insert(thread).second &&
                syscall(SYS_tgkill, process, thread, CallSignal()) == 0) {
                signalled.push_back(thread);
            }
        }
        if (signalled.empty()) {
            break;
        }
        answered = AwaitAnswers(signalled);
    }
    const bool mine = call(argument) == 0;
    action.sa_handler = SIG_IGN;
    sigaction(CallSignal(), &action, nullptr);
    return answered && mine && g_failures.load() == 0;
}

} // namespace norv_engine
