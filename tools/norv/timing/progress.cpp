#include "timing/progress.h"

#include <cmath>
#include <filesystem>
#include <numeric>

#include "batch/batch_eta.h"
#include "common/console.h"
#include "common/json_output.h"

namespace norv {

namespace {

std::string BaseName(const std::string& path) {
    return std::filesystem::path(path).filename().string();
}

void AddOverallRemaining(Json& value, double remaining) {
    value["overall_remaining"] = remaining >= 0 ? Json(remaining) : Json();
}

std::string Percent(double percent) {
    char text[16];
    std::snprintf(text, sizeof text, "%5.1f%%", percent);
    return text;
}

} // namespace

ProgressMode ChooseProgressMode(bool json) {
    if (json) {
        return ProgressMode::Json;
    }
    return IsTerminal(stderr) ? ProgressMode::Live : ProgressMode::Plain;
}

std::string FormatDuration(double seconds) {
    if (seconds < 0 || !std::isfinite(seconds)) {
        return "--:--";
    }
    const auto total = static_cast<long long>(seconds + 0.5);
    char text[32];
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", total / 3600, total / 60 % 60,
                  total % 60);
    return text;
}

// ---- the line -------------------------------------------------------------

ProgressLine::ProgressLine(ProgressMode mode, double periodSeconds)
    : mode_(mode),
      period_(std::chrono::duration_cast<Clock::duration>(
          std::chrono::duration<double>(mode == ProgressMode::Live ? 0.1 : periodSeconds))),
      width_(mode == ProgressMode::Live ? static_cast<size_t>(TerminalWidth(stderr)) : 0) {}

void ProgressLine::Update(const std::string& text, bool force) {
    if (mode_ == ProgressMode::Json) {
        return;
    }
    const Clock::time_point now = Clock::now();
    if (!force && last_ != Clock::time_point() && now - last_ < period_) {
        return;
    }
    last_ = now;
    if (mode_ == ProgressMode::Live) {
        // Kept one column short of the width so the terminal never wraps.
        const std::string shown = width_ > 1 ? text.substr(0, width_ - 1) : text;
        std::fprintf(stderr, "\r%s\x1b[K", shown.c_str());
        shown_ = true;
    } else {
        std::fprintf(stderr, "%s\n", text.c_str());
    }
    std::fflush(stderr);
}

void ProgressLine::Refresh(const std::string& text) {
    if (mode_ == ProgressMode::Live || period_ > Clock::duration::zero()) {
        Update(text, false);
    }
}

void ProgressLine::Print(const std::string& text) {
    if (mode_ == ProgressMode::Json) {
        return;
    }
    Clear();
    std::fprintf(stderr, "%s\n", text.c_str());
    std::fflush(stderr);
    last_ = Clock::time_point(); // redraw at the next update
}

void ProgressLine::Clear() {
    if (shown_) {
        std::fprintf(stderr, "\r\x1b[K");
        std::fflush(stderr);
        shown_ = false;
    }
}

// ---- one transcode --------------------------------------------------------

TranscodeProgress::TranscodeProgress(ProgressMode mode, double periodSeconds, std::string output)
    : mode_(mode), line_(mode, periodSeconds), output_(std::move(output)) {}

void TranscodeProgress::OnEvent(RunEvent event, const RunStatus& status, nvt::Result result) {
    if (mode_ == ProgressMode::Json) {
        Json value = RunEventJson(event, status, result);
        if (event == RunEvent::Done || event == RunEvent::Started) {
            value["output"] = output_;
        }
        PrintJson(value);
        return;
    }
    switch (event) {
    case RunEvent::Started:
        break;
    case RunEvent::Progress:
        line_.Update(Line(status), false);
        break;
    case RunEvent::SourceDone:
        line_.Print("done " + BaseName(status.sourcePath) + " (" +
                    std::to_string(status.source + 1) + "/" + std::to_string(status.sources) + ")");
        break;
    case RunEvent::Done:
        line_.Update(Line(status), true);
        line_.Print("done " + BaseName(status.sourcePath) + " (" +
                    std::to_string(status.source + 1) + "/" + std::to_string(status.sources) + ")");
        line_.Print("wrote " + output_ + " in " + FormatDuration(status.elapsed));
        break;
    case RunEvent::Failed:
    case RunEvent::Cancelled:
        line_.Clear(); // main names the result
        break;
    }
}

void TranscodeProgress::OnTick(const RunStatus& status) {
    line_.Refresh(Line(status));
}

