#include "quality/rate_quality.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <numeric>

namespace norv {

namespace {

constexpr double kCeilingDb = 50.0; // SSIM 0.99999

struct Level {
    const char* name;
    double worst;
};
// Measured on the quality bench (bench/quality.sh, README): high keeps the
// worst frames of hard camera-like pictures near what HandBrake's default
// RF 22 gives its average ones; small is where blocking starts to show on
// the worst frames of detailed pictures.
constexpr Level kLevels[] = {{"high", 0.97}, {"standard", 0.95}, {"small", 0.92}};

double LogKbps(double kbps) {
    return std::log(std::max(kbps, 1e-3));
}

} // namespace

double SsimToDb(double ssim) {
    const double error = 1.0 - std::min(std::max(ssim, 0.0), 1.0);
    return error <= 0 ? kCeilingDb : std::min(kCeilingDb, -10.0 * std::log10(error));
}

double DbToSsim(double db) {
    return std::max(0.0, 1.0 - std::pow(10.0, -db / 10.0));
}

// How many times faster than the asked rate the bytes between keyframes
// grew from samples to other (in logs); NaN where unknown.
static double BetweenGrowth(const SampleOutput& samples, const SampleOutput* other) {
    const double unknown = std::numeric_limits<double>::quiet_NaN();
    if (other == nullptr || samples.seconds <= 0 || other->seconds <= 0 || samples.askedKbps <= 0 ||
        other->askedKbps <= 0 || std::abs(std::log(other->askedKbps / samples.askedKbps)) < 0.05) {
        return unknown;
    }
    const double a = (samples.bytes - std::min(samples.bytes, samples.keyBytes)) / samples.seconds;
    const double b = (other->bytes - std::min(other->bytes, other->keyBytes)) / other->seconds;
    return a > 0 && b > 0 ? std::log(b / a) / std::log(other->askedKbps / samples.askedKbps)
                          : unknown;
}

TitleRate TitleRateFrom(const SampleOutput& samples, double titleSeconds, double keyframeSeconds,
                        const SampleOutput* other) {
    const double asked = samples.askedKbps;
    if (asked <= 0 || samples.seconds <= 0 || samples.bytes == 0) {
        return TitleRate{asked, 1.0};
    }
    const double toKbps = 8.0 / 1024.0 / samples.seconds;
    const double made = samples.bytes * toKbps / asked; // shares of the asked rate
    // The share of a shortfall or an excess a title of this length keeps.
    const double spread =
        std::pow(std::min(1.0, samples.seconds / std::max(titleSeconds, 1e-3)), kSpread);
    if (made >= 1.0) {
        return TitleRate{asked * (1.0 + (made - 1.0) * spread), 1.0};
    }
    const double key = samples.keyBytes * toKbps / asked;
    const double between = made - key;
    const auto lifted = [](double title, double samples) {
        return samples > 0 ? std::min(kMostLift, std::max(1.0, title / samples)) : 1.0;
    };
    const double growth = BetweenGrowth(samples, other);
    const bool keyframeLight = key < kKeyframeDominated * made;
    if (keyframeLight && key < 1.0 &&
        (between / (1.0 - key) >= kCaughtUp || growth >= kTakesMore)) {
        const double title = 1.0 - (1.0 - made) * spread;
        return TitleRate{asked * title, lifted(title, made)};
    }
    if (samples.keyframes == 0 || titleSeconds <= 0) {
        return TitleRate{asked * made, 1.0};
    }
    const double keyframes = std::max(1.0, std::ceil(titleSeconds / keyframeSeconds));
    const double titleKey = static_cast<double>(samples.keyBytes) / samples.keyframes * keyframes *
                            8.0 / 1024.0 / titleSeconds / asked;
    const double left = std::max(0.0, 1.0 - titleKey - between);
    const bool takesNoMore = keyframeLight && growth < kTakesNoMore;
    const double makeUp = takesNoMore ? 0.0 : (1.0 - spread) / 2;
    const double title = std::min(1.0, titleKey + between + left * makeUp);
    return TitleRate{asked * title, lifted(title, made)};
}

bool ReadsGrain(const PooledQuality& plain, const PooledQuality& underGrain) {
    return plain.worst < kGrainCeiling && underGrain.worst - plain.worst >= kGrainGap &&
           plain.mean < kGrainCeiling;
}

std::vector<bool> SampleEnds(const std::vector<size_t>& sample) {
    std::vector<bool> ends(sample.size(), false);
    for (size_t i = 1; i < sample.size(); ++i) {
        ends[i] =
            sample[i] == sample[i - 1] && (i + 1 == sample.size() || sample[i + 1] != sample[i]);
    }
    return ends;
}

std::vector<bool> BrokenJoins(const std::vector<double>& scores, const std::vector<size_t>& sample,
                              const std::vector<bool>& intra) {
    std::vector<bool> out(scores.size(), false);
    if (sample.size() != scores.size() || intra.size() != scores.size()) {
        return out;
    }
    double lastKept = 0;
    bool leaving = false;
    for (size_t i = 0; i < scores.size(); ++i) {
        if (i > 0 && sample[i] != sample[i - 1]) {
            leaving = !intra[i] && SsimToDb(scores[i]) <= SsimToDb(lastKept) - kBrokenJoinDb;
        }
        out[i] = leaving;
        if (!leaving) {
            lastKept = scores[i];
        }
    }
    return out;
}

PooledQuality Pool(std::vector<double> scores, std::vector<double> weights) {
    PooledQuality pooled;
    pooled.frames = scores.size();
    if (scores.empty()) {
        return pooled;
    }
    weights.resize(scores.size(), 1.0);
    std::vector<size_t> order(scores.size());
    std::iota(order.begin(), order.end(), size_t{0});
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return scores[a] < scores[b]; });
    double total = 0, sum = 0;
    for (size_t i = 0; i < scores.size(); ++i) {
        total += weights[i];
        sum += weights[i] * scores[i];
    }
    pooled.mean = total > 0 ? sum / total : 0;
    // Whole title frames: a hundred and one frames' worst 1 % is two.
    const double wanted = std::max(1.0, std::ceil(total / 100 - 1e-9));
    double taken = 0, worst = 0;
    for (size_t i : order) {
        const double part = std::min(weights[i], wanted - taken);
        taken += part;
        worst += part * scores[i];
        if (taken >= wanted - 1e-9) {
            break;
        }
    }
    pooled.worst = taken > 0 ? worst / taken : scores[order.front()];
    return pooled;
}

