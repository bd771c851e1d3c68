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

/// The index of a chain's first file: a leading entry of format
/// kChainHeadFormat is none.
std::size_t FirstFileOf(const std::vector<TBS::SSourceFile>& list);

/// No entry of a chain.
constexpr std::size_t kNoEntry = static_cast<std::size_t>(-1);

/// What the join reads of one source. The lists are not owned and must
/// outlive the call they are passed to.
struct SourceFiles {
    std::string path;        ///< its own file, UTF-8
    uint64_t durationMs = 0; ///< its own duration
    /// Per entry of fileList, in seconds, as the analysis reported them;
    /// null or empty when the source carries none.
    const std::vector<uint32_t>* durations = nullptr;
    /// The chain the source's analysis named; null when none.
    const std::vector<TBS::SSourceFile>* fileList = nullptr;
};

struct JoinedFile {
    std::string path;        ///< UTF-8
    uint64_t durationMs = 0; ///< as the analysis reported it
    std::size_t source = 0;  ///< index of the source that stands for it
    /// Its position in the source's chain (fileList), kNoEntry when the
    /// file is no entry of a chain of several files.
    std::size_t entry = kNoEntry;
};

/// The entry of its chain each source stands for, by position: a chain's
/// sources take, in order, the first entry naming their file that no source
/// before them took, so that a chain naming one file twice has a source for
/// each naming. A chain's source whose file has no entry left starts
/// another copy of the chain (the same list given twice). Sources of no
/// chain of several files take an entry naming their file that the chains'
/// sources left, without standing for it in its place (a file also given on
/// its own counts once). kNoEntry for a source that takes none.
std::vector<std::size_t> ChainEntries(const std::vector<SourceFiles>& sources);

/// A source stands for its own file, the entry of its chain it takes. The
/// source that takes a chain's first file and carries the chain's durations
/// stands for the entries of its copy of the chain that no source takes
/// too, in list order. A leading playlist entry (format 9) is no file of its
/// own. A source whose files count no time stands for its own file with its
/// own duration.
std::vector<JoinedFile> JoinedFiles(const std::vector<SourceFiles>& sources);

/// The sum of the files' durations, in milliseconds.
uint64_t TotalDurationMs(const std::vector<JoinedFile>& files);

} // namespace nvt
