#include "ipc/pipe_launcher.h"

#include <cstdio>
#include <memory>

#include "platform/guid.h"
#include "platform/named_event.h"

namespace nvds {

namespace {
const char kBaseNamePrefix[] = "BCCB6B6A-EAD4-401A-AF91-DDACDCF3185B";
const char kStartupEventPrefix[] = "{83AB5D5B-695E-4879-8049-63EB7C0F542A}";
// Where the system stops an engine's memory (on Windows, whose engine is a
// 32-bit process: below what it could address): a file that makes the
// engine grow without end ends it instead of the machine's memory.
constexpr uint64_t kEngineMemoryLimit = 1536ull << 20;
} // namespace

uint32_t PriorityClassForLevel(int32_t level) {
    switch (level) {
    case 0:
        return NorvOS::kIdlePriorityClass;
    case 1:
        return NorvOS::kBelowNormalPriorityClass;
    case 3:
        return NorvOS::kAboveNormalPriorityClass;
    default:
        return NorvOS::kNormalPriorityClass;
    }
}

std::string MakePipeBaseName() {
    return std::string(kBaseNamePrefix) + "->" + NorvOS::NewGuidText();
}

std::string StartupEventName(uint32_t processId) {
    char name[260];
    std::snprintf(name, sizeof(name), "%s%x", kStartupEventPrefix, processId);
    return name;
}

bool SignalStartupEvent() {
    return NorvOS::CNamedEvent::Signal(StartupEventName(NorvOS::CurrentProcessId()));
}

CPipeLauncher::CPipeLauncher(const std::string& command, uint32_t startupTimeoutMs)
    : command_(command), startupTimeoutMs_(startupTimeoutMs) {}

CPipeLauncher::~CPipeLauncher() = default;

bool CPipeLauncher::SetPriority(int32_t level) {
    std::lock_guard<std::mutex> guard(lock_);
    priorityClass_ = PriorityClassForLevel(level);
    return process_.IsValid() && process_.SetPriorityClass(priorityClass_);
}

bool CPipeLauncher::Launch(const char* arguments) {
    std::string commandLine = command_;
    if (arguments != nullptr) {
        commandLine += ' ';
        commandLine += arguments;
    }
    std::unique_ptr<NorvOS::CNamedEvent> startupEvent;
    {
        std::lock_guard<std::mutex> guard(lock_);
        process_.Forget();
        NorvOS::Confinement confinement;
        confinement.memoryLimit = kEngineMemoryLimit;
        const bool started = process_.Start(
            commandLine,
            [&](uint32_t processId) {
                // The engine is still held: its priority and the event it will
                // signal are in place before its first instruction runs.
                process_.SetPriorityClass(priorityClass_);
                startupEvent = NorvOS::CNamedEvent::Create(StartupEventName(processId));
            },
            &confinement);
        if (!started) {
            return false;
        }
    }
    if (!startupEvent) {
        return false;
    }
    // Returns as soon as the engine signals, or ends without signalling.
    // The process is read without the lock: Terminate and Launch, the only
    // operations that replace it, are called by the launcher's owner, one at
    // a time.
    return startupEvent->WaitFor(startupTimeoutMs_, &process_);
}

bool CPipeLauncher::Terminate() {
    std::lock_guard<std::mutex> guard(lock_);
    return process_.Terminate();
}

uint32_t CPipeLauncher::ProcessId() {
    std::lock_guard<std::mutex> guard(lock_);
    return process_.Id();
}

bool CreatePipeLauncher(const std::string& command, nvtl::RefCountedPtr<IPipeLauncher>* out,
                        uint32_t startupTimeoutMs) {
    if (out == nullptr) {
        return false;
    }
    try {
        *out = new CPipeLauncher(command, startupTimeoutMs);
        return true;
    } catch (...) {
        return false;
    }
}

} // namespace nvds
