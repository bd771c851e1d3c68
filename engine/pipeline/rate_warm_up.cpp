#include "rate_warm_up.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace norv_engine {

int WarmUpFrames(const char* encoder, EncodePass pass, AVRational frameRate, double seconds) {
    if (encoder == nullptr || std::strcmp(encoder, "libx264") != 0 || pass != EncodePass::Single ||
        !(seconds > 0) || frameRate.num <= 0 || frameRate.den <= 0) {
        return 0;
    }
    const double rate = av_q2d(frameRate);
    return static_cast<int>(
        std::floor(std::min(kWarmUpSeconds, kWarmUpShare * seconds) * rate + 0.5));
}

Status RateWarmUp::Take(AVFrame* frame, const Send& send) {
    if (done_ || frames_ <= 0) {
        return SendOwn(frame, send);
    }
    if (frame == nullptr) { // a title shorter than the warm-up
        Status released = Release(send);
        return released.ok() ? send(nullptr) : released;
    }
    FramePtr held(av_frame_clone(frame));
    if (!held) {
        return {nvt::ENG_ERR, "out of memory"};
    }
    held_.push_back(std::move(held));
    return static_cast<int>(held_.size()) < frames_ ? Status{} : Release(send);
}

bool RateWarmUp::Keep(AVPacket* packet) const {
    if (shift_ == 0) {
        return true;
    }
    if (packet->pts != AV_NOPTS_VALUE && packet->pts < start_) {
        return false;
    }
    packet->pts = packet->pts != AV_NOPTS_VALUE ? packet->pts - shift_ : packet->pts;
    packet->dts = packet->dts != AV_NOPTS_VALUE ? packet->dts - shift_ : packet->dts;
    return true;
}

Status RateWarmUp::SendOwn(AVFrame* frame, const Send& send) const {
    if (frame != nullptr && frame->pts != AV_NOPTS_VALUE) {
        frame->pts += shift_;
    }
    return send(frame);
}

Status RateWarmUp::Release(const Send& send) {
    done_ = true;
    if (!held_.empty() && held_.front()->pts != AV_NOPTS_VALUE) {
        // Known before the copies go: their packets are left out as they come.
        const int64_t first = held_.front()->pts;
        shift_ = held_.back()->pts + 1 - first;
        start_ = first + shift_;
        for (const FramePtr& f : held_) {
            FramePtr copy(av_frame_clone(f.get()));
            if (!copy) {
                return {nvt::ENG_ERR, "out of memory"};
            }
            Status sent = send(copy.get());
            if (!sent.ok()) {
                return sent;
            }
        }
        // Nothing after the keyframe refers to the warm-up's pictures.
        held_.front()->pict_type = AV_PICTURE_TYPE_I;
    }
    for (const FramePtr& f : held_) {
        Status sent = SendOwn(f.get(), send);
        if (!sent.ok()) {
            return sent;
        }
    }
    held_.clear();
    return {};
}

} // namespace norv_engine
