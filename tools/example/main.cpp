// Drives the library the way an application would, through the public
// header and the shared library only: starts the engine, prints the twelve
// built-in profiles, and prints each call's result by name.
#include <norv/transcoder.h>

#include <cstdio>
#include <string>

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

} // namespace

int main(int argc, char** argv) {
    const std::string engine = argc > 1 ? argv[1] : "NorvEngine";
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
    return 0;
}
