#include "parts/film_parts.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <sstream>
#include <thread>

#include "batch/batch_report.h"
#include "batch/batch_resume.h"
#include "batch/path_list.h"
#include "batch/shard.h"
#include "common/console.h"
#include "common/engine.h"
#include "common/media.h"
#include "common/os_files.h"
#include "common/transcode_run.h"
#include "parts/film_scan.h"
#include "parts/part_plan.h"
#include "parts/stitch.h"
#include "pipeline/encoders.h"
#include "platform/guid.h"
#include "quality/quality_mode.h"
#include "timing/progress.h"

namespace norv {

namespace {

namespace fs = std::filesystem;

// A limited output's parts aim this far below their share: the encoder's
// spread around its target stays inside the limit.
constexpr double kLimitAim = 0.975;

// What every task of a film works out alike.
struct FilmPlan {
    Sources sources;
    std::vector<std::string> paths;
    std::vector<PartSpan> spans;
    std::vector<double> bitrates; ///< per part, bits per second as the settings take them
    std::string folder;           ///< OUT.parts
    std::string extension;
    uint64_t estimate = 0; ///< the whole job's predicted size, bytes
    uint64_t limit = 0;    ///< 0: none
    std::vector<uint32_t> audioKbps;
    uint32_t minKbps = 0;
};

std::string AbsolutePath(const std::string& path) {
    std::error_code error;
    const fs::path absolute = fs::absolute(path, error);
    return (error ? fs::path(path) : absolute).lexically_normal().string();
}

std::string PartName(const FilmPlan& plan, size_t k, const char* ending) {
    return (fs::path(plan.folder) /
            ("part-" + std::to_string(k + 1) + "-of-" + std::to_string(plan.spans.size()) + ending))
        .string();
}
std::string PartFile(const FilmPlan& plan, size_t k) {
    return PartName(plan, k, ("." + plan.extension).c_str());
}
std::string PartPlaylist(const FilmPlan& plan, size_t k) {
    return PartName(plan, k, ".ffconcat");
}

std::string PartLabel(const FilmPlan& plan, size_t k) {
    return "part " + std::to_string(k + 1) + " of " + std::to_string(plan.spans.size());
}

// A name in an ffconcat line: quoted, a quote inside written as FFmpeg's
// reader takes it ('\'').
std::string Quoted(const std::string& path) {
    std::string quoted = "'";
    for (char c : path) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

std::string Seconds(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.6f", value);
    return text;
}

std::string PlaylistText(const PartSpan& span) {
    std::ostringstream text;
    text << "ffconcat version 1.0\n";
    for (const PartEntry& entry : span.entries) {
        text << "file " << Quoted(entry.path) << "\n";
        // An entry cut short names its first picture as its start too: the
        // engine counts its length from there, not from the file's start,
        // which the sound may open before the picture.
        if (!entry.fromStart || !entry.toEnd) {
            text << "inpoint " << Seconds(entry.inpoint) << "\n";
        }
        if (!entry.toEnd) {
            text << "outpoint " << Seconds(entry.outpoint) << "\n";
        }
    }
    return text.str();
}

// Writes the part's playlist unless it holds that already: its record
// names it by size and time, and every task writes the same text.
void WritePlaylist(const std::string& path, const std::string& text) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream there;
    there << in.rdbuf();
    if (in && there.str() == text) {
        return;
    }
    const std::string temporary = path + ".tmp-" + std::to_string(NowMs());
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << text;
        if (!out.flush()) {
            throw Failure(path + ": cannot be written", nvt::ENG_ERR);
        }
    }
    std::error_code error;
    fs::rename(temporary, path, error);
    if (error) {
        fs::remove(temporary, error);
        throw Failure(path + ": cannot be written", nvt::ENG_ERR);
    }
}

// The choice a part is transcoded with: the job's, its video alone at the
// part's share in two passes, with nothing else to meet.
OutputChoice PartChoice(const OutputChoice& job, double bitrate) {
    OutputChoice part = job;
    part.preset.videoBitrate = static_cast<uint32_t>(std::lround(bitrate));
    part.preset.twoPass = true;
    part.preset.sizeLimit = 0;
    part.preset.priority = nvt::prioVideoBitrate;
    part.job.audioTracks = std::vector<uint32_t>();
    if (!part.job.burnSubtitles) {
        part.job.subtitleTracks.clear();
    }
    return part;
}

// What the records of a part hold as its settings: the part's own and the
// whole film's (its files, the count and the span).
Json PartSettings(const FilmPlan& plan, const OutputChoice& job, size_t k) {
    Json settings = DecidingSettings(PartChoice(job, plan.bitrates[k]));
    Json inputs = Json::array();
    for (const std::string& path : plan.paths) {
        Json identity = FileIdentity(path);
        identity["path"] = AbsolutePath(path);
        inputs.push_back(identity);
    }
    settings["film"] = Json{{"inputs", inputs},
                            {"parts", plan.spans.size()},
                            {"part", k + 1},
                            {"from", Seconds(plan.spans[k].from)},
                            {"to", Seconds(plan.spans[k].to)}};
    return settings;
}

// Works out the film's plan. Under --quality (a local run only) the probe
// of the whole film picks its video bitrate first, set in in.choice: the
// parts share it as they would the bitrate given.
FilmPlan PlanFilm(Invocation& in, nvt::ITranscodeEngineInfo* info) {
    FilmPlan plan;
    plan.sources = AnalyseJoined(in.inputs);
    std::optional<QualityPlan> quality;
    if (in.quality) {
        quality = PlanQuality(plan.sources, in.choice, info, *in.quality,
                              ChooseProgressMode(in.json), in.progressPeriod, in.inputs.front());
    }
    for (const Ptr<nvt::ISourceMedia>& source : plan.sources) {
        nvt::WideString path;
        source->GetFilePath(path);
        plan.paths.push_back(Narrow(path));
    }
    for (const std::string& path : plan.paths) {
        const auto named = std::find_if(in.inputs.begin(), in.inputs.end(), [&](const auto& i) {
            std::error_code error;
            return fs::equivalent(i, path, error);
        });
        if (named == in.inputs.end()) {
            throw Failure(path + ": is read through a playlist; --parts takes the media files "
                                 "themselves",
                          nvt::ENG_INVALID_INPUT_ERR);
        }
    }
    // The whole job as one session would derive it: its bitrates, range and
    // predicted size.
    const Ptr<nvt::ITranscodeOutputSettings> settings =
        MakeOutputSettings(in.choice, plan.sources.front().get());
    plan.extension = OutputExtension(static_cast<nvt::NorvProfile>(settings->GetProfile()), info);
    plan.limit = settings->HasFileSizeLimit() ? settings->GetFileSizeLimit() : 0;
    const Ptr<nvt::ITranscodeSession> session =
        MakeSession(plan.sources, settings.get(), info, in.choice.job.enginePriority);
    const Ptr<nvt::ITranscodeOutputProperties> properties = DeriveOutput(*session);
    uint64_t videoKbps = 0;
    uint32_t maxKbps = 0;
    Check(properties->GetBitrates(&videoKbps, plan.audioKbps), "cannot derive the bitrates");
    Check(properties->GetVideoBitrateRange(&plan.minKbps, &maxKbps),
          "cannot derive the bitrate range");
    Check(properties->GetEstimatedSize(&plan.estimate), "cannot derive the size");
    if (quality) {
        SettlePlan(*quality, *properties, TotalDurationMs(plan.sources) / 1000.0);
        AnnounceQualityPlan(*quality, in.json);
    }

    const FilmScan film = ScanFilm(plan.paths);
    try {
        plan.spans = SplitFilm(film, in.parts);
    } catch (const SplitError& e) {
        throw Failure(e.what(), nvt::ENG_OUTOFRANGE_ERR);
    }
    // Settings take bits per second that the library reads as kbps of a
    // thousand; the derived rates are in those kbps.
    const double whole = static_cast<double>(videoKbps) * 1000.0 * (plan.limit > 0 ? kLimitAim : 1);
    // No part's average above the rate the whole job's encoder may reach at
    // a moment: the joined stream asks no more of a player than the whole
    // job's would.
    const double highest = std::min(maxKbps * 1000.0, whole * norv_engine::kMaxRateFactor);
    plan.bitrates = ShareBitrate(plan.spans, whole, plan.minKbps * 1000.0, highest);
    plan.folder = AbsolutePath(in.output) + ".parts";
    return plan;
}

BatchIdentity FilmIdentity(const FilmPlan& plan, const OutputChoice& job) {
    BatchIdentity identity;
    std::string list;
    for (const std::string& path : plan.paths) {
        list += AbsolutePath(path) + '\n';
    }
    identity.list = TextDigest(list);
    identity.files = plan.spans.size();
    identity.settings = TextDigest(DecidingSettings(job).dump());
    return identity;
}

// Transcodes part k unless a finished part of this film is there. Throws
// Failure.
void RunPart(const Invocation& in, const FilmPlan& plan, size_t k, nvt::ITranscodeEngineInfo* info,
             ProgressMode mode) {
    std::error_code error;
    fs::create_directories(plan.folder, error);
    if (!fs::is_directory(plan.folder, error)) {
        throw Failure(plan.folder + ": cannot be made", nvt::CRTL_FILE_DOES_NOT_EXIST);
    }
    RemoveLeftoverScratch(plan.folder);
    const std::string playlist = PartPlaylist(plan, k);
    const std::string output = PartFile(plan, k);
    Shard shard;
    shard.index = static_cast<uint32_t>(k + 1);
    shard.count = static_cast<uint32_t>(plan.spans.size());
    const std::string reportPath = !in.reportFile.empty() && in.partText.size() > 0
                                       ? in.reportFile
                                       : PartName(plan, k, ".report.json");
    ShardReport report(shard, FilmIdentity(plan, in.choice), {playlist}, {output}, reportPath);
    report.SetDuration(0, plan.spans[k].to - plan.spans[k].from);
    report.Save();
    const auto start = std::chrono::steady_clock::now();
    bool ended = false; // the report tells the end already
    const auto fail = [&](nvt::Result result, const std::string& why) {
        ended = true;
        report.Ended(
            0, result,
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), why);
        report.Save();
        throw Failure(PartLabel(plan, k) + ": " + why, result);
    };
    const CompletionRecords records(plan.folder, PartSettings(plan, in.choice, k));
    WritePlaylist(playlist, PlaylistText(plan.spans[k]));
    const ResumeDecision decision = records.Check(playlist, output, in.overwrite);
    if (decision.action == ResumeDecision::Skip) {
        report.Skipped(0, decision.note);
        report.Save();
        AnnounceSkipped(in.json, playlist, output);
        return;
    }
    if (decision.action == ResumeDecision::Refuse) {
        fail(nvt::CTRL_DUPLICATE_FILE, decision.note);
    }
    if (!decision.note.empty()) {
        report.Noted(0, decision.note);
    }
    const PartSpan& span = plan.spans[k];
    if (in.json) {
        PrintJson(Json{{"event", "part_started"},
                       {"part", k + 1},
                       {"parts", plan.spans.size()},
                       {"from_seconds", span.from},
                       {"to_seconds", span.to},
                       {"video_bitrate", std::lround(plan.bitrates[k])}});
    } else {
        std::fprintf(stderr, "%s: %.3f s to %.3f s of the film, video at %.0f kbit/s\n",
                     PartLabel(plan, k).c_str(), span.from, span.to, plan.bitrates[k] / 1000.0);
    }
    try {
        records.Started(playlist, output);
        const Sources sources = AnalyseFile(playlist);
        const OutputChoice choice = PartChoice(in.choice, plan.bitrates[k]);
        const Ptr<nvt::ITranscodeOutputSettings> settings =
            MakeOutputSettings(choice, sources.front().get());
        Ptr<nvt::ITranscodeSession> session =
            MakeSession(sources, settings.get(), info, in.choice.job.enginePriority);
        TranscodeProgress progress(mode, in.progressPeriod, output);
        const RunOutcome outcome = RunTranscode(std::move(session), sources, output, progress);
        if (outcome.result != nvt::SUCCESS) {
            records.Forget(output);
            fail(outcome.result,
                 outcome.cancelled ? "cancelled, no part left" : "transcode failed");
        }
        if (!records.Finished(playlist, output)) {
            fail(nvt::ENG_ERR, "its completion record cannot be written");
        }
    } catch (const Failure& e) {
        if (ended) {
            throw;
        }
        records.Forget(output);
        fail(e.result(), e.what());
    }
    report.Ended(0, nvt::SUCCESS,
                 std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
                 std::string());
    report.Save();
}

