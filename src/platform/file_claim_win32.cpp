#include "platform/file_claim.h"

#include <windows.h>

#include "platform/text.h"

namespace NorvOS {

namespace {

HANDLE Open(const std::string& path, DWORD access, DWORD disposition, DWORD flags) {
    const nvt::WideString wide = nvt::Utf8ToWide(path);
    return ::CreateFileW(reinterpret_cast<const wchar_t*>(wide.c_str()), access,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         disposition, flags, nullptr);
}

} // namespace

FileClaim::~FileClaim() {
    Release();
}

bool FileClaim::Make(const std::string& path) {
    Release();
    const HANDLE file = Open(path, GENERIC_READ | GENERIC_WRITE, CREATE_NEW, FILE_ATTRIBUTE_NORMAL);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    OVERLAPPED whole{};
    if (!::LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD,
                      MAXDWORD, &whole)) {
        ::CloseHandle(file);
        return false;
    }
    handle_ = reinterpret_cast<intptr_t>(file);
    return true;
}

bool FileClaim::held() const {
    return handle_ != -1;
}

void FileClaim::Release() {
    if (handle_ != -1) {
        ::CloseHandle(reinterpret_cast<HANDLE>(handle_)); // the lock goes with the handle
        handle_ = -1;
    }
}

bool SyncFileToDisk(const std::string& path) {
    const HANDLE file = Open(path, GENERIC_WRITE, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    const BOOL flushed = ::FlushFileBuffers(file);
    ::CloseHandle(file);
    return flushed != FALSE;
}

bool SyncFolderToDisk(const std::string&) {
    return true; // NTFS journals its folder entries
}

} // namespace NorvOS
