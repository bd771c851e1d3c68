#include "copy_rules.h"

#include <cstring>

#include "media_probe.h"
#include "tracks.h"

namespace norv_engine {

namespace {

int StreamCount(const AVFormatContext* format, AVMediaType type) {
    int count = 0;
    while (NthStreamIndex(format, type, count) >= 0) {
        ++count;
    }
    return count;
}

} // namespace

bool CarriesDisplayMatrix(Container container) {
    return container == Container::Mp4;
}

bool CodedAlike(const AVStream* first, const AVStream* other) {
    if (first == nullptr || other == nullptr) {
        return false;
    }
    const AVCodecParameters* a = first->codecpar;
    const AVCodecParameters* b = other->codecpar;
    if (a->codec_type != b->codec_type || a->codec_id != b->codec_id ||
        a->extradata_size != b->extradata_size ||
        (a->extradata_size > 0 &&
         std::memcmp(a->extradata, b->extradata, static_cast<size_t>(a->extradata_size)) != 0)) {
        return false;
    }
    if (a->codec_type == AVMEDIA_TYPE_VIDEO) {
        return a->width == b->width && a->height == b->height && a->format == b->format;
    }
    if (a->codec_type == AVMEDIA_TYPE_AUDIO) {
        return a->sample_rate == b->sample_rate &&
               a->ch_layout.nb_channels == b->ch_layout.nb_channels && a->format == b->format;
    }
    return true;
}

JoinedCoding::JoinedCoding(const AVFormatContext* first, uint64_t size) : first_(first) {
    Count(first, size);
}

void JoinedCoding::Add(const AVFormatContext* file, uint64_t size) {
    Count(file, size);
    videoAlike_ = videoAlike_ && CodedAlike(NthStream(first_, AVMEDIA_TYPE_VIDEO, 0),
                                            NthStream(file, AVMEDIA_TYPE_VIDEO, 0));
    const int audio = StreamCount(first_, AVMEDIA_TYPE_AUDIO);
    for (int ordinal = 0; ordinal < audio; ++ordinal) {
        if (!CodedAlike(NthStream(first_, AVMEDIA_TYPE_AUDIO, ordinal),
                        NthStream(file, AVMEDIA_TYPE_AUDIO, ordinal))) {
            unlikeAudio_.insert(ordinal);
        }
    }
}

void JoinedCoding::Count(const AVFormatContext* file, uint64_t size) {
    const AVStream* video = NthStream(file, AVMEDIA_TYPE_VIDEO, 0);
    int64_t bitrate = video != nullptr ? video->codecpar->bit_rate : 0;
    if (bitrate <= 0 && video != nullptr) {
        bitrate = TaggedBitrate(video);
    }
    const double seconds = static_cast<double>(InputDuration(file)) / AV_TIME_BASE;
    videoBytes_ += bitrate > 0 && seconds > 0.0
                       ? static_cast<uint64_t>(static_cast<double>(bitrate) / 8.0 * seconds)
                       : size;
}

} // namespace norv_engine
