// One pass over the joined sources: every input read once, each stream
// decoded, filtered, encoded (or copied) and muxed. A first pass of two
// writes no file: its muxer only counts, and it leaves out what the second
// pass alone needs (trick play, subtitles).
#pragma once

#include <cstdint>
#include <string>

#include "encoders.h"
#include "opened_files.h"
#include "progress_meter.h"
#include "status.h"
#include "transcode_plan.h"

namespace norv_engine {

struct PassSetup {
    EncodePass videoPass = EncodePass::Single;
    int64_t videoBitrate = 0;             ///< bits per second of the main video
    std::string statsPath;                ///< libx264/libx265 statistics
    std::string* statsOut = nullptr;      ///< FFmpeg's own encoder: first pass collects
    const std::string* statsIn = nullptr; ///< FFmpeg's own encoder: second pass reads
    std::string outputPath;               ///< empty: a counting muxer
    bool complete = true;                 ///< with trick play and subtitles
    unsigned stage = 0;                   ///< of the progress plan
    StageId stageId = kStageEncoding;
};

/// What a pass wrote.
struct PassFigures {
    uint64_t size = 0;        ///< bytes of the container
    uint64_t payload = 0;     ///< bytes of every stream's packets
    uint64_t videoBytes = 0;  ///< of the main video stream
    uint64_t audioBytes = 0;  ///< of every audio stream
    uint64_t packets = 0;     ///< of every stream
    uint64_t videoFrames = 0; ///< of the main video stream
    double seconds = 0.0;     ///< of the output
};

/// Runs one pass, reading the inputs through files. Aborted when the stop
/// token asked the job to stop.
Status RunPass(const TranscodePlan& plan, const PassSetup& setup, OpenedFiles& files,
               ProgressMeter& progress, PassFigures& figures);

} // namespace norv_engine
