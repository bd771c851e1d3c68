// Child processes on Windows: CreateProcessW, suspended, with a hidden
// window, in a process group of its own; the starter prepares what the child will look for, then
// resumes its main thread. The process handle from CreateProcessW is kept, so a priority change or
// a kill never reaches a recycled process id; Windows reaps ended processes itself once their
// handles are closed.
#include "platform/process.h"

#include <vector>

#include <windows.h>

#include "platform/text.h"

namespace NorvOS {

namespace {

bool KnownPriorityClass(uint32_t priorityClass) {
    return priorityClass == kIdlePriorityClass || priorityClass == kBelowNormalPriorityClass ||
           priorityClass == kNormalPriorityClass || priorityClass == kAboveNormalPriorityClass;
}

} // namespace

uint32_t CurrentProcessId() {
    return ::GetCurrentProcessId();
}

struct CChildProcess::Impl {
    PROCESS_INFORMATION process{};
};

CChildProcess::CChildProcess() : impl_(new Impl) {}

CChildProcess::~CChildProcess() {
    Forget();
}

bool CChildProcess::Start(const std::string& commandLine,
                          const std::function<void(uint32_t processId)>& beforeResume) {
    Forget();
    const nvt::WideString wide = nvt::Utf8ToWide(commandLine);
    if (wide.empty()) {
        return false;
    }
    // CreateProcessW may write into the command line it is given.
    std::vector<wchar_t> line(wide.begin(), wide.end());
    line.push_back(L'\0');

    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION process{};
    // Handles are inherited as they are marked: the library's own are not
    // inheritable, the caller's choice stands for its own. A process group
    // of its own keeps a console's Ctrl-C from the engine: the application
    // gets it and cancels through the library instead of losing the engine
    // mid-run.
    const DWORD flags = CREATE_SUSPENDED | CREATE_NEW_PROCESS_GROUP;
    if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, flags, nullptr, nullptr,
                          &startup, &process)) {
        return false;
    }
    impl_->process = process;
    if (beforeResume) {
        try {
            beforeResume(process.dwProcessId);
        } catch (...) {
            // Nothing may be left running when the start fails.
            Terminate();
            return false;
        }
    }
    if (::ResumeThread(process.hThread) == static_cast<DWORD>(-1)) {
        Terminate();
        return false;
    }
    return true;
}

bool CChildProcess::IsValid() const {
    return impl_->process.hProcess != nullptr;
}

uint32_t CChildProcess::Id() const {
    return impl_->process.dwProcessId;
}

bool CChildProcess::SetPriorityClass(uint32_t priorityClass) {
    if (!IsValid() || !KnownPriorityClass(priorityClass)) {
        return false;
    }
    return ::SetPriorityClass(impl_->process.hProcess, priorityClass) != FALSE;
}

bool CChildProcess::Terminate() {
    if (!IsValid()) {
        return false;
    }
    ::TerminateProcess(impl_->process.hProcess, 0);
    Forget();
    return true;
}

bool CChildProcess::HasExited() {
    return WaitForExit(0);
}

bool CChildProcess::WaitForExit(uint32_t timeoutMs) {
    if (!IsValid()) {
        return true;
    }
    const DWORD wait = timeoutMs == INFINITE ? INFINITE - 1 : timeoutMs;
    return ::WaitForSingleObject(impl_->process.hProcess, wait) == WAIT_OBJECT_0;
}

intptr_t CChildProcess::WaitHandle() const {
    return IsValid() ? reinterpret_cast<intptr_t>(impl_->process.hProcess) : -1;
}

void CChildProcess::Forget() {
    // Each handle is closed once: the structure is cleared right after.
    if (impl_->process.hThread != nullptr) {
        ::CloseHandle(impl_->process.hThread);
    }
    if (impl_->process.hProcess != nullptr) {
        ::CloseHandle(impl_->process.hProcess);
    }
    impl_->process = PROCESS_INFORMATION{};
}

} // namespace NorvOS
