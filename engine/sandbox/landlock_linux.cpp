#include "landlock_linux.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "engine_log.h"
#include "every_thread_linux.h"
#include "sandbox_allowances.h"

namespace norv_engine {

namespace {

// The interface, as the kernel's own header describes it (ABI 1 to 7).
#ifndef __NR_landlock_create_ruleset
constexpr long __NR_landlock_create_ruleset = 444;
constexpr long __NR_landlock_add_rule = 445;
constexpr long __NR_landlock_restrict_self = 446;
#endif
constexpr unsigned kCreateRulesetVersion = 1u << 0;
constexpr int kRulePathBeneath = 1;
constexpr int kHighestKnownAbi = 7;

struct RulesetAttr {
    uint64_t handledAccessFs;
    uint64_t handledAccessNet; // ABI 4
    uint64_t scoped;           // ABI 6
};

struct __attribute__((packed)) PathBeneathAttr {
    uint64_t allowedAccess;
    int32_t parentFd;
};

// The file-system rights this code uses (ABI 1 has the first 13).
constexpr uint64_t kExecute = 1ull << 0;
constexpr uint64_t kWriteFile = 1ull << 1;
constexpr uint64_t kReadFile = 1ull << 2;
constexpr uint64_t kReadDir = 1ull << 3;
constexpr uint64_t kRemoveFile = 1ull << 5;
constexpr uint64_t kMakeReg = 1ull << 8;
constexpr uint64_t kRefer = 1ull << 13;    // ABI 2
constexpr uint64_t kTruncate = 1ull << 14; // ABI 3
constexpr uint64_t kIoctlDev = 1ull << 15; // ABI 5
constexpr uint64_t kAbi1Rights = (1ull << 13) - 1;
// The rights a rule on a file (not a folder) may carry.
constexpr uint64_t kFileRights = kExecute | kWriteFile | kReadFile | kTruncate | kIoctlDev;

constexpr uint64_t kNetBindTcp = 1ull << 0;        // ABI 4
constexpr uint64_t kNetConnectTcp = 1ull << 1;     // ABI 4
constexpr uint64_t kScopeAbstractUnix = 1ull << 0; // ABI 6
constexpr uint64_t kScopeSignal = 1ull << 1;       // ABI 6

constexpr uint64_t kRead = kReadFile | kReadDir;
constexpr uint64_t kWrite = kRead | kWriteFile | kMakeReg | kRemoveFile | kTruncate | kRefer;

// Read by the C library, FFmpeg, fontconfig and libass whatever the job:
// libraries and the modules loaded late (iconv's), fonts and their
// configuration and caches, locale and time zone data, the processor's
// description (thread counts, x265's NUMA nodes).
const char* const kSystemReadable[] = {
    "/usr",
    "/lib",
    "/lib64",
    "/lib32",
    "/etc/ld.so.cache",
    "/etc/fonts",
    "/etc/localtime",
    "/var/cache/fontconfig",
    "/sys/devices/system/cpu",
    "/sys/devices/system/node",
    "/proc/self",
};
// The same below the user's home folder (and the XDG folders).
const char* const kHomeReadable[] = {".fonts", ".local/share/fonts", ".cache/fontconfig",
                                     ".config/fontconfig"};
const char* const kDevices[] = {"/dev/null", "/dev/zero", "/dev/urandom", "/dev/random"};

long CreateRuleset(const RulesetAttr* attr, size_t size, unsigned flags) {
    return syscall(__NR_landlock_create_ruleset, attr, size, flags);
}

class Ruleset {
public:
    Ruleset(int abi, uint64_t handled) : handled_(handled) {
        RulesetAttr attr = {};
        attr.handledAccessFs = handled;
        if (abi >= 4) {
            attr.handledAccessNet = kNetBindTcp | kNetConnectTcp; // no rule: no TCP at all
        }
        if (abi >= 6) {
            attr.scoped = kScopeAbstractUnix | kScopeSignal;
        }
        fd_ = static_cast<int>(CreateRuleset(&attr, sizeof attr, 0));
    }
    ~Ruleset() {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    Ruleset(const Ruleset&) = delete;
    Ruleset& operator=(const Ruleset&) = delete;

    int fd() const { return fd_; }

    /// Allows rights on path (and below it, for a folder); a path that is
    /// not there is left out.
    void Allow(const std::string& path, uint64_t rights) {
        const int target = open(path.c_str(), O_PATH | O_CLOEXEC);
        if (target < 0) {
            return;
        }
        struct stat info;
        if (fstat(target, &info) == 0) {
            if (!S_ISDIR(info.st_mode)) {
                rights &= kFileRights;
            }
            PathBeneathAttr attr = {};
            attr.allowedAccess = rights & handled_;
            attr.parentFd = target;
            syscall(__NR_landlock_add_rule, fd_, kRulePathBeneath, &attr, 0);
        }
        close(target);
    }

private:
    int fd_ = -1;
    uint64_t handled_ = 0;
};

long RestrictThread(long ruleset) {
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) {
        return -1;
    }
    return syscall(__NR_landlock_restrict_self, static_cast<int>(ruleset), 0);
}

} // namespace

int LandlockAbi() {
    static const int abi = [] {
        const long version = CreateRuleset(nullptr, 0, kCreateRulesetVersion);
        return version < 0 ? 0 : static_cast<int>(version);
    }();
    return abi;
}

bool ApplyLandlock(const JobAccess& access, std::string& why) {
    const int abi = std::min(LandlockAbi(), kHighestKnownAbi);
    if (abi <= 0) {
        why = errno == EOPNOTSUPP ? "Landlock is off in this kernel" : "no Landlock in this kernel";
        return false;
    }
    uint64_t handled = kAbi1Rights;
    handled |= abi >= 2 ? kRefer : 0;
    handled |= abi >= 3 ? kTruncate : 0;
    handled |= abi >= 5 ? kIoctlDev : 0;
    Ruleset rules(abi, handled);
    if (rules.fd() < 0) {
        why = std::string("no Landlock ruleset: ") + std::strerror(errno);
        return false;
    }
    for (const char* path : kSystemReadable) {
        rules.Allow(path, kRead);
    }
    std::string home = std::getenv("HOME") != nullptr ? std::getenv("HOME") : "";
    for (const char* path : kHomeReadable) {
        if (!home.empty()) {
            rules.Allow(home + "/" + path, kRead);
        }
    }
    for (const char* variable : {"XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_CONFIG_HOME"}) {
        if (const char* folder = std::getenv(variable)) {
            rules.Allow(std::string(folder) + "/fonts", kRead);
            rules.Allow(std::string(folder) + "/fontconfig", kRead);
        }
    }
    for (const char* device : kDevices) {
        rules.Allow(device, kReadFile | kWriteFile);
    }
    for (const std::string& path : SanitizerReadablePaths()) {
        rules.Allow(path, kRead);
    }
    for (const std::string& file : access.readFiles) {
        rules.Allow(file, kReadFile);
    }
    for (const std::string& folder : access.readFolders) {
        rules.Allow(folder, kRead);
    }
    for (const std::string& folder : access.writeFolders) {
        rules.Allow(folder, kWrite);
    }
    if (SanitizerConfinesJobThreadsOnly()) {
        if (RestrictThread(rules.fd()) != 0) {
            why = std::string("Landlock: ") + std::strerror(errno);
            return false;
        }
    } else if (!OnEveryThread(RestrictThread, rules.fd())) {
        // Some threads are confined and some not: nothing to go on with.
        LogLine(Severity::Critical, "sandbox: a thread could not be confined; ending");
        std::_Exit(70);
    }
    why.clear();
    return true;
}

} // namespace norv_engine
