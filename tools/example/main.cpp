// Drives the library the way an application would, through the public
// header and the shared library only: starts the engine, prints the twelve
// built-in profiles, analyses a media file, previews and transcodes it, and
// prints each call's result by name.
#include <norv/transcoder.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

namespace {

nvt::WideString Widen(const std::string& text) {
    // The example's own texts are ASCII: each byte is one UTF-16 unit.
    return nvt::WideString(text.begin(), text.end());
}

std::string Narrow(const nvt::WideString& text) {
    std::string out;
    for (nvt::WideChar c : text) {
        out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    }
    return out;
}

void Report(const char* call, nvt::Result result) {
    std::printf("%-48s %5d  %s\n", call, static_cast<int>(result),
                nvt::EnumName<nvt::Result>(result));
}

// Releases an interface pointer at the end of a scope.
template <class T> struct Held {
    T* p = nullptr;
    ~Held() {
        if (p != nullptr) {
            p->Release();
        }
    }
};

void PrintProfiles(nvt::ITranscodeEngineInfo* info) {
    std::printf("\n%-3s %-22s %-24s %-21s %-6s %-27s %s\n", "#", "profile", "container",
                "picture (min - max)", "fps", "video kbps (min/def/max)",
                "audio kbps (min/def/max)");
    for (int p = 0; p < nvt::_NP_count_; ++p) {
        Held<nvt::ITranscodeProfile> profile;
        if (CreateTranscodeProfile(static_cast<nvt::NorvProfile>(p), 0.0, &profile.p) !=
            nvt::SUCCESS) {
            std::printf("%-3d (cannot create)\n", p);
            continue;
        }
        nvt::WideString name;
        nvt::WideString description;
        profile.p->GetDisplayName(name);
        profile.p->GetDescription(description, info);
        uint32_t minW = 0, minH = 0, maxW = 0, maxH = 0;
        double maxFps = 0;
        profile.p->GetMinWidth(&minW);
        profile.p->GetMinHeight(&minH);
        profile.p->GetMaxWidth(&maxW);
        profile.p->GetMaxHeight(&maxH);
        profile.p->GetMaxFrameRate(&maxFps);
        // Video bitrates at the profile's largest picture and frame rate.
        uint32_t vMin = 0, vMax = 0, vDef = 0;
        profile.p->GetMinVideoBitrate(maxW, maxH, maxFps, &vMin);
        profile.p->GetMaxVideoBitrate(maxW, maxH, maxFps, &vMax);
        profile.p->GetDefaultVideoBitrate(maxW, maxH, maxFps, &vDef);
        uint32_t aMin = 0, aMax = 0, aDef = 0;
        profile.p->GetMinAudioBitrate(&aMin);
        profile.p->GetMaxAudioBitrate(&aMax);
        profile.p->GetDefaultAudioBitrate(&aDef);
        char picture[64];
        std::snprintf(picture, sizeof picture, "%ux%u - %ux%u", minW, minH, maxW, maxH);
        char video[64];
        std::snprintf(video, sizeof video, "%u/%u/%u", vMin / 1000, vDef / 1000, vMax / 1000);
        char audio[64];
        std::snprintf(audio, sizeof audio, "%u/%u/%u", aMin, aDef, aMax);
        std::printf("%-3d %-22s %-24s %-21s %-6.2f %-27s %s\n", p, Narrow(name).c_str(),
                    Narrow(description).c_str(), picture, maxFps, video, audio);
    }
    std::printf("\n");
}

// Prints a transcode's events as they arrive on the session's worker thread.
class PrintingCallback : public nvt::ITranscodeProgressCB {
public:
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

