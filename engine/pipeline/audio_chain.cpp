#include "audio_chain.h"

namespace norv_engine {

namespace {

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

bool AudioChain::Changed(const AVFrame* frame) const {
    return frame->sample_rate != rate_ || frame->format != format_ ||
           frame->ch_layout.nb_channels != channels_;
}

bool AudioChain::Build(const AVFrame* frame, std::string& why) {
    const AVCodecContext* e = encoder_;
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
    // overlaps; first_pts: the track starts at 0 as the picture does.
    if (!Add("aresample",
             {{"async", "1"}, {"first_pts", "0"}, {"osr", std::to_string(e->sample_rate)}}, why) ||
        !Add("aformat",
             {{"sample_fmts", av_get_sample_fmt_name(e->sample_fmt)},
              {"sample_rates", std::to_string(e->sample_rate)},
              {"channel_layouts", LayoutText(e->ch_layout)}},
             why) ||
        !Add("abuffersink", {}, why)) {
        return false;
    }
    MarkSink();
    if (!Configure(why)) {
        return false;
    }
    const bool variable = (e->codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE) != 0;
    if (e->frame_size > 0 && !variable) {
        av_buffersink_set_frame_size(sink(), static_cast<unsigned>(e->frame_size));
    }
    rate_ = frame->sample_rate;
    format_ = frame->format;
    channels_ = frame->ch_layout.nb_channels;
    return true;
}

} // namespace norv_engine
