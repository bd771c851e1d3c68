#include "platform/file_claim.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace NorvOS {

namespace {

bool SyncOpened(const std::string& path, int flags) {
    const int fd = ::open(path.c_str(), flags | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    int rc = 0;
    do {
        rc = ::fsync(fd);
    } while (rc != 0 && errno == EINTR);
    ::close(fd);
    return rc == 0;
}

} // namespace

FileClaim::~FileClaim() {
    Release();
}

bool FileClaim::Make(const std::string& path) {
    Release();
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        return false;
    }
    // A cleaner may have found the file in the moment before the lock and
    // removed it: then the lock is refused, or it holds a file with no name.
    struct stat st;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::fstat(fd, &st) != 0 || st.st_nlink == 0) {
        ::close(fd);
        return false;
    }
    handle_ = fd;
    return true;
}

bool FileClaim::held() const {
    return handle_ >= 0;
}

void FileClaim::Release() {
    if (handle_ >= 0) {
        ::close(static_cast<int>(handle_)); // the lock goes with the descriptor
        handle_ = -1;
    }
}

bool SyncFileToDisk(const std::string& path) {
    return SyncOpened(path, O_RDONLY);
}

bool SyncFolderToDisk(const std::string& folder) {
    return SyncOpened(folder.empty() ? std::string(".") : folder, O_RDONLY | O_DIRECTORY);
}

} // namespace NorvOS
