#include "transcode_pass.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "audio_chain.h"
#include "decoder.h"
#include "engine_log.h"
#include "muxer.h"
#include "subtitle_track.h"
#include "video_chain.h"

namespace norv_engine {

namespace {

// The weight of the encoder's output in a pass's progress (see Report).
constexpr double kEncodedShare = 0.3;

// A decoder for a stream of a lane, opened anew for each file.
struct DecoderSlot {
    CodecContextPtr context;
    size_t file = 0;
    uint64_t packets = 0; ///< sent since it was opened
    uint64_t frames = 0;  ///< received since it was opened
};

struct VideoOut {
    CodecContextPtr encoder;
    std::unique_ptr<VideoChain> chain;
    int stream = -1;
    uint64_t frames = 0;
    uint64_t packets = 0; ///< what the encoder gave out of the frames
};

struct AudioOut {
    const AudioPlan* plan = nullptr;
    size_t lane = 0;
    int slot = 0;
    CodecContextPtr encoder;
    std::unique_ptr<AudioChain> chain;
    DecoderSlot decoder;
    int stream = -1;
    uint64_t samples = 0;
};

struct SubtitleOut {
    const SubtitlePlan* plan = nullptr;
    size_t lane = 0;
    int slot = 0;
    std::unique_ptr<SubtitleTrack> track;
    int stream = -1;
};

// How long a decoded frame lasts, in its stream's time base.
int64_t FrameDuration(const AVFrame* frame) {
#if LIBAVUTIL_VERSION_MAJOR >= 58
    return frame->duration;
#else
    return frame->pkt_duration;
#endif
}

// The slot of an ordinal in a lane's list, added when new.
int SlotOf(std::vector<int>& list, int ordinal) {
    for (size_t i = 0; i < list.size(); ++i) {
        if (list[i] == ordinal) {
            return static_cast<int>(i);
        }
    }
    list.push_back(ordinal);
    return static_cast<int>(list.size() - 1);
}

class Pass {
public:
    Pass(const TranscodePlan& plan, const PassSetup& setup, const StopToken& stop,
         ProgressMeter& progress)
        : plan_(plan), setup_(setup), stop_(stop), progress_(progress), frame_(av_frame_alloc()),
          filtered_(av_frame_alloc()) {}

    nvt::Result Run(PassFigures& figures, std::string& why);

private:
    nvt::Result OpenLanes(std::string& why);
    nvt::Result OpenOutputs(std::string& why);
    nvt::Result Loop(std::string& why);
    nvt::Result Flush(std::string& why);

    bool OnPacket(size_t lane, std::string& why);
    bool OnFileEnd(size_t lane, std::string& why);
    bool Copy(InputLane& lane, const AVPacket* packet, int stream, std::string& why);
    bool Write(AVPacket* packet, int stream, AVRational timeBase, std::string& why);
    bool Receive(DecoderSlot& slot, InputLane& lane, const AVStream* input,
                 const std::function<bool(AVFrame*)>& use);
    bool Decode(DecoderSlot& slot, InputLane& lane, const AVStream* input, const AVPacket* packet,
                const std::function<bool(AVFrame*)>& use, std::string& why);
    bool DecodeVideo(const AVPacket* packet, std::string& why);
    bool Picture(AVFrame* frame, std::string& why);
    bool DrainVideo(VideoOut& out, std::string& why);
    /// Hands every frame the chain has ready (noted first) to the encoder
    /// and its packets to sink; at the chain's end the encoder is flushed.
    bool Drain(FilterChain& chain, AVCodecContext* encoder,
               const std::function<bool(AVPacket*)>& sink,
               const std::function<void(AVFrame*)>& note, std::string& why);
    bool DecodeAudio(AudioOut& out, const AVPacket* packet, std::string& why);
    bool DrainAudio(AudioOut& out, std::string& why);
    bool OpenDecoderFor(DecoderSlot& slot, InputLane& lane, const AVStream* stream,
                        std::string& why);
    void Report(bool force);

    const TranscodePlan& plan_;
    const PassSetup& setup_;
    const StopToken& stop_;
    ProgressMeter& progress_;
    FramePtr frame_;
    FramePtr filtered_;

