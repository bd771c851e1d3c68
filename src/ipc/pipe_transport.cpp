#include "ipc/pipe_transport.h"

#include "platform/last_error.h"

namespace nvds {

namespace {
const char kPipePrefix[] = "\\\\.\\Pipe\\";
} // namespace

std::string ClientToServerPipeName(const std::string& baseName) {
    return kPipePrefix + baseName + "_Client2Server";
}

std::string ServerToClientPipeName(const std::string& baseName) {
    return kPipePrefix + baseName + "_Server2Client";
}

CPipeTransport::CPipeTransport(const std::string& baseName, bool isServer, IPipeLauncher* launcher)
    : NorvOS::CNorvThread(&CPipeTransport::ReaderLoop, this, 0, 2), isServer_(isServer),
      readPipeName_(ClientToServerPipeName(baseName)),
      writePipeName_(ServerToClientPipeName(baseName)), launcher_(launcher), baseName_(baseName) {
    if (!isServer_) {
        readPipeName_.swap(writePipeName_);
    }
}

CPipeTransport::~CPipeTransport() {
    // The channel closes a transport that has a launcher before releasing
    // it. Whatever the owner did, the reader must be stopped before the
    // descriptors it reads from are released.
    if (!launcher_ || IsConnected()) {
        Close();
    } else {
        Stop();
    }
    readPipe_.Close();
    writePipe_.Close();
}

bool CPipeTransport::Open() {
    if (!isServer_ && launcher_) {
        return false;
    }
    if (IsConnected()) {
        return false;
    }
    using NorvOS::PipeDirection;
    if (isServer_) {
        if (readPipe_.Create(readPipeName_, PipeDirection::Read)) {
            writePipe_.Create(writePipeName_, PipeDirection::Write);
        }
    } else {
        if (readPipe_.Open(readPipeName_, PipeDirection::Read)) {
            writePipe_.Open(writePipeName_, PipeDirection::Write);
        }
    }
    if (!IsConnected()) {
        Close();
        return false;
    }
    Start();
    if (launcher_) {
        if (!launcher_->Launch(baseName_.c_str())) {
            return false;
        }
    } else if (!isServer_) {
        SignalStartupEvent();
    }
    return IsConnected();
}

void CPipeTransport::Close() {
    // Disconnecting the read pipe first wakes a reader blocked in a receive
    // (or, on a server end, waiting for its client); it reports the broken
    // pipe and ends. Both ends disconnect, so that a client end is woken
    // too. Stop then wakes a reader still waiting for its callback and joins
    // it; the descriptors are released only once the reader has stopped.
    // A server end first lets the engine read what was written to it, but
    // only for kCloseFlushMs: an engine that is alive and no longer reads
    // (stopped, or stuck) would otherwise hold the close for ever; what it
    // has not read by then is dropped with the connection.
    for (NorvOS::CLocalPipe* pipe : {&readPipe_, &writePipe_}) {
        if (pipe->IsValid()) {
            if (isServer_) {
                pipe->Flush(kCloseFlushMs);
            }
            pipe->Disconnect();
        }
    }
    Stop();
    readPipe_.Close();
    writePipe_.Close();
    SetCallback(nullptr);
}

bool CPipeTransport::IsConnected() {
    return readPipe_.IsValid() && writePipe_.IsValid();
}

bool CPipeTransport::Write(const void* buffer, uint32_t count) {
    if (!IsConnected()) {
        NorvOS::SetLastSystemError(NorvOS::kErrorPipeNotConnected);
        return false;
    }
    if (buffer == nullptr || count == 0) {
        const bool nothingToDo = buffer == nullptr && count == 0;
        NorvOS::SetLastSystemError(nothingToDo ? NorvOS::kErrorSuccess
                                               : NorvOS::kErrorInvalidParameter);
        return nothingToDo;
    }
    return writePipe_.Write(buffer, count);
}

bool CPipeTransport::Read(void* buffer, uint32_t count) {
    if (!IsConnected()) {
        NorvOS::SetLastSystemError(NorvOS::kErrorPipeNotConnected);
        return false;
    }
    if (buffer == nullptr && count != 0) {
        NorvOS::SetLastSystemError(NorvOS::kErrorInvalidParameter);
        return false;
    }
    return readPipe_.Read(buffer, count);
}

bool CPipeTransport::SetCallback(ITransportIPCCallback* callback) {
    {
        std::lock_guard<std::mutex> guard(callbackLock_);
        callback_ = callback;
    }
    callbackChanged_.notify_all();
    return true;
}

void CPipeTransport::OnStopRequested() {
    // The stop flag is already set. Passing through the lock orders this
    // wake-up after a reader that has just found the flag clear has started
    // to wait, so the wake-up cannot be lost.
    { std::lock_guard<std::mutex> guard(callbackLock_); }
    callbackChanged_.notify_all();
}

ITransportIPCCallback* CPipeTransport::WaitForCallback(const std::atomic<bool>& stopFlag) {
    std::unique_lock<std::mutex> guard(callbackLock_);
    callbackChanged_.wait(guard, [&] { return stopFlag.load() || callback_ != nullptr; });
    return stopFlag.load() ? nullptr : callback_;
}

void CPipeTransport::ReaderLoop(std::atomic<bool>* stopFlag, void* userData, int32_t /*value*/) {
    // Straight back into the blocking receive after each frame: the frames
    // the peer has queued meanwhile are taken at once, in order.
    auto* self = static_cast<CPipeTransport*>(userData);
    for (;;) {
        ITransportIPCCallback* callback = self->WaitForCallback(*stopFlag);
        if (callback == nullptr || !callback->ProcessIncoming()) {
            return;
        }
    }
}

bool CreatePipeTransport(const std::string& baseName, bool isServer, IPipeLauncher* launcher,
                         nvtl::RefCountedPtr<ITransportIPC>* out) {
    if (baseName.empty() || out == nullptr || (!isServer && launcher != nullptr)) {
        return false;
    }
    try {
        *out = new CPipeTransport(baseName, isServer, launcher);
        return true;
    } catch (...) {
        return false;
    }
}

} // namespace nvds
