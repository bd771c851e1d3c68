// The scripted engine's behaviour, read from the options placed before the
// pipe base name on its command line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "progress_script.h"

namespace scripted {

/// How a request is answered.
enum class ReplyMode {
    Normal,   // the record the request calls for
    Error,    // the topic "error"
    Exit,     // the topic "exit"
    None,     // nothing; keep running
    Die,      // end the process before answering
    BadMagic, // a frame whose magic is wrong
    BadCrc,   // a frame whose payload does not match its CRC
    Echo,     // the request's payload back under the topic "echo"
};

/// How a cancel request is answered.
enum class CancelMode { Response, Exit, None };

struct Options {
    std::string baseName;
    bool help = false;

    // Start-up.
    bool exitAtOnce = false;     // end at once, before touching the pipes
    bool noStartup = false;      // never open the pipes nor signal
    bool signalOnly = false;     // signal the start-up event and end
    uint32_t startupDelayMs = 0; // wait before opening the pipes
    uint32_t lingerMs = 60000;   // how long a process that stays on waits
    std::string pidFile;
    bool speak = false; // write a diagnostic line to standard output at start, as the library may
    std::string recordFile;
    std::string sender = "NorvEngine";
    uint32_t greetings = 0;   // frames sent right after start-up
    bool ignoreClose = false; // stay on after the pipes closed
    bool closePipes = false;  // close both pipes right after start-up, unread, and stay on
    std::string deafTo;       // never read; answer this request record unasked, stay on
    bool dieMidFrame = false; // dying means: half of the next frame, then SIGKILL

    ReplyMode reply = ReplyMode::Normal;
    std::string replyTo; // only requests of this record name get the reply
                         // mode; others are answered normally

    // Technical information.
    std::string version = "1.0.0.0";
    uint32_t supportedProfiles = 12; // the first N profiles are supported
    std::string sandbox;             // written to the technical details file, when set

    // Analysis.
    uint32_t analysisErr = 0;
    std::string failInput;      // inputs whose path holds this text fail analysis
    uint32_t analysisFiles = 1; // more than one: a chain of files
    uint32_t firstChainFormat = 0;
    uint32_t videoTracks = 1;
    uint32_t audioTracks = 1;
    uint32_t highLevelAudioTracks = 0;
    uint32_t subtitleTracks = 0;
    uint32_t duration = 60;
    uint64_t fileSize = 1000000;
    uint32_t width = 1920;
    uint32_t height = 1080;
    uint32_t frameRate = 25; // videoFrameRate as sent: thousandths of a frame per second
    int angle = 0;
    std::string container = "mp4";

    // Transcode.
    uint32_t progressCount = 3;
    uint32_t fileCount = 1;
    uint32_t progressIntervalMs = 0;
    int64_t dieAfterProgress = -1; // end the process after this many records
    int64_t result = 0;
    std::string resultDescription;
    bool waitCancel = false;  // after the progress, wait for a cancel request
    bool writeOutput = false; // write to the output file as the progress goes
    // When set, replaces --progress and --files.
    std::vector<ScriptedProgress> progressScript;

    // Cancel.
    CancelMode cancel = CancelMode::Response;
    int64_t cancelResult = -998;
};

/// Parses argv. The last argument is the base name. Returns false with a
/// message in error for an unknown or malformed option.
bool ParseOptions(const std::vector<std::string>& args, Options& options, std::string& error);

/// The usage text.
const char* Usage();

} // namespace scripted
