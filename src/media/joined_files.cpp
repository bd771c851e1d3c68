#include "media/joined_files.h"

namespace nvt {

std::vector<JoinedFile> JoinedFiles(const std::vector<SourceFiles>& sources) {
    const auto isOtherSource = [&](const std::string& path, std::size_t self) {
        for (std::size_t k = 0; k < sources.size(); ++k) {
            if (k != self && sources[k].path == path) {
                return true;
            }
        }
        return false;
    };

    std::vector<JoinedFile> files;
    for (std::size_t s = 0; s < sources.size(); ++s) {
        const SourceFiles& source = sources[s];
        std::vector<JoinedFile> own;
        uint64_t sum = 0;
        const std::size_t durationCount = source.durations ? source.durations->size() : 0;
        const std::size_t listCount = source.fileList ? source.fileList->size() : 0;
        for (std::size_t i = 0; i < durationCount; ++i) {
            const bool listed = i < listCount;
            if (listed && (*source.fileList)[i].format == kChainHeadFormat) {
                continue;
            }
            const std::string& path = listed ? (*source.fileList)[i].source : source.path;
            if (path != source.path && isOtherSource(path, s)) {
                continue;
            }
            const uint64_t ms = static_cast<uint64_t>((*source.durations)[i]) * 1000;
            own.push_back(JoinedFile{path, ms, s});
            sum += ms;
        }
        if (sum == 0) {
            // Nothing counted from the file list: the source's own duration.
            own.clear();
            own.push_back(JoinedFile{source.path, source.durationMs, s});
        }
        files.insert(files.end(), own.begin(), own.end());
    }
    return files;
}

uint64_t TotalDurationMs(const std::vector<JoinedFile>& files) {
    uint64_t total = 0;
    for (const JoinedFile& file : files) {
        total += file.durationMs;
    }
    return total;
}

} // namespace nvt
