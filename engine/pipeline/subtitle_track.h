// A soft subtitle track of the output: text subtitles are decoded (their
// text converted from the track's character set to UTF-8) and written in
// the container's text format (SubRip or ASS in Matroska, timed text in
// MP4); picture subtitles are copied where the container carries them.
#pragma once

#include <functional>
#include <string>

#include "ffmpeg.h"

namespace norv_engine {

/// The codec a subtitle stream is written with in a container: SubRip, ASS
/// (for ASS/SSA text) or the source's own (pictures) in Matroska, timed
/// text in MP4. AV_CODEC_ID_NONE when the container cannot carry it.
AVCodecID SubtitleOutputCodec(const char* muxer, AVCodecID source);

/// A decoded subtitle, whose rectangles are freed when it goes out of scope.
struct DecodedSubtitle {
    AVSubtitle value{};
    DecodedSubtitle() = default;
    DecodedSubtitle(const DecodedSubtitle&) = delete;
    DecodedSubtitle& operator=(const DecodedSubtitle&) = delete;
    ~DecodedSubtitle() { avsubtitle_free(&value); }
};

/// True for subtitles made of text, which are converted rather than copied.
bool IsTextSubtitle(AVCodecID codec);

class SubtitleTrack {
public:
    /// For text subtitles read from first (a stream of the first file that
    /// holds the track), written with codec. Null encoder (with why) when
    /// the encoder does not open.
    SubtitleTrack(const AVStream* first, AVCodecID codec, const std::string& charset,
                  bool globalHeader, std::string& why);

    /// The opened encoder, for the muxer's stream; null on failure.
    const AVCodecContext* encoder() const { return encoder_.get(); }

    /// Converts a packet of stream (a stream of the file in work); its
    /// timestamps are moved by shiftUs (microseconds) onto the joined
    /// timeline. Each subtitle made goes to sink with timestamps in
    /// microseconds. A packet that does not decode is skipped.
    bool Convert(const AVStream* stream, const AVPacket* packet, int64_t shiftUs,
                 const std::function<bool(AVPacket*)>& sink, std::string& why);

    /// Hands the end of the last subtitle, where the format marks it with
    /// an empty one, to sink.
    bool Finish(const std::function<bool(AVPacket*)>& sink);

private:
    /// Hands the pending end mark to sink when it comes at or before
    /// limit; drops it when a later subtitle starts before it.
    bool EndBefore(int64_t limit, const std::function<bool(AVPacket*)>& sink);

    /// Timed text marks the end of a subtitle with an empty one. It is
    /// written when the next subtitle comes, so that the marks go into the
    /// file in time with the picture rather than when the muxer fills the
    /// gap before the next subtitle.
    PacketPtr pendingEnd_;
    CodecContextPtr encoder_;
    CodecContextPtr decoder_;
    const AVStream* decoderStream_ = nullptr;
    std::string charset_;
};

} // namespace norv_engine
