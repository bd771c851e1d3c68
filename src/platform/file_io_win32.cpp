// Whole-file reading and crash-safe replacement with the Windows
// wide-character file API.
#include "platform/file_io.h"

#include <atomic>
#include <string>

#include <windows.h>

namespace nvt {
namespace {

constexpr int kTemporaryNameAttempts = 16;
// The longest name one folder entry may have.
constexpr size_t kMaxComponentLength = 255;
// Attributes a replacement carries over from the file it replaces.
constexpr DWORD kKeptAttributes =
    FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// Closes a handle when it goes out of scope.
class FileHandle {
public:
    explicit FileHandle(HANDLE handle) : handle_(handle) {}
    ~FileHandle() { Close(); }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;

    HANDLE get() const { return handle_; }
    bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
    /// Closes now; false when the close reported an error.
    bool Close() {
        if (handle_ == INVALID_HANDLE_VALUE) {
            return true;
        }
        const BOOL closed = ::CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
        return closed != FALSE;
    }

private:
    HANDLE handle_;
};

// A regular file on a disk, not a device, pipe or console.
bool IsDiskFile(HANDLE handle) {
    return ::GetFileType(handle) == FILE_TYPE_DISK;
}

bool WriteAll(HANDLE handle, const char* data, size_t size) {
    while (size > 0) {
        const DWORD part = size > 0x10000000 ? 0x10000000 : static_cast<DWORD>(size);
        DWORD written = 0;
        if (!::WriteFile(handle, data, part, &written, nullptr) || written == 0) {
            return false;
        }
        data += written;
        size -= written;
    }
    return true;
}

bool IsSeparator(WideChar c) {
    return c == L'\\' || c == L'/';
}

// The temporary file's name: the target's name with a process- and
// call-unique suffix ending in ".tmp", shortened where needed so that a
// target whose name is near the system's limit can still be saved.
WideString TemporaryNameFor(const WideString& target) {
    static std::atomic<unsigned long> counter{0};
    const unsigned long n = counter.fetch_add(1, std::memory_order_relaxed);
    const std::wstring suffix =
        L"." + std::to_wstring(::GetCurrentProcessId()) + L"." + std::to_wstring(n) + L".tmp";
    size_t nameStart = target.size();
    while (nameStart > 0 && !IsSeparator(target[nameStart - 1])) {
        --nameStart;
    }
    WideString name = target.substr(nameStart);
    if (name.size() + suffix.size() > kMaxComponentLength) {
        name.resize(kMaxComponentLength - suffix.size());
    }
    return target.substr(0, nameStart) + name + suffix;
}

// An existing target must be a file on disk this process may open for
// writing, as it would have to be for writing it in place (a read-only file
// is refused); its kept attributes are carried over to the replacement.
bool MayReplace(const WideString& target, DWORD& attributes) {
    attributes = 0;
    // Checked by attribute as well: an administrator may open a read-only
    // file for writing, but the file is still not to be replaced.
    const DWORD current = ::GetFileAttributesW(target.c_str());
    if (current != INVALID_FILE_ATTRIBUTES && (current & FILE_ATTRIBUTE_READONLY) != 0) {
        return false;
    }
    FileHandle file(::CreateFileW(target.c_str(), GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) {
        const DWORD error = ::GetLastError();
        return error == ERROR_FILE_NOT_FOUND;
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (!IsDiskFile(file.get()) || !::GetFileInformationByHandle(file.get(), &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return false;
    }
    attributes = info.dwFileAttributes & kKeptAttributes;
    return true;
}

} // namespace

FileReadStatus ReadWholeFile(const WideString& path, std::string& out, std::size_t maxBytes) {
    if (path.empty()) {
        return FileReadStatus::CannotOpen;
    }
    FileHandle file(::CreateFileW(path.c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid() || !IsDiskFile(file.get())) {
        return FileReadStatus::CannotOpen;
    }
    std::string text;
    char buffer[16384];
    for (;;) {
        DWORD n = 0;
        if (!::ReadFile(file.get(), buffer, sizeof buffer, &n, nullptr)) {
            return FileReadStatus::ReadFailed;
        }
        if (n == 0) {
            break;
        }
        if (text.size() + n > maxBytes) {
            return FileReadStatus::TooLarge;
        }
        text.append(buffer, n);
    }
    out.swap(text);
    return FileReadStatus::Ok;
}

bool ReplaceFileContents(const WideString& path, const std::string& bytes) {
    if (path.empty() || IsSeparator(path.back())) {
        return false;
    }
    DWORD attributes = 0;
    if (!MayReplace(path, attributes)) {
        return false;
    }
    // A name left behind by an earlier process with the same id is skipped.
    WideString temporary;
    HANDLE raw = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < kTemporaryNameAttempts && raw == INVALID_HANDLE_VALUE;
         ++attempt) {
        temporary = TemporaryNameFor(path);
        raw = ::CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL | attributes, nullptr);
        if (raw == INVALID_HANDLE_VALUE && ::GetLastError() != ERROR_FILE_EXISTS) {
            return false;
        }
    }
    FileHandle file(raw);
    if (!file.valid()) {
        return false;
    }
    const bool written = WriteAll(file.get(), bytes.data(), bytes.size()) &&
                         ::FlushFileBuffers(file.get()) && file.Close();
    if (!written || !::MoveFileExW(temporary.c_str(), path.c_str(),
                                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        file.Close();
        ::DeleteFileW(temporary.c_str());
        return false;
    }
    return true;
}

} // namespace nvt
