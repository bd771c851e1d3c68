#include "serve/job_runner.h"

#include <algorithm>
#include <chrono>
#include <deque>
#include <fstream>

#include "common/json_output.h"
#include "common/transcode_run.h"
#include "serve/access.h"
#include "serve/choice.h"
#include "serve/planned_output.h"
#include "timing/estimate.h"
#include "timing/preview.h"

namespace norv {

namespace {

using Clock = std::chrono::steady_clock;

// Lines of the engine's log a finished job keeps, and the longest line.
constexpr size_t kLogLines = 30;
constexpr size_t kLogLineLength = 400;
constexpr char kCancelled[] = "cancelled, no output left";

class JobObserver : public RunObserver {
public:
    JobObserver(JobBoard& board, std::string id) : board_(board), id_(std::move(id)) {}

    void OnEvent(RunEvent event, const RunStatus& status, nvt::Result result) override {
        if (event == RunEvent::Progress || event == RunEvent::SourceDone) {
            const Clock::time_point now = Clock::now();
            if (!reported_ || now - last_ >= kPageProgressPeriod || status.percent >= 100) {
                Report(event, status, result, now);
            }
        }
    }

    void OnTick(const RunStatus& status) override {
        // The elapsed time goes on between the engine's reports.
        const Clock::time_point now = Clock::now();
        if (reported_ && now - last_ >= std::chrono::seconds(1)) {
            Report(RunEvent::Progress, status, nvt::SUCCESS, now);
        }
    }

    bool StopWanted() override { return board_.StopWanted(id_); }

private:
    void Report(RunEvent event, const RunStatus& status, nvt::Result result,
                Clock::time_point now) {
        reported_ = true;
        last_ = now;
        board_.Progress(id_, status, RunEventJson(event, status, result));
    }

    JobBoard& board_;
    const std::string id_;
    bool reported_ = false;
    Clock::time_point last_;
};

std::vector<std::string> LogTail(const std::filesystem::path& file) {
    std::deque<std::string> lines;
    std::ifstream in(file, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        if (line.size() > kLogLineLength) {
            line = line.substr(0, kLogLineLength) + "...";
        }
        lines.push_back(std::move(line));
        if (lines.size() > kLogLines) {
            lines.pop_front();
        }
    }
    return std::vector<std::string>(lines.begin(), lines.end());
}

// A job cancelled before its transcode began.
JobEnd Cancelled() {
    JobEnd end;
    end.state = JobState::Cancelled;
    end.result = nvt::Aborted;
    end.error = kCancelled;
    return end;
}

bool Exists(const std::filesystem::path& path) {
    std::error_code error;
    return std::filesystem::exists(path, error);
}

} // namespace

std::string FreeOutputPath(const std::filesystem::path& folder, std::string stem,
                           const std::string& extension, const std::vector<std::string>& reserved) {
    std::replace_if(
        stem.begin(), stem.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; }, '_');
    if (stem.empty() || stem[0] == '.') {
        stem.insert(0, "_");
    }
    for (int n = 1;; ++n) {
        const std::string name =
            stem + (n == 1 ? std::string() : " (" + std::to_string(n) + ")") + "." + extension;
        const std::filesystem::path candidate = folder / TextPath(name);
        const std::string text = PathText(candidate);
        if (!Exists(candidate) &&
            std::find(reserved.begin(), reserved.end(), text) == reserved.end()) {
            return text;
        }
    }
}

JobRunner::JobRunner(JobBoard& board, Catalog& catalog, const Roots& roots,
                     const ServeContext& context)
    : board_(board), catalog_(catalog), roots_(roots), context_(context) {}

JobRunner::~JobRunner() {
    board_.Stop();
    Join();
}

void JobRunner::Start() {
    thread_ = std::thread([this] { Loop(); });
}

void JobRunner::Join() {
    if (thread_.joinable()) {
        thread_.join();
    }
}

