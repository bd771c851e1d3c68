// Runs the queue's jobs one after the other on a thread of its own, through
// the library exactly as norv transcode does: the analysed sources, the
// output settings (with the bitrate a quality target chose), a session,
// RunTranscode with its cancel and clean-up.
#pragma once

#include <chrono>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/library.h"
#include "serve/catalog.h"
#include "serve/job_board.h"
#include "serve/roots.h"

namespace norv {

/// Progress goes to the page at most this often per job or probe; a first
/// report, a new step and the end always go.
constexpr std::chrono::milliseconds kPageProgressPeriod(250);

/// What jobs need besides the queue.
struct ServeContext {
    Ptr<nvt::ITranscodeEngineInfo> info;
    std::string presetDir;
    std::string logDir; ///< where the engine logs a running job
    /// Held by a quality probe (see PlanOutput): one at a time, so that the
    /// next of the same title finds the first's points in the probe cache.
    mutable std::mutex probing;
};

/// A free output path in folder: STEM.EXT, else "STEM (2).EXT", ... taking
/// neither an existing file nor one of reserved. A stem that would hide the
/// file (a leading dot) or hold a control character is made plain.
std::string FreeOutputPath(const std::filesystem::path& folder, std::string stem,
                           const std::string& extension, const std::vector<std::string>& reserved);

class JobRunner {
public:
    JobRunner(JobBoard& board, Catalog& catalog, const Roots& roots, const ServeContext& context);
    /// Stops the board and waits for the runner.
    ~JobRunner();
    void Start();
    /// Returns once the runner ended (after JobBoard::Stop).
    void Join();

private:
    void Loop();
    JobEnd Run(const Job& job);

    JobBoard& board_;
    Catalog& catalog_;
    const Roots& roots_;
    const ServeContext& context_;
    std::thread thread_;
};

} // namespace norv
