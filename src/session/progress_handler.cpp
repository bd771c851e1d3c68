// The session's handler for the engine's progress records: keeps the last
// record, follows the engine from one joined source to the next and reports
// to the caller's callback.
#include "messages/xml.h"
#include "session/transcode_session.h"

namespace nvt {

namespace {

/// Stage kind of the synthetic report that closes a finished source.
constexpr int32_t kSourceFinishedStage = 7;

} // namespace

bool TranscodeSession::HandleProgressResponse(const InboundMessage& message) {
    lastProgress_ = TBS::ProgressResponse();
    TBS::ProgressResponse record;
    if (!TBS::FromXml(message.PayloadText(), record)) {
        EndExchange();
        return false;
    }
    lastProgress_ = record;
    if (record.sFilename.empty()) {
        return false; // stored, reported nothing
    }
    lastTimeRemaining_.store(record.timeRemaining);

    nvpm::MutexLock guard(lock_);
    ITranscodeProgressCB* callback = progressCallback_.get();
    const size_t count = sources_.size();
    // fileNum counts from 1. Moving on to a later file closes the one left.
    if (currentFileIndex_ < count && record.fileNum > 1 && record.fileNum - 1 > currentFileIndex_) {
        ISourceMedia* finished = sources_[currentFileIndex_].get();
        if (callback != nullptr) {
            callback->OnProgress(finished, record.countOfStages, record.stage, kSourceFinishedStage,
                                 100.0);
            callback->OnComplete(finished, outputFile_);
        }
        currentFileIndex_ = record.fileNum - 1;
    }
    if (currentFileIndex_ < count && callback != nullptr) {
        callback->OnProgress(sources_[currentFileIndex_].get(), record.countOfStages, record.stage,
                             record.stageID, record.progress);
    }
    return true;
}

} // namespace nvt
