// The sound of one output audio track, in one libavfilter graph: the
// decoded frames stay continuous across joined files (gaps filled with
// silence, overlaps cut) and come out in the encoder's sample format, rate,
// layout and frame size.
#pragma once

#include <string>

#include "filter_chain.h"

namespace norv_engine {

class AudioChain final : public FilterChain {
public:
    /// For an opened encoder, which must outlive the chain. Frames come out
    /// with timestamps in 1/sample rate.
    explicit AudioChain(const AVCodecContext* encoder) : encoder_(encoder) {}

private:
    bool Build(const AVFrame* frame, std::string& why) override;
    bool Changed(const AVFrame* frame) const override;

    const AVCodecContext* encoder_;
    int rate_ = 0, format_ = -1, channels_ = 0;
};

} // namespace norv_engine
