#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>

#include <sched.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include "engine_log.h"
#include "landlock_linux.h"
#include "sandbox.h"
#include "sandbox_allowances.h"
#include "seccomp_policy_linux.h"

namespace norv_engine {

namespace {

// Open files a job needs: the pipes, its inputs, the output and scratch
// files, fonts and libraries opened while a filter graph is built.
constexpr rlim_t kOpenFiles = 256;
// The output may overshoot its size limit (the job then encodes again at a
// lower bitrate), and x264's statistics sit beside it: the file-size limit
// leaves room for both, and stops a runaway file long before the disk is
// full.
constexpr uint64_t kSizeHeadroom = 64ull << 20;

struct State {
    std::mutex lock;
    bool off = false;
    bool prepared = false; ///< in a user namespace of its own
    bool startup = false;  ///< LockDownEngine ran
    bool seccomp = false;  ///< the start-up filter is in place
    bool network = false;  ///< in a network namespace of its own
    bool limits = false;   ///< core and open-file limits
    bool confined = false; ///< ConfineToJob ran
    int landlockAbi = 0;   ///< when Landlock is on
    std::string missing;   ///< the layers that could not be had, and why
};

State& TheState() {
    static State state;
    return state;
}

bool SandboxIs(const char* setting) {
    const char* value = std::getenv("NORV_ENGINE_SANDBOX");
    return value != nullptr && std::strcmp(value, setting) == 0;
}

void Missing(State& state, const std::string& what) {
    state.missing += (state.missing.empty() ? "" : "; ") + what;
}

bool WriteProcFile(const char* path, const std::string& text) {
    std::ofstream file(path);
    file << text;
    file.close();
    return static_cast<bool>(file);
}

// An engine that is not root may still make a network namespace in a user
// namespace of its own, which needs a process of one thread.
bool EnterUserNamespace() {
    const uid_t uid = geteuid();
    const gid_t gid = getegid();
    if (unshare(CLONE_NEWUSER) != 0) {
        return false;
    }
    // The same ids inside as outside: files keep their owners.
    WriteProcFile("/proc/self/setgroups", "deny");
    return WriteProcFile("/proc/self/uid_map",
                         std::to_string(uid) + " " + std::to_string(uid) + " 1") &&
           WriteProcFile("/proc/self/gid_map",
                         std::to_string(gid) + " " + std::to_string(gid) + " 1");
}

bool SetLimit(int resource, rlim_t value) {
    rlimit limit;
    if (getrlimit(resource, &limit) != 0) {
        return false;
    }
    limit.rlim_cur = limit.rlim_max == RLIM_INFINITY ? value : std::min(value, limit.rlim_max);
    limit.rlim_max = limit.rlim_cur;
    return setrlimit(resource, &limit) == 0;
}

std::string SandboxSummaryLocked(const State& state) {
    if (state.off) {
        return "off (NORV_ENGINE_SANDBOX=off)";
    }
    if (!state.startup) {
        return "not locked down";
    }
    std::string on;
    const auto add = [&on](const std::string& layer) { on += (on.empty() ? "" : ", ") + layer; };
    if (state.seccomp) {
        add("seccomp");
    }
    if (state.landlockAbi > 0) {
        add("Landlock ABI " + std::to_string(state.landlockAbi) +
            (SanitizerConfinesJobThreadsOnly() ? " (the job's threads: a sanitizer build)" : ""));
    } else if (!state.confined && LandlockAbi() > 0) {
        add("Landlock ABI " + std::to_string(std::min(LandlockAbi(), 7)) + " once a job is read");
    }
    if (state.network) {
        add(state.prepared ? "network namespace (in a user namespace)" : "network namespace");
    }
    if (state.limits) {
        add("limits");
    }
    std::string text = on.empty() ? "no layer" : on;
    if (!state.missing.empty()) {
        text += "; not had: " + state.missing;
    }
    return text;
}

} // namespace

std::string SandboxSummary() {
    State& state = TheState();
    std::lock_guard<std::mutex> guard(state.lock);
    return SandboxSummaryLocked(state);
}

void PrepareSandbox() {
    State& state = TheState();
    state.off = SandboxIs("off");
    if (!state.off && geteuid() != 0) {
        state.prepared = EnterUserNamespace();
    }
}

void LockDownEngine() {
    State& state = TheState();
    std::lock_guard<std::mutex> guard(state.lock);
    if (state.off || state.startup) {
        return;
    }
    state.startup = true;
    state.limits = SetLimit(RLIMIT_CORE, 0) && SetLimit(RLIMIT_NOFILE, kOpenFiles);
    if (!state.limits) {
        Missing(state, std::string("limits: ") + std::strerror(errno));
    }
    // The pipes are abstract sockets, which belong to a network namespace:
    // connected first, they keep working in the new one. Threads started
    // from here on (the jobs', FFmpeg's) are in it; those already running
    // may make no socket either.
    state.network = unshare(CLONE_NEWNET) == 0;
    if (!state.network) {
        Missing(state, std::string("network namespace: ") + std::strerror(errno));
    }
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) {
        Missing(state, std::string("no new privileges: ") + std::strerror(errno));
        return; // neither seccomp nor Landlock go without it
    }
    std::string why;
    state.seccomp = InstallStartupFilter(SandboxIs("log"), why);
    if (!state.seccomp) {
        Missing(state, why);
    }
}

void ConfineToJob(const JobAccess& access) {
    State& state = TheState();
    std::lock_guard<std::mutex> guard(state.lock);
    if (state.off || !state.startup) {
        if (state.off) {
            LogLine(Severity::Warning, "sandbox: off (NORV_ENGINE_SANDBOX=off)");
        }
        return;
    }
    if (state.confined) {
        LogLine(Severity::Warning, "sandbox: confined to the first job's files");
        return;
    }
    state.confined = true;
    if (access.sizeLimit != 0) {
        // A write past the limit fails (EFBIG) instead of ending the engine.
        signal(SIGXFSZ, SIG_IGN);
        const uint64_t bytes = access.sizeLimit * 2 + kSizeHeadroom;
        if (!SetLimit(RLIMIT_FSIZE, bytes < access.sizeLimit ? RLIM_INFINITY : bytes)) {
            Missing(state, std::string("file-size limit: ") + std::strerror(errno));
        }
    }
    std::string why;
    if (ApplyLandlock(access, why)) {
        state.landlockAbi = std::min(LandlockAbi(), 7);
    } else {
        Missing(state, why);
    }
    if (state.seccomp && !InstallJobFilter(why)) {
        Missing(state, why);
    }
    LogLine(Severity::Info, "sandbox: %s", SandboxSummaryLocked(state).c_str());
}

} // namespace norv_engine
