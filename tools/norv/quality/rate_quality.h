// The quality a title reaches at a video bitrate, from a few probe encodes.
//
// Quality is SSIM against the source scaled to the output picture, pooled
// over the worst 1 % of frames. Between bitrates it follows a straight line
// in SSIM decibels (-10 log10(1 - SSIM)) against the logarithm of the
// bitrate, as x264's own rate-distortion behaviour does over the few
// doublings a title's useful range spans; the fit is kept monotone (more
// bits never predict less quality).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace norv {

/// SSIM (0..1) as decibels, and back. SSIM 1 counts as 50 dB.
double SsimToDb(double ssim);
double DbToSsim(double db);

/// The mean of the worst 1 % of per-frame scores (at least one frame) and
/// the mean of all. Both 0 for no frames.
struct PooledQuality {
    double worst = 0;
    double mean = 0;
    size_t frames = 0;
};
/// Where a frame stands for several of a title's (weights, one per score, in
/// title frames; none: one each), the worst 1 % is of the frames they stand
/// for, rounded up: the worst frames in turn, each for as many as it stands
/// for or as are still wanted; the mean is weighted alike.
PooledQuality Pool(std::vector<double> scores, std::vector<double> weights = {});

/// Whether SSIM reads grain rather than picture, from a probe's pooled
/// scores against the source (plain) and with both pictures halved and
/// blurred (underGrain): its worst frames score below kGrainCeiling while
/// the picture under the grain scores kGrainGap or more above them, and the
/// mean of all frames scores below kGrainCeiling too. Grain covers every
/// picture; fine detail the bitrate cannot keep (a deep zoom's last
/// seconds) lowers the frames that hold it, and the blur hides that loss
/// as well.
bool ReadsGrain(const PooledQuality& plain, const PooledQuality& underGrain);
constexpr double kGrainCeiling = 0.90;
constexpr double kGrainGap = 0.20;

/// The last compared frame of each sample of two or more (true), given each
/// frame's sample: the encoder met the next sample's cut, or the end, right
/// after it, so no later picture refers to it and x264's macroblock tree
/// spends little on it, where the title carries on through it and refers
/// to it. It is left out of the probe's measure.
std::vector<bool> SampleEnds(const std::vector<size_t>& sample);

/// The frames of a joined encode of samples that a title does not have
/// (true: left out), given each compared frame's score, sample and whether
/// it was coded whole (an I picture). A sample after the first that the
/// encoder carried on from the one before (no I picture: it saw no cut)
/// while its first picture came out kBrokenJoinDb or more below the last
/// frame kept was coded from an unrelated picture with the bits of one
/// that changes little, and the rest of the sample inherits it; a title
/// never joins those pictures. The first sample is always kept.
std::vector<bool> BrokenJoins(const std::vector<double>& scores, const std::vector<size_t>& sample,
                              const std::vector<bool>& intra);
constexpr double kBrokenJoinDb = 3.0;

/// What a probe's encode of the samples made of an asked rate (video only).
struct SampleOutput {
    double askedKbps = 0;
    double seconds = 0; ///< playing time of the samples
    uint64_t bytes = 0;
    uint64_t keyBytes = 0; ///< of its keyframes
    unsigned keyframes = 0;
};

/// What a whole title makes of an asked rate.
struct TitleRate {
    double kbps = 0; ///< video
    /// Times the bits the samples' pictures got that the title's get: the
    /// title's rate over the samples', 1 to kMostLift. (Counting only the
    /// frames between keyframes, where the samples were starved, lifted
    /// still pictures far past what they showed on the quality bench.)
    double lift = 1;
};

/// What a whole title of titleSeconds makes when asked for the samples'
/// rate, by x264's one-pass rate control as the samples show it:
/// - made more than the asked rate: an excess that a longer title spreads
///   thinner, 1 + (made - 1) (samples / title)^kSpread (the rate control
///   overshoots while it finds its feet: a fractal zoom's samples made
///   1.17 times the rate, its title 1.055);
/// - caught up (keyframes under kKeyframeDominated of the bytes, and the
///   frames between them made at least kCaughtUp of what the keyframes left
///   them, or, asked for more at another probe (other), took more in a
///   greater proportion, kTakesMore in logs: a shortfall that shrinks as the
///   rate grows is bits the rate control has yet to find its feet with, not
///   pictures that cannot take them): what fell short is a deficit that a
///   longer title spreads thinner: (1 - made) (samples / title)^kSpread;
/// - starved (pictures too easy to take the bits, or a keyframe that takes
///   most of them): the title's own keyframes (one per keyframe interval,
///   each as large as the samples' were) and the frames between them at
///   the samples' rate, raised by half the share of the shortfall that a
///   caught-up title would make up; by none where no keyframe took most
///   of the bytes and, asked for more, the frames between keyframes took
///   hardly more (under kTakesNoMore in logs: the pictures cannot take the
///   bits, over a longer title no more than in the samples).
/// Never more than the asked rate when the samples made less.
TitleRate TitleRateFrom(const SampleOutput& samples, double titleSeconds, double keyframeSeconds,
                        const SampleOutput* other = nullptr);
