// The engine launcher.
#pragma once

#include <mutex>
#include <string>

#include "api/ref_counted_impl.h"
#include "ipc/launcher.h"
#include "platform/process.h"

namespace nvds {

class CPipeLauncher : public nvtl::RefCountedImpl<IPipeLauncher> {
public:
    explicit CPipeLauncher(const std::string& command,
                           uint32_t startupTimeoutMs = kEngineStartupTimeoutMs);
    /// Forgets the engine process without ending it.
    ~CPipeLauncher() override;

    bool SetPriority(int32_t level) override;
    bool Launch(const char* arguments) override;
    bool Terminate() override;

    /// The last launched engine's process id, 0 when none is held.
    uint32_t ProcessId();

private:
    const std::string command_;
    const uint32_t startupTimeoutMs_;
    std::mutex lock_; // guards priorityClass_ and process_
    uint32_t priorityClass_ = NorvOS::kNormalPriorityClass;
    NorvOS::CChildProcess process_;
};

} // namespace nvds
