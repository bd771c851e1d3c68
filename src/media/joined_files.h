// The media files a list of sources stands for, in the order they are
// joined, with the duration each counts. The preview's duration and the
// engine's list of files to read both come from here, so that the output
// lasts what the preview promised. The sources are described plainly: the
// session describes its sources, the engine the files it analysed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "messages/records.h"

namespace nvt {

/// The file-list format code of an entry that leads a chain of files
/// without being one of its files.
constexpr unsigned kChainHeadFormat = 9;

/// What the join reads of one source. The lists are not owned and must
/// outlive the call they are passed to.
struct SourceFiles {
    std::string path;        ///< its own file, UTF-8
    uint64_t durationMs = 0; ///< its own duration
    /// Per entry of fileList, in seconds, as the analysis reported them;
    /// null when the source carries none.
    const std::vector<uint32_t>* durations = nullptr;
    /// The chain the source's analysis named; null when none.
    const std::vector<TBS::SSourceFile>* fileList = nullptr;
};

struct JoinedFile {
    std::string path;        ///< UTF-8
    uint64_t durationMs = 0; ///< as the analysis reported it
    std::size_t source = 0;  ///< index of the source that stands for it
};

/// A source stands for its own file. A source that leads a chain of files
/// (it carries the chain's durations) stands for the chain's later files
/// too, except those that are sources of the list themselves, which count
/// once, as their own. A leading playlist entry (format 9) is no file of its
/// own. A source whose listed files count no time stands for its own file
/// with its own duration.
std::vector<JoinedFile> JoinedFiles(const std::vector<SourceFiles>& sources);

/// The sum of the files' durations, in milliseconds.
uint64_t TotalDurationMs(const std::vector<JoinedFile>& files);

} // namespace nvt
