// What a batch did with each of its files, for the --report document that
// a shard writes, and the summary that gathers the shards' documents: totals,
// and the inputs to run again (failed, cut short or never started), ready
// for the next run's --from-list.
//
// A shard writes its document when it starts, every file of its share not
// started yet, and rewrites it whole as each file ends: a shard killed
// outright leaves a document that names what it did not finish. Each file's
// record carries the time it ended, so that the summary takes the latest
// record of an input whatever the order the documents are given in.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "batch/shard.h"
#include "common/json_output.h"
#include "common/library.h"

namespace norv {

enum class FileStatus { NotStarted, Done, Skipped, Failed, Cancelled };

struct FileRecord {
    std::string input;
    std::string output;
    FileStatus status = FileStatus::NotStarted;
    nvt::Result result = nvt::SUCCESS; // of a run that ended
    std::string error;
    std::string note;         // why an output was skipped or made again
    int64_t endedMs = 0;      // since 1970; 0: not ended
    double duration = 0;      // of the media, in seconds
    double encodeSeconds = 0; // analysis and transcode
    uint64_t inputBytes = 0;
    uint64_t outputBytes = 0;
};

/// Which batch a shard belongs to: the list its shares were cut from and
/// the settings, each as a digest.
struct BatchIdentity {
    std::string list;
    size_t files = 0;
    std::string settings;
};

/// The files of one shard, and its report file. Job threads record their
/// own files.
class ShardReport {
public:
    /// path: where the document goes; empty for none.
    ShardReport(const Shard& shard, const BatchIdentity& batch,
                const std::vector<std::string>& inputs, const std::vector<std::string>& outputs,
                std::string path);

    /// The output is a finished output of this batch: the file is not
    /// transcoded again.
    void Skipped(size_t file, const std::string& note);
    /// Why the file is transcoded again although its output is there.
    void Noted(size_t file, const std::string& note);
    void SetDuration(size_t file, double seconds);
    /// The file's run ended with result after seconds (analysis included).
    void Ended(size_t file, nvt::Result result, double seconds, const std::string& error);

    /// The document: the shard, the batch, its files and the totals.
    Json ToJson() const;

    /// Writes the document whole to the report file (nothing without one).
    /// Throws Failure when it cannot be written.
    void Save() const;

private:
    void Stamp(FileRecord& f);

    Shard shard_;
    BatchIdentity batch_;
    std::string path_;
    int64_t startedMs_;
    std::vector<FileRecord> files_;
    mutable std::mutex lock_;
    mutable std::mutex writing_; // one writer of the file at a time
};

/// Milliseconds since 1970.
int64_t NowMs();

/// Writes value to path whole or not at all (a temporary file written to
/// disk, then renamed). Throws Failure.
void WriteJsonFile(const std::string& path, const Json& value);

/// One summary of several shard documents: every file by its latest record,
/// the totals, "rerun" (the inputs that failed, were cut short or never
/// started) and "missing_shards" (the shards of a batch that wrote no
/// document). With list (the list the shards were cut from), every input of
/// it that no document names is counted not started and run again. Throws
/// Failure for a document that cannot be read.
Json MergeReports(const std::vector<std::string>& paths,
                  const std::optional<std::vector<std::string>>& list);

} // namespace norv
