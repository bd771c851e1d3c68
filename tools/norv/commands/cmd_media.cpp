// norv analyze, norv preview: what the engine finds in files, and what the
// library derives for an output from them.
#include <chrono>
#include <cstdio>

#include "commands/commands.h"
#include "common/console.h"
#include "common/engine.h"
#include "common/json_output.h"
#include "common/media.h"
#include "common/transcode_run.h"
#include "timing/estimate.h"
#include "timing/preview.h"
#include "timing/progress.h"

namespace norv {

namespace {

std::string FormatBytes(uint64_t bytes) {
    static const char* const kUnits[] = {"B", "KiB", "MiB", "GiB", "TiB"};
    double value = static_cast<double>(bytes);
    size_t unit = 0;
    while (value >= 1024 && unit + 1 < sizeof kUnits / sizeof kUnits[0]) {
        value /= 1024;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, unit == 0 ? "%.0f %s" : "%.1f %s", value, kUnits[unit]);
    return text;
}

std::string Quoted(const Json& text) {
    const std::string value = text.get<std::string>();
    return value.empty() ? std::string() : "  \"" + value + "\"";
}

// A bitrate the container does not state (0) is shown as unknown.
std::string Kbps(double bitsPerSecond) {
    if (bitsPerSecond <= 0) {
        return "? kb/s";
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.0f kb/s", bitsPerSecond / 1000);
    return text;
}

void PrintAudio(const char* kind, const Json& tracks) {
    for (const Json& t : tracks) {
        std::printf("  %-6s #%-3d %-8s %d ch  %d Hz  %d bit  %s  %s%s\n", kind, t["id"].get<int>(),
                    ShortName(t["codec"].get<std::string>().c_str()).c_str(),
                    t["channels"].get<int>(), t["sample_rate"].get<int>(),
                    t["bits_per_sample"].get<int>(), Kbps(t["bitrate"].get<double>()).c_str(),
                    t["language"].get<std::string>().c_str(), Quoted(t["name"]).c_str());
    }
}

// The tracks offered for output ("audio+") are listed only when they are not
// simply the source's audio tracks again.
bool SameTracks(const Json& a, const Json& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i]["id"] != b[i]["id"] || a[i]["codec"] != b[i]["codec"]) {
            return false;
        }
    }
    return true;
}

void PrintSource(const Json& s) {
    std::printf("%s\n  %s, %s, %s\n", s["path"].get<std::string>().c_str(),
                s["container"].get<std::string>().c_str(),
                FormatDuration(s["duration_ms"].get<uint64_t>() / 1000.0).c_str(),
                FormatBytes(s["size"].get<uint64_t>()).c_str());
    for (const Json& v : s["video"]) {
        std::printf("  video  #%-3d %-8s %dx%d  %.3f fps  aspect %.3f  %s\n", v["id"].get<int>(),
                    ShortName(v["codec"].get<std::string>().c_str()).c_str(), v["width"].get<int>(),
                    v["height"].get<int>(), v["frame_rate"].get<double>(),
                    v["aspect"].get<double>(), Kbps(v["bitrate"].get<double>()).c_str());
    }
    PrintAudio("audio", s["audio"]);
    if (!SameTracks(s["audio"], s["high_level_audio"])) {
        PrintAudio("audio+", s["high_level_audio"]);
    }
    for (const Json& t : s["unsupported_audio"]) {
        std::printf("  audio? %s (not supported)%s\n",
                    ShortName(t["codec"].get<std::string>().c_str()).c_str(),
                    Quoted(t["name"]).c_str());
    }
    for (const Json& t : s["subtitles"]) {
        std::printf("  sub    #%-3d %-8s %s%s\n", t["id"].get<int>(),
                    ShortName(t["type"].get<std::string>().c_str()).c_str(),
                    t["language"].get<std::string>().c_str(), Quoted(t["name"]).c_str());
    }
}

} // namespace

