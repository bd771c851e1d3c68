// Which share of a batch this run takes. --shard K/N names it; --shard auto
// reads it from the scheduler that started the run: a Slurm job array
// (SLURM_ARRAY_TASK_ID with the array's MIN and COUNT or MAX, counted from
// any first index and with any step) or a Kubernetes indexed Job
// (JOB_COMPLETION_INDEX, counted from 0, with the count given as auto/N or
// as auto/VARIABLE naming the environment variable that holds it). A part
// of an array submitted again (--array=3-4 of an earlier --array=0-5) is
// not a smaller array: plain auto is refused when an earlier run of the
// batch had another count, and auto/N places the task by the first index
// and step the earlier run's full array had.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace norv {

/// A shard that cannot be told: the message says what is missing or does
/// not agree. norv reports it as a usage error.
class ShardError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// Shard index (counted from 1) and count.
struct Shard {
    uint32_t index = 1;
    uint32_t count = 1;
    /// For a task of a whole Slurm array: its first index and step, which
    /// place the tasks of a part of it submitted again.
    std::optional<uint64_t> slurmFirst, slurmStep;
};

/// What an earlier run of the same batch recorded of its shards.
struct EarlierShards {
    uint32_t count = 0;
    std::optional<uint64_t> slurmFirst, slurmStep;
    std::string where; ///< the record, for messages
};

/// Looks an environment variable up; nullopt when it is not set (an empty
/// value counts as not set).
using Environment = std::function<std::optional<std::string>(const std::string&)>;

/// The process's own environment.
std::optional<std::string> ProcessEnvironment(const std::string& name);

/// The shard that the text of --shard names: "K/N", "auto", "auto/N" or
/// "auto/VARIABLE", the last three read from env, checked against what an
/// earlier run of the batch recorded. Throws ShardError.
Shard ResolveShard(const std::string& text, const Environment& env,
                   const std::optional<EarlierShards>& earlier = std::nullopt);

} // namespace norv
