// The sandbox probe of the engine's test build (NorvEngineProbe): a job
// whose input is named "sandbox-probe..." tries, once the engine is
// confined, what its first line asks, as a hostile file that took over the
// engine would, and logs whether it succeeded:
//
//   read PATH    open a file and read it
//   create PATH  make a file
//   tcp PORT     connect to 127.0.0.1:PORT
//   unix PATH    connect to a Unix socket
//   fork         start a process
//   exec PATH    run a shell that makes the file PATH
//
// With the sandbox on, each fails or the kernel ends the engine.
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include "engine_log.h"
#include "sandbox.h"

namespace norv_engine {

namespace {

std::string Outcome(bool succeeded) {
    return succeeded ? "succeeded" : std::string("failed: ") + std::strerror(errno);
}

bool Connect(int family, const sockaddr* address, socklen_t length) {
    const int fd = socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return false;
    }
    const bool connected = connect(fd, address, length) == 0;
    const int saved = errno;
    close(fd);
    errno = saved;
    return connected;
}

std::string Try(const std::string& verb, const std::string& argument) {
    if (verb == "read") {
        const int fd = open(argument.c_str(), O_RDONLY | O_CLOEXEC);
        char byte = 0;
        const bool read = fd >= 0 && ::read(fd, &byte, 1) == 1;
        if (fd >= 0) {
            close(fd);
        }
        return Outcome(read);
    }
    if (verb == "create") {
        const int fd = open(argument.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd >= 0) {
            close(fd);
        }
        return Outcome(fd >= 0);
    }
    if (verb == "tcp") {
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(std::stoi(argument)));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return Outcome(
            Connect(AF_INET, reinterpret_cast<const sockaddr*>(&address), sizeof address));
    }
    if (verb == "unix") {
        sockaddr_un address = {};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, argument.c_str(), sizeof address.sun_path - 1);
        return Outcome(
            Connect(AF_UNIX, reinterpret_cast<const sockaddr*>(&address), sizeof address));
    }
    if (verb == "fork") {
        const pid_t child = fork();
        if (child == 0) {
            _exit(0);
        }
        int status = 0;
        return Outcome(child > 0 && waitpid(child, &status, 0) == child);
    }
    if (verb == "exec") {
        // The program keeps the pipes, so that the library hears of no end
        // (and ends nothing) before it has run.
        for (int fd = 3; fd < 256; ++fd) {
            fcntl(fd, F_SETFD, 0);
        }
        const std::string command = ": > '" + argument + "'";
        execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        return Outcome(false);
    }
    return "unknown probe";
}

} // namespace

void ProbeSandbox(const JobAccess& access) {
    for (const std::string& file : access.readFiles) {
        const size_t slash = file.find_last_of('/');
        if (file.compare(slash == std::string::npos ? 0 : slash + 1, 13, "sandbox-probe") != 0) {
            continue;
        }
        std::ifstream in(file);
        std::string line;
        std::getline(in, line);
        std::istringstream words(line);
        std::string verb, argument;
        words >> verb >> argument;
        const std::string what = argument.empty() ? verb : verb + " " + argument;
        LogLine(Severity::Info, "probe %s: trying", what.c_str());
        const std::string outcome = Try(verb, argument);
        LogLine(Severity::Info, "probe %s: %s", what.c_str(), outcome.c_str());
    }
}

} // namespace norv_engine
