// A small application of the installed library: it names a profile and
// makes output settings for it, which needs no engine.
#include <norv/transcoder.h>

#include <cstdio>

int main() {
    nvt::ITranscodeProfile* profile = nullptr;
    if (CreateTranscodeProfile(nvt::NP_NorvPlusHD, 25.0, &profile) != nvt::SUCCESS) {
        return 1;
    }
    nvt::WideString name;
    profile->GetDisplayName(name);
    profile->Release();
    nvt::ITranscodeOutputSettings* settings = nullptr;
    if (CreateDefaultTranscodeOutputSettings(nvt::NP_NorvPlusHD, &settings) != nvt::SUCCESS) {
        return 1;
    }
    const int32_t id = settings->GetProfile();
    settings->Release();
    std::printf("%s %d %zu\n", nvt::EnumName<nvt::NorvProfile>(id), static_cast<int>(id),
                name.size());
    return 0;
}
