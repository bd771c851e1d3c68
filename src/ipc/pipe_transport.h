// The named-pipe transport: both ends of the engine pipes and their reader.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>

#include "api/ref_counted_impl.h"
#include "ipc/launcher.h"
#include "ipc/transport.h"
#include "platform/local_pipe.h"
#include "platform/thread.h"

namespace nvds {

/// A server end reads the client-to-server pipe and writes the
/// server-to-client pipe; a client end the other way round. The reader
/// thread waits until a callback is installed, then calls it over and over;
/// the callback blocks in its reads until a frame or a pipe failure arrives.
class CPipeTransport : public nvtl::RefCountedImpl<ITransportIPC>, public NorvOS::CNorvThread {
public:
    /// How long Close waits for the peer to read what was written to it.
    static constexpr uint32_t kCloseFlushMs = 5000;

    CPipeTransport(const std::string& baseName, bool isServer, IPipeLauncher* launcher);
    ~CPipeTransport() override;

    bool Open() override;
    void Close() override;
    bool IsConnected() override;
    bool Write(const void* buffer, uint32_t count) override;
    bool Read(void* buffer, uint32_t count) override;
    bool SetCallback(ITransportIPCCallback* callback) override;

    const std::string& ReadPipeName() const { return readPipeName_; }
    const std::string& WritePipeName() const { return writePipeName_; }

protected:
    void OnStopRequested() override;

private:
    static void ReaderLoop(std::atomic<bool>* stopFlag, void* userData, int32_t value);
    /// Waits until a callback is installed or the stop flag is set; null
    /// when the reader is to stop.
    ITransportIPCCallback* WaitForCallback(const std::atomic<bool>& stopFlag);

    const bool isServer_;
    std::string readPipeName_;
    std::string writePipeName_;
    NorvOS::CLocalPipe readPipe_;
    NorvOS::CLocalPipe writePipe_;
    nvtl::RefCountedPtr<IPipeLauncher> launcher_;
    ITransportIPCCallback* callback_ = nullptr;
    std::mutex callbackLock_; // guards callback_ only
    std::condition_variable callbackChanged_;
    const std::string baseName_;
};

} // namespace nvds
