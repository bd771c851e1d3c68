// Progress of a transcode as the library sees it: a ProgressResponse about
// four times a second with every field filled, the progress in percent of
// the whole job (every pass included), and a remaining time that is
// smoothed: it counts down with the clock and is corrected gently towards
// what the measured speed says, so that it does not jump about. It is never
// negative and is 0 at the end.
//
// The measured remaining time is the work left over the recent rate of the
// stage in work: the rest of this stage, and the stages still to come (a
// two-pass job in its first pass has the whole second pass ahead) scaled by
// their shares. When nothing is measured yet and no estimate was given,
// the record's details say that the remaining time is unknown.
//
// The progress never goes back and the stages are the passes of the plan
// (one or two). Work the plan did not foresee goes on from where the bar
// stands: a re-encode of the last pass (an output above its size limit)
// keeps its stage, and a new plan (a copy above the limit, encoded after
// all) numbers its own stages. So that such work still moves the bar, a
// job whose last pass is checked against a size limit holds back part of
// the bar until the check passes.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "replier.h"

namespace norv_engine {

/// Kinds of stage reported in stageID (documented in the engine protocol).
enum StageId : int {
    kStagePreparing = 0,    ///< opening the sources and planning the output
    kStageAnalysisPass = 1, ///< the first pass of a two-pass encode
    kStageEncoding = 2,     ///< encoding the output (the only or the last pass)
    kStageCopying = 3,      ///< writing the output with every stream copied
    kStageFinishing = 4,    ///< checking the output and moving it into place
};

/// What the pass in work has done so far.
struct ProgressCounters {
    unsigned fileNum = 1; ///< the joined source in work, from 1
    std::string file;     ///< the file in work
    uint64_t videoFrames = 0;
    uint64_t audioSamples = 0;
    uint64_t bytesWritten = 0;
};

/// What the remaining time of a job is measured from.
struct StageWork {
    std::vector<double> shares{1.0}; ///< each stage's share of the whole work
    unsigned stage = 0;              ///< the stage in work (0-based)
    double fraction = 0.0;           ///< done of the stage in work (0..1)
    double stageRate = 0.0;          ///< its recent rate, fraction per second; 0: not known
    double secondsPerShare = 0.0;    ///< what finished stages took per share; 0: none finished
    double fallback = 0.0;           ///< the remaining time when nothing was measured
};

class ProgressMeter {
public:
    using Clock = std::chrono::steady_clock;

    /// priorSeconds: the time the job is expected to take before anything is
    /// measured.
    ProgressMeter(Replier& reply, unsigned fileCount, double priorSeconds);

    /// The time the work of the plan is expected to take, from now, once it
    /// is known; 0 when it cannot be told.
    void SetPrior(double seconds);
    /// The stages of the work to come, each with its share of it. A plan
    /// made after work was reported goes on from where the bar stands, and
    /// measures its own stages afresh.
    void Plan(const std::vector<double>& shares);
    /// The plan's last stage is checked afterwards and may have to run
    /// again: until Finish, the plan fills the bar only up to reserve (0..1)
    /// short of what is left of it.
    void HoldBack(double reserve);
    /// Starts stage index (0-based) of the plan.
    void BeginStage(unsigned index, StageId id);
    /// The last stage runs again, under its own number: the bar goes on
    /// from where it stands over what is left of it (less the hold-back).
    void RetryLastStage();
    /// True when Update would send a record now (about four times a second,
    /// or when a later file is in work).
    bool Due(unsigned fileNum) const;
    /// Reports the fraction (0..1) of the stage in work, at most about four
    /// times a second unless forced.
    void Update(double fraction, const ProgressCounters& counters, bool force = false);
    /// Reports the end: 100 % and nothing remaining.
    void Finish(const ProgressCounters& counters);

    /// The seconds the work left takes at the measured rates.
    static double MeasuredRemaining(const StageWork& work);

    /// The smoothed remaining time for a job at progress (0..1), given the
    /// previous estimate made step seconds ago (below 0: none yet) and the
    /// measured remaining time.
    static double SmoothRemaining(double previous, double step, double progress, double measured);

private:
    struct Sample {
        Clock::time_point at;
        double fraction;
    };

    void Send(double overall, const ProgressCounters& counters, double remaining);
    double StageRate(Clock::time_point now, double fraction);
    double SecondsPerShare() const;
    /// Maps the plan's stages from stage first on onto the bar from where
    /// it stands.
    void Span(unsigned first);

    Replier& reply_;
    const unsigned fileCount_;
    double prior_; ///< seconds from planStart_; 0: unknown
    std::vector<double> shares_{1.0};
    unsigned stage_ = 0;
    StageId stageId_ = kStagePreparing;
    Clock::time_point start_ = Clock::now();
    Clock::time_point planStart_ = start_;
    Clock::time_point stageStart_ = start_;
    unsigned first_ = 0;   ///< the first stage the bar's span covers
    double from_ = 0.0;    ///< where the span starts on the bar
    double to_ = 0.999;    ///< where it ends
    double reserve_ = 0.0; ///< held back of what is left while a check follows
    Clock::time_point lastSent_{};
    bool sentOnce_ = false;
    unsigned fileNum_ = 1;             ///< never decreases, as the library expects
    double overall_ = 0.0;             ///< never decreases
    double remaining_ = -1.0;          ///< seconds; negative until first estimated
    bool staged_ = false;              ///< a stage was begun
    bool measured_ = false;            ///< the remaining time came from a measured rate
    std::vector<double> stageSeconds_; ///< what each finished stage took (0: not finished)
    std::deque<Sample> samples_;       ///< the stage in work's recent progress
};

} // namespace norv_engine
