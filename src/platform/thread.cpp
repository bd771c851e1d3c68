// Worker threads on std::thread.
#include "platform/thread.h"

#include <chrono>
#include <system_error>
#include <thread>

#include "platform/event.h"
#include "platform/thread_priority.h"

namespace NorvOS {

struct CNorvThread::Handle {
    std::thread thread;
};

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
    // A finished thread that was never stopped is joined before it is
    // replaced; a std::thread must not be dropped while joinable.
    if (thread_ && thread_->thread.joinable()) {
        doneEvent_->Wait();
        thread_->thread.join();
    }
    doneEvent_->Reset();
    stopFlag_.store(false);
    try {
        std::unique_ptr<Handle> handle(new Handle);
        handle->thread = std::thread(&CNorvThread::Entry, this);
        thread_ = std::move(handle);
    } catch (...) {
        // The thread could not be created: nothing runs, so nothing will
        // set the event; set it here so waiters see a finished thread.
        thread_.reset();
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
    if (thread_->thread.joinable()) {
        thread_->thread.join();
    }
    thread_.reset();
}

bool CNorvThread::IsFinished() {
    return doneEvent_->IsSet();
}

void SleepMs(uint32_t ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

} // namespace NorvOS
