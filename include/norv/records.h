// Plain records a caller fills and reads: logging parameters, crop margins
// and the user-adjustable output settings of a preset. Their XML form lives
// inside the library.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "norv/enums.h"

namespace nvt {

/// Logging parameters passed on to the engine.
struct SLoggerParam {
    bool enableLogs = false;
    int logLevel = 0;    ///< a LogLevel value (or a mask of them)
    std::string logPath; ///< log file path, UTF-8
};

/// Crop margins in pixels.
struct CropRect {
    uint32_t top = 0;
    uint32_t bottom = 0;
    uint32_t left = 0;
    uint32_t right = 0;
};

/// Every user-adjustable output setting. The output settings hold one inside
/// their request template; a custom preset stores one per file.
/// Bit rates are bits per second here and in stored presets.
struct CustomPresetData {
    /// The defaults for a profile: aspect handling on, no external subtitle,
    /// fastest HEVC quality with wavefront parallel processing, everything
    /// else zero, false or empty. The default profile value (_NP_count_)
    /// stands for "no profile".
    explicit CustomPresetData(NorvProfile profile = _NP_count_) : profileID(profile) {}

    NorvProfile profileID;
    std::string profileName;
    uint64_t fileSizeLimit = 0; ///< bytes; 0 = no limit
    bool enableAspectRatio = true;
    uint32_t resWidth = 0;
    uint32_t resHeight = 0;
    uint32_t videoBitrate = 0;
    std::vector<uint32_t> audioBitrates; ///< one per output audio track
    bool enableVideo2passEncoding = false;
    bool videoPassthrough = false;
    bool audioPassthrough = false;
    bool m_bEnableTrickplayTrack = false;
    uint32_t trickWidth = 0;
    uint32_t trickHeight = 0;
    uint32_t trickVideoBitrate = 0;
    bool enableHWAcceleration = false;
    HWAcceleration hwAcceleration = NO_ACCELERATION;
    int externalSubtitleIndex = -1;
    CropRect rect;
    SettingPriority prio = prioUnknown;
    int64_t creationTime = 0;            ///< set by the caller; 0 marks a record without data
    std::vector<AudioCodec> trackCodecs; ///< output codec per audio track
    HevcQualityLevel hevcQualityLevel = hevc_ql_fastest;
    bool wppEnabled = true;
    int calcQualityMetrics = 0;
};

} // namespace nvt
