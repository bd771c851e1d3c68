// The probe: before a title is encoded, short samples of it are encoded
// through the library and the engine exactly as the job will be (its
// profile, picture, passes and encoder settings; audio left out), at a few
// bitrates, and each encode's quality is measured against the source. The
// points make the title's rate-quality curve. They are kept in the cache
// folder beside the rate file, under the title's files (path, size, time)
// and the settings that shape its picture, so the same title and settings
// are never probed twice; a later target that needs another bitrate adds
// its point to them.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/library.h"
#include "common/media.h"
#include "common/settings.h"
#include "quality/rate_quality.h"
#include "quality/samples.h"
#include "quality/ssim_meter.h"
#include "timing/progress.h"

namespace norv {

/// One probe point, in both metrics.
struct ProbePoint {
    RatePoint plain;      ///< SSIM against the source
    RatePoint underGrain; ///< SSIM of the pictures under the grain (see MeasureEncode)
    SampleOutput output;  ///< what the samples' encode made
};

/// Hears where a probe is: its percent (0 to 100) and the step it is at.
using ProbeListener = std::function<void(int percent, const std::string& step)>;

/// How the probe shows where it is.
struct ProbeDisplay {
    ProgressMode mode = ProgressMode::Plain;
    double period = 5.0;
    std::string label;       ///< the title, as the user named it
    ProbeListener listener;  ///< when set, told of every report as well
    StopCheck stopRequested; ///< when set, stops the probe as an interrupt does
};

/// The files of a title as the probe reads them.
std::vector<TitleFile> TitleOf(const Sources& sources);
/// What a job does to the picture's geometry. Throws Failure.
PictureSetup PictureOf(const OutputChoice& choice);

class TitleProbe {
public:
    /// A probe of sources (analysed) for the job choice describes, whose
    /// whole output the library derives as outputWidth x outputHeight.
    /// Loads what the cache holds for them.
    TitleProbe(const Sources& sources, const OutputChoice& choice, nvt::ITranscodeEngineInfo* info,
               uint32_t outputWidth, uint32_t outputHeight, ProbeDisplay display);
    ~TitleProbe();
    TitleProbe(const TitleProbe&) = delete;
    TitleProbe& operator=(const TitleProbe&) = delete;

    /// Encodes and measures the samples at kbps unless a point within 3 %
    /// of it is known. Throws Failure (Aborted on an interrupt or a stop
    /// the display's stopRequested asked for).
    void EnsurePoint(double kbps);

    const std::vector<ProbePoint>& points() const { return points_; }
    /// The curve of the metric the title is judged by (see NoiseDominated).
    RateQualityCurve Curve() const;
    /// SSIM reads mostly grain here: the picture under it is well kept at
    /// the first probe's bitrate while SSIM against the source is low. The
    /// title is then judged by the picture under the grain.
    bool NoiseDominated() const;
    /// Seconds this run spent probing (0 when all came from the cache).
    double seconds() const { return seconds_; }
    bool fromCache() const { return fromCache_; }
    const std::vector<Sample>& samples() const { return samples_; }
    const std::vector<TitleFile>& title() const { return title_; }
    const PictureSetup& picture() const { return picture_; }

private:
    void PlanSamples();
    void PrepareSources();
    ProbePoint EncodeAndMeasure(double kbps, size_t step);
    void Save() const;
    /// Each point's title rate and lift (TitleRateFrom), from its samples'
    /// output and the nearest other point's.
    void SettleRates();
    void Show(double fraction, const std::string& what);
    bool Stopped() const { return StopRequested(display_.stopRequested); }

    OutputChoice choice_;
    nvt::ITranscodeEngineInfo* info_;
    uint32_t width_, height_;
    ProbeDisplay display_;
    ProgressLine line_;
    std::vector<TitleFile> title_;
    PictureSetup picture_;
    std::string cacheKey_, cacheFile_;
    std::vector<Sample> samples_;
    std::vector<ProbePoint> points_;
    double seconds_ = 0;
    bool fromCache_ = false;
    std::string scratch_;        ///< folder of the probe's playlists and encodes
    Sources sampleSources_;      ///< the samples, analysed once
    ReferenceFrames references_; ///< the samples' reference pictures, kept between bitrates
};

} // namespace norv
