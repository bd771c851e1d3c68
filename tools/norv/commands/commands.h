// The subcommands, each taking the parsed command line. A command returns
// its exit status, or throws Failure, which main turns into one error line
// and status 1.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/settings.h"
#include "quality/rate_quality.h"

namespace norv {

/// The command line, as cli.cpp maps it.
struct Invocation {
    std::string
        command; // info, profiles, analyze, preview, transcode, batch, presets, report, serve
    std::string presetAction; // list, show, save, delete
    std::string engine;       // --engine
    bool json = false;
    double progressPeriod = 5.0; // seconds between plain progress lines
    unsigned jobs = 0;           // 0: one per core
    std::vector<std::string> inputs;
    std::string output;    // transcode -o
    std::string outputDir; // batch -d
    bool overwrite = false;
    bool measure = false;   // preview --measure
    std::string shardText;  // batch --shard: K/N, auto, auto/N or auto/VARIABLE
    uint32_t parts = 0;     // transcode --parts: the film cut into this many parts
    std::string partText;   // transcode --part: K/N, auto, auto/N or auto/VARIABLE
    bool join = false;      // transcode --join
    std::string fromList;   // --from-list: a list of inputs, "-" for standard input
    std::string fromList0;  // --from-list0: the same, each path ended by a NUL
    std::string reportFile; // batch --report, transcode --part's report
    std::string rerunList;  // report merge --rerun-list
    std::string rerunList0; // report merge --rerun-list0
    std::optional<std::vector<std::string>> listed; // report merge: the lists' paths
    double frameRate = 0;                           // profiles --frame-rate
    std::string presetDir;                          // presets DIR, serve --presets
    std::string presetName;
    uint16_t port = 8700;           // serve --port (0: a free one)
    std::vector<std::string> roots; // serve --root
    bool open = false;              // serve --open
    std::string listen;             // serve --listen
    double heartbeat = 15;          // serve: seconds between the event stream's heartbeats
    OutputChoice choice;
    std::optional<QualityTarget> quality; // --quality: the worst-1 % SSIM to reach
    uint64_t totalSize = 0;               // batch --total-size: bytes for all outputs; 0: none
};

int CommandInfo(const Invocation& in);
int CommandProfiles(const Invocation& in);
int CommandAnalyze(const Invocation& in);
int CommandPreview(const Invocation& in);
int CommandTranscode(const Invocation& in);
int CommandBatch(const Invocation& in);
int CommandPresets(const Invocation& in);
int CommandReport(const Invocation& in);
int CommandServe(const Invocation& in);

} // namespace norv
