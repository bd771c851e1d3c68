// Child processes on Windows: CreateProcessW, suspended, with a hidden
// window, in a process group of its own; the starter prepares what the child will look for, then
// resumes its main thread. The process handle from CreateProcessW is kept, so a priority change or
// a kill never reaches a recycled process id; Windows reaps ended processes itself once their
// handles are closed. A confined child runs with a token stripped of its privileges
// (CreateProcessAsUserW with a restricted copy of the starter's own token, which needs no
// privilege) and joins a job object before it runs; the job's handle is the only one, so the
// child ends with it.
#include "platform/process.h"

#include <algorithm>
#include <limits>
#include <vector>

#include <windows.h>

#include "platform/text.h"

namespace NorvOS {

namespace {

bool KnownPriorityClass(uint32_t priorityClass) {
    return priorityClass == kIdlePriorityClass || priorityClass == kBelowNormalPriorityClass ||
           priorityClass == kNormalPriorityClass || priorityClass == kAboveNormalPriorityClass;
}

// A job object that holds one process: capped memory, no process of its own, no other window,
// clipboard or system settings, no error dialog; the process ends when the handle closes.
HANDLE ConfiningJob(uint64_t memoryLimit) {
    HANDLE job = ::CreateJobObjectW(nullptr, nullptr);
    if (job == nullptr) {
        return nullptr;
    }
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE |
                                              JOB_OBJECT_LIMIT_ACTIVE_PROCESS |
                                              JOB_OBJECT_LIMIT_DIE_ON_UNHANDLED_EXCEPTION;
    limits.BasicLimitInformation.ActiveProcessLimit = 1;
    if (memoryLimit != 0) {
        limits.BasicLimitInformation.LimitFlags |= JOB_OBJECT_LIMIT_PROCESS_MEMORY;
        limits.ProcessMemoryLimit = static_cast<SIZE_T>(
            std::min<uint64_t>(memoryLimit, std::numeric_limits<SIZE_T>::max()));
    }
    JOBOBJECT_BASIC_UI_RESTRICTIONS ui{};
    ui.UIRestrictionsClass = JOB_OBJECT_UILIMIT_DESKTOP | JOB_OBJECT_UILIMIT_DISPLAYSETTINGS |
                             JOB_OBJECT_UILIMIT_EXITWINDOWS | JOB_OBJECT_UILIMIT_GLOBALATOMS |
                             JOB_OBJECT_UILIMIT_HANDLES | JOB_OBJECT_UILIMIT_READCLIPBOARD |
                             JOB_OBJECT_UILIMIT_SYSTEMPARAMETERS |
                             JOB_OBJECT_UILIMIT_WRITECLIPBOARD;
    if (!::SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits,
                                   sizeof limits) ||
        !::SetInformationJobObject(job, JobObjectBasicUIRestrictions, &ui, sizeof ui)) {
        ::CloseHandle(job);
        return nullptr;
    }
    return job;
}

// The starter's own token without its privileges (and without the right to make others).
HANDLE RestrictedToken() {
    HANDLE own = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(),
                            TOKEN_DUPLICATE | TOKEN_QUERY | TOKEN_ASSIGN_PRIMARY, &own)) {
        return nullptr;
    }
    HANDLE restricted = nullptr;
    if (!::CreateRestrictedToken(own, DISABLE_MAX_PRIVILEGE, 0, nullptr, 0, nullptr, 0, nullptr,
                                 &restricted)) {
        restricted = nullptr;
    }
    ::CloseHandle(own);
    return restricted;
}

// How long a confined child let go of may take to end on its own.
constexpr DWORD kEndGraceMs = 5000;

} // namespace

uint32_t CurrentProcessId() {
    return ::GetCurrentProcessId();
}

struct CChildProcess::Impl {
    PROCESS_INFORMATION process{};
    HANDLE job = nullptr; ///< a confined process's job; closing it ends the process
};

CChildProcess::CChildProcess() : impl_(new Impl) {}

CChildProcess::~CChildProcess() {
    // A confined child ends with its job's handle. Its owner lets it go once
    // it has told it to end (closed its pipes): it gets a moment to finish
    // on its own first, reading what it was last sent and clearing up after
    // itself, as a POSIX child does after its owner has let go.
    if (impl_->job != nullptr && impl_->process.hProcess != nullptr) {
        ::WaitForSingleObject(impl_->process.hProcess, kEndGraceMs);
    }
    Forget();
}

bool CChildProcess::Start(const std::string& commandLine,
                          const std::function<void(uint32_t processId)>& beforeResume,
                          const Confinement* confinement) {
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
    HANDLE token = confinement != nullptr ? RestrictedToken() : nullptr;
    if (confinement != nullptr && token == nullptr) {
        return false;
    }
    const BOOL created =
        token != nullptr ? ::CreateProcessAsUserW(token, nullptr, line.data(), nullptr, nullptr,
                                                  TRUE, flags, nullptr, nullptr, &startup, &process)
                         : ::CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, flags,
                                            nullptr, nullptr, &startup, &process);
    if (token != nullptr) {
        ::CloseHandle(token);
    }
    if (!created) {
        return false;
    }
    impl_->process = process;
    if (confinement != nullptr) {
        impl_->job = ConfiningJob(confinement->memoryLimit);
        if (impl_->job == nullptr || !::AssignProcessToJobObject(impl_->job, process.hProcess)) {
            Terminate();
            return false;
        }
    }
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
    if (impl_->job != nullptr) {
        ::CloseHandle(impl_->job); // ends a confined process
        impl_->job = nullptr;
    }
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
