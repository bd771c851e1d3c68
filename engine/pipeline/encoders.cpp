#include "encoders.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>
#include <sstream>

#include "engine_log.h"
#include "norv/enums.h"

namespace norv_engine {

namespace {

// The buffer over which the encoder averages its rate (kMaxRateFactor),
// in seconds at the target bitrate.
constexpr double kBufferSeconds = 2.0;

// The x264 speed preset: its own default balance of speed and quality.
constexpr char kX264Preset[] = "medium";

const char* X265Preset(int hevcQuality) {
    if (hevcQuality >= nvt::hevc_ql_best) {
        return "slower";
    }
    if (hevcQuality >= nvt::hevc_ql_better) {
        return "slow";
    }
    if (hevcQuality >= nvt::hevc_ql_balanced) {
        return "medium";
    }
    if (hevcQuality >= nvt::hevc_ql_fast) {
        return "faster";
    }
    return "ultrafast";
}

bool Named(const AVCodec* codec, const char* name) {
    return std::strcmp(codec->name, name) == 0;
}

std::string Kbps(int64_t bitsPerSecond) {
    return std::to_string(std::max<int64_t>(1, bitsPerSecond / 1000));
}

// The least bitrate FFmpeg's own encoder can give a second pass of the
// pictures its first pass described (statistics, a line per picture): every
// picture at the coarsest quantiser (31), with a quarter to spare. Below it
// the encoder refuses to open, and this FFmpeg frees part of its rate
// control twice on that path, which would bring the engine down.
int64_t FloorOfStatistics(const std::string& stats, AVRational frameRate) {
    constexpr double kCoarsest = 31.0 * FF_QP2LAMBDA;
    double bits = 0.0;
    unsigned pictures = 0;
    std::istringstream lines(stats);
    std::string line;
    while (std::getline(lines, line, ';')) {
        double quality = 0, intraBits = 0, interBits = 0, motionBits = 0, otherBits = 0;
        if (std::sscanf(line.c_str(),
                        " in:%*d out:%*d type:%*d q:%lf itex:%lf ptex:%lf mv:%lf misc:%lf",
                        &quality, &intraBits, &interBits, &motionBits, &otherBits) == 5) {
            bits += (intraBits + interBits + 1.0) * quality / kCoarsest + motionBits + otherBits;
            ++pictures;
        }
    }
    if (pictures == 0 || frameRate.num <= 0 || frameRate.den <= 0) {
        return 0;
    }
    return static_cast<int64_t>(1.25 * bits * av_q2d(frameRate) / pictures);
}

} // namespace

int64_t SecondPassFloor(const char* encoder, const std::string* stats, AVRational frameRate) {
    if (stats == nullptr || std::strcmp(encoder, "libx264") == 0 ||
        std::strcmp(encoder, "libx265") == 0) {
        return 0;
    }
    return FloorOfStatistics(*stats, frameRate);
}

CodecContextPtr OpenVideoEncoder(const VideoEncoderSetup& setup, std::string& why) {
    const AVCodec* codec = avcodec_find_encoder_by_name(setup.encoder);
    if (codec == nullptr) {
        why = std::string("no video encoder ") + setup.encoder;
        return nullptr;
    }
    CodecContextPtr context(avcodec_alloc_context3(codec));
    if (!context) {
        why = "out of memory";
        return nullptr;
    }
    AVCodecContext* c = context.get();
    c->width = setup.width;
    c->height = setup.height;
    c->sample_aspect_ratio = setup.sampleAspect;
    c->pix_fmt = kEncodePixelFormat;
    c->color_primaries = setup.colour.primaries;
    c->color_trc = setup.colour.transfer;
    c->colorspace = setup.colour.matrix;
    c->color_range = setup.colour.range;
    c->field_order = AV_FIELD_PROGRESSIVE; // interlaced sources are deinterlaced
    c->framerate = setup.frameRate;
    c->time_base = av_inv_q(setup.frameRate);
    c->gop_size = std::max(1, static_cast<int>(av_q2d(setup.frameRate) * kKeyframeSeconds));
    int64_t bitrate = setup.bitrate;
    if (setup.pass == EncodePass::Second) {
        const int64_t floor = SecondPassFloor(codec->name, setup.statsIn, setup.frameRate);
        if (bitrate < floor) {
            LogLine(Severity::Warning,
                    "%lld bit/s is too little for these pictures; the second pass takes %lld",
                    static_cast<long long>(bitrate), static_cast<long long>(floor));
            bitrate = floor;
        }
    }
    c->bit_rate = bitrate;
    c->rc_max_rate = static_cast<int64_t>(bitrate * kMaxRateFactor);
    c->rc_buffer_size = static_cast<int>(
        std::min<double>(bitrate * kBufferSeconds, std::numeric_limits<int>::max()));
    c->thread_count = 0; // as many as the machine has
    if (setup.globalHeader) {
        c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    if (setup.pass == EncodePass::First) {
        c->flags |= AV_CODEC_FLAG_PASS1;
    } else if (setup.pass == EncodePass::Second) {
        c->flags |= AV_CODEC_FLAG_PASS2;
    }

    Options options;
    if (Named(codec, "libx264")) {
        options.Set("preset", kX264Preset);
        // Headers that do not depend on the pictures: streams encoded in
        // parts with these settings join as one.
        options.Set("x264-params", "stitchable=1");
        if (setup.warmUpFrames > 0) {
            options.Set("forced-idr", "1");
        }
        if (setup.pass != EncodePass::Single) {
            options.Set("stats", setup.statsPath.c_str());
        }
    } else if (Named(codec, "libx265")) {
        options.Set("preset", X265Preset(setup.hevcQuality));
        // x265 writes its own messages to standard error unless told not to.
        // Its picture parameter sets stay the same whatever the pictures
        // (as x264's stitchable), so parts encoded apart join as one stream.
        std::string params = "log-level=none:opt-qp-pps=0:opt-ref-list-length-pps=0:vbv-maxrate=" +
                             Kbps(c->rc_max_rate) + ":vbv-bufsize=" + Kbps(c->rc_buffer_size);
        if (setup.pass != EncodePass::Single) {
            // The folder of the statistics is the user's: any character.
            std::string stats;
            if (!EscapeOptionValue(setup.statsPath, stats)) {
                why = "out of memory";
                return nullptr;
            }
            params += std::string(":pass=") + (setup.pass == EncodePass::First ? "1" : "2") +
                      ":stats=" + stats;
        }
        options.Set("x265-params", params.c_str());
    } else {
        // FFmpeg's MPEG-4 Part 2 encoder: four motion vectors per macroblock
        // and AC prediction, as common players expect; no B-frames in AVI.
        c->flags |= AV_CODEC_FLAG_4MV | AV_CODEC_FLAG_AC_PRED;
        c->max_b_frames = 0;
        // How far a single pass may stray from the average: FFmpeg's default
        // (4 Mbit) lets low bitrates overshoot by a third on short clips; a
        // quarter second's worth keeps them on target.
        c->bit_rate_tolerance = static_cast<int>(std::min<int64_t>(
            std::max<int64_t>(bitrate / 4, 1000), std::numeric_limits<int>::max()));
        if (setup.pass == EncodePass::Second && setup.statsIn != nullptr) {
            c->stats_in = av_strdup(setup.statsIn->c_str());
            if (c->stats_in == nullptr) {
                why = "out of memory";
                return nullptr;
            }
        }
    }
    const int opened = avcodec_open2(c, codec, options.Address());
    if (opened < 0) {
        why = std::string("cannot open the video encoder ") + setup.encoder + ": " +
              ErrorText(opened);
        return nullptr;
    }
    return context;
}

AudioFormat EncoderAudioFormat(const AVCodec* encoder, int sourceRate,
                               const AVChannelLayout& sourceLayout, int maxChannels) {
    AudioFormat format;
    format.sampleFormat =
        encoder->sample_fmts != nullptr ? encoder->sample_fmts[0] : AV_SAMPLE_FMT_FLTP;
    format.sampleRate = sourceRate > 0 ? sourceRate : 48000;
    if (encoder->supported_samplerates != nullptr) {
        // The source's rate when taken, else the nearest above it, else the
        // highest.
        int best = 0;
        bool exact = false;
        for (const int* r = encoder->supported_samplerates; *r != 0; ++r) {
            exact = exact || *r == format.sampleRate;
            if ((*r >= format.sampleRate && (best < format.sampleRate || *r < best)) ||
                (best<format.sampleRate&& * r> best)) {
                best = *r;
            }
        }
        if (!exact && best > 0) {
            format.sampleRate = best;
        }
    }
    AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
    // More channels than the output carries: the usual layout of as many as
    // it does (stereo, 5.1).
    AVChannelLayout capped{};
    const AVChannelLayout* chosen = &sourceLayout;
    if (sourceLayout.nb_channels <= 0) {
        chosen = &stereo;
    } else if (maxChannels > 0 && sourceLayout.nb_channels > maxChannels) {
        av_channel_layout_default(&capped, maxChannels);
        chosen = &capped;
    }
    if (encoder->ch_layouts != nullptr) {
        const AVChannelLayout* sameCount = nullptr;
        const AVChannelLayout* stereoTaken = nullptr;
        const AVChannelLayout* exact = nullptr;
        for (const AVChannelLayout* l = encoder->ch_layouts; l->nb_channels != 0; ++l) {
            if (av_channel_layout_compare(l, chosen) == 0) {
                exact = l;
            }
            if (sameCount == nullptr && l->nb_channels == chosen->nb_channels) {
                sameCount = l;
            }
            if (av_channel_layout_compare(l, &stereo) == 0) {
                stereoTaken = l;
            }
        }
        chosen = exact != nullptr         ? exact
                 : sameCount != nullptr   ? sameCount
                 : stereoTaken != nullptr ? stereoTaken
                                          : encoder->ch_layouts;
    } else if (chosen->order == AV_CHANNEL_ORDER_UNSPEC) {
        av_channel_layout_default(&format.layout, chosen->nb_channels);
        return format;
    }
    av_channel_layout_copy(&format.layout, chosen);
    return format;
}

CodecContextPtr OpenAudioEncoder(const AVCodec* encoder, const AudioFormat& format, int64_t bitrate,
                                 bool globalHeader, std::string& why) {
    CodecContextPtr context(avcodec_alloc_context3(encoder));
    if (!context) {
        why = "out of memory";
        return nullptr;
    }
    AVCodecContext* c = context.get();
    c->sample_fmt = format.sampleFormat;
    c->sample_rate = format.sampleRate;
    av_channel_layout_copy(&c->ch_layout, &format.layout);
    c->bit_rate = bitrate;
    c->time_base = AVRational{1, format.sampleRate};
    c->thread_count = 0;
    if (globalHeader) {
        c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    const int opened = avcodec_open2(c, encoder, nullptr);
    if (opened < 0) {
        why = std::string("cannot open the audio encoder ") + encoder->name + ": " +
              ErrorText(opened);
        return nullptr;
    }
    return context;
}

bool Encode(AVCodecContext* encoder, const AVFrame* frame,
            const std::function<bool(AVPacket*)>& sink, std::string& why) {
    const int sent = avcodec_send_frame(encoder, frame);
    if (sent < 0 && !(sent == AVERROR_EOF && frame == nullptr)) {
        why = std::string("the ") + encoder->codec->name + " encoder failed: " + ErrorText(sent);
        return false;
    }
    PacketPtr packet(av_packet_alloc());
    if (!packet) {
        why = "out of memory";
        return false;
    }
    for (;;) {
        const int received = avcodec_receive_packet(encoder, packet.get());
        if (received == AVERROR(EAGAIN) || received == AVERROR_EOF) {
            return true;
        }
        if (received < 0) {
            why = std::string("the ") + encoder->codec->name +
                  " encoder failed: " + ErrorText(received);
            return false;
        }
        const bool kept = sink(packet.get());
        av_packet_unref(packet.get());
        if (!kept) {
            return false;
        }
    }
}

} // namespace norv_engine
