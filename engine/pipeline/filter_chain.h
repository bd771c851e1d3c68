// What the picture and sound chains share: one libavfilter graph from a
// buffer source to a buffer sink, made for the first frame and made anew
// when the frames' format changes (the frames the old graph still holds are
// handed out first).
#pragma once

#include <deque>
#include <initializer_list>
#include <string>
#include <utility>

#include "ffmpeg.h"

namespace norv_engine {

class FilterChain {
public:
    virtual ~FilterChain() = default;

    /// Feeds a decoded frame, timestamps in microseconds of the joined
    /// timeline, that lasts durationUs. False (with why) when the graph
    /// cannot be made or refuses the frame.
    virtual bool Push(AVFrame* frame, int64_t durationUs, std::string& why);
    /// Tells the graph that no more frames come.
    virtual bool End(std::string& why);
    /// The next frame is made a graph of its own, as if its format had
    /// changed (a joined file begins).
    void StartAnew() { restart_ = true; }
    /// A frame for the encoder: 0, AVERROR(EAGAIN) when more input is
    /// needed, AVERROR_EOF after the end, or another error.
    virtual int Pull(AVFrame* out);

protected:
    /// Makes graph() for frames like this one, from source() to sink().
    virtual bool Build(const AVFrame* frame, std::string& why) = 0;
    /// True when this frame needs a graph other than the current one.
    virtual bool Changed(const AVFrame* frame) const = 0;
    /// Sees each frame as it leaves a graph, in order (those of a graph
    /// that is replaced before the next graph is built).
    virtual void TookOut(const AVFrame* /*frame*/) {}

    using FilterOptions = std::initializer_list<std::pair<const char*, std::string>>;
    /// Starts a new graph; the next Add links after nothing.
    bool NewGraph(std::string& why);
    /// Adds a filter linked after the one added before. False (with why) on
    /// failure.
    bool Add(const char* name, FilterOptions options, std::string& why);
    bool AddWith(const char* name, AVDictionary** options, std::string& why);
    /// Marks the last filter added as the source or the sink.
    void MarkSource() { source_ = last_; }
    void MarkSink() { sink_ = last_; }
    bool Configure(std::string& why);
    AVFilterContext* sink() const { return sink_; }

private:
    bool Drain(std::string& why);
    /// Ends the graph's input where the last frame ended.
    int Close();

    FilterGraphPtr graph_;
    AVFilterContext* source_ = nullptr;
    AVFilterContext* sink_ = nullptr;
    AVFilterContext* last_ = nullptr;
    std::deque<FramePtr> pending_;
    bool ended_ = false;
    bool restart_ = false;
    int64_t end_ = AV_NOPTS_VALUE; ///< where the last frame pushed ends
};

/// "num/den"
std::string Ratio(AVRational r);

} // namespace norv_engine
