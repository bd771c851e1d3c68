#include "audio_chain.h"

#include <algorithm>
#include <cstdint>

namespace norv_engine {

namespace {

/// Gaps longer than this are filled here rather than by the resampler,
/// which would make all of the silence at once.
constexpr int64_t kFillHereUs = AV_TIME_BASE;
/// The silence handed to the graph at a time.
constexpr int64_t kFillPieceUs = AV_TIME_BASE / 5;

std::string LayoutText(const AVChannelLayout& layout) {
    char text[128] = {};
    if (layout.order == AV_CHANNEL_ORDER_UNSPEC || layout.nb_channels <= 0 ||
        av_channel_layout_describe(&layout, text, sizeof text) < 0) {
        AVChannelLayout plain{};
        av_channel_layout_default(&plain, std::max(1, layout.nb_channels));
        av_channel_layout_describe(&plain, text, sizeof text);
        av_channel_layout_uninit(&plain);
    }
    return text;
}

} // namespace

AudioChain::AudioChain(const AVCodecContext* encoder)
    : encoder_(encoder),
      queue_(av_audio_fifo_alloc(encoder->sample_fmt, encoder->ch_layout.nb_channels,
                                 std::max(1, encoder->frame_size))),
      piece_(av_frame_alloc()) {}

AudioChain::~AudioChain() {
    av_channel_layout_uninit(&layout_);
}

bool AudioChain::Changed(const AVFrame* frame) const {
    return frame->sample_rate != rate_ || frame->format != format_ ||
           av_channel_layout_compare(&frame->ch_layout, &layout_) != 0;
}

bool AudioChain::Build(const AVFrame* frame, std::string& why) {
    const AVCodecContext* e = encoder_;
    if (!queue_ || !piece_) {
        why = "out of memory";
        return false;
    }
    // The first graph starts the track at 0, as the picture does; a later
    // one where the graphs before it ended, in samples of its input rate.
    const int64_t start = av_rescale(graphSamples_, frame->sample_rate, e->sample_rate);
    if (!NewGraph(why) ||
        !Add("abuffer",
             {{"time_base", "1/1000000"},
              {"sample_rate", std::to_string(frame->sample_rate)},
              {"sample_fmt", av_get_sample_fmt_name(static_cast<AVSampleFormat>(frame->format))},
              {"channel_layout", LayoutText(frame->ch_layout)}},
             why)) {
        return false;
    }
    MarkSource();
    // async: keeps the track on the timeline, filling gaps and cutting
    // overlaps. More channels than the encoder's layout are mixed down with
    // the resampler's centre, surround and LFE levels.
    if (!Add("aresample",
             {{"async", "1"},
              {"first_pts", std::to_string(start)},
              {"osr", std::to_string(e->sample_rate)},
              {"osf", av_get_sample_fmt_name(e->sample_fmt)},
              {"ochl", LayoutText(e->ch_layout)}},
             why) ||
        !Add("abuffersink", {}, why)) {
        return false;
    }
    MarkSink();
    if (!Configure(why)) {
        return false;
    }
    rate_ = frame->sample_rate;
    format_ = frame->format;
    av_channel_layout_uninit(&layout_);
    if (av_channel_layout_copy(&layout_, &frame->ch_layout) < 0) {
        why = "out of memory";
        return false;
    }
    return true;
}

int AudioChain::Take(AVFrame* out, int count) {
    const AVCodecContext* e = encoder_;
    out->nb_samples = count;
    out->format = e->sample_fmt;
    out->sample_rate = e->sample_rate;
    int result = av_channel_layout_copy(&out->ch_layout, &e->ch_layout);
    if (result >= 0) {
        result = av_frame_get_buffer(out, 0);
    }
    if (result >= 0) {
        result =
            av_audio_fifo_read(queue_.get(), reinterpret_cast<void**>(out->extended_data), count);
    }
    if (result < 0) {
        av_frame_unref(out);
        return result;
    }
    out->pts = clock_;
    clock_ += count;
    return 0;
}

bool AudioChain::PushNow(AVFrame* frame, int64_t durationUs, std::string& why) {
    if (!FilterChain::Push(frame, durationUs, why)) {
        return false;
    }
    if (frame->pts != AV_NOPTS_VALUE && frame->sample_rate > 0) {
        reach_ = std::max(
            reach_, frame->pts + av_rescale(frame->nb_samples, AV_TIME_BASE, frame->sample_rate));
    }
    return true;
}

bool AudioChain::Push(AVFrame* frame, int64_t durationUs, std::string& why) {
    if (waiting_) {
        // Pull hands out the whole gap before asking for more; should a
        // frame come earlier, the resampler fills the rest.
        const bool pushed = PushNow(waiting_.get(), waitingUs_, why);
        waiting_.reset();
        if (!pushed) {
            return false;
        }
    }
    const int rate = frame->sample_rate;
    if (frame->pts == AV_NOPTS_VALUE || rate <= 0 || frame->pts <= reach_ + kFillHereUs) {
        return PushNow(frame, durationUs, why);
    }
    fillAt_ = av_rescale(reach_, rate, AV_TIME_BASE);
    fillEnd_ = av_rescale(frame->pts, rate, AV_TIME_BASE);
    waiting_.reset(av_frame_clone(frame));
    if (fillEnd_ == INT64_MIN || !waiting_) {
        waiting_.reset();
        return PushNow(frame, durationUs, why);
    }
    waitingUs_ = durationUs;
    return true;
}

bool AudioChain::End(std::string& why) {
    if (waiting_) {
        endAfterFill_ = true;
        return true;
    }
    return FilterChain::End(why);
}

int AudioChain::Fill() {
    const AVFrame* next = waiting_.get();
    std::string why;
    if (fillAt_ < fillEnd_) {
        const int64_t piece = std::max<int64_t>(1, next->sample_rate * kFillPieceUs / AV_TIME_BASE);
        FramePtr silence(av_frame_alloc());
        if (!silence) {
            return AVERROR(ENOMEM);
        }
        silence->nb_samples = static_cast<int>(std::min(piece, fillEnd_ - fillAt_));
        silence->format = next->format;
        silence->sample_rate = next->sample_rate;
        silence->pts = av_rescale(fillAt_, AV_TIME_BASE, next->sample_rate);
        int result = av_channel_layout_copy(&silence->ch_layout, &next->ch_layout);
        if (result >= 0) {
            result = av_frame_get_buffer(silence.get(), 0);
        }
        if (result >= 0) {
            result = av_samples_set_silence(silence->extended_data, 0, silence->nb_samples,
                                            silence->ch_layout.nb_channels,
                                            static_cast<AVSampleFormat>(silence->format));
        }
        if (result < 0) {
            return result;
        }
        fillAt_ += silence->nb_samples;
        const int64_t durationUs =
            av_rescale(silence->nb_samples, AV_TIME_BASE, silence->sample_rate);
        return PushNow(silence.get(), durationUs, why) ? 0 : AVERROR(EINVAL);
    }
    const FramePtr frame = std::move(waiting_);
    if (!PushNow(frame.get(), waitingUs_, why)) {
        return AVERROR(EINVAL);
    }
    if (endAfterFill_ && !FilterChain::End(why)) {
        return AVERROR(EINVAL);
    }
    return 0;
}

int AudioChain::Pull(AVFrame* out) {
    // Encoders that take any size get what the graph gave, still on the
    // chain's clock.
    const bool fixed = encoder_->frame_size > 0 &&
                       (encoder_->codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE) == 0;
    if (!queue_ || !piece_) {
        return AVERROR(ENOMEM);
    }
    for (;;) {
        const int queued = av_audio_fifo_size(queue_.get());
        if (queued > 0 && (!fixed || queued >= encoder_->frame_size)) {
            return Take(out, fixed ? encoder_->frame_size : queued);
        }
        const int pulled = FilterChain::Pull(piece_.get());
        if (pulled == AVERROR(EAGAIN) && waiting_) {
            const int filled = Fill();
            if (filled < 0) {
                return filled;
            }
            continue;
        }
        if (pulled == AVERROR_EOF && queued > 0) {
            return Take(out, queued); // the track's last, shorter frame
        }
        if (pulled < 0) {
            return pulled;
        }
        const int written = av_audio_fifo_write(
            queue_.get(), reinterpret_cast<void**>(piece_->extended_data), piece_->nb_samples);
        av_frame_unref(piece_.get());
        if (written < 0) {
            return written;
        }
    }
}

} // namespace norv_engine
