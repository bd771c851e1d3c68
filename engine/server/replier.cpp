#include "replier.h"

#include "engine_log.h"
#include "messages/xml.h"

namespace norv_engine {

namespace {
constexpr char kSender[] = "NorvEngine";
} // namespace

std::string TypeName(const char* record) {
    return std::string("struct TBS::") + record;
}

template <class Record> bool Replier::SendRecord(const Record& record, const char* name) {
    std::string xml;
    if (!TBS::ToXml(record, xml)) {
        LogLine(Severity::Error, "cannot write the %s record", name);
        return SendError();
    }
    return SendText(TypeName(name), xml);
}

bool Replier::Send(const TBS::TechnicalInfoResponse& record) {
    return SendRecord(record, "TechnicalInfoResponse");
}

bool Replier::Send(const TBS::AnalyzeResponse& record) {
    return SendRecord(record, "AnalyzeResponse");
}

bool Replier::Send(const TBS::ProgressResponse& record) {
    return SendRecord(record, "ProgressResponse");
}

bool Replier::Send(const TBS::TranscodeResponse& record) {
    return SendRecord(record, "TranscodeResponse");
}

bool Replier::SendError() {
    return SendText("error", std::string());
}

bool Replier::SendExit() {
    return SendText("exit", std::string());
}

bool Replier::SendText(const std::string& topicRest, const std::string& payload) {
    const bool sent = channel_->Send(std::string(kSender), nvds::kResponseTopicPrefix + topicRest,
                                     static_cast<uint32_t>(payload.size()),
                                     payload.empty() ? nullptr : payload.data(), nullptr);
    LogLine(sent ? Severity::Debug : Severity::Warning, "%s %s (%zu bytes)",
            sent ? "sent" : "could not send", topicRest.c_str(), payload.size());
    return sent;
}

} // namespace norv_engine
