#include "bitmap_burn.h"

#include <algorithm>
#include <cmath>

#include "decoder.h"
#include "engine_log.h"
#include "subtitle_track.h"

namespace norv_engine {

namespace {

// The canvas of DVB subtitles that carry no display definition.
constexpr int kDvbCanvasWidth = 720;
constexpr int kDvbCanvasHeight = 576;
// Rows of a bitmap buffer start at multiples of this, as swscale prefers.
constexpr int kRowAlign = 64;
// Pictures taller than this get BT.709 colours, smaller ones BT.601.
constexpr int kLargestSdHeight = 576;

struct SwsFreer {
    void operator()(SwsContext* c) const { sws_freeContext(c); }
};
using SwsPtr = std::unique_ptr<SwsContext, SwsFreer>;

int AlignedRow(int bytes) {
    return (bytes + kRowAlign - 1) / kRowAlign * kRowAlign;
}

// v / 2^s rounded down, and rounded up, for negative v too.
int FloorShift(int v, int s) {
    return v >= 0 ? v >> s : -((-v + (1 << s) - 1) >> s);
}
int CeilShift(int v, int s) {
    return -FloorShift(-v, s);
}

// Planar YUV whose first three components lie in planes 0, 1, 2, one
// native-endian sample of 8 to 16 bits each.
bool BlendablePlanes(int format) {
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(format));
    const AVPixFmtDescriptor* native = av_pix_fmt_desc_get(AV_PIX_FMT_YUV420P16);
    if (d == nullptr || native == nullptr || d->nb_components < 3 ||
        (d->flags & AV_PIX_FMT_FLAG_PLANAR) == 0 ||
        (d->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_BITSTREAM |
                     AV_PIX_FMT_FLAG_FLOAT)) != 0 ||
        (d->flags & AV_PIX_FMT_FLAG_BE) != (native->flags & AV_PIX_FMT_FLAG_BE)) {
        return false;
    }
    for (int c = 0; c < 3; ++c) {
        const AVComponentDescriptor& comp = d->comp[c];
        if (comp.plane != c || comp.offset != 0 || comp.shift != 0 || comp.depth < 8 ||
            comp.depth > 16 || comp.step != (comp.depth > 8 ? 2 : 1)) {
            return false;
        }
    }
    return true;
}

} // namespace

BitmapBurn::BitmapBurn(const AVStream* stream, int sourceWidth, int sourceHeight,
                       const VideoChainSetup& chain)
    : sourceWidth_(sourceWidth), sourceHeight_(sourceHeight), chain_(chain),
      codec_(stream->codecpar->codec_id) {
    chain_.burn = nullptr; // only the picture's geometry is kept
}

bool BitmapBurn::Usable(std::string& why) const {
    if (!BlendablePlanes(chain_.pixelFormat)) {
        why = std::string("picture subtitles cannot be burnt into ") +
              av_get_pix_fmt_name(chain_.pixelFormat) + " pictures";
        return false;
    }
    return true;
}

bool BitmapBurn::Add(const AVStream* stream, size_t file, const AVPacket* packet, int64_t startUs,
                     std::string& why) {
    if (file != decoderFile_) {
        std::string problem;
        decoder_ = OpenDecoder(stream, 1, std::string(), problem);
        decoderFile_ = file;
        if (!decoder_) {
            LogLine(Severity::Warning, "picture subtitles not burnt in: %s", problem.c_str());
        }
    }
    if (!decoder_ || startUs == AV_NOPTS_VALUE) {
        return true;
    }
    DecodedSubtitle subtitle;
    int got = 0;
    if (avcodec_decode_subtitle2(decoder_.get(), &subtitle.value, &got,
                                 const_cast<AVPacket*>(packet)) < 0 ||
        got == 0) {
        return true; // skipped, as a player would
    }
    const AVSubtitle& s = subtitle.value;
    const auto ms = [](uint32_t v) { return av_rescale(v, AV_TIME_BASE, 1000); };
    Shown now;
    now.start = startUs + ms(s.start_display_time);
    if (s.end_display_time > s.start_display_time && s.end_display_time != UINT32_MAX) {
        now.end = startUs + ms(s.end_display_time);
    }
    // A new subtitle, empty or not, replaces what shows.
    for (Shown& earlier : shown_) {
        earlier.end = std::min(earlier.end, now.start);
    }
    for (unsigned i = 0; i < s.num_rects; ++i) {
        Overlay overlay;
        if (!Prepare(*s.rects[i], overlay, why)) {
            return false;
        }
        if (overlay.w > 0 && overlay.h > 0) {
            now.overlays.push_back(std::move(overlay));
        }
    }
    if (!now.overlays.empty() && now.end > now.start) {
        shown_.push_back(std::move(now));
    }
    return true;
}

