// Measures an encode against its source: each frame's SSIM (FFmpeg's ssim
// filter, all planes) against the source's picture made into the output's
// (deinterlaced, cropped, flipped and turned as the job asks, scaled to
// the output picture in its colours), and the same with both pictures
// halved (area average) and blurred slightly (sigma 1 at half size), which
// leaves the picture under any grain.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "quality/samples.h"

struct AVFrame;

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
    std::vector<size_t> sample;     ///< the same frames' samples
    std::vector<bool> intra;        ///< the same frames: coded whole (an I picture)
};

/// The reference pictures of a probe's samples (the source made into the
/// output's picture), kept from one measurement to the next, since they are
/// the same at every bitrate: decoding the source again from each sample's
/// keyframe costs about as much as the comparing. Whole samples are kept
/// while they fit into the cap; the rest are decoded each time.
class ReferenceFrames {
public:
    static constexpr size_t kCap = size_t{256} << 20;
    explicit ReferenceFrames(size_t cap = kCap) : cap_(cap) {}
    ~ReferenceFrames();
    ReferenceFrames(const ReferenceFrames&) = delete;
    ReferenceFrames& operator=(const ReferenceFrames&) = delete;

    /// Starts decoding the samples' source pictures on a thread of its own
    /// (whole samples, while they fit into the cap), for the next
    /// measurement to make its references from: run beside the first
    /// probe encode, the decoding costs little of the time it would take
    /// afterwards. A sample it cannot read is left to the measurement,
    /// which says why. Nothing where references are kept or decoding is
    /// under way. title and samples must outlive the decoding (the next
    /// measurement, or this object's end, waits for it).
    void DecodeAhead(const std::vector<TitleFile>& title, const std::vector<Sample>& samples);

private:
    friend FrameScores MeasureEncode(const std::vector<TitleFile>&, const std::vector<Sample>&,
                                     const std::string&, const PictureSetup&,
                                     const std::function<void(double)>&, bool, ReferenceFrames*,
                                     const StopCheck&);
    /// Waits for the decoding ahead, and takes its pictures.
    std::vector<std::vector<AVFrame*>> TakeDecoded();

    size_t cap_;
    size_t bytes_ = 0;
    std::vector<std::vector<AVFrame*>> kept_; ///< by sample; empty: not kept
    std::thread ahead_;
    std::atomic<bool> abandon_{false};
    std::vector<std::vector<AVFrame*>> decoded_; ///< by sample, the source's own pictures
};

/// Compares encoded, made of samples joined in order, with the source
/// stretches they came from: underGrain also scores the pictures under the
/// grain (otherwise FrameScores::underGrain repeats the plain scores).
/// References kept in keep (when given) are used, and kept there for the
/// next call. progress(fraction) is called as it goes. Throws Failure, and
/// Failure (Aborted) between frames once StopRequested(stop).
FrameScores MeasureEncode(const std::vector<TitleFile>& title, const std::vector<Sample>& samples,
                          const std::string& encoded, const PictureSetup& setup,
                          const std::function<void(double)>& progress, bool underGrain = true,
                          ReferenceFrames* keep = nullptr, const StopCheck& stop = StopCheck());

/// Frees the pictures and empties the list.
void FreeFrames(std::vector<AVFrame*>& frames);

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