RateQualityCurve::Line RateQualityCurve::FitLine(const std::vector<RatePoint>& points,
                                                 double RatePoint::*field) {
    double sx = 0, sy = 0;
    for (const RatePoint& p : points) {
        sx += LogKbps(p.askedKbps);
        sy += SsimToDb(p.*field);
    }
    const double n = static_cast<double>(points.size());
    const double mx = sx / n, my = sy / n;
    double sxx = 0, sxy = 0;
    for (const RatePoint& p : points) {
        const double dx = LogKbps(p.askedKbps) - mx;
        sxx += dx * dx;
        sxy += dx * (SsimToDb(p.*field) - my);
    }
    Line line;
    line.flat = sxx > 1e-9 && sxy / sxx < kMinimumSlope;
    line.slope = sxx > 1e-9 ? std::max(kMinimumSlope, sxy / sxx) : kTypicalSlope;
    line.intercept = my - line.slope * mx;
    return line;
}

RateQualityCurve::RateQualityCurve(std::vector<RatePoint> points) : points_(std::move(points)) {
    std::sort(points_.begin(), points_.end(),
              [](const RatePoint& a, const RatePoint& b) { return a.askedKbps < b.askedKbps; });
    // More bits never give less: a probe below one at a lower bitrate (the
    // measuring's noise) is raised to it.
    for (size_t i = 1; i < points_.size(); ++i) {
        points_[i].worst = std::max(points_[i].worst, points_[i - 1].worst);
        points_[i].mean = std::max(points_[i].mean, points_[i - 1].mean);
    }
    for (const RatePoint& p : points_) {
        ratio_.push_back(p.askedKbps > 0 && p.madeKbps > 0 ? p.madeKbps / p.askedKbps : 1.0);
        lift_.push_back(std::min(kMostLift, std::max(1.0, p.lift)));
    }
    if (!points_.empty()) {
        worst_ = FitLine(points_, &RatePoint::worst);
        mean_ = FitLine(points_, &RatePoint::mean);
    }
}

// Between two probes, the straight line through them; beyond the ends, the
// fitted slope from the end probe.
static double Predict(const std::vector<RatePoint>& points, double RatePoint::*field, double slope,
                      double kbps) {
    const double x = LogKbps(kbps);
    if (x <= LogKbps(points.front().askedKbps)) {
        return SsimToDb(points.front().*field) - slope * (LogKbps(points.front().askedKbps) - x);
    }
    for (size_t i = 1; i < points.size(); ++i) {
        const double x0 = LogKbps(points[i - 1].askedKbps), x1 = LogKbps(points[i].askedKbps);
        if (x <= x1) {
            const double y0 = SsimToDb(points[i - 1].*field), y1 = SsimToDb(points[i].*field);
            return x1 - x0 > 1e-12 ? y0 + (y1 - y0) * (x - x0) / (x1 - x0) : y1;
        }
    }
    return SsimToDb(points.back().*field) + slope * (x - LogKbps(points.back().askedKbps));
}

double RateQualityCurve::WorstAt(double kbps) const {
    return points_.empty() ? 0
                           : DbToSsim(Predict(points_, &RatePoint::worst, worst_.slope,
                                              kbps * std::sqrt(Lift(kbps))));
}

double RateQualityCurve::MeanAt(double kbps) const {
    return points_.empty()
               ? 0
               : DbToSsim(Predict(points_, &RatePoint::mean, mean_.slope, kbps * Lift(kbps)));
}

