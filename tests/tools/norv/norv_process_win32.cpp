// Runs norv with CreateProcessW, its standard output and error in files.
// Windows has neither process-group signals nor pseudo-terminals to test
// with, so SignalGroup and NorvOptions::terminal are left out here.
#include "norv_process.h"

#include <algorithm>
#include <chrono>
#include <cwchar>
#include <thread>

#include <windows.h>

#include <gtest/gtest.h>

#include "platform/text.h"
#include "support/temp_dir.h"

namespace norv_test {

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::chrono::seconds kPatience(60);

std::wstring Wide(const std::string& text) {
    const nvt::WideString wide = nvt::Utf8ToWide(text);
    return std::wstring(wide.begin(), wide.end());
}

// Names compare as Windows compares them: case aside.
struct NameOrder {
    bool operator()(const std::wstring& a, const std::wstring& b) const {
        return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                      static_cast<int>(b.size()), TRUE) == CSTR_LESS_THAN;
    }
};

// The test's environment without NORV_ENGINE, with extra on top, as the
// block CreateProcessW takes.
std::wstring EnvironmentBlock(const std::map<std::string, std::string>& extra) {
    std::map<std::wstring, std::wstring, NameOrder> env;
    wchar_t* strings = ::GetEnvironmentStringsW();
    for (const wchar_t* entry = strings; entry != nullptr && *entry != L'\0';
         entry += std::wcslen(entry) + 1) {
        const std::wstring text(entry);
        const size_t eq = text.find(L'=', 1); // "=C:=C:\..." names start with '='
        if (eq != std::wstring::npos) {
            env[text.substr(0, eq)] = text.substr(eq + 1);
        }
    }
    ::FreeEnvironmentStringsW(strings);
    env.erase(L"NORV_ENGINE");
    for (const auto& entry : extra) {
        env[Wide(entry.first)] = Wide(entry.second);
    }
    std::wstring block;
    for (const auto& entry : env) {
        block += entry.first + L"=" + entry.second;
        block.push_back(L'\0');
    }
    block.push_back(L'\0');
    return block;
}

// One argument quoted by the rules the C runtime splits command lines by.
std::wstring Quoted(const std::string& argument) {
    const std::wstring arg = Wide(argument);
    if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) {
        return arg;
    }
    std::wstring out = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        out.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        backslashes = 0;
        out.push_back(c);
    }
    out.append(2 * backslashes, L'\\');
    out.push_back(L'"');
    return out;
}

// The C runtime's text mode ends lines with "\r\n"; the tests expect "\n".
std::string WithoutCarriageReturns(std::string text) {
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    return text;
}

