#include "common/transcode_run.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <mutex>

#include "common/console.h"

namespace norv {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::chrono::milliseconds kTick(100);
constexpr int32_t kSourceFinishedKind = 7;

struct CallbackEvent {
    enum Kind { Progress, SourceComplete, Complete, Error, Cancel } kind = Progress;
    nvt::ISourceMedia* source = nullptr;
    uint32_t stages = 0;
    uint32_t stage = 0;
    int32_t stageKind = 0;
    double progress = 0;
    nvt::Result code = nvt::SUCCESS;
};

// Receives the library's calls on the session's worker thread and queues
// them for the thread that runs the transcode.
class Callback : public nvt::ITranscodeProgressCB {
public:
    explicit Callback(nvt::ITranscodeSession* session) : session_(session) {}

    int32_t AddRef() override { return ++count_; }
    int32_t Release() override {
        const int32_t now = --count_;
        if (now <= 0) {
            delete this;
            return 0;
        }
        return now;
    }
    int32_t GetRefCount() override { return count_; }

    nvt::Result OnProgress(nvt::ISourceMedia* source, uint32_t stages, uint32_t stage,
                           int32_t stageKind, double progress) override {
        CallbackEvent e;
        e.source = source;
        e.stages = stages;
        e.stage = stage;
        e.stageKind = stageKind;
        e.progress = progress;
        Push(e);
        return nvt::SUCCESS;
    }
    nvt::Result OnComplete(nvt::ISourceMedia* source, const nvt::WideString&) override {
        // The run's own completion comes once the session is done; earlier
        // ones close a joined source. The session is locked around this
        // call, and its state is already final for the run's completion.
        nvt::TranscodeState state = nvt::TS_Running;
        session_->GetState(&state);
        CallbackEvent e;
        e.kind = state == nvt::TS_Done ? CallbackEvent::Complete : CallbackEvent::SourceComplete;
        e.source = source;
        Push(e);
        return nvt::SUCCESS;
    }
    nvt::Result OnCancel() override {
        CallbackEvent e;
        e.kind = CallbackEvent::Cancel;
        Push(e);
        return nvt::SUCCESS;
    }
    nvt::Result OnError(nvt::ISourceMedia* source, nvt::Result code) override {
        CallbackEvent e;
        e.kind = CallbackEvent::Error;
        e.source = source;
        e.code = code;
        Push(e);
        return nvt::SUCCESS;
    }

    /// Takes the queued events, waiting up to timeout for the first.
    std::deque<CallbackEvent> Take(std::chrono::milliseconds timeout) {
        std::unique_lock<std::mutex> guard(lock_);
        ready_.wait_for(guard, timeout, [this] { return !queue_.empty(); });
        std::deque<CallbackEvent> taken;
        taken.swap(queue_);
        return taken;
    }

private:
    void Push(const CallbackEvent& e) {
        std::lock_guard<std::mutex> guard(lock_);
        queue_.push_back(e);
        ready_.notify_one();
    }

    nvt::ITranscodeSession* session_; // outlives every call: the session calls us
    std::atomic<int32_t> count_{0};
    std::mutex lock_;
    std::condition_variable ready_;
    std::deque<CallbackEvent> queue_;
};

std::string SourcePath(nvt::ISourceMedia* source) {
    nvt::WideString path;
    if (source != nullptr) {
        source->GetFilePath(path);
    }
    return Narrow(path);
}

// Follows one run: turns the callback's events into a status and the
// observer's events.
class RunTracker {
public:
    RunTracker(nvt::ITranscodeSession& session, const Sources& sources, RunObserver& observer)
        : session_(session), sources_(sources), observer_(observer),
          durationMs_(TotalDurationMs(sources)), start_(Clock::now()) {
        status_.sources = sources.size();
        status_.sourcePath = sources.empty() ? std::string() : SourcePath(sources[0].get());
    }

    bool finished() const { return finished_; }
    const RunOutcome& outcome() const { return outcome_; }

