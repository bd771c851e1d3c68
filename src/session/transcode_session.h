// The transcode session: the library's unit of work with the engine.
//
// Every exchange follows one pattern: connect (launch an engine or reach a
// running one), send one request record, then consume the queued replies
// until a reply handler sets the done flag — on the caller's thread for
// technical information and analysis, on the session's worker thread for a
// transcode.
//
// Where the parts live:
//   transcode_session.cpp  the façade: settings, state, preview,
//                          Analyze, Start, the worker and Cancel
//   session_sources.cpp    the source and extra-source lists, the join check
//   engine_exchange.cpp    connection, sending, the consumer loops, the
//                          handler table and the reply handlers
//   request_builder.cpp    the TranscodeRequest built from settings and sources
//   progress_handler.cpp   the "struct TBS::ProgressResponse" handler
//   settings_derivation.cpp the derivation behind GetOutputProperties
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "api/engine_info.h"
#include "api/logic_base.h"
#include "api/logic_callback.h"
#include "api/ref_counted_impl.h"
#include "ipc/launcher.h"
#include "ipc/norv_ipc.h"
#include "media/source_media.h"
#include "messages/records.h"
#include "norv/output.h"
#include "norv/session.h"
#include "platform/mutex.h"
#include "platform/thread.h"
#include "session/source_refs.h"

namespace nvt {

class TranscodeSession final : public CLogicBase<TranscodeSession>,
                               public nvtl::RefCountedImpl<ITranscodeSession>,
                               public CLogicCallback {
public:
    /// A session for an engine executable (with any options before the pipe
    /// name), or for a running engine when engineLocation begins with ':'.
    explicit TranscodeSession(const WideString& engineLocation);
    /// Runs the cancel steps, waits for the worker, then releases the
    /// channel before the queue it delivers into.
    ~TranscodeSession() override;

    // ITranscodeSession
    Result AddSource(ISourceMedia* source) override;
    Result GetSourceCount(int32_t* out) override;
    Result GetSource(uint32_t index, ISourceMedia** out) override;
    Result RemoveSourceAt(uint32_t index) override;
    Result RemoveSource(ISourceMedia* source) override;
    Result ClearSources() override;
    Result AddExtraSource(ISourceMedia* source) override;
    Result GetExtraSourceCount(int32_t* out) override;
    Result GetExtraSource(uint32_t index, ISourceMedia** out) override;
    Result RemoveExtraSourceAt(uint32_t index) override;
    Result RemoveExtraSource(ISourceMedia* source) override;
    Result ClearExtraSources() override;
    Result SetOutputSettings(ITranscodeOutputSettings* settings) override;
    Result SetEngineInfo(ITranscodeEngineInfo* info) override;
    Result GetOutputProperties(ITranscodeOutputProperties** out) override;
    Result Start(const WideString& outputFile, ITranscodeProgressCB* callback) override;
    Result SetPriority(TranscodePriority priority) override;
    Result GetState(TranscodeState* out) override;
    Result Cancel() override;
    Result Analyze(const WideString& inputFile, int32_t* thumbnailWidth, int32_t* thumbnailHeight,
                   const WideString& screenshotFile,
                   std::vector<nvtl::RefCountedPtr<ISourceMedia>>& sources) override;
    Result SetLoggerParam(const SLoggerParam& param) override;

    // Used by the engine object.
    void SetTechnicalDetailsFile(const WideString& file) { technicalDetailsFile_ = file; }
    /// Asks the engine for its technical information and parses the answer
    /// into info. ENG_ERR when the engine cannot be reached; SUCCESS once the
    /// exchange has ended, whether or not an answer came.
    Result GetTechnicalInfo(TranscodeEngineInfo* info);

    /// Launches an engine (or reaches the running one) and subscribes the
    /// queue to its replies, replacing the channel and launcher of any
    /// earlier exchange. False when the engine cannot be reached.
    bool ConnectEngine();
    /// Connects, sends the transcode request and starts the worker.
    Result StartTranscode();

    /// The handler table of CLogicBase, in dispatch order.
    static const HandlerEntry* HandlerTable();

private:
    // Reply handlers.
    bool HandleExit(const InboundMessage& message);
    bool HandleError(const InboundMessage& message);
    bool HandlePipeError(const InboundMessage& message);
    bool HandleTechnicalInfoResponse(const InboundMessage& message);
    bool HandleAnalyzeResponse(const InboundMessage& message);
    bool HandleTranscodeResponse(const InboundMessage& message);
    bool HandleProgressResponse(const InboundMessage& message); // progress_handler.cpp

    /// Serialises record and sends it as one request frame. An engine the
    /// session launched gets one attempt; a running engine is retried every
    /// 10 ms until the send succeeds.
    template <class Record> bool SendRequest(const Record& record, const char* typeName);
    /// Sends one request frame on the current channel. False without one.
    bool SendFrame(const char* typeName, const std::string& payload);

    /// Sets the done flag, which ends the consumer loop, and wakes the loop
    /// when it waits for a reply on another thread.
    void EndExchange();
    /// The consumer loops' wait: the next queued reply (true), or false once
    /// the done flag is set. Waits without time-out.
    bool NextReply(InboundMessage& message);
    /// Handles queued replies on the calling thread until the done flag is
    /// set, then clears it.
    void WaitForReply();
    static void WorkerRoutine(std::atomic<bool>* stopFlag, void* userData, int32_t value);
    void RunWorker();
    /// Reports an engine that failed a run without a final response.
    void FailRun();

    /// Steps of Cancel, shared with the destructor.
    Result CancelRun();

    /// Duration of all sources in milliseconds, for the output estimate.
    uint64_t TotalSourceDurationMs() const;

    bool IsBusy() const { return state_.load() != TS_Pending; }
    void SetState(TranscodeState state) { state_.store(state); }

    // List helpers shared by the source and extra-source operations.
    Result CountOf(const SourceList& list, int32_t* out);
    Result ItemOf(const SourceList& list, uint32_t index, ISourceMedia** out);
    Result RemoveAt(SourceList& list, uint32_t index);
    Result RemoveItem(SourceList& list, ISourceMedia* source);
    Result ClearList(SourceList& list);
    Result JoinCheck(ISourceMedia* source);

    nvtl::RefCountedPtr<ITranscodeProgressCB> progressCallback_;
    nvtl::RefCountedPtr<ITranscodeOutputSettings> outputSettings_;
    WideString outputFile_;
    nvtl::RefCountedPtr<nvds::INorvIPC> channel_;
    nvtl::RefCountedPtr<nvds::IPipeLauncher> launcher_;
    nvtl::RefCountedPtr<SourceMedia> analysisTarget_;
    SourceList sources_;
    SourceList extraSources_;
    TBS::ProgressResponse lastProgress_;
    std::atomic<TranscodeState> state_{TS_Pending};
    std::atomic<bool> doneFlag_{false};
    std::atomic<uint32_t> lastTimeRemaining_{0};
    Result analysisResult_ = SUCCESS;
    bool analysisAnswered_ = false;
    int32_t thumbnailWidth_ = 0;
    int32_t thumbnailHeight_ = 0;
    const std::string engineLocationUtf8_;
    const bool launchEngine_;
    nvpm::Mutex lock_;
    uint32_t currentFileIndex_ = 0;
    std::atomic<TranscodePriority> priority_{TP_Normal};
    nvtl::RefCountedPtr<ITranscodeEngineInfo> engineInfo_;
    SLoggerParam loggerParam_;
    WideString technicalDetailsFile_;
    NorvOS::CNorvThread worker_;
};

} // namespace nvt
