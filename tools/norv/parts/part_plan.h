// How one film is cut into parts that separate tasks encode at once, and
// how its video budget is shared between them. Every task works this out
// on its own from the same scan of the sources, so the answer depends on
// nothing but the scan and the count: no task waits for another.
//
// Parts begin at the sources' keyframes that start a closed group of
// pictures (nothing after them refers to a picture before), the one
// nearest each equal share of the playing time; a source encoder puts its
// keyframes at scene cuts and at its group length, so a part starts where
// the picture changes or where a new group would have started anyway.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace norv {

/// One picture of a source, in the order shown.
struct ScannedFrame {
    double at = 0;      ///< seconds on the joined timeline
    uint32_t bytes = 0; ///< its coded size in the source
    bool cut = false;   ///< a part may start here
};

/// One file of the film.
struct ScannedFile {
    std::string path;
    double start = 0;  ///< its own first timestamp, seconds
    double length = 0; ///< its playing time, seconds
    double offset = 0; ///< where it starts on the joined timeline
};

/// The film as the scan saw it: its files joined, its pictures in order.
struct FilmScan {
    std::vector<ScannedFile> files;
    std::vector<ScannedFrame> frames;
    double seconds = 0; ///< playing time of the whole film
};

/// A stretch of one file that a part plays: local timestamps, seconds;
/// a side left open plays from the file's start or to its end.
struct PartEntry {
    std::string path;
    bool fromStart = true, toEnd = true;
    double inpoint = 0, outpoint = 0;
};

struct PartSpan {
    size_t firstFrame = 0, endFrame = 0; ///< frames [first, end) of the scan
    double from = 0, to = 0;             ///< joined seconds
    uint64_t sourceBytes = 0;            ///< the source's bytes for its pictures
    std::vector<PartEntry> entries;
};

/// A split that cannot be made: too few places to cut for the count.
class SplitError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// Cuts the film into count parts near equal shares of its playing time.
/// Throws SplitError.
std::vector<PartSpan> SplitFilm(const FilmScan& film, uint32_t count);

/// The video bitrate of each part (bits per second) so that together they
/// take what the whole film would at wholeBitrate, each part's share by how
/// hard its pictures are to code, as the source's own coded sizes tell;
/// each within [minBitrate, maxBitrate] (0: no bound).
std::vector<double> ShareBitrate(const std::vector<PartSpan>& parts, double wholeBitrate,
                                 double minBitrate, double maxBitrate);

} // namespace norv
