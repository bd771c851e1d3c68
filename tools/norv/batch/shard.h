// Which share of a batch this run takes. --shard K/N names it; --shard auto
// reads it from the scheduler that started the run: a Slurm job array
// (SLURM_ARRAY_TASK_ID with the array's MIN and COUNT or MAX, counted from
// any first index and with any step) or a Kubernetes indexed Job
// (JOB_COMPLETION_INDEX, counted from 0, with the count given as auto/N or
// as auto/VARIABLE naming the environment variable that holds it).
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
};

/// Looks an environment variable up; nullopt when it is not set (an empty
/// value counts as not set).
using Environment = std::function<std::optional<std::string>(const std::string&)>;

/// The process's own environment.
std::optional<std::string> ProcessEnvironment(const std::string& name);

/// The shard that the text of --shard names: "K/N", "auto", "auto/N" or
/// "auto/VARIABLE", the last three read from env. Throws ShardError.
Shard ResolveShard(const std::string& text, const Environment& env);

/// The paths of a list, one a line: empty lines are left out and a line's
/// carriage return (a list written on Windows) is not part of its path.
/// "-" reads standard input. Throws ShardError when the list cannot be read.
std::vector<std::string> ReadPathList(const std::string& file);

} // namespace norv
