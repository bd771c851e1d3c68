#include "output/output_properties.h"

#include "api/out_param.h"

namespace nvt {

Result TranscodeOutputProperties::GetEstimatedSize(uint64_t* out) {
    return WriteOut(out, values_.estimatedSize);
}

Result TranscodeOutputProperties::GetResolution(uint32_t* width, uint32_t* height) {
    return WriteOutPair(width, height, values_.width, values_.height);
}

Result TranscodeOutputProperties::GetTrickResolution(uint32_t* width, uint32_t* height) {
    return WriteOutPair(width, height, values_.trickWidth, values_.trickHeight);
}

Result TranscodeOutputProperties::GetEstimatedTime(int32_t* out) {
    return WriteOut(out, values_.estimatedTime);
}

Result TranscodeOutputProperties::GetBitrates(uint64_t* videoKbps,
                                              std::vector<uint32_t>& audioKbps) {
    if (videoKbps == nullptr) {
        return InvalidArgument;
    }
    try {
        audioKbps = values_.audioKbps;
    } catch (...) {
        return ENG_ERR;
    }
    *videoKbps = values_.videoKbps;
    return SUCCESS;
}

Result TranscodeOutputProperties::GetVideoBitrateRange(uint32_t* minKbps, uint32_t* maxKbps) {
    return WriteOutPair(minKbps, maxKbps, values_.videoMinKbps, values_.videoMaxKbps);
}

Result TranscodeOutputProperties::GetMinimumSize(uint64_t* out) {
    return WriteOut(out, values_.minimumSize);
}

Result TranscodeOutputProperties::GetTrickVideoBitrate(uint32_t* out) {
    return WriteOut(out, values_.trickKbps);
}

Result TranscodeOutputProperties::GetAspectRatio(uint32_t* numerator, uint32_t* denominator) {
    const uint32_t num = values_.aspectNum != 0 ? values_.aspectNum : 1;
    const uint32_t den = values_.aspectDen != 0 ? values_.aspectDen : 1;
    return WriteOutPair(numerator, denominator, num, den);
}

Result TranscodeOutputProperties::IsSizeLimitUnreachable(bool* out) {
    return WriteOut(out, values_.sizeLimitUnreachable);
}

} // namespace nvt
