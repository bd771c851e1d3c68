// A libavfilter graph with named frame sources and sinks around a filter
// description, for measuring. Descriptions hold numbers and filter names
// only: nothing a user typed.
#pragma once

#include <string>
#include <vector>

#include "ffmpeg.h"

namespace norv {

/// The pictures one source of a graph takes.
struct PictureFormat {
    int width = 0, height = 0;
    int pixelFormat = AV_PIX_FMT_YUV420P;
    AVRational timeBase{1, 25};
    AVRational sampleAspect{1, 1};
};

class FilterGraph {
public:
    /// description links labels [in0], [in1], ... (one per source) to
    /// [out0], [out1], ... (one per sink). Throws Failure.
    FilterGraph(const std::vector<PictureFormat>& sources, int sinks,
                const std::string& description);

    /// Hands a frame to source (nullptr: its end). Throws Failure.
    void Push(int source, AVFrame* frame);
    /// Ends source at pts (its time base), where its last frame ends: a
    /// filter that holds the last frame until it knows how long it lasts
    /// (fps) then gives it too. Throws Failure.
    void End(int source, int64_t pts);
    /// The next frame of sink, if one is ready.
    bool Pull(int sink, AVFrame* frame);

private:
    norv_engine::FilterGraphPtr graph_;
    std::vector<AVFilterContext*> sources_, sinks_;
};

/// A frame's metadata value as a number; fallback when it has none.
double FrameValue(const AVFrame* frame, const char* key, double fallback);

} // namespace norv
