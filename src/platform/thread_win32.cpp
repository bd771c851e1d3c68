// Worker threads on Windows threads.
#include "platform/thread.h"

#include <new>

#include <windows.h>

#include "platform/event.h"
#include "platform/thread_priority.h"

namespace NorvOS {

struct CNorvThread::Handle {
    HANDLE thread = nullptr;

    static DWORD WINAPI Run(LPVOID self) {
        CNorvThread::Entry(static_cast<CNorvThread*>(self));
        return 0;
    }

    // Waits until the thread has left its entry function entirely, then
    // closes its handle: after this nothing of the thread touches its owner.
    ~Handle() {
        if (thread != nullptr) {
            ::WaitForSingleObject(thread, INFINITE);
            ::CloseHandle(thread);
        }
    }
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
    // A finished thread that was never stopped is released before it is
    // replaced.
    if (thread_) {
        doneEvent_->Wait();
        thread_.reset();
    }
    doneEvent_->Reset();
    stopFlag_.store(false);
    std::unique_ptr<Handle> handle(new (std::nothrow) Handle);
    if (handle) {
        handle->thread = ::CreateThread(nullptr, 0, &Handle::Run, this, 0, nullptr);
    }
    if (!handle || handle->thread == nullptr) {
        // Nothing runs, so nothing will set the event; set it here so that
        // waiters see a finished thread.
        doneEvent_->Set();
        return;
    }
    thread_ = std::move(handle);
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
    doneEvent_->Wait();
    thread_.reset();
}

bool CNorvThread::IsFinished() {
    return doneEvent_->IsSet();
}

void SleepMs(uint32_t ms) {
    ::Sleep(ms);
}

} // namespace NorvOS
