#include "output/profile_limits.h"

#include <algorithm>
#include <limits>

#include "norv/enums.h"

namespace nvt {

namespace {

constexpr std::array<ProfileLimits, kProfileLimitsRowCount> kTable = {{
    {NP_Mobile, 600, 128, 64, 64, 320, 240, 30.0},
    {NP_HomeTheater, 4854, 320, 64, 64, 720, 480, 30.0},
    {NP_HomeTheater, 4854, 320, 64, 64, 720, 576, 25.0},
    {NP_HD720, 9708, 320, 64, 64, 1280, 720, 30.0},
    {NP_HD1080, 20000, 320, 64, 64, 1920, 1080, 30.0},
    {NP_NorvPlusHD, 20000, 320, 320, 240, 1920, 1080, 30.0},
    {NP_iPhoneMP4H264, 1500, 128, 64, 64, 640, 480, 30.0},
    {NP_iPadMP4H264, 5000, 160, 64, 64, 1280, 720, 30.0},
    {NP_NorvPlus4K_MP4, 20000, 320, 320, 240, 3840, 2160, 30.0},
    {NP_NorvPlus4K_MKV, 20000, 320, 320, 240, 3840, 2160, 30.0},
    {NP_HEVC720, 6144, 320, 320, 240, 1280, 720, 30.0},
    {NP_HEVC1080, 12288, 320, 320, 240, 1920, 1080, 30.0},
    {NP_HEVC4K, 40000, 320, 320, 240, 3840, 2160, 30.0},
}};

constexpr std::array<uint32_t, 9> kSelectableAudioKbps = {16, 32, 64, 96, 128, 160, 192, 256, 320};

constexpr uint32_t kMinAudioKbps = 16;

// The classes of a source frame rate. A rate of 55 or more is both a
// 30-class and a 60-class rate.
bool IsClass25(double x) {
    return x < 27.0 || (x >= 35.0 && x < 55.0);
}
bool IsClass30(double x) {
    return (x >= 27.0 && x < 35.0) || x >= 55.0;
}
bool IsClass60(double x) {
    return x >= 55.0;
}

bool RowMatchesRate(const ProfileLimits& row, double x) {
    if (x == 0.0) {
        return true;
    }
    return (row.frameRate == 25.0 && IsClass25(x)) || (row.frameRate == 60.0 && IsClass60(x)) ||
           (row.frameRate == 30.0 && IsClass30(x));
}

bool UsesWideAlignment(int32_t profile) {
    switch (profile) {
    case NP_NorvPlusHD:
    case NP_NorvPlus4K_MP4:
    case NP_NorvPlus4K_MKV:
    case NP_HEVC720:
    case NP_HEVC1080:
    case NP_HEVC4K:
        return true;
    default:
        return false;
    }
}

uint32_t RoundToAlignment(uint32_t value, uint32_t alignment) {
    const uint32_t half = alignment / 2;
    const uint32_t mask = ~(alignment - 1);
    if (value > std::numeric_limits<uint32_t>::max() - half) {
        return value & mask;
    }
    return (value + half) & mask;
}

// The maximum and default video bitrates of a clamped picture, in bits per
// second, as real numbers.
struct VideoBitrates {
    double maximum = 0.0;
    double byDefault = 0.0;
};

VideoBitrates ComputeVideoBitrates(int32_t profile, uint32_t width, uint32_t height,
                                   double frameRate) {
    const uint32_t pixels = width * height;
    const double m = static_cast<double>(pixels) / 256.0; // macroblocks per frame
    const double r = m * frameRate;                       // macroblocks per second
    const double bigM = std::max(m, 1200.0);
    VideoBitrates out;
    switch (profile) {
    case NP_Mobile:
    case NP_HD1080:
    case NP_HD720:
    case NP_HomeTheater: {
        out.maximum = r * (4.0 * 8100.0 / bigM + 52.0) * 1.45;
        if (profile == NP_Mobile) {
            out.maximum = std::min(out.maximum, 600000.0);
        }
        const double h = std::max(m / 99.0, 1.0);
        out.byDefault =
            out.maximum * (h + 1.0) / 135.0 + (8.0 * r + 25000.0) * 1.45 * (1.0 + 1.0 / h);
        break;
    }
    case NP_NorvPlusHD:
    case NP_NorvPlus4K_MP4:
    case NP_NorvPlus4K_MKV: {
        out.maximum = r * (8.0 * 8100.0 / bigM + 53.0) * 1.35;
        const double e = m / 300.0;
        out.byDefault = out.maximum * (e + 1.0) / 90.0 + (r + 50000.0) * 1.35 * (1.0 + 1.0 / e);
        break;
    }
    case NP_HEVC720:
    case NP_HEVC1080: {
        out.maximum = r * (5.1 * 8100.0 / bigM + 44.1);
        const double e = m / 300.0;
        out.byDefault = out.maximum * (e + 1.0) / 80.0 + (0.5 * r + 80000.0) * (1.0 + 1.0 / e);
        break;
    }
    case NP_HEVC4K: {
        out.maximum = r * (3.135 * 34560.0 / bigM + 49.0) * 0.74;
        const double kilopixels = static_cast<double>(pixels) / 1000.0;
        out.byDefault = 740.0 + (out.maximum - 740.0) * (0.29 - 0.14 * kilopixels / 8845.056);
        break;
    }
    case NP_iPhoneMP4H264:
        out.maximum = 1499500.0;
        out.byDefault = 899700.0;
        break;
    case NP_iPadMP4H264:
        out.maximum = 4999500.0;
        out.byDefault = 2999700.0;
        break;
    default:
        break;
    }
    return out;
}

// Truncates a bitrate to an unsigned value; anything that is not a positive
// number in range gives 0 or the largest value.
uint32_t ToUnsigned(double value) {
    if (!(value > 0.0)) {
        return 0;
    }
    if (value >= 4294967295.0) {
        return std::numeric_limits<uint32_t>::max();
    }
    return static_cast<uint32_t>(value);
}

bool ClampedPicture(int32_t profile, uint32_t& width, uint32_t& height, double& frameRate) {
    if (!(frameRate > 0.0)) {
        return false;
    }
    const ProfileLimits* row = FindProfileLimits(profile, frameRate);
    if (row == nullptr) {
        return false;
    }
    ClampToProfile(*row, width, height, frameRate);
    return true;
}

} // namespace

const std::array<ProfileLimits, kProfileLimitsRowCount>& ProfileLimitsTable() {
    return kTable;
}

const ProfileLimits* FindProfileLimits(int32_t profile, double frameRate) {
    const ProfileLimits* found = nullptr;
    for (const ProfileLimits& row : kTable) {
        if (row.profile != profile) {
            continue;
        }
        found = &row;
        if (RowMatchesRate(row, frameRate)) {
            break;
        }
    }
    return found;
}

bool IsKnownProfile(int32_t profile) {
    return FindProfileLimits(profile, 0.0) != nullptr;
}

bool IsHandheldProfile(int32_t profile) {
    return profile == NP_Mobile || profile == NP_iPhoneMP4H264 || profile == NP_iPadMP4H264;
}

int32_t MaxAudioChannels(int32_t profile) {
    return IsHandheldProfile(profile) ? 2 : 6;
}

void ClampToProfile(const ProfileLimits& row, uint32_t& width, uint32_t& height,
                    double& frameRate) {
    frameRate = std::min(frameRate, row.frameRate);
    width = std::max(std::min(width, static_cast<uint32_t>(row.maxWidth)),
                     static_cast<uint32_t>(row.minWidth));
    height = std::max(std::min(height, static_cast<uint32_t>(row.maxHeight)),
                      static_cast<uint32_t>(row.minHeight));
}

void ProfileAlignment(int32_t profile, uint32_t& widthAlignment, uint32_t& heightAlignment) {
    if (UsesWideAlignment(profile)) {
        widthAlignment = 8;
        heightAlignment = 8;
    } else {
        widthAlignment = 4;
        heightAlignment = 2;
    }
}

bool AlignToProfile(const ProfileLimits* row, uint32_t& width, uint32_t& height) {
    if (row == nullptr) {
        return false;
    }
    uint32_t wa = 0;
    uint32_t ha = 0;
    ProfileAlignment(row->profile, wa, ha);
    width = RoundToAlignment(width, wa);
    height = RoundToAlignment(height, ha);
    return true;
}

uint32_t MinAudioBitrateKbps(const ProfileLimits* row) {
    return row != nullptr ? kMinAudioKbps : 0;
}

uint32_t MaxAudioBitrateKbps(const ProfileLimits* row) {
    return row != nullptr ? static_cast<uint32_t>(row->maxAudioKbps) : 0;
}

uint32_t DefaultAudioBitrateKbps(const ProfileLimits* row) {
    if (row == nullptr) {
        return 0;
    }
    return IsHandheldProfile(row->profile) ? 128 : 192;
}

const std::array<uint32_t, 9>& SelectableAudioBitratesKbps() {
    return kSelectableAudioKbps;
}

uint32_t MaxVideoBitrate(int32_t profile, uint32_t width, uint32_t height, double frameRate) {
    if (!ClampedPicture(profile, width, height, frameRate)) {
        return 0;
    }
    return ToUnsigned(ComputeVideoBitrates(profile, width, height, frameRate).maximum);
}

uint32_t DefaultVideoBitrate(int32_t profile, uint32_t width, uint32_t height, double frameRate) {
    if (!ClampedPicture(profile, width, height, frameRate)) {
        return 0;
    }
    return ToUnsigned(ComputeVideoBitrates(profile, width, height, frameRate).byDefault);
}

const char* ProfileDisplayName(int32_t profile) {
    switch (profile) {
    case NP_Mobile:
    case NP_HD1080:
    case NP_HD720:
    case NP_HomeTheater:
        return "Norv";
    case NP_NorvPlusHD:
        return "Norv Plus";
    case NP_iPhoneMP4H264:
        return "iPhone H.264";
    case NP_iPadMP4H264:
        return "iPad H.264";
    case NP_NorvPlus4K_MP4:
        return "Norv Plus 4K MP4";
    case NP_NorvPlus4K_MKV:
        return "Norv Plus 4K MKV";
    case NP_HEVC720:
    case NP_HEVC1080:
        return "Norv HEVC";
    case NP_HEVC4K:
        return "Norv HEVC 4K";
    default:
        return nullptr;
    }
}

const char* ProfileContainerLabel(int32_t profile) {
    switch (profile) {
    case NP_Mobile:
    case NP_HD1080:
    case NP_HD720:
    case NP_HomeTheater:
        return "AVI, Norv";
    case NP_NorvPlusHD:
    case NP_NorvPlus4K_MKV:
        return "MKV, H.264";
    case NP_iPhoneMP4H264:
    case NP_iPadMP4H264:
    case NP_NorvPlus4K_MP4:
        return "MP4, H.264";
    case NP_HEVC720:
    case NP_HEVC1080:
    case NP_HEVC4K:
        return "MKV, HEVC";
    default:
        return nullptr;
    }
}

} // namespace nvt
