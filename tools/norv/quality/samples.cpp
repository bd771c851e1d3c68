#include "quality/samples.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include "common/console.h"
#include "common/library.h"
#include "quality/filter_graph.h"
#include "quality/frame_reader.h"

namespace norv {

namespace {

// The stretch searched for a cut around each sample's place: two samples
// long, at least two seconds.
constexpr double kWindowSamples = 2.0;
constexpr double kWindowLeast = 2.0;
// Samples covering less of the title than this take one at its hardest
// stretch.
constexpr double kSparseCover = 0.1;

// The frames from the keyframe at or before from up to to seconds of a
// file, with their scene-change scores.
std::vector<SeenFrame> ScanWindow(FrameReader& reader, double from, double to) {
    std::vector<SeenFrame> seen;
    reader.SeekTo(from, true);
    const AVStream& s = reader.stream();
    PictureFormat format;
    format.width = s.codecpar->width;
    format.height = s.codecpar->height;
    format.pixelFormat = s.codecpar->format;
    format.timeBase = s.time_base;
    format.sampleAspect = s.codecpar->sample_aspect_ratio;
    std::unique_ptr<FilterGraph> graph;
    const FramePtr frame(av_frame_alloc()), scored(av_frame_alloc());
    std::vector<bool> keys; // by frame, in the order pushed (the graph keeps it)
    auto drain = [&] {
        while (graph && graph->Pull(0, scored.get())) {
            const size_t n = seen.size();
            seen.push_back(SeenFrame{scored->pts, FrameValue(scored.get(), "lavfi.scd.score", 0),
                                     n < keys.size() && keys[n]});
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
        keys.push_back(frame->key_frame != 0);
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

// Where the demuxer's index shows keyframes further apart than a sample is
// long, a search for cuts would decode from the keyframe before its window,
// and a cut far past its keyframe is not taken anyway (see ChooseStart): the
// sample starts at the indexed keyframe in [lowest, latest] nearest wanted
// (seconds, the file's timestamps). Its first picture's timestamp, or none
// where the index is missing, dense or has no keyframe there.
std::optional<int64_t> SparseKeyframe(FrameReader& reader, double lowest, double latest,
                                      double wanted, double length) {
    const std::vector<double> keys = reader.IndexedKeyframes();
    if (!SparseKeyframes(keys, length)) {
        return std::nullopt;
    }
    // An index may list a keyframe by its decoding time, a little before
    // the picture's own.
    constexpr double kEarly = 0.5;
    std::optional<double> nearest;
    for (double t : keys) {
        if (t >= lowest - kEarly && t <= latest &&
            (!nearest || std::abs(t - wanted) < std::abs(*nearest - wanted))) {
            nearest = t;
        }
    }
    if (!nearest) {
        return std::nullopt;
    }
    // Sought by the index's own time, a picture timed a little after it
    // would leave the seek at the keyframe before.
    reader.SeekTo(*nearest + kEarly, true);
    const FramePtr frame(av_frame_alloc());
    if (!frame || !reader.Next(frame.get()) || frame->key_frame == 0 ||
        frame->pts == AV_NOPTS_VALUE) {
        return std::nullopt;
    }
    const double at = reader.Seconds(frame->pts);
    if (at < lowest - kSameTime || at > latest + kSameTime) {
        return std::nullopt;
    }
    return frame->pts;
}

// The title's files as their containers code them.
std::vector<CodedFile> ReadCodedFiles(const std::vector<TitleFile>& title, const StopCheck& stop) {
    std::vector<CodedFile> files;
    double before = 0;
    for (const TitleFile& f : title) {
        if (StopRequested(stop)) {
            throw Failure("cancelled while probing", nvt::Aborted);
        }
        FrameReader reader(f.path);
        CodedFile coded;
        coded.pictures = reader.CodedPictures();
        coded.origin = reader.StartSeconds();
        coded.before = before;
        coded.seconds = f.seconds;
        files.push_back(std::move(coded));
        before += f.seconds;
    }
    return files;
}

} // namespace

std::vector<Sample> PlaceSamples(const std::vector<TitleFile>& title, const SampleSchedule& planned,
                                 const std::function<void(double)>& progress,
                                 const StopCheck& stop) {
    double total = 0;
    for (const TitleFile& f : title) {
        total += f.seconds;
    }
    std::vector<Sample> samples;
    if (planned.count == 0 || total <= 0) {
        return samples;
    }
    // Samples that cover a quarter of a title see its range; a few seconds
    // of a long one may miss its hardest stretch, which its worst frames
    // come from, and one sample is taken there. (Taken on short titles too,
    // it judged the worst frames by the worst of all and overshot their
    // targets.)
    SampleSchedule schedule = planned;
    std::optional<double> hardest;
    if (schedule.count * schedule.seconds < kSparseCover * total) {
        hardest = HardestStretch(ReadCodedFiles(title, stop), std::min(schedule.seconds, total));
    } else if (title.size() == 1) {
        // Samples of sparse keyframes start at them: a few keyframes more
        // than samples would leave the pictures after one unseen.
        schedule = SpreadOverKeyframes(schedule, FrameReader(title[0].path).IndexedKeyframes());
    }
    const double stratum = total / schedule.count;
    const double hardAt = hardest.value_or(0);
    const unsigned hardStratum =
        hardest ? std::min(schedule.count - 1, static_cast<unsigned>(hardAt / stratum))
                : schedule.count;
    size_t hardIndex = schedule.count; // of the samples placed
    for (unsigned k = 0; k < schedule.count; ++k) {
        if (StopRequested(stop)) {
            throw Failure("cancelled while probing", nvt::Aborted);
        }
        progress(static_cast<double>(k) / schedule.count);
        // The file holding the sample's middle, and the stratum in it.
        const bool hard = k == hardStratum;
        const double middle = hard ? hardAt + schedule.seconds / 2 : (k + 0.5) * stratum;
        size_t file = 0;
        double before = 0;
        while (file + 1 < title.size() && before + title[file].seconds <= middle) {
            before += title[file].seconds;
            ++file;
        }
        FrameReader reader(title[file].path);
        reader.Rough();
        const double origin = reader.StartSeconds();
        const double length = std::min(schedule.seconds, title[file].seconds);
        const double lowest = std::max(k * stratum, before) - before;
        const double highest = std::min((k + 1) * stratum, before + title[file].seconds) - before;
        // Where the start is looked for: around the stratum's middle, or no
        // further than half a sample from the hardest stretch's start.
        const double window = hard ? length : std::max(kWindowLeast, kWindowSamples * length);
        const double around = (hard ? hardAt : middle) - before;
        const double from = std::max(lowest, around - window / 2);
        const double to = std::min(highest, from + window);
        const AVRational rate = reader.frameRate();
        const unsigned frames =
            std::max(1u, static_cast<unsigned>(std::lround(length * av_q2d(rate))));
        const double wanted = origin + middle - before - length / 2;
        Sample sample;
        sample.file = file;
        if (const std::optional<int64_t> key =
                SparseKeyframe(reader, origin + (hard ? from : lowest),
                               origin + (hard ? to : highest - length), wanted, length)) {
            sample.startUs = av_rescale_q(*key, reader.stream().time_base, AV_TIME_BASE_Q);
            sample.frames = frames;
            sample.seconds = frames / av_q2d(rate);
            hardIndex = hard ? samples.size() : hardIndex;
            samples.push_back(sample);
            continue;
        }
        const std::vector<SeenFrame> seen = ScanWindow(reader, origin + from, origin + to + length);
        if (seen.empty()) {
            continue;
        }
        // The latest frame a sample can start at and still have its frames.
        const size_t lastStart = seen.size() > frames ? seen.size() - frames : 0;
        bool atCut = false;
        const size_t chosen = ChooseStart(
            seen, lastStart, frames,
            [&](size_t i) {
                const double at = reader.Seconds(seen[i].pts) - origin;
                return at < (hard ? from : lowest) - kSameTime ? Reach::Before
                       : at > to                               ? Reach::After
                                                               : Reach::In;
            },
            [&](size_t i) { return std::abs(reader.Seconds(seen[i].pts) - wanted); }, atCut);
        sample.startUs = av_rescale_q(seen[chosen].pts, reader.stream().time_base, AV_TIME_BASE_Q);
        sample.frames = static_cast<unsigned>(std::min<size_t>(frames, seen.size() - chosen));
        sample.seconds = sample.frames / av_q2d(rate);
        sample.atCut = atCut;
        hardIndex = hard ? samples.size() : hardIndex;
        samples.push_back(sample);
    }
    // The hardest stretch stands for itself: its pictures are rare in the
    // title. Counted as a share, its worst frame alone judged the title's
    // worst 1 %, and camera footage a minute long came out up to 0.018 above
    // its target.
    const bool hardAside = hardIndex < samples.size() && samples.size() > 1;
    const double hardSeconds = hardAside ? samples[hardIndex].seconds : 0;
    const size_t others = samples.size() - (hardAside ? 1 : 0);
    for (size_t i = 0; i < samples.size(); ++i) {
        samples[i].stands =
            hardAside && i == hardIndex ? hardSeconds : (total - hardSeconds) / others;
    }
    progress(1.0);
    return samples;
}

} // namespace norv
