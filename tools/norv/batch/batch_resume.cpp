#include "batch/batch_resume.h"

#include <cstdio>
#include <filesystem>

#include "common/json_output.h"

namespace norv {

namespace fs = std::filesystem;

bool OutputComplete(const std::string& output, const std::string& input, bool overwrite) {
    std::error_code error;
    return !overwrite && fs::is_regular_file(output, error) &&
           !fs::equivalent(output, input, error);
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
