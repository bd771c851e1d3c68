#include "timeline.h"

#include <algorithm>

#include "engine_log.h"
#include "media_probe.h"
#include "tracks.h"

namespace norv_engine {

bool AllowsDiscontinuities(const AVFormatContext* format) {
    return format->iformat != nullptr && (format->iformat->flags & AVFMT_TS_DISCONT) != 0;
}

void TimestampFolder::Reset(bool folding, unsigned streams) {
    *this = TimestampFolder();
    jump_ = folding ? kTimestampJumpUs : kDamagedJumpUs;
    tracks_.assign(streams, Track());
}

bool TimestampFolder::Continues(const Track& track, int64_t at) const {
    return at >= track.last - jump_ && at <= track.end + jump_;
}

int64_t TimestampFolder::ShiftFor(unsigned index, int64_t at, int64_t duration, bool watched) {
    if (!watched || index >= tracks_.size() || at == AV_NOPTS_VALUE) {
        return shift_;
    }
    Track& track = tracks_[index];
    int64_t shift = shift_;
    const bool startsAhead = !track.seen && any_ && at + shift > end_ + jump_;
    if (startsAhead || (track.seen && !Continues(track, at + shift))) {
        if (track.seen && folded_ && Continues(track, at + previousShift_)) {
            // A late packet of the part before the jump.
            shift = previousShift_;
        } else {
            // The part after the jump goes on where the file had got to.
            previousShift_ = shift_;
            folded_ = true;
            shift_ += end_ - (at + shift_);
            shift = shift_;
            ++folds_;
            LogLine(Severity::Warning, "timestamps jump by %.3f s; joined up",
                    static_cast<double>(-(shift_ - previousShift_)) / AV_TIME_BASE);
        }
    }
    const int64_t shifted = at + shift;
    const int64_t end = shifted + std::max<int64_t>(0, duration);
    track.last = shifted;
    track.end = track.seen ? std::max(track.end, end) : end;
    track.seen = true;
    end_ = any_ ? std::max(end_, end) : end;
    any_ = true;
    return shift;
}

namespace {

// Files up to this size are read through to learn how long they play;
// larger ones only when samples of their timestamps show a jump.
constexpr int64_t kReadThroughBytes = 32 << 20;
constexpr int kSamples = 16;
constexpr int kPacketsPerSample = 512;
// An interval of the samples whose time runs this much faster than the
// file's usual pace holds a jump ahead.
constexpr int64_t kPaceFactor = 4;

// The streams of a file other than one are not demuxed while it lives.
class OnlyStream {
public:
    OnlyStream(AVFormatContext* format, int index) : format_(format) {
        for (unsigned i = 0; i < format->nb_streams; ++i) {
            discards_.push_back(format->streams[i]->discard);
            format->streams[i]->discard =
                static_cast<int>(i) == index ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
        }
    }
    ~OnlyStream() {
        for (unsigned i = 0; i < format_->nb_streams && i < discards_.size(); ++i) {
            format_->streams[i]->discard = discards_[i];
        }
        av_seek_frame(format_, -1, 0, AVSEEK_FLAG_BYTE); // back to the start
    }
    OnlyStream(const OnlyStream&) = delete;
    OnlyStream& operator=(const OnlyStream&) = delete;

private:
    AVFormatContext* format_;
    std::vector<AVDiscard> discards_;
};

// The time (microseconds) of the first packet of the stream read from a
// byte position on; AV_NOPTS_VALUE when none comes soon.
int64_t TimeAt(AVFormatContext* format, const AVStream* stream, int64_t position,
               AVPacket* packet) {
    if (av_seek_frame(format, -1, position, AVSEEK_FLAG_BYTE) < 0) {
        return AV_NOPTS_VALUE;
    }
    for (int i = 0; i < kPacketsPerSample && av_read_frame(format, packet) >= 0; ++i) {
        const int64_t at = packet->dts != AV_NOPTS_VALUE ? packet->dts : packet->pts;
        const bool found = packet->stream_index == stream->index && at != AV_NOPTS_VALUE;
        av_packet_unref(packet);
        if (found) {
            return av_rescale_q(at, stream->time_base, AV_TIME_BASE_Q);
        }
    }
    return AV_NOPTS_VALUE;
}

// True when timestamps sampled through a large file keep pace with its
// bytes: none goes back, and none runs far ahead of the usual pace.
bool LooksContinuous(AVFormatContext* format, const AVStream* stream, AVPacket* packet,
                     const StopToken& stop) {
    const int64_t size = avio_size(format->pb);
    std::vector<int64_t> bytes, times;
    for (int i = 0; i <= kSamples && !stop.StopRequested(); ++i) {
        const int64_t position = size / (kSamples + 1) * i;
        const int64_t at = TimeAt(format, stream, position, packet);
        if (at != AV_NOPTS_VALUE) {
            bytes.push_back(position);
            times.push_back(at);
        }
    }
    std::vector<double> paces; // microseconds per byte
    for (size_t i = 1; i < times.size(); ++i) {
        if (times[i] < times[i - 1] - kTimestampJumpUs) {
            return false;
        }
        paces.push_back(static_cast<double>(times[i] - times[i - 1]) /
                        static_cast<double>(bytes[i] - bytes[i - 1]));
    }
    if (paces.empty()) {
        return true;
    }
    std::vector<double> sorted = paces;
    std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
    const double usual = sorted[sorted.size() / 2];
    for (size_t i = 0; i < paces.size(); ++i) {
        const double ahead = usual * kPaceFactor * static_cast<double>(bytes[i + 1] - bytes[i]);
        if (static_cast<double>(times[i + 1] - times[i]) > ahead + kTimestampJumpUs) {
            return false;
        }
    }
    return true;
}

} // namespace

int64_t PlayingDuration(AVFormatContext* format, const StopToken& stop) {
    if (!AllowsDiscontinuities(format) || format->pb == nullptr) {
        return InputDuration(format);
    }
    int index = NthStreamIndex(format, AVMEDIA_TYPE_VIDEO, 0);
    if (index < 0) {
        index = NthStreamIndex(format, AVMEDIA_TYPE_AUDIO, 0);
    }
    PacketPtr packet(av_packet_alloc());
    if (index < 0 || !packet) {
        return InputDuration(format);
    }
    AVStream* stream = format->streams[index];
    const OnlyStream only(format, index);
    if (avio_size(format->pb) > kReadThroughBytes &&
        LooksContinuous(format, stream, packet.get(), stop)) {
        return InputDuration(format);
    }
    const AVRational rate = av_guess_frame_rate(format, stream, nullptr);
    const int64_t frameUs = stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && rate.num > 0
                                ? av_rescale_q(1, av_inv_q(rate), AV_TIME_BASE_Q)
                                : 0;
    TimestampFolder folder;
    folder.Reset(true, 1);
    int64_t first = AV_NOPTS_VALUE;
    int64_t end = AV_NOPTS_VALUE;
    av_seek_frame(format, -1, 0, AVSEEK_FLAG_BYTE);
    while (!stop.StopRequested() && av_read_frame(format, packet.get()) >= 0) {
        const int64_t at = packet->dts != AV_NOPTS_VALUE ? packet->dts : packet->pts;
        if (packet->stream_index == index && at != AV_NOPTS_VALUE) {
            const int64_t atUs = av_rescale_q(at, stream->time_base, AV_TIME_BASE_Q);
            int64_t duration = av_rescale_q(packet->duration, stream->time_base, AV_TIME_BASE_Q);
            duration = duration > 0 ? duration : frameUs;
            const int64_t shifted = atUs + folder.ShiftFor(0, atUs, duration, true);
            first = first == AV_NOPTS_VALUE ? shifted : std::min(first, shifted);
            end = end == AV_NOPTS_VALUE ? shifted + duration : std::max(end, shifted + duration);
        }
        av_packet_unref(packet.get());
    }
    if (first == AV_NOPTS_VALUE || folder.Folds() == 0) {
        return InputDuration(format); // no jump: FFmpeg's figure holds
    }
    return end - first;
}

} // namespace norv_engine
