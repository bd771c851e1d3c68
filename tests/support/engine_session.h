// Helpers for tests that run sessions against the scripted engine in real
// processes: its command line, a callback that records what it is told,
// and checks on engine processes by id.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <mutex>
#include <string>
#include <vector>

#include "api/ref_counted_impl.h"
#include "norv/transcoder.h"

namespace norv_test {

/// Generous bound for anything a test waits for; never a measured duration.
constexpr uint32_t kLongWaitMs = 60000;

#ifdef NORV_SCRIPTED_ENGINE
/// The engine location that starts the scripted engine with options (the
/// launcher appends the pipe base name).
inline std::string ScriptedEngine(std::initializer_list<std::string> options = {}) {
    std::string command = NORV_SCRIPTED_ENGINE;
    for (const std::string& option : options) {
        command += " " + option;
    }
    return command;
}
#endif

/// Polls condition every few milliseconds until it holds or timeoutMs has
/// passed. Returns whether it held.
bool WaitUntil(const std::function<bool()>& condition, uint32_t timeoutMs = kLongWaitMs);

/// The process id an engine wrote with --pid-file, once it is there
/// (waiting up to timeoutMs); 0 when it never appeared.
uint32_t ReadPidFile(const std::string& path, uint32_t timeoutMs = kLongWaitMs);

/// True while a process with this id exists, a finished but unreaped one
/// (a zombie) included.
bool ProcessExists(uint32_t pid);

/// True while the process runs (exists and is not a zombie).
bool ProcessRunning(uint32_t pid);

/// A name for an engine reached through the ":" form, unique to this call.
std::string UniquePipeName();

/// Waits until a session has created both pipes of baseName (a ":" name
/// included) and listens on them for its engine. An engine started before
/// that finds nothing to connect to and ends at once.
bool WaitForListeningPipes(const std::string& baseName, uint32_t timeoutMs = kLongWaitMs);

/// What a progress callback was told, in order.
struct CallbackEvent {
    enum Kind { Progress, Complete, Cancel, Error };
    Kind kind = Progress;
    nvt::ISourceMedia* source = nullptr;
    uint32_t countOfStages = 0;
    uint32_t stage = 0;
    int32_t stageKind = 0;
    double progress = 0.0;
    nvt::WideString outputFile;
    nvt::Result code = nvt::SUCCESS;
    /// The session's state read from inside the callback (when a session
    /// was given to the recorder).
    nvt::TranscodeState state = nvt::TS_Pending;
};

/// A progress callback that records every call. Thread-safe.
class RecordingCallback final : public nvtl::RefCountedImpl<nvt::ITranscodeProgressCB> {
public:
    /// When session is given, each call also records the session's state
    /// (read on the calling thread, as a callback may).
    explicit RecordingCallback(nvt::ITranscodeSession* session = nullptr) : session_(session) {}

    nvt::Result OnProgress(nvt::ISourceMedia* source, uint32_t countOfStages, uint32_t stage,
                           int32_t stageKind, double progress) override;
    nvt::Result OnComplete(nvt::ISourceMedia* source, const nvt::WideString& outputFile) override;
    nvt::Result OnCancel() override;
    nvt::Result OnError(nvt::ISourceMedia* source, nvt::Result code) override;

    std::vector<CallbackEvent> Events();
    /// Waits until an event of kind has been recorded.
    bool WaitFor(CallbackEvent::Kind kind, uint32_t timeoutMs = kLongWaitMs);
    /// Waits until at least count events have been recorded.
    bool WaitForCount(size_t count, uint32_t timeoutMs = kLongWaitMs);
    size_t CountOf(CallbackEvent::Kind kind);

private:
    void Add(CallbackEvent event);

    nvt::ITranscodeSession* const session_;
    std::mutex lock_;
    std::condition_variable changed_;
    std::vector<CallbackEvent> events_;
};

} // namespace norv_test
