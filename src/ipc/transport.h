// The byte transport under the IPC channel and the frame protocol over it.
#pragma once

#include <cstdint>
#include <string>

#include "norv/refcounted.h"

namespace nvds {

class IPipeLauncher;

/// Called by a transport's reader thread. ProcessIncoming blocks until a
/// frame or an error arrives; it returns false to end the reader.
class ITransportIPCCallback {
public:
    virtual ~ITransportIPCCallback() = default;
    virtual bool ProcessIncoming() = 0;
};

/// Two one-way pipes sharing a base name, and a reader thread that calls
/// the callback between frames.
class ITransportIPC : public nvtl::IRefCounted {
public:
    /// Creates (server) or opens (client) both pipes, starts the reader and,
    /// with a launcher, launches the engine.
    virtual bool Open() = 0;
    /// Disconnects both pipes, stops the reader and forgets the callback.
    virtual void Close() = 0;
    /// True while both pipes are open (on a server end: created, not
    /// necessarily connected).
    virtual bool IsConnected() = 0;
    /// Sends exactly count bytes. Write(null, 0) succeeds without sending;
    /// a null buffer with a count, or a buffer with count 0, fails.
    virtual bool Write(const void* buffer, uint32_t count) = 0;
    /// Receives exactly count bytes.
    virtual bool Read(void* buffer, uint32_t count) = 0;
    /// Installs (or, with null, removes) the reader's callback. Always true.
    virtual bool SetCallback(ITransportIPCCallback* callback) = 0;
};

/// Turns one message into a frame of separate writes, and back.
class IProtocolIPC : public nvtl::IRefCounted {
public:
    virtual bool SendFrame(const std::string& sender, const std::string& topic,
                           uint32_t payloadLength, const void* payload) = 0;
    /// On success payload points into the protocol's receive buffer (null
    /// when payloadLength is 0) and stays valid until the next ReceiveFrame.
    virtual bool ReceiveFrame(std::string& sender, std::string& topic, uint32_t& payloadLength,
                              const char*& payload) = 0;
};

/// Full pipe names for a base name.
std::string ClientToServerPipeName(const std::string& baseName);
std::string ServerToClientPipeName(const std::string& baseName);

/// Builds a transport, not yet open. False when baseName is empty, out is
/// null, or a client end is given a launcher.
bool CreatePipeTransport(const std::string& baseName, bool isServer, IPipeLauncher* launcher,
                         nvtl::RefCountedPtr<ITransportIPC>* out);

/// Builds a frame protocol over transport. False when either is null.
bool CreatePipeProtocol(ITransportIPC* transport, nvtl::RefCountedPtr<IProtocolIPC>* out);

} // namespace nvds
