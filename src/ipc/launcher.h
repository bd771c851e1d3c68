// Starting the engine process: the pipe base name a launched engine is
// given, its start-up event, and the launcher interface with its factory.
#pragma once

#include <cstdint>
#include <string>

#include "norv/refcounted.h"

namespace nvds {

/// How long Launch waits for the engine's start-up signal by default.
constexpr uint32_t kEngineStartupTimeoutMs = 60000;

/// Starts the engine hidden and suspended, applies its priority class,
/// resumes it and waits for its start-up event.
class IPipeLauncher : public nvtl::IRefCounted {
public:
    /// Stores the priority class of level (0 idle, 1 below normal, 2 normal,
    /// 3 above normal, anything else normal) and applies it to the last
    /// launched engine. False when there is none or the change was refused.
    virtual bool SetPriority(int32_t level) = 0;
    /// Starts the engine with the command line "command arguments" (the
    /// command alone when arguments is null) and waits for its start-up
    /// event. True only when the event was signalled in time; after a
    /// time-out the engine is left running.
    virtual bool Launch(const char* arguments) = 0;
    /// Kills the last launched engine. False when there is none. Not to be
    /// called while Launch runs on another thread.
    virtual bool Terminate() = 0;
};

/// Builds a launcher for the engine command (its path, and any options
/// placed before the pipe base name). startupTimeoutMs bounds each Launch's
/// wait for the start-up event. False when out is null or on any failure.
bool CreatePipeLauncher(const std::string& command, nvtl::RefCountedPtr<IPipeLauncher>* out,
                        uint32_t startupTimeoutMs = kEngineStartupTimeoutMs);

/// A fresh pipe base name for a launched engine: the fixed product prefix,
/// "->" and a new braced GUID (76 characters).
std::string MakePipeBaseName();

/// The start-up event name of the engine process with this id: the fixed
/// event GUID followed by the id in lower-case hexadecimal.
std::string StartupEventName(uint32_t processId);

/// Engine side: signals the calling process's start-up event. False, with
/// nothing signalled, when the process was not started by a launcher.
bool SignalStartupEvent();

/// The Win32 priority class SetPriority applies for level.
uint32_t PriorityClassForLevel(int32_t level);

} // namespace nvds
