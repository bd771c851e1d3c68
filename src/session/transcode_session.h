// The transcode session: the library's unit of work with the engine.
#pragma once

#include "api/engine_info.h"
#include "api/ref_counted_impl.h"
#include "norv/session.h"

namespace nvt {

// Placeholder until sessions talk to the engine: every engine operation
// answers ENG_NOTIMPL_ERR.
class TranscodeSession final : public nvtl::RefCountedImpl<ITranscodeSession> {
public:
    explicit TranscodeSession(const WideString& engineLocation) : engineLocation_(engineLocation) {}

    Result AddSource(ISourceMedia*) override { return ENG_NOTIMPL_ERR; }
    Result GetSourceCount(int32_t*) override { return ENG_NOTIMPL_ERR; }
    Result GetSource(uint32_t, ISourceMedia**) override { return ENG_NOTIMPL_ERR; }
    Result RemoveSourceAt(uint32_t) override { return ENG_NOTIMPL_ERR; }
    Result RemoveSource(ISourceMedia*) override { return ENG_NOTIMPL_ERR; }
    Result ClearSources() override { return ENG_NOTIMPL_ERR; }
    Result AddExtraSource(ISourceMedia*) override { return ENG_NOTIMPL_ERR; }
    Result GetExtraSourceCount(int32_t*) override { return ENG_NOTIMPL_ERR; }
    Result GetExtraSource(uint32_t, ISourceMedia**) override { return ENG_NOTIMPL_ERR; }
    Result RemoveExtraSourceAt(uint32_t) override { return ENG_NOTIMPL_ERR; }
    Result RemoveExtraSource(ISourceMedia*) override { return ENG_NOTIMPL_ERR; }
    Result ClearExtraSources() override { return ENG_NOTIMPL_ERR; }
    Result SetOutputSettings(ITranscodeOutputSettings*) override { return ENG_NOTIMPL_ERR; }
    Result SetEngineInfo(ITranscodeEngineInfo*) override { return ENG_NOTIMPL_ERR; }
    Result GetOutputProperties(ITranscodeOutputProperties**) override { return ENG_NOTIMPL_ERR; }
    Result Start(const WideString&, ITranscodeProgressCB*) override { return ENG_NOTIMPL_ERR; }
    Result SetPriority(TranscodePriority priority) override {
        priority_ = priority;
        return SUCCESS;
    }
    Result GetState(TranscodeState* out) override {
        if (out == nullptr) {
            return InvalidArgument;
        }
        *out = TS_Pending;
        return SUCCESS;
    }
    Result Cancel() override { return NotAvailable; }
    Result Analyze(const WideString&, int32_t*, int32_t*, const WideString&,
                   std::vector<nvtl::RefCountedPtr<ISourceMedia>>&) override {
        return ENG_NOTIMPL_ERR;
    }
    Result SetLoggerParam(const SLoggerParam& param) override {
        loggerParam_ = param;
        return SUCCESS;
    }

    void SetTechnicalDetailsFile(const WideString& file) { technicalDetailsFile_ = file; }
    Result GetTechnicalInfo(TranscodeEngineInfo*) { return ENG_NOTIMPL_ERR; }

private:
    WideString engineLocation_;
    SLoggerParam loggerParam_;
    WideString technicalDetailsFile_;
    TranscodePriority priority_ = TP_Normal;
};

} // namespace nvt