    nvt::Result OnProgress(nvt::ISourceMedia* source, uint32_t stages, uint32_t stage, int32_t kind,
                           double progress) override {
        std::printf("  progress  %-20s stage %u/%u kind %d  %5.1f %%\n", Title(source).c_str(),
                    stage, stages, kind, progress);
        return nvt::SUCCESS;
    }
    nvt::Result OnComplete(nvt::ISourceMedia* source, const nvt::WideString& output) override {
        std::printf("  complete  %-20s -> %s\n", Title(source).c_str(), Narrow(output).c_str());
        return nvt::SUCCESS;
    }
    nvt::Result OnCancel() override {
        std::printf("  cancelled\n");
        return nvt::SUCCESS;
    }
    nvt::Result OnError(nvt::ISourceMedia* source, nvt::Result code) override {
        std::printf("  error     %-20s %s\n", Title(source).c_str(),
                    nvt::EnumName<nvt::Result>(code));
        return nvt::SUCCESS;
    }

private:
    static std::string Title(nvt::ISourceMedia* source) {
        nvt::WideString title;
        if (source != nullptr) {
            source->GetTitle(title);
        }
        return Narrow(title);
    }
    std::atomic<int32_t> count_{0};
};

// Prints what the analysis found in a source.
void PrintSource(nvt::ISourceMedia* source, int32_t thumbWidth, int32_t thumbHeight) {
    nvt::WideString path;
    nvt::WideString container;
    uint64_t durationMs = 0, size = 0;
    int32_t audioTracks = 0, subtitleTracks = 0;
    source->GetFilePath(path);
    source->GetContainerFormatName(container);
    source->GetDuration(&durationMs);
    source->GetFileSize(&size);
    source->GetAudioTrackCount(&audioTracks);
    source->GetSubtitleTrackCount(&subtitleTracks);
    std::printf("  source: %s\n  container %s, %llu ms, %llu bytes%s%s\n", Narrow(path).c_str(),
                Narrow(container).c_str(), static_cast<unsigned long long>(durationMs),
                static_cast<unsigned long long>(size),
                source->IsAudioContainer() ? ", audio only" : "",
                source->IsSubtitleContainer() ? ", subtitles" : "");
    nvt::ISourceMediaVideoTrack* video = nullptr;
    if (source->GetVideoTrack(0, &video) == nvt::SUCCESS) {
        int32_t codec = 0, width = 0, height = 0;
        double fps = 0, aspect = 0, bitrate = 0;
        video->GetCodec(&codec);
        video->GetWidth(&width);
        video->GetHeight(&height);
        video->GetFrameRate(&fps);
        video->GetAspectRatio(&aspect);
        video->GetBitrate(&bitrate);
        std::printf("  video: %s %dx%d (aspect %.3f) at %.3f fps, %.0f kbps, turned %d degrees\n",
                    nvt::EnumName<nvt::VideoCodec>(codec), width, height, aspect, fps,
                    bitrate / 1000, video->GetAngle());
        video->Release();
    }
    for (int32_t i = 0; i < audioTracks; ++i) {
        nvt::ISourceMediaAudioTrack* audio = nullptr;
        if (source->GetAudioTrack(static_cast<uint32_t>(i), &audio) != nvt::SUCCESS) {
            continue;
        }
        int32_t codec = 0, channels = 0, rate = 0;
        double bitrate = 0;
        nvt::WideString language;
        audio->GetCodec(&codec);
        audio->GetChannelCount(&channels);
        audio->GetSampleRate(&rate);
        audio->GetBitrate(&bitrate);
        audio->GetLanguage(language);
        std::printf("  audio %d: %s, %d channel(s), %d Hz, %.0f kbps, language \"%s\"\n", i,
                    nvt::EnumName<nvt::AudioCodec>(codec), channels, rate, bitrate / 1000,
                    Narrow(language).c_str());
        audio->Release();
    }
    std::printf("  %d subtitle track(s); profiles:", subtitleTracks);
    for (int p = 0; p < nvt::_NP_count_; ++p) {
        bool flag = false;
        source->GetProfileFlag(static_cast<nvt::NorvProfile>(p), &flag);
        std::printf(" %d%s", p, flag ? "+" : "-");
    }
    std::printf("\n  thumbnail: %dx%d\n", thumbWidth, thumbHeight);
}

// Analyses a file, previews the output and runs a transcode with progress;
// the transcode runs through transcodeEngine when one is given.
void RunTranscode(nvt::ITranscodeEngineInfo* info, const std::string& media,
                  const std::string& transcodeEngine) {
    std::vector<nvtl::RefCountedPtr<nvt::ISourceMedia>> sources;
    int32_t thumbWidth = 160;
    int32_t thumbHeight = 120;
    const std::string thumbnail = media + ".thumbnail.png";
    Report(("CreateMediaSourceEx(\"" + media + "\")").c_str(),
           CreateMediaSourceEx(Widen(media), &thumbWidth, &thumbHeight, Widen(thumbnail), sources));
    if (sources.empty()) {
        return;
    }
    PrintSource(sources.front().get(), thumbWidth, thumbHeight);
    if (!transcodeEngine.empty()) {
        std::printf("\nThe transcode runs through \"%s\".\n", transcodeEngine.c_str());
        Report("InitTranscodeEngine", InitTranscodeEngine(Widen(transcodeEngine), {}, nullptr, {}));
    }
    nvt::ISourceMedia* source = sources.front().get();

    Held<nvt::ITranscodeSession> session;
    Held<nvt::ITranscodeOutputSettings> settings;
    if (CreateTranscodeSession(&session.p) != nvt::SUCCESS ||
        CreateDefaultTranscodeOutputSettings(nvt::NP_HD720, &settings.p) != nvt::SUCCESS) {
        return;
    }
    settings.p->SetAudioTracks({0}); // keep the first audio track
    Report("ITranscodeSession::AddSource", session.p->AddSource(source));
    Report("ITranscodeSession::SetOutputSettings", session.p->SetOutputSettings(settings.p));
    if (info != nullptr) {
        Report("ITranscodeSession::SetEngineInfo", session.p->SetEngineInfo(info));
    }

    Held<nvt::ITranscodeOutputProperties> properties;
    Report("ITranscodeSession::GetOutputProperties", session.p->GetOutputProperties(&properties.p));
    uint64_t estimatedSize = 0;
    if (properties.p != nullptr) {
        uint32_t outW = 0, outH = 0, aspectNum = 0, aspectDen = 0;
        uint64_t videoKbps = 0, size = 0;
        int32_t seconds = 0;
        std::vector<uint32_t> audioKbps;
        properties.p->GetResolution(&outW, &outH);
        properties.p->GetBitrates(&videoKbps, audioKbps);
        properties.p->GetEstimatedSize(&size);
        estimatedSize = size;
        properties.p->GetEstimatedTime(&seconds);
        properties.p->GetAspectRatio(&aspectNum, &aspectDen);
        std::printf("  output: %ux%u (%u:%u), video %llu kbps, %zu audio track(s), about %llu "
                    "bytes, about %d s\n",
                    outW, outH, aspectNum, aspectDen, static_cast<unsigned long long>(videoKbps),
                    audioKbps.size(), static_cast<unsigned long long>(size), seconds);
    }

    auto* callback = new PrintingCallback();
    callback->AddRef();
    const std::string output = media.substr(0, media.find_last_of('.')) + "-720p.avi";
    Report("ITranscodeSession::Start", session.p->Start(Widen(output), callback));
    nvt::TranscodeState state = nvt::TS_Running;
    for (int i = 0; i < 6000 && state == nvt::TS_Running; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        session.p->GetState(&state);
    }
    std::printf("%-48s %5d  %s\n", "  final state", static_cast<int>(state),
                nvt::EnumName<nvt::TranscodeState>(state));
    std::error_code ec;
    const auto written = std::filesystem::file_size(output, ec);
    if (!ec && state == nvt::TS_Done) {
        std::printf("  wrote %s: %llu bytes (the preview said about %llu)\n", output.c_str(),
                    static_cast<unsigned long long>(written),
                    static_cast<unsigned long long>(estimatedSize));
    }
    callback->Release();
}

} // namespace

