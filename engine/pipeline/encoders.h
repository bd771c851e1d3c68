// The encoders of an output and their rate control: the profile's video
// encoder at a bitrate (one pass, or either pass of two, with the
// statistics the encoder keeps between them), and an audio encoder at a
// bitrate with the sample format, rate and layout it takes.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "ffmpeg.h"
#include "picture_colour.h"

namespace norv_engine {

/// The bitrate the encoder may reach at a moment, as a multiple of its
/// target: loose enough for the encoder to spend bits where the picture
/// needs them, tight enough that a single pass lands near its target.
constexpr double kMaxRateFactor = 1.5;

/// Which pass of a video encode this is.
enum class EncodePass { Single, First, Second };

/// A keyframe at least every this many seconds.
constexpr int kKeyframeSeconds = 10;

struct VideoEncoderSetup {
    const char* encoder = nullptr; ///< FFmpeg's encoder name
    int width = 0;
    int height = 0;
    AVRational sampleAspect{1, 1};
    AVRational frameRate{25, 1};
    PictureColour colour; ///< the frames' colours, tagged in the stream
    int64_t bitrate = 0;  ///< bits per second
    EncodePass pass = EncodePass::Single;
    /// The statistics file of encoders that keep their own (libx264,
    /// libx265); FFmpeg's own encoders keep them in memory (statsIn).
    std::string statsPath;
    /// The first pass's statistics, for the second pass of FFmpeg's own
    /// encoders.
    const std::string* statsIn = nullptr;
    /// The speed/quality level of the HEVC encoder (a HevcQualityLevel).
    int hevcQuality = 1;
    bool globalHeader = false;
    /// Frames encoded twice at the start (RateWarmUp): a forced keyframe
    /// then starts the stream anew.
    int warmUpFrames = 0;
};

/// The least bitrate (bits per second) FFmpeg's own encoders take for a
/// second pass of the pictures their first pass described in stats; a lower
/// one is raised to it. 0 for libx264 and libx265, which take any, and
/// without statistics.
int64_t SecondPassFloor(const char* encoder, const std::string* stats, AVRational frameRate);

/// The pixel format the engine encodes video in: 8 bits for every profile
/// (high dynamic range sources are tone mapped to BT.709).
constexpr AVPixelFormat kEncodePixelFormat = AV_PIX_FMT_YUV420P;

/// Opens the video encoder; null with why when it cannot be opened.
CodecContextPtr OpenVideoEncoder(const VideoEncoderSetup& setup, std::string& why);

/// The sample format, rate and layout an audio encoder takes, as close to
/// the source's as it allows, with at most maxChannels channels (0: no
/// limit).
struct AudioFormat {
    AVSampleFormat sampleFormat = AV_SAMPLE_FMT_NONE;
    int sampleRate = 0;
    AVChannelLayout layout{};
};
AudioFormat EncoderAudioFormat(const AVCodec* encoder, int sourceRate,
                               const AVChannelLayout& sourceLayout, int maxChannels);

/// Opens an audio encoder at bitrate (bits per second) for format; null
/// with why when it cannot be opened.
CodecContextPtr OpenAudioEncoder(const AVCodec* encoder, const AudioFormat& format, int64_t bitrate,
                                 bool globalHeader, std::string& why);

/// Sends frame (null: the end) to an encoder and hands every packet it has
/// ready to sink, whose false stops the work. Returns false (with why) when
/// encoding fails or the sink stopped.
bool Encode(AVCodecContext* encoder, const AVFrame* frame,
            const std::function<bool(AVPacket*)>& sink, std::string& why);

} // namespace norv_engine
