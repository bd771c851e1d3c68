// The output settings the page sends, as the same texts a user types after
// norv transcode's options ("1280x720", "2500k", "700M", "0,1"), read by the
// command line's own parsers into an OutputChoice.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "common/json_output.h"
#include "common/settings.h"
#include "quality/rate_quality.h"

namespace norv {

/// settings: {"profile": "NorvPlusHD", "preset": "phone", "size": "1280x720",
/// "video_bitrate": "2500k", "audio_bitrate": "192k", "size_limit": "700M",
/// "priority": "video-bitrate", "two_pass": true, "audio_tracks": "all" | "none" | "0,1",
/// "subtitles": "0", "burn_subtitles": false, "title": "..."}; every member may be left out or
/// empty. A preset is a name among presetDir's presets. Throws Failure (InvalidArgument) naming the
/// setting it cannot read.
OutputChoice ChoiceFromJson(const Json& settings, const std::string& presetDir);

/// settings' "quality": "high", "standard", "small" or a worst-1 % SSIM
/// ("0.96"), as --quality takes it; nullopt when left out or empty. It
/// chooses the video bitrate, so "video_bitrate" must be left out. Throws
/// Failure (InvalidArgument) for another value, or where this build cannot
/// measure quality.
std::optional<QualityTarget> QualityFromJson(const Json& settings);

/// The presets of presetDir, as PresetJson gives each (an empty list when
/// the folder does not exist).
Json PresetList(const std::string& presetDir);

} // namespace norv
