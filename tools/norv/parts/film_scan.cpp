#include "parts/film_scan.h"

#include <algorithm>
#include <limits>

#include "common/library.h"

namespace norv {

namespace {

using norv_engine::ErrorText;
using norv_engine::FormatContextPtr;
using norv_engine::PacketPtr;

struct Packet {
    int64_t pts = 0;
    int64_t duration = 0;
    uint32_t bytes = 0;
    bool key = false;
    bool closed = false;
};

// The packets of the video stream in decoding order.
std::vector<Packet> ReadVideoPackets(AVFormatContext* format, int video, const std::string& path) {
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        format->streams[i]->discard =
            static_cast<int>(i) == video ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    }
    std::vector<Packet> packets;
    const PacketPtr packet(av_packet_alloc());
    if (!packet) {
        throw Failure("out of memory", nvt::ENG_ERR);
    }
    for (;;) {
        const int read = av_read_frame(format, packet.get());
        if (read == AVERROR_EOF) {
            break;
        }
        if (read < 0) {
            throw Failure(path + ": cannot be read through (" + ErrorText(read) + ")",
                          nvt::ENG_INVALID_STREAM);
        }
        if (packet->stream_index == video) {
            Packet p;
            p.pts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
            p.duration = packet->duration;
            p.bytes = static_cast<uint32_t>(packet->size);
            p.key = (packet->flags & AV_PKT_FLAG_KEY) != 0;
            if (p.pts != AV_NOPTS_VALUE) {
                packets.push_back(p);
            }
        }
        av_packet_unref(packet.get());
    }
    // A keyframe starts a closed group when nothing decoded after it is
    // shown before it (an open group's leading pictures refer back).
    int64_t laterLeast = std::numeric_limits<int64_t>::max();
    for (size_t i = packets.size(); i-- > 0;) {
        packets[i].closed = packets[i].key && laterLeast >= packets[i].pts;
        laterLeast = std::min(laterLeast, packets[i].pts);
    }
    std::stable_sort(packets.begin(), packets.end(),
                     [](const Packet& a, const Packet& b) { return a.pts < b.pts; });
    return packets;
}

} // namespace

FormatContextPtr OpenMediaFile(const std::string& path) {
    av_log_set_level(AV_LOG_ERROR);
    norv_engine::Options options;
    options.Set("protocol_whitelist", "file");
    AVFormatContext* raw = nullptr;
    int code = avformat_open_input(&raw, ("file:" + path).c_str(), nullptr, options.Address());
    FormatContextPtr format(raw);
    if (code >= 0) {
        code = avformat_find_stream_info(format.get(), nullptr);
    }
    if (code < 0) {
        throw Failure(path + ": cannot be read (" + ErrorText(code) + ")",
                      nvt::ENG_UNSUPPORTED_FILE_TYPE);
    }
    return format;
}

int MainVideoStream(const AVFormatContext* format) {
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        const AVStream* s = format->streams[i];
        if (s->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
            (s->disposition & AV_DISPOSITION_ATTACHED_PIC) == 0) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

FilmScan ScanFilm(const std::vector<std::string>& paths) {
    FilmScan film;
    for (const std::string& path : paths) {
        const FormatContextPtr format = OpenMediaFile(path);
        const int video = MainVideoStream(format.get());
        if (video < 0) {
            throw Failure(path + ": has no video to cut into parts",
                          nvt::ENG_UNSUPPORTED_FILE_TYPE);
        }
        const AVStream* stream = format->streams[video];
        const double unit = av_q2d(stream->time_base);
        const std::vector<Packet> packets = ReadVideoPackets(format.get(), video, path);
        if (packets.empty()) {
            throw Failure(path + ": its video has no pictures", nvt::ENG_INVALID_STREAM);
        }
        AVRational rate =
            stream->avg_frame_rate.num > 0 ? stream->avg_frame_rate : stream->r_frame_rate;
        const double frameSeconds = rate.num > 0 ? av_q2d(av_inv_q(rate)) : 0.04;
        ScannedFile file;
        file.path = path;
        file.start = static_cast<double>(packets.front().pts) * unit;
        const Packet& last = packets.back();
        const double lastSeconds =
            last.duration > 0 ? static_cast<double>(last.duration) * unit : frameSeconds;
        file.length = static_cast<double>(last.pts) * unit + lastSeconds - file.start;
        file.offset = film.seconds;
        for (size_t i = 0; i < packets.size(); ++i) {
            ScannedFrame frame;
            frame.at = static_cast<double>(packets[i].pts) * unit - file.start + file.offset;
            frame.bytes = packets[i].bytes;
            // A file's first picture starts a part anyway: the next file is
            // read from its own start.
            frame.cut = packets[i].closed || i == 0;
            film.frames.push_back(frame);
        }
        film.seconds += file.length;
        film.files.push_back(file);
    }
    return film;
}

} // namespace norv
