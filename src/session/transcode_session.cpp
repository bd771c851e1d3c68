#include "session/transcode_session.h"

#include <algorithm>
#include <new>
#include <utility>

#include "media/analysis.h"
#include "media/join_rule.h"
#include "messages/xml.h"
#include "output/output_properties.h"
#include "output/output_settings.h"
#include "platform/com_apartment.h"
#include "platform/text.h"
#include "session/derivation_inputs.h"
#include "session/joined_files.h"
#include "session/request_builder.h"
#include "session/session_topics.h"

namespace nvt {

namespace {

/// Clears the analysis target however Analyze ends.
class AnalysisTargetScope {
public:
    explicit AnalysisTargetScope(nvtl::RefCountedPtr<SourceMedia>& target) : target_(target) {}
    ~AnalysisTargetScope() { target_.reset(); }
    AnalysisTargetScope(const AnalysisTargetScope&) = delete;
    AnalysisTargetScope& operator=(const AnalysisTargetScope&) = delete;

private:
    nvtl::RefCountedPtr<SourceMedia>& target_;
};
} // namespace

// ---- construction ----------------------------------------------------------

TranscodeSession::TranscodeSession(const WideString& engineLocation)
    : engineLocationUtf8_(WideToUtf8(engineLocation)),
      launchEngine_(engineLocationUtf8_.empty() || engineLocationUtf8_[0] != ':'),
      worker_(&TranscodeSession::WorkerRoutine, this, 0, 2) {}

TranscodeSession::~TranscodeSession() {
    try {
        CancelRun();
    } catch (...) {
        // A destructor reports nothing.
    }
    worker_.Stop();
    // The channel delivers into this object's queue from its reader thread:
    // it goes before the queue does.
    nvtl::RefCountedPtr<nvds::INorvIPC> channel;
    {
        nvpm::MutexLock guard(lock_);
        channel = std::move(channel_);
    }
    channel.reset();
}

// ---- settings --------------------------------------------------------------

Result TranscodeSession::SetOutputSettings(ITranscodeOutputSettings* settings) {
    if (IsBusy()) {
        return NotAvailable;
    }
    if (settings == nullptr) {
        return InvalidArgument;
    }
    outputSettings_ = settings;
    return SUCCESS;
}

Result TranscodeSession::SetEngineInfo(ITranscodeEngineInfo* info) {
    if (IsBusy()) {
        return NotAvailable;
    }
    if (info == nullptr) {
        return InvalidArgument;
    }
    engineInfo_ = info;
    return SUCCESS;
}

Result TranscodeSession::SetPriority(TranscodePriority priority) {
    priority_.store(priority);
    return SUCCESS;
}

Result TranscodeSession::SetLoggerParam(const SLoggerParam& param) {
    try {
        loggerParam_ = param;
    } catch (...) {
        return ENG_ERR;
    }
    return SUCCESS;
}

Result TranscodeSession::GetState(TranscodeState* out) {
    if (out == nullptr) {
        return InvalidArgument;
    }
    nvpm::MutexLock guard(lock_);
    *out = state_.load();
    return SUCCESS;
}

uint64_t TranscodeSession::TotalSourceDurationMs() const {
    return TotalDurationMs(sources_);
}

Result TranscodeSession::GetOutputProperties(ITranscodeOutputProperties** out) {
    if (out == nullptr) {
        return InvalidArgument;
    }
    if (sources_.empty() || !outputSettings_ || !engineInfo_) {
        return NotAvailable;
    }
    try {
        nvtl::RefCountedPtr<TranscodeOutputProperties> properties(new TranscodeOutputProperties());
        properties->Values().estimatedTime = static_cast<int32_t>(lastTimeRemaining_.load());
        Result result = SUCCESS;
        if (!IsBusy()) {
            // During a run the estimate is the engine's last reported time.
            const TranscodeOutputSettings* settings =
                TranscodeOutputSettings::FromInterface(outputSettings_.get());
            if (settings == nullptr || !sources_.front()) {
                result = InvalidArgument;
            } else {
                OutputPropertyValues values = properties->Values();
                result = DeriveOutputProperties(*sources_.front(), extraSources_,
                                                TotalSourceDurationMs(), *settings,
                                                engineInfo_.get(), values);
                if (result == SUCCESS) {
                    properties->Values() = values;
                    lastTimeRemaining_.store(static_cast<uint32_t>(values.estimatedTime));
                }
            }
        }
        *out = properties.get();
        properties->AddRef();
        return result;
    } catch (...) {
        return ENG_ERR;
    }
}

Result TranscodeSession::Analyze(const WideString& inputFile, int32_t* thumbnailWidth,
                                 int32_t* thumbnailHeight, const WideString& screenshotFile,
                                 std::vector<nvtl::RefCountedPtr<ISourceMedia>>& sources) {
    if (IsBusy()) {
        return NotAvailable;
    }
    try {
        nvtl::RefCountedPtr<SourceMedia> source(new SourceMedia(inputFile));
        doneFlag_.store(false);
        if (!ConnectEngine()) {
            return ENG_ERR;
        }
        AnalysisTargetScope scope(analysisTarget_);
        analysisTarget_ = source.get();
        analysisAnswered_ = false;
        analysisResult_ = SUCCESS;

        TBS::AnalyzeRequest request;
        request.inputFile = WideToUtf8(inputFile);
        request.screenshotFilename = WideToUtf8(screenshotFile);
        request.widthThumbnailMax = thumbnailWidth != nullptr ? *thumbnailWidth : 0;
        request.heightThumbnailMax = thumbnailHeight != nullptr ? *thumbnailHeight : 0;
        request.loggerParam = loggerParam_;
        if (!SendRequest(request, kAnalyzeRequestType)) {
            return ENG_ERR;
        }
        WaitForReply();

        // An exchange that ended without an answer ("error", "exit", a
        // broken pipe) analysed nothing.
        if (!analysisAnswered_) {
            return ENG_ERR;
        }
        if (thumbnailWidth != nullptr) {
            *thumbnailWidth = thumbnailWidth_;
        }
        if (thumbnailHeight != nullptr) {
            *thumbnailHeight = thumbnailHeight_;
        }
        const Result result = analysisResult_;
        if (AnalysisDeliversSources(result)) {
            AppendAnalysedSources(*source, sources);
        }
        return result;
    } catch (const std::bad_alloc&) {
        throw; // an allocation failure during analysis reaches the caller
    } catch (...) {
        return ENG_ERR;
    }
}

// ---- transcoding -----------------------------------------------------------

Result TranscodeSession::Start(const WideString& outputFile, ITranscodeProgressCB* callback) {
    if (IsBusy()) {
        return NotAvailable;
    }
    if (outputFile.empty()) {
        return InvalidArgument;
    }
    if (sources_.empty() || !outputSettings_) {
        return NotAvailable;
    }
    Result result = ENG_ERR;
    try {
        outputFile_ = outputFile;
        {
            nvpm::MutexLock guard(lock_);
            progressCallback_ = callback;
        }
        result = StartTranscode();
    } catch (...) {
        result = ENG_ERR;
    }
    if (result != SUCCESS) {
        // The run never started: the callback hears of it once, and is not
        // kept for a later OnCancel.
        nvtl::RefCountedPtr<ITranscodeProgressCB> taken;
        {
            nvpm::MutexLock guard(lock_);
            taken = std::move(progressCallback_);
        }
        if (taken) {
            try {
                taken->OnError(sources_.front().get(), result);
            } catch (...) {
                // What the caller's callback throws stays on this side.
            }
        }
    }
    return result;
}

Result TranscodeSession::StartTranscode() {
    const TranscodeOutputSettings* settings =
        TranscodeOutputSettings::FromInterface(outputSettings_.get());
    if (settings == nullptr) {
        return ENG_ERR;
    }
    TBS::TranscodeRequest request;
    if (!BuildTranscodeRequest(*settings, sources_, extraSources_, outputFile_, loggerParam_,
                               request)) {
        return ENG_ERR;
    }
    // A new run starts clean, also on a session reused after Cancel.
    doneFlag_.store(false);
    currentFileIndex_ = 0;
    lastProgress_ = TBS::ProgressResponse();
    if (!ConnectEngine()) {
        return ENG_ERR;
    }
    if (!SendRequest(request, kTranscodeRequestType)) {
        return ENG_ERR;
    }
    SetState(TS_Running);
    worker_.Stop(); // joins the thread of an earlier, finished run
    worker_.Start();
    return SUCCESS;
}

void TranscodeSession::WorkerRoutine(std::atomic<bool>* /*stopFlag*/, void* userData,
                                     int32_t /*value*/) {
    // The routine ends through the done flag or a broken pipe, never through
    // the stop flag: a run is only left once the engine has answered. COM is
    // there for the caller's callbacks, which run on this thread.
    NorvOS::CComApartment com;
    static_cast<TranscodeSession*>(userData)->RunWorker();
}

void TranscodeSession::RunWorker() {
    InboundMessage message;
    while (NextReply(message)) {
        // A broken pipe is taken in arrival order, so replies the engine
        // sent before it went are handled first.
        if (message.topic == nvds::kPipeErrorTopic) {
            break;
        }
        try {
            DispatchMessage(message);
        } catch (...) {
            break; // a reply that cannot be handled ends the run as failed
        }
    }
    FailRun();
}

void TranscodeSession::FailRun() {
    nvpm::MutexLock guard(lock_);
    const TranscodeState state = state_.load();
    // A cancelled run (TS_Pending) and a run settled by its final response
    // (the callback already taken) are left as they are.
    if (state != TS_Running && !(state == TS_Failed && progressCallback_)) {
        return;
    }
    SetState(TS_Failed);
    nvtl::RefCountedPtr<ITranscodeProgressCB> callback(std::move(progressCallback_));
    if (callback && !sources_.empty()) {
        try {
            callback->OnError(sources_.front().get(), ENG_ERR);
        } catch (...) {
            // The worker's last act: nothing it calls may end the process.
        }
    }
}

Result TranscodeSession::Cancel() {
    try {
        return CancelRun();
    } catch (...) {
        return ENG_ERR;
    }
}

Result TranscodeSession::CancelRun() {
    Result outcome = NotAvailable;
    {
        nvpm::MutexLock guard(lock_);
        if (channel_) {
            TBS::CancelTranscodingRequest request; // err 0
            std::string xml;
            outcome =
                TBS::ToXml(request, xml) && SendFrame(kCancelRequestType, xml) ? SUCCESS : ENG_ERR;
        }
        if (outcome != SUCCESS) {
            // Nothing will answer: end the engine and any waiting loop.
            if (launcher_) {
                launcher_->Terminate();
            }
            EndExchange();
        }
        SetState(TS_Pending);
    }
    // Waits, without time-out, for the worker to handle the engine's answer.
    worker_.Stop();
    nvtl::RefCountedPtr<ITranscodeProgressCB> callback;
    {
        nvpm::MutexLock guard(lock_);
        callback = std::move(progressCallback_);
    }
    if (callback) {
        try {
            callback->OnCancel();
        } catch (...) {
            // What the caller's callback throws does not change the outcome.
        }
    }
    return outcome;
}

} // namespace nvt
