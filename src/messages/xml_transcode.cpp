// Archives of the transcode order and of stored presets.
#include "messages/record_serialization.h"
#include "messages/xml.h"

namespace TBS {

bool ToXml(const TranscodeRequest& in, std::string& out) {
    return nvmsg::WriteXml(in, "TranscodeRequest", out);
}

bool FromXml(const std::string& in, TranscodeRequest& out) {
    out = TranscodeRequest();
    return nvmsg::ReadXml(in, "TranscodeRequest", out);
}

} // namespace TBS

namespace nvt {

bool ToXml(const CustomPresetData& in, std::string& out) {
    return nvmsg::WriteXml(in, "CustomPresetData", out);
}

bool FromXml(const std::string& in, CustomPresetData& out) {
    // A preset read from text starts as "no profile".
    out = CustomPresetData(_NP_count_);
    return nvmsg::ReadXml(in, "CustomPresetData", out);
}

} // namespace nvt
