#include "batch/batch_report.h"

#include <filesystem>
#include <fstream>
#include <map>
#include <random>

namespace norv {

namespace {

namespace fs = std::filesystem;

const char* StatusName(FileStatus status) {
    switch (status) {
    case FileStatus::Done:
        return "done";
    case FileStatus::Skipped:
        return "skipped";
    case FileStatus::Failed:
        return "failed";
    case FileStatus::Pending:
    case FileStatus::Cancelled:
        break;
    }
    return "cancelled";
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
    j["result"] = nvt::EnumName<nvt::Result>(f.result);
    if (!f.error.empty()) {
        j["error"] = f.error;
    }
    j["duration"] = f.duration;
    j["input_bytes"] = f.inputBytes;
    j["output_bytes"] = f.outputBytes;
    j["encode_seconds"] = f.encodeSeconds;
    j["speed"] = f.encodeSeconds > 0 ? f.duration / f.encodeSeconds : 0.0;
    if (!f.quality.is_null()) {
        j["quality"] = f.quality;
    }
    return j;
}

// Totals over a list of file records, and the inputs to run again.
void AddTotals(Json& document) {
    Json totals;
    for (const char* status : {"done", "skipped", "failed", "cancelled"}) {
        totals[status] = 0;
    }
    double duration = 0, encodeSeconds = 0;
    uint64_t inputBytes = 0, outputBytes = 0;
    Json rerun = Json::array();
    for (const Json& f : document["files"]) {
        const std::string status = f.at("status").get<std::string>();
        totals[status] = totals.value(status, 0) + 1;
        if (status == "failed" || status == "cancelled") {
            rerun.push_back(f.at("input"));
        }
        if (status == "done") {
            duration += f.at("duration").get<double>();
            encodeSeconds += f.at("encode_seconds").get<double>();
            inputBytes += f.at("input_bytes").get<uint64_t>();
            outputBytes += f.at("output_bytes").get<uint64_t>();
        }
    }
    totals["files"] = document["files"].size();
    // Over the files transcoded by this run: skipped ones cost nothing.
    totals["duration"] = duration;
    totals["encode_seconds"] = encodeSeconds;
    totals["input_bytes"] = inputBytes;
    totals["output_bytes"] = outputBytes;
    document["totals"] = totals;
    document["rerun"] = rerun;
}

} // namespace

ShardReport::ShardReport(const Shard& shard, const std::vector<std::string>& inputs,
                         const std::vector<std::string>& outputs)
    : shard_(shard) {
    for (size_t i = 0; i < inputs.size(); ++i) {
        FileRecord record;
        record.input = inputs[i];
        record.output = outputs[i];
        record.inputBytes = SizeOf(inputs[i]);
        files_.push_back(record);
    }
}

void ShardReport::Skipped(size_t file) {
    std::lock_guard<std::mutex> hold(lock_);
    files_[file].status = FileStatus::Skipped;
    files_[file].outputBytes = SizeOf(files_[file].output);
}

void ShardReport::SetDuration(size_t file, double seconds) {
    std::lock_guard<std::mutex> hold(lock_);
    files_[file].duration = seconds;
}

void ShardReport::SetQuality(size_t file, const Json& quality) {
    std::lock_guard<std::mutex> hold(lock_);
    files_[file].quality = quality;
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
}

Json ShardReport::ToJson() const {
    std::lock_guard<std::mutex> hold(lock_);
    Json document;
    document["shard"] = {{"index", shard_.index}, {"count", shard_.count}};
    document["files"] = Json::array();
    for (const FileRecord& f : files_) {
        document["files"].push_back(FileJson(f));
    }
    AddTotals(document);
    return document;
}

void WriteJsonFile(const std::string& path, const Json& value) {
    const fs::path target(path);
    const fs::path temporary =
        target.parent_path() /
        ("." + target.filename().string() + "." + std::to_string(std::random_device()()) + ".part");
    {
        std::ofstream out(temporary);
        out << value.dump(2) << '\n';
        out.close();
        if (!out) {
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
}

Json MergeReports(const std::vector<std::string>& paths) {
    Json summary;
    summary["reports"] = paths.size();
    summary["files"] = Json::array();
    // An input met again (the report of a re-run given after the first
    // run's) takes its later record, but a skip keeps the record of the run
    // that made the output.
    std::map<std::string, size_t> seen;
    for (const std::string& path : paths) {
        std::ifstream in(path);
        try {
            const Json document = Json::parse(in);
            for (const Json& f : document.at("files")) {
                const auto known =
                    seen.emplace(f.at("input").get<std::string>(), summary["files"].size());
                if (known.second) {
                    summary["files"].push_back(f);
                } else if (f.at("status") != "skipped") {
                    summary["files"][known.first->second] = f;
                }
            }
        } catch (const Json::exception& e) {
            throw Failure(path + ": not a batch report (" + e.what() + ")",
                          nvt::ENG_UNSUPPORTED_FILE_TYPE);
        }
    }
    AddTotals(summary);
    return summary;
}

} // namespace norv
