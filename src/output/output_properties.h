// The output properties a session reports before a transcode.
#pragma once

#include <cstdint>
#include <vector>

#include "api/ref_counted_impl.h"
#include "norv/output.h"

namespace nvt {

/// The values an output properties object reports. Bitrates in kilobits per
/// second, sizes in bytes, the time in seconds.
struct OutputPropertyValues {
    uint64_t estimatedSize = 0;
    int32_t estimatedTime = 0;
    uint32_t width = 0;
    uint32_t height = 0;
    uint64_t videoKbps = 0;
    std::vector<uint32_t> audioKbps;
    uint32_t videoMinKbps = 0;
    uint32_t videoMaxKbps = 0;
    uint64_t minimumSize = 0;
    uint32_t trickKbps = 0;
    uint32_t trickWidth = 0;
    uint32_t trickHeight = 0;
    uint32_t aspectNum = 0;
    uint32_t aspectDen = 0;
    bool sizeLimitUnreachable = false;
};

/// A read-only holder of derived output values. The session fills it through
/// Values() before handing it out; it computes nothing itself.
class TranscodeOutputProperties final : public nvtl::RefCountedImpl<ITranscodeOutputProperties> {
public:
    TranscodeOutputProperties() = default;

    /// The values, for the session to fill before the object is handed out.
    OutputPropertyValues& Values() { return values_; }
    const OutputPropertyValues& Values() const { return values_; }

    Result GetEstimatedSize(uint64_t* out) override;
    Result GetResolution(uint32_t* width, uint32_t* height) override;
    Result GetTrickResolution(uint32_t* width, uint32_t* height) override;
    Result GetEstimatedTime(int32_t* out) override;
    Result GetBitrates(uint64_t* videoKbps, std::vector<uint32_t>& audioKbps) override;
    Result GetVideoBitrateRange(uint32_t* minKbps, uint32_t* maxKbps) override;
    Result GetMinimumSize(uint64_t* out) override;
    Result GetTrickVideoBitrate(uint32_t* out) override;
    Result GetAspectRatio(uint32_t* numerator, uint32_t* denominator) override;
    Result IsSizeLimitUnreachable(bool* out) override;

private:
    OutputPropertyValues values_;
};

} // namespace nvt
