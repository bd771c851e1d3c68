// The seven exported entry points. Each forwards to the engine object and
// returns its result unchanged.
#include "api/transcoder_logic.h"

using nvt::GetTranscoderLogic;

extern "C" {

NORV_API nvt::Result InitTranscodeEngine(const nvt::WideString& engineLocation,
                                         const nvt::SLoggerParam& loggerParam,
                                         nvt::ITranscodeEngineInfo** engineInfo,
                                         nvt::WideString technicalDetailsFile) {
    return GetTranscoderLogic().InitTranscodeEngine(engineLocation, loggerParam, engineInfo,
                                                    technicalDetailsFile);
}

NORV_API nvt::Result
CreateMediaSource(const nvt::WideString& inputFile,
                  std::vector<nvtl::RefCountedPtr<nvt::ISourceMedia>>& sources) {
    int32_t width = 0;
    int32_t height = 0;
    return GetTranscoderLogic().CreateMediaSource(inputFile, &width, &height, nvt::WideString(),
                                                  sources);
}

NORV_API nvt::Result
CreateMediaSourceEx(const nvt::WideString& inputFile, int32_t* thumbnailWidth,
                    int32_t* thumbnailHeight, const nvt::WideString& screenshotFile,
                    std::vector<nvtl::RefCountedPtr<nvt::ISourceMedia>>& sources) {
    return GetTranscoderLogic().CreateMediaSource(inputFile, thumbnailWidth, thumbnailHeight,
                                                  screenshotFile, sources);
}

NORV_API nvt::Result
CreateDefaultTranscodeOutputSettings(nvt::NorvProfile profile,
                                     nvt::ITranscodeOutputSettings** settings) {
    return GetTranscoderLogic().CreateDefaultTranscodeOutputSettings(profile, settings);
}

NORV_API nvt::Result CreateTranscodeProfile(nvt::NorvProfile profile, double frameRate,
                                            nvt::ITranscodeProfile** profileOut) {
    return GetTranscoderLogic().CreateTranscodeProfile(profile, frameRate, profileOut);
}

NORV_API nvt::Result CreateTranscodeSession(nvt::ITranscodeSession** session) {
    return GetTranscoderLogic().CreateTranscodeSession(session);
}

NORV_API nvt::Result CreateCustomPresetFactory(nvt::ICustomPresetFactory** factory) {
    return GetTranscoderLogic().CreateCustomPresetFactory(factory);
}

} // extern "C"
