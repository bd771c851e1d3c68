#include "seccomp_policy_linux.h"

#include <cerrno>
#include <cstring>
#include <memory>

#include <linux/sched.h>
#include <seccomp.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <termios.h>
#include <unistd.h>

#include "sandbox_allowances.h"

namespace norv_engine {

namespace {

// What the engine does after start-up, on its own threads and FFmpeg's,
// x264's and x265's: read and write files it is allowed to open (Landlock
// says which), map memory, wait, keep time, talk over the pipes it
// already has, start threads.
const char* const kAllowed[] = {
    // files
    "read",
    "write",
    "readv",
    "writev",
    "pread64",
    "pwrite64",
    "preadv",
    "pwritev",
    "preadv2",
    "pwritev2",
    "lseek",
    "open",
    "openat",
    "close",
    "close_range",
    "fstat",
    "stat",
    "lstat",
    "newfstatat",
    "statx",
    "fstatfs",
    "statfs",
    "access",
    "faccessat",
    "faccessat2",
    "readlink",
    "readlinkat",
    "getdents",
    "getdents64",
    "getcwd",
    "fcntl",
    "dup",
    "dup2",
    "dup3",
    "ftruncate",
    "fsync",
    "fdatasync",
    "fadvise64",
    "flock",
    "unlink",
    "unlinkat",
    "rename",
    "renameat",
    "renameat2",
    "mkdir",
    "mkdirat",
    "rmdir",
    "link",
    "linkat",
    "umask",
    // memory
    "mmap",
    "munmap",
    "mremap",
    "mprotect",
    "madvise",
    "brk",
    "get_mempolicy",
    "set_mempolicy",
    "mbind",
    // threads, waiting, time
    "futex",
    "futex_waitv",
    "set_robust_list",
    "get_robust_list",
    "rseq",
    "sched_yield",
    "sched_getaffinity",
    "sched_setaffinity",
    "sched_getparam",
    "sched_getscheduler",
    "sched_get_priority_max",
    "sched_get_priority_min",
    "getpriority",
    "setpriority",
    "nanosleep",
    "clock_nanosleep",
    "clock_gettime",
    "clock_getres",
    "gettimeofday",
    "time",
    "times",
    "getrusage",
    "membarrier",
    // who and where
    "getpid",
    "gettid",
    "getppid",
    "getuid",
    "geteuid",
    "getgid",
    "getegid",
    "getresuid",
    "getresgid",
    "getgroups",
    "getrandom",
    "uname",
    "sysinfo",
    "getrlimit",
    // signals (the thread that waits for termination, and the C library's)
    "rt_sigaction",
    "rt_sigprocmask",
    "rt_sigreturn",
    "rt_sigtimedwait",
    "rt_sigsuspend",
    "rt_sigpending",
    "sigaltstack",
    "restart_syscall",
    "exit",
    "exit_group",
    // the pipes to the library, already connected
    "recvfrom",
    "sendto",
    "recvmsg",
    "sendmsg",
    "shutdown",
    "getsockopt",
    "setsockopt",
    "getsockname",
    "getpeername",
    "epoll_create",
    "epoll_create1",
    "epoll_ctl",
    "epoll_wait",
    "epoll_pwait",
    "epoll_pwait2",
    "poll",
    "ppoll",
    "select",
    "pselect6",
    "eventfd2",
    // confining the job comes later; the job filter takes these away
    "landlock_create_ruleset",
    "landlock_add_rule",
    "landlock_restrict_self",
    "seccomp",
    "setrlimit",
    "prlimit64",
};

// prctl: thread names, no new privileges, naming memory.
constexpr unsigned long kPrSetVma = 0x53564d41;
const unsigned long kPrctlAllowed[] = {PR_SET_NAME,         PR_GET_NAME,     PR_SET_NO_NEW_PRIVS,
                                       PR_GET_NO_NEW_PRIVS, PR_GET_DUMPABLE, kPrSetVma};

// ioctl: what the C library and the pipes ask of a descriptor.
const unsigned long kIoctlAllowed[] = {TCGETS, FIONREAD, TIOCOUTQ, FIONBIO, FIOCLEX};

struct FilterDeleter {
    void operator()(void* filter) const { seccomp_release(filter); }
};
using Filter = std::unique_ptr<void, FilterDeleter>;

// A comparison of argument arg (libseccomp's SCMP_A0... macros leave a field
// to the compiler, which clang warns of).
scmp_arg_cmp Arg(unsigned arg, scmp_compare op, scmp_datum_t a, scmp_datum_t b = 0) {
    scmp_arg_cmp compare;
    compare.arg = arg;
    compare.op = op;
    compare.datum_a = a;
    compare.datum_b = b;
    return compare;
}

bool Add(scmp_filter_ctx filter, uint32_t action, const char* name) {
    const int call = seccomp_syscall_resolve_name(name);
    // A call this machine's kernel does not have needs no rule.
    return call == __NR_SCMP_ERROR || seccomp_rule_add(filter, action, call, 0) == 0;
}

bool Load(scmp_filter_ctx filter, std::string& why) {
    const int loaded = seccomp_load(filter);
    if (loaded != 0) {
        why = std::string("seccomp: ") + std::strerror(-loaded);
        return false;
    }
    return true;
}

} // namespace

bool InstallStartupFilter(bool logOnly, std::string& why) {
    Filter filter(seccomp_init(logOnly ? SCMP_ACT_LOG : SCMP_ACT_KILL_PROCESS));
    if (!filter) {
        why = "seccomp: no filter";
        return false;
    }
    scmp_filter_ctx f = filter.get();
    // Every thread gets the filter, the ones already running included.
    seccomp_attr_set(f, SCMP_FLTATR_CTL_TSYNC, 1);
    bool ok = true;
    for (const char* name : kAllowed) {
        ok = Add(f, SCMP_ACT_ALLOW, name) && ok;
    }
    // Threads only: a clone that makes no thread is a new process.
    ok = seccomp_rule_add(f, SCMP_ACT_ALLOW, SCMP_SYS(clone), 1,
                          Arg(0, SCMP_CMP_MASKED_EQ, CLONE_THREAD, CLONE_THREAD)) == 0 &&
         ok;
    // clone3's flags are out of a filter's reach: the C library falls back
    // to clone when it is missing.
    ok = Add(f, SCMP_ACT_ERRNO(ENOSYS), "clone3") && ok;
    // Signals go to the engine's own threads only (abort, the thread calls).
    ok = seccomp_rule_add(f, SCMP_ACT_ALLOW, SCMP_SYS(tgkill), 1,
                          Arg(0, SCMP_CMP_EQ, static_cast<scmp_datum_t>(getpid()))) == 0 &&
         ok;
    for (const unsigned long option : kPrctlAllowed) {
        ok = seccomp_rule_add(f, SCMP_ACT_ALLOW, SCMP_SYS(prctl), 1, Arg(0, SCMP_CMP_EQ, option)) ==
                 0 &&
             ok;
    }
    for (const unsigned long request : kIoctlAllowed) {
        ok = seccomp_rule_add(f, SCMP_ACT_ALLOW, SCMP_SYS(ioctl), 1,
                              Arg(1, SCMP_CMP_EQ, request)) == 0 &&
             ok;
    }
    AllowSanitizerCalls(f);
    if (!ok) {
        why = "seccomp: the allow-list could not be built";
        return false;
    }
    return Load(f, why);
}

bool InstallJobFilter(std::string& why) {
    Filter filter(seccomp_init(SCMP_ACT_ALLOW));
    if (!filter) {
        why = "seccomp: no filter";
        return false;
    }
    scmp_filter_ctx f = filter.get();
    seccomp_attr_set(f, SCMP_FLTATR_CTL_TSYNC, 1);
    bool ok = true;
    for (const char* name : {"landlock_create_ruleset", "landlock_add_rule",
                             "landlock_restrict_self", "seccomp", "setrlimit"}) {
        ok = Add(f, SCMP_ACT_KILL_PROCESS, name) && ok;
    }
    // The C library reads limits with prlimit64 and no new limit.
    ok = seccomp_rule_add(f, SCMP_ACT_KILL_PROCESS, SCMP_SYS(prlimit64), 1,
                          Arg(2, SCMP_CMP_NE, 0)) == 0 &&
         ok;
    if (!ok) {
        why = "seccomp: the job filter could not be built";
        return false;
    }
    return Load(f, why);
}

} // namespace norv_engine
