// The derivation's inputs made from plain facts: what the first source is
// and what the output settings wish for. The session reads the facts from
// its sources, the engine from its analysis records; both prepare the
// derivation here, so that the engine derives what the preview promised.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "derivation/settings_derivation.h"
#include "norv/records.h"

namespace nvt {

/// A source's first video track.
struct VideoFacts {
    int32_t width = 0;
    int32_t height = 0;
    double frameRate = 0.0;     ///< frames per second
    double aspect = 0.0;        ///< displayed width over displayed height
    double bitsPerSecond = 0.0; ///< 0: unknown
};

/// One audio track of a source.
struct AudioFacts {
    double bitsPerSecond = 0.0; ///< 0: unknown
    AudioCodec codec = AC_UNKNOWN;
};

/// What the derivation reads of the first source.
struct SourceFacts {
    uint64_t fileSize = 0;
    VideoFacts video;
    int32_t videoTrackCount = 0;
    std::map<uint32_t, AudioFacts> audioTracks; ///< by track index; a missing one cannot be read
    int32_t subtitleTrackCount = 0;
};

/// What the derivation reads of the output settings: the preset-able
/// settings (bitrates in bits per second) and the audio and subtitle
/// selections. The engine builds one from the request it receives, so that
/// it derives exactly what the session previewed.
struct OutputWishes {
    const CustomPresetData& preset;
    const std::vector<uint32_t>& audioSelection;    ///< audio track indices of the first source
    const std::vector<uint32_t>& subtitleSelection; ///< in the session's subtitle numbering
};

/// Condenses the first source, the extra sources' total size and the wishes
/// into the derivation's inputs, bitrates the source does not report filled
/// in from its size. totalDurationMs is the duration over all joined files;
/// ac3Writable tells whether AC3 can be passed through.
void PrepareDerivation(const SourceFacts& first, uint64_t extraFileSize, uint64_t totalDurationMs,
                       const OutputWishes& wishes, bool ac3Writable, SourceSummary& summary,
                       SettingsRequest& request);

} // namespace nvt
