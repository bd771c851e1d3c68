// FFmpeg's C headers, and small owners for its objects: every object the
// engine takes from FFmpeg is held by one of these, so that each error path
// frees what it took.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavformat/avformat.h>
#include <libavutil/avstring.h>
#include <libavutil/display.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <memory>
#include <string>

namespace norv_engine {

struct FormatContextCloser {
    void operator()(AVFormatContext* c) const { avformat_close_input(&c); }
};
struct CodecContextFreer {
    void operator()(AVCodecContext* c) const {
        if (c != nullptr) {
            av_freep(&c->stats_in); // the one field its user frees
        }
        avcodec_free_context(&c);
    }
};
struct FrameFreer {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketFreer {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct FilterGraphFreer {
    void operator()(AVFilterGraph* g) const { avfilter_graph_free(&g); }
};
struct FilterInOutFreer {
    void operator()(AVFilterInOut* io) const { avfilter_inout_free(&io); }
};
struct DictionaryFreer {
    void operator()(AVDictionary* d) const { av_dict_free(&d); }
};
struct BufferFreer {
    void operator()(void* p) const { av_free(p); }
};

/// An opened input (avformat_open_input); closing frees its streams too.
using FormatContextPtr = std::unique_ptr<AVFormatContext, FormatContextCloser>;
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextFreer>;
using FramePtr = std::unique_ptr<AVFrame, FrameFreer>;
using PacketPtr = std::unique_ptr<AVPacket, PacketFreer>;
using FilterGraphPtr = std::unique_ptr<AVFilterGraph, FilterGraphFreer>;
using FilterInOutPtr = std::unique_ptr<AVFilterInOut, FilterInOutFreer>;
/// Text FFmpeg allocated (av_get_token and the like).
using FfmpegText = std::unique_ptr<char, BufferFreer>;

/// A dictionary of options handed to FFmpeg, which may consume entries and
/// replace the pointer; what is left is freed at the end.
class Options {
public:
    Options() = default;
    ~Options() { av_dict_free(&dict_); }
    Options(const Options&) = delete;
    Options& operator=(const Options&) = delete;

    void Set(const char* key, const char* value) { av_dict_set(&dict_, key, value, 0); }
    AVDictionary** Address() { return &dict_; }

private:
    AVDictionary* dict_ = nullptr;
};

/// text as one value of an option string that FFmpeg splits with
/// av_get_token ("key=value:key=value", as x265-params): separators, quotes,
/// backslashes and the whitespace at either end escaped with backslashes.
/// False when there is no memory for it.
inline bool EscapeOptionValue(const std::string& text, std::string& escaped) {
    char* made = nullptr;
    if (av_escape(&made, text.c_str(), ":=", AV_ESCAPE_MODE_BACKSLASH, 0) < 0 || made == nullptr) {
        return false;
    }
    const FfmpegText held(made);
    escaped = held.get();
    return true;
}

/// FFmpeg's text for an error code.
inline std::string ErrorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

} // namespace norv_engine
