#include "transcode_job.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "encoders.h"
#include "engine_log.h"
#include "norv/enum_names.h"
#include "output_file.h"
#include "progress_meter.h"
#include "requests.h"
#include "size_budget.h"
#include "transcode_pass.h"
#include "transcode_plan.h"

namespace norv_engine {

namespace {

// Tries of the last pass for an output that came out above its limit.
constexpr int kLimitTries = 3;

// What the bar holds back while a size check may send the job back: of a
// copy, which an encode of the whole would follow, half; of an encode,
// which would be tried again a little lower, a tenth.
constexpr double kCopyCheckReserve = 0.5;
constexpr double kEncodeCheckReserve = 0.1;

// The share of a two-pass job's work its first pass takes. x264 makes a
// quicker first pass of its own, but reading and decoding the source costs
// as much in both passes, which for a detailed source is much of the work
// (0.41 and 0.44 of the job for two H.264 profiles on 720p noisy clips);
// x265's first pass and FFmpeg's own MPEG-4 encoder's take about as long as
// their second (measured on 720p noisy clips: 0.51 and 0.52 of the job).
double FirstPassShare(const char* encoder) {
    return std::strcmp(encoder, "libx264") == 0 ? 0.42 : 0.5;
}

bool KeepsOwnStatistics(const char* encoder) {
    return std::strcmp(encoder, "libx264") == 0 || std::strcmp(encoder, "libx265") == 0;
}

TBS::TranscodeResponse Answer(nvt::Result result, const std::string& text) {
    TBS::TranscodeResponse response;
    response.resultID = static_cast<unsigned>(static_cast<int32_t>(result));
    response.resultDescription = text;
    return response;
}

class Job {
public:
    Job(const TBS::TranscodeRequest& request, const StopToken& stop, Replier& reply)
        : request_(request), reply_(reply), files_(stop) {}

    /// The outcome; on success, summary tells what was written.
    Status Run(std::string& summary);

private:
    Status Passes(ProgressMeter& progress, PassFigures& written);

