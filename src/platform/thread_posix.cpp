// Worker threads on std::thread.
#include "platform/thread.h"

#include <chrono>
#include <thread>

namespace NorvOS {

struct CNorvThread::Handle {
    std::thread thread;
};

CNorvThread::Handle* CNorvThread::Launch() {
    try {
        std::unique_ptr<Handle> handle(new Handle);
        handle->thread = std::thread(&CNorvThread::Entry, this);
        return handle.release();
    } catch (...) {
        return nullptr;
    }
}

void CNorvThread::HandleDeleter::operator()(Handle* handle) const {
    if (handle->thread.joinable()) {
        handle->thread.join();
    }
    delete handle;
}

void SleepMs(uint32_t ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

} // namespace NorvOS
