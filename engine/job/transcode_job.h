// Transcoding: the TranscodeRequest job (its handler is declared with the
// others in requests.h). The job plans the output, runs one pass or two
// (and, when a size limit is exceeded, the last pass again at a lower
// bitrate), moves the output into place and answers with one
// TranscodeResponse.
#pragma once

#include "messages/records.h"
#include "replier.h"
#include "stop_token.h"

namespace norv_engine {

/// Runs the job for request; the response to send. When the token asks the
/// job to stop, the response says Aborted and nothing is left behind.
TBS::TranscodeResponse RunTranscode(const TBS::TranscodeRequest& request, const StopToken& stop,
                                    Replier& reply);

} // namespace norv_engine
