#include "output/output_settings.h"

#include <type_traits>
#include <utility>

#include "output/profile_limits.h"
#include "platform/text.h"

namespace nvt {

namespace {

// The library never lets an exception out: a copy that cannot be made
// leaves the target as it was.
template <class T> void AssignKeeping(T& target, const T& value) {
    try {
        target = value;
    } catch (...) {
    }
}

// A copy for a getter that cannot report failure: empty when it cannot be
// made.
template <class T> T CopyOrEmpty(const T& value) {
    try {
        return value;
    } catch (...) {
        return T();
    }
}

Result WritePair(uint32_t width, uint32_t height, uint32_t* outWidth, uint32_t* outHeight) {
    if (outWidth == nullptr || outHeight == nullptr) {
        return InvalidArgument;
    }
    *outWidth = width;
    *outHeight = height;
    return width != 0 && height != 0 ? SUCCESS : NOT_SET;
}

// The row the alignment rules use: alignment does not depend on the rate.
constexpr double kAlignmentFrameRate = 25.0;

} // namespace

TranscodeOutputSettings::TranscodeOutputSettings(int32_t profile) {
    request_.CustomPresetData.profileID = static_cast<NorvProfile>(profile);
    Reset();
}

TranscodeOutputSettings*
TranscodeOutputSettings::FromInterface(ITranscodeOutputSettings* settings) {
    return dynamic_cast<TranscodeOutputSettings*>(settings);
}

bool TranscodeOutputSettings::DefaultAudioPassthrough(int32_t profile) {
    return IsKnownProfile(profile) && !IsHandheldProfile(profile);
}

int32_t TranscodeOutputSettings::GetProfile() {
    return Preset().profileID;
}

Result TranscodeOutputSettings::SetFileSizeLimit(uint64_t bytes) {
    Preset().fileSizeLimit = bytes;
    return SUCCESS;
}

uint64_t TranscodeOutputSettings::GetFileSizeLimit() {
    return Preset().fileSizeLimit;
}

bool TranscodeOutputSettings::HasFileSizeLimit() {
    return Preset().fileSizeLimit != 0;
}

void TranscodeOutputSettings::SetAudioPassthrough(bool enabled) {
    Preset().audioPassthrough = enabled;
}

bool TranscodeOutputSettings::GetAudioPassthrough() {
    return Preset().audioPassthrough;
}

void TranscodeOutputSettings::SetAudioTracks(const std::vector<uint32_t>& tracks) {
    static_assert(std::is_same<decltype(request_.audioTracks), std::vector<uint32_t>>::value,
                  "audio track indices are stored as they are given");
    AssignKeeping(request_.audioTracks, tracks);
}

std::vector<uint32_t> TranscodeOutputSettings::GetAudioTracks() {
    return CopyOrEmpty(request_.audioTracks);
}

void TranscodeOutputSettings::ClearAudioTracks() {
    request_.audioTracks.clear();
}

void TranscodeOutputSettings::SetSubtitleTracks(const std::vector<uint32_t>& tracks) {
    AssignKeeping(subtitleSelection_, tracks);
}

std::vector<uint32_t> TranscodeOutputSettings::GetSubtitleTracks() {
    return CopyOrEmpty(subtitleSelection_);
}

void TranscodeOutputSettings::ClearSubtitleTracks() {
    subtitleSelection_.clear();
}

void TranscodeOutputSettings::SetSubtitleBurnFirstTrack(bool enabled) {
    request_.subtitleBurnFirstTrack = enabled;
}

bool TranscodeOutputSettings::GetSubtitleBurnFirstTrack() {
    return request_.subtitleBurnFirstTrack;
}

Result TranscodeOutputSettings::SetResolution(uint32_t width, uint32_t height) {
    Preset().resWidth = width;
    Preset().resHeight = height;
    return SUCCESS;
}

Result TranscodeOutputSettings::GetResolution(uint32_t* width, uint32_t* height) {
    return WritePair(Preset().resWidth, Preset().resHeight, width, height);
}

bool TranscodeOutputSettings::HasResolution() {
    return Preset().resHeight != 0;
}

Result TranscodeOutputSettings::SetTrickResolution(uint32_t width, uint32_t height) {
    Preset().trickWidth = width;
    Preset().trickHeight = height;
    return SUCCESS;
}

Result TranscodeOutputSettings::GetTrickResolution(uint32_t* width, uint32_t* height) {
    return WritePair(Preset().trickWidth, Preset().trickHeight, width, height);
}

Result TranscodeOutputSettings::SetVideoBitrate(uint32_t bitrate) {
    Preset().videoBitrate = bitrate;
    return SUCCESS;
}

uint32_t TranscodeOutputSettings::GetVideoBitrate() {
    return Preset().videoBitrate;
}

Result TranscodeOutputSettings::SetTrickVideoBitrate(uint32_t bitrate) {
    Preset().trickVideoBitrate = bitrate;
    return SUCCESS;
}

uint32_t TranscodeOutputSettings::GetTrickVideoBitrate() {
    return Preset().trickVideoBitrate;
}

bool TranscodeOutputSettings::HasVideoBitrate() {
    return Preset().videoBitrate != 0;
}

Result TranscodeOutputSettings::SetAudioBitrates(const std::vector<uint32_t>& bitrates) {
    for (uint32_t bitrate : bitrates) {
        if (bitrate == 0) {
            return InvalidArgument;
        }
    }
    try {
        Preset().audioBitrates = bitrates;
    } catch (...) {
        return ENG_ERR;
    }
    return SUCCESS;
}

std::vector<uint32_t> TranscodeOutputSettings::GetAudioBitrates() {
    return CopyOrEmpty(Preset().audioBitrates);
}

uint32_t TranscodeOutputSettings::GetTotalAudioBitrate() {
    uint32_t total = 0;
    for (uint32_t bitrate : Preset().audioBitrates) {
        total += bitrate; // wraps, as documented
    }
    return total;
}

bool TranscodeOutputSettings::HasAudioBitrates() {
    return !Preset().audioBitrates.empty();
}

void TranscodeOutputSettings::SetTrickplayTrack(bool enabled) {
    Preset().m_bEnableTrickplayTrack = enabled;
}

bool TranscodeOutputSettings::GetTrickplayTrack() {
    return Preset().m_bEnableTrickplayTrack;
}

void TranscodeOutputSettings::SetTempDir(const WideString& folder) {
    try {
        request_.tempDir = WideToUtf8(folder);
    } catch (...) {
    }
}

WideString TranscodeOutputSettings::GetTempDir() {
    try {
        return Utf8ToWide(request_.tempDir);
    } catch (...) {
        return WideString();
    }
}

void TranscodeOutputSettings::SetUseTempDir(bool enabled) {
    request_.useTempDir = enabled;
}

bool TranscodeOutputSettings::GetUseTempDir() {
    return request_.useTempDir;
}

void TranscodeOutputSettings::SetNeedTranscode(bool needed) {
    request_.needTranscode = needed;
}

bool TranscodeOutputSettings::GetNeedTranscode() {
    return request_.needTranscode;
}

void TranscodeOutputSettings::SetHWAccelerationEnabled(bool enabled) {
    Preset().enableHWAcceleration = enabled;
}

bool TranscodeOutputSettings::GetHWAccelerationEnabled() {
    return Preset().enableHWAcceleration;
}

HWAcceleration TranscodeOutputSettings::GetHWAcceleration() {
    return Preset().hwAcceleration;
}

void TranscodeOutputSettings::GetDimensionAlignment(uint32_t* widthAlignment,
                                                    uint32_t* heightAlignment) {
    uint32_t wa = 0;
    uint32_t ha = 0;
    ProfileAlignment(Preset().profileID, wa, ha);
    if (widthAlignment != nullptr) {
        *widthAlignment = wa;
    }
    if (heightAlignment != nullptr) {
        *heightAlignment = ha;
    }
}

Result TranscodeOutputSettings::AlignResolution(uint32_t* width, uint32_t* height) {
    if (width == nullptr || height == nullptr || *width == 0 || *height == 0) {
        return InvalidArgument;
    }
    const ProfileLimits* row = FindProfileLimits(Preset().profileID, kAlignmentFrameRate);
    return AlignToProfile(row, *width, *height) ? SUCCESS : ENG_ERR;
}

void TranscodeOutputSettings::SetTrackCodecs(const std::vector<AudioCodec>& codecs) {
    AssignKeeping(Preset().trackCodecs, codecs);
}

std::vector<AudioCodec> TranscodeOutputSettings::GetTrackCodecs() {
    return CopyOrEmpty(Preset().trackCodecs);
}

void TranscodeOutputSettings::SetAspectRatioEnabled(bool enabled) {
    Preset().enableAspectRatio = enabled;
}

bool TranscodeOutputSettings::GetAspectRatioEnabled() {
    return Preset().enableAspectRatio;
}

Result TranscodeOutputSettings::SetPriority(SettingPriority priority) {
    if (priority < prioUnknown || priority > prioAspectRatio) {
        return InvalidArgument;
    }
    Preset().prio = priority;
    return SUCCESS;
}

SettingPriority TranscodeOutputSettings::GetPriority() {
    return Preset().prio;
}

Result TranscodeOutputSettings::Reset() {
    const NorvProfile profile = Preset().profileID;
    TBS::TranscodeRequest fresh;
    fresh.CustomPresetData = CustomPresetData(profile);
    fresh.CustomPresetData.audioPassthrough = DefaultAudioPassthrough(profile);
    fresh.CustomPresetData.prio = prioUnknown;
    fresh.needTranscode = true;
    // Swapping cannot fail, so the settings are never left half reset.
    std::swap(request_, fresh);
    subtitleSelection_.clear();
    return SUCCESS;
}

void TranscodeOutputSettings::SetVideo2Pass(bool enabled) {
    Preset().enableVideo2passEncoding = enabled;
}

bool TranscodeOutputSettings::GetVideo2Pass() {
    return Preset().enableVideo2passEncoding;
}

Result TranscodeOutputSettings::ApplyPreset(ICustomPreset* preset) {
    if (preset == nullptr) {
        return InvalidArgument;
    }
    try {
        CustomPresetData data;
        const Result result = preset->GetData(data);
        if (result == SUCCESS && data.profileID >= 0 && data.profileID < _NP_count_ &&
            data.profileID == Preset().profileID && data.creationTime != 0) {
            std::swap(Preset(), data);
        }
        return result;
    } catch (...) {
        return ENG_ERR;
    }
}

void TranscodeOutputSettings::SetVideoPassthrough(bool enabled) {
    Preset().videoPassthrough = enabled;
}

bool TranscodeOutputSettings::GetVideoPassthrough() {
    return Preset().videoPassthrough;
}

Result TranscodeOutputSettings::SetAngle(int32_t angle) {
    request_.angle = angle;
    return SUCCESS;
}

int32_t TranscodeOutputSettings::GetAngle() {
    return request_.angle;
}

bool TranscodeOutputSettings::HasAngle() {
    return request_.angle != 0;
}

void TranscodeOutputSettings::SetFlip(uint32_t flip) {
    request_.flip = static_cast<FlipMode>(static_cast<int32_t>(flip));
}

uint32_t TranscodeOutputSettings::GetFlip() {
    return static_cast<uint32_t>(request_.flip);
}

bool TranscodeOutputSettings::IsFlippedHorizontally() {
    return (static_cast<uint32_t>(request_.flip) & flipHorizontal) != 0;
}

bool TranscodeOutputSettings::IsFlippedVertically() {
    return (static_cast<uint32_t>(request_.flip) & flipVertical) != 0;
}

void TranscodeOutputSettings::SetTitle(const std::string& title) {
    AssignKeeping(request_.title, title);
}

std::string TranscodeOutputSettings::GetTitle() {
    return CopyOrEmpty(request_.title);
}

void TranscodeOutputSettings::SetUserText(const std::string& text) {
    AssignKeeping(userText_, text);
}

std::string TranscodeOutputSettings::GetUserText() {
    return CopyOrEmpty(userText_);
}

void TranscodeOutputSettings::SetUserFlag(bool flag) {
    userFlag_ = flag;
}

bool TranscodeOutputSettings::GetUserFlag() {
    return userFlag_;
}

void TranscodeOutputSettings::SetHevcQualityLevel(int32_t level) {
    Preset().hevcQualityLevel = static_cast<HevcQualityLevel>(level);
}

int32_t TranscodeOutputSettings::GetHevcQualityLevel() {
    return Preset().hevcQualityLevel;
}

void TranscodeOutputSettings::SetWppEnabled(bool enabled) {
    Preset().wppEnabled = enabled;
}

bool TranscodeOutputSettings::GetWppEnabled() {
    return Preset().wppEnabled;
}

void TranscodeOutputSettings::SetCalcQualityMetrics(int32_t value) {
    Preset().calcQualityMetrics = value;
}

int32_t TranscodeOutputSettings::GetCalcQualityMetrics() {
    return Preset().calcQualityMetrics;
}

void TranscodeOutputSettings::SetSubtitleCodePages(const std::vector<uint32_t>& codePages) {
    AssignKeeping(subtitleCodePages_, codePages);
}

std::vector<uint32_t> TranscodeOutputSettings::GetSubtitleCodePages() {
    return CopyOrEmpty(subtitleCodePages_);
}

void TranscodeOutputSettings::ClearSubtitleCodePages() {
    subtitleCodePages_.clear();
}

} // namespace nvt