std::string TranscodeProgress::Line(const RunStatus& status) const {
    std::string text = Percent(status.percent) + "  [" + std::to_string(status.source + 1) + "/" +
                       std::to_string(status.sources) + "] " + BaseName(status.sourcePath);
    if (status.stages > 1) {
        text += "  stage " + std::to_string(status.stage) + "/" + std::to_string(status.stages);
    }
    text += "  elapsed " + FormatDuration(status.elapsed) + "  remaining " +
            FormatDuration(status.remaining);
    if (status.speed > 0) {
        char speed[32];
        std::snprintf(speed, sizeof speed, "  speed %.2fx", status.speed);
        text += speed;
    }
    return text;
}

// ---- a batch --------------------------------------------------------------

class BatchProgress::JobObserver : public RunObserver {
public:
    JobObserver(BatchProgress& board, size_t job) : board_(board), job_(job) {}
    void OnEvent(RunEvent event, const RunStatus& status, nvt::Result result) override {
        board_.OnJobEvent(job_, event, status, result);
    }

private:
    BatchProgress& board_;
    size_t job_;
};

BatchProgress::BatchProgress(ProgressMode mode, double periodSeconds,
                             std::vector<std::string> inputs, std::vector<std::string> outputs,
                             std::vector<double> weights)
    : mode_(mode), line_(mode, periodSeconds), inputs_(std::move(inputs)),
      outputs_(std::move(outputs)), weights_(std::move(weights)), jobs_(inputs_.size()),
      start_(std::chrono::steady_clock::now()) {
    // Without sizes to go by, every file counts the same.
    if (std::accumulate(weights_.begin(), weights_.end(), 0.0) <= 0) {
        weights_.assign(inputs_.size(), 1.0);
    }
    for (size_t i = 0; i < inputs_.size(); ++i) {
        observers_.push_back(std::make_unique<JobObserver>(*this, i));
    }
}

BatchProgress::~BatchProgress() = default;

void BatchProgress::Expect(double librarySeconds, const MeasuredEstimate& measured) {
    std::lock_guard<std::mutex> guard(lock_);
    expected_ = measured.seconds;
    if (mode_ == ProgressMode::Json) {
        Json value{{"event", "batch_estimate"},
                   {"files", jobs_.size()},
                   {"estimated_seconds", librarySeconds}};
        AddEstimateJson(value, measured);
        PrintJson(value);
        return;
    }
    line_.Print("time        about " + FormatDuration(librarySeconds) +
                " (the library's estimate)");
    line_.Print("measured    " + EstimateText(measured));
}

RunObserver& BatchProgress::Observer(size_t job) {
    return *observers_[job];
}

void BatchProgress::OnJobEvent(size_t job, RunEvent event, const RunStatus& status,
                               nvt::Result result) {
    std::lock_guard<std::mutex> guard(lock_);
    Job& j = jobs_[job];
    switch (event) {
    case RunEvent::Started:
        // A file encoded again (to fit or to fill a total size) counts
        // once, and is under way again until that run ends.
        if (j.ended) {
            --(j.ok ? done_ : failed_);
            j.ended = false;
            j.fraction = 0;
        }
        j.running = true;
        break;
    case RunEvent::Progress:
        j.fraction = status.percent / 100.0;
        break;
    case RunEvent::SourceDone:
        break;
    case RunEvent::Done:
        JobEnded(job, true, result, "ok    " + inputs_[job] + " -> " + outputs_[job]);
        return;
    case RunEvent::Failed:
    case RunEvent::Cancelled:
        JobEnded(job, false, result,
                 "FAIL  " + inputs_[job] + ": " +
                     (event == RunEvent::Cancelled ? "cancelled: " : "transcode failed: ") +
                     Describe(result));
        return;
    }
    if (mode_ != ProgressMode::Json) {
        line_.Update(Line(), false);
    } else if (event != RunEvent::Started) {
        Json value = RunEventJson(event, status, result);
        value["job"] = job;
        value["input"] = inputs_[job];
        value["overall_percent"] = OverallFraction() * 100.0;
        AddOverallRemaining(value, OverallRemaining());
        PrintJson(value);
    }
}

void BatchProgress::JobFailed(size_t job, nvt::Result result, const std::string& error) {
    std::lock_guard<std::mutex> guard(lock_);
    JobEnded(job, false, result, "FAIL  " + error + ": " + Describe(result));
}

// Called with lock_ held.
void BatchProgress::JobStands(size_t job) {
    std::lock_guard<std::mutex> guard(lock_);
    Job& j = jobs_[job];
    if (j.ended && !j.ok) {
        JobEnded(job, true, nvt::SUCCESS, "ok    " + inputs_[job] + " -> " + outputs_[job]);
    }
}

