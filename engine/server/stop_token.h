// Asks a running job to stop: when the library cancels it, or when the pipes
// close and the engine must end. FFmpeg polls it through the interrupt
// callback of every input the job opens, so that a job blocked in reading or
// probing returns promptly.
#pragma once

#include <atomic>

#include "ffmpeg.h"

namespace norv_engine {

class StopToken {
public:
    /// closing is the engine-wide flag raised when the pipes close; it must
    /// outlive the token.
    explicit StopToken(const std::atomic<bool>& closing) : closing_(closing) {}
    StopToken(const StopToken&) = delete;
    StopToken& operator=(const StopToken&) = delete;

    void Cancel() { cancelled_.store(true); }
    bool Cancelled() const { return cancelled_.load(); }
    bool StopRequested() const { return cancelled_.load() || closing_.load(); }

    /// An interrupt callback for an AVFormatContext; valid while the token
    /// lives.
    AVIOInterruptCB InterruptCallback() const {
        return AVIOInterruptCB{&StopToken::Interrupt, const_cast<StopToken*>(this)};
    }

private:
    static int Interrupt(void* opaque) {
        return static_cast<const StopToken*>(opaque)->StopRequested() ? 1 : 0;
    }

    std::atomic<bool> cancelled_{false};
    const std::atomic<bool>& closing_;
};

} // namespace norv_engine