// Every part is there, finished, and made for this film with these
// settings; otherwise a Failure naming each that is not.
void CheckParts(const Invocation& in, const FilmPlan& plan) {
    std::string problems;
    nvt::Result result = nvt::CRTL_FILE_DOES_NOT_EXIST; // until a part is there but unfit
    for (size_t k = 0; k < plan.spans.size(); ++k) {
        const std::string output = PartFile(plan, k);
        std::error_code error;
        std::string problem;
        if (!fs::exists(output, error)) {
            problem = "is missing (" + output + "): run its task again";
        } else {
            const CompletionRecords records(plan.folder, PartSettings(plan, in.choice, k));
            const ResumeDecision decision = records.Check(PartPlaylist(plan, k), output, false);
            if (decision.action != ResumeDecision::Skip) {
                result = nvt::ENG_NOT_COMPATIBLE;
                problem = "cannot be joined: " + decision.note;
                const std::string tail = " (give --overwrite to replace it)";
                if (problem.size() > tail.size() &&
                    problem.compare(problem.size() - tail.size(), tail.size(), tail) == 0) {
                    problem.erase(problem.size() - tail.size());
                }
                problem += "; run its task again with --overwrite";
            }
        }
        if (!problem.empty()) {
            problems += (problems.empty() ? "" : "; ") + PartLabel(plan, k) + " " + problem;
        }
    }
    if (!problems.empty()) {
        throw Failure("cannot join " + in.output + ": " + problems, result);
    }
}

