// Joins a film's video parts into one output without coding anything
// again: the video from the parts in order, their timestamps carried on so
// that they rise evenly across every seam, and everything else (audio,
// subtitles, chapters, titles, the stream tags) from a whole-film output
// of the same job whose own video is left out.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace norv {

struct StitchFigures {
    uint64_t frames = 0;      ///< pictures written
    uint64_t wholeFrames = 0; ///< pictures of the whole-film output's video
    uint64_t bytes = 0;       ///< of the file written
    double videoSeconds = 0;
    double audioSeconds = 0; ///< of its first audio stream; 0 without one
};

/// Writes output (which is overwritten) from the parts' video and the rest
/// of whole. Throws Failure, naming the part that does not fit the others.
StitchFigures Stitch(const std::vector<std::string>& parts, const std::string& whole,
                     const std::string& output);

} // namespace norv
