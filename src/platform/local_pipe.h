// One end of a one-way local pipe between two processes of the same user.
//
// A server end creates the pipe under its name and takes its single client
// lazily: the first Read or Write after the client has arrived accepts it.
// A Read waits for the client to arrive; a Write does not.
// A client end opens a pipe that a server has created. Both ends name the
// direction bytes move from their side, since Windows pipes carry them one
// way only (POSIX sockets carry both ways and ignore it). Only a peer of the
// same user on the same machine gets through. Every operation records the
// calling thread's last error (platform/last_error.h), in Windows' own
// numbering: kErrorPipeListening while a server still waits for its client,
// kErrorBrokenPipe when the peer has gone (a write on Windows reports
// kErrorNoData), kErrorPipeNotConnected after this end was disconnected or
// closed, kErrorFileNotFound when nothing listens under the name,
// kErrorPipeBusy when the listener's queue stays full.
//
// Threads: one thread may read while another writes and a third disconnects.
// Close releases the descriptors and must only run once no other thread can
// be inside Read, Write or Flush.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace NorvOS {

/// The way bytes move through one end of a pipe.
enum class PipeDirection {
    Read,  ///< this end receives
    Write, ///< this end sends
};

class CLocalPipe {
public:
    /// Longest pipe name the system can carry.
#if defined(_WIN32)
    static constexpr uint32_t kMaxNameLength = 256;
#else
    static constexpr uint32_t kMaxNameLength = 107;
#endif
    /// How long Open waits for a busy pipe before it gives up.
    static constexpr uint32_t kBusyWaitMs = 5000;

    CLocalPipe();
    /// Closes whatever is still open.
    ~CLocalPipe();
    CLocalPipe(const CLocalPipe&) = delete;
    CLocalPipe& operator=(const CLocalPipe&) = delete;

    /// Server end: creates the pipe and starts listening for one client.
    /// Fails when the end is already in use, the name is empty, too long, or
    /// already taken.
    bool Create(const std::string& name, PipeDirection direction);

    /// Client end: connects to the pipe a server created under name, whose
    /// server end moves bytes the other way. Fails at once when nothing
    /// listens; waits up to kBusyWaitMs while the pipe is busy.
    bool Open(const std::string& name, PipeDirection direction);

    /// True from a successful Create or Open until Disconnect or Close.
    bool IsValid() const;

    /// Receives exactly count bytes, blocking until they have arrived. On a
    /// server end whose client has not arrived yet it first waits for the
    /// client (without time-out; Disconnect ends the wait with
    /// kErrorPipeNotConnected).
    bool Read(void* buffer, uint32_t count);

    /// Sends all count bytes, blocking while the peer does not read. On a
    /// server end whose client has not arrived yet it fails at once with
    /// kErrorPipeListening.
    bool Write(const void* buffer, uint32_t count);

    /// Flush without a time limit.
    static constexpr uint32_t kFlushForever = UINT32_MAX;

    /// Waits until the peer has read everything written on this end, or has
    /// gone, or timeoutMs has passed. False only when the time ran out with
    /// data still unread. Returns true at once when no peer is connected.
    bool Flush(uint32_t timeoutMs = kFlushForever);

    /// Ends the connection in both directions and stops listening. A thread
    /// blocked in Read or Write on this end wakes up with kErrorBrokenPipe
    /// (kErrorPipeNotConnected when it was waiting for the client, and always
    /// on Windows); later calls fail with kErrorPipeNotConnected. The
    /// descriptors stay reserved until Close.
    void Disconnect();

    /// Disconnects, then releases the descriptors.
    void Close();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace NorvOS
