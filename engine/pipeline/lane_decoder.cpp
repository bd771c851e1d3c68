#include "lane_decoder.h"

#include <algorithm>

#include "decoder.h"
#include "engine_log.h"
#include "timeline.h"

namespace norv_engine {

namespace {

// Damaged frames in a row after which a decoder is left for its next packet.
constexpr int kMaxDamagedInARow = 64;

// How long a decoded frame lasts, in its stream's time base.
int64_t FrameDuration(const AVFrame* frame) {
#if LIBAVUTIL_VERSION_MAJOR >= 58
    return frame->duration;
#else
    return frame->pkt_duration;
#endif
}

} // namespace

Status LaneDecoder::Open(InputLane& lane, const AVStream* input) {
    if (context_ && file_ == lane.FileIndex()) {
        return {};
    }
    std::string why;
    context_ = OpenDecoder(input, 0, std::string(), why);
    file_ = lane.FileIndex();
    packets_ = frames_ = 0;
    end_ = AV_NOPTS_VALUE;
    if (!context_) {
        return {nvt::ENG_DECODER, why};
    }
    return {};
}

Status LaneDecoder::Receive(InputLane& lane, const AVStream* input, const FrameUse& use) {
    for (int damaged = 0;;) {
        const int received = avcodec_receive_frame(context_.get(), frame_.get());
        if (received == AVERROR(EAGAIN) || received == AVERROR_EOF) {
            return {};
        }
        if (received < 0) {
            // A damaged frame is skipped, as a player would; the frames
            // behind it are still taken.
            LogLine(Severity::Warning, "a frame of %s does not decode: %s",
                    lane.File().path.c_str(), ErrorText(received).c_str());
            if (++damaged >= kMaxDamagedInARow) {
                return {};
            }
            continue;
        }
        damaged = 0;
        ++frames_;
        frame_->pts = lane.ToJoined(frame_->best_effort_timestamp, input->time_base);
        const int64_t durationUs =
            av_rescale_q(FrameDuration(frame_.get()), input->time_base, AV_TIME_BASE_Q);
        if (end_ != AV_NOPTS_VALUE && frame_->pts != AV_NOPTS_VALUE &&
            frame_->pts > end_ + kDamagedJumpUs) {
            // A damaged timestamp (the packets' were fine): the frame goes
            // on where the one before ended, instead of hours later.
            LogLine(Severity::Warning, "a frame of %s is stamped %.0f s ahead; taken as the next",
                    lane.File().path.c_str(),
                    static_cast<double>(frame_->pts - end_) / AV_TIME_BASE);
            frame_->pts = end_;
        }
        if (frame_->pts != AV_NOPTS_VALUE) {
            const int64_t end = frame_->pts + std::max<int64_t>(0, durationUs);
            end_ = end_ == AV_NOPTS_VALUE ? end : std::max(end_, end);
        }
        if (!lane.InWindow(frame_->pts, durationUs)) {
            av_frame_unref(frame_.get()); // before the inpoint or after the outpoint
            continue;
        }
        const Status used = use(frame_.get(), durationUs);
        av_frame_unref(frame_.get());
        if (!used.ok()) {
            return used;
        }
    }
}

Status LaneDecoder::Decode(InputLane& lane, const AVStream* input, const AVPacket* packet,
                           const FrameUse& use) {
    if (input == nullptr) {
        return {};
    }
    if (!frame_) {
        return {nvt::ENG_ERR, "out of memory"};
    }
    if (packet != nullptr) {
        const Status opened = Open(lane, input);
        if (!opened.ok()) {
            return opened;
        }
        ++packets_;
    }
    if (!context_) {
        return {};
    }
    for (;;) {
        const int sent = avcodec_send_packet(context_.get(), packet);
        if (sent != AVERROR(EAGAIN)) {
            if (sent < 0 && sent != AVERROR_EOF) {
                // A packet the decoder refuses is skipped; the next ones
                // are sent as usual.
                LogLine(Severity::Warning, "a packet of %s does not decode: %s",
                        lane.File().path.c_str(), ErrorText(sent).c_str());
            }
            break;
        }
        // The decoder holds frames to be taken first; then the packet is
        // sent again.
        const uint64_t before = frames_;
        const Status received = Receive(lane, input, use);
        if (!received.ok()) {
            return received;
        }
        if (frames_ == before) {
            LogLine(Severity::Warning, "the decoder of %s takes no packet",
                    lane.File().path.c_str());
            break;
        }
    }
    return Receive(lane, input, use);
}

} // namespace norv_engine
