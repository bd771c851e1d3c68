#include "serve/choice.h"

#include <filesystem>

#include "quality/quality_mode.h"

namespace norv {

namespace {

std::string Text(const Json& settings, const char* key) {
    const auto found = settings.find(key);
    if (found == settings.end() || found->is_null()) {
        return std::string();
    }
    if (!found->is_string()) {
        throw Failure(std::string(key) + ": expected a text", nvt::InvalidArgument);
    }
    return found->get<std::string>();
}

template <class T, class Parse>
std::optional<T> Read(const Json& settings, const char* key, Parse parse, const char* expected) {
    const std::string text = Text(settings, key);
    if (text.empty()) {
        return std::nullopt;
    }
    const std::optional<T> value = parse(text);
    if (!value) {
        throw Failure(std::string(key) + ": '" + text + "': expected " + expected,
                      nvt::InvalidArgument);
    }
    return value;
}

std::optional<bool> Flag(const Json& settings, const char* key) {
    const auto found = settings.find(key);
    if (found == settings.end() || found->is_null()) {
        return std::nullopt;
    }
    if (!found->is_boolean()) {
        throw Failure(std::string(key) + ": expected true or false", nvt::InvalidArgument);
    }
    return found->get<bool>();
}

// A preset name as the page shows it: the file DIR/NAME.preset, no folders.
std::string PresetFile(const std::string& name, const std::string& presetDir) {
    if (name == "." || name == ".." || name.find_first_of("/\\") != std::string::npos ||
        name.find('\0') != std::string::npos) {
        throw Failure("preset: '" + name + "' is not a preset name", nvt::InvalidArgument);
    }
    const std::filesystem::path file =
        std::filesystem::u8path(presetDir) / std::filesystem::u8path(name + ".preset");
    std::error_code error;
    if (presetDir.empty() || !std::filesystem::is_regular_file(file, error)) {
        throw Failure("preset: no preset '" + name + "'", nvt::InvalidArgument);
    }
    return file.u8string();
}

} // namespace

OutputChoice ChoiceFromJson(const Json& settings, const std::string& presetDir) {
    if (!settings.is_object()) {
        throw Failure("settings: expected an object", nvt::InvalidArgument);
    }
    OutputChoice c;
    c.profile = Read<nvt::NorvProfile>(settings, "profile", ParseProfile, "a profile name");
    const std::string preset = Text(settings, "preset");
    if (!preset.empty()) {
        c.presetFile = PresetFile(preset, presetDir);
    }
    PresetSettings& p = c.preset;
    if (const auto size = Read<std::pair<uint32_t, uint32_t>>(
            settings, "size",
            [](const std::string& text) -> std::optional<std::pair<uint32_t, uint32_t>> {
                uint32_t w = 0, h = 0;
                return ParsePicture(text, w, h) ? std::optional(std::make_pair(w, h))
                                                : std::nullopt;
            },
            "WIDTHxHEIGHT")) {
        p.width = size->first;
        p.height = size->second;
    }
    if (const auto rate = Read<uint64_t>(settings, "video_bitrate", ParseRate, "a bitrate")) {
        if (*rate == 0 || *rate > UINT32_MAX) {
            throw Failure("video_bitrate: out of range", nvt::InvalidArgument);
        }
        p.videoBitrate = static_cast<uint32_t>(*rate);
    }
    if (const auto rates =
            Read<std::vector<uint32_t>>(settings, "audio_bitrate", ParseRateList, "bitrates")) {
        p.audioBitrates = *rates;
    }
    p.sizeLimit = Read<uint64_t>(settings, "size_limit", ParseBytes, "a size such as 700M");
    p.priority = Read<nvt::SettingPriority>(settings, "priority", ParseSettingPriority,
                                            "one of the priority names");
    p.twoPass = Flag(settings, "two_pass");
    const std::string audio = Text(settings, "audio_tracks");
    if (!audio.empty() && audio != "all") {
        c.job.audioTracks = Read<std::vector<uint32_t>>(settings, "audio_tracks", ParseIndexList,
                                                        "all, none or 0,1");
    }
    if (const auto subtitles =
            Read<std::vector<uint32_t>>(settings, "subtitles", ParseIndexList, "none or 0,1")) {
        c.job.subtitleTracks = *subtitles;
    }
    c.job.burnSubtitles = Flag(settings, "burn_subtitles").value_or(false);
    const std::string title = Text(settings, "title");
    if (!title.empty()) {
        c.job.title = title;
    }
    if (!c.profile && c.presetFile.empty()) {
        throw Failure("choose a profile or a preset", nvt::InvalidArgument);
    }
    return c;
}

std::optional<QualityTarget> QualityFromJson(const Json& settings) {
    std::optional<QualityTarget> target =
        Read<QualityTarget>(settings, "quality", ParseQualityTarget,
                            "high, standard, small or a number from 0.5 to 0.999");
    if (!target) {
        return target;
    }
    if (!Text(settings, "video_bitrate").empty()) {
        throw Failure("quality: the target chooses the video bitrate; leave video_bitrate empty",
                      nvt::InvalidArgument);
    }
    if (!QualityModeAvailable()) {
        throw Failure("quality: this build of norv cannot measure quality (it lacks FFmpeg's "
                      "libraries)",
                      nvt::InvalidArgument);
    }
    return target;
}

Json PresetList(const std::string& presetDir) {
    Json all = Json::array();
    std::error_code error;
    if (presetDir.empty() ||
        !std::filesystem::is_directory(std::filesystem::u8path(presetDir), error)) {
        return all;
    }
    nvt::ICustomPresetFactory* raw = nullptr;
    if (CreateCustomPresetFactory(&raw) != nvt::SUCCESS) {
        return all;
    }
    try {
        all = PresetListJson(*Adopt(raw), presetDir);
    } catch (const Failure&) {
        return Json::array();
    }
    // The page chooses a preset by the name of its file.
    for (Json& preset : all) {
        preset["preset"] =
            std::filesystem::u8path(preset["file"].get<std::string>()).stem().u8string();
    }
    return all;
}

} // namespace norv
