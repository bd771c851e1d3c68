#include "serve/job_board.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "batch/batch_report.h"
#include "common/settings.h"
#include "serve/access.h"
#include "serve/roots.h"

namespace norv {

namespace {

constexpr int kFormat = 1;
// Events kept for pages that reconnect: progress comes a few times a second
// per running job, so this covers minutes.
constexpr size_t kKeptEvents = 2000;

const JobState kStates[] = {JobState::Queued, JobState::Running, JobState::Done, JobState::Failed,
                            JobState::Cancelled};

bool Ended(JobState state) {
    return state == JobState::Done || state == JobState::Failed || state == JobState::Cancelled;
}

Json StoredJson(const Job& job) {
    return Json{{"id", job.id},
                {"inputs", job.inputs},
                {"output", job.output},
                {"settings", job.settings},
                {"state", JobStateName(job.state)},
                {"percent", job.percent},
                {"elapsed", job.elapsed},
                {"speed", job.speed},
                {"predicted_size", job.predictedSize},
                {"output_size", job.outputSize},
                {"quality", job.quality},
                {"result", job.result},
                {"code", job.code},
                {"error", job.error},
                {"log", job.log},
                {"created_ms", job.createdMs},
                {"finished_ms", job.finishedMs}};
}

Job JobFromStored(const Json& j) {
    Job job;
    job.id = j.at("id").get<std::string>();
    job.inputs = j.at("inputs").get<std::vector<std::string>>();
    job.output = j.at("output").get<std::string>();
    job.settings = j.value("settings", Json::object());
    const std::string state = j.at("state").get<std::string>();
    for (JobState s : kStates) {
        if (state == JobStateName(s)) {
            job.state = s;
        }
    }
    job.percent = j.value("percent", 0.0);
    job.elapsed = j.value("elapsed", 0.0);
    job.speed = j.value("speed", 0.0);
    job.predictedSize = j.value("predicted_size", uint64_t{0});
    job.outputSize = j.value("output_size", uint64_t{0});
    job.quality = j.value("quality", Json());
    job.result = j.value("result", std::string());
    job.code = j.value("code", 0);
    job.error = j.value("error", std::string());
    job.log = j.value("log", std::vector<std::string>());
    job.createdMs = j.value("created_ms", int64_t{0});
    job.finishedMs = j.value("finished_ms", int64_t{0});
    if (job.id.empty() || job.inputs.empty() || job.output.empty()) {
        throw std::invalid_argument("a job without id, inputs or output");
    }
    return job;
}

} // namespace

const char* JobStateName(JobState state) {
    switch (state) {
    case JobState::Queued:
        return "queued";
    case JobState::Running:
        return "running";
    case JobState::Done:
        return "done";
    case JobState::Failed:
        return "failed";
    case JobState::Cancelled:
        return "cancelled";
    }
    return "unknown";
}

JobBoard::JobBoard(std::string file, std::function<std::string(const std::string&)> names)
    : file_(std::move(file)), names_(std::move(names)), run_(RandomHex(4)) {}

void JobBoard::Load() {
    std::lock_guard<std::mutex> hold(lock_);
    std::ifstream in(TextPath(file_), std::ios::binary);
    if (!in) {
        return;
    }
    std::stringstream text;
    text << in.rdbuf();
    in.close();
    try {
        const Json root = Json::parse(text.str());
        if (root.at("format").get<int>() != kFormat) {
            throw std::invalid_argument("an unknown format");
        }
        std::vector<Job> jobs;
        for (const Json& stored : root.at("jobs")) {
            Job job = JobFromStored(stored);
            if (job.state == JobState::Running) {
                // Stopped while it ran: the engine removed what it had
                // written, so it starts again from the beginning.
                job.state = JobState::Queued;
                job.percent = 0;
                job.elapsed = 0;
                job.speed = 0;
            }
            jobs.push_back(std::move(job));
        }
        jobs_ = std::move(jobs);
        running_ = root.value("running", false);
    } catch (const std::exception& e) {
        const std::string aside = file_ + ".damaged-" + RandomHex(4);
        std::error_code error;
        fs::rename(TextPath(file_), TextPath(aside), error);
        std::fprintf(stderr, "norv serve: %s cannot be read (%s); set aside as %s\n", file_.c_str(),
                     e.what(), aside.c_str());
    }
}

Job* JobBoard::Find(const std::string& id) {
    for (Job& job : jobs_) {
        if (job.id == id) {
            return &job;
        }
    }
    return nullptr;
}

Json JobBoard::PageJson(const Job& job) const {
    // The stored form without the paths and settings, with the names the
    // page shows instead, and the times of a run that goes on.
    Json j = StoredJson(job);
    Json names = Json::array();
    for (const std::string& input : job.inputs) {
        names.push_back(names_(input));
    }
    j.erase("inputs");
    j.erase("output");
    j.erase("settings");
    j["names"] = names;
    j["output_name"] = PathText(TextPath(job.output).filename());
    // A setting the page left out or sent as null shows as empty text.
    auto text = [&](const char* key) {
        const auto found = job.settings.find(key);
        return found != job.settings.end() && found->is_string() ? *found : Json("");
    };
    j["profile"] = text("profile");
    j["preset"] = text("preset");
    j["quality_target"] = text("quality");
    j["remaining"] =
        job.state == JobState::Running && job.remaining >= 0 ? Json(job.remaining) : Json();
    j["speed"] = job.speed > 0 ? Json(job.speed) : Json();
    j["probe"] = job.probe;
    return j;
}

Json JobBoard::OrderJson() const {
    Json order = Json::array();
    for (const Job& job : jobs_) {
        order.push_back(job.id);
    }
    return Json{{"order", order}, {"running", running_}};
}

// Called with the lock held, so that events go out in the order of the
// changes they tell of.
void JobBoard::Publish(const char* type, const Json& data) {
    ++sequence_;
    std::string text = "id: " + run_ + "." + std::to_string(sequence_) + "\nevent: " + type +
                       "\ndata: " + data.dump(-1, ' ', false, Json::error_handler_t::replace) +
                       "\n\n";
    for (auto it = streams_.begin(); it != streams_.end();) {
        const std::shared_ptr<EventStream> stream = it->lock();
        if (stream && stream->open()) {
            stream->Write(text);
            ++it;
        } else {
            it = streams_.erase(it);
        }
    }
    recent_.push_back(Event{sequence_, std::move(text)});
    while (recent_.size() > kKeptEvents) {
        recent_.pop_front();
    }
}

// Called with the lock held: the file is small, and written whole.
void JobBoard::Save() {
    Json jobs = Json::array();
    for (const Job& job : jobs_) {
        jobs.push_back(StoredJson(job));
    }
    try {
        WriteJsonFile(file_, Json{{"format", kFormat}, {"running", running_}, {"jobs", jobs}});
    } catch (const std::exception&) {
        // A Failure, or a path that is not UTF-8, which JSON cannot hold.
        std::fprintf(stderr, "norv serve: cannot keep the queue in %s\n", file_.c_str());
    }
}

Json JobBoard::Add(std::vector<Job> jobs) {
    std::lock_guard<std::mutex> hold(lock_);
    Json added = Json::array();
    for (Job& job : jobs) {
        do {
            job.id = RandomHex(6);
        } while (Find(job.id) != nullptr);
        job.state = JobState::Queued;
        job.createdMs = PresetTimeNow();
        jobs_.push_back(std::move(job));
        added.push_back(PageJson(jobs_.back()));
        Publish("job", added.back());
    }
    Publish("queue", OrderJson());
    Save();
    wake_.notify_all();
    return added;
}

bool JobBoard::Cancel(const std::string& id) {
    std::lock_guard<std::mutex> hold(lock_);
    Job* job = Find(id);
    if (job == nullptr) {
        return false;
    }
    if (job->state == JobState::Running) {
        job->cancelWanted = true;
    } else if (job->state == JobState::Queued) {
        job->state = JobState::Cancelled;
        job->result = nvt::EnumName<nvt::Result>(nvt::Aborted);
        job->code = static_cast<int>(nvt::Aborted);
        job->finishedMs = PresetTimeNow();
        Publish("job", PageJson(*job));
        Save();
    }
    return true;
}

JobBoard::Removal JobBoard::Remove(const std::string& id) {
    std::lock_guard<std::mutex> hold(lock_);
    Job* job = Find(id);
    if (job == nullptr) {
        return Removal::Missing;
    }
    if (job->state == JobState::Running) {
        return Removal::Running;
    }
    jobs_.erase(jobs_.begin() + (job - jobs_.data()));
    Publish("removed", Json{{"ids", {id}}});
    Save();
    return Removal::Removed;
}

bool JobBoard::Move(const std::string& id, size_t to) {
    std::lock_guard<std::mutex> hold(lock_);
    Job* job = Find(id);
    if (job == nullptr) {
        return false;
    }
    const size_t from = static_cast<size_t>(job - jobs_.data());
    to = std::min(to, jobs_.size() - 1);
    Job moved = std::move(*job);
    jobs_.erase(jobs_.begin() + from);
    jobs_.insert(jobs_.begin() + to, std::move(moved));
    Publish("queue", OrderJson());
    Save();
    return true;
}

void JobBoard::SetRunning(bool running) {
    std::lock_guard<std::mutex> hold(lock_);
    running_ = running;
    Publish("queue", OrderJson());
    Save();
    wake_.notify_all();
}

size_t JobBoard::ClearFinished() {
    std::lock_guard<std::mutex> hold(lock_);
    Json ids = Json::array();
    for (const Job& job : jobs_) {
        if (Ended(job.state)) {
            ids.push_back(job.id);
        }
    }
    jobs_.erase(
        std::remove_if(jobs_.begin(), jobs_.end(), [](const Job& job) { return Ended(job.state); }),
        jobs_.end());
    if (!ids.empty()) {
        Publish("removed", Json{{"ids", ids}});
        Save();
    }
    return ids.size();
}

Json JobBoard::Snapshot() {
    std::lock_guard<std::mutex> hold(lock_);
    Json jobs = Json::array();
    for (const Job& job : jobs_) {
        jobs.push_back(PageJson(job));
    }
    return Json{{"jobs", jobs}, {"running", running_}};
}

std::vector<std::string> JobBoard::ReservedOutputs() {
    std::lock_guard<std::mutex> hold(lock_);
    std::vector<std::string> outputs;
    for (const Job& job : jobs_) {
        if (job.state == JobState::Queued || job.state == JobState::Running) {
            outputs.push_back(job.output);
        }
    }
    return outputs;
}

std::string JobBoard::DoneOutput(const std::string& id) {
    std::lock_guard<std::mutex> hold(lock_);
    const Job* job = Find(id);
    return job != nullptr && job->state == JobState::Done ? job->output : std::string();
}

void JobBoard::Attach(const std::shared_ptr<EventStream>& stream, const std::string& lastEventId) {
    std::lock_guard<std::mutex> hold(lock_);
    // A page that drops its connection tries again after two seconds.
    stream->Write("retry: 2000\n\n");
    const std::string prefix = run_ + ".";
    bool replayed = false;
    if (lastEventId.compare(0, prefix.size(), prefix) == 0) {
        uint64_t seen = 0;
        try {
            seen = std::stoull(lastEventId.substr(prefix.size()));
        } catch (const std::exception&) {
            seen = UINT64_MAX;
        }
        // Everything after seen is still kept (or nothing happened since).
        const uint64_t oldestKept = recent_.empty() ? sequence_ + 1 : recent_.front().sequence;
        if (seen <= sequence_ && seen + 1 >= oldestKept) {
            for (const Event& event : recent_) {
                if (event.sequence > seen) {
                    stream->Write(event.text);
                }
            }
            replayed = true;
        }
    }
    if (!replayed) {
        Json jobs = Json::array();
        for (const Job& job : jobs_) {
            jobs.push_back(PageJson(job));
        }
        const Json snapshot{{"jobs", jobs}, {"running", running_}};
        stream->Write("id: " + run_ + "." + std::to_string(sequence_) +
                      "\nevent: snapshot\ndata: " +
                      snapshot.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n\n");
    }
    streams_.push_back(stream);
}

std::optional<Job> JobBoard::Next() {
    std::unique_lock<std::mutex> hold(lock_);
    for (;;) {
        if (stopping_) {
            return std::nullopt;
        }
        if (running_) {
            for (Job& job : jobs_) {
                if (job.state == JobState::Queued) {
                    job.state = JobState::Running;
                    job.cancelWanted = false;
                    job.percent = 0;
                    job.elapsed = 0;
                    job.remaining = -1;
                    job.speed = 0;
                    job.probe = nullptr;
                    Publish("job", PageJson(job));
                    Save();
                    return job;
                }
            }
        }
        wake_.wait(hold);
    }
}

void JobBoard::SetOutput(const std::string& id, const std::string& output) {
    std::lock_guard<std::mutex> hold(lock_);
    if (Job* job = Find(id)) {
        job->output = output;
        Publish("job", PageJson(*job));
        Save();
    }
}

void JobBoard::Probing(const std::string& id, int percent, const std::string& step) {
    std::lock_guard<std::mutex> hold(lock_);
    if (Job* job = Find(id)) {
        job->probe = Json{{"percent", percent}, {"step", step}};
        Json data = job->probe;
        data["id"] = id;
        Publish("probe", data);
    }
}

void JobBoard::PreviewProbing(const std::string& token, int percent, const std::string& step) {
    std::lock_guard<std::mutex> hold(lock_);
    Publish("probe", Json{{"preview", token}, {"percent", percent}, {"step", step}});
}

void JobBoard::SetPlan(const std::string& id, const Json& quality) {
    std::lock_guard<std::mutex> hold(lock_);
    if (Job* job = Find(id)) {
        job->quality = quality;
        job->probe = nullptr;
        job->predictedSize = quality.value("predicted_size", uint64_t{0});
        Publish("job", PageJson(*job));
        Save();
    }
}

void JobBoard::Progress(const std::string& id, const RunStatus& status, const Json& event) {
    std::lock_guard<std::mutex> hold(lock_);
    Job* job = Find(id);
    if (job == nullptr) {
        return;
    }
    job->percent = status.percent;
    job->elapsed = status.elapsed;
    job->remaining = status.remaining;
    job->speed = status.speed;
    Json data = event;
    data["id"] = id;
    Publish("progress", data);
}

void JobBoard::Finish(const std::string& id, const JobEnd& end) {
    std::lock_guard<std::mutex> hold(lock_);
    Job* job = Find(id);
    if (job == nullptr) {
        return;
    }
    job->cancelWanted = false;
    job->probe = nullptr;
    if (stopping_ && end.state == JobState::Cancelled) {
        // Cut short by norv serve stopping, not by the user: it runs again
        // after the next start.
        job->state = JobState::Queued;
        job->percent = 0;
        job->elapsed = 0;
        job->speed = 0;
        Save();
        return;
    }
    job->state = end.state;
    if (end.state == JobState::Done) {
        job->percent = 100;
    }
    job->remaining = end.state == JobState::Done ? 0 : -1;
    job->result = nvt::EnumName<nvt::Result>(end.result);
    job->code = static_cast<int>(end.result);
    job->error = end.error;
    job->outputSize = end.outputSize;
    job->log = end.log;
    job->finishedMs = PresetTimeNow();
    Publish("job", PageJson(*job));
    Save();
}

bool JobBoard::StopWanted(const std::string& id) {
    std::lock_guard<std::mutex> hold(lock_);
    const Job* job = Find(id);
    return stopping_ || job == nullptr || job->cancelWanted;
}

void JobBoard::Stop() {
    std::lock_guard<std::mutex> hold(lock_);
    stopping_ = true;
    wake_.notify_all();
}

bool JobBoard::stopping() {
    std::lock_guard<std::mutex> hold(lock_);
    return stopping_;
}

} // namespace norv
