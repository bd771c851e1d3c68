// A built-in output profile for a frame rate.
#pragma once

#include <cstdint>

#include "api/ref_counted_impl.h"
#include "norv/output.h"

namespace nvt {

/// The limits of one profile, taken from the limits table when the object is
/// made. A profile without a row has all limits 0 and answers InvalidArgument
/// to its bitrate queries.
class TranscodeProfile final : public nvtl::RefCountedImpl<ITranscodeProfile> {
public:
    TranscodeProfile(int32_t profile, double frameRate);

    Result GetProfile(int32_t* out) override;
    Result GetMaxVideoBitrateKbps(uint32_t* out) override;
    Result GetMinVideoBitrate(uint32_t width, uint32_t height, double frameRate,
                              uint32_t* out) override;
    Result GetMaxVideoBitrate(uint32_t width, uint32_t height, double frameRate,
                              uint32_t* out) override;
    Result GetDefaultVideoBitrate(uint32_t width, uint32_t height, double frameRate,
                                  uint32_t* out) override;
    Result GetMinAudioBitrate(uint32_t* out) override;
    Result GetMaxAudioBitrate(uint32_t* out) override;
    Result GetDefaultAudioBitrate(uint32_t* out) override;
    Result GetSelectableAudioBitrates(std::vector<uint32_t>& out) override;
    Result GetMinWidth(uint32_t* out) override;
    Result GetMinHeight(uint32_t* out) override;
    Result GetMaxWidth(uint32_t* out) override;
    Result GetMaxHeight(uint32_t* out) override;
    Result GetMaxFrameRate(double* out) override;
    Result GetDisplayName(WideString& out) override;
    Result GetDescription(WideString& out, ITranscodeEngineInfo* info) override;

    /// The frame rate the object was made for.
    double FrameRate() const { return frameRate_; }

private:
    int32_t profile_;
    double frameRate_;
    uint32_t maxVideoKbps_ = 0;
    uint32_t minAudioKbps_ = 0;
    uint32_t maxAudioKbps_ = 0;
    uint32_t defaultAudioKbps_ = 0;
    uint32_t minWidth_ = 0;
    uint32_t minHeight_ = 0;
    uint32_t maxWidth_ = 0;
    uint32_t maxHeight_ = 0;
    double maxFrameRate_ = 0.0;
};

} // namespace nvt
