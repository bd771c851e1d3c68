// The timeline of one input file as it plays. Formats that allow
// discontinuities (MPEG-TS, MPEG-PS: two recordings joined with cat, a
// broadcast whose clock was reset) may jump their timestamps back, or far
// ahead. A jump of more than a few seconds on an audio or video stream is
// folded away: what follows is moved to go on where the file had got to,
// by one shift shared by every stream of the file, so the file plays
// straight through and lasts the sum of its parts.
#pragma once

#include <cstdint>
#include <vector>

#include "ffmpeg.h"
#include "playlist.h"
#include "stop_token.h"

namespace norv_engine {

/// A jump of the timestamps larger than this is a discontinuity.
constexpr int64_t kTimestampJumpUs = 5 * AV_TIME_BASE;
/// In formats without discontinuities, a jump ahead larger than this is
/// damage (no recording pauses that long inside one file): folded as well,
/// or the gap would be filled with silence and repeated pictures, hours of
/// them at once.
constexpr int64_t kDamagedJumpUs = 600 * static_cast<int64_t>(AV_TIME_BASE);

/// True when the file's format allows timestamp discontinuities.
bool AllowsDiscontinuities(const AVFormatContext* format);

/// Follows the timestamps of the streams of one file and gives the shift
/// (microseconds) that keeps them continuous.
class TimestampFolder {
public:
    /// A folder for a file of streams streams; with folding, jumps larger
    /// than kTimestampJumpUs are folded, else only damaged ones (larger than
    /// kDamagedJumpUs).
    void Reset(bool folding, unsigned streams);

    /// The shift to add to a packet of stream index at `at` (microseconds
    /// of the file, its DTS or else its PTS) lasting duration. Only watched
    /// streams (audio, video) are checked for jumps; others (subtitles,
    /// whose gaps are normal) take the shift in force. A watched stream
    /// whose first packet lies far ahead of where the file has got jumps
    /// too.
    int64_t ShiftFor(unsigned index, int64_t at, int64_t duration, bool watched);

    /// Jumps folded so far.
    unsigned Folds() const { return folds_; }

private:
    struct Track {
        bool seen = false;
        int64_t last = 0; ///< shifted time of its latest packet
        int64_t end = 0;  ///< shifted end of its furthest packet
    };
    bool Continues(const Track& track, int64_t at) const;

    int64_t jump_ = kTimestampJumpUs; ///< the smallest jump folded
    std::vector<Track> tracks_;
    int64_t shift_ = 0;
    int64_t previousShift_ = 0; ///< packets of the part before the last fold
    bool folded_ = false;
    int64_t end_ = 0; ///< shifted end of the furthest packet
    bool any_ = false;
    unsigned folds_ = 0;
};

/// How long the file plays, microseconds: for formats with discontinuities
/// the timestamps of its first video (else audio) stream are read through
/// with jumps folded, and the file is sought back to its start; otherwise
/// the duration FFmpeg gives. 0 when unknown.
int64_t PlayingDuration(AVFormatContext* format, const StopToken& stop);

} // namespace norv_engine
