// The engine's sandbox. The engine parses files from anywhere, with FFmpeg's
// demuxers and decoders; it locks itself down so that a file that takes
// over the process gets almost nothing. It happens in two steps, since the
// engine learns the files of its job only from the request, which arrives
// over the pipes after start-up:
//
// - LockDownEngine, once the pipes are connected and before a request is
//   read: no core files and few open files, no new privileges, a network
//   namespace of its own, and a seccomp allow-list (on every thread) that
//   kills the process on anything else: no new sockets, no connect, no
//   execve, no fork, no ptrace.
// - ConfineToJob, once a request is read (and the playlists it names): a
//   Landlock domain (on every thread) that reads only the job's files, the
//   system's libraries, fonts and locale data, and writes only the output's
//   folder, the temporary folder and the file-size limit; then a second
//   seccomp filter takes away what only this step needed.
//
// NORV_ENGINE_SANDBOX=off in the engine's environment turns every layer off
// (for debugging).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "messages/records.h"

namespace norv_engine {

/// What a job may touch, from its request.
struct JobAccess {
    std::vector<std::string> readFiles;    ///< files read (inputs, listed files, subtitles)
    std::vector<std::string> readFolders;  ///< folders read with all below them
    std::vector<std::string> writeFolders; ///< folders whose files are made, written and removed
    uint64_t sizeLimit = 0;                ///< the output's size limit in bytes; 0: none
};

/// The files of each request the engine answers. A playlist among the
/// inputs (an ffconcat list or a plain .m3u) adds the files it lists; a live
/// streaming playlist, which FFmpeg reads, adds its own folder.
JobAccess AccessFor(const TBS::TechnicalInfoRequest& request);
JobAccess AccessFor(const TBS::AnalyzeRequest& request);
JobAccess AccessFor(const TBS::TranscodeRequest& request);

/// Call once early in main, while the process has one thread: an engine
/// that is not root enters a user namespace of its own, in which it may make
/// its network namespace later.
void PrepareSandbox();

/// The start-up lock-down; call once the pipes are connected, before the
/// first request is read.
void LockDownEngine();

/// Confines the process to a job's files. Only the first job of a process
/// is confined; a later one is left to what the first allowed (the library
/// sends one request per engine).
void ConfineToJob(const JobAccess& access);

/// One line for the log and the technical information: which layers are
/// on and which could not be had ("seccomp, Landlock ABI 7, network
/// namespace, limits").
std::string SandboxSummary();

/// A hook of the engine's test build that tries, once confined, what a
/// hostile file would try; nothing in the engine itself.
void ProbeSandbox(const JobAccess& access);

} // namespace norv_engine
