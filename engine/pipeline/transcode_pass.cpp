#include "transcode_pass.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "engine_log.h"
#include "lane_decoder.h"
#include "muxer.h"
#include "output_streams.h"
#include "rate_warm_up.h"
#include "stream_router.h"

namespace norv_engine {

namespace {

// The weight of the encoder's output in a pass's progress (see Report). At
// 0.3 the rate of a look-ahead encoder's early frames was overstated and
// its remaining time short by a fifth through the run; counted alone, its
// flush at the end ran ahead of the frames before.
constexpr double kEncodedShare = 0.6;

// An audio track of the output: its decoder and its encoded stream, or its
// copy.
struct AudioTrack {
    const AudioPlan* plan = nullptr;
    LaneDecoder decoder;
    std::unique_ptr<AudioOutput> encoded;
    std::unique_ptr<CopiedOutput> copied;
    int stream() const { return encoded ? encoded->stream() : copied->stream(); }
};

class Pass {
public:
    Pass(const TranscodePlan& plan, const PassSetup& setup, OpenedFiles& files,
         ProgressMeter& progress)
        : plan_(plan), setup_(setup), files_(files), stop_(files.stop()), progress_(progress) {}

    Status Run(PassFigures& figures);

private:
    Status OpenOutputs();
    Status OpenVideo(bool global);
    /// The profile's video encoder for a chain's pictures at a bitrate.
    VideoEncoderSetup EncoderFor(const VideoChainSetup& chain, AVRational frameRate,
                                 int64_t bitrate, bool global) const;
    Status OpenAudio();
    void OpenSubtitles(bool global);
    Status Loop();
    Status Flush();
    void Figures(PassFigures& figures) const;

    Status OnPacket(size_t lane);
    Status OnFileEnd(size_t lane);
    Status DecodeVideo(const AVPacket* packet);
    Status Picture(AVFrame* frame, int64_t durationUs);
    Status DecodeAudio(AudioTrack& track, const AVPacket* packet);
    Status BurnPictures(InputLane& lane, const AVPacket* packet);
    void Report(bool force);

    const TranscodePlan& plan_;
    const PassSetup& setup_;
    OpenedFiles& files_;
    const StopToken& stop_;
    ProgressMeter& progress_;