HANDLE OpenForChild(const std::string& path, DWORD access, DWORD disposition) {
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    return ::CreateFileW(Wide(path).c_str(), access,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherit,
                         disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

} // namespace

struct NorvProcess::Impl {
    PROCESS_INFORMATION process{};
    std::wstring commandLine;
    std::string outPath;
    std::string errPath;
    bool ended = false;
    NorvOutput output;

    // Removes a file norv wrote to, waiting until it is really gone: the engine
    // norv started inherits norv's standard handles and may hold them a moment
    // after norv has ended, and until then the file is only marked for deletion
    // and keeps its folder from being removed.
    void RemoveOnceClosed(const std::string& path) const {
        const std::wstring wide = Wide(path);
        const Clock::time_point end = Clock::now() + kPatience;
        do {
            ::DeleteFileW(wide.c_str());
            if (::GetFileAttributesW(wide.c_str()) == INVALID_FILE_ATTRIBUTES &&
                ::GetLastError() == ERROR_FILE_NOT_FOUND) {
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        } while (Clock::now() < end);
        ADD_FAILURE() << path << " is still in use after "
                      << nvt::WideToUtf8(nvt::WideString(commandLine.begin(), commandLine.end()))
                      << " ended with " << output.status << ", writing:\n"
                      << output.out << "\n"
                      << output.err;
    }

    void Ended() {
        DWORD code = 0;
        ::GetExitCodeProcess(process.hProcess, &code);
        output.status = static_cast<int>(code);
        ended = true;
    }
};

NorvProcess::NorvProcess(const std::vector<std::string>& args, const NorvOptions& options)
    : impl_(new Impl) {
    EXPECT_FALSE(options.terminal) << "no terminals on Windows";
    // Wine starts its desktop process (explorer.exe) from the first process
    // that needs the desktop, and the desktop process keeps that process's
    // standard handles and working folder for as long as it runs. The test
    // itself takes that part, so that it never falls to a norv whose output
    // files and folder the test wants to remove.
    static const HWND desktop = ::GetDesktopWindow();
    (void)desktop;
    const std::string files = options.folder + "\\.norv-" +
                              std::to_string(::GetCurrentProcessId()) + "-" +
                              std::to_string(reinterpret_cast<uintptr_t>(this));
    impl_->outPath = files + ".out";
    impl_->errPath = files + ".err";
    std::wstring commandLine = Quoted(options.program.empty() ? NORV_CLI : options.program);
    for (const std::string& arg : args) {
        commandLine += L" " + Quoted(arg);
    }
    impl_->commandLine = commandLine;
    std::wstring environment = EnvironmentBlock(NorvEnvironment(options));
    const HANDLE in = OpenForChild("NUL", GENERIC_READ, OPEN_EXISTING);
    const HANDLE out = OpenForChild(impl_->outPath, GENERIC_WRITE, CREATE_ALWAYS);
    const HANDLE err = OpenForChild(impl_->errPath, GENERIC_WRITE, CREATE_ALWAYS);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in;
    startup.hStdOutput = out;
    startup.hStdError = err;
    const bool started = in != INVALID_HANDLE_VALUE && out != INVALID_HANDLE_VALUE &&
                         err != INVALID_HANDLE_VALUE &&
                         ::CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, TRUE,
                                          CREATE_UNICODE_ENVIRONMENT, &environment[0],
                                          Wide(options.folder).c_str(), &startup, &impl_->process);
    for (HANDLE h : {in, out, err}) {
        if (h != INVALID_HANDLE_VALUE) {
            ::CloseHandle(h);
        }
    }
    EXPECT_TRUE(started) << "cannot start norv, error " << ::GetLastError();
    if (!started) {
        impl_->ended = true;
        impl_->output.status = 127;
    }
}

NorvProcess::~NorvProcess() {
    if (!impl_->ended) {
        ::TerminateProcess(impl_->process.hProcess, 1);
        Wait();
    }
    for (HANDLE h : {impl_->process.hProcess, impl_->process.hThread}) {
        if (h != nullptr) {
            ::CloseHandle(h);
        }
    }
}

bool NorvProcess::WaitForError(const std::function<bool(const std::string&)>& ready) {
    const Clock::time_point end = Clock::now() + kPatience;
    while (!impl_->ended && Clock::now() < end) {
        if (ready(ReadFile(impl_->errPath))) {
            return true;
        }
        if (::WaitForSingleObject(impl_->process.hProcess, 20) == WAIT_OBJECT_0) {
            impl_->Ended();
            return false;
        }
    }
    return false;
}

NorvOutput NorvProcess::Wait() {
    if (!impl_->ended) {
        ::WaitForSingleObject(impl_->process.hProcess, INFINITE);
        impl_->Ended();
    }
    impl_->output.out = WithoutCarriageReturns(ReadFile(impl_->outPath));
    impl_->output.err = WithoutCarriageReturns(ReadFile(impl_->errPath));
    impl_->RemoveOnceClosed(impl_->outPath);
    impl_->RemoveOnceClosed(impl_->errPath);
    return impl_->output;
}

bool ProcessEnds(int pid) {
    const HANDLE process = ::OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(pid));
    if (process == nullptr) {
        return true;
    }
    const bool ended = ::WaitForSingleObject(
                           process, static_cast<DWORD>(kPatience.count() * 1000)) == WAIT_OBJECT_0;
    ::CloseHandle(process);
    return ended;
}

} // namespace norv_test
