#include "tracks.h"

#include <cmath>
#include <cstdlib>

#include "codec_map.h"

namespace norv_engine {

namespace {

std::string Tag(const AVStream* stream, const char* key) {
    const AVDictionaryEntry* entry = av_dict_get(stream->metadata, key, nullptr, 0);
    return entry != nullptr && entry->value != nullptr ? entry->value : std::string();
}

int64_t StreamBitrate(const AVStream* stream) {
    const int64_t own = stream->codecpar->bit_rate;
    return own > 0 ? own : TaggedBitrate(stream);
}

unsigned ToUnsigned(int64_t value) {
    if (value <= 0) {
        return 0;
    }
    return value > 0xFFFFFFFFLL ? 0xFFFFFFFFu : static_cast<unsigned>(value);
}

// Depth of a decoded sample: stated by the stream for PCM and lossless
// codecs, 16 for lossy codecs, which state none.
unsigned BitsPerSample(const AVCodecParameters* p) {
    if (p->bits_per_raw_sample > 0) {
        return static_cast<unsigned>(p->bits_per_raw_sample);
    }
    if (p->bits_per_coded_sample > 0) {
        return static_cast<unsigned>(p->bits_per_coded_sample);
    }
    return 16;
}

} // namespace

unsigned CeilSeconds(int64_t duration) {
    if (duration <= 0) {
        return 0;
    }
    return ToUnsigned((duration + AV_TIME_BASE - 1) / AV_TIME_BASE);
}

int64_t InputDuration(const AVFormatContext* format) {
    if (format->duration != AV_NOPTS_VALUE && format->duration > 0) {
        return format->duration;
    }
    int64_t longest = 0;
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        const AVStream* stream = format->streams[i];
        if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0) {
            longest = std::max(longest,
                               av_rescale_q(stream->duration, stream->time_base, AV_TIME_BASE_Q));
        }
    }
    return longest;
}

int RotationOf(const AVStream* stream) {
    const auto* matrix = reinterpret_cast<const int32_t*>(
        av_stream_get_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, nullptr));
    if (matrix == nullptr) {
        return 0;
    }
    // The matrix turns counter-clockwise by this many degrees.
    const double counterClockwise = av_display_rotation_get(matrix);
    if (std::isnan(counterClockwise)) {
        return 0;
    }
    const int clockwise = static_cast<int>(std::lround(-counterClockwise)) % 360;
    return clockwise < 0 ? clockwise + 360 : clockwise;
}

int64_t TaggedBitrate(const AVStream* stream) {
    const std::string bps = Tag(stream, "BPS");
    return bps.empty() ? 0 : std::strtoll(bps.c_str(), nullptr, 10);
}

bool Decodable(const AVStream* stream) {
    return avcodec_find_decoder(stream->codecpar->codec_id) != nullptr;
}

TBS::SVideoTrack VideoTrackOf(const AVFormatContext* format, const AVStream* stream,
                              int64_t estimatedBitrate) {
    const AVCodecParameters* p = stream->codecpar;
    TBS::SVideoTrack track;
    track.trackName = Tag(stream, "title");
    track.ID = stream->index;
    track.videoWidth = ToUnsigned(p->width);
    track.videoHeight = ToUnsigned(p->height);
    const AVRational rate = av_guess_frame_rate(const_cast<AVFormatContext*>(format),
                                                const_cast<AVStream*>(stream), nullptr);
    if (rate.num > 0 && rate.den > 0) {
        track.videoFrameRate = ToUnsigned(std::llround(av_q2d(rate) * 1000.0));
    }
    const int64_t bitrate = StreamBitrate(stream);
    track.videoBitrate = ToUnsigned(bitrate > 0 ? bitrate : estimatedBitrate);
    track.bitsPerSecond = track.videoBitrate;
    track.videoCodecName = CodecDisplayName(p->codec_id);
    track.videoCodec = static_cast<unsigned>(MapVideoCodec(p->codec_id, Decodable(stream)));
    AVRational sar = av_guess_sample_aspect_ratio(const_cast<AVFormatContext*>(format),
                                                  const_cast<AVStream*>(stream), nullptr);
    if (sar.num <= 0 || sar.den <= 0) {
        sar = AVRational{1, 1};
    }
    if (p->width > 0 && p->height > 0) {
        track.DAR =
            static_cast<double>(p->width) * sar.num / (static_cast<double>(p->height) * sar.den);
    }
    return track;
}

TBS::SAudioTrack AudioTrackOf(const AVFormatContext* format, const AVStream* stream) {
    const AVCodecParameters* p = stream->codecpar;
    TBS::SAudioTrack track;
    track.trackName = Tag(stream, "title");
    track.ID = stream->index;
    track.bitsPerSecond = static_cast<double>(StreamBitrate(stream));
    track.audioChannelCount = ToUnsigned(p->ch_layout.nb_channels);
    track.audioSampleRate = ToUnsigned(p->sample_rate);
    track.audioBitsPerSample = BitsPerSample(p);
    track.audioFormat =
        static_cast<unsigned>(MapAudioCodec(p->codec_id, Decodable(stream), format->iformat->name));
    track.audioLangCode = Tag(stream, "language");
    track.audioCodecName = CodecDisplayName(p->codec_id);
    return track;
}

TBS::SSubtitleTrack SubtitleTrackOf(const AVFormatContext* format, const AVStream* stream,
                                    bool subtitleFile) {
    const AVCodecID id = stream->codecpar->codec_id;
    TBS::SSubtitleTrack track;
    track.trackName = Tag(stream, "title");
    track.ID = subtitleFile ? 0 : stream->index;
    track.subtitleEmbedded = !subtitleFile;
    track.subType =
        subtitleFile ? SubtitleFileType(format->iformat->name, id) : EmbeddedSubtitleType(id);
    track.subtitleLangCode = Tag(stream, "language");
    return track;
}

} // namespace norv_engine
