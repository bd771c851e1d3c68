// Worker threads: the part that is the same on every system. The system's
// thread itself (Handle, Launch) and SleepMs live in thread_posix.cpp and
// thread_win32.cpp.
#include "platform/thread.h"

#include "platform/event.h"
#include "platform/thread_priority.h"

namespace NorvOS {

CNorvThread::CNorvThread(ThreadRoutine routine, void* userData, int32_t value,
                         int32_t priorityIndex)
    : value_(value), routine_(routine), userData_(userData), doneEvent_(new CEvent(true)),
      priorityIndex_(priorityIndex) {}

CNorvThread::~CNorvThread() {
    Stop();
    userData_ = nullptr;
}

void CNorvThread::Start() {
    if (routine_ == nullptr) {
        return;
    }
    // A finished thread that was never stopped is released before it is
    // replaced.
    if (thread_) {
        doneEvent_->Wait();
        thread_.reset();
    }
    doneEvent_->Reset();
    stopFlag_.store(false);
    thread_.reset(Launch());
    if (!thread_) {
        // Nothing runs, so nothing will set the event; set it here so that
        // waiters see a finished thread.
        doneEvent_->Set();
    }
}

void CNorvThread::Entry(CNorvThread* self) {
    ApplyCurrentThreadPriority(self->priorityIndex_);
    self->routine_(&self->stopFlag_, self->userData_, self->value_);
    self->doneEvent_->Set();
}

void CNorvThread::Stop() {
    if (!thread_) {
        return;
    }
    stopFlag_.store(true);
    OnStopRequested();
    doneEvent_->Wait();
    thread_.reset();
}

bool CNorvThread::IsFinished() {
    return doneEvent_->IsSet();
}

} // namespace NorvOS
