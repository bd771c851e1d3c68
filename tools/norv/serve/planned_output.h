// What a job of the page makes, with its quality target: the video bitrate
// is first chosen by a probe of the title, as norv preview and norv
// transcode choose it under --quality.
#pragma once

#include <optional>
#include <string>

#include "common/json_output.h"
#include "common/media.h"
#include "quality/probe.h"
#include "quality/rate_quality.h"
#include "serve/job_runner.h"
#include "timing/preview.h"

namespace norv {

struct PlannedOutput {
    /// For the choice with the chosen bitrate; under a target its json's
    /// "video_kbps" and "estimated_size" are the plan's, and its
    /// "quality" is quality.
    OutputPreview preview;
    /// Null without a target; else the plan's facts (QualityJson) with its
    /// "predicted_size" and its "notes" as people read them.
    Json quality;
};

/// The output sources make under choice; with a target, probed first (one
/// probe at a time; a title probed before comes from the probe cache). The
/// probe is named by label; listener, when set, hears where it is, at most
/// every kPageProgressPeriod within a step; stopRequested, when set, stops
/// it soon after it turns true. Throws Failure (Aborted when stopped).
PlannedOutput PlanOutput(const Sources& sources, OutputChoice choice,
                         const std::optional<QualityTarget>& target, const ServeContext& context,
                         const std::string& label, const ProbeListener& listener = ProbeListener(),
                         const StopCheck& stopRequested = StopCheck());

} // namespace norv