int main(int argc, char** argv) {
    // norv-example [ENGINE [MEDIA_FILE [TRANSCODE_ENGINE]]]
    const std::string engine = argc > 1 ? argv[1] : "NorvEngine";
    const std::string media = argc > 2 ? argv[2] : "/media/holiday.mp4";
    const std::string transcodeEngine = argc > 3 ? argv[3] : "";
    std::printf("libnorvtranscoder example, engine location \"%s\"\n\n", engine.c_str());

    Held<nvt::ITranscodeSession> early;
    Report("CreateTranscodeSession (before init)", CreateTranscodeSession(&early.p));

    Held<nvt::ITranscodeEngineInfo> info;
    nvt::SLoggerParam logging;
    Report("InitTranscodeEngine", InitTranscodeEngine(Widen(engine), logging, &info.p, {}));
    if (info.p != nullptr) {
        std::string version;
        info.p->GetVersion(version);
        std::printf("%-48s %s\n", "  engine version",
                    version.empty() ? "(no answer)" : version.c_str());
    }

    PrintProfiles(info.p);

    Held<nvt::ITranscodeSession> session;
    Report("CreateTranscodeSession", CreateTranscodeSession(&session.p));
    if (session.p != nullptr) {
        nvt::TranscodeState state = nvt::TS_Failed;
        Report("ITranscodeSession::GetState", session.p->GetState(&state));
        std::printf("%-48s %5d  %s\n", "  state", static_cast<int>(state),
                    nvt::EnumName<nvt::TranscodeState>(state));
    }

    Held<nvt::ITranscodeProfile> badProfile;
    Report("CreateTranscodeProfile(_NP_count_)",
           CreateTranscodeProfile(nvt::_NP_count_, 29.97, &badProfile.p));

    Held<nvt::ITranscodeOutputSettings> settings;
    Report("CreateDefaultTranscodeOutputSettings(NP_HD1080)",
           CreateDefaultTranscodeOutputSettings(nvt::NP_HD1080, &settings.p));

    Held<nvt::ICustomPresetFactory> factory;
    Report("CreateCustomPresetFactory", CreateCustomPresetFactory(&factory.p));

    std::vector<nvtl::RefCountedPtr<nvt::ISourceMedia>> sources;
    Report("CreateMediaSource(\"\")", CreateMediaSource(nvt::WideString(), sources));

    std::printf("\nA transcode:\n");
    RunTranscode(info.p, media, transcodeEngine);
    return 0;
}
