// The output settings a user chooses on the command line, and how they map
// onto the library's output settings and custom preset records.
//
// Two groups: the preset settings are the ones a stored preset holds
// (CustomPresetData); the job settings belong to one transcode (which tracks,
// title, rotation, temporary folder, engine priority) and are set on the
// output settings or the session directly.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/library.h"

namespace norv {

/// Settings stored in presets. Unset members keep the preset's or the
/// profile's value.
struct PresetSettings {
    std::optional<uint32_t> width, height;        // --size WxH
    std::optional<uint32_t> videoBitrate;         // bits per second
    std::vector<uint32_t> audioBitrates;          // bits per second, one per output track
    std::optional<bool> audioPassthrough;         // --audio-passthrough / --no-audio-passthrough
    std::optional<uint64_t> sizeLimit;            // bytes
    std::optional<nvt::SettingPriority> priority; // the setting that wins
    std::optional<bool> aspect;                   // keep the display aspect
    std::optional<bool> twoPass;
    std::optional<nvt::CropRect> crop;
};

/// Settings of one transcode that presets do not store.
struct JobSettings {
    std::optional<std::vector<uint32_t>> audioTracks; // empty list: no audio
    std::vector<uint32_t> subtitleTracks;
    bool burnSubtitles = false;
    std::optional<uint32_t> flip;
    std::optional<int32_t> angle;
    std::optional<std::string> title;
    std::optional<std::string> tempDir;
    nvt::TranscodePriority enginePriority = nvt::TP_Normal;
};

/// Everything that decides an output: profile, an optional stored preset,
/// and the options given on top of it.
struct OutputChoice {
    std::optional<nvt::NorvProfile> profile;
    std::string presetFile;
    PresetSettings preset;
    JobSettings job;
};

// ---- values as typed on the command line ----------------------------------

/// "NP_NorvPlusHD", "NorvPlusHD", "norvplushd" or "4".
std::optional<nvt::NorvProfile> ParseProfile(const std::string& text);
/// "2500k", "4M", "128000": bits per second (k = 1000, M = 1000000).
std::optional<uint64_t> ParseRate(const std::string& text);
/// "700M", "4.7G", "1GiB": bytes (K/M/G decimal, Ki/Mi/Gi binary).
std::optional<uint64_t> ParseBytes(const std::string& text);
/// "1280x720".
bool ParsePicture(const std::string& text, uint32_t& width, uint32_t& height);
/// "0,2": indices; "none": an empty list.
std::optional<std::vector<uint32_t>> ParseIndexList(const std::string& text);
/// "192k,128k": bitrates in bits per second, none of them 0.
std::optional<std::vector<uint32_t>> ParseRateList(const std::string& text);
/// "K/N" with 1 <= K <= N.
std::optional<std::pair<uint32_t, uint32_t>> ParseShard(const std::string& text);
/// "TOP,BOTTOM,LEFT,RIGHT" in pixels.
std::optional<nvt::CropRect> ParseCrop(const std::string& text);
/// "size", "video-bitrate", ...: the names SettingPriorityNames lists.
std::optional<nvt::SettingPriority> ParseSettingPriority(const std::string& text);
const std::vector<std::string>& SettingPriorityNames();
/// The name ParseSettingPriority takes for a value.
std::string SettingPriorityName(nvt::SettingPriority priority);
/// "none", "h", "v", "hv".
std::optional<uint32_t> ParseFlip(const std::string& text);
/// "idle", "low", "normal", "high".
std::optional<nvt::TranscodePriority> ParseEnginePriority(const std::string& text);

// ---- applying a choice ---------------------------------------------------

/// The preset record a choice describes for its profile: the stored preset
/// when one is named (loaded through factory), else the profile's defaults;
/// then the preset settings given on top. Throws Failure when the preset
/// cannot be loaded or belongs to another profile than the one asked for.
nvt::CustomPresetData ResolvePresetData(const OutputChoice& choice,
                                        nvt::ICustomPresetFactory& factory);

/// The creation time norv stamps on presets: milliseconds since 1970.
int64_t PresetTimeNow();

/// Output settings for a choice, ready for a session: the preset record
/// applied, then the job settings. Without a chosen audio selection every
/// audio track of firstSource is kept. Throws Failure, also for a track
/// index firstSource does not have.
Ptr<nvt::ITranscodeOutputSettings> MakeOutputSettings(const OutputChoice& choice,
                                                      nvt::ISourceMedia* firstSource);

/// The file extension an output of the profile takes ("mkv", "mp4", "avi"),
/// from the container its description names.
std::string OutputExtension(nvt::NorvProfile profile, nvt::ITranscodeEngineInfo* info);

} // namespace norv
