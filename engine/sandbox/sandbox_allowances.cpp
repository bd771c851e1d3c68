#include "sandbox_allowances.h"

#include <climits>

#include <linux/sched.h>

#include <unistd.h>

namespace norv_engine {

namespace {

#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define NORV_SANITIZED 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define NORV_SANITIZED 1
#endif

#if defined(NORV_SANITIZED)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

} // namespace

bool SanitizerBuild() {
    return kSanitized;
}

void AllowSanitizerCalls(scmp_filter_ctx filter) {
    if (!kSanitized) {
        return;
    }
    // The leak check's tracer: a clone sharing the memory but not a
    // thread, which attaches to every thread, waits for it and reads its
    // registers. AddressSanitizer tells readable memory from unreadable by
    // writing it into a pipe.
    for (const char* name :
         {"ptrace", "wait4", "waitpid", "prctl", "sched_yield", "process_vm_readv", "readlinkat",
          "readlink", "kill", "tkill", "pipe", "pipe2"}) {
        const int call = seccomp_syscall_resolve_name(name);
        if (call != __NR_SCMP_ERROR) {
            seccomp_rule_add(filter, SCMP_ACT_ALLOW, call, 0);
        }
    }
    // The tracer shares the memory; a fork (which does not) is still
    // refused.
    scmp_arg_cmp sharesMemory;
    sharesMemory.arg = 0;
    sharesMemory.op = SCMP_CMP_MASKED_EQ;
    sharesMemory.datum_a = CLONE_VM;
    sharesMemory.datum_b = CLONE_VM;
    seccomp_rule_add(filter, SCMP_ACT_ALLOW, SCMP_SYS(clone), 1, sharesMemory);
}

std::vector<std::string> SanitizerReadablePaths() {
    if (!kSanitized) {
        return {};
    }
    // Reports name functions from the executable's own symbols.
    char executable[PATH_MAX] = {};
    const ssize_t length = readlink("/proc/self/exe", executable, sizeof executable - 1);
    if (length <= 0) {
        return {};
    }
    return {std::string(executable, static_cast<size_t>(length))};
}

bool SanitizerConfinesJobThreadsOnly() {
    return kSanitized;
}

} // namespace norv_engine
