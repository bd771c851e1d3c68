#include "common/settings.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <utility>

namespace norv {

namespace {

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// A decimal number followed by a unit suffix looked up in units.
std::optional<uint64_t> ParseScaled(const std::string& text,
                                    const std::vector<std::pair<std::string, double>>& units) {
    if (text.empty() || !(std::isdigit(static_cast<unsigned char>(text[0])) || text[0] == '.')) {
        return std::nullopt;
    }
    char* end = nullptr;
    const double number = std::strtod(text.c_str(), &end);
    const std::string suffix(end);
    for (const auto& unit : units) {
        if (suffix == unit.first) {
            const double value = std::floor(number * unit.second + 0.5);
            if (!(value >= 0 && value < 1.8e19)) {
                return std::nullopt;
            }
            return static_cast<uint64_t>(value);
        }
    }
    return std::nullopt;
}

std::optional<uint32_t> ParseCount(const std::string& text) {
    if (text.empty() || text.size() > 9 ||
        !std::all_of(text.begin(), text.end(),
                     [](unsigned char c) { return std::isdigit(c) != 0; })) {
        return std::nullopt;
    }
    return static_cast<uint32_t>(std::stoul(text));
}

// Comma-separated items, each read by parseItem; nullopt when any is bad.
template <class ParseItem>
std::optional<std::vector<uint32_t>> ParseList(const std::string& text, ParseItem parseItem) {
    std::vector<uint32_t> list;
    size_t start = 0;
    while (start <= text.size()) {
        const size_t comma = std::min(text.find(',', start), text.size());
        const std::optional<uint32_t> item = parseItem(text.substr(start, comma - start));
        if (!item) {
            return std::nullopt;
        }
        list.push_back(*item);
        start = comma + 1;
    }
    return list;
}

const std::vector<std::pair<std::string, nvt::SettingPriority>>& PriorityTable() {
    static const std::vector<std::pair<std::string, nvt::SettingPriority>> kTable = {
        {"none", nvt::prioUnknown},
        {"width", nvt::prioResolutionWidth},
        {"height", nvt::prioResolutionHeight},
        {"size", nvt::prioFilesize},
        {"video-bitrate", nvt::prioVideoBitrate},
        {"audio-bitrate", nvt::prioAudioBitrate},
        {"audio-passthrough", nvt::prioAudioPassThrough},
        {"trickplay", nvt::prioTrickPlayTrack},
        {"aspect", nvt::prioAspectRatio},
    };
    return kTable;
}

// The profile's defaults, as the library's default output settings hold them.
nvt::CustomPresetData DefaultPresetData(nvt::NorvProfile profile) {
    nvt::ITranscodeOutputSettings* raw = nullptr;
    Check(CreateDefaultTranscodeOutputSettings(profile, &raw), "cannot make output settings");
    const Ptr<nvt::ITranscodeOutputSettings> s = Adopt(raw);
    nvt::CustomPresetData data(profile);
    data.fileSizeLimit = s->GetFileSizeLimit();
    data.enableAspectRatio = s->GetAspectRatioEnabled();
    s->GetResolution(&data.resWidth, &data.resHeight);
    data.videoBitrate = s->GetVideoBitrate();
    data.audioBitrates = s->GetAudioBitrates();
    data.enableVideo2passEncoding = s->GetVideo2Pass();
    data.videoPassthrough = s->GetVideoPassthrough();
    data.audioPassthrough = s->GetAudioPassthrough();
    data.m_bEnableTrickplayTrack = s->GetTrickplayTrack();
    s->GetTrickResolution(&data.trickWidth, &data.trickHeight);
    data.trickVideoBitrate = s->GetTrickVideoBitrate();
    data.enableHWAcceleration = s->GetHWAccelerationEnabled();
    data.hwAcceleration = s->GetHWAcceleration();
    data.prio = s->GetPriority();
    data.trackCodecs = s->GetTrackCodecs();
    data.hevcQualityLevel = static_cast<nvt::HevcQualityLevel>(s->GetHevcQualityLevel());
    data.wppEnabled = s->GetWppEnabled();
    data.calcQualityMetrics = s->GetCalcQualityMetrics();
    return data;
}

void ApplyPresetSettings(const PresetSettings& p, nvt::CustomPresetData& data) {
    if (p.width && p.height) {
        data.resWidth = *p.width;
        data.resHeight = *p.height;
    }
    if (p.videoBitrate) {
        data.videoBitrate = *p.videoBitrate;
    }
    if (!p.audioBitrates.empty()) {
        data.audioBitrates = p.audioBitrates;
    }
    if (p.audioPassthrough) {
        data.audioPassthrough = *p.audioPassthrough;
    }
    if (p.sizeLimit) {
        data.fileSizeLimit = *p.sizeLimit;
    }
    if (p.priority) {
        data.prio = *p.priority;
    }
    if (p.aspect) {
        data.enableAspectRatio = *p.aspect;
    }
    if (p.twoPass) {
        data.enableVideo2passEncoding = *p.twoPass;
    }
    if (p.crop) {
        data.rect = *p.crop;
    }
}

void CheckIndices(const std::vector<uint32_t>& chosen, int32_t available, const char* what) {
    for (uint32_t index : chosen) {
        if (static_cast<int64_t>(index) >= available) {
            throw Failure(std::string(what) + " " + std::to_string(index) +
                              " does not exist (the first source has " + std::to_string(available) +
                              ")",
                          nvt::InvalidArgument);
        }
    }
}

} // namespace

std::optional<nvt::NorvProfile> ParseProfile(const std::string& text) {
    if (const auto number = ParseCount(text)) {
        return *number < nvt::_NP_count_
                   ? std::optional<nvt::NorvProfile>(static_cast<nvt::NorvProfile>(*number))
                   : std::nullopt;
    }
    const std::string wanted = Lower(text);
    for (int32_t p = 0; p < nvt::_NP_count_; ++p) {
        const std::string name = nvt::EnumName<nvt::NorvProfile>(p);
        if (wanted == Lower(name) || wanted == Lower(name.substr(3))) {
            return static_cast<nvt::NorvProfile>(p);
        }
    }
    return std::nullopt;
}

std::optional<uint64_t> ParseRate(const std::string& text) {
    return ParseScaled(text, {{"", 1.0}, {"k", 1e3}, {"K", 1e3}, {"M", 1e6}});
}

std::optional<uint64_t> ParseBytes(const std::string& text) {
    return ParseScaled(text, {{"", 1.0},
                              {"K", 1e3},
                              {"k", 1e3},
                              {"M", 1e6},
                              {"G", 1e9},
                              {"Ki", 1024.0},
                              {"Mi", 1048576.0},
                              {"Gi", 1073741824.0},
                              {"KiB", 1024.0},
                              {"MiB", 1048576.0},
                              {"GiB", 1073741824.0}});
}

bool ParsePicture(const std::string& text, uint32_t& width, uint32_t& height) {
    const size_t x = text.find('x');
    if (x == std::string::npos) {
        return false;
    }
    const auto w = ParseCount(text.substr(0, x));
    const auto h = ParseCount(text.substr(x + 1));
    if (!w || !h || *w == 0 || *h == 0) {
        return false;
    }
    width = *w;
    height = *h;
    return true;
}

std::optional<std::vector<uint32_t>> ParseIndexList(const std::string& text) {
    return text == "none" ? std::vector<uint32_t>() : ParseList(text, ParseCount);
}

std::optional<std::vector<uint32_t>> ParseRateList(const std::string& text) {
    return ParseList(text, [](const std::string& item) -> std::optional<uint32_t> {
        const auto rate = ParseRate(item);
        if (!rate || *rate == 0 || *rate > UINT32_MAX) {
            return std::nullopt;
        }
        return static_cast<uint32_t>(*rate);
    });
}

std::optional<std::pair<uint32_t, uint32_t>> ParseShard(const std::string& text) {
    const size_t slash = text.find('/');
    const auto k = ParseCount(text.substr(0, slash));
    const auto n = slash == std::string::npos ? std::nullopt : ParseCount(text.substr(slash + 1));
    if (!k || !n || *k < 1 || *k > *n) {
        return std::nullopt;
    }
    return std::make_pair(*k, *n);
}

std::optional<nvt::CropRect> ParseCrop(const std::string& text) {
    const auto margins = ParseList(text, ParseCount);
    if (!margins || margins->size() != 4) {
        return std::nullopt;
    }
    nvt::CropRect rect;
    rect.top = (*margins)[0];
    rect.bottom = (*margins)[1];
    rect.left = (*margins)[2];
    rect.right = (*margins)[3];
    return rect;
}

std::optional<nvt::SettingPriority> ParseSettingPriority(const std::string& text) {
    for (const auto& entry : PriorityTable()) {
        if (entry.first == text) {
            return entry.second;
        }
    }
    return std::nullopt;
}

const std::vector<std::string>& SettingPriorityNames() {
    static const std::vector<std::string> kNames = [] {
        std::vector<std::string> names;
        for (const auto& entry : PriorityTable()) {
            names.push_back(entry.first);
        }
        return names;
    }();
    return kNames;
}

std::string SettingPriorityName(nvt::SettingPriority priority) {
    for (const auto& entry : PriorityTable()) {
        if (entry.second == priority) {
            return entry.first;
        }
    }
    return nvt::EnumName<nvt::SettingPriority>(priority);
}

std::optional<uint32_t> ParseFlip(const std::string& text) {
    if (text == "none") {
        return nvt::flipNone;
    }
    if (text == "h") {
        return nvt::flipHorizontal;
    }
    if (text == "v") {
        return nvt::flipVertical;
    }
    if (text == "hv" || text == "vh") {
        return nvt::flipHorizontal | nvt::flipVertical;
    }
    return std::nullopt;
}

std::optional<nvt::TranscodePriority> ParseEnginePriority(const std::string& text) {
    static const std::pair<const char*, nvt::TranscodePriority> kNames[] = {
        {"idle", nvt::TP_Idle},
        {"low", nvt::TP_Low},
        {"normal", nvt::TP_Normal},
        {"high", nvt::TP_High}};
    for (const auto& entry : kNames) {
        if (text == entry.first) {
            return entry.second;
        }
    }
    return std::nullopt;
}

nvt::CustomPresetData ResolvePresetData(const OutputChoice& choice,
                                        nvt::ICustomPresetFactory& factory) {
    nvt::CustomPresetData data;
    if (!choice.presetFile.empty()) {
        nvt::ICustomPreset* raw = nullptr;
        Check(factory.CreatePreset(&raw), "cannot make a preset");
        const Ptr<nvt::ICustomPreset> preset = Adopt(raw);
        Check(preset->Load(Widen(choice.presetFile)), choice.presetFile + ": cannot load preset");
        Check(preset->GetData(data), choice.presetFile + ": preset holds no settings");
        if (choice.profile && *choice.profile != data.profileID) {
            throw Failure(choice.presetFile + ": preset is made for " +
                              nvt::EnumName<nvt::NorvProfile>(data.profileID) + ", not " +
                              nvt::EnumName<nvt::NorvProfile>(*choice.profile),
                          nvt::InvalidArgument);
        }
    } else if (choice.profile) {
        data = DefaultPresetData(*choice.profile);
    } else {
        throw Failure("no output profile: give --profile or --preset", nvt::InvalidArgument);
    }
    ApplyPresetSettings(choice.preset, data);
    if (data.creationTime == 0) {
        data.creationTime = PresetTimeNow();
    }
    return data;
}

int64_t PresetTimeNow() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

Ptr<nvt::ITranscodeOutputSettings> MakeOutputSettings(const OutputChoice& choice,
                                                      nvt::ISourceMedia* firstSource) {
    nvt::ICustomPresetFactory* rawFactory = nullptr;
    Check(CreateCustomPresetFactory(&rawFactory), "cannot make the preset factory");
    const Ptr<nvt::ICustomPresetFactory> factory = Adopt(rawFactory);
    const nvt::CustomPresetData data = ResolvePresetData(choice, *factory);

    nvt::ITranscodeOutputSettings* rawSettings = nullptr;
    Check(CreateDefaultTranscodeOutputSettings(data.profileID, &rawSettings),
          "cannot make output settings");
    const Ptr<nvt::ITranscodeOutputSettings> settings = Adopt(rawSettings);
    nvt::ICustomPreset* rawPreset = nullptr;
    Check(factory->CreatePreset(&rawPreset), "cannot make a preset");
    const Ptr<nvt::ICustomPreset> preset = Adopt(rawPreset);
    Check(preset->SetData(data), "the output settings are not valid");
    Check(settings->ApplyPreset(preset.get()), "cannot apply the output settings");

    const JobSettings& job = choice.job;
    int32_t audioCount = 0;
    int32_t subtitleCount = 0;
    if (firstSource != nullptr) {
        firstSource->GetAudioTrackCount(&audioCount);
        firstSource->GetSubtitleTrackCount(&subtitleCount);
    }
    std::vector<uint32_t> audioTracks;
    // Without a source (a batch checking its choice before any file is
    // analysed) there are no tracks to check the indices against.
    const bool checked = firstSource != nullptr;
    if (job.audioTracks) {
        if (checked) {
            CheckIndices(*job.audioTracks, audioCount, "audio track");
        }
        audioTracks = *job.audioTracks;
    } else {
        for (int32_t i = 0; i < audioCount; ++i) {
            audioTracks.push_back(static_cast<uint32_t>(i));
        }
    }
    settings->SetAudioTracks(audioTracks);
    // One bitrate given for several tracks applies to each of them.
    const std::vector<uint32_t> bitrates = settings->GetAudioBitrates();
    if (bitrates.size() == 1 && audioTracks.size() > 1) {
        settings->SetAudioBitrates(std::vector<uint32_t>(audioTracks.size(), bitrates.front()));
    }
    if (checked) {
        CheckIndices(job.subtitleTracks, subtitleCount, "subtitle track");
    }
    settings->SetSubtitleTracks(job.subtitleTracks);
    settings->SetSubtitleBurnFirstTrack(job.burnSubtitles);
    if (job.flip) {
        settings->SetFlip(*job.flip);
    }
    if (job.angle) {
        settings->SetAngle(*job.angle);
    }
    if (job.title) {
        settings->SetTitle(*job.title);
    }
    if (job.tempDir) {
        settings->SetTempDir(Widen(*job.tempDir));
        settings->SetUseTempDir(true);
    }
    return settings;
}

std::string OutputExtension(nvt::NorvProfile profile, nvt::ITranscodeEngineInfo* info) {
    nvt::ITranscodeProfile* raw = nullptr;
    nvt::WideString description;
    if (CreateTranscodeProfile(profile, 0.0, &raw) == nvt::SUCCESS) {
        Adopt(raw)->GetDescription(description, info);
    }
    // The description starts with the container: "MKV, H.264, AAC/AC3".
    const std::string container = Lower(Narrow(description.substr(0, description.find(u','))));
    return container.empty() ? std::string("mkv") : container;
}

} // namespace norv
