// The output streams of a pass. Each owns what makes its packets (an
// encoder and its filter chain, a subtitle converter, or nothing for a
// copy) and its index in the muxer; encoded streams take decoded frames
// with Push and empty their chain and encoder with Flush.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "audio_chain.h"
#include "bitmap_burn.h"
#include "ffmpeg.h"
#include "input_lane.h"
#include "muxer.h"
#include "rate_warm_up.h"
#include "status.h"
#include "stop_token.h"
#include "subtitle_track.h"
#include "video_chain.h"

namespace norv_engine {

/// Where every output stream writes: the muxer, behind the job's stop token
/// (encoders hand out many packets at their end, and a stop is heard there
/// too).
class PacketWriter {
public:
    PacketWriter(Muxer& muxer, const StopToken& stop) : muxer_(muxer), stop_(stop) {}
    Status Write(AVPacket* packet, int stream, AVRational timeBase);

private:
    Muxer& muxer_;
    const StopToken& stop_;
};

/// Packets of an input stream written unchanged, in the joined timeline.
class CopiedOutput {
public:
    CopiedOutput(int stream, PacketWriter& writer) : stream_(stream), writer_(writer) {}
    /// Copies the lane's current packet; packets outside the file's trimmed
    /// part, and those that go back in time where joined recordings overlap,
    /// are left out.
    Status Copy(const InputLane& lane, const AVPacket* packet);
    int stream() const { return stream_; }

private:
    int stream_;
    PacketWriter& writer_;
    int64_t lastDts_ = AV_NOPTS_VALUE;
};

/// Frames through a filter chain into an encoder, its packets to the muxer.
class EncodedOutput {
public:
    EncodedOutput(CodecContextPtr&& encoder, std::unique_ptr<FilterChain> chain, int stream,
                  PacketWriter& writer);
    virtual ~EncodedOutput() = default;
    EncodedOutput(const EncodedOutput&) = delete;
    EncodedOutput& operator=(const EncodedOutput&) = delete;

    /// One decoded frame (pts in microseconds of the joined timeline).
    Status Push(AVFrame* frame, int64_t durationUs);
    /// The end: what the chain and the encoder still hold.
    Status Flush();

    int stream() const { return stream_; }
    const AVCodecContext* encoder() const { return encoder_.get(); }

protected:
    /// Each filtered frame, before the encoder has it.
    virtual Status Filtered(AVFrame* /*frame*/) { return {}; }
    /// Each packet, before it is written.
    virtual void Encoded(const AVPacket* /*packet*/) {}
    /// Hands a frame (null: the end) to the encoder through encode; an
    /// output may hold frames back or send more.
    virtual Status Send(AVFrame* frame, const std::function<Status(const AVFrame*)>& encode) {
        return encode(frame);
    }
    /// Whether a packet the encoder gave out is written (in the time it
    /// may change).
    virtual bool Keep(AVPacket* /*packet*/) const { return true; }
    FilterChain& chain() { return *chain_; }

private:
    /// Hands every frame the chain has ready to the encoder; at the chain's
    /// end the encoder is flushed.
    Status Drain();

    CodecContextPtr encoder_;
    std::unique_ptr<FilterChain> chain_;
    int stream_;
    PacketWriter& writer_;
    FramePtr filtered_;
};

/// A picture stream: the main video or the trick-play one.
class VideoOutput final : public EncodedOutput {
public:
    VideoOutput(CodecContextPtr encoder, const VideoChainSetup& chain, int stream,
                PacketWriter& writer);

    /// The first of two passes collects the encoder's statistics into stats.
    void CollectStatistics(std::string* stats) { stats_ = stats; }
    /// Picture subtitles blended onto each frame before it is encoded.
    void BlendSubtitles(BitmapBurn* burn) { burn_ = burn; }
    /// Called after each packet the encoder gives out.
    void OnPacket(std::function<void()> heard) { heard_ = std::move(heard); }
    /// Encodes the first frames twice (RateWarmUp); the encoder was opened
    /// for it.
    void WarmUp(int frames) { warmUp_ = RateWarmUp(frames); }

    uint64_t frames() const { return frames_; }   ///< handed to the encoder
    uint64_t packets() const { return packets_; } ///< given out by it

private:
    Status Filtered(AVFrame* frame) override;
    void Encoded(const AVPacket* packet) override;
    Status Send(AVFrame* frame, const std::function<Status(const AVFrame*)>& encode) override {
        return warmUp_.Take(frame, encode);
    }
    bool Keep(AVPacket* packet) const override { return warmUp_.Keep(packet); }

    AVRational timeBase_{1, 25}; ///< of the chain's frames
    RateWarmUp warmUp_{0};
    std::string* stats_ = nullptr;
    BitmapBurn* burn_ = nullptr;
    std::function<void()> heard_;
    uint64_t frames_ = 0;
    uint64_t packets_ = 0;
};

/// A sound stream.
class AudioOutput final : public EncodedOutput {
public:
    AudioOutput(CodecContextPtr encoder, int stream, PacketWriter& writer);
    /// Opens the named encoder for input's sound (mixed down to maxChannels
    /// when it has more) and adds its stream to the muxer.
    static Status Open(const char* encoderName, const AVStream* input, int maxChannels,
                       int64_t bitrate, Muxer& muxer, PacketWriter& writer,
                       std::unique_ptr<AudioOutput>& output);
    uint64_t samples() const { return samples_; } ///< handed to the encoder
    /// A joined file begins: its sound starts at its own time, with silence
    /// before it or the overlap cut, however small the gap, so that it
    /// meets its picture.
    void Join() { chain().StartAnew(); }

private:
    Status Filtered(AVFrame* frame) override;

    uint64_t samples_ = 0;
};

/// A soft subtitle stream: text converted into the container's format, or
/// picture subtitles copied.
class SubtitleOutput {
public:
    SubtitleOutput(std::unique_ptr<SubtitleTrack> track, int stream, PacketWriter& writer);
    Status Take(const InputLane& lane, const AVPacket* packet);
    /// Ends the last subtitle where the container needs an end mark.
    Status Flush();
    int stream() const { return stream_; }

private:
    std::unique_ptr<SubtitleTrack> track_; ///< null: copied
    CopiedOutput copied_;
    int stream_;
    PacketWriter& writer_;
};

} // namespace norv_engine
