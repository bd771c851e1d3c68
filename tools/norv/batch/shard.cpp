#include "batch/shard.h"

#include <cstdlib>

#include "common/settings.h"

namespace norv {

namespace {

std::optional<uint64_t> WholeNumber(const std::string& text) {
    if (text.empty() || text.size() > 9 ||
        text.find_first_not_of("0123456789") != std::string::npos) {
        return std::nullopt;
    }
    return std::stoull(text);
}

// A variable that holds a whole number; nullopt when it is not set.
std::optional<uint64_t> NumberFrom(const Environment& env, const std::string& name) {
    const std::optional<std::string> value = env(name);
    if (!value) {
        return std::nullopt;
    }
    const std::optional<uint64_t> number = WholeNumber(*value);
    if (!number) {
        throw ShardError(name + "=" + *value + " is not a whole number");
    }
    return number;
}

Shard Checked(uint64_t index, uint64_t count, const std::optional<uint64_t>& given,
              const std::string& where) {
    if (given && *given != count) {
        throw ShardError("--shard auto/" + std::to_string(*given) + " does not agree with " +
                         where + ", which has " + std::to_string(count) + " tasks");
    }
    if (count == 0 || count > UINT32_MAX || index >= count) {
        throw ShardError(where + ": task " + std::to_string(index) + " is not one of " +
                         std::to_string(count));
    }
    Shard shard;
    shard.index = static_cast<uint32_t>(index + 1);
    shard.count = static_cast<uint32_t>(count);
    return shard;
}

// A Slurm job array A-B[:S]: the task's place in it, whatever the first
// index (--array=0-9 and --array=1-10 alike) and step.
Shard SlurmShard(const Environment& env, const std::optional<uint64_t>& given,
                 const std::optional<EarlierShards>& earlier) {
    const uint64_t id = *NumberFrom(env, "SLURM_ARRAY_TASK_ID");
    const std::optional<uint64_t> min = NumberFrom(env, "SLURM_ARRAY_TASK_MIN");
    const std::optional<uint64_t> max = NumberFrom(env, "SLURM_ARRAY_TASK_MAX");
    std::optional<uint64_t> count = NumberFrom(env, "SLURM_ARRAY_TASK_COUNT");
    const uint64_t step = NumberFrom(env, "SLURM_ARRAY_TASK_STEP").value_or(1);
    if (!min || (!count && !max)) {
        throw ShardError("SLURM_ARRAY_TASK_ID is set, but not SLURM_ARRAY_TASK_MIN and "
                         "SLURM_ARRAY_TASK_COUNT or SLURM_ARRAY_TASK_MAX");
    }
    const std::string where = "the Slurm array";
    if (step == 0 || (max && *max < *min)) {
        throw ShardError(where + " has no tasks");
    }
    if (max) {
        const uint64_t span = (*max - *min) / step + 1;
        if (count && *count != span) {
            // A list such as --array=1,4,9 has no index to count places by.
            throw ShardError(where + " is not one range A-B[:S] (" + std::to_string(*count) +
                             " tasks from " + std::to_string(*min) + " to " + std::to_string(*max) +
                             "): give --shard K/N");
        }
        count = span;
    }
    if (!given && earlier && earlier->count != *count) {
        throw ShardError(where + " has " + std::to_string(*count) + " tasks, but an earlier run " +
                         "of this batch (" + earlier->where + ") had " +
                         std::to_string(earlier->count) +
                         " shards: for a part of the array submitted again, give --shard auto/" +
                         std::to_string(earlier->count));
    }
    if (given && *given != *count) {
        // A part of the array submitted again: the tasks keep the places
        // they had in the whole array.
        if (!earlier || earlier->count != *given || !earlier->slurmFirst || !earlier->slurmStep) {
            throw ShardError("--shard auto/" + std::to_string(*given) + " does not agree with " +
                             where + ", which has " + std::to_string(*count) +
                             " tasks, and no earlier run of the whole array tells where its "
                             "tasks start: give --shard K/N");
        }
        const uint64_t first = *earlier->slurmFirst;
        const uint64_t wholeStep = *earlier->slurmStep;
        if (id < first || (id - first) % wholeStep != 0) {
            throw ShardError("SLURM_ARRAY_TASK_ID=" + std::to_string(id) +
                             " is not a task of the array of the earlier run (" + earlier->where +
                             ")");
        }
        return Checked((id - first) / wholeStep, *given, given, where);
    }
    if (id < *min || (id - *min) % step != 0) {
        throw ShardError("SLURM_ARRAY_TASK_ID=" + std::to_string(id) + " is not a task of " +
                         where);
    }
    Shard shard = Checked((id - *min) / step, *count, given, where);
    shard.slurmFirst = *min;
    shard.slurmStep = step;
    return shard;
}

// A Kubernetes indexed Job: indices from 0, the count from the command line.
Shard IndexedJobShard(const Environment& env, const std::optional<uint64_t>& given) {
    const uint64_t index = *NumberFrom(env, "JOB_COMPLETION_INDEX");
    if (!given) {
        throw ShardError("JOB_COMPLETION_INDEX does not tell the number of shards: give it "
                         "as --shard auto/N or auto/VARIABLE");
    }
    return Checked(index, *given, given, "the indexed Job");
}

} // namespace

std::optional<std::string> ProcessEnvironment(const std::string& name) {
    const char* value = std::getenv(name.c_str());
    if (value == nullptr || *value == '\0') {
        return std::nullopt;
    }
    return std::string(value);
}

Shard ResolveShard(const std::string& text, const Environment& env,
                   const std::optional<EarlierShards>& earlier) {
    const std::string kAuto = "auto";
    if (text.compare(0, kAuto.size(), kAuto) != 0) {
        const auto shard = ParseShard(text);
        if (!shard) {
            throw ShardError("'" + text +
                             "': expected K/N with 1 <= K <= N, auto, auto/N or "
                             "auto/VARIABLE");
        }
        Shard named;
        named.index = shard->first;
        named.count = shard->second;
        return named;
    }
    std::optional<uint64_t> given;
    if (text.size() > kAuto.size()) {
        if (text[kAuto.size()] != '/' || text.size() == kAuto.size() + 1) {
            throw ShardError("'" + text + "': expected auto, auto/N or auto/VARIABLE");
        }
        const std::string count = text.substr(kAuto.size() + 1);
        given = WholeNumber(count);
        if (!given) {
            given = NumberFrom(env, count);
            if (!given) {
                throw ShardError("--shard " + text + ": " + count + " is not set");
            }
        }
        if (*given == 0) {
            throw ShardError("--shard " + text + ": the number of shards is 0");
        }
    }
    if (env("SLURM_ARRAY_TASK_ID")) {
        return SlurmShard(env, given, earlier);
    }
    if (env("JOB_COMPLETION_INDEX")) {
        return IndexedJobShard(env, given);
    }
    throw ShardError("--shard " + text +
                     ": not started by a scheduler (neither SLURM_ARRAY_TASK_ID nor "
                     "JOB_COMPLETION_INDEX is set)");
}

} // namespace norv
