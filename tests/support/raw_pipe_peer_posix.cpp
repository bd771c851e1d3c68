#include "support/raw_pipe_peer.h"

#include <dirent.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

namespace norv_test {

RawPipePeer::~RawPipePeer() {
    Close();
}

bool RawPipePeer::Connect(const std::string& pipeName) {
    Close();
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (pipeName.size() + 1 > sizeof(address.sun_path)) {
        return false;
    }
    std::memcpy(address.sun_path + 1, pipeName.data(), pipeName.size());
    fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const auto length =
        static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + pipeName.size());
    if (fd_ < 0 || ::connect(fd_, reinterpret_cast<sockaddr*>(&address), length) != 0) {
        Close();
        return false;
    }
    return true;
}

bool RawPipePeer::Send(const void* data, size_t size, size_t chunk) {
    const auto* p = static_cast<const char*>(data);
    while (size > 0) {
        const size_t part = size < chunk ? size : chunk;
        const ssize_t n = ::send(fd_, p, part, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool RawPipePeer::Receive(void* data, size_t size, uint32_t timeoutMs) {
    auto* p = static_cast<char*>(data);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (size > 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        pollfd entry{fd_, POLLIN, 0};
        if (left <= 0 || ::poll(&entry, 1, static_cast<int>(left)) <= 0) {
            return false;
        }
        const ssize_t n = ::recv(fd_, p, size, 0);
        if (n <= 0) {
            return false;
        }
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool RawPipePeer::WaitClosedByPeer(uint32_t timeoutMs) {
    pollfd entry{fd_, POLLIN, 0};
    if (::poll(&entry, 1, static_cast<int>(timeoutMs)) <= 0) {
        return false;
    }
    char c;
    return ::recv(fd_, &c, 1, MSG_DONTWAIT) <= 0;
}

void RawPipePeer::Close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

int CountOpenDescriptors() {
    int count = 0;
    DIR* dir = ::opendir("/proc/self/fd");
    if (dir == nullptr) {
        return -1;
    }
    while (dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] != '.') {
            ++count;
        }
    }
    ::closedir(dir);
    return count - 1; // the directory's own descriptor
}

namespace {

// Fields of /proc/<pid>/stat after the command name, the state first.
std::vector<std::string> StatFields(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    const size_t close = line.rfind(')');
    std::vector<std::string> fields;
    if (close == std::string::npos) {
        return fields;
    }
    std::istringstream rest(line.substr(close + 1));
    std::string field;
    while (rest >> field) {
        fields.push_back(field);
    }
    return fields;
}

} // namespace

int CountZombieChildren() {
    const std::string self = std::to_string(::getpid());
    int zombies = 0;
    DIR* dir = ::opendir("/proc");
    if (dir == nullptr) {
        return -1;
    }
    while (dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] < '0' || entry->d_name[0] > '9') {
            continue;
        }
        const auto fields = StatFields(std::string("/proc/") + entry->d_name + "/stat");
        // fields[0] is the state, fields[1] the parent's id.
        if (fields.size() > 1 && fields[1] == self && fields[0] == "Z") {
            ++zombies;
        }
    }
    ::closedir(dir);
    return zombies;
}

std::string NiceValuesOfThreads(uint32_t processId) {
    const std::string taskDir = "/proc/" + std::to_string(processId) + "/task";
    DIR* dir = ::opendir(taskDir.c_str());
    if (dir == nullptr) {
        return std::string();
    }
    std::vector<std::string> values;
    while (dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.') {
            continue;
        }
        const auto fields = StatFields(taskDir + "/" + entry->d_name + "/stat");
        // The nice value is the 19th field of the whole line, the 17th here.
        if (fields.size() > 16) {
            values.push_back(fields[16]);
        }
    }
    ::closedir(dir);
    std::string text;
    for (const auto& v : values) {
        text += (text.empty() ? "" : " ") + v;
    }
    return text;
}

bool ProcessAlive(uint32_t processId) {
    const auto fields = StatFields("/proc/" + std::to_string(processId) + "/stat");
    return !fields.empty() && fields[0] != "Z" && fields[0] != "X";
}

void KillProcess(uint32_t processId) {
    ::kill(static_cast<pid_t>(processId), SIGKILL);
}

} // namespace norv_test
