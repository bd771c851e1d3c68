// What the sanitizer builds of the engine need beyond the sandbox's own
// rules, all of it here. AddressSanitizer's leak check stops the process's
// threads with a tracer of its own (a clone that is no thread, and ptrace),
// and its reports read the executable's symbols; ThreadSanitizer's own
// thread keeps every signal blocked, so it never answers the call that
// confines each thread. In a build without a sanitizer all of this is
// empty.
#pragma once

#include <seccomp.h>

#include <string>
#include <vector>

namespace norv_engine {

/// True in a sanitizer build.
bool SanitizerBuild();

/// Adds the system calls the sanitizer's runtime makes to a filter.
void AllowSanitizerCalls(scmp_filter_ctx filter);

/// Files and folders the sanitizer's runtime reads.
std::vector<std::string> SanitizerReadablePaths();

/// True when a thread that does not answer may be the sanitizer's own.
bool SanitizerThreadsMayNotAnswer();

} // namespace norv_engine
