// The records the scripted engine answers with, built from its options.
#pragma once

#include "messages/records.h"
#include "options.h"

namespace scripted {

TBS::TechnicalInfoResponse MakeTechnicalInfo(const Options& options);

/// The analysis of request.inputFile as the options describe it. A chain of
/// N files lists the input file followed by "<input>.partK" for K = 2..N.
TBS::AnalyzeResponse MakeAnalysis(const Options& options, const TBS::AnalyzeRequest& request);

/// Progress record index (0-based) of the options' count, spread evenly over
/// the files; fileNum counts from 1 and sFilename names the file in work.
TBS::ProgressResponse MakeProgress(const Options& options, const TBS::TranscodeRequest& request,
                                   uint32_t index);

TBS::TranscodeResponse MakeTranscodeResult(int64_t result, const std::string& description);

} // namespace scripted
