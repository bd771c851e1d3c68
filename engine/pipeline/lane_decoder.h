// Decoding one stream of an input lane: a decoder opened anew for each file
// of the lane; a packet the decoder refuses is skipped and one it cannot
// take yet is sent again once its frames are taken; every frame goes on
// with its time in the joined timeline and its duration, unless it falls
// outside the file's trimmed part.
#pragma once

#include <cstdint>
#include <functional>

#include "ffmpeg.h"
#include "input_lane.h"
#include "status.h"

namespace norv_engine {

class LaneDecoder {
public:
    /// Takes each decoded frame: its pts in the joined timeline
    /// (microseconds), durationUs its length (0: not known).
    using FrameUse = std::function<Status(AVFrame* frame, int64_t durationUs)>;

    LaneDecoder() : frame_(av_frame_alloc()) {}

    /// Decodes packet (null: the end of the lane's file) of stream input of
    /// lane, handing every frame the decoder gives to use. A stream the file
    /// does not have (input null) is passed over.
    Status Decode(InputLane& lane, const AVStream* input, const AVPacket* packet,
                  const FrameUse& use);
    /// Closes the decoder at the end of a file; the next file opens its own.
    void Close() { context_.reset(); }

    uint64_t packets() const { return packets_; } ///< sent since it was opened
    uint64_t frames() const { return frames_; }   ///< received since it was opened

private:
    Status Open(InputLane& lane, const AVStream* input);
    Status Receive(InputLane& lane, const AVStream* input, const FrameUse& use);

    CodecContextPtr context_;
    size_t file_ = 0;
    uint64_t packets_ = 0;
    uint64_t frames_ = 0;
    int64_t end_ = AV_NOPTS_VALUE; ///< where its latest frame ended, microseconds of the join
    FramePtr frame_;
};

} // namespace norv_engine
