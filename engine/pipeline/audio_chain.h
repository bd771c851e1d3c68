// The sound of one output audio track, in one libavfilter graph: the
// decoded frames stay continuous across joined files (gaps filled with
// silence, overlaps cut) and come out in the encoder's sample format, rate,
// layout and frame size, on one sample clock that runs on when the graph is
// made anew for frames of another format, or for the next joined file (a
// new graph places its first frame at its time, whatever the gap; within a
// file, gaps and overlaps under 0.1 s are left to the timestamps' jitter).
// A long gap is filled here, a piece at a time as the encoder takes it, so
// that a track starting hours late costs no more memory than one piece.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "filter_chain.h"

extern "C" {
#include <libavutil/audio_fifo.h>
}

namespace norv_engine {

struct AudioFifoFreer {
    void operator()(AVAudioFifo* f) const { av_audio_fifo_free(f); }
};
using AudioFifoPtr = std::unique_ptr<AVAudioFifo, AudioFifoFreer>;

class AudioChain final : public FilterChain {
public:
    /// For an opened encoder, which must outlive the chain. Frames come out
    /// with timestamps in 1/sample rate.
    explicit AudioChain(const AVCodecContext* encoder);
    ~AudioChain() override;

    /// A frame far ahead of the sound so far waits behind the silence that
    /// fills the gap, handed out by Pull.
    bool Push(AVFrame* frame, int64_t durationUs, std::string& why) override;
    bool End(std::string& why) override;
    /// Frames of the encoder's frame size (the last one may be shorter),
    /// each starting where the one before ended.
    int Pull(AVFrame* out) override;

private:
    bool Build(const AVFrame* frame, std::string& why) override;
    bool Changed(const AVFrame* frame) const override;
    void TookOut(const AVFrame* frame) override { graphSamples_ += frame->nb_samples; }
    /// A frame of count samples from the queue, stamped with the clock.
    int Take(AVFrame* out, int count);
    /// Hands the graph the next piece of silence before the waiting frame,
    /// then that frame (and the end, if it was told meanwhile).
    int Fill();
    bool PushNow(AVFrame* frame, int64_t durationUs, std::string& why);

    const AVCodecContext* encoder_;
    int rate_ = 0, format_ = -1;
    AVChannelLayout layout_{};
    /// Samples the graphs have handed out: where a new graph starts.
    int64_t graphSamples_ = 0;
    /// Samples handed to the encoder: the next frame's timestamp.
    int64_t clock_ = 0;
    /// What the graphs handed out and the encoder did not take yet: a frame
    /// cut short by a new graph waits here for the rest of its samples.
    AudioFifoPtr queue_;
    FramePtr piece_;
    /// Where the sound pushed so far ends, in microseconds of the timeline.
    int64_t reach_ = 0;
    /// The frame behind a gap being filled, with its duration; the gap's
    /// next and end samples, at that frame's rate.
    FramePtr waiting_;
    int64_t waitingUs_ = 0;
    int64_t fillAt_ = 0, fillEnd_ = 0;
    bool endAfterFill_ = false;
};

} // namespace norv_engine
