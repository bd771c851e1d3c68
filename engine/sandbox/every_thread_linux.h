// Running a system call on every thread of the process. Landlock (and a
// network namespace) apply to the calling thread alone, and the engine has
// threads before it knows its job: the one that waits for a terminating
// signal (started first of all), the pipes' reader, the request loop.
// Each is interrupted by a signal of the engine's own, whose handler makes
// the call, as the C library does to change the ids of every thread.
#pragma once

namespace norv_engine {

/// A call made on each thread: async-signal-safe, 0 on success.
using ThreadCall = long (*)(long argument);

/// Makes call(argument) on every thread of the process, the calling one
/// last, until no thread is left that has not made it (threads started
/// meanwhile included). False when a thread did not answer in time or its
/// call failed; some threads may have made it then.
bool OnEveryThread(ThreadCall call, long argument);

} // namespace norv_engine
