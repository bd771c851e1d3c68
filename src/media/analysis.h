// Turning the engine's analysis of a file into sources.
#pragma once

#include <vector>

#include "media/analysed_sources.h"
#include "media/source_media.h"
#include "messages/records.h"
#include "norv/media.h"

namespace nvt {

/// Fills a freshly constructed source from an analysis response: container
/// facts, per-file lists, exactly one video track, the audio, high-level,
/// unsupported and subtitle tracks. Allocation failures propagate.
void FillFromAnalysis(const TBS::AnalyzeResponse& response, SourceMedia& source);

/// Appends an analysed source to sources. When the analysis named a chain of
/// several files, the source is made to stand for its first real file (a
/// leading entry of format 9 is skipped) and one more source per later file
/// is appended, in list order, sharing the first source's track objects.
/// Allocation failures propagate.
void AppendAnalysedSources(SourceMedia& first,
                           std::vector<nvtl::RefCountedPtr<ISourceMedia>>& sources);

} // namespace nvt