std::string ScratchName() {
    std::string guid = NorvOS::NewGuidText();
    guid.erase(
        std::remove_if(guid.begin(), guid.end(), [](char c) { return c == '{' || c == '}'; }),
        guid.end());
    std::transform(guid.begin(), guid.end(), guid.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (guid.empty()) {
        guid = std::to_string(NowMs());
    }
    return guid;
}

// The whole film transcoded as the job would be, but for its video, copied
// from the source or else a small and cheap picture: the audio, subtitles,
// chapters and titles the join keeps.
void MakeWholeFilm(const Invocation& in, const FilmPlan& plan, const std::string& output,
                   nvt::ITranscodeEngineInfo* info, ProgressMode mode) {
    const Ptr<nvt::ITranscodeOutputSettings> settings =
        MakeOutputSettings(in.choice, plan.sources.front().get());
    settings->SetFileSizeLimit(0);
    settings->SetPriority(nvt::prioVideoBitrate);
    if (plan.limit > 0 && !plan.audioKbps.empty()) {
        // A limit may have lowered the audio: keep what the whole job takes.
        settings->SetAudioBitrates(plan.audioKbps);
    }
    constexpr uint32_t kSmallWidth = 160, kSmallHeight = 96;
    uint32_t width = kSmallWidth, height = kSmallHeight;
    if (settings->AlignResolution(&width, &height) == nvt::SUCCESS) {
        settings->SetResolution(width, height);
    }
    settings->SetVideoBitrate(std::max<uint32_t>(plan.minKbps, 1) * 1000);
    // Copied, its video costs no decoding; where the engine cannot copy
    // it, it encodes the small picture instead.
    settings->SetVideoPassthrough(true);
    settings->SetVideo2Pass(false);
    settings->SetHevcQualityLevel(nvt::hevc_ql_fastest);
    Ptr<nvt::ITranscodeSession> session =
        MakeSession(plan.sources, settings.get(), info, in.choice.job.enginePriority);
    TranscodeProgress progress(mode, in.progressPeriod, output);
    const RunOutcome outcome = RunTranscode(std::move(session), plan.sources, output, progress);
    if (outcome.cancelled) {
        throw Failure("cancelled, no output left", nvt::Aborted);
    }
    if (outcome.result != nvt::SUCCESS) {
        throw Failure(outcome.failedSource + ": the whole film's audio could not be made",
                      outcome.result);
    }
}

void Join(const Invocation& in, const FilmPlan& plan, nvt::ITranscodeEngineInfo* info,
          ProgressMode mode) {
    CheckOutputPath(in.output, in.inputs, in.overwrite);
    CheckParts(in, plan);
    const std::string whole =
        (fs::path(plan.folder) / ("whole-" + ScratchName() + "." + plan.extension)).string();
    const std::string temporary =
        (fs::path(AbsolutePath(in.output)).parent_path() / ("." + ScratchName() + ".part"))
            .string();
    std::error_code error;
    StitchFigures figures;
    try {
        MakeWholeFilm(in, plan, whole, info, mode);
        std::vector<std::string> parts;
        for (size_t k = 0; k < plan.spans.size(); ++k) {
            parts.push_back(PartFile(plan, k));
        }
        // Held while written, as the engine holds its own: a run that
        // clears the folder of dead engines' files leaves it be.
        const FileLock writing = FileLock::Wait(temporary);
        figures = Stitch(parts, whole, temporary);
        if (figures.frames != figures.wholeFrames) {
            throw Failure("the parts hold " + std::to_string(figures.frames) +
                              " pictures, the whole film " + std::to_string(figures.wholeFrames),
                          nvt::ENG_INVALID_STREAM);
        }
        if (plan.limit > 0 && figures.bytes > plan.limit) {
            throw Failure("the joined output takes " + std::to_string(figures.bytes) +
                              " bytes, more than the limit of " + std::to_string(plan.limit),
                          nvt::ENG_OUTOFRANGE_ERR);
        }
        SyncFile(temporary);
        fs::rename(temporary, AbsolutePath(in.output));
        SyncFolder(fs::path(AbsolutePath(in.output)).parent_path().string());
    } catch (...) {
        fs::remove(temporary, error);
        fs::remove(whole, error);
        throw;
    }
    fs::remove_all(plan.folder, error);
    const double deviation =
        plan.estimate > 0
            ? (static_cast<double>(figures.bytes) / static_cast<double>(plan.estimate) - 1.0)
            : 0.0;
    if (in.json) {
        PrintJson(Json{{"event", "joined"},
                       {"output", in.output},
                       {"parts", plan.spans.size()},
                       {"frames", figures.frames},
                       {"bytes", figures.bytes},
                       {"estimate_bytes", plan.estimate},
                       {"video_seconds", figures.videoSeconds},
                       {"audio_seconds", figures.audioSeconds}});
    } else {
        std::fprintf(stderr,
                     "joined %zu parts -> %s: %llu pictures, %llu bytes (%+.1f %% of the "
                     "estimate)\n",
                     plan.spans.size(), in.output.c_str(),
                     static_cast<unsigned long long>(figures.frames),
                     static_cast<unsigned long long>(figures.bytes), deviation * 100.0);
    }
}

// Every part on up to jobs local engines at once, then the join.
void RunLocally(const Invocation& in, const FilmPlan& plan, nvt::ITranscodeEngineInfo* info) {
    const size_t jobs = std::min<size_t>(EffectiveJobs(in.jobs), plan.spans.size());
    const ProgressMode mode = in.json ? ProgressMode::Json : ProgressMode::Plain;
    std::atomic<size_t> next{0};
    std::mutex lock;
    std::vector<std::string> errors;
    nvt::Result firstResult = nvt::SUCCESS;
    auto work = [&] {
        for (size_t k = next++; k < plan.spans.size() && !InterruptRequested(); k = next++) {
            try {
                RunPart(in, plan, k, info, mode);
            } catch (const Failure& e) {
                const std::lock_guard<std::mutex> guard(lock);
                errors.push_back(e.what());
                if (firstResult == nvt::SUCCESS) {
                    firstResult = e.result();
                }
            }
        }
    };
    std::vector<std::thread> threads;
    for (size_t j = 0; j < jobs; ++j) {
        threads.emplace_back(work);
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    if (InterruptRequested()) {
        throw Failure("cancelled; the finished parts are kept for the next run", nvt::Aborted);
    }
    if (!errors.empty()) {
        std::string all;
        for (const std::string& e : errors) {
            all += (all.empty() ? "" : "; ") + e;
        }
        throw Failure(all, firstResult);
    }
    Join(in, plan, info, mode);
}

} // namespace

int CommandFilmParts(const Invocation& given) {
    if (given.quality && (given.join || !given.partText.empty())) {
        // Each task's probe would be its own, and a bitrate chosen apart
        // need not be the one the other parts and the join were given.
        throw Failure("--quality with --part or --join: every task would probe the film on its "
                      "own; choose the bitrate once (norv preview --quality ... FILE) and give "
                      "its video bitrate to every task and the join as --video-bitrate",
                      nvt::InvalidArgument);
    }
    const Ptr<nvt::ITranscodeEngineInfo> info = StartEngine(LocateEngine(given.engine), true);
    Invocation in = given;
    const FilmPlan plan = PlanFilm(in, info.get());
    const ProgressMode mode = ChooseProgressMode(in.json);
    if (in.join) {
        Join(in, plan, info.get(), mode);
    } else if (!in.partText.empty()) {
        Shard part;
        try {
            // Plain auto counts the parts from --parts: an indexed Job does
            // not tell its count, and an array must agree with it.
            part = ResolveShard(in.partText == "auto" ? "auto/" + std::to_string(plan.spans.size())
                                                      : in.partText,
                                ProcessEnvironment);
        } catch (const ShardError& e) {
            // The shard's words, for the option that took them here.
            std::string why = e.what();
            for (size_t at = why.find("--shard"); at != std::string::npos;
                 at = why.find("--shard", at)) {
                why.replace(at, 7, "--part");
            }
            throw Failure(why, nvt::ENG_INVALID_INPUT_ERR);
        }
        if (part.count != plan.spans.size()) {
            throw Failure("--part " + in.partText + " names part " + std::to_string(part.index) +
                              " of " + std::to_string(part.count) + ", but the film is cut into " +
                              std::to_string(plan.spans.size()) + " (--parts)",
                          nvt::ENG_INVALID_INPUT_ERR);
        }
        RunPart(in, plan, part.index - 1, info.get(), mode);
    } else {
        RunLocally(in, plan, info.get());
    }
    return 0;
}

} // namespace norv
