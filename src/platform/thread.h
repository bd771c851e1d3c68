// Worker threads: CNorvThread runs one routine that polls a stop flag, and
// reports through a manual-reset event when the routine has returned.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

namespace NorvOS {

class CEvent;

/// A routine receives the thread's stop flag, the userData and the value given
/// to the CNorvThread. It loops, testing the flag on every pass, and returns
/// soon after the flag is set. A routine that waits for an event between
/// passes is woken for the flag through OnStopRequested.
using ThreadRoutine = void (*)(std::atomic<bool>* stopFlag, void* userData, int32_t value);

class CNorvThread {
public:
    /// priorityIndex selects the thread priority: 0 lowest, 1 below normal,
    /// 2 normal (no change), 3 highest, 4 time critical. Applied best effort.
    CNorvThread(ThreadRoutine routine, void* userData, int32_t value, int32_t priorityIndex);
    virtual ~CNorvThread();
    CNorvThread(const CNorvThread&) = delete;
    CNorvThread& operator=(const CNorvThread&) = delete;

    /// Runs the routine on a new thread with the stop flag cleared. Does
    /// nothing when the routine is null. When the thread cannot be created the
    /// done event is set again, so IsFinished stays true.
    void Start();
    /// Sets the stop flag and waits, without time-out, until the routine has
    /// returned; then releases the thread. Nothing when no thread was started.
    /// Must not be called from the routine itself.
    void Stop();
    /// True when no routine is running: before the first Start, and after the
    /// routine has returned.
    bool IsFinished();

protected:
    /// Called by Stop on the stopping thread right after the stop flag is
    /// set, before it waits for the routine. A routine that blocks on
    /// something other than the flag overrides this to wake itself up. The
    /// default does nothing. The Stop of the base destructor only reaches
    /// this default, so a class that overrides it stops its thread itself.
    virtual void OnStopRequested() {}

private:
    /// The system's thread, defined by each system's implementation.
    struct Handle;
    /// Waits until the thread has left Entry, then releases it.
    struct HandleDeleter {
        void operator()(Handle* handle) const;
    };

    /// Starts a system thread that runs Entry(this); null when none could be
    /// created.
    Handle* Launch();
    static void Entry(CNorvThread* self);

    int32_t value_;
    ThreadRoutine routine_;
    void* userData_;
    std::unique_ptr<Handle, HandleDeleter> thread_;
    std::atomic<bool> stopFlag_{false};
    std::unique_ptr<CEvent> doneEvent_;
    int32_t priorityIndex_;
};

/// Suspends the calling thread for at least ms milliseconds.
void SleepMs(uint32_t ms);

} // namespace NorvOS
