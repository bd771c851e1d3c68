#include "input_lane.h"

#include <algorithm>

#include "engine_log.h"
#include "media_probe.h"
#include "norv/enum_names.h"

namespace norv_engine {

InputLane::InputLane(std::vector<LaneFile> files, LaneStreams streams, OpenedFiles& opened)
    : files_(std::move(files)), wanted_(std::move(streams)), opened_(opened), stop_(opened.stop()),
      packet_(av_packet_alloc()) {}

InputLane::~InputLane() {
    Release();
}

void InputLane::Release() {
    if (format_) {
        bytesDone_ += fileBytes_;
        opened_.Give(File().path, std::move(format_));
    }
}

uint64_t InputLane::BytesRead() const {
    const int64_t position = format_ && format_->pb != nullptr ? avio_tell(format_->pb) : 0;
    return bytesDone_ + static_cast<uint64_t>(
                            std::clamp<int64_t>(position, 0, static_cast<int64_t>(fileBytes_)));
}

bool InputLane::Open(size_t index) {
    Release();
    current_ = index;
    fileEnded_ = false;
    const LaneFile& file = files_[index];
    ProbedFile probed = opened_.Take(file.path);
    if (probed.err != nvt::SUCCESS) {
        const Status failed = Unreadable(file.path, probed.err);
        error_ = failed.code;
        why_ = failed.why;
        return false;
    }
    format_ = std::move(probed.format);
    fileBytes_ = probed.size;
    const AVFormatContext* format = format_.get();
    videoIndex_ = wanted_.video ? NthStreamIndex(format, AVMEDIA_TYPE_VIDEO, 0) : -1;
    audioIndex_.clear();
    for (int ordinal : wanted_.audio) {
        audioIndex_.push_back(NthStreamIndex(format, AVMEDIA_TYPE_AUDIO, ordinal));
    }
    subtitleIndex_.clear();
    for (int ordinal : wanted_.subtitles) {
        subtitleIndex_.push_back(NthStreamIndex(format, AVMEDIA_TYPE_SUBTITLE, ordinal));
    }
    // Streams nobody reads are not even demuxed.
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        StreamRole role;
        format->streams[i]->discard =
            FindSlot(role, static_cast<int>(i)) < 0 ? AVDISCARD_ALL : AVDISCARD_DEFAULT;
    }
    // A subtitle file's times are the film's own: its first subtitle does
    // not start it.
    const int64_t fileStart =
        format->start_time != AV_NOPTS_VALUE && !SubtitlesOnly() ? format->start_time : 0;
    const EntryTrims& trims = file.trims;
    start_ = trims.Start(fileStart);
    const int64_t entryEnd = trims.End(fileStart);
    length_ = entryEnd != AV_NOPTS_VALUE ? std::max<int64_t>(0, entryEnd - start_) : AV_NOPTS_VALUE;
    if (trims.Any()) {
        start_ = FirstPictureFrom(start_);
    }
    if (trims.inpoint != AV_NOPTS_VALUE && trims.inpoint > fileStart) {
        // From the keyframe at or before the inpoint: the pictures before
        // it are decoded but not shown.
        const int sought =
            avformat_seek_file(format_.get(), -1, INT64_MIN, trims.inpoint, trims.inpoint, 0);
        if (sought < 0) {
            LogLine(Severity::Warning, "cannot seek %s to its inpoint: %s", file.path.c_str(),
                    ErrorText(sought).c_str());
        }
    }
    folder_.Reset(AllowsDiscontinuities(format), format->nb_streams);
    passed_.assign(format->nb_streams, false);
    offset_ = end_;
    LogLine(Severity::Info, "reading %s from %.3f s of the output", file.path.c_str(),
            static_cast<double>(offset_) / AV_TIME_BASE);
    return true;
}

int64_t InputLane::FirstPictureFrom(int64_t at) const {
    if (videoIndex_ < 0) {
        return at;
    }
    AVStream* video = format_->streams[videoIndex_];
    const AVRational rate = av_guess_frame_rate(format_.get(), video, nullptr);
    if (video->start_time == AV_NOPTS_VALUE || rate.num <= 0 || rate.den <= 0) {
        return at;
    }
    const int64_t first = av_rescale_q(video->start_time, video->time_base, AV_TIME_BASE_Q);
    // Pictures lie at first + k / rate; the k of the first at or after at.
    const int64_t k =
        at <= first ? 0
                    : av_rescale_rnd(at - first, rate.num,
                                     static_cast<int64_t>(rate.den) * AV_TIME_BASE, AV_ROUND_UP);
    const int64_t picture =
        first + av_rescale(k, static_cast<int64_t>(rate.den) * AV_TIME_BASE, rate.num);
    const int64_t frame = av_rescale(AV_TIME_BASE, rate.den, rate.num);
    return picture >= at && picture - at < frame ? picture : at;
}

bool InputLane::OpenFirst() {
    if (format_) {
        return true;
    }
    if (files_.empty() || error_ != nvt::SUCCESS) {
        return false;
    }
    return Open(0);
}

int InputLane::FindSlot(StreamRole& role, int streamIndex) const {
    if (streamIndex == videoIndex_) {
        role = StreamRole::Video;
        return 0;
    }
    for (size_t s = 0; s < audioIndex_.size(); ++s) {
        if (audioIndex_[s] == streamIndex) {
            role = StreamRole::Audio;
            return static_cast<int>(s);
        }
    }
    for (size_t s = 0; s < subtitleIndex_.size(); ++s) {
        if (subtitleIndex_[s] == streamIndex) {
            role = StreamRole::Subtitle;
            return static_cast<int>(s);
        }
    }
    return -1;
}

