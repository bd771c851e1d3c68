// The engine information object handed out by InitTranscodeEngine.
#pragma once

#include "api/ref_counted_impl.h"
#include "norv/engine_info.h"

namespace nvt {

// Placeholder until the object holds the engine's technical information.
class TranscodeEngineInfo final : public nvtl::RefCountedImpl<ITranscodeEngineInfo> {
public:
    Result GetVersion(std::string& out) override {
        out.clear();
        return SUCCESS;
    }
    Result GetSupportedProfiles(std::vector<bool>& out) override {
        out.clear();
        return SUCCESS;
    }
    Result GetSupportedFormats(std::vector<std::string>& out) override {
        out.clear();
        return SUCCESS;
    }
    Result GetSupportedAudio(std::vector<std::string>& out) override {
        out.clear();
        return SUCCESS;
    }
    Result GetSupportedSubtitles(std::vector<std::string>& out) override {
        out.clear();
        return SUCCESS;
    }
    Result GetAcceleration(std::vector<HWAcceleration>& out) override {
        out.clear();
        return SUCCESS;
    }
    Result GetSupportedOutputCodecs(NorvProfile, std::vector<AudioCodec>& out) override {
        out.clear();
        return SUCCESS;
    }
    const std::map<std::string, uint32_t>& GetLocalSystemCodePages() override { return pages_; }

private:
    std::map<std::string, uint32_t> pages_;
};

} // namespace nvt
