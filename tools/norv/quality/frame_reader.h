// Reads the pictures of a file's first video stream, from any point on,
// for measuring: the probe's scene cuts and its quality measurements.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ffmpeg.h"
#include "quality/samples.h"

namespace norv {

using norv_engine::CodecContextPtr;
using norv_engine::FormatContextPtr;
using norv_engine::FramePtr;
using norv_engine::PacketPtr;

class FrameReader {
public:
    /// Opens path (a value: never parsed as options or a filter). Throws
    /// Failure when it has no video stream that decodes.
    explicit FrameReader(const std::string& path);

    /// Decodes faster from here on, without the loop filter: for looking
    /// at pictures, not for measuring them.
    void Rough();

    /// Continues from the keyframe at or before seconds (the file's own
    /// timestamps); Next skips the frames before it, unless keepEarlier,
    /// when it gives every frame from that keyframe on (decoded anyway).
    void SeekTo(double seconds, bool keepEarlier = false);
    /// The next decoded frame, its pts set to its best timestamp in the
    /// stream's time base; false at the end of the file.
    bool Next(AVFrame* frame);

    const AVStream& stream() const { return *format_->streams[index_]; }
    /// Seconds of a timestamp in the stream's time base.
    double Seconds(int64_t pts) const;
    /// Seconds of the stream's first timestamp (0 where it gives none).
    double StartSeconds() const;
    /// The stream's frame rate (its average, else its base rate; 25 when
    /// it says neither).
    AVRational frameRate() const;
    /// The keyframes the demuxer's index lists (seconds, the file's own
    /// timestamps, in order); empty where the format keeps no index.
    std::vector<double> IndexedKeyframes() const;
    /// Every coded picture of the stream, in time order: from the demuxer's
    /// index where it lists each one (MP4 and its kin), else by reading the
    /// packets (no decoding). Seek before reading frames after it.
    std::vector<CodedPicture> CodedPictures();
    /// Bytes of the stream's packets read so far.
    uint64_t packetBytes() const { return packetBytes_; }

private:
    std::string path_;
    FormatContextPtr format_;
    CodecContextPtr decoder_;
    PacketPtr packet_;
    int index_ = -1;
    int64_t skipBefore_ = AV_NOPTS_VALUE;
    bool draining_ = false;
    uint64_t packetBytes_ = 0;
};

} // namespace norv
