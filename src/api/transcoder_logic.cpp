#include "api/transcoder_logic.h"

#include <new>

#include "api/engine_info.h"
#include "output/custom_preset.h"
#include "output/output_settings.h"
#include "output/transcode_profile.h"
#include "session/transcode_session.h"

namespace nvt {

CNorvTranscoderLogic& GetTranscoderLogic() {
    static CNorvTranscoderLogic logic;
    return logic;
}

Result CNorvTranscoderLogic::InitTranscodeEngine(const WideString& engineLocation,
                                                 const SLoggerParam& loggerParam,
                                                 ITranscodeEngineInfo** out,
                                                 const WideString& technicalDetailsFile) {
    if (engineLocation.empty() || engineLocation[0] == 0) {
        return InvalidArgument;
    }
    try {
        engineLocation_ = engineLocation;
        if (out == nullptr) {
            return SUCCESS; // the engine is started later, by the first session that needs it
        }
        loggerParam_ = loggerParam;
        technicalDetailsFile_ = technicalDetailsFile;
        *out = nullptr;
    } catch (...) {
        return ENG_ERR;
    }

    ITranscodeSession* rawSession = nullptr;
    const Result created = CreateTranscodeSession(&rawSession);
    if (created != SUCCESS) {
        return created;
    }
    nvtl::RefCountedPtr<ITranscodeSession> session(rawSession);
    rawSession->Release(); // the holder keeps the one reference
    auto* concrete = static_cast<TranscodeSession*>(session.get());

    try {
        // The technical-information request never asks the engine to log.
        concrete->SetLoggerParam(SLoggerParam());
        concrete->SetTechnicalDetailsFile(technicalDetailsFile_);

        nvtl::RefCountedPtr<TranscodeEngineInfo> info(new TranscodeEngineInfo());
        const Result result = concrete->GetTechnicalInfo(info.get());
        // The caller receives the info object whatever the exchange's result.
        *out = info.get();
        info->AddRef();
        return result;
    } catch (...) {
        return ENG_ERR;
    }
}

Result CNorvTranscoderLogic::CreateTranscodeSession(ITranscodeSession** out) {
    if (out == nullptr) {
        return InvalidArgument;
    }
    if (!IsInitialised()) {
        return NotAvailable;
    }
    try {
        *out = nullptr;
        nvtl::RefCountedPtr<TranscodeSession> session(new TranscodeSession(engineLocation_));
        if (!loggerParam_.logPath.empty()) {
            session->SetLoggerParam(loggerParam_);
        }
        session->SetTechnicalDetailsFile(technicalDetailsFile_);
        *out = session.get();
        session->AddRef();
    } catch (...) {
        return ENG_ERR;
    }
    return *out != nullptr ? SUCCESS : ENG_ERR;
}

Result
CNorvTranscoderLogic::CreateMediaSource(const WideString& inputFile, int32_t* thumbnailWidth,
                                        int32_t* thumbnailHeight, const WideString& screenshotFile,
                                        std::vector<nvtl::RefCountedPtr<ISourceMedia>>& sources) {
    sources.clear();
    if (inputFile.empty()) {
        return InvalidArgument;
    }
    ITranscodeSession* rawSession = nullptr;
    const Result created = CreateTranscodeSession(&rawSession);
    if (created != SUCCESS) {
        return created;
    }
    nvtl::RefCountedPtr<ITranscodeSession> session(rawSession);
    rawSession->Release();
    // Analysis runs the engine at low priority. Nothing is caught here: an
    // allocation failure during analysis reaches the caller as std::bad_alloc.
    session->SetPriority(TP_Low);
    return session->Analyze(inputFile, thumbnailWidth, thumbnailHeight, screenshotFile, sources);
}

Result CNorvTranscoderLogic::CreateDefaultTranscodeOutputSettings(int32_t profile,
                                                                  ITranscodeOutputSettings** out) {
    if (out == nullptr || profile < 0 || profile >= _NP_count_) {
        return InvalidArgument;
    }
    try {
        *out = nullptr;
        nvtl::RefCountedPtr<TranscodeOutputSettings> settings(new TranscodeOutputSettings(profile));
        *out = settings.get();
        settings->AddRef();
    } catch (...) {
        return ENG_ERR;
    }
    return *out != nullptr ? SUCCESS : ENG_ERR;
}

Result CNorvTranscoderLogic::CreateTranscodeProfile(int32_t profile, double frameRate,
                                                    ITranscodeProfile** out) {
    if (out == nullptr || profile < 0 || profile >= _NP_count_) {
        return InvalidArgument;
    }
    try {
        *out = nullptr;
        nvtl::RefCountedPtr<TranscodeProfile> object(new TranscodeProfile(profile, frameRate));
        *out = object.get();
        object->AddRef();
    } catch (...) {
        return ENG_ERR;
    }
    return *out != nullptr ? SUCCESS : ENG_ERR;
}

Result CNorvTranscoderLogic::CreateCustomPresetFactory(ICustomPresetFactory** out) {
    if (out == nullptr) {
        return InvalidArgument;
    }
    try {
        *out = nullptr;
        nvtl::RefCountedPtr<CustomPresetFactory> factory(new CustomPresetFactory());
        *out = factory.get();
        factory->AddRef();
    } catch (...) {
        return ENG_ERR;
    }
    return *out != nullptr ? SUCCESS : ENG_ERR;
}

} // namespace nvt