void JobRunner::Loop() {
    while (const std::optional<Job> job = board_.Next()) {
        JobEnd end;
        try {
            end = Run(*job);
        } catch (const Failure& failure) {
            end.state = JobState::Failed;
            end.result = failure.result();
            end.error = failure.what();
        } catch (const std::exception& e) {
            end.state = JobState::Failed;
            end.result = nvt::ENG_ERR;
            end.error = e.what();
        }
        board_.Finish(job->id, end);
    }
}

JobEnd JobRunner::Run(const Job& job) {
    const Clock::time_point start = Clock::now();
    Sources sources;
    for (const std::string& input : job.inputs) {
        // The file may have gone, or turned into a link out of the roots,
        // since it was queued.
        std::error_code error;
        const std::filesystem::path real = std::filesystem::canonical(TextPath(input), error);
        bool inside = false;
        for (size_t r = 0; r < roots_.count() && !error; ++r) {
            inside = inside || Roots::Within(roots_.root(r), real);
        }
        if (error || !inside) {
            throw Failure(input + ": no longer there", nvt::CRTL_FILE_DOES_NOT_EXIST);
        }
        const std::shared_ptr<const FileAnalysis> analysis = catalog_.Analyse(PathText(real));
        if (analysis->result != nvt::SUCCESS) {
            throw Failure(input + ": " + analysis->error, analysis->result);
        }
        sources.insert(sources.end(), analysis->sources.begin(), analysis->sources.end());
    }
    const OutputChoice choice = ChoiceFromJson(job.settings, context_.presetDir);
    const std::optional<QualityTarget> target = QualityFromJson(job.settings);
    PlannedOutput planned;
    try {
        planned = PlanOutput(
            sources, choice, target, context_, roots_.DisplayName(TextPath(job.inputs.front())),
            [this, &job](int percent, const std::string& step) {
                board_.Probing(job.id, percent, step);
            },
            [this, &job] { return board_.StopWanted(job.id); });
    } catch (const Failure& failure) {
        // A probe ends early when the job is cancelled or norv serve stops.
        if (failure.result() == nvt::Aborted && board_.StopWanted(job.id)) {
            return Cancelled();
        }
        throw;
    }
    if (target) {
        board_.SetPlan(job.id, planned.quality);
        // A cancel that came as the probe ended is heard now.
        if (board_.StopWanted(job.id)) {
            return Cancelled();
        }
    }
    OutputPreview& preview = planned.preview;
    const std::filesystem::path log =
        TextPath(context_.logDir) / TextPath(job.id + "-" + RandomHex(8) + ".log");
    nvt::SLoggerParam logging;
    logging.enableLogs = true;
    logging.logLevel = nvt::NORV_INFO_MSG;
    logging.logPath = PathText(log);
    preview.session->SetLoggerParam(logging);

    // Another program may have written the output's name since the job was
    // queued: nothing is overwritten, the job takes a free name.
    std::string output = job.output;
    const std::filesystem::path outputPath = TextPath(output);
    if (!Roots::Within(roots_.output(), outputPath.parent_path())) {
        throw Failure(output + ": not in the output folder", nvt::InvalidArgument);
    }
    if (Exists(outputPath)) {
        output =
            FreeOutputPath(roots_.output(), PathText(outputPath.stem()),
                           PathText(outputPath.extension()).substr(1), board_.ReservedOutputs());
        board_.SetOutput(job.id, output);
    }
    CheckOutputPath(output, job.inputs, false);

    JobObserver observer(board_, job.id);
    const RunOutcome outcome = RunTranscode(std::move(preview.session), sources, output, observer);
    JobEnd end;
    std::error_code error;
    end.log = LogTail(log);
    std::filesystem::remove(log, error);
    end.result = outcome.result;
    if (outcome.cancelled) {
        end.state = JobState::Cancelled;
        end.error = kCancelled;
    } else if (outcome.result != nvt::SUCCESS) {
        end.state = JobState::Failed;
        end.error =
            (outcome.failedSource.empty() ? output : outcome.failedSource) + ": transcode failed";
    } else {
        end.state = JobState::Done;
        end.outputSize = std::filesystem::file_size(TextPath(output), error);
        RememberRun(preview.work, std::chrono::duration<double>(Clock::now() - start).count());
    }
    return end;
}

} // namespace norv
