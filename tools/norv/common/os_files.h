// What norv asks of the file system beyond reading and writing: locks
// between processes (flock, LockFileEx) and data that reaches the disk
// before a name points at it.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

namespace norv {

/// An exclusive lock on a file, held until destroyed; the lock goes with
/// the process, however it ends.
class FileLock {
public:
    FileLock() = default;
    ~FileLock();
    FileLock(FileLock&& other) noexcept : handle_(other.handle_) { other.handle_ = -1; }
    FileLock& operator=(FileLock&& other) noexcept {
        if (this != &other) {
            FileLock gone(std::move(*this));
            handle_ = other.handle_;
            other.handle_ = -1;
        }
        return *this;
    }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    /// Waits for the lock on path, making the file when there is none.
    /// Not held when the file cannot be made or locked.
    static FileLock Wait(const std::string& path);

    bool held() const { return handle_ != -1; }

private:
    explicit FileLock(intptr_t handle) : handle_(handle) {}
    intptr_t handle_ = -1;
};

/// Removes the file at path unless another process holds a lock on it
/// (taking the lock for the moment of the removal); true when removed.
bool RemoveUnlessLocked(const std::string& path);

/// Writes the file's data to the disk; false when it cannot.
bool SyncFile(const std::string& path);

/// Reads standard input byte for byte from now on (Windows would turn
/// CR LF into LF and stop at a Ctrl-Z).
void StandardInputAsBytes();

/// Writes the folder's entries (a rename into it) to the disk.
void SyncFolder(const std::string& folder);

} // namespace norv
