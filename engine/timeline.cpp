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
    folding_ = folding;
    tracks_.assign(streams, Track());
}

bool TimestampFolder::Continues(const Track& track, int64_t at) const {
    return at >= track.last - kTimestampJumpUs && at <= track.end + kTimestampJumpUs;
}

int64_t TimestampFolder::ShiftFor(unsigned index, int64_t at, int64_t duration, bool watched) {
    if (!folding_ || !watched || index >= tracks_.size() || at == AV_NOPTS_VALUE) {
        return shift_;
    }
    Track& track = tracks_[index];
    int64_t shift = shift_;
    if (track.seen && !Continues(track, at + shift)) {
        if (folded_ && Continues(track, at + previousShift_)) {
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

int64_t PlayingDuration(AVFormatContext* format, const StopToken& stop) {
    if (!AllowsDiscontinuities(format)) {
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
    const AVRational rate = av_guess_frame_rate(format, stream, nullptr);
    const int64_t frameUs = stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && rate.num > 0
                                ? av_rescale_q(1, av_inv_q(rate), AV_TIME_BASE_Q)
                                : 0;
    std::vector<AVDiscard> discards;
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        discards.push_back(format->streams[i]->discard);
        format->streams[i]->discard =
            static_cast<int>(i) == index ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    }
    TimestampFolder folder;
    folder.Reset(true, 1);
    int64_t first = AV_NOPTS_VALUE;
    int64_t end = AV_NOPTS_VALUE;
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
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        format->streams[i]->discard = discards[i];
    }
    av_seek_frame(format, -1, 0, AVSEEK_FLAG_BYTE);
    if (first == AV_NOPTS_VALUE || folder.Folds() == 0) {
        return InputDuration(format); // no jump: FFmpeg's figure holds
    }
    return end - first;
}

int64_t EntryDuration(AVFormatContext* format, const EntryTrims& trims, const StopToken& stop) {
    const int64_t playing = PlayingDuration(format, stop);
    if (!trims.Any()) {
        return playing;
    }
    return trims.Length(format->start_time != AV_NOPTS_VALUE ? format->start_time : 0, playing);
}

} // namespace norv_engine
