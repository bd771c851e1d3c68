// The queue of norv serve: its jobs in order, what becomes of each, the file
// that keeps it across restarts, and the events the page follows it by.
//
// Every change is told as an event with an identifier ("RUN.SEQ") on the
// page's one event stream. The latest events are kept, so a page that
// reconnects with the identifier of the last event it saw gets what it
// missed; one that comes back after longer (or after a restart) gets a
// snapshot of the whole queue. The same stream tells where a quality probe
// is, of a job before its encode and of a preview.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "common/json_output.h"
#include "common/transcode_run.h"
#include "serve/http_server.h"

namespace norv {

enum class JobState { Queued, Running, Done, Failed, Cancelled };

const char* JobStateName(JobState state);

struct Job {
    std::string id;
    std::vector<std::string> inputs; ///< real paths, joined in this order
    std::string output;              ///< the real path it is written to, in the output folder
    Json settings;                   ///< the choice as the page sent it (see ChoiceFromJson)
    JobState state = JobState::Queued;
    double percent = 0;
    double elapsed = 0;
    double remaining = -1;
    double speed = 0;
    uint64_t predictedSize = 0;
    uint64_t outputSize = 0;
    Json quality;       ///< under a quality target, its plan once probed (see PlanOutput)
    Json probe;         ///< while it is probed: {percent, step}; not kept across restarts
    std::string result; ///< the Result name of a job that ended
    int code = 0;
    std::string error;
    std::vector<std::string> log; ///< the last lines of the engine's log
    int64_t createdMs = 0;
    int64_t finishedMs = 0;
    bool cancelWanted = false;
};

/// What a job's run came to.
struct JobEnd {
    JobState state = JobState::Done;
    nvt::Result result = nvt::SUCCESS;
    std::string error;
    uint64_t outputSize = 0;
    std::vector<std::string> log;
};

class JobBoard {
public:
    /// file: where the queue is kept; names: turns a real path into the
    /// name the page shows.
    JobBoard(std::string file, std::function<std::string(const std::string&)> names);

    /// Reads the kept queue. A job that was running when norv serve stopped
    /// is queued again. A missing file is an empty queue; a damaged one is
    /// set aside (renamed) with a warning, never overwritten unread.
    void Load();

    // ---- what the page asks -------------------------------------------
    /// Appends jobs (ids, states and times are set here); returns their
    /// page forms.
    Json Add(std::vector<Job> jobs);
    /// Cancels a running job (its run ends soon after) or a queued one.
    bool Cancel(const std::string& id);
    /// Removes a job that is not running.
    enum class Removal { Removed, Missing, Running };
    Removal Remove(const std::string& id);
    /// Moves a job to place to (counted from 0, clamped).
    bool Move(const std::string& id, size_t to);
    /// Starts or pauses the queue: when paused, the running job finishes and
    /// no other starts.
    void SetRunning(bool running);
    /// Removes every job that ended; returns how many.
    size_t ClearFinished();
    /// The whole queue as the page sees it.
    Json Snapshot();
    /// The outputs of jobs that are not finished, which a new job's output
    /// must not take.
    std::vector<std::string> ReservedOutputs();
    /// A job's output when it is done; empty otherwise.
    std::string DoneOutput(const std::string& id);

    /// Opens the event stream of one page: the events after lastEventId, or
    /// a snapshot, then every new event.
    void Attach(const std::shared_ptr<EventStream>& stream, const std::string& lastEventId);

    /// Where the probe of a preview is; the page that asked for it knows it
    /// by token.
    void PreviewProbing(const std::string& token, int percent, const std::string& step);

    // ---- what the runner does ----------------------------------------
    /// Waits until the queue runs and has a queued job, marks it running and
    /// returns it; nullopt once Stop was called.
    std::optional<Job> Next();
    void SetOutput(const std::string& id, const std::string& output);
    /// Where the probe before a job's encode is, until SetPlan.
    void Probing(const std::string& id, int percent, const std::string& step);
    /// The plan of a job under a quality target, with its predicted size.
    void SetPlan(const std::string& id, const Json& quality);
    void Progress(const std::string& id, const RunStatus& status, const Json& event);
    void Finish(const std::string& id, const JobEnd& end);
    /// Whether the job's run should stop: cancelled, or norv serve stopping.
    bool StopWanted(const std::string& id);
    /// Wakes the runner and ends Next. Jobs that were running are queued
    /// again when they end.
    void Stop();
    bool stopping();

private:
    Job* Find(const std::string& id);
    Json PageJson(const Job& job) const;
    Json OrderJson() const;
    void Publish(const char* type, const Json& data);
    void Save();

    const std::string file_;
    const std::function<std::string(const std::string&)> names_;
    const std::string run_; ///< tells this start's event identifiers from another's
    std::mutex lock_;
    std::condition_variable wake_;
    std::vector<Job> jobs_;
    bool running_ = false;
    bool stopping_ = false;
    uint64_t sequence_ = 0;
    struct Event {
        uint64_t sequence;
        std::string text;
    };
    std::deque<Event> recent_;
    std::vector<std::weak_ptr<EventStream>> streams_;
};

} // namespace norv
