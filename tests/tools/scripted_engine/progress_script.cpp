#include "progress_script.h"

#include <algorithm>
#include <cstdlib>

namespace scripted {

namespace {

bool ReadNumber(const std::string& text, int64_t& value) {
    if (text.empty()) {
        return false;
    }
    char* end = nullptr;
    value = std::strtoll(text.c_str(), &end, 10);
    return end != nullptr && *end == '\0';
}

std::vector<std::string> SplitAt(const std::string& text, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t next = text.find(separator, start);
        parts.push_back(text.substr(start, next - start));
        if (next == std::string::npos) {
            return parts;
        }
        start = next + 1;
    }
}

bool ParseEntry(std::string entry, ScriptedProgress& out) {
    if (entry == "bad") {
        out.unreadable = true;
        return true;
    }
    if (!entry.empty() && entry[0] == '-') {
        out.named = false;
        entry.erase(0, 1);
    }
    const std::vector<std::string> fields = SplitAt(entry, ':');
    if (fields.size() > 3) {
        return false;
    }
    int64_t values[3] = {0, 0, 0};
    for (size_t i = 0; i < fields.size(); ++i) {
        if (!ReadNumber(fields[i], values[i])) {
            return false;
        }
    }
    if (values[0] < 0 || values[2] < 0) {
        return false;
    }
    out.fileNum = static_cast<uint32_t>(values[0]);
    out.stageID = static_cast<int>(values[1]);
    out.timeRemaining = static_cast<uint32_t>(values[2]);
    return true;
}

} // namespace

bool ParseProgressScript(const std::string& text, std::vector<ScriptedProgress>& out,
                         std::string& error) {
    out.clear();
    for (const std::string& entry : SplitAt(text, ',')) {
        ScriptedProgress record;
        if (!ParseEntry(entry, record)) {
            error = "bad --progress-script entry: " + entry;
            return false;
        }
        out.push_back(record);
    }
    return true;
}

TBS::ProgressResponse MakeScriptedProgress(const std::vector<ScriptedProgress>& script,
                                           const TBS::TranscodeRequest& request, uint32_t index) {
    const ScriptedProgress& entry = script.at(index);
    const auto count = static_cast<uint32_t>(script.size());
    uint32_t files = 0;
    for (const ScriptedProgress& e : script) {
        files = std::max(files, e.fileNum);
    }
    TBS::ProgressResponse p;
    p.countOfStages = count;
    p.stage = index + 1;
    p.stageID = entry.stageID;
    p.progress = 100.0 * (index + 1) / count;
    p.timeElapsed = index + 1;
    p.timeRemaining = entry.timeRemaining;
    p.passStepNum = 1;
    p.passCount = 1;
    p.fileNum = entry.fileNum;
    p.fileCount = files;
    if (entry.named) {
        p.sFilename = entry.fileNum >= 1 && entry.fileNum <= request.inputFiles.size()
                          ? request.inputFiles[entry.fileNum - 1]
                          : "file" + std::to_string(entry.fileNum);
    }
    p.currentVideoFrame = 25 * (index + 1);
    p.videoRenderingRate = 100;
    return p;
}

} // namespace scripted
