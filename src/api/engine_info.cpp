#include "api/engine_info.h"

#include <type_traits>

namespace nvt {

namespace {

// Assigns a copy; an allocation failure is reported instead of thrown.
template <class T> Result CopyOut(const T& value, T& out) {
    try {
        out = value;
    } catch (...) {
        return ENG_ERR;
    }
    return SUCCESS;
}

} // namespace

Result TranscodeEngineInfo::GetVersion(std::string& out) {
    return CopyOut(response_.sVersion, out);
}

Result TranscodeEngineInfo::GetSupportedProfiles(std::vector<bool>& out) {
    return CopyOut(response_.vecSupportedProfiles, out);
}

Result TranscodeEngineInfo::GetSupportedFormats(std::vector<std::string>& out) {
    return CopyOut(response_.vecSupportedFormats, out);
}

Result TranscodeEngineInfo::GetSupportedAudio(std::vector<std::string>& out) {
    return CopyOut(response_.vecSupportedAudio, out);
}

Result TranscodeEngineInfo::GetSupportedSubtitles(std::vector<std::string>& out) {
    return CopyOut(response_.vecSupportedSubtitles, out);
}

Result TranscodeEngineInfo::GetAcceleration(std::vector<HWAcceleration>& out) {
    return CopyOut(response_.vecAcceleration, out);
}

Result TranscodeEngineInfo::GetSupportedOutputCodecs(NorvProfile profile,
                                                     std::vector<AudioCodec>& out) {
    out.clear();
    const auto found = response_.mapSupportedOutputCodecs.find(profile);
    if (found == response_.mapSupportedOutputCodecs.end()) {
        return SUCCESS;
    }
    return CopyOut(found->second, out);
}

const std::map<std::string, uint32_t>& TranscodeEngineInfo::GetLocalSystemCodePages() {
    static_assert(std::is_same<decltype(response_.mapLocalSystemCodePages),
                               std::map<std::string, uint32_t>>::value,
                  "the code page map is handed out as it is held");
    return response_.mapLocalSystemCodePages;
}

} // namespace nvt