bool BitmapBurn::Prepare(const AVSubtitleRect& rect, Overlay& out, std::string& why) {
    if (rect.type != SUBTITLE_BITMAP || rect.w <= 0 || rect.h <= 0 || rect.data[0] == nullptr ||
        rect.data[1] == nullptr) {
        return true;
    }
    // The canvas the rectangle is placed on covers the source picture.
    int canvasWidth = decoder_->width;
    int canvasHeight = decoder_->height;
    if (canvasWidth <= 0 || canvasHeight <= 0) {
        const bool dvb = codec_ == AV_CODEC_ID_DVB_SUBTITLE;
        canvasWidth = dvb ? kDvbCanvasWidth : sourceWidth_;
        canvasHeight = dvb ? kDvbCanvasHeight : sourceHeight_;
    }
    const VideoChainSetup& c = chain_;
    double left = c.cropLeft, top = c.cropTop;
    double partWidth = sourceWidth_ - c.cropLeft - c.cropRight;
    double partHeight = sourceHeight_ - c.cropTop - c.cropBottom;
    double scaleX = static_cast<double>(sourceWidth_) / canvasWidth;
    double scaleY = static_cast<double>(sourceHeight_) / canvasHeight;
    if (c.quarterTurns % 2 != 0 || partWidth <= 0 || partHeight <= 0) {
        // A turned picture: the canvas covers the output as it is.
        left = top = 0;
        partWidth = canvasWidth;
        partHeight = canvasHeight;
        scaleX = scaleY = 1.0;
    }
    const double toOutX = c.width / partWidth;
    const double toOutY = c.height / partHeight;
    const auto at = [](double v) { return static_cast<int>(std::lround(v)); };
    out.x = at((rect.x * scaleX - left) * toOutX);
    out.y = at((rect.y * scaleY - top) * toOutY);
    out.w = at(((rect.x + rect.w) * scaleX - left) * toOutX) - out.x;
    out.h = at(((rect.y + rect.h) * scaleY - top) * toOutY) - out.y;
    if (out.w <= 0 || out.h <= 0 || out.x >= c.width || out.y >= c.height || out.x + out.w <= 0 ||
        out.y + out.h <= 0) {
        out.w = out.h = 0;
        return true;
    }
    // The palette's colours (native-endian ARGB) at each pixel.
    const int sourceStride = AlignedRow(rect.w * 4);
    std::unique_ptr<uint8_t, BufferFreer> argb(
        static_cast<uint8_t*>(av_malloc(static_cast<size_t>(sourceStride) * rect.h)));
    out.stride = AlignedRow(out.w);
    out.data.reset(static_cast<uint8_t*>(av_malloc(static_cast<size_t>(out.stride) * out.h * 4)));
    SwsPtr sws(sws_getContext(rect.w, rect.h, AV_PIX_FMT_RGB32, out.w, out.h, AV_PIX_FMT_YUVA444P,
                              SWS_BICUBIC, nullptr, nullptr, nullptr));
    if (!argb || !out.data || !sws) {
        why = "out of memory";
        return false;
    }
    const auto* palette = reinterpret_cast<const uint32_t*>(rect.data[1]);
    for (int y = 0; y < rect.h; ++y) {
        const uint8_t* index = rect.data[0] + static_cast<ptrdiff_t>(y) * rect.linesize[0];
        auto* row =
            reinterpret_cast<uint32_t*>(argb.get() + static_cast<ptrdiff_t>(y) * sourceStride);
        for (int x = 0; x < rect.w; ++x) {
            row[x] = index[x] < rect.nb_colors ? palette[index[x]] : 0;
        }
    }
    const int matrix = c.height > kLargestSdHeight ? SWS_CS_ITU709 : SWS_CS_ITU601;
    sws_setColorspaceDetails(sws.get(), sws_getCoefficients(SWS_CS_DEFAULT), 1,
                             sws_getCoefficients(matrix), 0, 0, 1 << 16, 1 << 16);
    const uint8_t* const source[4] = {argb.get(), nullptr, nullptr, nullptr};
    const int sourceStrides[4] = {sourceStride, 0, 0, 0};
    uint8_t* planes[4];
    int strides[4];
    for (int p = 0; p < 4; ++p) {
        planes[p] = out.Plane(p);
        strides[p] = out.stride;
    }
    sws_scale(sws.get(), source, sourceStrides, 0, rect.h, planes, strides);
    return true;
}

