#include "video_chain.h"

namespace norv_engine {

namespace {

std::string PixelFormatName(int format) {
    const char* name = av_get_pix_fmt_name(static_cast<AVPixelFormat>(format));
    return name != nullptr ? name : std::to_string(format);
}

} // namespace

bool VideoChain::Changed(const AVFrame* frame) const {
    return frame->width != width_ || frame->height != height_ || frame->format != format_ ||
           av_cmp_q(frame->sample_aspect_ratio, frameAspect_) != 0;
}

bool VideoChain::Build(const AVFrame* frame, std::string& why) {
    const VideoChainSetup& s = setup_;
    const AVRational aspect =
        frame->sample_aspect_ratio.num > 0 ? frame->sample_aspect_ratio : AVRational{1, 1};
    if (!NewGraph(why) ||
        !Add("buffer",
             {{"video_size", std::to_string(frame->width) + "x" + std::to_string(frame->height)},
              {"pix_fmt", PixelFormatName(frame->format)},
              {"time_base", "1/1000000"},
              {"pixel_aspect", Ratio(aspect)},
              {"frame_rate", Ratio(s.frameRate)}},
             why)) {
        return false;
    }
    MarkSource();
    if (!Add("fps", {{"fps", Ratio(s.frameRate)}}, why)) {
        return false;
    }
    const int w = frame->width - s.cropLeft - s.cropRight;
    const int h = frame->height - s.cropTop - s.cropBottom;
    if (s.cropLeft + s.cropRight + s.cropTop + s.cropBottom > 0 && w > 0 && h > 0 &&
        !Add("crop",
             {{"w", std::to_string(w)},
              {"h", std::to_string(h)},
              {"x", std::to_string(s.cropLeft)},
              {"y", std::to_string(s.cropTop)},
              {"exact", "1"}},
             why)) {
        return false;
    }
    if ((s.flipHorizontal && !Add("hflip", {}, why)) ||
        (s.flipVertical && !Add("vflip", {}, why))) {
        return false;
    }
    const int turns = ((s.quarterTurns % 4) + 4) % 4;
    if ((turns == 1 && !Add("transpose", {{"dir", "clock"}}, why)) ||
        (turns == 2 && (!Add("hflip", {}, why) || !Add("vflip", {}, why))) ||
        (turns == 3 && !Add("transpose", {{"dir", "cclock"}}, why))) {
        return false;
    }
    if (!Add(
            "scale",
            {{"w", std::to_string(s.width)}, {"h", std::to_string(s.height)}, {"flags", "bicubic"}},
            why) ||
        !Add("setsar", {{"sar", Ratio(s.sampleAspect)}}, why)) {
        return false;
    }
    if (s.burn != nullptr) {
        Options burn;
        burn.Set("filename", s.burn->file.c_str());
        if (s.burn->streamIndex >= 0) {
            burn.Set("stream_index", std::to_string(s.burn->streamIndex).c_str());
        }
        if (!s.burn->charset.empty()) {
            burn.Set("charenc", s.burn->charset.c_str());
        }
        if (!AddWith("subtitles", burn.Address(), why)) {
            return false;
        }
    }
    if (!Add("format", {{"pix_fmts", av_get_pix_fmt_name(s.pixelFormat)}}, why) ||
        !Add("buffersink", {}, why)) {
        return false;
    }
    MarkSink();
    if (!Configure(why)) {
        return false;
    }
    width_ = frame->width;
    height_ = frame->height;
    format_ = frame->format;
    frameAspect_ = frame->sample_aspect_ratio;
    return true;
}

} // namespace norv_engine
