#include "thumbnail.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>

#include "decoder.h"
#include "engine_log.h"
#include "media_probe.h"

namespace norv_engine {

namespace {

// Bounds on the work of finding the frame: packets read, and frames decoded.
constexpr int kMaxPackets = 3000;
constexpr int kMaxFrames = 300;

int QuarterTurns(int angle) {
    const int turns = static_cast<int>(std::lround(angle / 90.0)) % 4;
    return turns < 0 ? turns + 4 : turns;
}

// Moves every frame the decoder has ready into last; true once a frame at or
// after target (or any frame, for no target) arrived.
bool Collect(AVCodecContext* decoder, AVFrame* scratch, FramePtr& last, int64_t target,
             int& decoded) {
    while (avcodec_receive_frame(decoder, scratch) >= 0) {
        ++decoded;
        av_frame_unref(last.get());
        av_frame_move_ref(last.get(), scratch);
        const int64_t ts = last->best_effort_timestamp;
        if (target == AV_NOPTS_VALUE || ts == AV_NOPTS_VALUE || ts >= target) {
            return true;
        }
    }
    return false;
}

// The frame about a tenth of the way into the stream, or the cover picture.
FramePtr DecodeFrame(AVFormatContext* format, AVStream* stream, AVCodecContext* decoder,
                     const StopToken& stop) {
    FramePtr last(av_frame_alloc());
    FramePtr scratch(av_frame_alloc());
    PacketPtr packet(av_packet_alloc());
    if (!last || !scratch || !packet) {
        return nullptr;
    }
    int decoded = 0;
    if (IsCoverArt(stream)) {
        avcodec_send_packet(decoder, &stream->attached_pic);
        avcodec_send_packet(decoder, nullptr);
        Collect(decoder, scratch.get(), last, AV_NOPTS_VALUE, decoded);
        return decoded > 0 ? std::move(last) : nullptr;
    }
    const int64_t start = stream->start_time != AV_NOPTS_VALUE ? stream->start_time : 0;
    int64_t length = stream->duration;
    if (length == AV_NOPTS_VALUE && format->duration > 0) {
        length = av_rescale_q(format->duration, AV_TIME_BASE_Q, stream->time_base);
    }
    int64_t target = AV_NOPTS_VALUE;
    if (length != AV_NOPTS_VALUE && length > 0) {
        target = start + length / 10;
        if (av_seek_frame(format, stream->index, target, AVSEEK_FLAG_BACKWARD) < 0) {
            target = AV_NOPTS_VALUE; // read on from where the probe left off
        }
    }
    for (int packets = 0; packets < kMaxPackets && decoded < kMaxFrames; ++packets) {
        if (stop.StopRequested()) {
            return nullptr;
        }
        const int read = av_read_frame(format, packet.get());
        if (read < 0) {
            break;
        }
        if (packet->stream_index == stream->index) {
            avcodec_send_packet(decoder, packet.get()); // a damaged packet is skipped
        }
        av_packet_unref(packet.get());
        if (Collect(decoder, scratch.get(), last, target, decoded)) {
            return last;
        }
    }
    avcodec_send_packet(decoder, nullptr);
    Collect(decoder, scratch.get(), last, target, decoded);
    return decoded > 0 ? std::move(last) : nullptr;
}

AVPixelFormat EncoderPixelFormat(const AVCodec* encoder, AVPixelFormat source) {
    if (encoder->id == AV_CODEC_ID_MJPEG) {
        return AV_PIX_FMT_YUVJ420P;
    }
    if (encoder->pix_fmts == nullptr) {
        return AV_PIX_FMT_RGB24;
    }
    return avcodec_find_best_pix_fmt_of_list(encoder->pix_fmts, source, 0, nullptr);
}

// Turns, scales and converts the frame through a filter graph.
FramePtr Convert(const AVFrame* frame, AVRational sar, int angle, ThumbnailSize size,
                 AVPixelFormat target) {
    FilterGraphPtr graph(avfilter_graph_alloc());
    if (!graph) {
        return nullptr;
    }
    graph->nb_threads = 1;
    char args[256];
    std::snprintf(args, sizeof args,
                  "video_size=%dx%d:pix_fmt=%d:time_base=1/25:pixel_aspect=%d/%d", frame->width,
                  frame->height, frame->format, std::max(sar.num, 1), std::max(sar.den, 1));
    AVFilterContext* source = nullptr;
    AVFilterContext* sink = nullptr;
    if (avfilter_graph_create_filter(&source, avfilter_get_by_name("buffer"), "in", args, nullptr,
                                     graph.get()) < 0 ||
        avfilter_graph_create_filter(&sink, avfilter_get_by_name("buffersink"), "out", nullptr,
                                     nullptr, graph.get()) < 0) {
        return nullptr;
    }
    static const char* const kTurns[] = {"", "transpose=clock,", "hflip,vflip,",
                                         "transpose=cclock,"};
    char chain[256];
    std::snprintf(chain, sizeof chain, "%sscale=%d:%d:flags=bicubic,setsar=1,format=pix_fmts=%s",
                  kTurns[QuarterTurns(angle)], size.width, size.height,
                  av_get_pix_fmt_name(target));
    FilterInOutPtr outputs(avfilter_inout_alloc());
    FilterInOutPtr inputs(avfilter_inout_alloc());
    if (!outputs || !inputs) {
        return nullptr;
    }
    outputs->name = av_strdup("in");
    outputs->filter_ctx = source;
    inputs->name = av_strdup("out");
    inputs->filter_ctx = sink;
    AVFilterInOut* out = outputs.release();
    AVFilterInOut* in = inputs.release();
    const int parsed = avfilter_graph_parse_ptr(graph.get(), chain, &in, &out, nullptr);
    avfilter_inout_free(&in);
    avfilter_inout_free(&out);
    if (parsed < 0 || avfilter_graph_config(graph.get(), nullptr) < 0) {
        return nullptr;
    }
    FramePtr input(av_frame_clone(frame));
    FramePtr result(av_frame_alloc());
    if (!input || !result || av_buffersrc_add_frame(source, input.get()) < 0 ||
        av_buffersink_get_frame(sink, result.get()) < 0) {
        return nullptr;
    }
    return result;
}

// Encodes the picture as the format the file name's extension names.
bool EncodeAndWrite(const AVFrame* picture, const AVCodec* encoder, const std::string& path) {
    CodecContextPtr context(avcodec_alloc_context3(encoder));
    if (!context) {
        return false;
    }
    context->width = picture->width;
    context->height = picture->height;
    context->pix_fmt = static_cast<AVPixelFormat>(picture->format);
    context->time_base = AVRational{1, 25};
    context->sample_aspect_ratio = AVRational{1, 1};
    context->color_range = AVCOL_RANGE_JPEG;
    context->thread_count = 1;
    PacketPtr packet(av_packet_alloc());
    if (!packet || avcodec_open2(context.get(), encoder, nullptr) < 0 ||
        avcodec_send_frame(context.get(), picture) < 0 ||
        avcodec_send_frame(context.get(), nullptr) < 0 ||
        avcodec_receive_packet(context.get(), packet.get()) < 0) {
        return false;
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(packet->data), packet->size);
    out.close();
    if (!out) {
        std::remove(path.c_str());
        return false;
    }
    return true;
}

} // namespace

ThumbnailSize FitThumbnail(int width, int height, AVRational sar, int angle, int maxWidth,
                           int maxHeight) {
    ThumbnailSize size;
    if (width <= 0 || height <= 0) {
        return size;
    }
    const double aspect = (sar.num > 0 && sar.den > 0) ? av_q2d(sar) : 1.0;
    double shownWidth = width * aspect;
    double shownHeight = height;
    if (QuarterTurns(angle) % 2 == 1) {
        std::swap(shownWidth, shownHeight);
    }
    double scale = 1.0;
    if (maxWidth > 0) {
        scale = std::min(scale, maxWidth / shownWidth);
    }
    if (maxHeight > 0) {
        scale = std::min(scale, maxHeight / shownHeight);
    }
    size.width = std::max(1, static_cast<int>(std::lround(shownWidth * scale)));
    size.height = std::max(1, static_cast<int>(std::lround(shownHeight * scale)));
    if (maxWidth > 0) {
        size.width = std::min(size.width, maxWidth);
    }
    if (maxHeight > 0) {
        size.height = std::min(size.height, maxHeight);
    }
    return size;
}

ThumbnailSize WriteThumbnail(AVFormatContext* format, int streamIndex, int angle,
                             const ThumbnailRequest& request, const StopToken& stop) {
    const AVCodecID codecId = av_guess_codec(av_guess_format("image2", nullptr, nullptr), nullptr,
                                             request.path.c_str(), nullptr, AVMEDIA_TYPE_VIDEO);
    const AVCodec* encoder = avcodec_find_encoder(codecId);
    if (encoder == nullptr) {
        LogLine(Severity::Warning, "no picture encoder for %s", request.path.c_str());
        return ThumbnailSize();
    }
    AVStream* stream = format->streams[streamIndex];
    std::string why;
    CodecContextPtr decoder = OpenDecoder(stream, 1, std::string(), why);
    if (!decoder) {
        LogLine(Severity::Warning, "cannot decode the video for a thumbnail");
        return ThumbnailSize();
    }
    FramePtr frame = DecodeFrame(format, stream, decoder.get(), stop);
    if (!frame) {
        LogLine(Severity::Warning, "no frame decoded for a thumbnail");
        return ThumbnailSize();
    }
    const AVRational sar = av_guess_sample_aspect_ratio(format, stream, frame.get());
    const ThumbnailSize size =
        FitThumbnail(frame->width, frame->height, sar, angle, request.maxWidth, request.maxHeight);
    const AVPixelFormat pixelFormat =
        EncoderPixelFormat(encoder, static_cast<AVPixelFormat>(frame->format));
    FramePtr picture = Convert(frame.get(), sar, angle, size, pixelFormat);
    if (!picture || !EncodeAndWrite(picture.get(), encoder, request.path)) {
        LogLine(Severity::Warning, "cannot write the thumbnail %s", request.path.c_str());
        return ThumbnailSize();
    }
    LogLine(Severity::Info, "thumbnail %s: %dx%d", request.path.c_str(), size.width, size.height);
    return size;
}

} // namespace norv_engine