void BatchProgress::JobSettled(size_t job) {
    std::lock_guard<std::mutex> guard(lock_);
    Job& j = jobs_[job];
    if (j.held && j.ended && j.ok) {
        j.held = false;
        Tell(job, true, nvt::SUCCESS, "ok    " + inputs_[job] + " -> " + outputs_[job]);
    }
}

void BatchProgress::JobEnded(size_t job, bool ok, nvt::Result result, const std::string& text) {
    Job& j = jobs_[job];
    // A file whose run ended well and which then failed (its output above
    // its share of a total size) counts once, as failed.
    if (j.ended) {
        --(j.ok ? done_ : failed_);
    }
    j.running = false;
    j.ended = true;
    j.ok = ok;
    j.fraction = 1.0;
    j.held = ok && holdDone_;
    ++(ok ? done_ : failed_);
    if (!ok && firstFailure_ == nvt::SUCCESS) {
        firstFailure_ = result;
    }
    if (!j.held) {
        Tell(job, ok, result, text);
    }
}

void BatchProgress::Tell(size_t job, bool ok, nvt::Result result, const std::string& text) {
    if (mode_ == ProgressMode::Json) {
        Json value;
        value["event"] = ok ? "file_done" : "file_failed";
        value["job"] = job;
        value["input"] = inputs_[job];
        if (ok) {
            value["output"] = outputs_[job];
        } else {
            value["result"] = nvt::EnumName<nvt::Result>(result);
            value["code"] = static_cast<int>(result);
        }
        value["overall_percent"] = OverallFraction() * 100.0;
        AddOverallRemaining(value, OverallRemaining());
        PrintJson(value);
    } else {
        line_.Print(text);
        line_.Update(Line(), true);
    }
}

double BatchProgress::OverallFraction() const {
    double total = 0;
    double reached = 0;
    for (size_t i = 0; i < jobs_.size(); ++i) {
        total += weights_[i];
        reached += weights_[i] * jobs_[i].fraction;
    }
    return total > 0 ? reached / total : 1.0;
}

double BatchProgress::OverallRemaining() const {
    std::vector<double> fractions;
    for (const Job& job : jobs_) {
        fractions.push_back(job.fraction);
    }
    return BatchRemaining(weights_, fractions, Elapsed(), expected_);
}

double BatchProgress::Elapsed() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

std::string BatchProgress::Line() const {
    size_t running = 0;
    std::string now;
    for (size_t i = 0; i < jobs_.size(); ++i) {
        if (jobs_[i].running) {
            ++running;
            now += (now.empty() ? "  [" : ", ") + BaseName(inputs_[i]) + " " +
                   std::to_string(static_cast<int>(jobs_[i].fraction * 100)) + "%";
        }
    }
    const double overall = OverallFraction();
    const double elapsed = Elapsed();
    const double remaining = OverallRemaining();
    std::string text = Percent(overall * 100.0) + "  " + std::to_string(done_ + failed_) + "/" +
                       std::to_string(jobs_.size()) + " files";
    if (failed_ > 0) {
        text += " (" + std::to_string(failed_) + " failed)";
    }
    text += ", " + std::to_string(running) + " running  elapsed " + FormatDuration(elapsed) +
            "  remaining " + FormatDuration(remaining);
    return text + (now.empty() ? "" : now + "]");
}

void BatchProgress::Tick() {
    std::lock_guard<std::mutex> guard(lock_);
    line_.Refresh(Line());
}

void BatchProgress::Finish() {
    std::lock_guard<std::mutex> guard(lock_);
    if (mode_ == ProgressMode::Json) {
        Json value;
        value["event"] = "batch_done";
        value["files"] = jobs_.size();
        value["done"] = done_;
        value["failed"] = failed_;
        value["not_started"] = jobs_.size() - done_ - failed_;
        value["elapsed"] = Elapsed();
        PrintJson(value);
        return;
    }
    const size_t notStarted = jobs_.size() - done_ - failed_;
    line_.Clear();
    line_.Print(
        std::to_string(done_) + " of " + std::to_string(jobs_.size()) + " files transcoded in " +
        FormatDuration(Elapsed()) +
        (failed_ > 0 ? ", " + std::to_string(failed_) + " failed" : std::string()) +
        (notStarted > 0 ? ", " + std::to_string(notStarted) + " not started" : std::string()));
}

nvt::Result BatchProgress::firstFailure() const {
    std::lock_guard<std::mutex> guard(lock_);
    return firstFailure_;
}

size_t BatchProgress::failed() const {
    std::lock_guard<std::mutex> guard(lock_);
    return failed_;
}

} // namespace norv
