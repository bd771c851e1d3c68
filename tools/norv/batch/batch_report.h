// What a batch did with each of its files, for the --report document that
// a shard writes, and the summary that gathers the shards' documents: totals,
// and the inputs to run again (failed or cut short), one a line, ready for
// the next run's --from-list.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "batch/shard.h"
#include "common/json_output.h"
#include "common/library.h"

namespace norv {

enum class FileStatus { Pending, Done, Skipped, Failed, Cancelled };

struct FileRecord {
    std::string input;
    std::string output;
    FileStatus status = FileStatus::Pending;
    nvt::Result result = nvt::SUCCESS;
    std::string error;
    double duration = 0;      // of the media, in seconds
    double encodeSeconds = 0; // analysis and transcode
    uint64_t inputBytes = 0;
    uint64_t outputBytes = 0;
    Json quality; // under --quality or --total-size: chosen bitrate, predicted and measured
};

/// The files of one shard. Job threads record their own files.
class ShardReport {
public:
    ShardReport(const Shard& shard, const std::vector<std::string>& inputs,
                const std::vector<std::string>& outputs);

    /// The output is already there (complete, since outputs appear only
    /// when finished): the file is not transcoded again.
    void Skipped(size_t file);
    void SetDuration(size_t file, double seconds);
    /// What the quality mode chose and predicted for the file, and measured.
    void SetQuality(size_t file, const Json& quality);
    /// The file's run ended with result after seconds (analysis included).
    void Ended(size_t file, nvt::Result result, double seconds, const std::string& error);

    /// The document: the shard, its files (those never started count as
    /// cut short) and the totals.
    Json ToJson() const;

private:
    Shard shard_;
    std::vector<FileRecord> files_;
    mutable std::mutex lock_;
};

/// Writes value to path whole or not at all (a temporary file renamed).
/// Throws Failure.
void WriteJsonFile(const std::string& path, const Json& value);

/// One summary of several shard documents: every file, the totals, and
/// "rerun": the inputs that failed or were cut short. Throws Failure for a
/// document that cannot be read.
Json MergeReports(const std::vector<std::string>& paths);

} // namespace norv
