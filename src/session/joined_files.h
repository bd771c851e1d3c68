// The media files a session's sources stand for, in the order they are
// joined, with the duration each counts. The preview's duration and the
// engine's list of files to read both come from here, so that the output
// lasts what the preview promised.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "session/source_refs.h"

namespace nvt {

struct JoinedFile {
    std::string path;        ///< UTF-8
    uint64_t durationMs = 0; ///< as the analysis reported it
    std::size_t source = 0;  ///< index of the source that stands for it
};

/// A source stands for its own file. A source that leads a chain of files
/// (its analysis listed several) stands for the chain's later files too,
/// except those that are sources of the list themselves, which count once,
/// as their own. A leading playlist entry (format 9) is no file of its own.
std::vector<JoinedFile> JoinedFiles(const SourceList& sources);

/// The sum of the durations of JoinedFiles, in milliseconds.
uint64_t TotalDurationMs(const SourceList& sources);

} // namespace nvt
