#include "common/os_files.h"

#include <cstdio>
#include <filesystem>

#include <fcntl.h>
#include <io.h>
#include <windows.h>

namespace norv {

namespace {

HANDLE Open(const std::string& path, DWORD access, DWORD disposition) {
    return ::CreateFileW(std::filesystem::u8path(path).wstring().c_str(), access,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool Lock(HANDLE file, DWORD flags) {
    OVERLAPPED whole{};
    return ::LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | flags, 0, MAXDWORD, MAXDWORD, &whole) !=
           FALSE;
}

} // namespace

FileLock::~FileLock() {
    if (handle_ != -1) {
        ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
    }
}

FileLock FileLock::Wait(const std::string& path) {
    const HANDLE file = Open(path, GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS);
    if (file == INVALID_HANDLE_VALUE) {
        return FileLock();
    }
    if (!Lock(file, 0)) {
        ::CloseHandle(file);
        return FileLock();
    }
    return FileLock(reinterpret_cast<intptr_t>(file));
}

bool RemoveUnlessLocked(const std::string& path) {
    const HANDLE file = Open(path, GENERIC_READ | DELETE, OPEN_EXISTING);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    bool removed = false;
    if (Lock(file, LOCKFILE_FAIL_IMMEDIATELY)) {
        FILE_DISPOSITION_INFO gone{};
        gone.DeleteFile = TRUE;
        removed =
            ::SetFileInformationByHandle(file, FileDispositionInfo, &gone, sizeof gone) != FALSE;
    }
    ::CloseHandle(file);
    return removed;
}

bool SyncFile(const std::string& path) {
    const HANDLE file = Open(path, GENERIC_WRITE, OPEN_EXISTING);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    const BOOL flushed = ::FlushFileBuffers(file);
    ::CloseHandle(file);
    return flushed != FALSE;
}

void StandardInputAsBytes() {
    _setmode(_fileno(stdin), _O_BINARY);
}

void SyncFolder(const std::string&) {
    // NTFS journals its folder entries.
}

} // namespace norv