constexpr double kMostLift = 4.0;
/// How much of the samples' shortfall or excess a longer title keeps, as a
/// power of samples / title. The encoder warms up on the first second of
/// every encode, samples and title alike (the engine's RateWarmUp), and
/// what that second spends is charged to the frames after it: the samples
/// keep it over their 2.5 s, a title over its length. On the quality bench
/// 0.5 put 34 of 60 ten-second runs within 5 % of their size (0.75: 26).
constexpr double kSpread = 0.5;
/// TitleRateFrom's bounds between caught up and starved, from the quality
/// bench: camera footage and busy pictures lie above 0.7 and below 0.35;
/// still or flat pictures below 0.6 or above 0.65. The frames between
/// keyframes of a ball game starved at low rates grew 1.28-1.31 times as
/// fast as the rate asked; a screen recording's 0.92, still bars' 0.2 or
/// less (counting half their shortfall as made up said their titles up to
/// 31 times their size, counting none at most twice); a moving carpet's,
/// whose keyframe takes most, grow as little, yet its titles make up their
/// half of the shortfall.
constexpr double kCaughtUp = 0.65;
constexpr double kKeyframeDominated = 0.5;
constexpr double kTakesMore = 1.2;
constexpr double kTakesNoMore = 0.5;

/// One probe encode: the bitrate asked for, what a whole title makes of it
/// (video only) and the lift of its pictures' bits over the samples'
/// (TitleRateFrom), and the quality measured. Bitrates in the library's kbps.
struct RatePoint {
    double askedKbps = 0;
    double madeKbps = 0;
    double worst = 0; ///< worst-1 % SSIM
    double mean = 0;  ///< mean SSIM
    double lift = 1;
};

/// A line in (log kbps, dB) through the points, and the encoder's output
/// rate against the asked one. Where a title makes more of an asked rate
/// than the samples did (their rate control still finding its feet), its
/// pictures get those bits: its mean is read where the samples' curve
/// stands at the asked rate raised by the points' lift (TitleRateFrom). Its worst frames get the
/// square root of the lift: on the quality bench about half of them lie in the title's own start,
/// starved as the samples' start was (the lift in full overshot the quality of those titles by
/// 0.0014 on average and put 24 of 44 within 0.005; none, -0.0050 and 29; its square root, -0.0015
/// and 31).
class RateQualityCurve {
public:
    /// Least squares over points (at least one). One point, or points that
    /// show less than minimum slope, take a slope of minimumSlope.
    explicit RateQualityCurve(std::vector<RatePoint> points = {});

    /// Worst-1 % SSIM predicted for a title asked for kbps.
    double WorstAt(double kbps) const;
    /// Mean SSIM predicted at kbps (its own line through the means).
    double MeanAt(double kbps) const;
    /// The bitrate whose predicted worst-1 % SSIM is target.
    double KbpsFor(double target) const;
    /// The video bitrate the encoder makes over a whole title when asked
    /// for kbps: the asked rate times the probes' ratio of made to asked
    /// (interpolated in log kbps between probes).
    double MadeKbps(double kbps) const;

    /// Where more bits stop buying quality: when the probes show less than
    /// the least slope between them, the lowest probed bitrate within
    /// kPlateauDb of the best, provided a probe above it shows that more
    /// bought nothing, or from which every probe at least twice as high
    /// gained less than kPlateauSlope; otherwise unbounded (infinity).
    double UsefulKbps() const;

    /// Whether kbps lies kFarFromProbes or more from the nearest probe
    /// (beyond them, or between two far apart), where a curve that bends
    /// (pictures under grain, still ones) is better measured than drawn.
    /// Not above probes that show a plateau: the bitrate is held at its start.
    bool FarFromProbes(double kbps) const;
    static constexpr double kFarFromProbes = 1.5;

    /// dB gained per doubling of the bitrate (worst-1 %).
    double DbPerDoubling() const;
    /// The lowest and highest bitrate probed.
    double LowestKbps() const;
    double HighestKbps() const;
    const std::vector<RatePoint>& points() const { return points_; }

    /// Probes this close to the best one show no gain worth its bits.
    static constexpr double kPlateauDb = 0.25;
    /// Nor does a doubling that buys less than half the least slope, dB per
    /// natural-log unit of kbps (0.75 dB per doubling). Heavy grain over a
    /// minute gained 0.35 dB from 300 to 675 kb/s and 0.51 more at 2521:
    /// never within kPlateauDb of the top, it went to the profile's ceiling,
    /// ten times the bits for 0.011 of SSIM under the grain.
    static constexpr double kPlateauSlope = 0.75 / 0.69314718055994531;
    /// Least slope, dB per natural-log unit of kbps (1.5 dB per doubling).
    static constexpr double kMinimumSlope = 1.5 / 0.69314718055994531;
    /// The slope taken when one point is all there is: 4 dB per doubling,
    /// about what x264 shows on camera footage.
    static constexpr double kTypicalSlope = 4.0 / 0.69314718055994531;

private:
    struct Line {
        double intercept = 0, slope = kTypicalSlope;
        bool flat = false; ///< the points showed less than the least slope
    };
    static Line FitLine(const std::vector<RatePoint>& points, double RatePoint::*field);

    /// The points' lift, interpolated in log kbps between probes.
    double Lift(double kbps) const;
    double Interpolate(const std::vector<double>& values, double kbps) const;

    std::vector<RatePoint> points_; ///< by asked kbps
    std::vector<double> ratio_;     ///< per point, made over asked
    std::vector<double> lift_;      ///< per point, 1 to kMostLift
    Line worst_, mean_;
};

/// What --quality asks for: a named level or a worst-1 % SSIM.
struct QualityTarget {
    std::string name; ///< "high", "standard", "small", or the number as given
    double worst = 0; ///< worst-1 % SSIM to reach
};

/// "high", "standard", "small", or a number between 0.5 and 0.999.
std::optional<QualityTarget> ParseQualityTarget(const std::string& text);

/// The named levels, for the help text: "high (0.97), standard (0.95), ...".
std::string QualityLevelsText();

} // namespace norv
