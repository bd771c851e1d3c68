// Picture subtitles (DVD, DVB, Blu-ray) burnt into the output picture. Each
// decoded subtitle is scaled once from its canvas onto the output picture
// (following the crop), kept with the time it shows, and blended onto every
// frame of that time. A subtitle shows until its own end or until the next
// one (which may be empty) replaces it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ffmpeg.h"
#include "video_chain.h"

namespace norv_engine {

class BitmapBurn {
public:
    /// For the subtitles of stream, onto the pictures chain makes of a
    /// sourceWidth x sourceHeight source.
    BitmapBurn(const AVStream* stream, int sourceWidth, int sourceHeight,
               const VideoChainSetup& chain);

    /// False (with why) when the chain's pictures are of a pixel format
    /// subtitles cannot be blended into.
    bool Usable(std::string& why) const;

    /// Decodes a packet of stream, a stream of the lane's file number file
    /// (a later joined file gets a decoder of its own); startUs is the
    /// packet's time on the joined timeline. A packet that does not decode
    /// is skipped.
    bool Add(const AVStream* stream, size_t file, const AVPacket* packet, int64_t startUs,
             std::string& why);

    /// Blends the subtitles shown at atUs (joined timeline) onto frame, a
    /// picture of the chain.
    bool Blend(AVFrame* frame, int64_t atUs, std::string& why);

private:
    /// One rectangle, scaled to the output picture: Y, U, V and A planes
    /// of h rows of stride bytes each, w of them used.
    struct Overlay {
        int x = 0, y = 0, w = 0, h = 0;
        int stride = 0;
        std::unique_ptr<uint8_t, BufferFreer> data;
        uint8_t* Plane(int p) const { return data.get() + static_cast<ptrdiff_t>(p) * stride * h; }
    };
    struct Shown {
        int64_t start = 0;
        int64_t end = INT64_MAX;
        std::vector<Overlay> overlays;
    };

    bool Prepare(const AVSubtitleRect& rect, Overlay& out, std::string& why);
    void BlendPlane(AVFrame* frame, int plane, const Overlay& overlay) const;

    int sourceWidth_ = 0, sourceHeight_ = 0;
    VideoChainSetup chain_;
    AVCodecID codec_ = AV_CODEC_ID_NONE;
    CodecContextPtr decoder_;
    size_t decoderFile_ = SIZE_MAX; ///< the file the decoder is for
    std::vector<Shown> shown_;
};

} // namespace norv_engine
