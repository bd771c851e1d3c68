#include "timing/estimate.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <random>

#include "batch/batch_eta.h"
#include "common/console.h"
#include "common/transcode_run.h"
#include "timing/progress.h"

namespace norv {

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// How long a measuring run goes on once its pace can be timed.
constexpr double kMeasureSeconds = 6.0;
// Frames an encoder holds back before its first output, about, and the
// smallest share of the work the first of two passes takes.
constexpr double kLookAheadFrames = 60.0;
constexpr double kQuickFirstPassShare = 0.3;

const char* VideoEncoder(nvt::NorvProfile profile) {
    switch (profile) {
    case nvt::NP_Mobile:
    case nvt::NP_HD1080:
    case nvt::NP_HD720:
    case nvt::NP_HomeTheater:
        return "mpeg4";
    case nvt::NP_HEVC720:
    case nvt::NP_HEVC1080:
    case nvt::NP_HEVC4K:
        return "hevc";
    default:
        return "h264";
    }
}

double SourceFrameRate(const Sources& sources) {
    nvt::ISourceMediaVideoTrack* raw = nullptr;
    double fps = 0;
    if (!sources.empty() && sources.front()->GetVideoTrack(0, &raw) == nvt::SUCCESS &&
        raw != nullptr) {
        Adopt(raw)->GetFrameRate(&fps);
    }
    return fps > 0 ? fps : 25.0;
}

// Watches a measuring run and asks for its end once it has shown its pace,
// timed from the progress fromPercent on.
class Stopwatch : public RunObserver {
public:
    explicit Stopwatch(double fromPercent) : from_(fromPercent) {}

    void OnEvent(RunEvent event, const RunStatus& status, nvt::Result) override {
        const Clock::time_point now = Clock::now();
        if (event == RunEvent::Done) {
            finished_ = std::chrono::duration<double>(now - start_).count();
        }
        if (event != RunEvent::Progress || status.percent <= std::max(0.0, from_)) {
            return;
        }
        if (firstPercent_ < 0) {
            first_ = now;
            firstPercent_ = status.percent;
        } else if (status.percent > firstPercent_) {
            last_ = now;
            lastPercent_ = status.percent;
        }
    }
    bool StopWanted() override {
        return lastPercent_ > 0 &&
               std::chrono::duration<double>(last_ - first_).count() >= kMeasureSeconds;
    }

    /// The whole run's seconds: the start, then the rest at the pace shown.
    double Extrapolated() const {
        if (finished_ >= 0) {
            return finished_;
        }
        if (lastPercent_ <= firstPercent_) {
            return -1;
        }
        const double startup = std::chrono::duration<double>(first_ - start_).count();
        const double pace =
            std::chrono::duration<double>(last_ - first_).count() / (lastPercent_ - firstPercent_);
        return startup + pace * (100.0 - firstPercent_);
    }

private:
    const double from_;
    const Clock::time_point start_ = Clock::now();
    Clock::time_point first_{}, last_{};
    double firstPercent_ = -1, lastPercent_ = -1;
    double finished_ = -1;
};

} // namespace

std::string NewScratchName() {
    std::random_device device;
    char text[40];
    std::snprintf(text, sizeof text, "%08x-%04x-%04x-%04x-%04x%08x", device(), device() & 0xffff,
                  device() & 0xffff, device() & 0xffff, device() & 0xffff, device());
    return text;
}

JobWork DescribeWork(nvt::ITranscodeOutputSettings& settings,
                     nvt::ITranscodeOutputProperties& properties, const Sources& sources) {
    uint32_t width = 0, height = 0;
    properties.GetResolution(&width, &height);
    const auto profile = static_cast<nvt::NorvProfile>(settings.GetProfile());
    const bool twoPass = settings.GetVideo2Pass() || (settings.GetPriority() == nvt::prioFilesize &&
                                                      settings.HasFileSizeLimit());
    const double maxRate = ProfileJson(profile, nullptr, 0.0)["max_frame_rate"].get<double>();
    double fps = SourceFrameRate(sources);
    fps = maxRate > 0 ? std::min(fps, maxRate) : fps;

    JobWork work;
    work.key.encoder = settings.GetVideoPassthrough() ? "copy" : VideoEncoder(profile);
    work.key.passes = twoPass ? 2 : 1;
    work.key.sizeClass = SizeClass(width, height);
    work.pixels = FileWork(TotalDurationMs(sources) / 1000.0, width, height, fps, work.key.passes);
    return work;
}

JobWork DescribeWork(nvt::ITranscodeSession& session, nvt::ITranscodeOutputSettings& settings,
                     const Sources& sources) {
    return DescribeWork(settings, *DeriveOutput(session), sources);
}

MeasuredEstimate EstimateFromHistory(const JobWork& work) {
    MeasuredEstimate estimate;
    const KnownRate known = RateCache(DefaultRateFile()).Rate(work.key);
    if (known.pixelsPerSecond > 0 && work.pixels > 0) {
        estimate.seconds = work.pixels / known.pixelsPerSecond;
        estimate.from = known.exact ? "history" : "history-other-size";
    }
    return estimate;
}

