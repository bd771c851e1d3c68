#include "output/output_properties.h"

namespace nvt {

namespace {

template <class T> Result Write(const T& value, T* out) {
    if (out == nullptr) {
        return InvalidArgument;
    }
    *out = value;
    return SUCCESS;
}

template <class T> Result WritePair(const T& first, const T& second, T* outFirst, T* outSecond) {
    if (outFirst == nullptr || outSecond == nullptr) {
        return InvalidArgument;
    }
    *outFirst = first;
    *outSecond = second;
    return SUCCESS;
}

} // namespace

Result TranscodeOutputProperties::GetEstimatedSize(uint64_t* out) {
    return Write(values_.estimatedSize, out);
}

Result TranscodeOutputProperties::GetResolution(uint32_t* width, uint32_t* height) {
    return WritePair(values_.width, values_.height, width, height);
}

Result TranscodeOutputProperties::GetTrickResolution(uint32_t* width, uint32_t* height) {
    return WritePair(values_.trickWidth, values_.trickHeight, width, height);
}

Result TranscodeOutputProperties::GetEstimatedTime(int32_t* out) {
    return Write(values_.estimatedTime, out);
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
    return WritePair(values_.videoMinKbps, values_.videoMaxKbps, minKbps, maxKbps);
}

Result TranscodeOutputProperties::GetMinimumSize(uint64_t* out) {
    return Write(values_.minimumSize, out);
}

Result TranscodeOutputProperties::GetTrickVideoBitrate(uint32_t* out) {
    return Write(values_.trickKbps, out);
}

Result TranscodeOutputProperties::GetAspectRatio(uint32_t* numerator, uint32_t* denominator) {
    const uint32_t num = values_.aspectNum != 0 ? values_.aspectNum : 1;
    const uint32_t den = values_.aspectDen != 0 ? values_.aspectDen : 1;
    return WritePair(num, den, numerator, denominator);
}

Result TranscodeOutputProperties::IsSizeLimitUnreachable(bool* out) {
    return Write(values_.sizeLimitUnreachable, out);
}

} // namespace nvt
