// Transcode sessions and the progress callback an application implements.
#pragma once

#include <cstdint>
#include <vector>

#include "norv/enums.h"
#include "norv/records.h"
#include "norv/refcounted.h"
#include "norv/types.h"

namespace nvt {

class ISourceMedia;
class ITranscodeEngineInfo;
class ITranscodeOutputSettings;
class ITranscodeOutputProperties;

/// Implemented by the application; receives a transcode's events on the
/// session's worker thread (OnCancel on the thread that cancels). Return
/// values are not used.
class ITranscodeProgressCB : public nvtl::IRefCounted {
public:
    /// stageKind is the engine's stage number; 7 also marks the report that
    /// closes a finished source of a join.
    virtual Result OnProgress(ISourceMedia* source, uint32_t countOfStages, uint32_t stage,
                              int32_t stageKind, double progress) = 0;
    virtual Result OnComplete(ISourceMedia* source, const WideString& outputFile) = 0;
    virtual Result OnCancel() = 0;
    virtual Result OnError(ISourceMedia* source, Result code) = 0;
};

/// One unit of work with the engine: sources joined into one output.
/// While the session is busy (not TS_Pending) the setters and Start answer
/// NotAvailable and change nothing.
class ITranscodeSession : public nvtl::IRefCounted {
public:
    /// Appends a source after the join checks against the first one
    /// (Combine_impossible_* codes when they fail).
    virtual Result AddSource(ISourceMedia* source) = 0;
    virtual Result GetSourceCount(int32_t* out) = 0;
    virtual Result GetSource(uint32_t index, ISourceMedia** out) = 0;
    virtual Result RemoveSourceAt(uint32_t index) = 0;
    virtual Result RemoveSource(ISourceMedia* source) = 0;
    virtual Result ClearSources() = 0;
    /// Additional inputs (separate audio and subtitle files); no checks.
    virtual Result AddExtraSource(ISourceMedia* source) = 0;
    virtual Result GetExtraSourceCount(int32_t* out) = 0;
    virtual Result GetExtraSource(uint32_t index, ISourceMedia** out) = 0;
    virtual Result RemoveExtraSourceAt(uint32_t index) = 0;
    virtual Result RemoveExtraSource(ISourceMedia* source) = 0;
    virtual Result ClearExtraSources() = 0;
    virtual Result SetOutputSettings(ITranscodeOutputSettings* settings) = 0;
    virtual Result SetEngineInfo(ITranscodeEngineInfo* info) = 0;
    /// What the output would be like with the current sources and settings.
    virtual Result GetOutputProperties(ITranscodeOutputProperties** out) = 0;
    /// Starts the transcode into outputFile; events go to callback (may be null).
    virtual Result Start(const WideString& outputFile, ITranscodeProgressCB* callback) = 0;
    /// Priority of the engine process; takes effect at the next connection.
    virtual Result SetPriority(TranscodePriority priority) = 0;
    virtual Result GetState(TranscodeState* out) = 0;
    /// Cancels a run and waits for the engine to acknowledge it.
    virtual Result Cancel() = 0;
    /// Analyses inputFile and appends one source per analysed file.
    virtual Result Analyze(const WideString& inputFile, int32_t* thumbnailWidth,
                           int32_t* thumbnailHeight, const WideString& screenshotFile,
                           std::vector<nvtl::RefCountedPtr<ISourceMedia>>& sources) = 0;
    virtual Result SetLoggerParam(const SLoggerParam& param) = 0;
};

} // namespace nvt
