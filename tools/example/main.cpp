// Drives the library the way an application would, through the public
// header and the shared library only, and prints each call's result.
#include <norv/transcoder.h>

#include <cstdio>
#include <string>

namespace {

nvt::WideString Widen(const std::string& text) {
    // The example's texts are ASCII; each byte is one UTF-16 unit.
    return nvt::WideString(text.begin(), text.end());
}

void Report(const char* call, nvt::Result result) {
    std::printf("%-40s %6d  %s\n", call, static_cast<int>(result),
                nvt::EnumName<nvt::Result>(result));
}

} // namespace

int main(int argc, char** argv) {
    const std::string engine = argc > 1 ? argv[1] : "NorvEngine";
    std::printf("libnorvtranscoder example, engine location \"%s\"\n\n", engine.c_str());

    nvt::ITranscodeSession* session = nullptr;
    Report("CreateTranscodeSession (before init)", CreateTranscodeSession(&session));

    nvt::SLoggerParam logging;
    Report("InitTranscodeEngine", InitTranscodeEngine(Widen(engine), logging, nullptr, {}));

    Report("CreateTranscodeSession", CreateTranscodeSession(&session));
    if (session != nullptr) {
        nvt::TranscodeState state = nvt::TS_Failed;
        Report("ITranscodeSession::GetState", session->GetState(&state));
        std::printf("%-40s %6d  %s\n", "  state", static_cast<int>(state),
                    nvt::EnumName<nvt::TranscodeState>(state));
        std::printf("%-40s %6d\n", "  Release", session->Release());
    }

    nvt::ITranscodeProfile* profile = nullptr;
    Report("CreateTranscodeProfile(NP_HD720, 29.97)",
           CreateTranscodeProfile(nvt::NP_HD720, 29.97, &profile));
    if (profile != nullptr) {
        profile->Release();
    }
    Report("CreateTranscodeProfile(_NP_count_)",
           CreateTranscodeProfile(nvt::_NP_count_, 29.97, &profile));

    nvt::ITranscodeOutputSettings* settings = nullptr;
    Report("CreateDefaultTranscodeOutputSettings",
           CreateDefaultTranscodeOutputSettings(nvt::NP_HD1080, &settings));
    if (settings != nullptr) {
        settings->Release();
    }

    nvt::ICustomPresetFactory* factory = nullptr;
    Report("CreateCustomPresetFactory", CreateCustomPresetFactory(&factory));
    if (factory != nullptr) {
        factory->Release();
    }

    std::vector<nvtl::RefCountedPtr<nvt::ISourceMedia>> sources;
    Report("CreateMediaSource(\"\")", CreateMediaSource(nvt::WideString(), sources));
    return 0;
}
