#include "batch/batch_report.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>

#include "batch/path_list.h"
#include "common/os_files.h"

namespace norv {

namespace {

namespace fs = std::filesystem;

constexpr const char* kStatusNames[] = {"not_started", "done", "skipped", "failed", "cancelled"};

const char* StatusName(FileStatus status) {
    return kStatusNames[static_cast<int>(status)];
}

bool KnownStatus(const std::string& name) {
    return std::find(std::begin(kStatusNames), std::end(kStatusNames), name) !=
           std::end(kStatusNames);
}

// Run again: what did not end done or skipped.
bool ToRunAgain(const std::string& status) {
    return status == "failed" || status == "cancelled" || status == "not_started";
}

uint64_t SizeOf(const std::string& path) {
    std::error_code error;
    const uintmax_t size = fs::file_size(path, error);
    return error ? 0 : static_cast<uint64_t>(size);
}

Json FileJson(const FileRecord& f) {
    Json j;
    j["input"] = f.input;
    j["output"] = f.output;
    j["status"] = StatusName(f.status);
    if (f.status != FileStatus::NotStarted) {
        j["result"] = nvt::EnumName<nvt::Result>(f.result);
        j["ended_ms"] = f.endedMs;
    }
    if (!f.error.empty()) {
        j["error"] = f.error;
    }
    if (!f.note.empty()) {
        j["note"] = f.note;
    }
    j["duration"] = f.duration;
    j["input_bytes"] = f.inputBytes;
    j["output_bytes"] = f.outputBytes;
    j["encode_seconds"] = f.encodeSeconds;
    j["speed"] = f.encodeSeconds > 0 ? f.duration / f.encodeSeconds : 0.0;
    return j;
}

double NumberIn(const Json& f, const char* name) {
    const auto at = f.find(name);
    return at != f.end() && at->is_number() ? at->get<double>() : 0.0;
}

// Totals over a list of file records, and the inputs to run again.
void AddTotals(Json& document) {
    Json totals;
    for (const char* status : kStatusNames) {
        totals[status] = 0;
    }
    double duration = 0, encodeSeconds = 0, inputBytes = 0, outputBytes = 0;
    Json rerun = Json::array();
    for (const Json& f : document["files"]) {
        const std::string status = f.at("status").get<std::string>();
        totals[status] = totals[status].get<int>() + 1;
        if (ToRunAgain(status)) {
            rerun.push_back(f.at("input"));
        }
        if (status == "done") {
            duration += NumberIn(f, "duration");
            encodeSeconds += NumberIn(f, "encode_seconds");
            inputBytes += NumberIn(f, "input_bytes");
            outputBytes += NumberIn(f, "output_bytes");
        }
    }
    totals["files"] = document["files"].size();
    // Over the files transcoded by this run: skipped ones cost nothing.
    totals["duration"] = duration;
    totals["encode_seconds"] = encodeSeconds;
    totals["input_bytes"] = static_cast<uint64_t>(inputBytes);
    totals["output_bytes"] = static_cast<uint64_t>(outputBytes);
    document["totals"] = totals;
    document["rerun"] = rerun;
}

// ---- merging -------------------------------------------------------------

// One file record of a document, with what orders it among the others.
struct Met {
    Json record;
    int64_t endedMs = 0; // 0 for documents that do not tell
    size_t order = 0;    // documents' order, then the files' order
};

// The shards of one batch (one list, one count) that wrote a document.
struct ShardSet {
    std::string list;
    uint32_t count = 0;
    std::set<uint32_t> present;
};

uint32_t ShardNumber(const Json& shard, const char* name) {
    const Json& value = shard.at(name);
    if (!value.is_number_unsigned() || value.get<uint64_t>() == 0 ||
        value.get<uint64_t>() > UINT32_MAX) {
        throw Json::other_error::create(501, std::string("shard ") + name + " is not a count",
                                        &shard);
    }
    return value.get<uint32_t>();
}

// The later of two records of one input: one that never started settles
// nothing, and a skip (the output was there) keeps the record of the run
// that made the output.
void Settle(std::optional<Met>& kept, Met next) {
    const std::string status = next.record.at("status").get<std::string>();
    if (kept && status == "not_started") {
        return;
    }
    if (kept && status == "skipped" && kept->record.at("status") == "done") {
        return;
    }
    kept = std::move(next);
}

} // namespace

int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

ShardReport::ShardReport(const Shard& shard, const BatchIdentity& batch,
                         const std::vector<std::string>& inputs,
                         const std::vector<std::string>& outputs, std::string path)
    : shard_(shard), batch_(batch), path_(std::move(path)), startedMs_(NowMs()) {
    for (size_t i = 0; i < inputs.size(); ++i) {
        FileRecord record;
        record.input = inputs[i];
        record.output = outputs[i];
        record.inputBytes = SizeOf(inputs[i]);
        files_.push_back(record);
    }
}

void ShardReport::Stamp(FileRecord& f) {
    // Records of one input are ordered by this: later than any before.
    f.endedMs = std::max(NowMs(), f.endedMs + 1);
}

void ShardReport::Skipped(size_t file, const std::string& note) {
    std::lock_guard<std::mutex> hold(lock_);
    FileRecord& f = files_[file];
    f.status = FileStatus::Skipped;
    f.result = nvt::SUCCESS;
    f.note = note;
    f.outputBytes = SizeOf(f.output);
    Stamp(f);
}

void ShardReport::Noted(size_t file, const std::string& note) {
    std::lock_guard<std::mutex> hold(lock_);
    files_[file].note = note;
}

void ShardReport::SetDuration(size_t file, double seconds) {
    std::lock_guard<std::mutex> hold(lock_);
    files_[file].duration = seconds;
}

void ShardReport::Ended(size_t file, nvt::Result result, double seconds, const std::string& error) {
    std::lock_guard<std::mutex> hold(lock_);
    FileRecord& f = files_[file];
    f.result = result;
    f.encodeSeconds = seconds;
    f.error = error;
    if (result == nvt::SUCCESS) {
        f.status = FileStatus::Done;
        f.outputBytes = SizeOf(f.output);
    } else {
        f.status = result == nvt::Aborted ? FileStatus::Cancelled : FileStatus::Failed;
    }
    Stamp(f);
}

Json ShardReport::ToJson() const {
    std::lock_guard<std::mutex> hold(lock_);
    Json document;
    document["shard"] = {{"index", shard_.index}, {"count", shard_.count}};
    if (shard_.slurmFirst && shard_.slurmStep) {
        document["shard"]["slurm_first"] = *shard_.slurmFirst;
        document["shard"]["slurm_step"] = *shard_.slurmStep;
    }
    document["batch"] = {
        {"list", batch_.list}, {"files", batch_.files}, {"settings", batch_.settings}};
    document["started_ms"] = startedMs_;
    document["files"] = Json::array();
    for (const FileRecord& f : files_) {
        document["files"].push_back(FileJson(f));
    }
    AddTotals(document);
    return document;
}

void ShardReport::Save() const {
    if (path_.empty()) {
        return;
    }
    std::lock_guard<std::mutex> hold(writing_);
    WriteJsonFile(path_, ToJson());
}

void WriteJsonFile(const std::string& path, const Json& value) {
    const fs::path target(path);
    const fs::path temporary =
        target.parent_path() /
        ("." + target.filename().string() + "." + std::to_string(std::random_device()()) + ".tmp");
    {
        std::ofstream out(temporary, std::ios::binary);
        out << value.dump(2) << '\n';
        out.close();
        if (!out || !SyncFile(temporary.string())) {
            std::error_code ignored;
            fs::remove(temporary, ignored);
            throw Failure(path + ": cannot write the report", nvt::ENG_WRITING_ERROR);
        }
    }
    std::error_code error;
    fs::rename(temporary, target, error);
    if (error) {
        fs::remove(temporary, error);
        throw Failure(path + ": cannot write the report", nvt::ENG_WRITING_ERROR);
    }
    SyncFolder(target.parent_path().string());
}

Json MergeReports(const std::vector<std::string>& paths,
                  const std::optional<std::vector<std::string>>& list) {
    std::vector<Met> met;
    std::map<std::string, ShardSet> batches;
    for (const std::string& path : paths) {
        std::ifstream in(path, std::ios::binary);
        try {
            const Json document = Json::parse(in);
            const Json& shard = document.at("shard");
            const uint32_t index = ShardNumber(shard, "index");
            const uint32_t count = ShardNumber(shard, "count");
            if (index > count) {
                throw Json::other_error::create(501, "shard index past the count", &shard);
            }
            const auto batch = document.find("batch");
            const std::string listDigest = batch != document.end() && batch->is_object()
                                               ? batch->value("list", std::string())
                                               : std::string();
            ShardSet& set = batches[listDigest + "/" + std::to_string(count)];
            set.list = listDigest;
            set.count = count;
            set.present.insert(index);
            for (const Json& f : document.at("files")) {
                Met m;
                m.record = f;
                if (!f.at("input").is_string() || !KnownStatus(f.at("status").get<std::string>())) {
                    throw Json::other_error::create(501, "a file without input or status", &f);
                }
                const auto ended = f.find("ended_ms");
                m.endedMs =
                    ended != f.end() && ended->is_number_integer() ? ended->get<int64_t>() : 0;
                m.order = met.size();
                met.push_back(std::move(m));
            }
        } catch (const Json::exception& e) {
            throw Failure(path + ": not a batch report (" + e.what() + ")",
                          nvt::ENG_UNSUPPORTED_FILE_TYPE);
        }
    }
    // By the time each file ended; records that do not tell keep the order
    // they were given in, before those that do.
    std::stable_sort(met.begin(), met.end(),
                     [](const Met& a, const Met& b) { return a.endedMs < b.endedMs; });
    std::map<std::string, std::optional<Met>> latest;
    std::vector<std::pair<size_t, std::string>> firstSeen; // the documents' order
    for (Met& m : met) {
        const std::string input = m.record.at("input").get<std::string>();
        std::optional<Met>& kept = latest[input];
        if (!kept) {
            firstSeen.emplace_back(m.order, input); // an input keeps its first place
        }
        Settle(kept, std::move(m));
    }
    std::sort(firstSeen.begin(), firstSeen.end());

    Json summary;
    summary["reports"] = paths.size();
    summary["files"] = Json::array();
    for (const auto& seen : firstSeen) {
        summary["files"].push_back(latest[seen.second]->record);
    }
    const std::string listDigest = list ? ListDigest(*list) : std::string();
    if (list) {
        for (const std::string& input : *list) {
            if (latest.count(input) == 0) {
                latest[input] = Met();
                summary["files"].push_back(
                    Json{{"input", input},
                         {"status", "not_started"},
                         {"error", "no report names it: its shard wrote none"}});
            }
        }
    }
    summary["missing_shards"] = Json::array();
    for (const auto& entry : batches) {
        const ShardSet& set = entry.second;
        if (list && set.list == listDigest) {
            continue; // its files are all accounted for above
        }
        for (uint32_t index = 1; index <= set.count; ++index) {
            if (set.present.count(index) == 0) {
                summary["missing_shards"].push_back(
                    Json{{"index", index}, {"count", set.count}, {"list", set.list}});
            }
        }
    }
    AddTotals(summary);
    return summary;
}

} // namespace norv
