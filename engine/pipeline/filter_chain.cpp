#include "filter_chain.h"

#include <algorithm>

namespace norv_engine {

std::string Ratio(AVRational r) {
    return std::to_string(r.num) + "/" + std::to_string(r.den);
}

bool FilterChain::NewGraph(std::string& why) {
    graph_.reset(avfilter_graph_alloc());
    source_ = sink_ = last_ = nullptr;
    if (!graph_) {
        why = "out of memory";
        return false;
    }
    return true;
}

bool FilterChain::AddWith(const char* name, AVDictionary** options, std::string& why) {
    const AVFilter* filter = avfilter_get_by_name(name);
    if (filter == nullptr) {
        why = std::string("no filter ") + name;
        return false;
    }
    AVFilterContext* context = avfilter_graph_alloc_filter(graph_.get(), filter, name);
    if (context == nullptr) {
        why = "out of memory";
        return false;
    }
    const int initialised = avfilter_init_dict(context, options);
    if (initialised < 0) {
        why = std::string("cannot set up the filter ") + name + ": " + ErrorText(initialised);
        return false;
    }
    if (last_ != nullptr) {
        const int linked = avfilter_link(last_, 0, context, 0);
        if (linked < 0) {
            why = std::string("cannot link the filter ") + name + ": " + ErrorText(linked);
            return false;
        }
    }
    last_ = context;
    return true;
}

bool FilterChain::Add(const char* name, FilterOptions options, std::string& why) {
    Options dict;
    for (const auto& option : options) {
        dict.Set(option.first, option.second.c_str());
    }
    return AddWith(name, dict.Address(), why);
}

bool FilterChain::Configure(std::string& why) {
    const int configured = avfilter_graph_config(graph_.get(), nullptr);
    if (configured < 0) {
        why = "cannot set up the filters: " + ErrorText(configured);
        return false;
    }
    return true;
}

int FilterChain::Close() {
    // The end time lets the frame rate filter give the last frame its slot.
    return end_ != AV_NOPTS_VALUE ? av_buffersrc_close(source_, end_, AV_BUFFERSRC_FLAG_PUSH)
                                  : av_buffersrc_add_frame(source_, nullptr);
}

bool FilterChain::Drain(std::string& why) {
    const int ended = Close();
    if (ended < 0) {
        why = "cannot end the filters: " + ErrorText(ended);
        return false;
    }
    for (;;) {
        FramePtr frame(av_frame_alloc());
        if (!frame) {
            why = "out of memory";
            return false;
        }
        if (av_buffersink_get_frame(sink_, frame.get()) < 0) {
            return true;
        }
        TookOut(frame.get());
        pending_.push_back(std::move(frame));
    }
}

bool FilterChain::Push(AVFrame* frame, int64_t durationUs, std::string& why) {
    const bool changed = graph_ && (restart_ || Changed(frame));
    restart_ = false;
    if (changed && !Drain(why)) {
        return false;
    }
    if ((!graph_ || changed) && !Build(frame, why)) {
        graph_.reset();
        return false;
    }
    const int added = av_buffersrc_add_frame_flags(source_, frame, AV_BUFFERSRC_FLAG_KEEP_REF);
    if (added < 0) {
        why = "the filters refused a frame: " + ErrorText(added);
        return false;
    }
    if (frame->pts != AV_NOPTS_VALUE) {
        const int64_t end = frame->pts + std::max<int64_t>(0, durationUs);
        end_ = end_ == AV_NOPTS_VALUE ? end : std::max(end_, end);
    }
    return true;
}

bool FilterChain::End(std::string& why) {
    if (ended_) {
        return true;
    }
    ended_ = true;
    if (!graph_) {
        return true;
    }
    const int ended = Close();
    if (ended < 0) {
        why = "cannot end the filters: " + ErrorText(ended);
        return false;
    }
    return true;
}

int FilterChain::Pull(AVFrame* out) {
    if (!pending_.empty()) {
        av_frame_move_ref(out, pending_.front().get());
        pending_.pop_front();
        return 0;
    }
    if (!graph_) {
        return ended_ ? AVERROR_EOF : AVERROR(EAGAIN);
    }
    const int pulled = av_buffersink_get_frame(sink_, out);
    if (pulled >= 0) {
        TookOut(out);
    }
    return pulled;
}

} // namespace norv_engine
