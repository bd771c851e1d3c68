// The short stretches of a title that the probe encodes: how many and how
// long for a title's length, and where: one in each even share of the
// title, at its middle, save (where the samples cover little of a long
// title) in the share holding the title's hardest stretch, whose sample is
// taken there (a title's worst frames are what its target is judged by);
// each started at a scene cut near its place where there is one (FFmpeg's
// scdet on a small copy of the pictures around it), so that the samples
// come from different shots.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/console.h"

namespace norv {

/// Timestamps this close (seconds) count as the same time.
constexpr double kSameTime = 1e-3;

/// How much of a title the probe encodes.
struct SampleSchedule {
    unsigned count = 0;
    double seconds = 0; ///< each
};

/// Titles of a minute or more: about 3.5 % of the title (at least 2.4 s, at
/// most two minutes) in samples of about 2 s, so that the probe's encodes
/// stay inside 15 % of the title's; shorter ones: a quarter of the title (at
/// least 2 s), in samples of about 1.5 s.
SampleSchedule ScheduleFor(double titleSeconds);

/// One file of a title, as the probe reads it.
struct TitleFile {
    std::string path;
    double seconds = 0; ///< playing time
};

struct Sample {
    size_t file = 0;     ///< index into the title's files
    int64_t startUs = 0; ///< the first frame's timestamp in the file, microseconds
    unsigned frames = 0; ///< frames of the source it spans
    double seconds = 0;  ///< frames over the source's frame rate
    bool atCut = false;  ///< starts at a scene cut
    /// Seconds of the title it stands for: its share, or, taken at the
    /// hardest stretch, its own length (the rest share the remainder).
    double stands = 0;
};

/// A frame looked at for a sample's start.
struct SeenFrame {
    int64_t pts = 0;
    double score = 0; ///< scdet's scene-change score, 0..100
    bool key = false; ///< a keyframe: decoding can start here
};
/// Where a frame lies against the stretch a sample may start in.
enum class Reach { Before, In, After };

/// The frame a sample starts at, of the frames seen (in order; the latest
/// that leaves the sample its frames is lastStart): the strongest scene cut
/// within reach, else the frame nearest to where it is wanted (distance).
/// Every probe encode and measurement of the sample decodes from the
/// keyframe before its start: a start more than the sample's frames past
/// its keyframe would cost those again at each bitrate, so a keyframe
/// within reach is taken instead (a cut among them first, else the
/// nearest). atCut says whether the start is a cut.
size_t ChooseStart(const std::vector<SeenFrame>& seen, size_t lastStart, unsigned frames,
                   const std::function<Reach(size_t)>& reach,
                   const std::function<double(size_t)>& distance, bool& atCut);

/// One coded picture of a stream, as its container holds it.
struct CodedPicture {
    double seconds = 0; ///< its timestamp (the file's own)
    uint32_t bytes = 0;
    bool key = false;
};

/// A file of a title as its container codes it: its pictures, the time
/// its own timestamps start at, and where it lies in the title (seconds).
struct CodedFile {
    std::vector<CodedPicture> pictures; ///< in time order
    double origin = 0;
    double before = 0;
    double seconds = 0;
};

/// Whether keyframes (seconds, in order) lie further apart than a sample of
/// length seconds on average: a sample then starts at one, since every
/// encode and measurement of it decodes from the keyframe before its start.
bool SparseKeyframes(const std::vector<double>& keys, double length);

/// Where keyframes (seconds, in order) are sparse for the schedule's samples
/// and more than them, but at most twice as many: one sample a keyframe,
/// sharing the schedule's seconds. Samples then start at keyframes, and with
/// fewer of them the pictures between two keyframes would go unseen (a
/// title's hardest second among them). Otherwise the schedule as it is.
SampleSchedule SpreadOverKeyframes(const SampleSchedule& schedule, const std::vector<double>& keys);

/// Where a title is hardest to code, as its source's own encoding shows it:
/// the start (title seconds) of the stretch of length seconds, inside one
/// file, whose pictures between keyframes take the most bytes on average
/// (keyframes stand for where the source's encoder put them, not for what
/// the pictures hold); in a file of sparse keyframes, of the stretches that
/// start at one. None where no stretch holds two such pictures.
std::optional<double> HardestStretch(const std::vector<CodedFile>& files, double length);

/// Places the schedule's samples on the title. progress(fraction) is called
/// as the search goes. Throws Failure when a file cannot be read, and
/// Failure (Aborted) between samples once StopRequested(stop).
std::vector<Sample> PlaceSamples(const std::vector<TitleFile>& title,
                                 const SampleSchedule& schedule,
                                 const std::function<void(double)>& progress,
                                 const StopCheck& stop = StopCheck());

} // namespace norv
