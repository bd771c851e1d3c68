#include "batch_resume.h"

#include <cstdio>
#include <filesystem>

#include "json_output.h"

namespace norv {

namespace fs = std::filesystem;

bool OutputComplete(const std::string& output, const std::string& input, bool overwrite) {
    std::error_code error;
    return !overwrite && fs::is_regular_file(output, error) &&
           !fs::equivalent(output, input, error);
}

void RemoveLeftovers(const std::string& output) {
    const fs::path target = fs::absolute(output);
    const std::string prefix = "." + target.filename().string() + ".";
    const std::string suffix = ".part";
    std::error_code error;
    for (fs::directory_iterator it(target.parent_path(), error), end; !error && it != end;
         it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (name.size() > prefix.size() + suffix.size() &&
            name.compare(0, prefix.size(), prefix) == 0 &&
            name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
            std::error_code ignored;
            fs::remove(it->path(), ignored);
        }
    }
}

void AnnounceSkipped(bool json, const std::string& input, const std::string& output) {
    if (json) {
        Json event;
        event["event"] = "file_skipped";
        event["input"] = input;
        event["output"] = output;
        PrintJson(event);
    } else {
        std::fprintf(stderr, "skip  %s -> %s (already complete)\n", input.c_str(), output.c_str());
    }
}

} // namespace norv
