// A batch under --quality (each file probed for the bitrate that reaches the
// target) or --total-size (one budget shared so that the files' worst-1 %
// quality comes out even): every file's bitrate is chosen before any runs,
// and each finished output is measured for the report.
#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <utility>
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
    /// A file after which the batch would end below kFloor of the budget
    /// (the files still to come all held at the top of their range or at
    /// their plateau), and which can take more itself by kStep at least,
    /// is encoded once more, higher, to use what is left; its earlier
    /// output is kept aside meanwhile and put back should the new one not
    /// fit.
    static constexpr int kTries = 3;
    static constexpr double kFloor = 0.97;
    static constexpr double kStep = 0.03;
    /// Once every file has ended (their outputs at outputs): where the
    /// batch took less than kFloor of the budget, a file not yet encoded
    /// again that can take more, and the choice to encode it once more
    /// with, higher, as above; nothing else.
    std::optional<std::pair<size_t, OutputChoice>>
    LastTopUp(const std::vector<std::string>& outputs);
    /// After file i's failed run: where that run was such a second encode,
    /// the output it was to replace is put back (true): the file stays done.
    bool Restore(size_t i, const std::string& output);
    /// The report's "quality" of file i: chosen bitrate, predicted and
    /// measured quality, predicted size.
    Json Measured(size_t i, const Sources& sources, const OutputChoice& choice,
                  const std::string& output);

private:
    enum class Stage { Waiting, Running, Finished };
    /// Under lock_: the higher encode of file i, whose output of size
    /// bytes was made with ran; last once every file has ended.
    std::optional<OutputChoice> TopUp(size_t i, const OutputChoice& ran, const std::string& output,
                                      double size, bool last);
    /// Under lock_: ran at kbps, which file i's plan now predicts.
    OutputChoice AgainAt(size_t i, const OutputChoice& ran, double kbps);
    bool RestoreLocked(size_t i, const std::string& output);

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
    /// By file: the output a second, higher encode is to replace, and its plan.
    std::vector<std::string> kept_;
    std::vector<std::optional<QualityPlan>> keptPlans_;
    std::vector<bool> toppedUp_;
};

} // namespace norv
