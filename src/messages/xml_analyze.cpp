// Archives of the analysis exchange.
#include "messages/record_serialization.h"
#include "messages/xml.h"

namespace TBS {

bool ToXml(const AnalyzeRequest& in, std::string& out) {
    return nvmsg::WriteXml(in, "AnalyzeRequest", out);
}

bool FromXml(const std::string& in, AnalyzeRequest& out) {
    out = AnalyzeRequest();
    return nvmsg::ReadXml(in, "AnalyzeRequest", out);
}

bool ToXml(const AnalyzeResponse& in, std::string& out) {
    return nvmsg::WriteXml(in, "AnalyzeResponse", out);
}

bool FromXml(const std::string& in, AnalyzeResponse& out) {
    out = AnalyzeResponse();
    return nvmsg::ReadXml(in, "AnalyzeResponse", out);
}

} // namespace TBS
