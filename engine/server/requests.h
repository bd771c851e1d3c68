// The requests the engine answers, each by a handler that runs as one job on
// the engine's job thread: it reads the request's XML, does the work under
// the job's stop token and sends its replies.
#pragma once

#include <string>

#include "engine_log.h"
#include "messages/xml.h"
#include "replier.h"
#include "sandbox.h"
#include "stop_token.h"

namespace norv_engine {

using RequestHandler = void (*)(const std::string& payload, const StopToken& stop, Replier& reply);

/// The handler of a request type name ("struct TBS::AnalyzeRequest"), or
/// null for a type the engine does not answer.
RequestHandler FindHandler(const std::string& typeName);

/// The type name of the cancel request, which is not a job: it stops the
/// running one.
std::string CancelTypeName();

/// Reads a request's XML into out, applies its logger parameters and
/// confines the engine to the request's files. A request that cannot be
/// read is answered with "error" (false).
template <class Request>
bool ReadRequest(const std::string& payload, Replier& reply, Request& out) {
    if (!TBS::FromXml(payload, out)) {
        reply.SendError();
        return false;
    }
    ConfigureLog(out.loggerParam);
    const JobAccess access = AccessFor(out);
    ConfineToJob(access);
    ProbeSandbox(access);
    return true;
}

void HandleTechnicalInfo(const std::string& payload, const StopToken& stop, Replier& reply);
void HandleAnalyze(const std::string& payload, const StopToken& stop, Replier& reply);
/// Defined with the transcoding work (transcode_job.cpp).
void HandleTranscode(const std::string& payload, const StopToken& stop, Replier& reply);

} // namespace norv_engine
