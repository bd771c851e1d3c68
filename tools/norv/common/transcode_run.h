// One transcode from start to end: a session over analysed sources, the
// progress callback the library calls, the wait for the end, the cancel on
// an interrupt, and the removal of an output that did not come out whole.
#pragma once

#include <cstdint>
#include <string>

#include "common/library.h"
#include "common/media.h"

namespace norv {

/// Where a run stands; times in seconds.
struct RunStatus {
    size_t source = 0; // index of the source in work
    size_t sources = 0;
    std::string sourcePath;
    double percent = 0;
    uint32_t stage = 0;
    uint32_t stages = 0;
    int32_t stageKind = 0;
    double elapsed = 0;
    double remaining = -1; // below 0: not known yet
    double speed = 0;      // seconds of media per second; 0: not known
};

enum class RunEvent { Started, Progress, SourceDone, Done, Failed, Cancelled };

const char* EventName(RunEvent event);

/// Hears of a run's events on the thread that runs it.
class RunObserver {
public:
    virtual ~RunObserver() = default;
    /// result is the failure's Result for Failed, SUCCESS otherwise;
    /// status.source names the source the event concerns.
    virtual void OnEvent(RunEvent event, const RunStatus& status, nvt::Result result) = 0;
    /// Called several times a second while the run goes on.
    virtual void OnTick(const RunStatus& /*status*/) {}
    /// When this turns true the run is cancelled through the library, as
    /// for an interrupt.
    virtual bool StopWanted() { return false; }
};

/// A session holding the sources (join checks applied), the settings and
/// the engine information. Throws Failure.
Ptr<nvt::ITranscodeSession> MakeSession(const Sources& sources,
                                        nvt::ITranscodeOutputSettings* settings,
                                        nvt::ITranscodeEngineInfo* info,
                                        nvt::TranscodePriority priority);

/// The output properties the library derives for a session. Throws Failure
/// saying `what` could not be derived.
Ptr<nvt::ITranscodeOutputProperties> DeriveOutput(nvt::ITranscodeSession& session,
                                                  const std::string& what = "the output");

/// Refuses an output whose folder does not exist, one that exists (unless
/// overwrite) and one that is one of the inputs. Throws Failure.
void CheckOutputPath(const std::string& output, const std::vector<std::string>& inputs,
                     bool overwrite);

struct RunOutcome {
    nvt::Result result = nvt::SUCCESS; // Aborted when cancelled
    bool cancelled = false;
    std::string failedSource; // the source a failure concerns
};

/// Runs the session's transcode into output until it ends, cancelling it
/// through the library when an interrupt arrives. Then releases the session
/// (pass the only reference), which ends its engine, and removes an output
/// left by a run that failed or was cancelled.
RunOutcome RunTranscode(Ptr<nvt::ITranscodeSession> session, const Sources& sources,
                        const std::string& output, RunObserver& observer);

} // namespace norv
