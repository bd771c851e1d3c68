// Named start-up events: one process creates the event under a name and
// waits for it; another process, knowing the name, signals it once.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace NorvOS {

class CChildProcess;

class CNamedEvent {
public:
    /// Creates the event under name, not signalled. A leftover of the same
    /// name is removed first. Returns null when it cannot be created.
    static std::unique_ptr<CNamedEvent> Create(const std::string& name);

    /// Opens the event another process created under name and signals it.
    /// Returns false, signalling nothing, when no such event exists.
    static bool Signal(const std::string& name);

    /// Closes the event and removes its name.
    ~CNamedEvent();
    CNamedEvent(const CNamedEvent&) = delete;
    CNamedEvent& operator=(const CNamedEvent&) = delete;

    /// Waits at most timeoutMs milliseconds for the signal. With endsWith,
    /// the wait also ends as soon as that process has ended. Returns true
    /// when the signal came (also when the process signalled just before it
    /// ended); each signal satisfies one wait.
    bool WaitFor(uint32_t timeoutMs, const CChildProcess* endsWith = nullptr);

private:
    struct Impl;
    explicit CNamedEvent(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

} // namespace NorvOS