    StreamRouter router_;
    std::unique_ptr<Muxer> muxer_;
    std::unique_ptr<PacketWriter> writer_;
    std::unique_ptr<VideoOutput> main_;
    std::unique_ptr<VideoOutput> trick_;
    std::unique_ptr<CopiedOutput> copiedVideo_;
    LaneDecoder videoDecoder_;
    int64_t lastVideoPts_ = AV_NOPTS_VALUE;
    std::vector<AudioTrack> audio_;
    std::vector<std::unique_ptr<SubtitleOutput>> subtitles_; ///< null: left out
    std::unique_ptr<BitmapBurn> burn_;
};

// ---- opening ----------------------------------------------------------------

Status Pass::OpenOutputs() {
    std::string why;
    muxer_ = Muxer::Create(plan_.recipe->muxer, setup_.outputPath, why);
    if (!muxer_) {
        return {nvt::ENG_WRITING_ERROR, why};
    }
    writer_ = std::make_unique<PacketWriter>(*muxer_, stop_);
    const bool global = muxer_->WantsGlobalHeader();
    Status opened = OpenVideo(global);
    if (opened.ok()) {
        opened = OpenAudio();
    }
    if (!opened.ok()) {
        return opened;
    }
    OpenSubtitles(global);
    muxer_->SetMetadata(-1, "title", plan_.title);
    if (!muxer_->Begin(why)) {
        return {nvt::ENG_WRITING_ERROR, why};
    }
    return {};
}

VideoEncoderSetup Pass::EncoderFor(const VideoChainSetup& chain, AVRational frameRate,
                                   int64_t bitrate, bool global) const {
    VideoEncoderSetup e;
    e.encoder = plan_.recipe->videoEncoder;
    e.width = chain.width;
    e.height = chain.height;
    e.sampleAspect = chain.sampleAspect;
    e.colour = chain.colour;
    e.frameRate = frameRate;
    e.bitrate = bitrate;
    e.globalHeader = global;
    return e;
}

Status Pass::OpenVideo(bool global) {
    InputLane& main = router_.main();
    const VideoPlan& v = plan_.video;
    std::string why;
    if (v.copy) {
        const int stream = muxer_->AddCopiedStream(main.Stream(StreamRole::Video, 0));
        if (stream >= 0) {
            copiedVideo_ = std::make_unique<CopiedOutput>(stream, *writer_);
        }
    } else {
        VideoEncoderSetup e = EncoderFor(v.chain, v.frameRate, setup_.videoBitrate, global);
        e.pass = setup_.videoPass;
        e.statsPath = setup_.statsPath;
        e.statsIn = setup_.statsIn;
        e.hevcQuality = v.hevcQuality;
        e.warmUpFrames = WarmUpFrames(e.encoder, e.pass, e.frameRate,
                                      plan_.durationKnown ? plan_.durationSeconds : 0.0);
        CodecContextPtr encoder = OpenVideoEncoder(e, why);
        if (!encoder) {
            return {nvt::ENG_NO_ENCODER_VID, why};
        }
        const int stream = muxer_->AddStream(encoder.get());
        VideoChainSetup chain = v.chain;
        chain.burn = plan_.burn.get();
        main_ = std::make_unique<VideoOutput>(std::move(encoder), chain, stream, *writer_);
        main_->WarmUp(e.warmUpFrames);
        if (setup_.videoPass == EncodePass::First) {
            main_->CollectStatistics(setup_.statsOut);
        }
        // Also while the encoder is flushed at the end.
        main_->OnPacket([this] { Report(false); });
        const StreamRouter::Place& burn = router_.burn();
        const AVStream* subtitles =
            burn.slot >= 0 ? router_.lane(burn.lane).Stream(StreamRole::Subtitle, burn.slot)
                           : nullptr;
        const AVStream* picture = main.Stream(StreamRole::Video, 0);
        if (subtitles != nullptr && picture != nullptr) {
            burn_ = std::make_unique<BitmapBurn>(subtitles, picture->codecpar->width,
                                                 picture->codecpar->height, v.chain);
            if (!burn_->Usable(why)) {
                return {nvt::ENG_NOT_COMPATIBLE, why};
            }
            main_->BlendSubtitles(burn_.get());
        }
        if (stream < 0) {
            main_.reset();
        }
    }
    if (v.trick && setup_.complete) {
        const VideoEncoderSetup e =
            EncoderFor(v.trickChain, v.trickChain.frameRate, v.trickBitrate, global);
        CodecContextPtr encoder = OpenVideoEncoder(e, why);
        if (!encoder) {
            return {nvt::ENG_NO_ENCODER_VID, why};
        }
        const int stream = muxer_->AddStream(encoder.get());
        trick_ = std::make_unique<VideoOutput>(std::move(encoder), v.trickChain, stream, *writer_);
        muxer_->SetMetadata(stream, "title", "Trick play");
    }
    if (!main_ && !copiedVideo_) {
        return {nvt::ENG_MUX_ADD_ERR, "cannot add the video stream"};
    }
    return {};
}

Status Pass::OpenAudio() {
    audio_.resize(plan_.audio.size());
    for (size_t i = 0; i < audio_.size(); ++i) {
        AudioTrack& track = audio_[i];
        track.plan = &plan_.audio[i];
        const StreamRouter::Place& place = router_.audio()[i];
        const AVStream* input = router_.lane(place.lane).Stream(StreamRole::Audio, place.slot);
        if (input == nullptr) {
            return {nvt::ENG_INVALID_AUD_STREAM, "an audio track is missing from its file"};
        }
        if (track.plan->copy) {
            const int stream = muxer_->AddCopiedStream(input);
            if (stream < 0) {
                return {nvt::ENG_MUX_ADD_ERR, "cannot add an audio stream"};
            }
            track.copied = std::make_unique<CopiedOutput>(stream, *writer_);
        } else {
            Status opened =
                AudioOutput::Open(track.plan->encoder, input, track.plan->maxChannels,
                                  track.plan->bitrate, *muxer_, *writer_, track.encoded);
            if (!opened.ok()) {
                return opened;
            }
        }
        muxer_->SetMetadata(track.stream(), "language", track.plan->language);
    }
    return {};
}

void Pass::OpenSubtitles(bool global) {
    const std::vector<StreamRouter::Place>& places = router_.subtitles();
    subtitles_.resize(places.size());
    for (size_t i = 0; i < places.size(); ++i) {
        const SubtitlePlan& plan = plan_.subtitles[i];
        const AVStream* input =
            router_.lane(places[i].lane).Stream(StreamRole::Subtitle, places[i].slot);
        if (input == nullptr) {
            continue;
        }
        std::unique_ptr<SubtitleTrack> track;
        int stream = -1;
        if (plan.copy) {
            stream = muxer_->AddCopiedStream(input);
        } else {
            std::string problem;
            track =
                std::make_unique<SubtitleTrack>(input, plan.codec, plan.charset, global, problem);
            if (track->encoder() == nullptr) {
                LogLine(Severity::Warning, "subtitles left out: %s", problem.c_str());
                continue;
            }
            stream = muxer_->AddStream(track->encoder());
        }
        if (stream >= 0) {
            muxer_->SetMetadata(stream, "language", plan.language);
            subtitles_[i] = std::make_unique<SubtitleOutput>(std::move(track), stream, *writer_);
        }
    }
}

// ---- the loop ---------------------------------------------------------------

Status Pass::DecodeVideo(const AVPacket* packet) {
    InputLane& lane = router_.main();
    return videoDecoder_.Decode(
        lane, lane.Stream(StreamRole::Video, 0), packet,
        [this](AVFrame* frame, int64_t durationUs) { return Picture(frame, durationUs); });
}

Status Pass::Picture(AVFrame* frame, int64_t durationUs) {
    const int64_t frameUs = av_rescale_q(1, av_inv_q(plan_.video.frameRate), AV_TIME_BASE_Q);
    if (frame->pts == AV_NOPTS_VALUE) {
        frame->pts = lastVideoPts_ == AV_NOPTS_VALUE ? 0 : lastVideoPts_ + frameUs;
    }
    lastVideoPts_ = frame->pts;
    for (VideoOutput* out : {main_.get(), trick_.get()}) {
        if (out == nullptr) {
            continue;
        }
        const Status pushed = out->Push(frame, durationUs > 0 ? durationUs : frameUs);
        if (!pushed.ok()) {
            return pushed;
        }
    }
    return {};
}

Status Pass::DecodeAudio(AudioTrack& track, const AVPacket* packet) {
    const StreamRouter::Place& place = router_.audio()[static_cast<size_t>(&track - &audio_[0])];
    InputLane& lane = router_.lane(place.lane);
    return track.decoder.Decode(lane, lane.Stream(StreamRole::Audio, place.slot), packet,
                                [&track](AVFrame* frame, int64_t durationUs) {
                                    return track.encoded->Push(frame, durationUs);
                                });
}

Status Pass::BurnPictures(InputLane& lane, const AVPacket* packet) {
    const StreamRouter::Place& burn = router_.burn();
    if (!burn_ || &lane != &router_.lane(burn.lane) || lane.slot() != burn.slot) {
        return {};
    }
    const AVStream* input = lane.Stream(StreamRole::Subtitle, burn.slot);
    if (input == nullptr) {
        return {};
    }
    const int64_t at = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
    std::string why;
    if (!burn_->Add(input, lane.FileIndex(), packet, lane.ToJoined(at, input->time_base), why)) {
        return {nvt::ENG_ERR, why};
    }
    return {};
}

Status Pass::OnPacket(size_t l) {
    InputLane& lane = router_.lane(l);
    const AVPacket* packet = lane.packet();
    switch (lane.role()) {
    case StreamRole::Video: {
        if (copiedVideo_) {
            const Status copied = copiedVideo_->Copy(lane, packet);
            if (!copied.ok()) {
                return copied;
            }
        }
        return main_ || trick_ ? DecodeVideo(packet) : Status();
    }
    case StreamRole::Audio:
        for (size_t i : router_.AudioOf(l, lane.slot())) {
            AudioTrack& track = audio_[i];
            const Status taken =
                track.copied ? track.copied->Copy(lane, packet) : DecodeAudio(track, packet);
            if (!taken.ok()) {
                return taken;
            }
        }
        return {};
    case StreamRole::Subtitle: {
        const Status burnt = BurnPictures(lane, packet);
        if (!burnt.ok()) {
            return burnt;
        }
        for (size_t i : router_.SubtitlesOf(l, lane.slot())) {
            if (subtitles_[i]) {
                const Status taken = subtitles_[i]->Take(lane, packet);
                if (!taken.ok()) {
                    return taken;
                }
            }
        }
        return {};
    }
    }
    return {};
}

Status Pass::OnFileEnd(size_t l) {
    InputLane& lane = router_.lane(l);
    if (l == 0 && (main_ || trick_)) {
        const Status ended = DecodeVideo(nullptr);
        if (!ended.ok()) {
            return ended;
        }
        if (videoDecoder_.packets() > 0 && videoDecoder_.frames() == 0) {
            return {nvt::ENG_DECODER, "the video of " + lane.File().path + " does not decode"};
        }
        videoDecoder_.Close();
    }
    for (size_t i = 0; i < audio_.size(); ++i) {
        AudioTrack& track = audio_[i];
        if (router_.audio()[i].lane == l && track.encoded) {
            const Status ended = DecodeAudio(track, nullptr);
            if (!ended.ok()) {
                return ended;
            }
            track.decoder.Close();
            track.encoded->Join();
        }
    }
    return {};
}

void Pass::Report(bool force) {
    const InputLane& main = router_.main();
    ProgressCounters counters;
    counters.fileNum =
        setup_.stageId == kStageAnalysisPass ? 1u : static_cast<unsigned>(main.File().source + 1);
    counters.file = main.File().path;
    counters.videoFrames = main_ ? main_->frames() : 0;
    counters.audioSamples = !audio_.empty() && audio_[0].encoded ? audio_[0].encoded->samples() : 0;
    counters.bytesWritten = muxer_->Size();
    // The joined timeline's place, or where its playing time is unknown (a
    // raw stream) the bytes read.
    const double total = plan_.durationKnown ? plan_.durationSeconds * AV_TIME_BASE
                                             : static_cast<double>(plan_.inputBytes);
    const double done = plan_.durationKnown ? static_cast<double>(main.Position())
                                            : static_cast<double>(main.BytesRead());
    double fraction = total > 0.0 ? std::min(1.0, done / total) : 0.0;
    // An encoder holds frames back (look-ahead, frame threads) and works
    // them off at its end, faster than the frames before, which also had to
    // be read and decoded. The progress weighs what the encoder gave out
    // beside what went in, so that the rate is not overstated early and the
    // flush at the end is counted.
    if (main_ && main_->frames() > 0) {
        const double out = fraction *
                           static_cast<double>(std::min(main_->packets(), main_->frames())) /
                           static_cast<double>(main_->frames());
        fraction = (1.0 - kEncodedShare) * fraction + kEncodedShare * out;
    } else if (main_) {
        fraction *= 1.0 - kEncodedShare;
    }
    progress_.Update(fraction, counters, force);
}

Status Pass::Loop() {
    for (;;) {
        if (stop_.StopRequested()) {
            return {nvt::Aborted, "stopped"};
        }
        size_t next = 0;
        if (!router_.Next(next)) {
            return {};
        }
        InputLane& lane = router_.lane(next);
        Status step;
        switch (lane.Next()) {
        case InputLane::Step::Packet:
            step = OnPacket(next);
            break;
        case InputLane::Step::FileEnd:
            step = OnFileEnd(next);
            break;
        case InputLane::Step::End:
            router_.Ended(next);
            break;
        case InputLane::Step::Failed:
            return {lane.error(), lane.why()};
        }
        if (!step.ok()) {
            return stop_.StopRequested() ? Status{nvt::Aborted, "stopped"} : step;
        }
        Report(false);
    }
}

Status Pass::Flush() {
    for (VideoOutput* out : {main_.get(), trick_.get()}) {
        const Status flushed = out != nullptr ? out->Flush() : Status();
        if (!flushed.ok()) {
            return flushed;
        }
    }
    for (AudioTrack& track : audio_) {
        const Status flushed = track.encoded ? track.encoded->Flush() : Status();
        if (!flushed.ok()) {
            return flushed;
        }
    }
    for (const auto& out : subtitles_) {
        const Status flushed = out ? out->Flush() : Status();
        if (!flushed.ok()) {
            return flushed;
        }
    }
    std::string why;
    if (!muxer_->Finish(why)) {
        return {nvt::ENG_WRITING_ERROR, why};
    }
    return {};
}

// ---- the whole pass ---------------------------------------------------------

void Pass::Figures(PassFigures& figures) const {
    figures.size = muxer_->Size();
    const int video = main_ ? main_->stream() : copiedVideo_->stream();
    figures.videoBytes = muxer_->PayloadBytes(video);
    figures.videoFrames = main_ ? main_->frames() : 0;
    std::vector<int> all = {video};
    if (trick_) {
        all.push_back(trick_->stream());
    }
    for (const AudioTrack& track : audio_) {
        figures.audioBytes += muxer_->PayloadBytes(track.stream());
        all.push_back(track.stream());
    }
    for (const auto& out : subtitles_) {
        if (out) {
            all.push_back(out->stream());
        }
    }
    for (int s : all) {
        figures.payload += muxer_->PayloadBytes(s);
        figures.packets += muxer_->Packets(s);
    }
    figures.seconds = figures.videoFrames > 0 ? figures.videoFrames / av_q2d(plan_.video.frameRate)
                                              : plan_.durationSeconds;
}

Status Pass::Run(PassFigures& figures) {
    Status result = router_.Open(plan_, setup_.complete, files_);
    if (result.ok()) {
        result = OpenOutputs();
    }
    if (result.ok()) {
        LogLine(Severity::Info, "pass %u: writing %s at %lld bit/s", setup_.stage + 1,
                setup_.outputPath.empty() ? "statistics" : setup_.outputPath.c_str(),
                static_cast<long long>(setup_.videoBitrate));
        progress_.BeginStage(setup_.stage, setup_.stageId);
        Report(true);
        result = Loop();
    }
    if (result.ok()) {
        result = Flush();
    }
    if (!result.ok()) {
        return result;
    }
    Report(true);
    Figures(figures);
    return {};
}

} // namespace

Status RunPass(const TranscodePlan& plan, const PassSetup& setup, OpenedFiles& files,
               ProgressMeter& progress, PassFigures& figures) {
    Pass pass(plan, setup, files, progress);
    return pass.Run(figures);
}

} // namespace norv_engine
