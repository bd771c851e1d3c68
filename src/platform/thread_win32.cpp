// Worker threads on Windows threads.
#include "platform/thread.h"

#include <new>

#include <windows.h>

namespace NorvOS {

struct CNorvThread::Handle {
    HANDLE thread = nullptr;

    static DWORD WINAPI Run(LPVOID self) {
        CNorvThread::Entry(static_cast<CNorvThread*>(self));
        return 0;
    }
};

CNorvThread::Handle* CNorvThread::Launch() {
    std::unique_ptr<Handle> handle(new (std::nothrow) Handle);
    if (handle) {
        handle->thread = ::CreateThread(nullptr, 0, &Handle::Run, this, 0, nullptr);
    }
    return handle && handle->thread != nullptr ? handle.release() : nullptr;
}

void CNorvThread::HandleDeleter::operator()(Handle* handle) const {
    // Once the thread has ended, nothing of it touches its owner any more.
    ::WaitForSingleObject(handle->thread, INFINITE);
    ::CloseHandle(handle->thread);
    delete handle;
}

void SleepMs(uint32_t ms) {
    ::Sleep(ms);
}

} // namespace NorvOS
