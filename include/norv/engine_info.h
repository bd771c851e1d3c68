// The engine's technical information, as handed out by InitTranscodeEngine.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "norv/enums.h"
#include "norv/refcounted.h"

namespace nvt {

/// Read-only view of the engine's answer to a technical-information request.
/// Every operation that returns a Result returns SUCCESS; vectors and strings
/// replace the caller's contents.
class ITranscodeEngineInfo : public nvtl::IRefCounted {
public:
    virtual Result GetVersion(std::string& out) = 0;
    virtual Result GetSupportedProfiles(std::vector<bool>& out) = 0;
    virtual Result GetSupportedFormats(std::vector<std::string>& out) = 0;
    virtual Result GetSupportedAudio(std::vector<std::string>& out) = 0;
    virtual Result GetSupportedSubtitles(std::vector<std::string>& out) = 0;
    virtual Result GetAcceleration(std::vector<HWAcceleration>& out) = 0;
    /// Empties out, then copies the profile's audio codecs when the engine
    /// named any. SUCCESS either way.
    virtual Result GetSupportedOutputCodecs(NorvProfile profile, std::vector<AudioCodec>& out) = 0;
    /// The engine's local code pages; valid while the object lives.
    virtual const std::map<std::string, uint32_t>& GetLocalSystemCodePages() = 0;
};

} // namespace nvt
