#include "common/os_files.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace norv {

namespace {

int Sync(const std::string& path, int flags) {
    const int fd = ::open(path.c_str(), flags | O_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    int rc = 0;
    do {
        rc = ::fsync(fd);
    } while (rc != 0 && errno == EINTR);
    ::close(fd);
    return rc;
}

} // namespace

FileLock::~FileLock() {
    if (handle_ != -1) {
        ::close(static_cast<int>(handle_));
    }
}

FileLock FileLock::Wait(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        return FileLock();
    }
    int rc = 0;
    do {
        rc = ::flock(fd, LOCK_EX);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        ::close(fd);
        return FileLock();
    }
    return FileLock(fd);
}

bool RemoveUnlessLocked(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const bool removed = ::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::unlink(path.c_str()) == 0;
    ::close(fd);
    return removed;
}

bool SyncFile(const std::string& path) {
    return Sync(path, O_RDONLY) == 0;
}

void StandardInputAsBytes() {}

void SyncFolder(const std::string& folder) {
    Sync(folder.empty() ? std::string(".") : folder, O_RDONLY | O_DIRECTORY);
}

} // namespace norv
