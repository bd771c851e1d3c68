#include "session/transcode_session.h"

#include <algorithm>
#include <new>
#include <utility>

#include "media/analysis.h"
#include "messages/xml.h"
#include "output/output_properties.h"
#include "output/output_settings.h"
#include "platform/com_apartment.h"
#include "platform/text.h"
#include "session/join_rule.h"
#include "session/joined_files.h"
#include "session/request_builder.h"
#include "session/settings_derivation.h"

namespace nvt {

namespace {

constexpr char kSessionSender[] = "TranscodeSession";
constexpr char kExitTopic[] = "exit";
constexpr char kErrorTopic[] = "error";

constexpr char kTechnicalInfoRequestType[] = "struct TBS::TechnicalInfoRequest";
constexpr char kAnalyzeRequestType[] = "struct TBS::AnalyzeRequest";
constexpr char kTranscodeRequestType[] = "struct TBS::TranscodeRequest";
constexpr char kCancelRequestType[] = "struct TBS::CancelTranscodingRequest";
constexpr char kTechnicalInfoResponseType[] = "struct TBS::TechnicalInfoResponse";
constexpr char kAnalyzeResponseType[] = "struct TBS::AnalyzeResponse";
constexpr char kTranscodeResponseType[] = "struct TBS::TranscodeResponse";
constexpr char kProgressResponseType[] = "struct TBS::ProgressResponse";

/// Pause between the send attempts to a running engine that has not opened
/// the pipes yet.
constexpr uint32_t kSendRetryMs = 10;

/// The launcher's priority level for a session priority: the four known
/// values map to themselves, anything else to normal.
int32_t LauncherLevel(TranscodePriority priority) {
    switch (priority) {
    case TP_Idle:
    case TP_Low:
    case TP_High:
        return priority;
    default:
        return TP_Normal;
    }
}

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

const TranscodeSession::HandlerEntry* TranscodeSession::HandlerTable() {
    static const HandlerEntry kTable[] = {
        {kExitTopic, &TranscodeSession::HandleExit},
        {kErrorTopic, &TranscodeSession::HandleError},
        {nvds::kPipeErrorTopic, &TranscodeSession::HandlePipeError},
        {kTechnicalInfoResponseType, &TranscodeSession::HandleTechnicalInfoResponse},
        {kAnalyzeResponseType, &TranscodeSession::HandleAnalyzeResponse},
        {kTranscodeResponseType, &TranscodeSession::HandleTranscodeResponse},
        {kProgressResponseType, &TranscodeSession::HandleProgressResponse},
        {nullptr, nullptr},
    };
    return kTable;
}

// ---- sources ---------------------------------------------------------------

Result TranscodeSession::JoinCheck(ISourceMedia* added) {
    return JoinRule(JoinFactsOf(*sources_.front()), JoinFactsOf(*added),
                    AudioTrackCount::AtLeastFirst);
}

Result TranscodeSession::AddSource(ISourceMedia* source) {
    if (IsBusy()) {
        return NotAvailable;
    }
    if (source == nullptr) {
        return InvalidArgument;
    }
    try {
        if (!sources_.empty()) {
            const Result joinable = JoinCheck(source);
            if (joinable != SUCCESS) {
                return joinable;
            }
        }
        sources_.emplace_back();
        sources_.back() = source;
    } catch (...) {
        return ENG_ERR;
    }
    return SUCCESS;
}

Result TranscodeSession::AddExtraSource(ISourceMedia* source) {
    if (IsBusy()) {
        return NotAvailable;
    }
    if (source == nullptr) {
        return InvalidArgument;
    }
    try {
        extraSources_.emplace_back();
        extraSources_.back() = source;
    } catch (...) {
        return ENG_ERR;
    }
    return SUCCESS;
}

Result TranscodeSession::CountOf(const SourceList& list, int32_t* out) {
    if (out == nullptr) {
        return InvalidArgument;
    }
    *out = static_cast<int32_t>(list.size());
    return SUCCESS;
}

Result TranscodeSession::ItemOf(const SourceList& list, uint32_t index, ISourceMedia** out) {
    if (list.empty()) {
        return NotAvailable;
    }
    if (index >= list.size() || out == nullptr) {
        return InvalidArgument;
    }
    ISourceMedia* source = list[index].get();
    if (source != nullptr) {
        source->AddRef();
    }
    *out = source;
    return SUCCESS;
}

Result TranscodeSession::RemoveAt(SourceList& list, uint32_t index) {
    if (IsBusy() || list.empty()) {
        return NotAvailable;
    }
    if (index >= list.size()) {
        return InvalidArgument;
    }
    list.erase(list.begin() + index);
    return SUCCESS;
}

Result TranscodeSession::RemoveItem(SourceList& list, ISourceMedia* source) {
    if (IsBusy()) {
        return NotAvailable;
    }
    if (source == nullptr) {
        return InvalidArgument;
    }
    const auto found = std::find_if(list.begin(), list.end(),
                                    [source](const auto& held) { return held.get() == source; });
    if (found == list.end()) {
        return InvalidArgument;
    }
    list.erase(found);
    return SUCCESS;
}

Result TranscodeSession::ClearList(SourceList& list) {
    if (IsBusy()) {
        return NotAvailable;
    }
    list.clear();
    return SUCCESS;
}

Result TranscodeSession::GetSourceCount(int32_t* out) {
    return CountOf(sources_, out);
}
Result TranscodeSession::GetSource(uint32_t index, ISourceMedia** out) {
    return ItemOf(sources_, index, out);
}
Result TranscodeSession::RemoveSourceAt(uint32_t index) {
    return RemoveAt(sources_, index);
}
Result TranscodeSession::RemoveSource(ISourceMedia* source) {
    return RemoveItem(sources_, source);
}
Result TranscodeSession::ClearSources() {
    return ClearList(sources_);
}
Result TranscodeSession::GetExtraSourceCount(int32_t* out) {
    return CountOf(extraSources_, out);
}
Result TranscodeSession::GetExtraSource(uint32_t index, ISourceMedia** out) {
    return ItemOf(extraSources_, index, out);
}
Result TranscodeSession::RemoveExtraSourceAt(uint32_t index) {
    return RemoveAt(extraSources_, index);
}
Result TranscodeSession::RemoveExtraSource(ISourceMedia* source) {
    return RemoveItem(extraSources_, source);
}
Result TranscodeSession::ClearExtraSources() {
    return ClearList(extraSources_);
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

// ---- talking to the engine -------------------------------------------------

bool TranscodeSession::ConnectEngine() {
    nvtl::RefCountedPtr<nvds::IPipeLauncher> launcher;
    std::string baseName;
    if (launchEngine_) {
        if (!nvds::CreatePipeLauncher(engineLocationUtf8_, &launcher) || !launcher) {
            return false;
        }
        baseName = nvds::MakePipeBaseName();
    } else {
        baseName = engineLocationUtf8_; // the leading ':' included
    }

    // The earlier exchange's channel goes first; whatever it still delivers
    // while it closes is discarded with the rest of that exchange's replies.
    nvtl::RefCountedPtr<nvds::INorvIPC> previous;
    {
        nvpm::MutexLock guard(lock_);
        previous = std::move(channel_);
    }
    previous.reset();
    DiscardMessages();
    if (launcher) {
        launcher_ = launcher; // kept even when the engine does not come up, so it can be ended
    }

    nvtl::RefCountedPtr<nvds::INorvIPC> channel;
    if (!nvds::CreatePipeIPC(baseName, true, launcher.get(), &channel) || !channel) {
        return false;
    }
    if (launcher) {
        launcher->SetPriority(LauncherLevel(priority_.load()));
    }
    if (!channel->Subscribe(std::string(nvds::kResponseTopicPrefix), Subscriber(), false)) {
        return false;
    }
    nvpm::MutexLock guard(lock_);
    channel_ = channel;
    return true;
}

bool TranscodeSession::SendFrame(const char* typeName, const std::string& payload) {
    nvtl::RefCountedPtr<nvds::INorvIPC> channel;
    {
        nvpm::MutexLock guard(lock_);
        channel = channel_;
    }
    if (!channel) {
        return false;
    }
    uint32_t sent = 0;
    return channel->Send(std::string(kSessionSender),
                         std::string(nvds::kRequestTopicPrefix) + typeName,
                         static_cast<uint32_t>(payload.size()),
                         payload.empty() ? nullptr : payload.data(), &sent) &&
           sent == 1;
}

template <class Record>
bool TranscodeSession::SendRequest(const Record& record, const char* typeName) {
    std::string xml;
    if (!TBS::ToXml(record, xml)) {
        return false;
    }
    while (!SendFrame(typeName, xml)) {
        if (launchEngine_) {
            return false;
        }
        // A running engine may not have opened the pipes yet.
        NorvOS::SleepMs(kSendRetryMs);
    }
    return true;
}

void TranscodeSession::EndExchange() {
    doneFlag_.store(true);
    WakeConsumer();
}

bool TranscodeSession::NextReply(InboundMessage& message) {
    return WaitForMessage(message, [this] { return doneFlag_.load(); });
}

void TranscodeSession::WaitForReply() {
    InboundMessage message;
    while (NextReply(message)) {
        DispatchMessage(message);
    }
    doneFlag_.store(false);
}

Result TranscodeSession::GetTechnicalInfo(TranscodeEngineInfo* info) {
    if (info == nullptr) {
        return InvalidArgument;
    }
    if (IsBusy()) {
        return NotAvailable;
    }
    try {
        doneFlag_.store(false);
        if (!ConnectEngine()) {
            return ENG_ERR;
        }
        TBS::TechnicalInfoRequest request;
        request.loggerParam = loggerParam_;
        request.technicalDetailsFile = WideToUtf8(technicalDetailsFile_);
        engineInfo_ = info;
        if (!SendRequest(request, kTechnicalInfoRequestType)) {
            return ENG_ERR;
        }
        WaitForReply();
        return SUCCESS;
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

// ---- reply handlers ----------------------------------------------------------

bool TranscodeSession::HandleExit(const InboundMessage&) {
    EndExchange();
    return true;
}

bool TranscodeSession::HandleError(const InboundMessage&) {
    nvpm::MutexLock guard(lock_);
    SetState(TS_Failed);
    EndExchange();
    return true;
}

bool TranscodeSession::HandlePipeError(const InboundMessage&) {
    nvpm::MutexLock guard(lock_);
    SetState(TS_Failed);
    EndExchange();
    return false;
}

bool TranscodeSession::HandleTechnicalInfoResponse(const InboundMessage& message) {
    // Only the library's own information object can take the answer; a
    // session without one drops it.
    auto* info = dynamic_cast<TranscodeEngineInfo*>(engineInfo_.get());
    if (info == nullptr) {
        return false;
    }
    const bool parsed = TBS::FromXml(message.PayloadText(), info->Response());
    EndExchange();
    return parsed;
}

bool TranscodeSession::HandleAnalyzeResponse(const InboundMessage& message) {
    TBS::AnalyzeResponse response;
    const bool parsed = TBS::FromXml(message.PayloadText(), response);
    analysisAnswered_ = true;
    if (!parsed) {
        analysisResult_ = ENG_ERR;
        EndExchange();
        return false;
    }
    analysisResult_ = static_cast<Result>(response.err);
    thumbnailWidth_ = response.thumbWidth;
    thumbnailHeight_ = response.thumbHeight;
    if (analysisTarget_ && AnalysisDeliversSources(analysisResult_)) {
        FillFromAnalysis(response, *analysisTarget_);
    }
    EndExchange();
    return true;
}

bool TranscodeSession::HandleTranscodeResponse(const InboundMessage& message) {
    // The reply concerns the file the engine last reported.
    ISourceMedia* source = nullptr;
    if (!sources_.empty()) {
        const uint32_t fileNum = lastProgress_.fileNum;
        source = fileNum > 0 && fileNum - 1 < sources_.size() ? sources_[fileNum - 1].get()
                                                              : sources_.front().get();
    }
    nvpm::MutexLock guard(lock_);
    TBS::TranscodeResponse response;
    if (!TBS::FromXml(message.PayloadText(), response)) {
        return false;
    }
    if (state_.load() == TS_Running) {
        const auto code = static_cast<Result>(response.resultID);
        SetState(code == SUCCESS ? TS_Done : TS_Failed);
        nvtl::RefCountedPtr<ITranscodeProgressCB> callback(std::move(progressCallback_));
        if (callback && source != nullptr) {
            if (code == SUCCESS) {
                callback->OnComplete(source, outputFile_);
            } else {
                callback->OnError(source, code);
            }
        }
    }
    channel_.reset(); // the engine's pipes close with the last reference
    EndExchange();
    return true;
}

} // namespace nvt