    void Handle(const CallbackEvent& e) {
        Touch();
        if (e.source != nullptr) {
            Select(e.source);
        }
        switch (e.kind) {
        case CallbackEvent::Progress:
            OnProgress(e);
            break;
        case CallbackEvent::SourceComplete:
            observer_.OnEvent(RunEvent::SourceDone, status_, nvt::SUCCESS);
            break;
        case CallbackEvent::Complete:
            status_.percent = 100;
            status_.remaining = 0;
            Finish(RunEvent::Done, nvt::SUCCESS);
            break;
        case CallbackEvent::Error:
            outcome_.failedSource = status_.sourcePath;
            Finish(RunEvent::Failed, e.code == nvt::SUCCESS ? nvt::ENG_ERR : e.code);
            break;
        case CallbackEvent::Cancel:
            outcome_.cancelled = true;
            Finish(RunEvent::Cancelled, nvt::Aborted);
            break;
        }
    }

    /// Ends a run that reached its end without telling the callback.
    void Settle(bool cancelRequested) {
        if (!finished_) {
            outcome_.cancelled = cancelRequested;
            Finish(cancelRequested ? RunEvent::Cancelled : RunEvent::Failed,
                   cancelRequested ? nvt::Aborted : nvt::ENG_ERR);
        }
    }

    void Tick() {
        Touch();
        observer_.OnTick(status_);
    }

private:
    void Touch() { status_.elapsed = std::chrono::duration<double>(Clock::now() - start_).count(); }

    void Select(nvt::ISourceMedia* source) {
        for (size_t i = 0; i < sources_.size(); ++i) {
            if (sources_[i].get() == source) {
                status_.source = i;
                status_.sourcePath = SourcePath(source);
                return;
            }
        }
    }

    void OnProgress(const CallbackEvent& e) {
        status_.stage = e.stage;
        status_.stages = e.stages;
        status_.stageKind = e.stageKind;
        // The library closes each joined source with a 100 % report of its
        // own; the engine's percentages are for the whole output.
        const bool closing = e.stageKind == kSourceFinishedKind && e.progress >= 100.0 &&
                             status_.source + 1 < sources_.size();
        if (!closing) {
            status_.percent = std::clamp(e.progress, 0.0, 100.0);
        }
        status_.remaining = EngineRemaining();
        if (status_.remaining <= 0 && status_.percent > 0 && status_.percent < 100) {
            status_.remaining = status_.elapsed * (100.0 - status_.percent) / status_.percent;
        }
        status_.speed = status_.elapsed > 0
                            ? status_.percent / 100.0 * (durationMs_ / 1000.0) / status_.elapsed
                            : 0;
        observer_.OnEvent(RunEvent::Progress, status_, nvt::SUCCESS);
    }

    // During a run the session's properties carry the engine's last
    // estimate of the time remaining.
    double EngineRemaining() {
        nvt::ITranscodeOutputProperties* raw = nullptr;
        int32_t seconds = 0;
        if (session_.GetOutputProperties(&raw) == nvt::SUCCESS && raw != nullptr) {
            Adopt(raw)->GetEstimatedTime(&seconds);
        } else if (raw != nullptr) {
            raw->Release();
        }
        return seconds;
    }

    void Finish(RunEvent event, nvt::Result result) {
        finished_ = true;
        outcome_.result = result;
        observer_.OnEvent(event, status_, result);
    }

    nvt::ITranscodeSession& session_;
    const Sources& sources_;
    RunObserver& observer_;
    const uint64_t durationMs_;
    const Clock::time_point start_;
    RunStatus status_;
    RunOutcome outcome_;
    bool finished_ = false;
};

RunOutcome FollowRun(nvt::ITranscodeSession& session, const Sources& sources,
                     const std::string& output, RunObserver& observer) {
    RunTracker tracker(session, sources, observer);
    if (InterruptRequested() || observer.StopWanted()) {
        tracker.Settle(true);
        return tracker.outcome();
    }
    const Ptr<Callback> callback(new Callback(&session));
    const std::string absolute = std::filesystem::absolute(output).string();
    if (session.Start(Widen(absolute), callback.get()) == nvt::SUCCESS) {
        observer.OnEvent(RunEvent::Started, RunStatus(), nvt::SUCCESS);
    }
    // A failed start reports through the callback, so one loop serves both.
    bool cancelRequested = false;
    while (!tracker.finished()) {
        for (const CallbackEvent& e : callback->Take(kTick)) {
            tracker.Handle(e);
        }
        if (tracker.finished()) {
            break;
        }
        if (!cancelRequested && (InterruptRequested() || observer.StopWanted())) {
            cancelRequested = true;
            session.Cancel(); // returns once the engine has answered
            continue;
        }
        nvt::TranscodeState state = nvt::TS_Running;
        session.GetState(&state);
        if (state != nvt::TS_Running) {
            // The session reports its end under the lock GetState takes,
            // so every event of the run is queued by now.
            for (const CallbackEvent& e : callback->Take(std::chrono::milliseconds(0))) {
                tracker.Handle(e);
            }
            tracker.Settle(cancelRequested);
            break;
        }
        tracker.Tick();
    }
    return tracker.outcome();
}

} // namespace

