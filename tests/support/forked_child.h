// Runs a piece of a test in a forked child process, optionally with fewer
// rights or a file-size limit, and reports how the child ended.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace norv_test {

struct ChildOptions {
    /// Run as the unprivileged user 65534 when started as root (root ignores
    /// permission bits). A child that cannot drop its rights exits with
    /// kChildCannotDropRights.
    bool dropRights = false;
    /// When non-negative, the largest file size in bytes the child may write;
    /// writing past it kills the child with the file-size signal.
    int64_t fileSizeLimit = -1;
};

constexpr int kChildCannotDropRights = 77;

struct ChildOutcome {
    bool exited = false; ///< ended through exit; exitCode is valid
    int exitCode = -1;
    bool killedBySignal = false;
    bool killedForFileSize = false; ///< the signal was the file-size signal
};

/// Runs body in a child and waits for it; the child exits with body's
/// return value (or 125 when body throws), without running exit handlers.
ChildOutcome RunInChild(const std::function<int()>& body, const ChildOptions& options = {});

/// Starts body in a child as RunInChild does, without waiting. Returns the
/// child's process id, or -1 when it could not be started.
int StartChild(const std::function<int()>& body, const ChildOptions& options = {});

/// Starts a program in a child: args[0] is its path, the rest its
/// arguments. Returns the child's process id, or -1.
int StartProgram(const std::vector<std::string>& args);

/// Waits for a child that StartChild or StartProgram started, and reports
/// how it ended.
ChildOutcome WaitChild(int pid);

} // namespace norv_test
