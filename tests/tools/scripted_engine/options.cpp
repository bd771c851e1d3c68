#include "options.h"

#include <cstdlib>
#include <functional>
#include <map>

namespace scripted {

namespace {

bool ToInt(const std::string& text, int64_t& value) {
    if (text.empty()) {
        return false;
    }
    char* end = nullptr;
    value = std::strtoll(text.c_str(), &end, 0);
    return end != nullptr && *end == '\0';
}

template <class T> std::function<bool(const std::string&)> Number(T& target) {
    return [&target](const std::string& text) {
        int64_t value = 0;
        if (!ToInt(text, value)) {
            return false;
        }
        target = static_cast<T>(value);
        return true;
    };
}

std::function<bool(const std::string&)> Text(std::string& target) {
    return [&target](const std::string& text) {
        target = text;
        return true;
    };
}

std::function<bool(const std::string&)> Flag(bool& target) {
    return [&target](const std::string& text) {
        if (!text.empty()) {
            return false;
        }
        target = true;
        return true;
    };
}

bool ParseReply(const std::string& text, ReplyMode& mode) {
    static const std::map<std::string, ReplyMode> kModes = {
        {"normal", ReplyMode::Normal},  {"error", ReplyMode::Error},
        {"exit", ReplyMode::Exit},      {"none", ReplyMode::None},
        {"die", ReplyMode::Die},        {"bad-magic", ReplyMode::BadMagic},
        {"bad-crc", ReplyMode::BadCrc}, {"echo", ReplyMode::Echo}};
    const auto it = kModes.find(text);
    if (it == kModes.end()) {
        return false;
    }
    mode = it->second;
    return true;
}

bool ParseCancel(const std::string& text, CancelMode& mode) {
    if (text == "response") {
        mode = CancelMode::Response;
    } else if (text == "exit") {
        mode = CancelMode::Exit;
    } else if (text == "none") {
        mode = CancelMode::None;
    } else {
        return false;
    }
    return true;
}

} // namespace

const char* Usage() {
    return "usage: scripted-engine [options] BASE_NAME\n"
           "Start-up:\n"
           "  --exit-now               end at once (no pipes, no signal)\n"
           "  --no-startup             never open the pipes nor signal; end after --linger\n"
           "  --signal-only            signal the start-up event and end (no pipes)\n"
           "  --startup-delay=MS       wait before opening the pipes and signalling\n"
           "  --linger=MS              how long a process that stays on waits (60000)\n"
           "  --pid-file=FILE          write the process id to FILE\n"
           "  --record=FILE            append every received request to FILE:\n"
           "                           \"@@ <record type> <length>\\n<payload>\\n\"\n"
           "  --sender=NAME            sender of every reply (NorvEngine)\n"
           "  --greet=N                send N frames with topic \"greeting\" at start-up\n"
           "  --ignore-close           stay on for --linger after the pipes closed\n"
           "  --close-pipes            close both pipes right after start-up without\n"
           "                           reading, and stay on for --linger\n"
           "  --deaf=RECORD            never read the pipe; right after start-up answer a\n"
           "                           RECORD request (e.g. AnalyzeRequest) as if one had\n"
           "                           come, then stay on for --linger\n"
           "  --die-mid-frame          wherever the engine is to die (--reply=die,\n"
           "                           --die-after-progress), it writes half of its next\n"
           "                           frame and kills itself with SIGKILL\n"
           "Replies:\n"
           "  --reply=MODE             normal|error|exit|none|die|bad-magic|bad-crc|echo\n"
           "  --reply-to=RECORD        apply --reply only to this request record\n"
           "                           (e.g. TranscodeRequest); others answer normally\n"
           "Technical information:\n"
           "  --version=TEXT           engine version (1.0.0.0)\n"
           "  --supported-profiles=N   the first N profiles are supported (12)\n"
           "  --sandbox=TEXT           the sandbox line of the technical details file\n"
           "Analysis:\n"
           "  --analysis-err=CODE      the response's err (0)\n"
           "  --fail-input=TEXT        inputs whose path holds TEXT are answered with\n"
           "                           err ENG_UNSUPPORTED_FILE_TYPE (21)\n"
           "  --analysis-files=N       N > 1 answers a chain of N files (1)\n"
           "  --first-chain-format=F   format of the chain's first entry (0)\n"
           "  --video-tracks=N (1)  --audio-tracks=N (1)  --high-level-audio-tracks=N (0)\n"
           "  --subtitle-tracks=N (0)  --duration=N (60)  --file-size=BYTES (1000000)\n"
           "  --width=N (1920)  --height=N (1080)  --angle=N (0)  --container=NAME (mp4)\n"
           "  --frame-rate=N           videoFrameRate as sent, in thousandths of fps (25)\n"
           "Transcode:\n"
           "  --progress=N             progress records before the final response (3)\n"
           "  --files=M                the progress records run over M files (1)\n"
           "  --progress-interval=MS   pause between progress records (0)\n"
           "  --die-after-progress=K   end the process after K progress records\n"
           "  --result=CODE            the final response's resultID (0)\n"
           "  --result-description=T   the final response's resultDescription\n"
           "  --wait-cancel            after the progress, wait for a cancel request\n"
           "  --write-output           append a line to the output file per progress record\n"
           "  --progress-script=LIST   the progress records one by one, instead of\n"
           "                           --progress and --files: ENTRY,ENTRY,... with ENTRY\n"
           "                           \"bad\" (unreadable) or [-]FILE[:STAGE[:REMAINING]]\n"
           "                           (fileNum, stageID, timeRemaining; '-': no sFilename)\n"
           "Cancel:\n"
           "  --cancel=MODE            response|exit|none (response)\n"
           "  --cancel-result=CODE     resultID of the response to a cancel (-998)\n";
}

bool ParseOptions(const std::vector<std::string>& args, Options& o, std::string& error) {
    std::string reply;
    std::string cancel;
    std::string progressScript;
    const std::map<std::string, std::function<bool(const std::string&)>> handlers = {
        {"--help", Flag(o.help)},
        {"--exit-now", Flag(o.exitAtOnce)},
        {"--no-startup", Flag(o.noStartup)},
        {"--signal-only", Flag(o.signalOnly)},
        {"--startup-delay", Number(o.startupDelayMs)},
        {"--linger", Number(o.lingerMs)},
        {"--pid-file", Text(o.pidFile)},
        {"--speak", Flag(o.speak)},
        {"--record", Text(o.recordFile)},
        {"--sender", Text(o.sender)},
        {"--greet", Number(o.greetings)},
        {"--ignore-close", Flag(o.ignoreClose)},
        {"--close-pipes", Flag(o.closePipes)},
        {"--deaf", Text(o.deafTo)},
        {"--die-mid-frame", Flag(o.dieMidFrame)},
        {"--reply", Text(reply)},
        {"--reply-to", Text(o.replyTo)},
        {"--version", Text(o.version)},
        {"--supported-profiles", Number(o.supportedProfiles)},
        {"--sandbox", Text(o.sandbox)},
        {"--analysis-err", Number(o.analysisErr)},
        {"--fail-input", Text(o.failInput)},
        {"--analysis-files", Number(o.analysisFiles)},
        {"--first-chain-format", Number(o.firstChainFormat)},
        {"--video-tracks", Number(o.videoTracks)},
        {"--audio-tracks", Number(o.audioTracks)},
        {"--high-level-audio-tracks", Number(o.highLevelAudioTracks)},
        {"--subtitle-tracks", Number(o.subtitleTracks)},
        {"--duration", Number(o.duration)},
        {"--file-size", Number(o.fileSize)},
        {"--width", Number(o.width)},
        {"--height", Number(o.height)},
        {"--frame-rate", Number(o.frameRate)},
        {"--angle", Number(o.angle)},
        {"--container", Text(o.container)},
        {"--progress", Number(o.progressCount)},
        {"--files", Number(o.fileCount)},
        {"--progress-interval", Number(o.progressIntervalMs)},
        {"--die-after-progress", Number(o.dieAfterProgress)},
        {"--result", Number(o.result)},
        {"--result-description", Text(o.resultDescription)},
        {"--wait-cancel", Flag(o.waitCancel)},
        {"--write-output", Flag(o.writeOutput)},
        {"--progress-script", Text(progressScript)},
        {"--cancel", Text(cancel)},
        {"--cancel-result", Number(o.cancelResult)},
    };
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg.compare(0, 2, "--") != 0) {
            if (i + 1 != args.size()) {
                error = "the base name must be the last argument: " + arg;
                return false;
            }
            o.baseName = arg;
            continue;
        }
        const size_t eq = arg.find('=');
        const std::string name = arg.substr(0, eq);
        const std::string value = eq == std::string::npos ? std::string() : arg.substr(eq + 1);
        const auto it = handlers.find(name);
        if (it == handlers.end() || !it->second(value)) {
            error = "bad option: " + arg;
            return false;
        }
    }
    if (!reply.empty() && !ParseReply(reply, o.reply)) {
        error = "bad --reply: " + reply;
        return false;
    }
    if (!cancel.empty() && !ParseCancel(cancel, o.cancel)) {
        error = "bad --cancel: " + cancel;
        return false;
    }
    if (!progressScript.empty() && !ParseProgressScript(progressScript, o.progressScript, error)) {
        return false;
    }
    if (o.fileCount == 0) {
        o.fileCount = 1;
    }
    if (o.baseName.empty() && !o.help && !o.exitAtOnce && !o.signalOnly) {
        error = "no pipe base name";
        return false;
    }
    return true;
}

} // namespace scripted
