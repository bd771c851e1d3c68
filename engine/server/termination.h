// A scheduler ends a job by signalling each of its processes, the engine
// among them (Slurm's SIGTERM at a time limit or a preemption), not only the
// application that asked for the work. The engine then does what it does
// when its pipes close under a running job: it removes the job's unfinished
// output and scratch files, and ends.
#pragma once

namespace norv_engine {

/// Call first in main, before any other thread starts: termination signals
/// are blocked in every thread and taken by a thread of their own, which
/// cleans up and ends the process. Does nothing on Windows.
void EndCleanlyOnTermination();

} // namespace norv_engine
