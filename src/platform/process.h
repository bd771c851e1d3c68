// Child processes started from a command line: held before their first
// instruction until the starter has prepared what the child will look for,
// then released. The process handle can never reach a recycled process id,
// and every child is reaped by the library itself once it has ended.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace NorvOS {

/// Process priority classes, by their Win32 values.
constexpr uint32_t kIdlePriorityClass = 0x40;
constexpr uint32_t kBelowNormalPriorityClass = 0x4000;
constexpr uint32_t kNormalPriorityClass = 0x20;
constexpr uint32_t kAboveNormalPriorityClass = 0x8000;

#if !defined(_WIN32)
// Windows splits the command line and finds the program itself; elsewhere
// the same rules are followed here.

/// Splits a command line into arguments by the Windows rules: the program
/// name ends at the first blank unless it starts with a double quote, in
/// which case it runs to the next one; the other arguments are separated by
/// unquoted blanks, double quotes group, and backslashes before a double
/// quote follow the 2n / 2n+1 rule. Outside quotes "" is an empty group and
/// """ a literal quote; inside quotes "" is a literal quote that also ends
/// the quoted part.
std::vector<std::string> SplitCommandLine(const std::string& commandLine);

/// Finds the program to execute for name: a name containing '/' is used as
/// given, any other is searched in PATH. Empty when no executable file is
/// found.
std::string FindProgram(const std::string& name);
#endif

/// The calling process's id.
uint32_t CurrentProcessId();

/// How a started program is confined by its starter. On Windows it joins a
/// job object of its own, which caps its memory, lets it start no process,
/// reach no other window, the clipboard or the system's settings, and ends
/// it when the starter lets it go (Forget, Terminate, the object's end, or
/// the starter's own end); and it runs with a token that holds no
/// privileges. Elsewhere a program confines itself (the engine's sandbox)
/// and this is not used.
struct Confinement {
    uint64_t memoryLimit = 0; ///< bytes; 0: no cap
};

class CChildProcess {
public:
    CChildProcess();
    /// Forgets the process; it keeps running and is still reaped when it ends.
    ~CChildProcess();
    CChildProcess(const CChildProcess&) = delete;
    CChildProcess& operator=(const CChildProcess&) = delete;

    /// Starts the program of commandLine (split by SplitCommandLine) with
    /// the caller's environment and current folder. The child is held
    /// before it runs the program while beforeResume(processId) runs (the
    /// process is already held by this object then, so SetPriorityClass
    /// works), then released. Returns false, with nothing left running, when the program
    /// cannot be found or executed, or cannot be confined as asked. A process started
    /// earlier is forgotten.
    bool Start(const std::string& commandLine,
               const std::function<void(uint32_t processId)>& beforeResume,
               const Confinement* confinement = nullptr);

    /// True while a process is held (from Start until Forget/Terminate).
    bool IsValid() const;
    /// The process id, 0 when none is held.
    uint32_t Id() const;

    /// Applies a priority class (one of the k*PriorityClass values) to every
    /// thread of the process. False when there is no process, the class is
    /// unknown, or the system refused a change.
    bool SetPriorityClass(uint32_t priorityClass);

    /// Kills the process. False when none is held. The process is forgotten.
    bool Terminate();

    /// True once the process has ended (or when none is held).
    bool HasExited();

    /// Waits at most timeoutMs for the process to end. True when it has.
    bool WaitForExit(uint32_t timeoutMs);

    /// Closes the handle to the process without ending it (a confined one
    /// ends).
    void Forget();

    /// The system object that becomes ready when the process ends (a pidfd
    /// here, the process handle on Windows), for the platform layer's waits
    /// that combine it with other objects; -1 (no handle) when no process is
    /// held.
    intptr_t WaitHandle() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

#if !defined(_WIN32)
/// The nice value a priority class stands for; false for an unknown class.
bool PriorityClassToNice(uint32_t priorityClass, int& nice);
#endif

} // namespace NorvOS
