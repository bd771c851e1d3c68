// The frame of the fault-matrix tests: each row runs one misbehaving
// exchange against an engine, and the frame then checks that the row left
// nothing behind in this process (descriptors, threads, child processes)
// nor in /dev/shm (the engines' start-up semaphores).
#pragma once

#include <cstdint>
#include <functional>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "api/ref_counted_impl.h"
#include "norv/transcoder.h"
#include "support/engine_session.h"

namespace norv_test {

/// Children of this process, running or not yet reaped.
std::vector<uint32_t> ChildProcesses();

/// Sends a signal (SIGKILL, SIGSTOP, SIGCONT, ...) to a process.
void SignalProcess(uint32_t pid, int signal);

/// Signal numbers, so that rows need no system header.
extern const int kSigKill;
extern const int kSigStop;
extern const int kSigCont;

/// True once process pid runs program (it was launched and has become the
/// program) and holds at least two connected sockets: an engine that has
/// connected both of its pipes.
bool ProgramConnected(uint32_t pid, const std::string& program);

/// True while the start-up semaphore of the engine process pid exists.
bool StartupSemaphoreLeft(uint32_t pid);

/// What one row may use while it runs.
class FaultRowContext {
public:
    /// Waits until this process has an engine child and returns its id
    /// (0 when none came); it is checked for leftovers at the row's end.
    uint32_t WaitForEngine();
    /// Remembers an engine the row learnt of in another way.
    void AddEngine(uint32_t pid) { engines_.insert(pid); }
    const std::set<uint32_t>& Engines() const { return engines_; }

private:
    std::set<uint32_t> engines_;
};

/// One row of a fault matrix: what is done, and what must come of it.
struct FaultRow {
    std::string name;
    std::string fault;                         ///< what goes wrong, for the table
    std::string expected;                      ///< the Result or callbacks that must follow
    std::function<void(FaultRowContext&)> run; ///< may skip the row (GTEST_SKIP)
};

/// Names a row in test listings (instead of its bytes).
inline void PrintTo(const FaultRow& row, std::ostream* out) {
    *out << row.name;
}

/// Cancels two running sessions from two threads at the same moment and
/// checks that both cancels succeed and each callback hears OnCancel once.
void ExpectBothCancelAtOnce(nvt::ITranscodeSession& first, RecordingCallback& firstCallback,
                            nvt::ITranscodeSession& second, RecordingCallback& secondCallback);

/// Runs row.run, then waits (generously) until the process is back to what
/// it had before the row: no more descriptors or threads, no child process
/// (running or zombie), and no start-up semaphore of the row's engines.
void RunFaultRow(const FaultRow& row);

/// Call once before the first row: runs exchange (one that succeeds) so that
/// what the library sets up once per process is not counted against a row.
void PrimeProcess(const std::function<void()>& exchange);

} // namespace norv_test
