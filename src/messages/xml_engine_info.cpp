// Archives of the technical-information exchange, the transcode's progress,
// end and cancel messages, and the engine's command-line record.
#include "messages/record_serialization.h"
#include "messages/xml.h"

namespace TBS {

bool ToXml(const TechnicalInfoRequest& in, std::string& out) {
    return nvmsg::WriteXml(in, "TechnicalInfoRequest", out);
}

bool FromXml(const std::string& in, TechnicalInfoRequest& out) {
    out = TechnicalInfoRequest();
    return nvmsg::ReadXml(in, "TechnicalInfoRequest", out);
}

bool ToXml(const TechnicalInfoResponse& in, std::string& out) {
    return nvmsg::WriteXml(in, "TechnicalInfoResponse", out);
}

bool FromXml(const std::string& in, TechnicalInfoResponse& out) {
    out = TechnicalInfoResponse();
    return nvmsg::ReadXml(in, "TechnicalInfoResponse", out);
}

bool ToXml(const TranscodeResponse& in, std::string& out) {
    return nvmsg::WriteXml(in, "TranscodeResponse", out);
}

bool FromXml(const std::string& in, TranscodeResponse& out) {
    out = TranscodeResponse();
    return nvmsg::ReadXml(in, "TranscodeResponse", out);
}

bool ToXml(const ProgressResponse& in, std::string& out) {
    return nvmsg::WriteXml(in, "ProgressResponse", out);
}

bool FromXml(const std::string& in, ProgressResponse& out) {
    out = ProgressResponse();
    return nvmsg::ReadXml(in, "ProgressResponse", out);
}

bool ToXml(const CancelTranscodingRequest& in, std::string& out) {
    return nvmsg::WriteXml(in, "CancelTranscodingRequest", out);
}

bool FromXml(const std::string& in, CancelTranscodingRequest& out) {
    out = CancelTranscodingRequest();
    return nvmsg::ReadXml(in, "CancelTranscodingRequest", out);
}

bool ToXml(const CmdLineParams& in, std::string& out) {
    return nvmsg::WriteXml(in, "CmdLineParams", out);
}

bool FromXml(const std::string& in, CmdLineParams& out) {
    out = CmdLineParams();
    return nvmsg::ReadXml(in, "CmdLineParams", out);
}

} // namespace TBS
