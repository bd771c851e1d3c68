#include "transcode_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "api/transcoder_logic.h"
#include "corpus.h"
#include "output/custom_preset.h"
#include "platform/text.h"
#include "support/temp_dir.h"

namespace norv_test {

namespace {

// Runs a shell command with its standard output into a file; that output.
std::string Output(const std::string& command) {
    TempDir dir;
    const std::string file = dir.file("out.txt");
    if (std::system((command + " > '" + file + "' 2>/dev/null").c_str()) != 0) {
        return std::string();
    }
    return ReadFile(file);
}

// A path as one word of the shell, whatever it holds.
std::string Quoted(const std::string& path) {
    std::string out = "'";
    for (char c : path) {
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return out + "'";
}

std::vector<nvtl::RefCountedPtr<nvt::ISourceMedia>> AnalysedSources(const std::string& path) {
    nvt::CNorvTranscoderLogic logic;
    logic.InitTranscodeEngine(nvt::W(RealEngine().c_str()), nvt::SLoggerParam(), nullptr,
                              nvt::WideString());
    std::vector<nvtl::RefCountedPtr<nvt::ISourceMedia>> sources;
    int32_t width = 0, height = 0;
    EXPECT_EQ(
        logic.CreateMediaSource(nvt::W(path.c_str()), &width, &height, nvt::WideString(), sources),
        nvt::SUCCESS)
        << path;
    return sources;
}

} // namespace

nvtl::RefCountedPtr<nvt::ISourceMedia> Analysed(const std::string& corpusName) {
    return AnalysedPath(CorpusFile(corpusName));
}

nvtl::RefCountedPtr<nvt::ISourceMedia> AnalysedPath(const std::string& path) {
    const auto sources = AnalysedSources(path);
    return sources.empty() ? nvtl::RefCountedPtr<nvt::ISourceMedia>() : sources.front();
}

std::vector<nvtl::RefCountedPtr<nvt::ISourceMedia>> AnalysedAll(const std::string& corpusName) {
    return AnalysedSources(CorpusFile(corpusName));
}

nvtl::RefCountedPtr<nvt::TranscodeOutputSettings> SettingsFor(nvt::NorvProfile profile) {
    return nvtl::RefCountedPtr<nvt::TranscodeOutputSettings>(
        new nvt::TranscodeOutputSettings(profile));
}

void ApplyCrop(nvt::TranscodeOutputSettings& settings, const nvt::CropRect& rect) {
    nvtl::RefCountedPtr<nvt::CustomPreset> preset(new nvt::CustomPreset());
    nvt::CustomPresetData data = settings.Request().CustomPresetData;
    data.rect = rect;
    data.creationTime = 1;
    preset->SetData(data);
    ASSERT_EQ(settings.ApplyPreset(preset.get()), nvt::SUCCESS);
}

Run Prepare(const std::vector<nvtl::RefCountedPtr<nvt::ISourceMedia>>& sources,
            nvt::ITranscodeOutputSettings& settings,
            const std::vector<nvtl::RefCountedPtr<nvt::ISourceMedia>>& extras,
            const std::string& logPath) {
    Run run;
    const std::string engine = RealEngine();
    run.session = nvtl::RefCountedPtr<nvt::TranscodeSession>(
        new nvt::TranscodeSession(nvt::W(engine.c_str())));
    // Asked once: each question starts an engine.
    static const nvtl::RefCountedPtr<nvt::ITranscodeEngineInfo> info = [&] {
        nvt::CNorvTranscoderLogic logic;
        nvt::ITranscodeEngineInfo* out = nullptr;
        logic.InitTranscodeEngine(nvt::W(engine.c_str()), nvt::SLoggerParam(), &out,
                                  nvt::WideString());
        nvtl::RefCountedPtr<nvt::ITranscodeEngineInfo> held(out);
        if (out != nullptr) {
            out->Release();
        }
        return held;
    }();
    if (info) {
        run.session->SetEngineInfo(info.get());
    }
    for (const auto& source : sources) {
        EXPECT_EQ(run.session->AddSource(source.get()), nvt::SUCCESS);
    }
    for (const auto& extra : extras) {
        EXPECT_EQ(run.session->AddExtraSource(extra.get()), nvt::SUCCESS);
    }
    EXPECT_EQ(run.session->SetOutputSettings(&settings), nvt::SUCCESS);
    if (!logPath.empty()) {
        run.session->SetLoggerParam(nvt::SLoggerParam{true, nvt::NORV_ALL_MSG, logPath});
    }
    run.callback = nvtl::RefCountedPtr<RecordingCallback>(new RecordingCallback());
    return run;
}

void Start(Run& run, const std::string& output) {
    run.started = run.session->Start(nvt::W(output.c_str()), run.callback.get());
    EXPECT_EQ(run.started, nvt::SUCCESS);
}

nvt::Result Finish(Run& run) {
    if (run.started != nvt::SUCCESS) {
        return run.started;
    }
    if (!WaitUntil([&] {
            return StateOf(*run.session) != nvt::TS_Running ||
                   run.callback->CountOf(CallbackEvent::Error) > 0;
        })) {
        return nvt::NOT_SET;
    }
    for (const CallbackEvent& e : run.callback->Events()) {
        if (e.kind == CallbackEvent::Error) {
            return e.code;
        }
    }
    return StateOf(*run.session) == nvt::TS_Done ? nvt::SUCCESS : nvt::NOT_SET;
}

Preview PreviewOf(nvt::ITranscodeSession& session) {
    Preview p;
    nvt::ITranscodeOutputProperties* properties = nullptr;
    EXPECT_EQ(session.GetOutputProperties(&properties), nvt::SUCCESS);
    if (properties != nullptr) {
        properties->GetResolution(&p.width, &p.height);
        properties->GetTrickResolution(&p.trickWidth, &p.trickHeight);
        properties->GetEstimatedSize(&p.estimatedSize);
        properties->Release();
    }
    return p;
}

nlohmann::json Probe(const std::string& path) {
    const std::string text =
        Output("ffprobe -v error -print_format json -show_format -show_streams " + Quoted(path));
    return nlohmann::json::parse(text, nullptr, false);
}

std::vector<nlohmann::json> Streams(const nlohmann::json& probe, const char* kind) {
    std::vector<nlohmann::json> out;
    if (probe.is_object() && probe.contains("streams")) {
        for (const auto& s : probe["streams"]) {
            if (s.value("codec_type", "") == kind) {
                out.push_back(s);
            }
        }
    }
    return out;
}

double PictureStat(const std::string& path, double seconds, const std::string& crop,
                   const char* stat) {
    const std::string key = std::string("lavfi.signalstats.") + stat;
    const std::string text =
        Output("ffmpeg -nostdin -v error -ss " + std::to_string(seconds) + " -i " + Quoted(path) +
               " -frames:v 1 -vf 'crop=" + crop + ",signalstats,metadata=print:key=" + key +
               ":file=-' -f null -");
    const size_t at = text.find(key + "=");
    return at == std::string::npos ? -1.0 : std::atof(text.c_str() + at + key.size() + 1);
}

namespace {

// The last value a metadata=print filter printed for key, or fallback.
double LastValue(const std::string& text, const std::string& key, double fallback) {
    const size_t at = text.rfind(key + "=");
    return at == std::string::npos ? fallback : std::atof(text.c_str() + at + key.size() + 1);
}

} // namespace

InterlaceCount Interlace(const std::string& path) {
    const std::string text = Output("ffmpeg -nostdin -v error -i " + Quoted(path) +
                                    " -map 0:v:0 -vf 'idet,metadata=print:file=-' -f null -");
    InterlaceCount count;
    const double tff = LastValue(text, "lavfi.idet.multiple.tff", -1);
    const double bff = LastValue(text, "lavfi.idet.multiple.bff", -1);
    if (tff >= 0 && bff >= 0) {
        count.interlaced = tff + bff;
    }
    count.progressive = LastValue(text, "lavfi.idet.multiple.progressive", -1);
    return count;
}

std::pair<int, int> PictureArea(const std::string& path, double seconds) {
    const std::string text =
        Output("ffmpeg -nostdin -v error -ss " + std::to_string(seconds) + " -i " + Quoted(path) +
               " -frames:v 3 -vf 'cropdetect=limit=24:round=2:reset=0,metadata=print:file=-'"
               " -f null -");
    return {static_cast<int>(LastValue(text, "lavfi.cropdetect.w", 0)),
            static_cast<int>(LastValue(text, "lavfi.cropdetect.h", 0))};
}

std::vector<nlohmann::json> Packets(const std::string& path) {
    const nlohmann::json probe = nlohmann::json::parse(
        Output("ffprobe -v error -print_format json -show_packets " + Quoted(path)), nullptr,
        false);
    std::vector<nlohmann::json> out;
    if (probe.is_object() && probe.contains("packets")) {
        out.assign(probe["packets"].begin(), probe["packets"].end());
    }
    return out;
}

int DistinctPictures(const std::string& path) {
    const std::string text =
        Output("ffmpeg -nostdin -v error -i " + Quoted(path) +
               " -map 0:v:0 -vf mpdecimate=hi=64:lo=32:frac=0 -vsync passthrough -f framecrc -");
    std::istringstream lines(text);
    int pictures = 0;
    for (std::string line; std::getline(lines, line);) {
        pictures += !line.empty() && line[0] != '#' ? 1 : 0;
    }
    return pictures;
}

std::string VideoHash(const std::string& path) {
    return Output("ffmpeg -nostdin -v error -i " + Quoted(path) +
                  " -map 0:v:0 -c copy -f streamhash -hash md5 -");
}

std::vector<std::string> VideoPacketHashes(const std::string& path) {
    // framemd5 lines: "stream, dts, pts, duration, size, hash"; '#' comments.
    std::istringstream lines(Output("ffmpeg -nostdin -v error -i " + Quoted(path) +
                                    " -map 0:v:0 -c copy -f framemd5 -"));
    std::vector<std::string> hashes;
    for (std::string line; std::getline(lines, line);) {
        const size_t comma = line.rfind(',');
        if (!line.empty() && line[0] != '#' && comma != std::string::npos) {
            hashes.push_back(line.substr(comma + 1));
        }
    }
    return hashes;
}

std::string DecodeErrors(const std::string& path) {
    return Output("{ ffmpeg -nostdin -v error -i " + Quoted(path) +
                  " -f null - 2>&1 || echo 'ffmpeg failed'; }");
}

std::string SubtitleText(const std::string& path) {
    return Output("ffmpeg -nostdin -v error -i " + Quoted(path) + " -map 0:s:0 -f srt -");
}

namespace {

// What a filter over the first audio stream prints of a metadata key.
std::string AudioMetadata(const std::string& path, const std::string& filter,
                          const std::string& key) {
    return Output("ffmpeg -nostdin -v error -i " + Quoted(path) + " -map 0:a:0 -af '" + filter +
                  ",ametadata=print:key=" + key + ":file=-' -f null -");
}

} // namespace

double SoundLevel(const std::string& path) {
    const std::string key = "lavfi.astats.Overall.RMS_level";
    // The last frame's figure covers the whole stream (reset=0), every
    // channel included.
    const std::string text = AudioMetadata(path, "astats=metadata=1:reset=0", key);
    const size_t at = text.rfind(key + "=");
    if (at == std::string::npos) {
        return std::nan("");
    }
    const std::string value = text.substr(at + key.size() + 1);
    return value.compare(0, 4, "-inf") == 0 ? -200.0 : std::atof(value.c_str());
}

double SoundOnset(const std::string& path) {
    // Silence of at least 10 ms under -50 dB from the start, printed as its
    // end by the filter's metadata.
    const std::string key = "lavfi.silence_end";
    const std::string text = AudioMetadata(path, "silencedetect=n=-50dB:d=0.01", key);
    const size_t at = text.find(key + "=");
    return at == std::string::npos ? 0.0 : std::atof(text.c_str() + at + key.size() + 1);
}

std::vector<PacketTime> AudioPackets(const std::string& path) {
    const std::string text =
        Output("ffprobe -v error -select_streams a:0 -show_entries packet=pts_time,duration_time "
               "-of csv=p=0 " +
               Quoted(path));
    std::vector<PacketTime> out;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        end = end == std::string::npos ? text.size() : end;
        const std::string line = text.substr(start, end - start);
        const size_t comma = line.find(',');
        if (comma != std::string::npos) {
            out.push_back(PacketTime{std::atof(line.c_str()), std::atof(line.c_str() + comma + 1)});
        }
        start = end + 1;
    }
    return out;
}

std::vector<std::string> FolderEntries(const std::string& folder) {
    std::vector<std::string> out;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
        out.push_back(entry.path().string());
    }
    return out;
}

} // namespace norv_test
