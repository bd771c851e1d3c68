#include "video_chain.h"

#include <algorithm>
#include <cstdlib>

#include "picture_place.h"

namespace norv_engine {

namespace {

std::string PixelFormatName(int format) {
    const char* name = av_get_pix_fmt_name(static_cast<AVPixelFormat>(format));
    return name != nullptr ? name : std::to_string(format);
}

bool Interlaced(const AVFrame* frame) {
#ifdef AV_FRAME_FLAG_INTERLACED
    return (frame->flags & AV_FRAME_FLAG_INTERLACED) != 0;
#else
    return frame->interlaced_frame != 0;
#endif
}

const char* RangeName(AVColorRange range) {
    return range == AVCOL_RANGE_JPEG ? "pc" : "tv";
}

} // namespace

PictureColour VideoChain::FrameColour(const AVFrame* frame) const {
    return SourceColour(frame->color_primaries, frame->color_trc, frame->colorspace,
                        frame->color_range, frame->format, frame->width, frame->height,
                        setup_.frameRate);
}

bool VideoChain::Changed(const AVFrame* frame) const {
    return frame->width != width_ || frame->height != height_ || frame->format != format_ ||
           av_cmp_q(frame->sample_aspect_ratio, frameAspect_) != 0 ||
           FrameColour(frame) != colour_ || (Interlaced(frame) && !deinterlacing_);
}

bool VideoChain::AddToBt709(const PictureColour& source, std::string& why) {
    if (!Add("zscale",
             {{"tin", std::to_string(source.transfer)},
              {"pin", std::to_string(source.primaries)},
              {"min", std::to_string(source.matrix)},
              {"rin", RangeName(source.range)},
              {"t", "linear"},
              {"npl", "100"}},
             why) ||
        !Add("format", {{"pix_fmts", "gbrpf32le"}}, why) || !Add("zscale", {{"p", "bt709"}}, why)) {
        return false;
    }
    if (IsHighDynamicRange(source) &&
        !Add("tonemap", {{"tonemap", "hable"}, {"desat", "0"}}, why)) {
        return false;
    }
    return Add("zscale", {{"t", "bt709"}, {"m", "bt709"}, {"r", "tv"}}, why) &&
           Add("format", {{"pix_fmts", "yuv444p"}}, why);
}

bool VideoChain::Build(const AVFrame* frame, std::string& why) {
    const VideoChainSetup& s = setup_;
    const AVRational aspect =
        frame->sample_aspect_ratio.num > 0 ? frame->sample_aspect_ratio : AVRational{1, 1};
    const PictureColour source = FrameColour(frame);
    const bool deinterlace = s.interlacedSource || Interlaced(frame);
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
    // One frame out per frame in, so the frame rate stays the source's.
    if (deinterlace &&
        !Add("bwdif", {{"mode", "send_frame"}, {"parity", "auto"}, {"deint", "interlaced"}}, why)) {
        return false;
    }
    if (!Add("fps", {{"fps", Ratio(s.frameRate)}}, why)) {
        return false;
    }
    PictureColour scaled = source;
    if (IsWideGamut(source)) {
        if (!AddToBt709(source, why)) {
            return false;
        }
        scaled = PictureColour{};
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
    const bool cropped = w > 0 && h > 0;
    const PicturePlace place =
        PlacePicture(cropped ? w : frame->width, cropped ? h : frame->height, aspect,
                     s.quarterTurns, s.width, s.height, s.sampleAspect, s.keepAspect);
    if (!Add("scale",
             {{"w", std::to_string(place.width)},
              {"h", std::to_string(place.height)},
              {"flags", "bicubic"},
              {"in_color_matrix", ScaleMatrixName(scaled.matrix)},
              {"out_color_matrix", ScaleMatrixName(s.colour.matrix)},
              {"in_range", RangeName(scaled.range)},
              {"out_range", RangeName(s.colour.range)}},
             why)) {
        return false;
    }
    if ((place.width != s.width || place.height != s.height) &&
        !Add("pad",
             {{"w", std::to_string(s.width)},
              {"h", std::to_string(s.height)},
              {"x", std::to_string(place.x)},
              {"y", std::to_string(place.y)},
              {"color", "black"}},
             why)) {
        return false;
    }
    if (!Add("setsar", {{"sar", Ratio(s.sampleAspect)}}, why)) {
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
    // The tags come last, on frames already in the encoder's format, so that
    // no conversion reads them as the colours of the frames before.
    if (!Add("format", {{"pix_fmts", av_get_pix_fmt_name(s.pixelFormat)}}, why) ||
        !Add("setparams",
             {{"field_mode", "prog"},
              {"range", std::to_string(s.colour.range)},
              {"color_primaries", std::to_string(s.colour.primaries)},
              {"color_trc", std::to_string(s.colour.transfer)},
              {"colorspace", std::to_string(s.colour.matrix)}},
             why) ||
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
    colour_ = source;
    deinterlacing_ = deinterlace;
    return true;
}

} // namespace norv_engine
