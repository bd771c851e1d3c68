#include "output_streams.h"

#include "encoders.h"
#include "engine_log.h"

namespace norv_engine {

Status PacketWriter::Write(AVPacket* packet, int stream, AVRational timeBase) {
    if (stop_.StopRequested()) {
        return {nvt::Aborted, "stopped"};
    }
    std::string why;
    if (!muxer_.Write(packet, stream, timeBase, why)) {
        return {nvt::ENG_WRITING_ERROR, why};
    }
    return {};
}

Status CopiedOutput::Copy(const InputLane& lane, const AVPacket* packet) {
    const AVStream* input = lane.Stream(lane.role(), lane.slot());
    PacketPtr copy(av_packet_clone(packet));
    if (!copy || input == nullptr) {
        return {nvt::ENG_ERR, "out of memory"};
    }
    copy->pts = lane.ToJoined(copy->pts, input->time_base);
    copy->dts = lane.ToJoined(copy->dts, input->time_base);
    copy->duration = av_rescale_q(copy->duration, input->time_base, AV_TIME_BASE_Q);
    if (!lane.InWindow(copy->pts, copy->duration, lane.role())) {
        return {}; // before the inpoint or after the outpoint
    }
    // Where joined recordings overlap (a broadcast's sound runs on past the
    // cut), the copied stream's next packets go back in time: the overlap
    // is left out, as the muxer takes decoding times only rising.
    if (copy->dts != AV_NOPTS_VALUE) {
        if (lastDts_ != AV_NOPTS_VALUE && copy->dts <= lastDts_) {
            LogLine(Severity::Info,
                    "a copied packet of stream %d at %.3f s overlaps the one "
                    "before; left out",
                    stream_, static_cast<double>(copy->dts) / AV_TIME_BASE);
            return {};
        }
        lastDts_ = copy->dts;
    }
    return writer_.Write(copy.get(), stream_, AV_TIME_BASE_Q);
}

EncodedOutput::EncodedOutput(CodecContextPtr&& encoder, std::unique_ptr<FilterChain> chain,
                             int stream, PacketWriter& writer)
    : encoder_(std::move(encoder)), chain_(std::move(chain)), stream_(stream), writer_(writer),
      filtered_(av_frame_alloc()) {}

Status EncodedOutput::Push(AVFrame* frame, int64_t durationUs) {
    std::string why;
    if (!chain_->Push(frame, durationUs, why)) {
        return {nvt::ENG_ERR, why};
    }
    return Drain();
}

Status EncodedOutput::Flush() {
    std::string why;
    if (!chain_->End(why)) {
        return {nvt::ENG_ERR, why};
    }
    return Drain();
}

Status EncodedOutput::Drain() {
    if (!filtered_) {
        return {nvt::ENG_ERR, "out of memory"};
    }
    Status written;
    const auto sink = [&](AVPacket* packet) {
        if (!Keep(packet)) {
            return true;
        }
        Encoded(packet);
        written = writer_.Write(packet, stream_, encoder_->time_base);
        return written.ok();
    };
    const auto encode = [&](const AVFrame* frame) -> Status {
        std::string why;
        if (Encode(encoder_.get(), frame, sink, why)) {
            return {};
        }
        // The writer's own cause when it stopped the encoder's output.
        return written.ok() ? Status{nvt::ENG_ERR, "the encoder failed: " + why} : written;
    };
    for (;;) {
        const int pulled = chain_->Pull(filtered_.get());
        if (pulled == AVERROR(EAGAIN)) {
            return {};
        }
        if (pulled == AVERROR_EOF) {
            return Send(nullptr, encode);
        }
        if (pulled < 0) {
            return {nvt::ENG_ERR, "the filters failed: " + ErrorText(pulled)};
        }
        Status done = Filtered(filtered_.get());
        if (done.ok()) {
            done = Send(filtered_.get(), encode);
        }
        av_frame_unref(filtered_.get());
        if (!done.ok()) {
            return done;
        }
    }
}

VideoOutput::VideoOutput(CodecContextPtr encoder, const VideoChainSetup& chain, int stream,
                         PacketWriter& writer)
    : EncodedOutput(std::move(encoder), std::make_unique<VideoChain>(chain), stream, writer) {
    timeBase_ = static_cast<VideoChain&>(this->chain()).OutputTimeBase();
}

Status VideoOutput::Filtered(AVFrame* frame) {
    // Keyframes are the encoder's choice, not the source's.
    frame->pict_type = AV_PICTURE_TYPE_NONE;
    ++frames_;
    if (burn_ != nullptr) {
        std::string why;
        if (!burn_->Blend(frame, av_rescale_q(frame->pts, timeBase_, AV_TIME_BASE_Q), why)) {
            return {nvt::ENG_ERR, why};
        }
    }
    return {};
}

void VideoOutput::Encoded(const AVPacket* /*packet*/) {
    if (stats_ != nullptr && encoder()->stats_out != nullptr) {
        *stats_ += encoder()->stats_out;
    }
    ++packets_;
    if (heard_) {
        heard_();
    }
}

AudioOutput::AudioOutput(CodecContextPtr encoder, int stream, PacketWriter& writer)
    : EncodedOutput(std::move(encoder), std::make_unique<AudioChain>(encoder.get()), stream,
                    writer) {}

Status AudioOutput::Open(const char* encoderName, const AVStream* input, int maxChannels,
                         int64_t bitrate, Muxer& muxer, PacketWriter& writer,
                         std::unique_ptr<AudioOutput>& output) {
    const AVCodec* codec = avcodec_find_encoder_by_name(encoderName);
    if (codec == nullptr) {
        return {nvt::ENG_NO_ENCODER_AUD, std::string("no audio encoder ") + encoderName};
    }
    AudioFormat format = EncoderAudioFormat(codec, input->codecpar->sample_rate,
                                            input->codecpar->ch_layout, maxChannels);
    std::string why;
    CodecContextPtr encoder =
        OpenAudioEncoder(codec, format, bitrate, muxer.WantsGlobalHeader(), why);
    av_channel_layout_uninit(&format.layout);
    if (!encoder) {
        return {nvt::ENG_NO_ENCODER_AUD, why};
    }
    const int stream = muxer.AddStream(encoder.get());
    if (stream < 0) {
        return {nvt::ENG_MUX_ADD_ERR, "cannot add an audio stream"};
    }
    output = std::make_unique<AudioOutput>(std::move(encoder), stream, writer);
    return {};
}

Status AudioOutput::Filtered(AVFrame* frame) {
    samples_ += static_cast<uint64_t>(frame->nb_samples);
    return {};
}

SubtitleOutput::SubtitleOutput(std::unique_ptr<SubtitleTrack> track, int stream,
                               PacketWriter& writer)
    : track_(std::move(track)), copied_(stream, writer), stream_(stream), writer_(writer) {}

Status SubtitleOutput::Take(const InputLane& lane, const AVPacket* packet) {
    if (!track_) {
        return copied_.Copy(lane, packet);
    }
    Status written;
    std::string why;
    const AVStream* input = lane.Stream(StreamRole::Subtitle, lane.slot());
    const bool converted = track_->Convert(
        input, packet, lane.ToJoined(0, AV_TIME_BASE_Q),
        [&](AVPacket* out) {
            written = writer_.Write(out, stream_, AV_TIME_BASE_Q);
            return written.ok();
        },
        why);
    if (converted) {
        return {};
    }
    return written.ok() ? Status{nvt::ENG_ERR, why} : written;
}

Status SubtitleOutput::Flush() {
    if (!track_) {
        return {};
    }
    Status written;
    const bool finished = track_->Finish([&](AVPacket* end) {
        written = writer_.Write(end, stream_, AV_TIME_BASE_Q);
        return written.ok();
    });
    return finished || !written.ok() ? written
                                     : Status{nvt::ENG_ERR, "the last subtitle cannot be ended"};
}

} // namespace norv_engine