bool BitmapBurn::Blend(AVFrame* frame, int64_t atUs, std::string& why) {
    shown_.erase(std::remove_if(shown_.begin(), shown_.end(),
                                [atUs](const Shown& s) { return s.end <= atUs; }),
                 shown_.end());
    const auto showing = [atUs](const Shown& s) { return s.start <= atUs; };
    if (std::none_of(shown_.begin(), shown_.end(), showing)) {
        return true;
    }
    if (!BlendablePlanes(frame->format)) {
        why = "picture subtitles cannot be burnt into this picture";
        return false;
    }
    const int writable = av_frame_make_writable(frame);
    if (writable < 0) {
        why = "cannot burn in picture subtitles: " + ErrorText(writable);
        return false;
    }
    for (const Shown& s : shown_) {
        if (!showing(s)) {
            continue;
        }
        for (const Overlay& overlay : s.overlays) {
            for (int plane = 0; plane < 3; ++plane) {
                BlendPlane(frame, plane, overlay);
            }
        }
    }
    return true;
}

void BitmapBurn::BlendPlane(AVFrame* frame, int plane, const Overlay& o) const {
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame->format));
    const int sx = plane == 0 ? 0 : d->log2_chroma_w;
    const int sy = plane == 0 ? 0 : d->log2_chroma_h;
    const int depth = d->comp[plane].depth;
    const int x0 = std::max(0, FloorShift(o.x, sx));
    const int y0 = std::max(0, FloorShift(o.y, sy));
    const int x1 = std::min(CeilShift(frame->width, sx), CeilShift(o.x + o.w, sx));
    const int y1 = std::min(CeilShift(frame->height, sy), CeilShift(o.y + o.h, sy));
    const uint8_t* value = o.Plane(plane);
    const uint8_t* alpha = o.Plane(3);
    // Each sample of the plane covers a block of overlay pixels: their
    // mean alpha and alpha-weighted value decide the blend.
    const int64_t full = 255LL << (sx + sy);
    for (int py = y0; py < y1; ++py) {
        uint8_t* row = frame->data[plane] + static_cast<ptrdiff_t>(py) * frame->linesize[plane];
        const int oy0 = std::max(0, (py << sy) - o.y);
        const int oy1 = std::min(o.h, ((py + 1) << sy) - o.y);
        for (int px = x0; px < x1; ++px) {
            const int ox0 = std::max(0, (px << sx) - o.x);
            const int ox1 = std::min(o.w, ((px + 1) << sx) - o.x);
            int64_t sumA = 0, sumAV = 0;
            for (int oy = oy0; oy < oy1; ++oy) {
                const size_t base = static_cast<size_t>(oy) * o.stride;
                for (int ox = ox0; ox < ox1; ++ox) {
                    sumA += alpha[base + ox];
                    sumAV += static_cast<int64_t>(alpha[base + ox]) * value[base + ox];
                }
            }
            if (sumA == 0) {
                continue;
            }
            if (depth == 8) {
                uint8_t& v = row[px];
                v = static_cast<uint8_t>((v * (full - sumA) + sumAV + full / 2) / full);
            } else {
                auto& v = reinterpret_cast<uint16_t*>(row)[px];
                v = static_cast<uint16_t>((v * (full - sumA) + (sumAV << (depth - 8)) + full / 2) /
                                          full);
            }
        }
    }
}

} // namespace norv_engine
