#include "subtitle_track.h"

#include <cstring>
#include <vector>

#include "decoder.h"
#include "engine_log.h"

namespace norv_engine {

namespace {

// Room for one encoded subtitle event.
constexpr int kSubtitleBufferSize = 1024 * 1024;
// An empty timed-text subtitle: a text length of 0.
constexpr int kTimedTextEmptySize = 2;

} // namespace

bool IsTextSubtitle(AVCodecID codec) {
    const AVCodecDescriptor* d = avcodec_descriptor_get(codec);
    return d != nullptr && (d->props & AV_CODEC_PROP_TEXT_SUB) != 0;
}

AVCodecID SubtitleOutputCodec(const char* muxer, AVCodecID source) {
    const bool text = IsTextSubtitle(source);
    if (std::strcmp(muxer, "matroska") == 0) {
        if (!text) {
            // The picture subtitles Matroska has codec names for.
            const bool carried = source == AV_CODEC_ID_DVD_SUBTITLE ||
                                 source == AV_CODEC_ID_DVB_SUBTITLE ||
                                 source == AV_CODEC_ID_HDMV_PGS_SUBTITLE;
            return carried ? source : AV_CODEC_ID_NONE;
        }
        return source == AV_CODEC_ID_ASS || source == AV_CODEC_ID_SSA ? AV_CODEC_ID_ASS
                                                                      : AV_CODEC_ID_SUBRIP;
    }
    if (std::strcmp(muxer, "mp4") == 0 && text) {
        return AV_CODEC_ID_MOV_TEXT;
    }
    return AV_CODEC_ID_NONE;
}

SubtitleTrack::SubtitleTrack(const AVStream* first, AVCodecID codec, const std::string& charset,
                             bool globalHeader, std::string& why)
    : charset_(charset) {
    decoder_ = OpenDecoder(first, 1, charset_, why);
    if (!decoder_) {
        return;
    }
    decoderStream_ = first;
    const AVCodec* encoder = avcodec_find_encoder(codec);
    if (encoder == nullptr) {
        why = std::string("no subtitle encoder for ") + avcodec_get_name(codec);
        return;
    }
    CodecContextPtr context(avcodec_alloc_context3(encoder));
    if (!context) {
        why = "out of memory";
        return;
    }
    context->time_base = AV_TIME_BASE_Q;
    if (decoder_->subtitle_header != nullptr && decoder_->subtitle_header_size > 0) {
        const auto size = static_cast<size_t>(decoder_->subtitle_header_size);
        context->subtitle_header = static_cast<uint8_t*>(av_mallocz(size + 1));
        if (context->subtitle_header == nullptr) {
            why = "out of memory";
            return;
        }
        std::memcpy(context->subtitle_header, decoder_->subtitle_header, size);
        context->subtitle_header_size = decoder_->subtitle_header_size;
    }
    if (globalHeader) {
        context->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    const int opened = avcodec_open2(context.get(), encoder, nullptr);
    if (opened < 0) {
        why = std::string("cannot open the subtitle encoder ") + encoder->name + ": " +
              ErrorText(opened);
        return;
    }
    encoder_ = std::move(context);
}

bool SubtitleTrack::Convert(const AVStream* stream, const AVPacket* packet, int64_t shiftUs,
                            const std::function<bool(AVPacket*)>& sink, std::string& why) {
    if (!encoder_) {
        return true;
    }
    if (stream != decoderStream_) {
        // A later joined file: its own decoder.
        std::string ignored;
        decoder_ = OpenDecoder(stream, 1, charset_, ignored);
        decoderStream_ = stream;
        if (!decoder_) {
            LogLine(Severity::Warning, "subtitles skipped: %s", ignored.c_str());
            return true;
        }
    }
    if (!decoder_) {
        return true;
    }
    DecodedSubtitle subtitle;
    int got = 0;
    AVPacket* input = const_cast<AVPacket*>(packet);
    if (avcodec_decode_subtitle2(decoder_.get(), &subtitle.value, &got, input) < 0 || got == 0 ||
        subtitle.value.num_rects == 0) {
        return true;
    }
    AVSubtitle& s = subtitle.value;
    const int64_t start = s.pts != AV_NOPTS_VALUE
                              ? s.pts
                              : av_rescale_q(packet->pts, stream->time_base, AV_TIME_BASE_Q);
    s.pts =
        start + shiftUs + av_rescale_q(s.start_display_time, AVRational{1, 1000}, AV_TIME_BASE_Q);
    s.end_display_time -= s.start_display_time;
    s.start_display_time = 0;
    std::vector<uint8_t> buffer(kSubtitleBufferSize);
    const int size =
        avcodec_encode_subtitle(encoder_.get(), buffer.data(), static_cast<int>(buffer.size()), &s);
    if (size <= 0) {
        return true;
    }
    PacketPtr out(av_packet_alloc());
    if (!out || av_new_packet(out.get(), size) < 0) {
        why = "out of memory";
        return false;
    }
    std::memcpy(out->data, buffer.data(), static_cast<size_t>(size));
    out->pts = out->dts = s.pts;
    out->duration = av_rescale_q(s.end_display_time, AVRational{1, 1000}, AV_TIME_BASE_Q);
    if (!EndBefore(out->pts, sink)) {
        return false;
    }
    if (encoder_->codec_id == AV_CODEC_ID_MOV_TEXT && out->duration > 0) {
        pendingEnd_.reset(av_packet_alloc());
        if (!pendingEnd_ || av_new_packet(pendingEnd_.get(), kTimedTextEmptySize) < 0) {
            why = "out of memory";
            return false;
        }
        std::memset(pendingEnd_->data, 0, kTimedTextEmptySize);
        pendingEnd_->pts = pendingEnd_->dts = out->pts + out->duration;
    }
    return sink(out.get());
}

bool SubtitleTrack::EndBefore(int64_t limit, const std::function<bool(AVPacket*)>& sink) {
    if (!pendingEnd_) {
        return true;
    }
    PacketPtr end = std::move(pendingEnd_);
    if (end->pts > limit) {
        return true; // the next subtitle replaces this one before its end
    }
    end->duration = limit != INT64_MAX ? limit - end->pts : 0;
    return sink(end.get());
}

bool SubtitleTrack::Finish(const std::function<bool(AVPacket*)>& sink) {
    return EndBefore(INT64_MAX, sink);
}

} // namespace norv_engine
