// Whether two media files can be joined into one output: the one rule that
// the session (when a source is added) and the engine (when it analyses a
// chain of split recordings) both apply, on the facts each side has.
#pragma once

#include <cstdint>
#include <vector>

#include "messages/records.h"
#include "norv/media.h"

namespace nvt {

/// What the join rule compares of a file's first video track and its audio
/// tracks. A track that cannot be read counts with zero values.
struct JoinFacts {
    int32_t angle = 0;
    int32_t width = 0;
    int32_t height = 0;
    double frameRate = 0.0; ///< frames per second, compared exactly
    struct Audio {
        int32_t channels = 0;
        int32_t sampleRate = 0;
        int32_t bitsPerSample = 0;
    };
    std::vector<Audio> audio;
};

/// How the audio track counts of the two files must relate.
enum class AudioTrackCount {
    /// The later file may carry more tracks than the first: a session
    /// outputs the tracks its first source offers, so a later source's
    /// extra tracks are simply not read.
    AtLeastFirst,
    /// The same count: a chain is one source whose tracks are its first
    /// file's, and every part must have each of them to stand for the whole.
    Same,
};

/// Why next cannot follow first in one output (the checks answer in this
/// order: angle, picture size and frame rate, audio track count, each audio
/// track's channels, sample rate and depth); SUCCESS when it can.
Result JoinRule(const JoinFacts& first, const JoinFacts& next, AudioTrackCount count);

/// The facts of an analysed source, read through its interface.
JoinFacts JoinFactsOf(ISourceMedia& source);

/// The facts of an analysis record, as a source made from it would give them.
JoinFacts JoinFactsOf(const TBS::AnalyzeResponse& response);

} // namespace nvt
