// Analysing input files, one at a time or several at once.
#pragma once

#include <string>
#include <vector>

#include "common/library.h"

namespace norv {

using Sources = std::vector<Ptr<nvt::ISourceMedia>>;

/// The sources one input file yields (several for a playlist of split
/// recordings). Throws Failure for a missing file or a failed analysis.
Sources AnalyseFile(const std::string& path);

/// The outcome of analysing one input among many.
struct Analysis {
    std::string input;
    Sources sources;
    nvt::Result result = nvt::SUCCESS;
    std::string error; // set when result is not SUCCESS
};

/// Analyses every input, up to jobs at a time (each analysis runs its own
/// engine), and returns the outcomes in input order. Inputs not started
/// before an interrupt are reported as Aborted.
std::vector<Analysis> AnalyseAll(const std::vector<std::string>& inputs, unsigned jobs);

/// The sources of every input, joined in order. Throws Failure.
Sources AnalyseJoined(const std::vector<std::string>& inputs);

/// Total duration of the sources in milliseconds.
uint64_t TotalDurationMs(const Sources& sources);

/// The jobs value to use: the number given, or the number of cores for 0.
unsigned EffectiveJobs(unsigned jobs);

} // namespace norv
