#include "batch/batch_resume.h"

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>

#include "batch/path_list.h"
#include "common/os_files.h"

namespace norv {

namespace {

namespace fs = std::filesystem;

constexpr int kRecordFormat = 1;
const char* const kRecordFolder = ".norv";

std::string AbsolutePath(const std::string& path) {
    std::error_code error;
    const fs::path absolute = fs::absolute(path, error);
    return (error ? fs::path(path) : absolute).lexically_normal().string();
}

// A member of an object; null when value is no object or lacks it.
const Json& Field(const Json& value, const char* name) {
    static const Json kNull;
    if (!value.is_object()) {
        return kNull;
    }
    const auto at = value.find(name);
    return at == value.end() ? kNull : *at;
}

// Equal whatever the order of their members (a record written by hand or by
// another tool may have another).
bool Same(const Json& a, const Json& b) {
    return nlohmann::json::parse(a.dump()) == nlohmann::json::parse(b.dump());
}

std::string TextOf(const Json& value) {
    return value.is_string() ? value.get<std::string>() : std::string();
}

std::optional<Json> ReadJson(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    Json value = Json::parse(in, nullptr, false);
    if (value.is_discarded() || !value.is_object()) {
        return std::nullopt;
    }
    return value;
}

// The GUID of an engine's temporary or scratch file (".GUID.part",
// ".GUID.stats.mbtree", ...), or empty for any other name.
std::string ScratchGuid(const std::string& name) {
    static const char kShape[] = "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx";
    const size_t length = sizeof kShape - 1;
    if (name.size() < length + 3 || name[0] != '.' || name[length + 1] != '.') {
        return std::string();
    }
    for (size_t i = 0; i < length; ++i) {
        const char c = name[i + 1];
        if (kShape[i] == '-' ? c != '-' : !std::isxdigit(static_cast<unsigned char>(c))) {
            return std::string();
        }
    }
    return name.substr(1, length);
}

std::string ShardsRecordPath(const std::string& folder, const BatchIdentity& batch) {
    return (fs::path(folder) / kRecordFolder /
            ("batch-" + batch.list + "-" + batch.settings + ".json"))
        .string();
}

} // namespace

Json FileIdentity(const std::string& path) {
    std::error_code error;
    const uintmax_t size = fs::file_size(path, error);
    if (error) {
        return Json();
    }
    const fs::file_time_type modified = fs::last_write_time(path, error);
    if (error) {
        return Json();
    }
    return Json{{"size", static_cast<uint64_t>(size)},
                {"modified", static_cast<int64_t>(modified.time_since_epoch().count())}};
}

Json DecidingSettings(const OutputChoice& choice) {
    nvt::ICustomPresetFactory* raw = nullptr;
    Check(CreateCustomPresetFactory(&raw), "cannot make the preset factory");
    Json settings = PresetJson(std::string(), ResolvePresetData(choice, *Adopt(raw)));
    for (const char* notDeciding : {"file", "name", "created_ms"}) {
        settings.erase(notDeciding);
    }
    const JobSettings& job = choice.job;
    settings["audio_tracks"] = job.audioTracks ? Json(*job.audioTracks) : Json("all");
    settings["subtitle_tracks"] = job.subtitleTracks;
    settings["burn_subtitles"] = job.burnSubtitles;
    settings["flip"] = job.flip ? Json(*job.flip) : Json();
    settings["angle"] = job.angle ? Json(*job.angle) : Json();
    settings["title"] = job.title ? Json(*job.title) : Json();
    return settings;
}

CompletionRecords::CompletionRecords(const std::string& outputFolder, Json settings)
    : folder_(outputFolder), settings_(std::move(settings)) {}

std::string CompletionRecords::RecordPath(const std::string& output) const {
    // Named by a digest: an output's own name may be as long as the
    // system allows.
    return (fs::path(folder_) / kRecordFolder /
            (TextDigest(fs::path(output).filename().string()) + ".json"))
        .string();
}

Json CompletionRecords::InputIdentity(const std::string& input) const {
    Json identity = FileIdentity(input);
    if (!identity.is_null()) {
        identity["path"] = AbsolutePath(input);
    }
    return identity;
}

ResumeDecision CompletionRecords::Check(const std::string& input, const std::string& output,
                                        bool overwrite) const {
    std::error_code error;
    ResumeDecision decision;
    if (!fs::exists(fs::symlink_status(output, error)) || fs::equivalent(output, input, error)) {
        return decision; // nothing there, or the output checks refuse it
    }
    if (overwrite) {
        decision.replace = true;
        decision.note = "replaced (--overwrite)";
        return decision;
    }
    std::string why;
    const std::optional<Json> found = ReadJson(RecordPath(output));
    const Json& record = found ? *found : Field(Json(), "");
    const Json source = InputIdentity(input);
    const std::string state = TextOf(Field(record, "state"));
    if (!fs::is_regular_file(output, error)) {
        why = "is not a file";
    } else if (Field(record, "format") != kRecordFormat ||
               TextOf(Field(Field(record, "output"), "name")) !=
                   fs::path(output).filename().string()) {
        why = "no record shows it to be a finished output of this batch";
    } else if (Field(Field(record, "input"), "path") != Field(source, "path")) {
        why = "it was made from another input, " + TextOf(Field(Field(record, "input"), "path"));
    } else if (!Same(Field(record, "input"), source)) {
        why = "its input has changed since it was made";
    } else if (!Same(Field(record, "settings"), settings_)) {
        why = "it was made with other settings";
    } else if (state == "started") {
        decision.replace = true;
        decision.note = "made again: the run that wrote it was cut short before it could tell "
                        "the output finished";
        return decision;
    } else if (state != "finished" ||
               !Same(Field(Field(record, "output"), "identity"), FileIdentity(output))) {
        why = "it has changed since it was finished";
    } else {
        decision.action = ResumeDecision::Skip;
        decision.note = "already complete: finished by an earlier run";
        return decision;
    }
    decision.action = ResumeDecision::Refuse;
    decision.note = output + ": exists, but " + why + " (give --overwrite to replace it)";
    return decision;
}

void CompletionRecords::Started(const std::string& input, const std::string& output) const {
    std::error_code error;
    fs::create_directories(fs::path(folder_) / kRecordFolder, error);
    WriteJsonFile(RecordPath(output),
                  Json{{"format", kRecordFormat},
                       {"state", "started"},
                       {"input", InputIdentity(input)},
                       {"settings", settings_},
                       {"output", {{"name", fs::path(output).filename().string()}}},
                       {"at_ms", NowMs()}});
}

bool CompletionRecords::Finished(const std::string& input, const std::string& output) const {
    try {
        WriteJsonFile(RecordPath(output), Json{{"format", kRecordFormat},
                                               {"state", "finished"},
                                               {"input", InputIdentity(input)},
                                               {"settings", settings_},
                                               {"output",
                                                {{"name", fs::path(output).filename().string()},
                                                 {"identity", FileIdentity(output)}}},
                                               {"at_ms", NowMs()}});
        return true;
    } catch (const Failure&) {
        return false;
    }
}

void CompletionRecords::Forget(const std::string& output) const {
    std::error_code ignored;
    fs::remove(RecordPath(output), ignored);
}

std::optional<EarlierShards> CompletionRecords::EarlierRun(const BatchIdentity& batch,
                                                           const std::string& reportFile) const {
    const auto from = [&](const Json& shards, const std::string& where) {
        std::optional<EarlierShards> earlier;
        const Json& count = Field(shards, "count");
        if (!count.is_number_unsigned() || count.get<uint64_t>() == 0 ||
            count.get<uint64_t>() > UINT32_MAX) {
            return earlier;
        }
        earlier = EarlierShards{count.get<uint32_t>(), std::nullopt, std::nullopt, where};
        const Json& first = Field(shards, "slurm_first");
        const Json& step = Field(shards, "slurm_step");
        if (first.is_number_unsigned() && step.is_number_unsigned() && step.get<uint64_t>() > 0) {
            earlier->slurmFirst = first.get<uint64_t>();
            earlier->slurmStep = step.get<uint64_t>();
        }
        return earlier;
    };
    const std::string kept = ShardsRecordPath(folder_, batch);
    if (const std::optional<Json> record = ReadJson(kept)) {
        if (const auto earlier = from(*record, kept)) {
            return earlier;
        }
    }
    if (reportFile.empty()) {
        return std::nullopt;
    }
    const std::optional<Json> report = ReadJson(reportFile);
    if (!report || Field(Field(*report, "batch"), "list") != batch.list ||
        Field(Field(*report, "batch"), "settings") != batch.settings) {
        return std::nullopt;
    }
    return from(Field(*report, "shard"), reportFile);
}

void CompletionRecords::RememberShards(const BatchIdentity& batch, const Shard& shard) const {
    const std::string path = ShardsRecordPath(folder_, batch);
    std::error_code error;
    if (fs::exists(path, error)) {
        return;
    }
    fs::create_directories(fs::path(folder_) / kRecordFolder, error);
    Json record{{"files", batch.files}, {"count", shard.count}};
    if (shard.slurmFirst && shard.slurmStep) {
        record["slurm_first"] = *shard.slurmFirst;
        record["slurm_step"] = *shard.slurmStep;
    }
    try {
        WriteJsonFile(path, record);
    } catch (const Failure&) {
        // Only a later part of the array submitted again needs it.
    }
}

std::vector<std::string> RemoveLeftoverScratch(const std::string& folder) {
    std::map<std::string, std::vector<fs::path>> byGuid;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        const std::string guid = ScratchGuid(it->path().filename().string());
        if (!guid.empty() && !it->is_directory(error)) {
            byGuid[guid].push_back(it->path());
        }
    }
    std::vector<std::string> removed;
    for (const auto& group : byGuid) {
        // The engine holds its work file locked while its job lives; its
        // scratch files go with it.
        const fs::path work = fs::path(folder) / ("." + group.first + ".part");
        if (fs::exists(work, error)) {
            if (!RemoveUnlessLocked(work.string())) {
                continue;
            }
            removed.push_back(work.filename().string());
        }
        for (const fs::path& file : group.second) {
            if (file != work && fs::remove(file, error)) {
                removed.push_back(file.filename().string());
            }
        }
    }
    return removed;
}

void AnnounceSkipped(bool json, const std::string& input, const std::string& output) {
    if (json) {
        Json event;
        event["event"] = "file_skipped";
        event["input"] = input;
        event["output"] = output;
        PrintJson(event);
    } else {
        std::fprintf(stderr, "skip  %s -> %s (already complete)\n", input.c_str(), output.c_str());
    }
}

} // namespace norv