int CommandAnalyze(const Invocation& in) {
    StartEngine(LocateEngine(in.engine), false);
    const std::vector<Analysis> results = AnalyseAll(in.inputs, in.jobs);
    Json all = Json::array();
    bool failed = false;
    for (const Analysis& a : results) {
        Json entry{{"input", a.input}};
        if (a.result != nvt::SUCCESS) {
            failed = true;
            entry["error"] = a.error;
            entry["result"] = nvt::EnumName<nvt::Result>(a.result);
            entry["code"] = static_cast<int>(a.result);
            std::fprintf(stderr, "norv: %s: %s\n", a.error.c_str(), Describe(a.result).c_str());
        } else {
            entry["sources"] = Json::array();
            for (const Ptr<nvt::ISourceMedia>& source : a.sources) {
                entry["sources"].push_back(SourceJson(*source));
            }
        }
        all.push_back(entry);
    }
    if (in.json) {
        PrintJson(all);
    } else {
        for (const Json& entry : all) {
            for (const Json& source : entry.value("sources", Json::array())) {
                PrintSource(source);
            }
        }
    }
    if (InterruptRequested()) {
        throw Failure("cancelled before every file was analysed", nvt::Aborted);
    }
    return failed ? 1 : 0;
}

int CommandPreview(const Invocation& in) {
    const auto start = std::chrono::steady_clock::now();
    const Ptr<nvt::ITranscodeEngineInfo> info = StartEngine(LocateEngine(in.engine), true);
    const Sources sources = AnalyseJoined(in.inputs);
    const OutputPreview preview = PreviewOutput(sources, in.choice, info.get());
    const Ptr<nvt::ITranscodeOutputSettings>& settings = preview.settings;
    const auto profile = static_cast<nvt::NorvProfile>(settings->GetProfile());
    Json j = preview.json;
    MeasuredEstimate measured = preview.measured;
    if (in.measure) {
        const double setup =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        measured = MeasureRun(
            MakeSession(sources, settings.get(), info.get(), in.choice.job.enginePriority), sources,
            preview.work, OutputExtension(profile, info.get()), setup);
        AddEstimateJson(j, measured);
    }
    j["sources"] = Json::array();
    for (const Ptr<nvt::ISourceMedia>& source : sources) {
        nvt::WideString path;
        source->GetFilePath(path);
        j["sources"].push_back(Narrow(path));
    }
    if (in.json) {
        PrintJson(j);
        return 0;
    }
    const Json profileFacts = ProfileJson(profile, info.get(), 0.0);
    std::printf("profile     %s (%s, %s)\n", j["profile"].get<std::string>().c_str(),
                profileFacts["display_name"].get<std::string>().c_str(),
                profileFacts["description"].get<std::string>().c_str());
    std::printf("sources     %zu, %s\n", sources.size(),
                FormatDuration(TotalDurationMs(sources) / 1000.0).c_str());
    std::printf("picture     %ux%u, aspect %s\n", j["width"].get<unsigned>(),
                j["height"].get<unsigned>(), j["aspect"].get<std::string>().c_str());
    std::printf("video       %llu kb/s (allowed %u-%u)\n",
                static_cast<unsigned long long>(j["video_kbps"].get<uint64_t>()),
                j["video_kbps_range"][0].get<unsigned>(), j["video_kbps_range"][1].get<unsigned>());
    std::string audio;
    for (const Json& kbps : j["audio_kbps"]) {
        audio += (audio.empty() ? "" : ", ") + std::to_string(kbps.get<unsigned>()) + " kb/s";
    }
    std::printf("audio       %s\n", audio.empty() ? "none" : audio.c_str());
    const Json& trick = j["trickplay"];
    if (trick["width"].get<unsigned>() != 0) {
        std::printf("trick-play  %ux%u, %u kb/s\n", trick["width"].get<unsigned>(),
                    trick["height"].get<unsigned>(), trick["video_kbps"].get<unsigned>());
    } else {
        std::printf("trick-play  none\n");
    }
    std::printf("size        about %s (at least %s)\n",
                FormatBytes(j["estimated_size"].get<uint64_t>()).c_str(),
                FormatBytes(j["minimum_size"].get<uint64_t>()).c_str());
    if (settings->HasFileSizeLimit()) {
        std::printf("size limit  %s: %s\n", FormatBytes(settings->GetFileSizeLimit()).c_str(),
                    j["size_limit_reachable"].get<bool>() ? "can be met" : "cannot be met");
    }
    std::printf("time        about %s (the library's estimate)\n",
                FormatDuration(j["estimated_seconds"].get<int>()).c_str());
    std::printf("measured    %s\n", EstimateText(measured).c_str());
    return 0;
}

} // namespace norv