double RateQualityCurve::KbpsFor(double target) const {
    if (points_.empty()) {
        return 0;
    }
    // Where the samples' curve reaches the target, then the asked rate a
    // title is judged there at: the lift only lowers it.
    const double y = SsimToDb(target);
    double high = 0;
    const RatePoint& first = points_.front();
    if (y <= SsimToDb(first.worst)) {
        high = std::exp(LogKbps(first.askedKbps) - (SsimToDb(first.worst) - y) / worst_.slope);
    }
    for (size_t i = 1; high == 0 && i < points_.size(); ++i) {
        const double y0 = SsimToDb(points_[i - 1].worst), y1 = SsimToDb(points_[i].worst);
        if (y <= y1) {
            const double x0 = LogKbps(points_[i - 1].askedKbps);
            const double x1 = LogKbps(points_[i].askedKbps);
            high = std::exp(y1 - y0 > 1e-12 ? x0 + (x1 - x0) * (y - y0) / (y1 - y0) : x1);
        }
    }
    if (high == 0) {
        const RatePoint& last = points_.back();
        high = std::exp(LogKbps(last.askedKbps) + (y - SsimToDb(last.worst)) / worst_.slope);
    }
    // The worst frames get at most sqrt(kMostLift) times the bits: the
    // answer lies no lower than high over that.
    double low = high / std::sqrt(kMostLift);
    for (int i = 0; i < 80 && high / low > 1 + 1e-13; ++i) {
        const double middle = std::sqrt(low * high);
        (WorstAt(middle) >= target ? high : low) = middle;
    }
    return high;
}

double RateQualityCurve::Interpolate(const std::vector<double>& values, double kbps) const {
    const double x = LogKbps(kbps);
    if (x <= LogKbps(points_.front().askedKbps)) {
        return values.front();
    }
    for (size_t i = 1; i < points_.size(); ++i) {
        const double x0 = LogKbps(points_[i - 1].askedKbps), x1 = LogKbps(points_[i].askedKbps);
        if (x <= x1) {
            const double t = x1 - x0 > 1e-12 ? (x - x0) / (x1 - x0) : 1.0;
            return values[i - 1] + t * (values[i] - values[i - 1]);
        }
    }
    return values.back();
}

double RateQualityCurve::Lift(double kbps) const {
    return points_.empty() ? 1.0 : Interpolate(lift_, kbps);
}

double RateQualityCurve::MadeKbps(double kbps) const {
    return points_.empty() ? kbps : kbps * Interpolate(ratio_, kbps);
}

double RateQualityCurve::UsefulKbps() const {
    if (!worst_.flat) {
        return std::numeric_limits<double>::infinity();
    }
    // The highest probe still gaining more than kPlateauDb on the one below
    // it shows no plateau, however slight the slope below it: the
    // measuring's noise alone can make two close probes look flat.
    const double best = SsimToDb(points_.back().worst);
    const auto gainsLittleAbove = [this](size_t i) {
        bool above = false;
        for (size_t j = i + 1; j < points_.size(); ++j) {
            const double span = LogKbps(points_[j].askedKbps) - LogKbps(points_[i].askedKbps);
            if (span < std::log(2.0)) {
                continue;
            }
            above = true;
            if (SsimToDb(points_[j].worst) - SsimToDb(points_[i].worst) >= kPlateauSlope * span) {
                return false;
            }
        }
        return above;
    };
    for (size_t i = 0; i + 1 < points_.size(); ++i) {
        if (SsimToDb(points_[i].worst) >= best - kPlateauDb || gainsLittleAbove(i)) {
            return points_[i].askedKbps;
        }
    }
    return std::numeric_limits<double>::infinity();
}

bool RateQualityCurve::FarFromProbes(double kbps) const {
    if (points_.empty() || (kbps > HighestKbps() && std::isfinite(UsefulKbps()))) {
        return false;
    }
    double nearest = std::numeric_limits<double>::infinity();
    for (const RatePoint& p : points_) {
        nearest = std::min(nearest, std::abs(LogKbps(kbps) - LogKbps(p.askedKbps)));
    }
    return nearest >= std::log(kFarFromProbes);
}

double RateQualityCurve::DbPerDoubling() const {
    return worst_.slope * std::log(2.0);
}

double RateQualityCurve::LowestKbps() const {
    return points_.empty() ? 0 : points_.front().askedKbps;
}

double RateQualityCurve::HighestKbps() const {
    return points_.empty() ? 0 : points_.back().askedKbps;
}

std::optional<QualityTarget> ParseQualityTarget(const std::string& text) {
    for (const Level& level : kLevels) {
        if (text == level.name) {
            return QualityTarget{level.name, level.worst};
        }
    }
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !(value >= 0.5 && value <= 0.999)) {
        return std::nullopt;
    }
    return QualityTarget{text, value};
}

std::string QualityLevelsText() {
    std::string text;
    for (const Level& level : kLevels) {
        char item[48];
        std::snprintf(item, sizeof item, "%s%s (%.2f)", text.empty() ? "" : ", ", level.name,
                      level.worst);
        text += item;
    }
    return text;
}

} // namespace norv
