// What the sanitizer builds of the engine need beyond the sandbox's own
// rules, all of it here. AddressSanitizer's leak check stops the process's
// threads with a tracer of its own (a clone that shares the memory, and
// ptrace), it checks memory through a pipe, and its reports read the
// executable's symbols. The tracer may attach only to threads of its own
// Landlock domain, and each thread that restricts itself gets a domain of
// its own: so in these builds Landlock confines the job's thread (and the
// threads it starts, FFmpeg's among them) but not the threads that were
// running before. In a build without a sanitizer all of this is empty.
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

/// True when Landlock confines the job's thread and what it starts only.
bool SanitizerConfinesJobThreadsOnly();

} // namespace norv_engine
