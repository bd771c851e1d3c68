// The exchange with the engine: connecting, sending request frames, the
// consumer loops, the handler table and the reply handlers (the progress
// handler is in progress_handler.cpp).
#include "session/transcode_session.h"

#include <utility>

#include "media/analysis.h"
#include "messages/xml.h"
#include "platform/com_apartment.h"
#include "platform/text.h"
#include "session/session_topics.h"

namespace nvt {

namespace {

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

} // namespace

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

// The requests the session sends.
template bool TranscodeSession::SendRequest(const TBS::TechnicalInfoRequest&, const char*);
template bool TranscodeSession::SendRequest(const TBS::AnalyzeRequest&, const char*);
template bool TranscodeSession::SendRequest(const TBS::TranscodeRequest&, const char*);
template bool TranscodeSession::SendRequest(const TBS::CancelTranscodingRequest&, const char*);

} // namespace nvt
