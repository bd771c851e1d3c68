// What a transcode would make, before anything runs: the output settings a
// choice gives for the sources, a session holding them, the properties the
// library derives, and the time this machine's earlier transcodes promise.
// norv preview prints it; norv serve's page shows it as settings change.
#pragma once

#include "common/json_output.h"
#include "common/media.h"
#include "common/settings.h"
#include "timing/estimate.h"

namespace norv {

struct OutputPreview {
    Ptr<nvt::ITranscodeOutputSettings> settings;
    Ptr<nvt::ITranscodeSession> session;
    JobWork work;
    MeasuredEstimate measured; ///< from history
    /// PropertiesJson, the measured estimate, "profile" and "size_limit".
    Json json;
};

/// Throws Failure (a choice the sources cannot take, files that cannot be
/// joined, an output that cannot be derived).
OutputPreview PreviewOutput(const Sources& sources, const OutputChoice& choice,
                            nvt::ITranscodeEngineInfo* info);

} // namespace norv
