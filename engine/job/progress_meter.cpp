#include "progress_meter.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace norv_engine {

namespace {

constexpr auto kInterval = std::chrono::milliseconds(250);

// How much of the gap between the running estimate and the measured one is
// closed per second; the measured one is trusted more as the job goes on.
constexpr double kCorrectionPerSecond = 0.25;
constexpr double kLateCorrectionPerSecond = 1.0;

// The stage's rate is measured over its recent past: this much at least, and
// a third of the stage's time so far; it says too little before this much
// of the stage has passed or been done.
constexpr double kRateWindowSeconds = 5.0;
constexpr double kRateWindowShare = 1.0 / 3.0;
constexpr double kMinSecondsToMeasure = 3.0;
constexpr double kMinFractionToMeasure = 0.02;

// Only the end reports 100 %.
constexpr double kBeforeTheEnd = 0.999;

unsigned Seconds(double s) {
    return s <= 0.0 ? 0u : static_cast<unsigned>(std::min(s + 0.5, 4.0e9));
}

} // namespace

ProgressMeter::ProgressMeter(Replier& reply, unsigned fileCount, double priorSeconds)
    : reply_(reply), fileCount_(std::max(1u, fileCount)), prior_(std::max(0.0, priorSeconds)) {}

void ProgressMeter::SetPrior(double seconds) {
    prior_ = seconds > 0.0 ? seconds : 0.0;
    planStart_ = Clock::now();
}

void ProgressMeter::Plan(const std::vector<double>& shares) {
    double total = 0.0;
    for (double s : shares) {
        total += std::max(0.0, s);
    }
    shares_.clear();
    for (double s : shares) {
        shares_.push_back(total > 0.0 ? std::max(0.0, s) / total : 1.0 / shares.size());
    }
    if (shares_.empty()) {
        shares_.push_back(1.0);
    }
    // Nothing of an earlier plan is this plan's: not its stages' times,
    // not the rate of its stage in work.
    stageSeconds_.assign(shares_.size(), 0.0);
    staged_ = false;
    stage_ = 0;
    samples_.clear();
    measured_ = false;
    remaining_ = -1.0;
    planStart_ = Clock::now();
    reserve_ = 0.0;
    Span(0);
}

void ProgressMeter::HoldBack(double reserve) {
    reserve_ = std::clamp(reserve, 0.0, 1.0);
    Span(first_);
}

void ProgressMeter::Span(unsigned first) {
    first_ = std::min<unsigned>(first, static_cast<unsigned>(shares_.size() - 1));
    from_ = overall_;
    to_ = from_ + (kBeforeTheEnd - from_) * (1.0 - reserve_);
}

void ProgressMeter::BeginStage(unsigned index, StageId id) {
    const Clock::time_point now = Clock::now();
    if (staged_ && stage_ < stageSeconds_.size()) {
        stageSeconds_[stage_] = std::chrono::duration<double>(now - stageStart_).count();
    }
    staged_ = true;
    stage_ = std::min<unsigned>(index, static_cast<unsigned>(shares_.size() - 1));
    stageId_ = id;
    stageStart_ = now;
    samples_.clear();
}

void ProgressMeter::RetryLastStage() {
    // The next estimate is measured afresh rather than smoothed from the
    // "nothing left" of the attempt's end; the attempt's time tells how
    // long the stage takes.
    remaining_ = -1.0;
    Span(static_cast<unsigned>(shares_.size() - 1));
}

double ProgressMeter::MeasuredRemaining(const StageWork& w) {
    const size_t count = w.shares.size();
    const unsigned stage = std::min<unsigned>(w.stage, static_cast<unsigned>(count - 1));
    const double fraction = std::clamp(w.fraction, 0.0, 1.0);
    double later = 0.0;
    for (size_t i = stage + 1; i < count; ++i) {
        later += w.shares[i];
    }
    const double share = w.shares[stage];
    if (w.stageRate > 0.0) {
        // The stage in work sets the pace; later stages take as long per
        // share as it does.
        const double stageSeconds = 1.0 / w.stageRate;
        const double perShare = share > 0.0 ? stageSeconds / share : w.secondsPerShare;
        return (1.0 - fraction) * stageSeconds + later * perShare;
    }
    if (w.secondsPerShare > 0.0) {
        return ((1.0 - fraction) * share + later) * w.secondsPerShare;
    }
    return std::max(0.0, w.fallback);
}

double ProgressMeter::SmoothRemaining(double previous, double step, double progress,
                                      double measured) {
    if (progress >= 1.0) {
        return 0.0;
    }
    measured = std::max(0.0, measured);
    if (previous < 0.0) {
        return measured;
    }
    // The running estimate counts down with the clock, then moves towards
    // the measured one by a share that grows with the progress.
    const double counted = std::max(0.0, previous - step);
    const double perSecond =
        kCorrectionPerSecond + (kLateCorrectionPerSecond - kCorrectionPerSecond) * progress;
    const double share = 1.0 - std::exp(-perSecond * std::max(0.0, step));
    return std::max(0.0, counted + share * (measured - counted));
}

