// The start of a one-pass encode, encoded twice. x264's one-pass rate
// control begins from a guess at what the pictures cost: its first keyframe
// comes out too coarse (and the pictures after it inherit the coarseness)
// or too large (and the pictures after it pay for it), and it takes about a
// second to find its feet. Those frames are a title's worst: at 400 kbit/s
// on 640x360 camera footage they scored 0.960 in SSIM where the rest of the
// title scored 0.98. So the first frames are encoded once to let the rate
// control learn, their packets thrown away, and then again from a keyframe
// that starts the output.
//
// The thrown-away frames count for the rate control as time it was asked to
// fill and their bits as spent; over the quality bench's footage the output
// made the asked rate as closely as without them (within 1 %), so the
// encoder is asked for the rate itself.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "encoders.h"
#include "ffmpeg.h"
#include "status.h"

namespace norv_engine {

/// The seconds encoded twice: long enough for x264's rate control to have
/// settled, at most kWarmUpShare of the title.
constexpr double kWarmUpSeconds = 1.0;
constexpr double kWarmUpShare = 0.5;

/// How many frames a video encode warms up on: none for encoders other than
/// libx264, for passes of two (the second follows the first's statistics
/// frame by frame), and for titles of unknown length (seconds <= 0).
int WarmUpFrames(const char* encoder, EncodePass pass, AVRational frameRate, double seconds);

/// Holds an encode's first frames, then sends them twice: as copies in
/// their own time, then as themselves, the first forced to a keyframe. The
/// encoder takes frames in rising time: every frame after the warm-up goes
/// to it later by the warm-up's length, and its packets come back to their
/// own time.
class RateWarmUp {
public:
    using Send = std::function<Status(const AVFrame*)>;

    explicit RateWarmUp(int frames) : frames_(frames) {}

    /// A frame for the encoder (null: the end), in ticks of one frame, sent
    /// on through send when its turn comes.
    Status Take(AVFrame* frame, const Send& send);
    /// Whether a packet the encoder gave out belongs to the output (false:
    /// one of the warm-up's); one that does is put back in its own time.
    bool Keep(AVPacket* packet) const;

private:
    Status Release(const Send& send);
    /// Sends a frame on in the encoder's time: later by the warm-up's length.
    Status SendOwn(AVFrame* frame, const Send& send) const;

    int frames_;
    std::vector<FramePtr> held_;
    int64_t start_ = AV_NOPTS_VALUE; ///< the output's first frame, as the encoder has it
    int64_t shift_ = 0;              ///< the warm-up's length in ticks, once sent
    bool done_ = false;
};

} // namespace norv_engine
