// What the engine's analysis of a file says of the sources it gives, as
// plain facts: the files they stand for and what the settings derivation
// reads of them. The library's sources are filled by these rules
// (media/analysis.h); the engine reads its own records with them, so that
// both see the same sources.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "derivation/source_facts.h"
#include "media/joined_files.h"
#include "messages/records.h"
#include "norv/enums.h"

namespace nvt {

/// True for the analysis results that still deliver sources: SUCCESS and
/// ENG_NO_AC3_DEC (the file is usable without its AC-3 audio decoded).
bool AnalysisDeliversSources(Result result);

/// A video track as the derivation reads it: the frame rate comes in
/// thousandths, the bitrate is the stream's own where it has one, else the
/// measured one.
VideoFacts VideoFactsOf(const TBS::SVideoTrack& record);

/// An audio track as the derivation reads it.
AudioFacts AudioFactsOf(const TBS::SAudioTrack& record);

/// One file an analysed source stands for.
struct AnalysedFile {
    std::string path;      ///< UTF-8
    uint64_t duration = 0; ///< in the analysis' unit, seconds
    uint64_t fileSize = 0;
};

/// The analysed file itself, for a source that stands for no chain: the
/// first duration reported, and the size when exactly one was reported.
/// The path is left empty.
AnalysedFile UnchainedFile(const std::vector<uint32_t>& durations,
                           const std::vector<uint64_t>& fileSizes);

/// The files of a chain, one source each: the first real file (a leading
/// entry of format 9 is skipped), then every later one, in list order. Empty
/// when the list names fewer than two files. durations and fileSizes, one per
/// list entry, are extended with 0 for the later files the analysis gave
/// none for, where they reach past the first real file.
std::vector<AnalysedFile> ChainFiles(const std::vector<TBS::SSourceFile>& fileList,
                                     std::vector<uint32_t>& durations,
                                     std::vector<uint64_t>& fileSizes);

/// The sources one analysis of a file gives, as the library makes them
/// (FillFromAnalysis, then AppendAnalysedSources).
class AnalysedSources {
public:
    AnalysedSources(const std::string& path, const TBS::AnalyzeResponse& response);
    AnalysedSources(const AnalysedSources&) = delete;
    AnalysedSources& operator=(const AnalysedSources&) = delete;

    /// The source that stands for path; the first when none does.
    std::size_t Find(const std::string& path) const;
    /// The source that stands for an entry of the chain (ChainEntries) when
    /// it names path; else the one that stands for path.
    std::size_t SourceFor(std::size_t entry, const std::string& path) const;
    /// Source k as the join reads it. Points into this object.
    SourceFiles Files(std::size_t k) const;
    /// Source k as the derivation reads it.
    SourceFacts Facts(std::size_t k) const;

private:
    std::vector<TBS::SSourceFile> fileList_;
    std::vector<uint32_t> durations_; ///< the first source's, per list entry
    std::vector<AnalysedFile> files_; ///< one per source
    SourceFacts facts_;               ///< shared by all; each has its own size
};

} // namespace nvt
