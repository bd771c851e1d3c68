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

// Below this progress or elapsed time the measured speed says too little.
constexpr double kMinProgressToMeasure = 0.02;
constexpr double kMinSecondsToMeasure = 1.0;

unsigned Seconds(double s) {
    return s <= 0.0 ? 0u : static_cast<unsigned>(std::min(s + 0.5, 4.0e9));
}

} // namespace

ProgressMeter::ProgressMeter(Replier& reply, unsigned fileCount, double priorSeconds)
    : reply_(reply), fileCount_(std::max(1u, fileCount)), prior_(std::max(0.0, priorSeconds)) {}

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
}

void ProgressMeter::BeginStage(unsigned index, StageId id) {
    stage_ = std::min<unsigned>(index, static_cast<unsigned>(shares_.size() - 1));
    stageId_ = id;
    stageStart_ = Clock::now();
}

double ProgressMeter::SmoothRemaining(double previous, double step, double progress, double elapsed,
                                      double prior) {
    if (progress >= 1.0) {
        return 0.0;
    }
    double measured = prior - elapsed;
    if (progress >= kMinProgressToMeasure && elapsed >= kMinSecondsToMeasure) {
        measured = elapsed * (1.0 - progress) / progress;
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

bool ProgressMeter::Due(unsigned fileNum) const {
    // A new file is always told: the library closes the one before.
    return !sentOnce_ || fileNum > fileNum_ || Clock::now() - lastSent_ >= kInterval;
}

void ProgressMeter::Update(double fraction, const ProgressCounters& counters, bool force) {
    const Clock::time_point now = Clock::now();
    if (!force && !Due(counters.fileNum)) {
        return;
    }
    double before = 0.0;
    for (unsigned i = 0; i < stage_; ++i) {
        before += shares_[i];
    }
    const double overall = before + shares_[stage_] * std::clamp(fraction, 0.0, 1.0);
    // Only the end reports 100 %.
    overall_ = std::max(overall_, std::min(overall, 0.999));
    const double elapsed = std::chrono::duration<double>(now - start_).count();
    const double step = sentOnce_ ? std::chrono::duration<double>(now - lastSent_).count() : 0.0;
    remaining_ = SmoothRemaining(remaining_, step, overall_, elapsed, prior_);
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
    char details[160];
    std::snprintf(details, sizeof details, "pass %u of %u: %llu frames at %.1f fps, %.1f MB",
                  p.passStepNum, p.passCount, static_cast<unsigned long long>(counters.videoFrames),
                  rate, static_cast<double>(counters.bytesWritten) / 1e6);
    p.details = details;
    reply_.Send(p);
}

} // namespace norv_engine
