// How a run's progress is shown: a live line redrawn in place on a
// terminal, plain lines every few seconds otherwise, or one JSON object per
// event on standard output.
#pragma once

#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/transcode_run.h"
#include "timing/estimate.h"

namespace norv {

enum class ProgressMode { Live, Plain, Json };

/// Live when standard error is a terminal, else Plain; Json when asked.
ProgressMode ChooseProgressMode(bool json);

/// "1:02:03" for 3723 seconds; "--:--" for a negative value.
std::string FormatDuration(double seconds);

/// Writes the progress line: redrawn in place (Live) or printed once per
/// period (Plain). Not thread-safe; callers serialise.
class ProgressLine {
public:
    ProgressLine(ProgressMode mode, double periodSeconds);
    /// Shows text as the current progress: Live redraws it, Plain prints it
    /// when a period has passed since the last line (at once with force).
    void Update(const std::string& text, bool force);
    /// As Update for a status that only aged: Plain prints nothing when its
    /// period is 0 (a line per event).
    void Refresh(const std::string& text);
    /// Prints a line of its own above the progress line.
    void Print(const std::string& text);
    /// Removes a live line.
    void Clear();

private:
    using Clock = std::chrono::steady_clock;
    ProgressMode mode_;
    Clock::duration period_;
    Clock::time_point last_{};
    bool shown_ = false;
    size_t width_;
};

/// Shows one transcode.
class TranscodeProgress : public RunObserver {
public:
    TranscodeProgress(ProgressMode mode, double periodSeconds, std::string output);
    void OnEvent(RunEvent event, const RunStatus& status, nvt::Result result) override;
    void OnTick(const RunStatus& status) override;

private:
    std::string Line(const RunStatus& status) const;

    ProgressMode mode_;
    ProgressLine line_;
    std::string output_;
};

/// Shows a batch: each file's end as a line of its own, and one overall
/// progress line with the remaining time of the whole queue. Job threads
/// report through Observer(i); the main thread calls Tick.
class BatchProgress {
public:
    /// weights: one per input, its share of the whole work (see FileWork).
    BatchProgress(ProgressMode mode, double periodSeconds, std::vector<std::string> inputs,
                  std::vector<std::string> outputs, std::vector<double> weights);
    ~BatchProgress();

    /// Shows what the whole batch is expected to take: the library's figure
    /// and the measured one, which also stands for the remaining time until
    /// the batch has shown its own pace.
    void Expect(double librarySeconds, const MeasuredEstimate& measured);

    RunObserver& Observer(size_t job);
    /// Reports an input that ended before its run began (analysis failed).
    void JobFailed(size_t job, nvt::Result result, const std::string& error);
    /// The job's output stands after all: a run that was to replace it
    /// failed, and the output it made before was put back.
    void JobStands(size_t job);
    /// With hold set, a job whose run made its output is told as done only
    /// by JobSettled: a file may be encoded again after a run has ended (to
    /// fit or to fill a total size), and is done once its last run is.
    void HoldDone(bool hold) { holdDone_ = hold; }
    /// The job's last run has ended: tells it done if it is.
    void JobSettled(size_t job);
    void Tick();
    /// Prints the closing summary.
    void Finish();

    size_t failed() const;
    /// The Result of the first file that failed.
    nvt::Result firstFailure() const;

private:
    class JobObserver;
    struct Job {
        double fraction = 0;
        bool running = false;
        bool ended = false;
        bool ok = false;   ///< ended with its output made
        bool held = false; ///< done, not yet told (HoldDone)
    };

    void OnJobEvent(size_t job, RunEvent event, const RunStatus& status, nvt::Result result);
    void JobEnded(size_t job, bool ok, nvt::Result result, const std::string& text);
    void Tell(size_t job, bool ok, nvt::Result result, const std::string& text);
    double OverallFraction() const;
    double OverallRemaining() const;
    double Elapsed() const;
    std::string Line() const;

    ProgressMode mode_;
    ProgressLine line_;
    std::vector<std::string> inputs_;
    std::vector<std::string> outputs_;
    std::vector<double> weights_;
    std::vector<Job> jobs_;
    std::vector<std::unique_ptr<JobObserver>> observers_;
    std::chrono::steady_clock::time_point start_;
    double expected_ = -1; ///< seconds the batch was expected to take; below 0: unknown
    size_t done_ = 0;
    size_t failed_ = 0;
    nvt::Result firstFailure_ = nvt::SUCCESS;
    bool holdDone_ = false;
    mutable std::mutex lock_;
};

} // namespace norv