const char* EventName(RunEvent event) {
    switch (event) {
    case RunEvent::Started:
        return "started";
    case RunEvent::Progress:
        return "progress";
    case RunEvent::SourceDone:
        return "source_done";
    case RunEvent::Done:
        return "done";
    case RunEvent::Failed:
        return "failed";
    case RunEvent::Cancelled:
        return "cancelled";
    }
    return "unknown";
}

Ptr<nvt::ITranscodeSession> MakeSession(const Sources& sources,
                                        nvt::ITranscodeOutputSettings* settings,
                                        nvt::ITranscodeEngineInfo* info,
                                        nvt::TranscodePriority priority) {
    nvt::ITranscodeSession* raw = nullptr;
    Check(CreateTranscodeSession(&raw), "cannot make a transcode session");
    Ptr<nvt::ITranscodeSession> session = Adopt(raw);
    for (const Ptr<nvt::ISourceMedia>& source : sources) {
        Check(session->AddSource(source.get()),
              SourcePath(source.get()) + ": cannot be joined to " + SourcePath(sources[0].get()));
    }
    Check(session->SetOutputSettings(settings), "cannot set the output settings");
    if (info != nullptr) {
        Check(session->SetEngineInfo(info), "cannot set the engine information");
    }
    Check(session->SetPriority(priority), "cannot set the engine priority");
    return session;
}

Ptr<nvt::ITranscodeOutputProperties> DeriveOutput(nvt::ITranscodeSession& session,
                                                  const std::string& what) {
    nvt::ITranscodeOutputProperties* raw = nullptr;
    const nvt::Result result = session.GetOutputProperties(&raw);
    Ptr<nvt::ITranscodeOutputProperties> properties = Adopt(raw);
    Check(result, "cannot derive " + what);
    return properties;
}

void CheckOutputPath(const std::string& output, const std::vector<std::string>& inputs,
                     bool overwrite) {
    std::error_code error;
    const std::filesystem::path folder = std::filesystem::absolute(output, error).parent_path();
    if (!std::filesystem::is_directory(folder, error)) {
        throw Failure(output + ": no folder " + folder.string() + " to write into",
                      nvt::CRTL_FILE_DOES_NOT_EXIST);
    }
    if (!std::filesystem::exists(output, error)) {
        return;
    }
    for (const std::string& input : inputs) {
        if (std::filesystem::equivalent(output, input, error)) {
            throw Failure(output + ": the output would overwrite an input",
                          nvt::CTRL_DUPLICATE_FILE);
        }
    }
    if (!overwrite) {
        throw Failure(output + ": exists (give --overwrite to replace it)",
                      nvt::CTRL_DUPLICATE_FILE);
    }
}

namespace {

// What stands at the output's path: a file that replaces it is told from it
// by its time and size.
struct OutputMark {
    bool exists = false;
    std::filesystem::file_time_type written{};
    uintmax_t size = 0;

    static OutputMark Of(const std::string& path) {
        std::error_code error;
        OutputMark mark;
        mark.written = std::filesystem::last_write_time(path, error);
        if (!error) {
            mark.size = std::filesystem::file_size(path, error);
            mark.exists = !error;
        }
        return mark;
    }
    bool operator==(const OutputMark& other) const {
        return exists == other.exists && written == other.written && size == other.size;
    }
};

} // namespace

RunOutcome RunTranscode(Ptr<nvt::ITranscodeSession> session, const Sources& sources,
                        const std::string& output, RunObserver& observer) {
    const OutputMark before = OutputMark::Of(output);
    RunOutcome outcome = FollowRun(*session, sources, output, observer);
    // Releasing the session closes the engine's pipes, so the engine ends;
    // only then is a partial output removed. A file the run never touched
    // (the one --overwrite was to replace) stays: a failed replacement
    // loses nothing.
    session.reset();
    if (outcome.result != nvt::SUCCESS && !(before.exists && OutputMark::Of(output) == before)) {
        std::error_code error;
        std::filesystem::remove(output, error);
    }
    return outcome;
}

} // namespace norv
