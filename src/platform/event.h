// Manual-reset event: stays signalled until reset.
#pragma once

#include <cstdint>
#include <memory>

namespace NorvOS {

class CEvent {
public:
    explicit CEvent(bool initiallySignalled);
    ~CEvent();
    CEvent(const CEvent&) = delete;
    CEvent& operator=(const CEvent&) = delete;

    void Set();
    void Reset();
    /// Waits until signalled, without time-out.
    void Wait();
    /// Waits at most timeoutMs milliseconds. Returns true when signalled.
    bool WaitFor(uint32_t timeoutMs);
    /// True when signalled now.
    bool IsSet();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace NorvOS
