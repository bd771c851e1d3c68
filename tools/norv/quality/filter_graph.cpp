#include "quality/filter_graph.h"

#include <cstdlib>

#include "common/library.h"

namespace norv {

namespace {

using norv_engine::ErrorText;
using norv_engine::FilterInOutPtr;

void Fail(const std::string& what, int code) {
    throw Failure("cannot measure: " + what + " (" + ErrorText(code) + ")", nvt::ENG_ERR);
}

} // namespace

FilterGraph::FilterGraph(const std::vector<PictureFormat>& sources, int sinks,
                         const std::string& description)
    : graph_(avfilter_graph_alloc()) {
    if (!graph_) {
        Fail("no filter graph", AVERROR(ENOMEM));
    }
    graph_->nb_threads = 0;
    AVFilterInOut* outputs = nullptr; // the graph's open inputs, fed by sources
    AVFilterInOut* inputs = nullptr;  // its open outputs, read by sinks
    for (size_t i = 0; i < sources.size(); ++i) {
        const PictureFormat& f = sources[i];
        char args[256];
        std::snprintf(args, sizeof args,
                      "video_size=%dx%d:pix_fmt=%d:time_base=%d/%d:pixel_aspect=%d/%d", f.width,
                      f.height, f.pixelFormat, f.timeBase.num, f.timeBase.den,
                      f.sampleAspect.num > 0 ? f.sampleAspect.num : 1,
                      f.sampleAspect.den > 0 ? f.sampleAspect.den : 1);
        AVFilterContext* source = nullptr;
        const std::string name = "in" + std::to_string(i);
        const int made = avfilter_graph_create_filter(&source, avfilter_get_by_name("buffer"),
                                                      name.c_str(), args, nullptr, graph_.get());
        if (made < 0) {
            Fail("no picture source", made);
        }
        sources_.push_back(source);
        AVFilterInOut* io = avfilter_inout_alloc();
        io->name = av_strdup(name.c_str());
        io->filter_ctx = source;
        io->pad_idx = 0;
        io->next = outputs;
        outputs = io;
    }
    for (int i = 0; i < sinks; ++i) {
        AVFilterContext* sink = nullptr;
        const std::string name = "out" + std::to_string(i);
        const int made = avfilter_graph_create_filter(&sink, avfilter_get_by_name("buffersink"),
                                                      name.c_str(), nullptr, nullptr, graph_.get());
        if (made < 0) {
            Fail("no picture sink", made);
        }
        sinks_.push_back(sink);
        AVFilterInOut* io = avfilter_inout_alloc();
        io->name = av_strdup(name.c_str());
        io->filter_ctx = sink;
        io->pad_idx = 0;
        io->next = inputs;
        inputs = io;
    }
    const int parsed =
        avfilter_graph_parse_ptr(graph_.get(), description.c_str(), &inputs, &outputs, nullptr);
    const FilterInOutPtr leftIn(inputs), leftOut(outputs);
    if (parsed < 0) {
        Fail("filters " + description, parsed);
    }
    const int configured = avfilter_graph_config(graph_.get(), nullptr);
    if (configured < 0) {
        Fail("filters " + description, configured);
    }
}

void FilterGraph::Push(int source, AVFrame* frame) {
    const int pushed = av_buffersrc_add_frame_flags(sources_[static_cast<size_t>(source)], frame,
                                                    AV_BUFFERSRC_FLAG_KEEP_REF);
    if (pushed < 0 && pushed != AVERROR_EOF) {
        Fail("a picture was refused", pushed);
    }
}

void FilterGraph::End(int source, int64_t pts) {
    const int closed = av_buffersrc_close(sources_[static_cast<size_t>(source)], pts, 0);
    if (closed < 0 && closed != AVERROR_EOF) {
        Fail("a picture stream would not end", closed);
    }
}

bool FilterGraph::Pull(int sink, AVFrame* frame) {
    return av_buffersink_get_frame(sinks_[static_cast<size_t>(sink)], frame) >= 0;
}

double FrameValue(const AVFrame* frame, const char* key, double fallback) {
    const AVDictionaryEntry* entry = av_dict_get(frame->metadata, key, nullptr, 0);
    return entry != nullptr ? std::strtod(entry->value, nullptr) : fallback;
}

} // namespace norv
