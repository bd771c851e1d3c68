// norv: the command-line front end of the Norv transcoding engine. It uses
// the library the way any application does: through norv/transcoder.h and
// the shared library alone.
#include <cstdio>
#include <exception>

#include "batch/shard.h"
#include "commands/cli.h"
#include "commands/commands.h"
#include "common/console.h"
#include "common/json_output.h"

namespace {

int Dispatch(const norv::Invocation& in) {
    using Command = int (*)(const norv::Invocation&);
    static const struct {
        const char* name;
        Command run;
    } kCommands[] = {
        {"info", norv::CommandInfo},           {"profiles", norv::CommandProfiles},
        {"analyze", norv::CommandAnalyze},     {"preview", norv::CommandPreview},
        {"transcode", norv::CommandTranscode}, {"batch", norv::CommandBatch},
        {"presets", norv::CommandPresets},     {"report", norv::CommandReport},
        {"serve", norv::CommandServe},
    };
    for (const auto& command : kCommands) {
        if (in.command == command.name) {
            return command.run(in);
        }
    }
    std::fprintf(stderr, "norv: no command\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    norv::Invocation in;
    const int parsed = norv::ParseCommandLine(argc, argv, in);
    if (parsed >= 0) {
        return parsed;
    }
    norv::WatchInterrupts();
    if (in.json) {
        // The library and the engine it starts may write to standard
        // output; norv's JSON keeps a descriptor of its own.
        norv::SetJsonStream(norv::SetAsideStandardOutput());
    }
    try {
        return Dispatch(in);
    } catch (const norv::ShardError& e) {
        // Told only once the batch is known: a usage error all the same.
        std::fflush(stdout);
        std::fprintf(stderr, "--shard: %s\n", e.what());
        return 2;
    } catch (const norv::Failure& failure) {
        std::fflush(stdout);
        std::fprintf(stderr, "norv: %s: %s\n", failure.what(),
                     norv::Describe(failure.result()).c_str());
        return failure.result() == nvt::Aborted ? norv::InterruptExitStatus() : 1;
    } catch (const std::exception& e) {
        std::fflush(stdout);
        std::fprintf(stderr, "norv: %s: %s\n", e.what(), norv::Describe(nvt::ENG_ERR).c_str());
        return 1;
    }
}