const AVStream* InputLane::Stream(StreamRole role, int slot) const {
    if (!format_) {
        return nullptr;
    }
    int index = -1;
    const auto at = [slot](const std::vector<int>& list) {
        return slot >= 0 && static_cast<size_t>(slot) < list.size() ? list[slot] : -1;
    };
    switch (role) {
    case StreamRole::Video:
        index = videoIndex_;
        break;
    case StreamRole::Audio:
        index = at(audioIndex_);
        break;
    case StreamRole::Subtitle:
        index = at(subtitleIndex_);
        break;
    }
    return index >= 0 ? format_->streams[index] : nullptr;
}

int64_t InputLane::ToJoined(int64_t timestamp, AVRational timeBase) const {
    if (timestamp == AV_NOPTS_VALUE) {
        return AV_NOPTS_VALUE;
    }
    return av_rescale_q(timestamp, timeBase, AV_TIME_BASE_Q) - start_ + offset_;
}

InputLane::Step InputLane::Next() {
    if (error_ != nvt::SUCCESS) {
        return Step::Failed;
    }
    if (!format_) {
        if (current_ >= files_.size()) {
            return Step::End;
        }
        if (!Open(current_)) {
            return Step::Failed;
        }
    }
    if (fileEnded_) {
        // The caller has finished with the file: on to the next one.
        Release();
        if (++current_ >= files_.size()) {
            return Step::End;
        }
        if (!Open(current_)) {
            return Step::Failed;
        }
    }
    for (;;) {
        av_packet_unref(packet_.get());
        const int read = av_read_frame(format_.get(), packet_.get());
        if (stop_.StopRequested()) {
            error_ = nvt::Aborted;
            why_ = "stopped";
            return Step::Failed;
        }
        if (read < 0) {
            if (read != AVERROR_EOF) {
                // A damaged end of file: what was read is kept.
                LogLine(Severity::Warning, "reading %s stopped: %s", File().path.c_str(),
                        ErrorText(read).c_str());
            }
            EndFile();
            return Step::FileEnd;
        }
        slot_ = FindSlot(role_, packet_->stream_index);
        if (slot_ < 0) {
            continue;
        }
        if (Place(format_->streams[packet_->stream_index])) {
            return Step::Packet;
        }
        if (PastOutpoint()) {
            EndFile();
            return Step::FileEnd;
        }
    }
}

bool InputLane::Place(const AVStream* stream) {
    AVPacket* p = packet_.get();
    const AVRational base = stream->time_base;
    int64_t duration = av_rescale_q(p->duration, base, AV_TIME_BASE_Q);
    if (duration <= 0 && role_ == StreamRole::Video) {
        const AVRational rate =
            av_guess_frame_rate(format_.get(), const_cast<AVStream*>(stream), nullptr);
        duration = rate.num > 0 ? av_rescale_q(1, av_inv_q(rate), AV_TIME_BASE_Q) : 0;
    }
    const int64_t decoded = p->dts != AV_NOPTS_VALUE ? p->dts : p->pts;
    if (decoded == AV_NOPTS_VALUE) {
        return true;
    }
    const bool watched = role_ != StreamRole::Subtitle;
    const int64_t shift =
        folder_.ShiftFor(static_cast<unsigned>(p->stream_index),
                         av_rescale_q(decoded, base, AV_TIME_BASE_Q), duration, watched);
    if (shift != 0) {
        const int64_t ticks = av_rescale_q(shift, AV_TIME_BASE_Q, base);
        p->pts = p->pts != AV_NOPTS_VALUE ? p->pts + ticks : p->pts;
        p->dts = p->dts != AV_NOPTS_VALUE ? p->dts + ticks : p->dts;
    }
    const int64_t shown = ToJoined(p->pts != AV_NOPTS_VALUE ? p->pts : p->dts, base);
    if (!watched) {
        if (SubtitlesOnly()) {
            // A subtitle file's place is the start of its last subtitle, so
            // that it is read in step with the picture.
            end_ = std::max(end_, shown);
        }
        return InWindow(shown, duration, role_);
    }
    if (length_ != AV_NOPTS_VALUE &&
        ToJoined(p->dts != AV_NOPTS_VALUE ? p->dts : p->pts, base) >= offset_ + length_) {
        passed_[static_cast<size_t>(p->stream_index)] = true;
        return false;
    }
    end_ = std::max(end_, shown + duration);
    return true;
}

bool InputLane::PastOutpoint() const {
    const auto passed = [this](int index) {
        return index < 0 || passed_[static_cast<size_t>(index)];
    };
    return passed(videoIndex_) && std::all_of(audioIndex_.begin(), audioIndex_.end(), passed);
}

void InputLane::EndFile() {
    fileEnded_ = true;
    const EntryTrims& trims = File().trims;
    if (trims.duration != AV_NOPTS_VALUE) {
        end_ = offset_ + trims.duration; // the next entry starts there
    } else if (length_ != AV_NOPTS_VALUE) {
        end_ = std::min(end_, offset_ + length_);
    }
}

bool InputLane::InWindow(int64_t at, int64_t duration, StreamRole role) const {
    if (at == AV_NOPTS_VALUE || !File().trims.Any()) {
        return true;
    }
    if (role == StreamRole::Video || duration <= 0) {
        return at >= offset_ && (length_ == AV_NOPTS_VALUE || at < offset_ + length_);
    }
    const int64_t middle = at + duration / 2;
    return middle > offset_ && (length_ == AV_NOPTS_VALUE || middle <= offset_ + length_);
}

} // namespace norv_engine
