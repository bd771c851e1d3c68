#include "requests.h"

#include "analysis.h"
#include "technical_info.h"

namespace norv_engine {

RequestHandler FindHandler(const std::string& typeName) {
    static const std::pair<const char*, RequestHandler> kHandlers[] = {
        {"TechnicalInfoRequest", &HandleTechnicalInfo},
        {"AnalyzeRequest", &HandleAnalyze},
        {"TranscodeRequest", &HandleTranscode},
    };
    for (const auto& entry : kHandlers) {
        if (typeName == TypeName(entry.first)) {
            return entry.second;
        }
    }
    return nullptr;
}

std::string CancelTypeName() {
    return TypeName("CancelTranscodingRequest");
}

void HandleTechnicalInfo(const std::string& payload, const StopToken& stop, Replier& reply) {
    TBS::TechnicalInfoRequest request;
    if (!ReadRequest(payload, reply, request)) {
        return;
    }
    const TBS::TechnicalInfoResponse info = TechnicalInfo();
    if (!request.technicalDetailsFile.empty() &&
        !WriteTechnicalDetails(request.technicalDetailsFile, info)) {
        LogLine(Severity::Error, "cannot write the technical details to %s",
                request.technicalDetailsFile.c_str());
    }
    if (!stop.StopRequested()) {
        reply.Send(info);
    }
}

void HandleAnalyze(const std::string& payload, const StopToken& stop, Replier& reply) {
    TBS::AnalyzeRequest request;
    if (!ReadRequest(payload, reply, request)) {
        return;
    }
    const TBS::AnalyzeResponse response = Analyze(request, stop);
    if (!stop.StopRequested()) {
        reply.Send(response);
    }
}

} // namespace norv_engine
