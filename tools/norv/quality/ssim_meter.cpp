#include "quality/ssim_meter.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "common/console.h"
#include "common/library.h"
#include "picture_colour.h"
#include "picture_place.h"
#include "platform/thread_priority.h"
#include "quality/filter_graph.h"
#include "quality/frame_reader.h"

extern "C" {
#include <libavutil/imgutils.h>
}

namespace norv {

namespace {

// A position in the joined encode: the sample and the frame in it.
struct Place {
    size_t sample = 0;
    int64_t frame = 0;
    bool operator<(const Place& o) const {
        return sample != o.sample ? sample < o.sample : frame < o.frame;
    }
    bool operator==(const Place& o) const { return sample == o.sample && frame == o.frame; }
};

// The priority index of the thread that decodes ahead: the lowest.
constexpr int32_t kLowestPriority = 0;

// Frames of a sample apart in the comparing graph's timeline.
constexpr int64_t kSampleStride = 100000000;

std::string RateText(AVRational r) {
    return std::to_string(r.num) + "/" + std::to_string(r.den);
}

const char* RangeName(AVColorRange range) {
    return range == AVCOL_RANGE_JPEG ? "pc" : "tv";
}

// The source's pictures of one sample, made into the output's picture.
class ReferenceSample {
public:
    /// decoded: the sample's source pictures where they were decoded ahead
    /// (taken over), else empty.
    ReferenceSample(const TitleFile& file, const Sample& sample, const PictureSetup& setup,
                    int width, int height, AVRational rate, const AVCodecParameters& output,
                    std::vector<AVFrame*> decoded)
        : reader_(file.path), sample_(sample), setup_(setup), width_(width), height_(height),
          rate_(rate), output_(output), frame_(av_frame_alloc()), decoded_(std::move(decoded)) {
        if (decoded_.empty()) {
            reader_.SeekTo(sample.startUs / 1e6);
        }
        start_ = av_rescale_q(sample.startUs, AV_TIME_BASE_Q, reader_.stream().time_base);
    }
    ~ReferenceSample() { FreeFrames(decoded_); }
    ReferenceSample(const ReferenceSample&) = delete;
    ReferenceSample& operator=(const ReferenceSample&) = delete;

    /// The next reference picture and its frame number in the sample.
    bool Next(AVFrame* out, int64_t& index) {
        for (;;) {
            if (graph_ && graph_->Pull(0, out)) {
                index = out->pts;
                return true;
            }
            if (ended_) {
                return false;
            }
            if (pushed_ >= sample_.frames || !NextSource(frame_.get())) {
                ended_ = true;
                if (graph_) {
                    graph_->End(0, end_);
                }
                continue;
            }
            if (!graph_) {
                Build(frame_.get());
            }
            frame_->pts -= start_;
            // Where this frame ends: its own duration, else one frame at the
            // stream's rate.
            const int64_t lasts =
                frame_->pkt_duration > 0
                    ? frame_->pkt_duration
                    : av_rescale_q(1, av_inv_q(reader_.frameRate()), reader_.stream().time_base);
            end_ = std::max(end_, frame_->pts + std::max<int64_t>(1, lasts));
            graph_->Push(0, frame_.get());
            av_frame_unref(frame_.get());
            ++pushed_;
        }
    }

private:
    bool NextSource(AVFrame* frame) {
        if (decoded_.empty()) {
            return reader_.Next(frame);
        }
        if (next_ >= decoded_.size()) {
            return false;
        }
        av_frame_move_ref(frame, decoded_[next_]);
        av_frame_free(&decoded_[next_++]);
        return true;
    }

