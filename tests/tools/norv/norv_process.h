// Runs norv as a user would: a real process with its own arguments,
// environment and working folder, on POSIX in a process group of its own
// (as a terminal's foreground job), its output kept for the test.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace norv_test {

struct NorvOutput {
    int status = -1; ///< exit status, or 128 + the signal that ended it
    std::string out;
    std::string err;
};

struct NorvOptions {
    std::string folder;                     ///< working folder (must exist)
    std::map<std::string, std::string> env; ///< set on top of the test's environment
    std::string program;                    ///< norv itself unless set
    bool terminal = false;                  ///< standard error is a terminal (POSIX)
};

/// Points norv's cache (the rate file) at folder: XDG_CACHE_HOME, or
/// LOCALAPPDATA on Windows.
void UseCacheFolder(NorvOptions& options, const std::string& folder);

/// The variables set for norv on top of the test's environment: options.env,
/// and the user's cache folder inside options.folder unless options.env
/// names one, so that no run writes into the real user's cache.
std::map<std::string, std::string> NorvEnvironment(const NorvOptions& options);

/// The scripted engine's command line with the given options added.
std::string ScriptedEngine(const std::string& options = std::string());

class NorvProcess {
public:
    /// Starts norv; NORV_ENGINE is cleared unless options.env sets it.
    NorvProcess(const std::vector<std::string>& args, const NorvOptions& options);
    ~NorvProcess();
    NorvProcess(const NorvProcess&) = delete;
    NorvProcess& operator=(const NorvProcess&) = delete;

    /// Waits up to 60 s until what norv wrote to standard error satisfies
    /// ready; false on time-out or when norv ended first.
    bool WaitForError(const std::function<bool(const std::string&)>& ready);
#if !defined(_WIN32)
    /// Sends sig to norv's process group, as a terminal sends Ctrl-C.
    void SignalGroup(int sig);
#endif
    /// Waits for norv to end.
    NorvOutput Wait();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

/// Runs norv to its end.
NorvOutput RunNorv(const std::vector<std::string>& args, const NorvOptions& options);

/// Each line of text parsed as JSON; a line that does not parse fails the
/// calling test.
std::vector<nlohmann::json> JsonLines(const std::string& text);

/// Whether process id is gone (or only waits to be reaped), waiting up to
/// 60 s for it.
bool ProcessEnds(int pid);

} // namespace norv_test
