// A file a process makes and holds for as long as it works on it: an
// exclusive advisory lock (flock, LockFileEx) on the open file tells any
// other process that looks that the file is in use, and that the files
// named after it belong to a live job, not to one that was killed. The
// lock goes with the process, however it ends.
#pragma once

#include <cstdint>
#include <string>

namespace NorvOS {

class FileClaim {
public:
    FileClaim() = default;
    /// Releases the lock; the file itself stays.
    ~FileClaim();
    FileClaim(const FileClaim&) = delete;
    FileClaim& operator=(const FileClaim&) = delete;

    /// Creates path (it must not exist) and locks it. False when it exists,
    /// cannot be made, or another process took it between the two steps
    /// (a cleaner that found it unlocked): then nothing is held.
    bool Make(const std::string& path);
    bool held() const;
    /// Releases the lock now.
    void Release();

private:
    intptr_t handle_ = -1;
};

/// Writes the file's data to the disk; false when it cannot.
bool SyncFileToDisk(const std::string& path);

/// Writes the folder's entries (a rename into it) to the disk; true where
/// the system keeps them without being asked.
bool SyncFolderToDisk(const std::string& folder);

} // namespace NorvOS