    void Build(const AVFrame* first) {
        const AVStream& s = reader_.stream();
        const norv_engine::PictureColour source = norv_engine::SourceColour(
            first->color_primaries, first->color_trc, first->colorspace, first->color_range,
            first->format, first->width, first->height, reader_.frameRate());
        if (norv_engine::IsWideGamut(source)) {
            throw Failure("the quality of wide-gamut and high-dynamic-range pictures is not "
                          "measured: give a video bitrate instead",
                          nvt::InvalidArgument);
        }
        std::string chain =
            "[in0]bwdif=mode=send_frame:parity=auto:deint=interlaced,fps=fps=" + RateText(rate_) +
            ":start_time=0";
        const int w = first->width - setup_.cropLeft - setup_.cropRight;
        const int h = first->height - setup_.cropTop - setup_.cropBottom;
        if (setup_.cropLeft + setup_.cropRight + setup_.cropTop + setup_.cropBottom > 0 && w > 0 &&
            h > 0) {
            chain += ",crop=w=" + std::to_string(w) + ":h=" + std::to_string(h) +
                     ":x=" + std::to_string(setup_.cropLeft) +
                     ":y=" + std::to_string(setup_.cropTop) + ":exact=1";
        }
        chain += setup_.flipHorizontal ? ",hflip" : "";
        chain += setup_.flipVertical ? ",vflip" : "";
        const int turns = ((setup_.quarterTurns % 4) + 4) % 4;
        chain += turns == 1   ? ",transpose=dir=clock"
                 : turns == 2 ? ",hflip,vflip"
                 : turns == 3 ? ",transpose=dir=cclock"
                              : "";
        const AVColorSpace outMatrix =
            output_.color_space != AVCOL_SPC_UNSPECIFIED ? output_.color_space : source.matrix;
        const bool cropped = w > 0 && h > 0;
        const AVRational frameAspect =
            first->sample_aspect_ratio.num > 0 ? first->sample_aspect_ratio : AVRational{1, 1};
        const AVRational outputAspect =
            output_.sample_aspect_ratio.num > 0 ? output_.sample_aspect_ratio : AVRational{1, 1};
        const norv_engine::PicturePlace place = norv_engine::PlacePicture(
            cropped ? w : first->width, cropped ? h : first->height, frameAspect,
            setup_.quarterTurns, width_, height_, outputAspect, setup_.keepAspect);
        chain += ",scale=w=" + std::to_string(place.width) + ":h=" + std::to_string(place.height) +
                 ":flags=bicubic:in_color_matrix=" + norv_engine::ScaleMatrixName(source.matrix) +
                 ":out_color_matrix=" + norv_engine::ScaleMatrixName(outMatrix) +
                 ":in_range=" + RangeName(source.range) +
                 ":out_range=" + RangeName(output_.color_range);
        if (place.width != width_ || place.height != height_) {
            chain += ",pad=w=" + std::to_string(width_) + ":h=" + std::to_string(height_) +
                     ":x=" + std::to_string(place.x) + ":y=" + std::to_string(place.y) +
                     ":color=black";
        }
        chain += ",format=yuv420p,setsar=1[out0]";
        PictureFormat format;
        format.width = first->width;
        format.height = first->height;
        format.pixelFormat = first->format;
        format.timeBase = s.time_base;
        format.sampleAspect = first->sample_aspect_ratio;
        graph_ = std::make_unique<FilterGraph>(std::vector<PictureFormat>{format}, 1, chain);
    }

