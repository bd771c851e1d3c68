// A pipe peer for tests that speaks raw bytes over the local pipe (a socket
// on POSIX, a named pipe on Windows), without the library's transport, so
// that tests see exactly what is on the wire.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace norv_test {

class RawPipePeer {
public:
    RawPipePeer() = default;
    ~RawPipePeer();
    RawPipePeer(const RawPipePeer&) = delete;
    RawPipePeer& operator=(const RawPipePeer&) = delete;

    /// Connects to the pipe a server created under its full name (on
    /// Windows in the one direction the server's end leaves open).
    bool Connect(const std::string& pipeName);
    /// Sends all bytes with one call per chunk of at most chunk bytes.
    bool Send(const void* data, size_t size, size_t chunk = SIZE_MAX);
    bool Send(const std::string& bytes) { return Send(bytes.data(), bytes.size()); }
    /// Receives exactly size bytes within timeoutMs.
    bool Receive(void* data, size_t size, uint32_t timeoutMs = 20000);
    uint32_t ReceiveValue(uint32_t timeoutMs = 20000);
    std::string ReceiveText(size_t size, uint32_t timeoutMs = 20000);
    /// True when the other end closed or dropped the connection within
    /// timeoutMs (no data arrives, end of stream or reset).
    bool WaitClosedByPeer(uint32_t timeoutMs = 20000);
    void Close();

private:
#if defined(_WIN32)
    void* handle_ = nullptr;
#else
    int fd_ = -1;
#endif
};

/// The bytes of one frame as the wire carries it.
std::string EncodeFrame(const std::string& sender, const std::string& topic,
                        const std::string& payload);
std::string EncodeValue(uint32_t value);

/// Facts about processes, read from /proc on POSIX and asked of the system
/// on Windows.
/// Open descriptors (handles on Windows) of this process.
int CountOpenDescriptors();
/// Zombie children of this process (none on Windows, which has no zombies).
int CountZombieChildren();
#if defined(_WIN32)
/// The priority class of the process; 0 when it cannot be read.
uint32_t PriorityClassOf(uint32_t processId);
/// True when this Windows program runs under Wine.
bool RunningUnderWine();
#else
/// Nice value of every thread of the process; empty when it is gone.
std::string NiceValuesOfThreads(uint32_t processId);
#endif
bool ProcessAlive(uint32_t processId);
/// Ends the process at once (SIGKILL; TerminateProcess on Windows).
void KillProcess(uint32_t processId);

} // namespace norv_test
