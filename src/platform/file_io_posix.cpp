// Whole-file reading and crash-safe replacement on POSIX file systems.
#include "platform/file_io.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <string>

#include "platform/text.h"

namespace nvt {
namespace {

constexpr int kTemporaryNameAttempts = 16;

// Closes a descriptor when it goes out of scope.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() { Close(); }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    /// Closes now; false when the close reported an error.
    bool Close() {
        if (fd_ < 0) {
            return true;
        }
        const int rc = ::close(fd_);
        fd_ = -1;
        return rc == 0;
    }

private:
    int fd_;
};

bool WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    if (slash == 0) {
        return "/";
    }
    return path.substr(0, slash);
}

// The temporary file's name: the target's name with a process- and
// call-unique suffix ending in ".tmp", shortened where needed so that a
// target whose name is near the system's limit can still be saved.
std::string TemporaryNameFor(const std::string& target) {
    static std::atomic<unsigned long> counter{0};
    const unsigned long n = counter.fetch_add(1, std::memory_order_relaxed);
    const std::string suffix =
        "." + std::to_string(static_cast<long>(::getpid())) + "." + std::to_string(n) + ".tmp";
    const std::size_t slash = target.find_last_of('/');
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    std::string name = target.substr(nameStart);
    if (name.size() + suffix.size() > NAME_MAX) {
        name.resize(NAME_MAX - suffix.size());
    }
    return target.substr(0, nameStart) + name + suffix;
}

// The file a save must replace: where path is a symbolic link to an
// existing file, the file it names, so that the link stays in place.
std::string ResolveTarget(const std::string& path) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
        return path;
    }
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (resolved == nullptr) {
        return path;
    }
    std::string result(resolved);
    std::free(resolved);
    return result;
}

// An existing target must be a regular file this process may write, as it
// would have to be for writing it in place; its permission bits are carried
// over to the replacement. mode is left alone when there is no file yet.
bool MayReplace(const std::string& target, mode_t& mode, bool& exists) {
    exists = false;
    FileDescriptor fd(::open(target.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd.valid()) {
        return errno == ENOENT;
    }
    struct stat st;
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return false;
    }
    exists = true;
    mode = st.st_mode & 0777;
    return true;
}

// Makes a completed rename durable. Not every file system lets a folder be
// flushed; the rename itself has already taken effect, so this is best effort.
void FlushFolder(const std::string& folder) {
    FileDescriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.valid()) {
        (void)::fsync(dir.get());
    }
}

} // namespace

FileReadStatus ReadWholeFile(const WideString& path, std::string& out, std::size_t maxBytes) {
    const std::string native = WideToUtf8(path);
    if (native.empty()) {
        return FileReadStatus::CannotOpen;
    }
    // Non-blocking open, so that a FIFO without a writer cannot hang us.
    FileDescriptor fd(::open(native.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!fd.valid()) {
        return FileReadStatus::CannotOpen;
    }
    struct stat st;
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return FileReadStatus::CannotOpen;
    }
    std::string text;
    char buffer[16384];
    for (;;) {
        const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return FileReadStatus::ReadFailed;
        }
        if (n == 0) {
            break;
        }
        if (text.size() + static_cast<std::size_t>(n) > maxBytes) {
            return FileReadStatus::TooLarge;
        }
        text.append(buffer, static_cast<std::size_t>(n));
    }
    out.swap(text);
    return FileReadStatus::Ok;
}

bool ReplaceFileContents(const WideString& path, const std::string& bytes) {
    const std::string named = WideToUtf8(path);
    if (named.empty() || named.back() == '/') {
        return false;
    }
    const std::string target = ResolveTarget(named);
    mode_t mode = 0;
    bool exists = false;
    if (!MayReplace(target, mode, exists)) {
        return false;
    }
    // A name left behind by an earlier process with the same id is skipped.
    std::string temporary;
    int raw = -1;
    for (int attempt = 0; attempt < kTemporaryNameAttempts && raw < 0; ++attempt) {
        temporary = TemporaryNameFor(target);
        raw = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (raw < 0 && errno != EEXIST) {
            return false;
        }
    }
    FileDescriptor fd(raw);
    if (!fd.valid()) {
        return false;
    }
    const bool written = (!exists || ::fchmod(fd.get(), mode) == 0) &&
                         WriteAll(fd.get(), bytes.data(), bytes.size()) && ::fsync(fd.get()) == 0 &&
                         fd.Close();
    if (!written || ::rename(temporary.c_str(), target.c_str()) != 0) {
        fd.Close();
        (void)::unlink(temporary.c_str());
        return false;
    }
    FlushFolder(FolderOf(target));
    return true;
}

} // namespace nvt