    FrameReader reader_;
    Sample sample_;
    PictureSetup setup_;
    int width_, height_;
    AVRational rate_;
    const AVCodecParameters& output_;
    FramePtr frame_;
    std::unique_ptr<FilterGraph> graph_;
    int64_t start_ = 0;
    int64_t end_ = 0; ///< where the last frame pushed ends
    unsigned pushed_ = 0;
    bool ended_ = false;
    std::vector<AVFrame*> decoded_; ///< from next_ on: not yet read
    size_t next_ = 0;
};

// Frees the pictures a list of samples' pictures still holds.
struct SamplesPictures {
    std::vector<std::vector<AVFrame*>> samples;
    ~SamplesPictures() {
        for (std::vector<AVFrame*>& frames : samples) {
            FreeFrames(frames);
        }
    }
    std::vector<AVFrame*> Take(size_t k) {
        return k < samples.size() ? std::move(samples[k]) : std::vector<AVFrame*>();
    }
};

size_t PictureBytes(const AVFrame& f) {
    return static_cast<size_t>(std::max(
        0, av_image_get_buffer_size(static_cast<AVPixelFormat>(f.format), f.width, f.height, 1)));
}

} // namespace

void FreeFrames(std::vector<AVFrame*>& frames) {
    for (AVFrame*& f : frames) {
        av_frame_free(&f);
    }
    frames.clear();
}

ReferenceFrames::~ReferenceFrames() {
    abandon_ = true;
    if (ahead_.joinable()) {
        ahead_.join();
    }
    for (std::vector<AVFrame*>& sample : decoded_) {
        FreeFrames(sample);
    }
    for (std::vector<AVFrame*>& sample : kept_) {
        FreeFrames(sample);
    }
}

void ReferenceFrames::DecodeAhead(const std::vector<TitleFile>& title,
                                  const std::vector<Sample>& samples) {
    if (ahead_.joinable() || !decoded_.empty()) {
        return;
    }
    std::vector<bool> wanted(samples.size(), true);
    for (size_t k = 0; k < samples.size() && k < kept_.size(); ++k) {
        wanted[k] = kept_[k].empty();
    }
    if (std::find(wanted.begin(), wanted.end(), true) == wanted.end()) {
        return;
    }
    const size_t room = cap_ > bytes_ ? cap_ - bytes_ : 0;
    abandon_ = false;
    ahead_ = std::thread([this, title, samples, wanted, room] {
        // The encode beside it comes first: this takes what it leaves.
        NorvOS::ApplyCurrentThreadPriority(kLowestPriority);
        SamplesPictures decoded;
        decoded.samples.resize(samples.size());
        size_t bytes = 0;
        for (size_t k = 0; k < samples.size() && !abandon_; ++k) {
            if (!wanted[k] || samples[k].file >= title.size()) {
                continue;
            }
            std::vector<AVFrame*>& frames = decoded.samples[k];
            bool whole = true;
            try {
                FrameReader reader(title[samples[k].file].path);
                reader.SeekTo(samples[k].startUs / 1e6);
                while (whole && frames.size() < samples[k].frames) {
                    FramePtr frame(av_frame_alloc());
                    if (!frame || abandon_) {
                        whole = false;
                    } else if (!reader.Next(frame.get())) {
                        break; // the file ends inside the sample: it is whole
                    } else if (bytes + PictureBytes(*frame) > room) {
                        whole = false;
                    } else {
                        bytes += PictureBytes(*frame);
                        frames.push_back(frame.release());
                    }
                }
            } catch (...) {
                whole = false; // the measurement reads it again, and says why
            }
            if (!whole) {
                FreeFrames(frames);
                break;
            }
        }
        decoded_ = std::move(decoded.samples);
        decoded.samples.clear();
    });
}

std::vector<std::vector<AVFrame*>> ReferenceFrames::TakeDecoded() {
    if (ahead_.joinable()) {
        ahead_.join();
    }
    std::vector<std::vector<AVFrame*>> taken = std::move(decoded_);
    decoded_.clear();
    return taken;
}

FrameScores MeasureEncode(const std::vector<TitleFile>& title, const std::vector<Sample>& samples,
                          const std::string& encoded, const PictureSetup& setup,
                          const std::function<void(double)>& progress, bool underGrain,
                          ReferenceFrames* keep, const StopCheck& stop) {
    FrameScores scores;
    FrameReader distorted(encoded);
    const AVStream& out = distorted.stream();
    const AVRational rate = distorted.frameRate();
    const int width = out.codecpar->width, height = out.codecpar->height;
    const double origin = distorted.StartSeconds();
    std::vector<double> offsets;
    double expected = 0, at = 0;
    for (const Sample& s : samples) {
        offsets.push_back(at);
        at += s.seconds;
        expected += s.seconds * av_q2d(rate);
    }
    PictureFormat format;
    format.width = width;
    format.height = height;
    format.timeBase = av_inv_q(rate);
    format.pixelFormat = out.codecpar->format;
    PictureFormat reference = format;
    reference.pixelFormat = AV_PIX_FMT_YUV420P;
    FilterGraph compare(
        {format, reference}, underGrain ? 2 : 1,
        underGrain ? "[in0]format=yuv420p,setsar=1,split[d1][d2];[in1]split[r1][r2];"
                     "[d1][r1]ssim[out0];[d2]scale=w=iw/2:h=ih/2:flags=area,gblur=sigma=1[db];"
                     "[r2]scale=w=iw/2:h=ih/2:flags=area,gblur=sigma=1[rb];[db][rb]ssim[out1]"
                   : "[in0]format=yuv420p,setsar=1[d1];[d1][in1]ssim[out0]");
    const FramePtr result(av_frame_alloc());
    auto drain = [&] {
        while (compare.Pull(0, result.get())) {
            scores.plain.push_back(FrameValue(result.get(), "lavfi.ssim.All", 0));
            av_frame_unref(result.get());
        }
        while (underGrain && compare.Pull(1, result.get())) {
            scores.underGrain.push_back(FrameValue(result.get(), "lavfi.ssim.All", 0));
            av_frame_unref(result.get());
        }
    };
    SamplesPictures decoded;
    if (keep != nullptr) {
        decoded.samples = keep->TakeDecoded();
        if (keep->kept_.size() != samples.size()) {
            keep->kept_.resize(samples.size());
        }
    }
    const size_t frameBytes = static_cast<size_t>(
        std::max(0, av_image_get_buffer_size(AV_PIX_FMT_YUV420P, width, height, 1)));

    // Where a frame of the encode belongs: the sample whose stretch of the
    // joined timeline holds it, and its frame number there.
    const double half = 0.5 / av_q2d(rate);
    auto placeOf = [&](const AVFrame* f) {
        const double t = distorted.Seconds(f->pts) - origin;
        Place p;
        while (p.sample + 1 < samples.size() && offsets[p.sample + 1] - half <= t) {
            ++p.sample;
        }
        p.frame = std::lround((t - offsets[p.sample]) * av_q2d(rate));
        return p;
    };

    const FramePtr dist(av_frame_alloc()), ref(av_frame_alloc());
    bool haveDist = distorted.Next(dist.get());
    Place distAt = haveDist ? placeOf(dist.get()) : Place();
    bool stopped = false;
    for (size_t k = 0; k < samples.size() && haveDist && !stopped; ++k) {
        std::vector<AVFrame*>* kept = keep != nullptr ? &keep->kept_[k] : nullptr;
        const bool fromKept = kept != nullptr && !kept->empty();
        bool keeping = kept != nullptr && !fromKept;
        std::vector<AVFrame*> keeps;
        std::unique_ptr<ReferenceSample> source;
        if (!fromKept) {
            source =
                std::make_unique<ReferenceSample>(title[samples[k].file], samples[k], setup, width,
                                                  height, rate, *out.codecpar, decoded.Take(k));
        }
        size_t next = 0;
        auto nextReference = [&](AVFrame* frame, int64_t& index) {
            if (!fromKept) {
                return source->Next(frame, index);
            }
            if (next >= kept->size() || av_frame_ref(frame, (*kept)[next++]) < 0) {
                return false;
            }
            index = frame->pts;
            return true;
        };
        int64_t index = 0;
        bool exhausted = false;
        while (haveDist && !(stopped = StopRequested(stop))) {
            if (!nextReference(ref.get(), index)) {
                exhausted = true;
                break;
            }
            if (keeping) {
                if (keep->bytes_ + frameBytes > keep->cap_) {
                    keeping = false;
                } else if (AVFrame* copy = av_frame_clone(ref.get())) {
                    keeps.push_back(copy);
                    keep->bytes_ += frameBytes;
                }
            }
            const Place refAt{k, index};
            while (haveDist && distAt < refAt) {
                av_frame_unref(dist.get());
                haveDist = distorted.Next(dist.get());
                distAt = haveDist ? placeOf(dist.get()) : Place();
            }
            if (haveDist && distAt == refAt) {
                scores.sample.push_back(k);
                scores.intra.push_back(dist->pict_type == AV_PICTURE_TYPE_I);
                dist->pts = ref->pts = static_cast<int64_t>(k) * kSampleStride + index;
                compare.Push(0, dist.get());
                compare.Push(1, ref.get());
                drain();
                if (expected > 0) {
                    progress(std::min(1.0, scores.plain.size() / expected));
                }
            }
            av_frame_unref(ref.get());
        }
        // Only a sample read to its end is kept.
        const bool whole = keeping && exhausted;
        for (AVFrame*& f : keeps) {
            if (whole) {
                kept->push_back(f);
            } else {
                keep->bytes_ -= frameBytes;
                av_frame_free(&f);
            }
        }
    }
    if (stopped) {
        throw Failure("cancelled while measuring", nvt::Aborted);
    }
    compare.Push(0, nullptr);
    compare.Push(1, nullptr);
    drain();
    if (scores.plain.empty()) {
        throw Failure(encoded + ": no picture of it could be compared with the source",
                      nvt::ENG_ERR);
    }
    if (!underGrain) {
        scores.underGrain = scores.plain;
    }
    return scores;
}

std::vector<Sample> WholeTitle(const std::vector<TitleFile>& title) {
    std::vector<Sample> samples;
    for (size_t i = 0; i < title.size(); ++i) {
        FrameReader reader(title[i].path);
        const AVStream& s = reader.stream();
        Sample whole;
        whole.file = i;
        whole.startUs = s.start_time != AV_NOPTS_VALUE
                            ? av_rescale_q(s.start_time, s.time_base, AV_TIME_BASE_Q)
                            : 0;
        whole.frames = ~0u;
        whole.seconds = title[i].seconds;
        samples.push_back(whole);
    }
    return samples;
}

VideoSize MeasureVideoSize(const std::string& path) {
    FormatContextPtr format;
    AVFormatContext* raw = nullptr;
    const int opened = avformat_open_input(&raw, path.c_str(), nullptr, nullptr);
    format.reset(raw);
    if (opened < 0 || avformat_find_stream_info(format.get(), nullptr) < 0) {
        throw Failure(path + ": cannot be read", nvt::ENG_UNSUPPORTED_FILE_TYPE);
    }
    const int index = av_find_best_stream(format.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    VideoSize size;
    if (index < 0) {
        return size;
    }
    const PacketPtr packet(av_packet_alloc());
    int64_t first = AV_NOPTS_VALUE, last = AV_NOPTS_VALUE;
    while (av_read_frame(format.get(), packet.get()) >= 0) {
        if (packet->stream_index == index) {
            size.bytes += static_cast<uint64_t>(packet->size);
            if ((packet->flags & AV_PKT_FLAG_KEY) != 0) {
                size.keyBytes += static_cast<uint64_t>(packet->size);
                ++size.keyframes;
            }
            if (packet->pts != AV_NOPTS_VALUE) {
                const int64_t end = packet->pts + std::max<int64_t>(0, packet->duration);
                first = first == AV_NOPTS_VALUE ? packet->pts : std::min(first, packet->pts);
                last = last == AV_NOPTS_VALUE ? end : std::max(last, end);
            }
        }
        av_packet_unref(packet.get());
    }
    if (first != AV_NOPTS_VALUE) {
        size.seconds = (last - first) * av_q2d(format->streams[index]->time_base);
    }
    return size;
}

} // namespace norv