    const TBS::TranscodeRequest& request_;
    Replier& reply_;
    OpenedFiles files_; ///< every input, opened once for the plan and the passes
    TranscodePlan plan_;
    OutputFile output_;
};

Status Job::Passes(ProgressMeter& progress, PassFigures& written) {
    const bool twoPass = plan_.video.twoPass;
    const char* encoder = plan_.recipe->videoEncoder;
    if (twoPass) {
        const double first = FirstPassShare(encoder);
        progress.Plan({first, 1.0 - first});
    } else {
        progress.Plan({1.0});
    }
    progress.SetPrior(plan_.durationKnown ? plan_.expectedSeconds * (twoPass ? 1.5 : 1.0) : 0.0);
    // A copy is held to the limit asked for; an encode to the limit the
    // derivation could reach.
    const uint64_t limit = plan_.video.copy ? plan_.size.requestedLimit : plan_.size.sizeLimit;
    if (limit != 0) {
        progress.HoldBack(plan_.video.copy ? kCopyCheckReserve : kEncodeCheckReserve);
    }
    OtherCosts costs = PredictCosts(plan_);
    int64_t bitrate = VideoBitrate(plan_, costs);
    std::string memoryStats; // FFmpeg's own encoder keeps them here
    PassSetup last;
    last.outputPath = output_.WorkPath();
    last.stage = twoPass ? 1 : 0;
    const bool copyOnly =
        plan_.video.copy && std::all_of(plan_.audio.begin(), plan_.audio.end(),
                                        [](const AudioPlan& a) { return a.copy; });
    last.stageId = copyOnly ? kStageCopying : kStageEncoding;
    int64_t floor = 0; // the least bitrate the second pass takes
    if (twoPass) {
        PassSetup first;
        first.videoPass = EncodePass::First;
        first.videoBitrate = bitrate;
        first.complete = false;
        first.stage = 0;
        first.stageId = kStageAnalysisPass;
        if (KeepsOwnStatistics(encoder)) {
            first.statsPath = output_.ScratchPath("stats");
        } else {
            first.statsOut = &memoryStats;
        }
        PassFigures measured;
        Status result = RunPass(plan_, first, files_, progress, measured);
        if (!result.ok()) {
            return result;
        }
        costs = MeasuredCosts(plan_, measured);
        bitrate = VideoBitrate(plan_, costs);
        last.videoPass = EncodePass::Second;
        last.statsPath = first.statsPath;
        last.statsIn = &memoryStats;
        floor = SecondPassFloor(encoder, &memoryStats, plan_.video.frameRate);
        const int64_t fills = BitrateAtLimit(plan_, costs);
        if (limit != 0 && floor > fills) {
            return {nvt::ENG_OUTOFRANGE_ERR,
                    "these pictures take at least " + std::to_string(floor) +
                        " bit/s in a second pass, above the " + std::to_string(fills) +
                        " bit/s the size limit of " + std::to_string(limit) + " bytes leaves"};
        }
    }
    LogLine(Severity::Info,
            "aiming at %llu bytes: video %lld bit/s, audio %llu, trick %llu, container %llu bytes "
            "over %.2f s",
            static_cast<unsigned long long>(TargetBytes(plan_, costs)),
            static_cast<long long>(bitrate), static_cast<unsigned long long>(costs.audioBytes),
            static_cast<unsigned long long>(costs.trickBytes),
            static_cast<unsigned long long>(costs.containerBytes), costs.seconds);
    for (int attempt = 1;; ++attempt) {
        last.videoBitrate = bitrate;
        written = PassFigures();
        Status result = RunPass(plan_, last, files_, progress, written);
        if (!result.ok()) {
            return result;
        }
        if (limit == 0 || written.size <= limit) {
            return {};
        }
        if (plan_.video.copy) {
            return {nvt::ENG_OUTOFRANGE_ERR,
                    "the copied streams take " + std::to_string(written.size) +
                        " bytes, above the limit of " + std::to_string(limit)};
        }
        const std::string above =
            "the output stays above its size limit of " + std::to_string(limit) + " bytes";
        const int64_t reduced = ReducedVideoBitrate(plan_, bitrate, written);
        // A second pass takes no less than its floor: a try that cannot go
        // lower would write the same again.
        if (std::max(reduced, floor) >= std::max(bitrate, floor)) {
            return {nvt::ENG_OUTOFRANGE_ERR, above + ": the encoder takes no less than " +
                                                 std::to_string(std::max(bitrate, floor)) +
                                                 " bit/s for these pictures"};
        }
        if (attempt == kLimitTries) {
            return {nvt::ENG_OUTOFRANGE_ERR, above};
        }
        bitrate = reduced;
        LogLine(Severity::Warning, "%llu bytes is above the limit of %llu; again at %lld bit/s",
                static_cast<unsigned long long>(written.size),
                static_cast<unsigned long long>(limit), static_cast<long long>(bitrate));
        output_.DiscardWork();
        // The re-encode is the last pass again, under its number: the bar
        // goes on from where it stands.
        progress.RetryLastStage();
    }
}

Status Job::Run(std::string& summary) {
    ProgressMeter progress(reply_, static_cast<unsigned>(request_.inputFiles.size()), 0.0);
    if (!request_.inputFiles.empty()) {
        // Opening and planning may take a while (a long list of files): the
        // application hears of the job at once, with the stages the request
        // asks for.
        const nvt::CustomPresetData& preset = request_.CustomPresetData;
        const bool twoPass = preset.enableVideo2passEncoding ||
                             (preset.prio == nvt::prioFilesize && preset.fileSizeLimit != 0);
        progress.Plan(twoPass ? std::vector<double>{0.5, 0.5} : std::vector<double>{1.0});
        ProgressCounters start;
        start.file = request_.inputFiles.front();
        progress.Update(0.0, start, true);
    }
    Status result = MakePlan(request_, files_, plan_);
    if (result.ok()) {
        result = output_.Prepare(plan_.output, plan_.tempDir, plan_.useTempDir);
    }
    if (!result.ok()) {
        return result;
    }
    PassFigures written;
    result = Passes(progress, written);
    if (result.code == nvt::ENG_OUTOFRANGE_ERR && plan_.video.copy) {
        LogLine(Severity::Warning, "%s; the video is encoded instead", result.why.c_str());
        output_.DiscardWork();
        result = EncodeVideoInstead(plan_);
        if (result.ok()) {
            result = Passes(progress, written);
        }
    }
    if (result.ok()) {
        result = output_.Commit();
    }
    if (!result.ok()) {
        return result;
    }
    ProgressCounters end;
    end.fileNum = static_cast<unsigned>(plan_.sourceCount);
    end.file = plan_.files.back().path;
    end.videoFrames = written.videoFrames;
    end.bytesWritten = written.size;
    progress.Finish(end);
    char text[256];
    std::snprintf(text, sizeof text, "%llu bytes in %.2f s of output (preview: %llu bytes)",
                  static_cast<unsigned long long>(written.size), written.seconds,
                  static_cast<unsigned long long>(plan_.size.estimatedSize));
    summary = text;
    LogLine(Severity::Info, "%u file(s) opened for the job", files_.Opens());
    return {};
}

} // namespace

TBS::TranscodeResponse RunTranscode(const TBS::TranscodeRequest& request, const StopToken& stop,
                                    Replier& reply) {
    Status outcome;
    std::string summary;
    {
        Job job(request, stop, reply);
        outcome = job.Run(summary); // the job's files are gone once it is
    }
    const nvt::Result result = outcome.code;
    const std::string& text = outcome.ok() ? summary : outcome.why;
    if (stop.StopRequested()) {
        return Answer(nvt::Aborted, "cancelled");
    }
    if (result != nvt::SUCCESS) {
        LogLine(Severity::Error, "transcode to %s failed: %s (%s)", request.outputFile.c_str(),
                nvt::EnumName<nvt::Result>(result), text.c_str());
        return Answer(result, text);
    }
    LogLine(Severity::Info, "transcode to %s: %s", request.outputFile.c_str(), text.c_str());
    return Answer(nvt::SUCCESS, text);
}

void HandleTranscode(const std::string& payload, const StopToken& stop, Replier& reply) {
    TBS::TranscodeRequest request;
    if (!ReadRequest(payload, reply, request)) {
        return;
    }
    LogLine(Severity::Info, "transcoding %zu source(s) to %s", request.inputFiles.size(),
            request.outputFile.c_str());
    const TBS::TranscodeResponse response = RunTranscode(request, stop, reply);
    // When the pipes closed there is nobody to answer.
    if (stop.Cancelled() || !stop.StopRequested()) {
        reply.Send(response);
    }
}

} // namespace norv_engine
