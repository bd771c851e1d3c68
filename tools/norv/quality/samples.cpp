#include "quality/samples.h"

#include <algorithm>
#include <cmath>

#include "common/console.h"
#include "common/library.h"
#include "quality/filter_graph.h"
#include "quality/frame_reader.h"

namespace norv {

namespace {

// scdet's score (0..100) from which a change of picture counts as a cut:
// its own default threshold.
constexpr double kCutScore = 10.0;
// The stretch searched for a cut around each sample's place: two samples
// long, at least two seconds.
constexpr double kWindowSamples = 2.0;
constexpr double kWindowLeast = 2.0;

struct Seen {
    int64_t pts = 0;
    double score = 0;
};

// The frames of [from, to) seconds of a file with their scene-change scores.
std::vector<Seen> ScanWindow(FrameReader& reader, double from, double to) {
    std::vector<Seen> seen;
    reader.SeekTo(from);
    const AVStream& s = reader.stream();
    PictureFormat format;
    format.width = s.codecpar->width;
    format.height = s.codecpar->height;
    format.pixelFormat = s.codecpar->format;
    format.timeBase = s.time_base;
    format.sampleAspect = s.codecpar->sample_aspect_ratio;
    std::unique_ptr<FilterGraph> graph;
    const FramePtr frame(av_frame_alloc()), scored(av_frame_alloc());
    auto drain = [&] {
        while (graph && graph->Pull(0, scored.get())) {
            seen.push_back(Seen{scored->pts, FrameValue(scored.get(), "lavfi.scd.score", 0)});
            av_frame_unref(scored.get());
        }
    };
    while (reader.Next(frame.get())) {
        if (reader.Seconds(frame->pts) >= to) {
            av_frame_unref(frame.get());
            break;
        }
        if (!graph) {
            format.width = frame->width;
            format.height = frame->height;
            format.pixelFormat = frame->format;
            graph = std::make_unique<FilterGraph>(
                std::vector<PictureFormat>{format}, 1,
                "[in0]scale=w=192:h=108:flags=fast_bilinear,format=yuv420p,scdet=threshold=100,"
                "setpts=PTS[out0]");
        }
        graph->Push(0, frame.get());
        av_frame_unref(frame.get());
        drain();
    }
    if (graph) {
        graph->Push(0, nullptr);
        drain();
    }
    return seen;
}

} // namespace

std::vector<Sample> PlaceSamples(const std::vector<TitleFile>& title,
                                 const SampleSchedule& schedule,
                                 const std::function<void(double)>& progress) {
    double total = 0;
    for (const TitleFile& f : title) {
        total += f.seconds;
    }
    std::vector<Sample> samples;
    if (schedule.count == 0 || total <= 0) {
        return samples;
    }
    const double stratum = total / schedule.count;
    for (unsigned k = 0; k < schedule.count; ++k) {
        if (InterruptRequested()) {
            throw Failure("cancelled while probing", nvt::Aborted);
        }
        progress(static_cast<double>(k) / schedule.count);
        // The file holding the stratum's middle, and the stratum in it.
        const double middle = (k + 0.5) * stratum;
        size_t file = 0;
        double before = 0;
        while (file + 1 < title.size() && before + title[file].seconds <= middle) {
            before += title[file].seconds;
            ++file;
        }
        FrameReader reader(title[file].path);
        reader.Rough();
        const double origin = reader.stream().start_time != AV_NOPTS_VALUE
                                  ? reader.Seconds(reader.stream().start_time)
                                  : 0.0;
        const double length = std::min(schedule.seconds, title[file].seconds);
        const double lowest = std::max(k * stratum, before) - before;
        const double highest = std::min((k + 1) * stratum, before + title[file].seconds) - before;
        const double window = std::max(kWindowLeast, kWindowSamples * length);
        const double from = std::max(lowest, middle - before - window / 2);
        const double to = std::min(highest, from + window);
        const std::vector<Seen> seen = ScanWindow(reader, origin + from, origin + to + length);
        if (seen.empty()) {
            continue;
        }
        const AVRational rate = reader.frameRate();
        const unsigned frames =
            std::max(1u, static_cast<unsigned>(std::lround(length * av_q2d(rate))));
        // The latest frame a sample can start at and still have its frames.
        const size_t lastStart = seen.size() > frames ? seen.size() - frames : 0;
        size_t chosen = 0;
        double best = -1, nearest = 1e300;
        bool atCut = false;
        const double wanted = origin + middle - before - length / 2;
        for (size_t i = 0; i <= lastStart; ++i) {
            const double at = reader.Seconds(seen[i].pts);
            if (at - origin > to) {
                break;
            }
            if (i > 0 && seen[i].score >= kCutScore && seen[i].score > best) {
                best = seen[i].score;
                chosen = i;
                atCut = true;
            }
            if (!atCut && std::abs(at - wanted) < nearest) {
                nearest = std::abs(at - wanted);
                chosen = i;
            }
        }
        Sample sample;
        sample.file = file;
        sample.startUs = av_rescale_q(seen[chosen].pts, reader.stream().time_base, AV_TIME_BASE_Q);
        sample.frames = static_cast<unsigned>(std::min<size_t>(frames, seen.size() - chosen));
        sample.seconds = sample.frames / av_q2d(rate);
        sample.atCut = atCut;
        samples.push_back(sample);
    }
    progress(1.0);
    return samples;
}

} // namespace norv
