#include "output/transcode_profile.h"

#include <cstring>
#include <string>

#include "api/out_param.h"
#include "norv/engine_info.h"
#include "output/profile_limits.h"
#include "platform/text.h"

namespace nvt {

namespace {

// Codec names in descriptions drop the enumerators' common prefix.
constexpr char kAudioCodecPrefix[] = "AC_";
constexpr std::size_t kAudioCodecPrefixLength = sizeof(kAudioCodecPrefix) - 1;

std::string ShortCodecName(AudioCodec codec) {
    const char* name = EnumName<AudioCodec>(codec);
    if (std::strncmp(name, kAudioCodecPrefix, kAudioCodecPrefixLength) == 0) {
        name += kAudioCodecPrefixLength;
    }
    return name;
}

// Writes a computed bitrate; 0 means the profile or frame rate had no rule.
Result WriteBitrate(uint32_t value, uint32_t* out) {
    if (out == nullptr) {
        return InvalidArgument;
    }
    *out = value;
    return value != 0 ? SUCCESS : InvalidArgument;
}

} // namespace

TranscodeProfile::TranscodeProfile(int32_t profile, double frameRate)
    : profile_(profile), frameRate_(frameRate) {
    const ProfileLimits* row = FindProfileLimits(profile, frameRate);
    if (row == nullptr) {
        return;
    }
    maxVideoKbps_ = static_cast<uint32_t>(row->maxVideoKbps);
    minAudioKbps_ = MinAudioBitrateKbps(row);
    maxAudioKbps_ = MaxAudioBitrateKbps(row);
    defaultAudioKbps_ = DefaultAudioBitrateKbps(row);
    minWidth_ = static_cast<uint32_t>(row->minWidth);
    minHeight_ = static_cast<uint32_t>(row->minHeight);
    maxWidth_ = static_cast<uint32_t>(row->maxWidth);
    maxHeight_ = static_cast<uint32_t>(row->maxHeight);
    maxFrameRate_ = row->frameRate;
}

Result TranscodeProfile::GetProfile(int32_t* out) {
    return WriteOut(out, profile_);
}

Result TranscodeProfile::GetMaxVideoBitrateKbps(uint32_t* out) {
    return WriteOut(out, maxVideoKbps_);
}

Result TranscodeProfile::GetMinVideoBitrate(uint32_t, uint32_t, double, uint32_t* out) {
    return WriteOut(out, kMinVideoBitrate);
}

Result TranscodeProfile::GetMaxVideoBitrate(uint32_t width, uint32_t height, double frameRate,
                                            uint32_t* out) {
    return WriteBitrate(MaxVideoBitrate(profile_, width, height, frameRate), out);
}

Result TranscodeProfile::GetDefaultVideoBitrate(uint32_t width, uint32_t height, double frameRate,
                                                uint32_t* out) {
    return WriteBitrate(DefaultVideoBitrate(profile_, width, height, frameRate), out);
}

Result TranscodeProfile::GetMinAudioBitrate(uint32_t* out) {
    return WriteOut(out, minAudioKbps_);
}

Result TranscodeProfile::GetMaxAudioBitrate(uint32_t* out) {
    return WriteOut(out, maxAudioKbps_);
}

Result TranscodeProfile::GetDefaultAudioBitrate(uint32_t* out) {
    return WriteOut(out, defaultAudioKbps_);
}

Result TranscodeProfile::GetSelectableAudioBitrates(std::vector<uint32_t>& out) {
    try {
        const auto& steps = SelectableAudioBitratesKbps();
        out.assign(steps.begin(), steps.end());
    } catch (...) {
        return ENG_ERR;
    }
    return SUCCESS;
}

Result TranscodeProfile::GetMinWidth(uint32_t* out) {
    return WriteOut(out, minWidth_);
}

Result TranscodeProfile::GetMinHeight(uint32_t* out) {
    return WriteOut(out, minHeight_);
}

Result TranscodeProfile::GetMaxWidth(uint32_t* out) {
    return WriteOut(out, maxWidth_);
}

Result TranscodeProfile::GetMaxHeight(uint32_t* out) {
    return WriteOut(out, maxHeight_);
}

Result TranscodeProfile::GetMaxFrameRate(double* out) {
    if (out == nullptr) {
        return InvalidArgument;
    }
    *out = maxFrameRate_;
    return SUCCESS;
}

Result TranscodeProfile::GetDisplayName(WideString& out) {
    try {
        out.clear();
        const char* name = ProfileDisplayName(profile_);
        if (name == nullptr) {
            return InvalidArgument;
        }
        out = Utf8ToWide(name);
    } catch (...) {
        return ENG_ERR;
    }
    return SUCCESS;
}

Result TranscodeProfile::GetDescription(WideString& out, ITranscodeEngineInfo* info) {
    try {
        out.clear();
        const char* label = ProfileContainerLabel(profile_);
        if (info == nullptr || label == nullptr) {
            return InvalidArgument;
        }
        std::vector<AudioCodec> codecs;
        info->GetSupportedOutputCodecs(static_cast<NorvProfile>(profile_), codecs);
        std::string text = label;
        for (std::size_t i = 0; i < codecs.size(); ++i) {
            text += i == 0 ? ", " : "/";
            text += ShortCodecName(codecs[i]);
        }
        out = Utf8ToWide(text);
    } catch (...) {
        out.clear();
        return ENG_ERR;
    }
    return SUCCESS;
}

} // namespace nvt
