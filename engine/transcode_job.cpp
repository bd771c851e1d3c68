#include "transcode_job.h"

namespace norv_engine {

// Transcoding is not available yet: the request is answered at once, the
// way the library expects every transcode to end, with the result that says
// so. A cancel that arrived first makes it the cancelled result.
void HandleTranscode(const std::string& payload, const StopToken& stop, Replier& reply) {
    TBS::TranscodeRequest request;
    if (!ReadRequest(payload, reply, request)) {
        return;
    }
    TBS::TranscodeResponse response;
    if (stop.Cancelled()) {
        response.resultID = static_cast<unsigned>(nvt::Aborted);
        response.resultDescription = "cancelled";
    } else {
        response.resultID = static_cast<unsigned>(nvt::ENG_NOTIMPL_ERR);
        response.resultDescription = "transcoding is not available in this engine";
    }
    LogLine(Severity::Info, "transcode to %s: %s", request.outputFile.c_str(),
            response.resultDescription.c_str());
    reply.Send(response);
}

} // namespace norv_engine
