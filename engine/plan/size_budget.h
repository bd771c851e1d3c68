// How many bits the main video gets, so that the whole output weighs what
// the preview promised: the promised rates over the output's real duration
// (or, with a size limit that has priority, just under the limit), less
// what the audio, the trick-play stream, the subtitles and the container
// itself take. Before anything is encoded those are predicted; a first pass
// measures them.
#pragma once

#include <cstdint>

#include "transcode_pass.h"
#include "transcode_plan.h"

namespace norv_engine {

/// What the output holds besides the main video's packets, in bytes.
struct OtherCosts {
    double seconds = 0.0;         ///< duration of the output
    uint64_t audioBytes = 0;      ///< every audio track
    uint64_t extraAudioBytes = 0; ///< of those, the tracks from extra files
    uint64_t trickBytes = 0;
    uint64_t subtitleBytes = 0;
    uint64_t containerBytes = 0; ///< the container's own share
};

/// The share of the limit a limited output aims at: the rest is room for
/// the encoder's own error, checked after the pass.
constexpr double kLimitMargin = 0.975;

/// Costs predicted from the plan alone.
OtherCosts PredictCosts(const TranscodePlan& plan);

/// Costs measured by a first pass, which wrote the main video and the audio
/// into a counting muxer; what it left out is predicted.
OtherCosts MeasuredCosts(const TranscodePlan& plan, const PassFigures& first);

/// The whole output's target in bytes.
uint64_t TargetBytes(const TranscodePlan& plan, const OtherCosts& costs);

/// Bits per second for the main video, within the profile's range.
int64_t VideoBitrate(const TranscodePlan& plan, const OtherCosts& costs);

/// Bits per second of the main video that would fill the output to its
/// size limit exactly; 0 when there is no limit or no room for video.
int64_t BitrateAtLimit(const TranscodePlan& plan, const OtherCosts& costs);

/// True when the output fits within its requested limit with the main
/// video copied (its predicted bytes) and the rest as planned.
bool CopyFits(const TranscodePlan& plan);

/// After an output came out larger than its limit: a lower bitrate for
/// another try, from what the try wrote.
int64_t ReducedVideoBitrate(const TranscodePlan& plan, int64_t bitrate, const PassFigures& written);

} // namespace norv_engine
