// The engine object: one per process, factory of every top-level object the
// caller holds. It keeps only the engine location, the logging parameters
// and the technical-details file.
#pragma once

#include <vector>

#include "norv/transcoder.h"

namespace nvt {

/// The engine object's operations, in the order the entry points use them.
class INorvTranscoderLogicInterface {
public:
    virtual Result CreateMediaSource(const WideString& inputFile, int32_t* thumbnailWidth,
                                     int32_t* thumbnailHeight, const WideString& screenshotFile,
                                     std::vector<nvtl::RefCountedPtr<ISourceMedia>>& sources) = 0;
    virtual Result CreateTranscodeSession(ITranscodeSession** out) = 0;
    virtual Result CreateDefaultTranscodeOutputSettings(int32_t profile,
                                                        ITranscodeOutputSettings** out) = 0;
    virtual Result CreateTranscodeProfile(int32_t profile, double frameRate,
                                          ITranscodeProfile** out) = 0;
    virtual Result InitTranscodeEngine(const WideString& engineLocation,
                                       const SLoggerParam& loggerParam, ITranscodeEngineInfo** out,
                                       const WideString& technicalDetailsFile) = 0;
    virtual Result CreateCustomPresetFactory(ICustomPresetFactory** out) = 0;

protected:
    ~INorvTranscoderLogicInterface() = default;
};

class CNorvTranscoderLogic : public INorvTranscoderLogicInterface {
public:
    CNorvTranscoderLogic() = default;
    virtual ~CNorvTranscoderLogic() = default;

    Result CreateMediaSource(const WideString& inputFile, int32_t* thumbnailWidth,
                             int32_t* thumbnailHeight, const WideString& screenshotFile,
                             std::vector<nvtl::RefCountedPtr<ISourceMedia>>& sources) override;
    Result CreateTranscodeSession(ITranscodeSession** out) override;
    Result CreateDefaultTranscodeOutputSettings(int32_t profile,
                                                ITranscodeOutputSettings** out) override;
    Result CreateTranscodeProfile(int32_t profile, double frameRate,
                                  ITranscodeProfile** out) override;
    Result InitTranscodeEngine(const WideString& engineLocation, const SLoggerParam& loggerParam,
                               ITranscodeEngineInfo** out,
                               const WideString& technicalDetailsFile) override;
    Result CreateCustomPresetFactory(ICustomPresetFactory** out) override;

private:
    bool IsInitialised() const { return !engineLocation_.empty() && engineLocation_[0] != 0; }

    WideString engineLocation_;
    SLoggerParam loggerParam_;
    WideString technicalDetailsFile_;
};

/// The process's engine object, constructed on first use and destroyed at
/// process exit.
CNorvTranscoderLogic& GetTranscoderLogic();

} // namespace nvt