    std::vector<std::unique_ptr<InputLane>> lanes_; // main, extra audio, subtitle files
    std::vector<bool> active_;
    std::vector<std::vector<std::vector<size_t>>> laneAudio_;     // lane, slot -> outputs
    std::vector<std::vector<std::vector<size_t>>> laneSubtitles_; // lane, slot -> outputs
    std::unique_ptr<Muxer> muxer_;
    bool encodeVideo_ = false;
    int copiedVideo_ = -1;
    VideoOut main_;
    VideoOut trick_;
    bool trickOn_ = false;
    DecoderSlot videoDecoder_;
    int64_t lastVideoPts_ = AV_NOPTS_VALUE;
    int64_t frameDurationUs_ = 0; ///< of the frame in work
    std::vector<AudioOut> audio_;
    std::vector<SubtitleOut> subtitles_;
    nvt::Result failure_ = nvt::ENG_ERR; ///< the code of a failed step
};

nvt::Result Pass::OpenLanes(std::string& why) {
    const size_t extraLanes = plan_.extraAudioFiles.size();
    const size_t subtitleLanes = setup_.complete ? plan_.externalSubtitleFiles.size() : 0;
    std::vector<LaneStreams> wanted(1 + extraLanes + subtitleLanes);
    wanted[0].video = true;
    for (const AudioPlan& a : plan_.audio) {
        AudioOut out;
        out.plan = &a;
        out.lane = a.extra ? 1 + a.extraLane : 0;
        out.slot = SlotOf(wanted[out.lane].audio, a.ordinal);
        audio_.push_back(std::move(out));
    }
    if (setup_.complete) {
        for (const SubtitlePlan& s : plan_.subtitles) {
            SubtitleOut out;
            out.plan = &s;
            out.lane = s.external ? 1 + extraLanes + s.externalLane : 0;
            out.slot = SlotOf(wanted[out.lane].subtitles, s.ordinal);
            subtitles_.push_back(std::move(out));
        }
    }
    laneAudio_.resize(wanted.size());
    laneSubtitles_.resize(wanted.size());
    for (size_t l = 0; l < wanted.size(); ++l) {
        laneAudio_[l].resize(wanted[l].audio.size());
        laneSubtitles_[l].resize(wanted[l].subtitles.size());
    }
    for (size_t i = 0; i < audio_.size(); ++i) {
        laneAudio_[audio_[i].lane][static_cast<size_t>(audio_[i].slot)].push_back(i);
    }
    for (size_t i = 0; i < subtitles_.size(); ++i) {
        laneSubtitles_[subtitles_[i].lane][static_cast<size_t>(subtitles_[i].slot)].push_back(i);
    }
    for (size_t l = 0; l < wanted.size(); ++l) {
        std::vector<LaneFile> files;
        if (l == 0) {
            files = plan_.files;
        } else if (l <= extraLanes) {
            files.push_back(LaneFile{plan_.extraAudioFiles[l - 1], 0});
        } else {
            files.push_back(LaneFile{plan_.externalSubtitleFiles[l - 1 - extraLanes], 0});
        }
        lanes_.push_back(std::make_unique<InputLane>(std::move(files), wanted[l], stop_));
        if (!lanes_.back()->OpenFirst()) {
            why = lanes_.back()->why();
            return lanes_.back()->error();
        }
    }
    active_.assign(lanes_.size(), true);
    return nvt::SUCCESS;
}

nvt::Result Pass::OpenOutputs(std::string& why) {
    muxer_ = Muxer::Create(plan_.recipe->muxer, setup_.outputPath, why);
    if (!muxer_) {
        return nvt::ENG_WRITING_ERROR;
    }
    const bool global = muxer_->WantsGlobalHeader();
    InputLane& main = *lanes_[0];
    const VideoPlan& v = plan_.video;
    encodeVideo_ = !v.copy;
    if (v.copy) {
        copiedVideo_ = muxer_->AddCopiedStream(main.Stream(StreamRole::Video, 0));
    } else {
        VideoEncoderSetup e;
        e.encoder = plan_.recipe->videoEncoder;
        e.width = v.chain.width;
        e.height = v.chain.height;
        e.sampleAspect = v.chain.sampleAspect;
        e.frameRate = v.frameRate;
        e.bitrate = setup_.videoBitrate;
        e.pass = setup_.videoPass;
        e.statsPath = setup_.statsPath;
        e.statsIn = setup_.statsIn;
        e.hevcQuality = v.hevcQuality;
        e.globalHeader = global;
        main_.encoder = OpenVideoEncoder(e, why);
        if (!main_.encoder) {
            return nvt::ENG_NO_ENCODER_VID;
        }
        VideoChainSetup chain = v.chain;
        chain.burn = plan_.burn.get();
        main_.chain = std::make_unique<VideoChain>(chain);
        main_.stream = muxer_->AddStream(main_.encoder.get());
    }
    trickOn_ = v.trick && setup_.complete;
    if (trickOn_) {
        VideoEncoderSetup e;
        e.encoder = plan_.recipe->videoEncoder;
        e.width = v.trickChain.width;
        e.height = v.trickChain.height;
        e.sampleAspect = v.trickChain.sampleAspect;
        e.frameRate = v.trickChain.frameRate;
        e.bitrate = v.trickBitrate;
        e.globalHeader = global;
        trick_.encoder = OpenVideoEncoder(e, why);
        if (!trick_.encoder) {
            return nvt::ENG_NO_ENCODER_VID;
        }
        trick_.chain = std::make_unique<VideoChain>(v.trickChain);
        trick_.stream = muxer_->AddStream(trick_.encoder.get());
        muxer_->SetMetadata(trick_.stream, "title", "Trick play");
    }
    if (main_.stream < 0 && copiedVideo_ < 0) {
        why = "cannot add the video stream";
        return nvt::ENG_MUX_ADD_ERR;
    }
    for (AudioOut& out : audio_) {
        const AVStream* input = lanes_[out.lane]->Stream(StreamRole::Audio, out.slot);
        if (input == nullptr) {
            why = "an audio track is missing from its file";
            return nvt::ENG_INVALID_AUD_STREAM;
        }
        if (out.plan->copy) {
            out.stream = muxer_->AddCopiedStream(input);
        } else {
            const AVCodec* codec = avcodec_find_encoder_by_name(out.plan->encoder);
            if (codec == nullptr) {
                why = std::string("no audio encoder ") + out.plan->encoder;
                return nvt::ENG_NO_ENCODER_AUD;
            }
            AudioFormat format =
                EncoderAudioFormat(codec, input->codecpar->sample_rate, input->codecpar->ch_layout);
            out.encoder = OpenAudioEncoder(codec, format, out.plan->bitrate, global, why);
            av_channel_layout_uninit(&format.layout);
            if (!out.encoder) {
                return nvt::ENG_NO_ENCODER_AUD;
            }
            out.chain = std::make_unique<AudioChain>(out.encoder.get());
            out.stream = muxer_->AddStream(out.encoder.get());
        }
        if (out.stream < 0) {
            why = "cannot add an audio stream";
            return nvt::ENG_MUX_ADD_ERR;
        }
        muxer_->SetMetadata(out.stream, "language", out.plan->language);
    }
    for (SubtitleOut& out : subtitles_) {
        const AVStream* input = lanes_[out.lane]->Stream(StreamRole::Subtitle, out.slot);
        if (input == nullptr) {
            continue;
        }
        if (out.plan->copy) {
            out.stream = muxer_->AddCopiedStream(input);
        } else {
            std::string problem;
            out.track = std::make_unique<SubtitleTrack>(input, out.plan->codec, out.plan->charset,
                                                        global, problem);
            if (out.track->encoder() == nullptr) {
                LogLine(Severity::Warning, "subtitles left out: %s", problem.c_str());
                out.track.reset();
                continue;
            }
            out.stream = muxer_->AddStream(out.track->encoder());
        }
        if (out.stream >= 0) {
            muxer_->SetMetadata(out.stream, "language", out.plan->language);
        }
    }
    muxer_->SetMetadata(-1, "title", plan_.title);
    if (!muxer_->Begin(why)) {
        return nvt::ENG_WRITING_ERROR;
    }
    return nvt::SUCCESS;
}

bool Pass::Write(AVPacket* packet, int stream, AVRational timeBase, std::string& why) {
    // Encoders hand out many packets at their end: the token is heard there
    // too.
    if (stop_.StopRequested()) {
        why = "stopped";
        failure_ = nvt::Aborted;
        return false;
    }
    if (!muxer_->Write(packet, stream, timeBase, why)) {
        failure_ = nvt::ENG_WRITING_ERROR;
        return false;
    }
    return true;
}

bool Pass::Copy(InputLane& lane, const AVPacket* packet, int stream, std::string& why) {
    const AVStream* input = lane.Stream(lane.role(), lane.slot());
    PacketPtr copy(av_packet_clone(packet));
    if (!copy || input == nullptr) {
        why = "out of memory";
        return false;
    }
    copy->pts = lane.ToJoined(copy->pts, input->time_base);
    copy->dts = lane.ToJoined(copy->dts, input->time_base);
    copy->duration = av_rescale_q(copy->duration, input->time_base, AV_TIME_BASE_Q);
    return Write(copy.get(), stream, AV_TIME_BASE_Q, why);
}

bool Pass::OpenDecoderFor(DecoderSlot& slot, InputLane& lane, const AVStream* stream,
                          std::string& why) {
    if (slot.context && slot.file == lane.FileIndex()) {
        return true;
    }
    slot.context = OpenDecoder(stream, 0, std::string(), why);
    slot.file = lane.FileIndex();
    slot.packets = slot.frames = 0;
    if (!slot.context) {
        failure_ = nvt::ENG_DECODER;
        return false;
    }
    return true;
}

bool Pass::Receive(DecoderSlot& slot, InputLane& lane, const AVStream* input,
                   const std::function<bool(AVFrame*)>& use) {
    for (;;) {
        const int received = avcodec_receive_frame(slot.context.get(), frame_.get());
        if (received == AVERROR(EAGAIN) || received == AVERROR_EOF) {
            return true;
        }
        if (received < 0) {
            // A damaged frame: skipped, as a player would.
            LogLine(Severity::Warning, "a frame of %s does not decode: %s",
                    lane.File().path.c_str(), ErrorText(received).c_str());
            return true;
        }
        ++slot.frames;
        frame_->pts = lane.ToJoined(frame_->best_effort_timestamp, input->time_base);
        frameDurationUs_ =
            av_rescale_q(FrameDuration(frame_.get()), input->time_base, AV_TIME_BASE_Q);
        const bool used = use(frame_.get());
        av_frame_unref(frame_.get());
        if (!used) {
            return false; // use() said why
        }
    }
}

bool Pass::Decode(DecoderSlot& slot, InputLane& lane, const AVStream* input, const AVPacket* packet,
                  const std::function<bool(AVFrame*)>& use, std::string& why) {
    if (input == nullptr) {
        return true;
    }
    if (packet != nullptr && !OpenDecoderFor(slot, lane, input, why)) {
        return false;
    }
    if (!slot.context) {
        return true;
    }
    if (packet != nullptr) {
        ++slot.packets;
    }
    // A packet the decoder refuses is skipped.
    avcodec_send_packet(slot.context.get(), packet);
    return Receive(slot, lane, input, use);
}

bool Pass::DecodeVideo(const AVPacket* packet, std::string& why) {
    InputLane& lane = *lanes_[0];
    return Decode(
        videoDecoder_, lane, lane.Stream(StreamRole::Video, 0), packet,
        [&](AVFrame* frame) { return Picture(frame, why); }, why);
}

bool Pass::Picture(AVFrame* frame, std::string& why) {
    if (frame->pts == AV_NOPTS_VALUE) {
        frame->pts =
            lastVideoPts_ == AV_NOPTS_VALUE
                ? 0
                : lastVideoPts_ + av_rescale_q(1, av_inv_q(plan_.video.frameRate), AV_TIME_BASE_Q);
    }
    lastVideoPts_ = frame->pts;
    const int64_t duration = frameDurationUs_ > 0
                                 ? frameDurationUs_
                                 : av_rescale_q(1, av_inv_q(plan_.video.frameRate), AV_TIME_BASE_Q);
    for (VideoOut* out : {&main_, &trick_}) {
        if (!out->chain) {
            continue;
        }
        if (!out->chain->Push(frame, duration, why) || !DrainVideo(*out, why)) {
            return false;
        }
    }
    return true;
}

bool Pass::DrainVideo(VideoOut& out, std::string& why) {
    const bool first = setup_.videoPass == EncodePass::First && &out == &main_;
    return Drain(
        *out.chain, out.encoder.get(),
        [&](AVPacket* packet) {
            if (first && setup_.statsOut != nullptr && out.encoder->stats_out != nullptr) {
                *setup_.statsOut += out.encoder->stats_out;
            }
            ++out.packets;
            if (&out == &main_) {
                Report(false); // also while the encoder is flushed at the end
            }
            return Write(packet, out.stream, out.encoder->time_base, why);
        },
        [&](AVFrame* frame) {
            // Keyframes are the encoder's choice, not the source's.
            frame->pict_type = AV_PICTURE_TYPE_NONE;
            ++out.frames;
        },
        why);
}

bool Pass::Drain(FilterChain& chain, AVCodecContext* encoder,
                 const std::function<bool(AVPacket*)>& sink,
                 const std::function<void(AVFrame*)>& note, std::string& why) {
    for (;;) {
        const int pulled = chain.Pull(filtered_.get());
        if (pulled == AVERROR(EAGAIN)) {
            return true;
        }
        if (pulled == AVERROR_EOF) {
            return Encode(encoder, nullptr, sink, why);
        }
        if (pulled < 0) {
            why = "the filters failed: " + ErrorText(pulled);
            return false;
        }
        note(filtered_.get());
        const bool encoded = Encode(encoder, filtered_.get(), sink, why);
        av_frame_unref(filtered_.get());
        if (!encoded) {
            return false;
        }
    }
}

bool Pass::DecodeAudio(AudioOut& out, const AVPacket* packet, std::string& why) {
    InputLane& lane = *lanes_[out.lane];
    return Decode(
        out.decoder, lane, lane.Stream(StreamRole::Audio, out.slot), packet,
        [&](AVFrame* frame) {
            return out.chain->Push(frame, frameDurationUs_, why) && DrainAudio(out, why);
        },
        why);
}

bool Pass::DrainAudio(AudioOut& out, std::string& why) {
    return Drain(
        *out.chain, out.encoder.get(),
        [&](AVPacket* packet) { return Write(packet, out.stream, out.encoder->time_base, why); },
        [&](AVFrame* frame) { out.samples += static_cast<uint64_t>(frame->nb_samples); }, why);
}

bool Pass::OnPacket(size_t l, std::string& why) {
    InputLane& lane = *lanes_[l];
    const AVPacket* packet = lane.packet();
    switch (lane.role()) {
    case StreamRole::Video:
        if (copiedVideo_ >= 0 && !Copy(lane, packet, copiedVideo_, why)) {
            return false;
        }
        return !(encodeVideo_ || trickOn_) || DecodeVideo(packet, why);
    case StreamRole::Audio:
        for (size_t i : laneAudio_[l][static_cast<size_t>(lane.slot())]) {
            AudioOut& out = audio_[i];
            if (out.plan->copy ? !Copy(lane, packet, out.stream, why)
                               : !DecodeAudio(out, packet, why)) {
                return false;
            }
        }
        return true;
    case StreamRole::Subtitle:
        for (size_t i : laneSubtitles_[l][static_cast<size_t>(lane.slot())]) {
            SubtitleOut& out = subtitles_[i];
            if (out.stream < 0) {
                continue;
            }
            if (out.plan->copy) {
                if (!Copy(lane, packet, out.stream, why)) {
                    return false;
                }
                continue;
            }
            const AVStream* input = lane.Stream(StreamRole::Subtitle, lane.slot());
            const int64_t shift = lane.ToJoined(0, AV_TIME_BASE_Q);
            if (!out.track->Convert(
                    input, packet, shift,
                    [&](AVPacket* converted) {
                        return Write(converted, out.stream, AV_TIME_BASE_Q, why);
                    },
                    why)) {
                return false;
            }
        }
        return true;
    }
    return true;
}

bool Pass::OnFileEnd(size_t l, std::string& why) {
    InputLane& lane = *lanes_[l];
    if (l == 0 && (encodeVideo_ || trickOn_)) {
        if (!DecodeVideo(nullptr, why)) {
            return false;
        }
        if (videoDecoder_.packets > 0 && videoDecoder_.frames == 0) {
            why = "the video of " + lane.File().path + " does not decode";
            failure_ = nvt::ENG_DECODER;
            return false;
        }
        videoDecoder_.context.reset();
    }
    for (AudioOut& out : audio_) {
        if (out.lane == l && !out.plan->copy) {
            if (!DecodeAudio(out, nullptr, why)) {
                return false;
            }
            out.decoder.context.reset();
        }
    }
    return true;
}

void Pass::Report(bool force) {
    const InputLane& main = *lanes_[0];
    ProgressCounters counters;
    counters.fileNum =
        setup_.stageId == kStageAnalysisPass ? 1u : static_cast<unsigned>(main.File().source + 1);
    counters.file = main.File().path;
    counters.videoFrames = main_.frames;
    counters.audioSamples = audio_.empty() ? 0 : audio_.front().samples;
    counters.bytesWritten = muxer_->Size();
    const double total = plan_.durationSeconds * AV_TIME_BASE;
    double fraction = total > 0.0 ? static_cast<double>(main.Position()) / total : 0.0;
    // An encoder holds frames back (look-ahead, frame threads) and works
    // them off at its end, faster than the frames before, which also had to
    // be read and decoded. The progress weighs what the encoder gave out
    // beside what went in, so that the rate is not overstated early and the
    // flush at the end is counted.
    if (main_.encoder) {
        const double out = main_.frames > 0
                               ? fraction *
                                     static_cast<double>(std::min(main_.packets, main_.frames)) /
                                     main_.frames
                               : 0.0;
        fraction = (1.0 - kEncodedShare) * fraction + kEncodedShare * out;
    }
    progress_.Update(fraction, counters, force);
}

nvt::Result Pass::Loop(std::string& why) {
    for (;;) {
        if (stop_.StopRequested()) {
            why = "stopped";
            return nvt::Aborted;
        }
        // The lane furthest behind goes next, so that the streams stay
        // together in time.
        size_t next = lanes_.size();
        for (size_t l = 0; l < lanes_.size(); ++l) {
            if (active_[l] &&
                (next == lanes_.size() || lanes_[l]->Position() < lanes_[next]->Position())) {
                next = l;
            }
        }
        if (next == lanes_.size()) {
            return nvt::SUCCESS;
        }
        InputLane& lane = *lanes_[next];
        switch (lane.Next()) {
        case InputLane::Step::Packet:
            if (!OnPacket(next, why)) {
                return stop_.StopRequested() ? nvt::Aborted : failure_;
            }
            break;
        case InputLane::Step::FileEnd:
            if (!OnFileEnd(next, why)) {
                return stop_.StopRequested() ? nvt::Aborted : failure_;
            }
            break;
        case InputLane::Step::End:
            active_[next] = false;
            break;
        case InputLane::Step::Failed:
            why = lane.why();
            return lane.error();
        }
        Report(false);
    }
}

nvt::Result Pass::Flush(std::string& why) {
    for (VideoOut* out : {&main_, &trick_}) {
        if (out->chain && (!out->chain->End(why) || !DrainVideo(*out, why))) {
            return failure_;
        }
    }
    for (AudioOut& out : audio_) {
        if (out.chain && (!out.chain->End(why) || !DrainAudio(out, why))) {
            return failure_;
        }
    }
    if (!muxer_->Finish(why)) {
        return nvt::ENG_WRITING_ERROR;
    }
    return nvt::SUCCESS;
}

nvt::Result Pass::Run(PassFigures& figures, std::string& why) {
    if (!frame_ || !filtered_) {
        why = "out of memory";
        return nvt::ENG_ERR;
    }
    nvt::Result result = OpenLanes(why);
    if (result == nvt::SUCCESS) {
        result = OpenOutputs(why);
    }
    if (result == nvt::SUCCESS) {
        LogLine(Severity::Info, "pass %u: writing %s at %lld bit/s", setup_.stage + 1,
                setup_.outputPath.empty() ? "statistics" : setup_.outputPath.c_str(),
                static_cast<long long>(setup_.videoBitrate));
        progress_.BeginStage(setup_.stage, setup_.stageId);
        Report(true);
        result = Loop(why);
    }
    if (result == nvt::SUCCESS) {
        result = Flush(why);
    }
    if (result != nvt::SUCCESS) {
        return result;
    }
    Report(true);
    figures.size = muxer_->Size();
    const int video = main_.stream >= 0 ? main_.stream : copiedVideo_;
    figures.videoBytes = muxer_->PayloadBytes(video);
    figures.videoFrames = main_.frames;
    std::vector<int> all = {video};
    if (trick_.stream >= 0) {
        all.push_back(trick_.stream);
    }
    for (const AudioOut& out : audio_) {
        figures.audioBytes += muxer_->PayloadBytes(out.stream);
        all.push_back(out.stream);
    }
    for (const SubtitleOut& out : subtitles_) {
        if (out.stream >= 0) {
            all.push_back(out.stream);
        }
    }
    for (int s : all) {
        figures.payload += muxer_->PayloadBytes(s);
        figures.packets += muxer_->Packets(s);
    }
    figures.seconds =
        main_.frames > 0 ? main_.frames / av_q2d(plan_.video.frameRate) : plan_.durationSeconds;
    return nvt::SUCCESS;
}

} // namespace

nvt::Result RunPass(const TranscodePlan& plan, const PassSetup& setup, const StopToken& stop,
                    ProgressMeter& progress, PassFigures& figures, std::string& why) {
    Pass pass(plan, setup, stop, progress);
    return pass.Run(figures, why);
}

} // namespace norv_engine
