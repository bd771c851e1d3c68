#include "quality/frame_reader.h"

#include <algorithm>

#include "common/library.h"

namespace norv {

FrameReader::FrameReader(const std::string& path) : path_(path), packet_(av_packet_alloc()) {
    // FFmpeg's own reports (the ssim filter's summary among them) are not
    // for norv's user; failures come back as results.
    av_log_set_level(AV_LOG_ERROR);
    AVFormatContext* raw = nullptr;
    int code = avformat_open_input(&raw, path.c_str(), nullptr, nullptr);
    format_.reset(raw);
    if (code >= 0) {
        code = avformat_find_stream_info(format_.get(), nullptr);
    }
    if (code < 0) {
        throw Failure(path + ": cannot be read for measuring (" + norv_engine::ErrorText(code) +
                          ")",
                      nvt::ENG_UNSUPPORTED_FILE_TYPE);
    }
    const AVCodec* codec = nullptr;
    index_ = av_find_best_stream(format_.get(), AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
    if (index_ < 0 || codec == nullptr) {
        throw Failure(path + ": no video to measure", nvt::ENG_UNSUPPORTED_FILE_TYPE);
    }
    for (unsigned i = 0; i < format_->nb_streams; ++i) {
        format_->streams[i]->discard =
            static_cast<int>(i) == index_ ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    }
    decoder_.reset(avcodec_alloc_context3(codec));
    if (!decoder_ || !packet_ ||
        avcodec_parameters_to_context(decoder_.get(), format_->streams[index_]->codecpar) < 0) {
        throw Failure("out of memory", nvt::ENG_ERR);
    }
    decoder_->thread_count = 0;
    code = avcodec_open2(decoder_.get(), codec, nullptr);
    if (code < 0) {
        throw Failure(path + ": its video does not decode (" + norv_engine::ErrorText(code) + ")",
                      nvt::ENG_UNSUPPORTED_FILE_TYPE);
    }
}

void FrameReader::Rough() {
    decoder_->skip_loop_filter = AVDISCARD_ALL;
}

void FrameReader::SeekTo(double seconds, bool keepEarlier) {
    const AVStream& s = stream();
    skipBefore_ = static_cast<int64_t>(seconds / av_q2d(s.time_base) + 0.5);
    // Half a frame early: a timestamp rounded on its way into the seconds
    // given must not drop the frame it names.
    skipBefore_ -= av_rescale_q(1, av_inv_q(frameRate()), s.time_base) / 2;
    if (keepEarlier) {
        skipBefore_ = AV_NOPTS_VALUE;
    }
    const int64_t at = static_cast<int64_t>(seconds * AV_TIME_BASE);
    avformat_seek_file(format_.get(), -1, INT64_MIN, at, at, 0);
    avcodec_flush_buffers(decoder_.get());
    draining_ = false;
}

bool FrameReader::Next(AVFrame* frame) {
    for (;;) {
        const int received = avcodec_receive_frame(decoder_.get(), frame);
        if (received >= 0) {
            frame->pts = frame->best_effort_timestamp;
            if (skipBefore_ != AV_NOPTS_VALUE && frame->pts != AV_NOPTS_VALUE &&
                frame->pts < skipBefore_) {
                av_frame_unref(frame);
                continue;
            }
            return true;
        }
        if (received == AVERROR_EOF || (received != AVERROR(EAGAIN) && draining_)) {
            return false;
        }
        if (draining_) {
            return false;
        }
        const int read = av_read_frame(format_.get(), packet_.get());
        if (read < 0) {
            draining_ = true;
            avcodec_send_packet(decoder_.get(), nullptr);
            continue;
        }
        if (packet_->stream_index == index_) {
            packetBytes_ += static_cast<uint64_t>(packet_->size);
            avcodec_send_packet(decoder_.get(), packet_.get()); // a damaged packet is skipped
        }
        av_packet_unref(packet_.get());
    }
}

double FrameReader::Seconds(int64_t pts) const {
    return pts == AV_NOPTS_VALUE ? 0.0 : pts * av_q2d(stream().time_base);
}

double FrameReader::StartSeconds() const {
    return stream().start_time != AV_NOPTS_VALUE ? Seconds(stream().start_time) : 0.0;
}

std::vector<double> FrameReader::IndexedKeyframes() const {
    AVStream* s = format_->streams[index_];
    std::vector<double> keys;
    const int count = avformat_index_get_entries_count(s);
    for (int i = 0; i < count; ++i) {
        const AVIndexEntry* e = avformat_index_get_entry(s, i);
        if (e != nullptr && (e->flags & AVINDEX_KEYFRAME) != 0) {
            keys.push_back(Seconds(e->timestamp));
        }
    }
    std::sort(keys.begin(), keys.end());
    return keys;
}

std::vector<CodedPicture> FrameReader::CodedPictures() {
    AVStream* s = format_->streams[index_];
    std::vector<CodedPicture> pictures;
    bool betweenKeys = false;
    const int count = avformat_index_get_entries_count(s);
    for (int i = 0; i < count; ++i) {
        const AVIndexEntry* e = avformat_index_get_entry(s, i);
        if (e == nullptr || e->size <= 0) {
            pictures.clear();
            break;
        }
        const bool key = (e->flags & AVINDEX_KEYFRAME) != 0;
        betweenKeys = betweenKeys || !key;
        pictures.push_back(
            CodedPicture{Seconds(e->timestamp), static_cast<uint32_t>(e->size), key});
    }
    if (!betweenKeys) { // an index of keyframes alone (Matroska's cues), or none
        pictures.clear();
        avformat_seek_file(format_.get(), -1, INT64_MIN, 0, 0, 0);
        while (av_read_frame(format_.get(), packet_.get()) >= 0) {
            if (packet_->stream_index == index_) {
                const int64_t at = packet_->pts != AV_NOPTS_VALUE ? packet_->pts : packet_->dts;
                pictures.push_back(CodedPicture{Seconds(at), static_cast<uint32_t>(packet_->size),
                                                (packet_->flags & AV_PKT_FLAG_KEY) != 0});
            }
            av_packet_unref(packet_.get());
        }
        draining_ = false;
    }
    std::stable_sort(
        pictures.begin(), pictures.end(),
        [](const CodedPicture& a, const CodedPicture& b) { return a.seconds < b.seconds; });
    return pictures;
}

AVRational FrameReader::frameRate() const {
    const AVStream& s = stream();
    if (s.avg_frame_rate.num > 0 && s.avg_frame_rate.den > 0) {
        return s.avg_frame_rate;
    }
    if (s.r_frame_rate.num > 0 && s.r_frame_rate.den > 0) {
        return s.r_frame_rate;
    }
    return AVRational{25, 1};
}

} // namespace norv
