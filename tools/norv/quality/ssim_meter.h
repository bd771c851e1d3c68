// Measures an encode against its source: each frame's SSIM (FFmpeg's ssim
// filter, all planes) against the source's picture made into the output's
// (deinterlaced, cropped, flipped and turned as the job asks, scaled to
// the output picture in its colours), and the same with both pictures
// halved (area average) and blurred slightly (sigma 1 at half size), which
// leaves the picture under any grain.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "quality/samples.h"

namespace norv {

/// What the job does to the source's picture geometry.
struct PictureSetup {
    int cropTop = 0, cropBottom = 0, cropLeft = 0, cropRight = 0;
    bool flipHorizontal = false, flipVertical = false;
    int quarterTurns = 0;   ///< clockwise
    bool keepAspect = true; ///< the display aspect is kept (bars where it differs)
};

struct FrameScores {
    std::vector<double> plain;      ///< per compared frame
    std::vector<double> underGrain; ///< the same frames, both halved and blurred
};

/// Compares encoded, made of samples joined in order, with the source
/// stretches they came from. progress(fraction) is called as it goes.
/// Throws Failure.
FrameScores MeasureEncode(const std::vector<TitleFile>& title, const std::vector<Sample>& samples,
                          const std::string& encoded, const PictureSetup& setup,
                          const std::function<void(double)>& progress);

/// Samples covering every file of a title whole.
std::vector<Sample> WholeTitle(const std::vector<TitleFile>& title);

/// The bytes of a file's first video stream, and its playing time.
struct VideoSize {
    uint64_t bytes = 0;
    uint64_t keyBytes = 0; ///< of its keyframes
    unsigned keyframes = 0;
    double seconds = 0;
};
VideoSize MeasureVideoSize(const std::string& path);

} // namespace norv