MeasuredEstimate MeasureRun(Ptr<nvt::ITranscodeSession> session, const Sources& sources,
                            const JobWork& work, const std::string& extension,
                            double setupSeconds) {
    std::error_code error;
    const fs::path folder = fs::temp_directory_path(error) / ("norv-" + NewScratchName());
    if (error || !fs::create_directories(folder, error)) {
        throw Failure(folder.string() + ": cannot make a scratch folder to measure in",
                      nvt::ENG_WRITING_ERROR);
    }
    const std::string output = (folder / (NewScratchName() + "." + extension)).string();
    // The pace is timed once the encoder's look-ahead has filled: that many
    // frames of the first pass (a quick one, when there are two).
    const double frames = TotalDurationMs(sources) / 1000.0 * SourceFrameRate(sources);
    const double firstPass = work.key.passes > 1 ? kQuickFirstPassShare : 1.0;
    Stopwatch watch(frames > 0 ? 100.0 * firstPass * kLookAheadFrames / frames : 0.0);
    const RunOutcome outcome = RunTranscode(std::move(session), sources, output, watch);
    fs::remove_all(folder, error);
    if (InterruptRequested()) {
        throw Failure("cancelled while measuring", nvt::Aborted);
    }
    if (outcome.result != nvt::SUCCESS && !outcome.cancelled) {
        throw Failure("the measuring run failed", outcome.result);
    }
    MeasuredEstimate estimate;
    const double run = watch.Extrapolated();
    if (run >= 0) {
        estimate.seconds = setupSeconds + run;
        estimate.from = "measure";
    }
    return estimate;
}

void RememberRun(const JobWork& work, double seconds) {
    if (seconds > 0 && work.pixels > 0) {
        RateCache(DefaultRateFile()).Record(work.key, work.pixels / seconds);
    }
}

BatchWork::BatchWork(const std::vector<std::string>& inputs, const OutputChoice& choice,
                     nvt::ITranscodeEngineInfo* info, unsigned parallel)
    : analyses_(AnalyseAll(inputs, parallel)), jobs_(inputs.size()), work_(inputs.size(), 0.0),
      parallel_(std::max(1u, std::min<unsigned>(parallel, static_cast<unsigned>(inputs.size())))) {
    std::vector<double> expected;
    for (size_t i = 0; i < analyses_.size(); ++i) {
        if (analyses_[i].result != nvt::SUCCESS) {
            continue;
        }
        try {
            const Sources& sources = analyses_[i].sources;
            const Ptr<nvt::ITranscodeOutputSettings> settings =
                MakeOutputSettings(choice, sources.front().get());
            const Ptr<nvt::ITranscodeSession> session =
                MakeSession(sources, settings.get(), info, choice.job.enginePriority);
            const Ptr<nvt::ITranscodeOutputProperties> properties = DeriveOutput(*session);
            int32_t seconds = 0;
            properties->GetEstimatedTime(&seconds);
            librarySeconds_ += seconds;
            jobs_[i] = DescribeWork(*settings, *properties, sources);
            // Each file's time as it runs beside the others.
            jobs_[i].key.jobs = parallel_;
            work_[i] = jobs_[i].pixels;
            const MeasuredEstimate one = EstimateFromHistory(jobs_[i]);
            expected.push_back(one.seconds);
            measured_.from = measured_.from.empty() || measured_.from == one.from
                                 ? one.from
                                 : "history-other-size";
        } catch (const Failure&) {
            // The file's own run reports what is wrong with it.
        }
    }
    measured_.seconds = SideBySideSeconds(expected, parallel_);
    if (measured_.seconds < 0 || measured_.from.empty()) {
        measured_ = MeasuredEstimate();
    }
}

Sources BatchWork::SourcesOf(size_t i) const {
    const Analysis& a = analyses_[i];
    if (a.result != nvt::SUCCESS) {
        throw Failure(a.error, a.result);
    }
    return a.sources;
}

void BatchWork::Remember(size_t i, double seconds) const {
    // The file's own time, beside parallel_ - 1 others: kept apart from
    // the rates of transcodes run alone.
    RememberRun(jobs_[i], seconds);
}

void AddEstimateJson(Json& j, const MeasuredEstimate& estimate) {
    j["measured_seconds"] = estimate.seconds >= 0 ? Json(estimate.seconds) : Json();
    j["measured_from"] = estimate.from.empty() ? Json() : Json(estimate.from);
}

std::string EstimateText(const MeasuredEstimate& estimate) {
    if (estimate.seconds < 0) {
        return "unknown: nothing measured yet (--measure times a few seconds)";
    }
    const char* from = estimate.from == "measure"   ? "timed a few seconds of this job"
                       : estimate.from == "history" ? "this machine's earlier transcodes"
                                                    : "earlier transcodes at a neighbouring size";
    return "about " + FormatDuration(estimate.seconds) + " (" + from + ")";
}

} // namespace norv
