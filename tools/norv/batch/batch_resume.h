// A batch run again over the same files (a shard re-queued after a time
// limit or a preemption) carries on where the last run stopped.
//
// An output counts as complete only when a completion record proves it a
// finished output of this batch: norv keeps one per output, in the hidden
// folder ".norv" of the output folder, written "started" before the
// transcode and "finished" after it, with the input's path, size and
// modification time, the settings that decide the output, and the size and
// modification time of the output the engine named. An output that is
// there without such a record (an empty or foreign file, or the output of
// another input or other settings) is refused without --overwrite; one
// whose record says "started" (its run was cut short before it could tell)
// is made again.
//
// The engine writes an output under a hidden temporary name and holds a
// lock on it while it works; what an engine killed outright left in the
// output folder (its temporary and scratch files, unlocked) is removed
// before the batch starts.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "batch/batch_report.h"
#include "batch/shard.h"
#include "common/json_output.h"
#include "common/settings.h"

namespace norv {

/// What a run does with a file whose output may be there already.
struct ResumeDecision {
    enum Action { Transcode, Skip, Refuse } action = Transcode;
    bool replace = false; ///< the output there may be replaced
    std::string note;     ///< why, for the report
};

/// A file's size and modification time, as the file system tells them;
/// null when the file cannot be read.
Json FileIdentity(const std::string& path);

/// The settings that decide an output: the preset record the choice
/// resolves to and the job settings that change the output.
Json DecidingSettings(const OutputChoice& choice);

/// The completion records of one output folder, for one batch's settings.
class CompletionRecords {
public:
    CompletionRecords(const std::string& outputFolder, Json settings);

    /// Whether output is complete, to be made, or refused.
    ResumeDecision Check(const std::string& input, const std::string& output, bool overwrite) const;
    /// Before output is transcoded from input. Throws Failure.
    void Started(const std::string& input, const std::string& output) const;
    /// After the engine named output; false when it cannot be recorded.
    bool Finished(const std::string& input, const std::string& output) const;
    /// After a run that left no output.
    void Forget(const std::string& output) const;

    /// What an earlier run of the batch (its list and settings) recorded of
    /// its shards, or the report file a run of this task left; nullopt when
    /// neither tells.
    std::optional<EarlierShards> EarlierRun(const BatchIdentity& batch,
                                            const std::string& reportFile) const;
    /// Keeps the shards of this run for later runs of the batch, unless an
    /// earlier run did.
    void RememberShards(const BatchIdentity& batch, const Shard& shard) const;

private:
    std::string RecordPath(const std::string& output) const;
    Json InputIdentity(const std::string& input) const;

    std::string folder_;
    Json settings_;
};

/// Removes from folder the temporary and scratch files of engines that no
/// longer run (no lock held on their work file); returns their names.
std::vector<std::string> RemoveLeftoverScratch(const std::string& folder);

/// Tells that input is skipped: a line on standard error, or a
/// "file_skipped" event with --json.
void AnnounceSkipped(bool json, const std::string& input, const std::string& output);

} // namespace norv
