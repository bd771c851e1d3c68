// A batch under --quality (each file probed for the bitrate that reaches the
// target) or --total-size (one budget shared so that the files' worst-1 %
// quality comes out even): every file's bitrate is chosen before any runs,
// and each finished output is measured for the report.
#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "commands/commands.h"
#include "common/json_output.h"
#include "quality/quality_mode.h"
#include "timing/estimate.h"

namespace norv {

class BatchQuality {
public:
    /// Chooses the bitrates of inputs (whose outputs are outputs; the
    /// shard's outputs already there take their part of a budget). Throws
    /// Failure when a budget cannot hold the files.
    BatchQuality(const Invocation& in, const BatchWork& work,
                 const std::vector<std::string>& inputs, const std::vector<std::string>& outputs,
                 const std::vector<std::string>& shardOutputs, nvt::ITranscodeEngineInfo* info);

    bool active() const { return !plans_.empty(); }
    /// The choice file i is transcoded with, as its run starts: base, or
    /// base with its chosen bitrate. Under a budget the bitrate is shared
    /// again from what the files finished so far really took (what one
    /// left unspent goes to those after it), and the file may take all the
    /// budget has left but the shares of those still waiting: its limit.
    /// Throws the Failure its probe met.
    OutputChoice ChoiceFor(size_t i, const OutputChoice& base);
    /// After file i's run under a budget: nothing when its output (at
    /// output) kept its limit. Above it, the output is removed and the
    /// choice to encode it again with, at a bitrate scaled to fit; Failure
    /// once kTries runs did not fit.
    std::optional<OutputChoice> Again(size_t i, const OutputChoice& ran, const std::string& output,
                                      int run);
    static constexpr int kTries = 3;
    /// The report's "quality" of file i: chosen bitrate, predicted and
    /// measured quality, predicted size.
    Json Measured(size_t i, const Sources& sources, const OutputChoice& choice,
                  const std::string& output);

private:
    enum class Stage { Waiting, Running, Finished };

    std::vector<std::optional<QualityPlan>> plans_;
    std::vector<BudgetFile> files_; ///< under a budget
    std::vector<Stage> stages_;
    /// Predicted; once running, the size limit; once finished, the output's.
    std::vector<double> bytes_;
    double budget_ = 0; ///< bytes the budget's files may take together
    mutable std::mutex lock_;
    std::vector<OutputChoice> choices_;
    std::vector<std::string> errors_;
    std::vector<nvt::Result> results_;
};

} // namespace norv