double ProgressMeter::StageRate(Clock::time_point now, double fraction) {
    samples_.push_back({now, fraction});
    // Keep one sample at least a window old, so that the rate spans it.
    const double stageSeconds = std::chrono::duration<double>(now - stageStart_).count();
    const auto window = std::chrono::duration<double>(
        std::max(kRateWindowSeconds, kRateWindowShare * stageSeconds));
    while (samples_.size() > 2 && now - samples_[1].at >= window) {
        samples_.pop_front();
    }
    const Sample& first = samples_.front();
    const double seconds = std::chrono::duration<double>(now - first.at).count();
    const double done = fraction - first.fraction;
    if (stageSeconds < kMinSecondsToMeasure || fraction < kMinFractionToMeasure || seconds <= 0.0 ||
        done <= 0.0) {
        return 0.0;
    }
    return done / seconds;
}

double ProgressMeter::SecondsPerShare() const {
    double seconds = 0.0;
    double shares = 0.0;
    for (size_t i = 0; i < stageSeconds_.size() && i < shares_.size(); ++i) {
        if (stageSeconds_[i] > 0.0) {
            seconds += stageSeconds_[i];
            shares += shares_[i];
        }
    }
    return shares > 0.0 ? seconds / shares : 0.0;
}

bool ProgressMeter::Due(unsigned fileNum) const {
    // A new file is always told: the library closes the one before.
    return !sentOnce_ || fileNum > fileNum_ || Clock::now() - lastSent_ >= kInterval;
}

void ProgressMeter::Update(double fraction, const ProgressCounters& counters, bool force) {
    const Clock::time_point now = Clock::now();
    if (!force && !Due(counters.fileNum)) {
        return;
    }
    fraction = std::clamp(fraction, 0.0, 1.0);
    double done = 0.0;
    double spanned = 0.0;
    for (unsigned i = first_; i < shares_.size(); ++i) {
        spanned += shares_[i];
        done += i < stage_ ? shares_[i] : i == stage_ ? shares_[i] * fraction : 0.0;
    }
    const double overall = from_ + (to_ - from_) * (spanned > 0.0 ? done / spanned : 0.0);
    overall_ = std::max(overall_, std::min(overall, kBeforeTheEnd));
    const double step = sentOnce_ ? std::chrono::duration<double>(now - lastSent_).count() : 0.0;
    StageWork work;
    work.shares = shares_;
    work.stage = stage_;
    work.fraction = fraction;
    work.stageRate = staged_ ? StageRate(now, fraction) : 0.0;
    work.secondsPerShare = SecondsPerShare();
    work.fallback = prior_ - std::chrono::duration<double>(now - planStart_).count();
    if (!measured_ && (work.stageRate > 0.0 || work.secondsPerShare > 0.0)) {
        // The first measurement replaces the guess made before the job began.
        measured_ = true;
        remaining_ = -1.0;
    }
    remaining_ = SmoothRemaining(remaining_, step, overall_, MeasuredRemaining(work));
    lastSent_ = now;
    sentOnce_ = true;
    Send(overall_, counters, remaining_);
}

void ProgressMeter::Finish(const ProgressCounters& counters) {
    overall_ = 1.0;
    remaining_ = 0.0;
    stage_ = static_cast<unsigned>(shares_.size() - 1);
    stageId_ = kStageFinishing;
    lastSent_ = Clock::now();
    sentOnce_ = true;
    Send(1.0, counters, 0.0);
}

void ProgressMeter::Send(double overall, const ProgressCounters& counters, double remaining) {
    const Clock::time_point now = Clock::now();
    const double elapsed = std::chrono::duration<double>(now - start_).count();
    const double stageSeconds = std::chrono::duration<double>(now - stageStart_).count();
    const double rate = stageSeconds > 0.0 ? counters.videoFrames / stageSeconds : 0.0;

    TBS::ProgressResponse p;
    p.countOfStages = static_cast<unsigned>(shares_.size());
    p.stage = stage_ + 1;
    p.stageID = stageId_;
    p.progress = overall * 100.0;
    p.timeElapsed = Seconds(elapsed);
    p.timeRemaining = Seconds(remaining);
    p.passStepNum = stage_ + 1;
    p.passCount = static_cast<unsigned>(shares_.size());
    fileNum_ = std::max(fileNum_, counters.fileNum);
    p.fileNum = fileNum_;
    p.fileCount = fileCount_;
    p.currentVideoFrame = static_cast<unsigned>(std::min<uint64_t>(counters.videoFrames, ~0u));
    p.currentAudioSample = static_cast<unsigned>(std::min<uint64_t>(counters.audioSamples, ~0u));
    p.videoRenderingRate = static_cast<unsigned>(std::lround(rate));
    p.sFilename = counters.file;
    char details[192];
    // The record's remaining time has no "unknown": the details say it.
    const bool unknown = !measured_ && prior_ <= 0.0 && overall < 1.0;
    std::snprintf(details, sizeof details, "pass %u of %u: %llu frames at %.1f fps, %.1f MB%s",
                  p.passStepNum, p.passCount, static_cast<unsigned long long>(counters.videoFrames),
                  rate, static_cast<double>(counters.bytesWritten) / 1e6,
                  unknown ? "; remaining time unknown" : "");
    p.details = details;
    reply_.Send(p);
}

} // namespace norv_engine
