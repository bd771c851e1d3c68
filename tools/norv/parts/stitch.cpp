#include "parts/stitch.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "common/library.h"
#include "ffmpeg.h"
#include "parts/film_scan.h"
#include "parts/stream_headers.h"

namespace norv {

namespace {

using norv_engine::ErrorText;
using norv_engine::FormatContextPtr;
using norv_engine::PacketPtr;

// Where the level is kept in a codec's out-of-band header record (avcC's
// AVCLevelIndication, hvcC's general_level_idc); the parameter sets inside
// repeat it.
int LevelByte(int codec) {
    switch (codec) {
    case AV_CODEC_ID_H264:
        return 3;
    case AV_CODEC_ID_HEVC:
        return 12;
    default:
        return -1;
    }
}

std::vector<uint8_t> HeaderOf(const AVCodecParameters* p) {
    return p->extradata != nullptr
               ? std::vector<uint8_t>(p->extradata, p->extradata + p->extradata_size)
               : std::vector<uint8_t>();
}

// The container FFmpeg writes for what it read as format.
const char* MuxerName(const AVInputFormat* format) {
    const std::string name = format->name;
    if (name.find("matroska") != std::string::npos) {
        return "matroska";
    }
    if (name.find("mp4") != std::string::npos) {
        return "mp4";
    }
    return format->name; // "avi", ...
}

struct OutputFile {
    AVFormatContext* format = nullptr;
    bool opened = false;
    ~OutputFile() {
        if (format != nullptr) {
            if (opened) {
                avio_closep(&format->pb);
            }
            avformat_free_context(format);
        }
    }
};

void Fail(const std::string& what, int code) {
    throw Failure(what + (code < 0 ? " (" + ErrorText(code) + ")" : std::string()), nvt::ENG_ERR);
}

// Carries the whole-film output's chapters over.
void CopyChapters(const AVFormatContext* from, AVFormatContext* to) {
    if (from->nb_chapters == 0) {
        return;
    }
    to->chapters = static_cast<AVChapter**>(av_calloc(from->nb_chapters, sizeof(AVChapter*)));
    if (to->chapters == nullptr) {
        Fail("out of memory", 0);
    }
    for (unsigned i = 0; i < from->nb_chapters; ++i) {
        const AVChapter* in = from->chapters[i];
        auto* out = static_cast<AVChapter*>(av_mallocz(sizeof(AVChapter)));
        if (out == nullptr) {
            Fail("out of memory", 0);
        }
        out->id = in->id;
        out->time_base = in->time_base;
        out->start = in->start;
        out->end = in->end;
        av_dict_copy(&out->metadata, in->metadata, 0);
        to->chapters[to->nb_chapters++] = out;
    }
}

// Reads the next packet of a stream wanted; false at the end.
bool NextPacket(AVFormatContext* format, AVPacket* packet, const std::string& path) {
    const int read = av_read_frame(format, packet);
    if (read == AVERROR_EOF) {
        return false;
    }
    if (read < 0) {
        Fail(path + ": cannot be read through", read);
    }
    return true;
}

// The decoding times of a part's pictures, in base: its presentation times
// in order, moved back by the reorder delay, which the demuxer of a
// container that keeps no decoding times (Matroska) does not tell.
// delay is raised to the part's own. Reads the part to its end.
std::vector<int64_t> DecodeTimes(AVFormatContext* format, int video, AVRational base,
                                 const std::string& path, int64_t& delay) {
    std::vector<int64_t> shown;
    const PacketPtr packet(av_packet_alloc());
    if (!packet) {
        Fail("out of memory", 0);
    }
    while (NextPacket(format, packet.get(), path)) {
        if (packet->stream_index == video && packet->pts != AV_NOPTS_VALUE) {
            shown.push_back(av_rescale_q(packet->pts, format->streams[video]->time_base, base));
        }
        av_packet_unref(packet.get());
    }
    std::vector<int64_t> sorted = shown;
    std::sort(sorted.begin(), sorted.end());
    for (size_t i = 0; i < shown.size(); ++i) {
        delay = std::max(delay, sorted[i] - shown[i]);
    }
    return sorted;
}

double Seconds(int64_t ts, AVRational base) {
    return ts == AV_NOPTS_VALUE ? 0.0 : static_cast<double>(ts) * av_q2d(base);
}

} // namespace

StitchFigures Stitch(const std::vector<std::string>& parts, const std::string& whole,
                     const std::string& output) {
    StitchFigures figures;
    const FormatContextPtr carrier = OpenMediaFile(whole);
    const int carrierVideo = MainVideoStream(carrier.get());
    std::vector<FormatContextPtr> inputs;
    std::vector<int> videos;
    std::vector<uint8_t> header;
    for (size_t k = 0; k < parts.size(); ++k) {
        inputs.push_back(OpenMediaFile(parts[k]));
        videos.push_back(MainVideoStream(inputs.back().get()));
        if (videos.back() < 0) {
            throw Failure(parts[k] + ": has no video", nvt::ENG_INVALID_STREAM);
        }
        const AVCodecParameters* first = inputs[0]->streams[videos[0]]->codecpar;
        const AVCodecParameters* p = inputs[k]->streams[videos[k]]->codecpar;
        int keep = 0;
        const std::vector<uint8_t> kept = k == 0 ? HeaderOf(p) : header;
        if (p->codec_id != first->codec_id || p->width != first->width ||
            p->height != first->height || p->format != first->format ||
            !(HeadersAgree(LevelByte(p->codec_id), kept, HeaderOf(p), keep) ||
              (p->codec_id == AV_CODEC_ID_H264 && AvcHeadersAgree(kept, HeaderOf(p), keep)))) {
            throw Failure(parts[k] + ": its video is coded unlike the first part's, so the "
                                     "parts cannot be joined as one stream",
                          nvt::ENG_NOT_COMPATIBLE);
        }
        if (k == 0 || keep == 1) {
            header = HeaderOf(p);
        }
    }
    if (carrierVideo < 0) {
        throw Failure(whole + ": has no video to stand in for", nvt::ENG_INVALID_STREAM);
    }

    OutputFile out;
    int made =
        avformat_alloc_output_context2(&out.format, nullptr, MuxerName(carrier->iformat), nullptr);
    if (made < 0 || out.format == nullptr) {
        Fail(std::string("no muxer for ") + carrier->iformat->name, made);
    }
    av_dict_copy(&out.format->metadata, carrier->metadata, 0);
    CopyChapters(carrier.get(), out.format);
    const AVStream* partStream = inputs[0]->streams[videos[0]];
    for (unsigned i = 0; i < carrier->nb_streams; ++i) {
        const AVStream* in = carrier->streams[i];
        const bool video = static_cast<int>(i) == carrierVideo;
        const AVStream* source = video ? partStream : in;
        AVStream* s = avformat_new_stream(out.format, nullptr);
        if (s == nullptr || avcodec_parameters_copy(s->codecpar, source->codecpar) < 0) {
            Fail("out of memory", 0);
        }
        s->codecpar->codec_tag = 0;
        if (video) {
            av_freep(&s->codecpar->extradata);
            s->codecpar->extradata_size = 0;
            if (!header.empty()) {
                s->codecpar->extradata =
                    static_cast<uint8_t*>(av_mallocz(header.size() + AV_INPUT_BUFFER_PADDING_SIZE));
                if (s->codecpar->extradata == nullptr) {
                    Fail("out of memory", 0);
                }
                std::memcpy(s->codecpar->extradata, header.data(), header.size());
                s->codecpar->extradata_size = static_cast<int>(header.size());
            }
        }
        s->time_base = source->time_base;
        s->sample_aspect_ratio = source->sample_aspect_ratio;
        s->avg_frame_rate = source->avg_frame_rate;
        s->r_frame_rate = source->r_frame_rate;
        s->disposition = in->disposition;
        av_dict_copy(&s->metadata, in->metadata, 0);
    }
    made =
        avio_open2(&out.format->pb, ("file:" + output).c_str(), AVIO_FLAG_WRITE, nullptr, nullptr);
    if (made < 0) {
        Fail("cannot open " + output + " for writing", made);
    }
    out.opened = true;
    made = avformat_write_header(out.format, nullptr);
    if (made < 0) {
        Fail(output + ": cannot be begun", made);
    }

    // The parts' pictures follow one another at the film's frame rate; the
    // whole-film output's own first picture places them against its audio.
    AVRational frameTime = av_inv_q(partStream->avg_frame_rate.num > 0 ? partStream->avg_frame_rate
                                                                       : partStream->r_frame_rate);
    if (frameTime.num <= 0 || frameTime.den <= 0) {
        frameTime = AVRational{1, 25};
    }
    const AVStream* wholeVideo = carrier->streams[carrierVideo];
    const AVRational videoBase = out.format->streams[carrierVideo]->time_base;
    const int64_t shift =
        av_rescale_q(wholeVideo->start_time != AV_NOPTS_VALUE ? wholeVideo->start_time : 0,
                     wholeVideo->time_base, videoBase) -
        av_rescale_q(partStream->start_time != AV_NOPTS_VALUE ? partStream->start_time : 0,
                     partStream->time_base, videoBase);
    int64_t delay = 0;
    std::vector<std::vector<int64_t>> decodeTimes;
    for (size_t k = 0; k < inputs.size(); ++k) {
        decodeTimes.push_back(DecodeTimes(inputs[k].get(), videos[k], videoBase, parts[k], delay));
        inputs[k] = OpenMediaFile(parts[k]); // read again from the start
    }
    int firstAudio = -1;
    for (unsigned i = 0; i < carrier->nb_streams && firstAudio < 0; ++i) {
        if (carrier->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
            firstAudio = static_cast<int>(i);
        }
    }

    const PacketPtr fromWhole(av_packet_alloc()), fromPart(av_packet_alloc());
    if (!fromWhole || !fromPart) {
        Fail("out of memory", 0);
    }
    size_t part = 0;
    uint64_t partFrames = 0; // frames of the parts before this one
    bool haveWhole = false, havePart = false, wholeEnded = false;
    double audioEnd = 0, videoEnd = 0;
    for (;;) {
        while (!haveWhole && !wholeEnded) {
            if (!NextPacket(carrier.get(), fromWhole.get(), whole)) {
                wholeEnded = true;
            } else if (fromWhole->stream_index == carrierVideo) {
                ++figures.wholeFrames;
                av_packet_unref(fromWhole.get());
            } else {
                haveWhole = true;
            }
        }
        while (!havePart && part < inputs.size()) {
            AVFormatContext* in = inputs[part].get();
            if (!NextPacket(in, fromPart.get(), parts[part])) {
                partFrames = figures.frames;
                ++part;
                continue;
            }
            if (fromPart->stream_index != videos[part]) {
                av_packet_unref(fromPart.get());
                continue;
            }
            const AVRational base = in->streams[videos[part]]->time_base;
            const int64_t offset =
                av_rescale_q(static_cast<int64_t>(partFrames), frameTime, videoBase) + shift;
            const size_t index = static_cast<size_t>(figures.frames - partFrames);
            if (fromPart->pts == AV_NOPTS_VALUE || index >= decodeTimes[part].size()) {
                Fail(parts[part] + ": a picture without a time", 0);
            }
            fromPart->pts = av_rescale_q(fromPart->pts, base, videoBase) + offset;
            fromPart->dts = decodeTimes[part][index] - delay + offset;
            fromPart->duration = av_rescale_q(fromPart->duration, base, videoBase);
            fromPart->stream_index = carrierVideo;
            fromPart->time_base = videoBase;
            ++figures.frames;
            havePart = true;
        }
        if (!haveWhole && !havePart) {
            break;
        }
        // The earlier of the two goes first, so the muxer never holds much.
        bool takePart = havePart;
        if (haveWhole && havePart) {
            const AVStream* s = carrier->streams[fromWhole->stream_index];
            takePart = Seconds(fromPart->dts, videoBase) <= Seconds(fromWhole->dts, s->time_base);
        }
        AVPacket* packet = takePart ? fromPart.get() : fromWhole.get();
        if (takePart) {
            videoEnd = std::max(videoEnd, Seconds(packet->pts + packet->duration, videoBase));
            havePart = false;
        } else {
            const AVRational base = carrier->streams[packet->stream_index]->time_base;
            if (packet->stream_index == firstAudio) {
                audioEnd = std::max(audioEnd, Seconds(packet->pts + packet->duration, base));
            }
            av_packet_rescale_ts(packet, base,
                                 out.format->streams[packet->stream_index]->time_base);
            haveWhole = false;
        }
        if (takePart) {
            av_packet_rescale_ts(packet, videoBase,
                                 out.format->streams[packet->stream_index]->time_base);
        }
        made = av_interleaved_write_frame(out.format, packet);
        if (made < 0) {
            Fail(output + ": cannot be written", made);
        }
    }
    made = av_write_trailer(out.format);
    if (made < 0) {
        Fail(output + ": cannot be finished", made);
    }
    figures.bytes = static_cast<uint64_t>(avio_size(out.format->pb));
    figures.videoSeconds = videoEnd - Seconds(shift, videoBase);
    figures.audioSeconds = firstAudio >= 0 ? audioEnd : 0;
    return figures;
}

} // namespace norv
