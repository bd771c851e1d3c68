// The picture of one output video stream, in one libavfilter graph: the
// decoded frames become frames for the encoder at a constant frame rate.
// In order: the deinterlacer (for interlaced sources; frames flagged
// progressive pass untouched), the frame rate, the tone mapping of high
// dynamic range and BT.2020 pictures into BT.709, the crop margins, the
// flips, the quarter turns, the scale to the output picture (into the
// output's colour matrix, and inside bars when the frames' display aspect
// is not the output's) with its pixel aspect, burnt-in subtitles, the
// encoder's pixel format and the output's colour tags.
#pragma once

#include <string>

#include "filter_chain.h"
#include "picture_colour.h"

namespace norv_engine {

/// Subtitles drawn into the picture by libavfilter's renderer.
struct SubtitleBurn {
    std::string file;     ///< a subtitle file, or the media file holding the track
    int streamIndex = -1; ///< among the file's subtitle streams; -1: the first
    std::string charset;  ///< the text's character set; empty: UTF-8
};

struct VideoChainSetup {
    AVRational frameRate{25, 1};
    int cropLeft = 0, cropRight = 0, cropTop = 0, cropBottom = 0;
    bool flipHorizontal = false;
    bool flipVertical = false;
    int quarterTurns = 0; ///< clockwise
    int width = 0;        ///< output picture
    int height = 0;
    AVRational sampleAspect{1, 1};
    /// The frames keep their display aspect inside the output picture
    /// (bars fill the rest); otherwise they are stretched to fill it.
    bool keepAspect = false;
    /// The source says its pictures are interlaced: frames flagged
    /// interlaced are deinterlaced (frames that come flagged are, whatever
    /// this says).
    bool interlacedSource = false;
    PictureColour colour;               ///< of the output picture
    const SubtitleBurn* burn = nullptr; ///< must outlive the chain
    AVPixelFormat pixelFormat = AV_PIX_FMT_YUV420P;
};

class VideoChain final : public FilterChain {
public:
    explicit VideoChain(const VideoChainSetup& setup) : setup_(setup) {}

    /// Time base of the frames Pull gives: one tick per frame.
    AVRational OutputTimeBase() const { return av_inv_q(setup_.frameRate); }

private:
    bool Build(const AVFrame* frame, std::string& why) override;
    bool Changed(const AVFrame* frame) const override;
    PictureColour FrameColour(const AVFrame* frame) const;
    /// Adds the filters that take source's pictures through linear light
    /// into BT.709 (tone mapped when of a high dynamic range).
    bool AddToBt709(const PictureColour& source, std::string& why);

    VideoChainSetup setup_;
    int width_ = 0, height_ = 0, format_ = -1;
    AVRational frameAspect_{0, 1};
    PictureColour colour_; ///< of the frames the graph was made for
    bool deinterlacing_ = false;
};

} // namespace norv_engine
