// The engine information object handed out by InitTranscodeEngine.
#pragma once

#include "api/ref_counted_impl.h"
#include "messages/records.h"
#include "norv/engine_info.h"

namespace nvt {

/// Holds the engine's answer to a technical-information request. Filled once
/// by the session that runs the exchange, read-only afterwards; no lock.
class TranscodeEngineInfo final : public nvtl::RefCountedImpl<ITranscodeEngineInfo> {
public:
    TranscodeEngineInfo() = default;

    /// The engine's answer, for the session to parse the response into.
    TBS::TechnicalInfoResponse& Response() { return response_; }
    const TBS::TechnicalInfoResponse& Response() const { return response_; }

    Result GetVersion(std::string& out) override;
    Result GetSupportedProfiles(std::vector<bool>& out) override;
    Result GetSupportedFormats(std::vector<std::string>& out) override;
    Result GetSupportedAudio(std::vector<std::string>& out) override;
    Result GetSupportedSubtitles(std::vector<std::string>& out) override;
    Result GetAcceleration(std::vector<HWAcceleration>& out) override;
    Result GetSupportedOutputCodecs(NorvProfile profile, std::vector<AudioCodec>& out) override;
    const std::map<std::string, uint32_t>& GetLocalSystemCodePages() override;

private:
    TBS::TechnicalInfoResponse response_;
};

} // namespace nvt
