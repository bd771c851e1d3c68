#include "session/joined_files.h"

#include <algorithm>

#include "media/analysis.h"
#include "media/source_media.h"
#include "platform/text.h"

namespace nvt {

namespace {

std::string PathOf(ISourceMedia& source) {
    WideString path;
    source.GetFilePath(path);
    return WideToUtf8(path);
}

} // namespace

std::vector<JoinedFile> JoinedFiles(const SourceList& sources) {
    std::vector<std::string> ownPaths;
    ownPaths.reserve(sources.size());
    for (const auto& held : sources) {
        ownPaths.push_back(held ? PathOf(*held) : std::string());
    }
    const auto isOtherSource = [&](const std::string& path, std::size_t self) {
        for (std::size_t k = 0; k < ownPaths.size(); ++k) {
            if (k != self && ownPaths[k] == path) {
                return true;
            }
        }
        return false;
    };

    std::vector<JoinedFile> files;
    for (std::size_t s = 0; s < sources.size(); ++s) {
        if (!sources[s]) {
            continue;
        }
        std::vector<JoinedFile> own;
        uint64_t sum = 0;
        if (const SourceMedia* media = AsSourceMedia(sources[s].get())) {
            for (std::size_t i = 0; i < media->durations.size(); ++i) {
                const bool listed = i < media->fileList.size();
                if (listed && media->fileList[i].format == kChainHeadFormat) {
                    continue;
                }
                const std::string path = listed ? media->fileList[i].source : ownPaths[s];
                if (path != ownPaths[s] && isOtherSource(path, s)) {
                    continue;
                }
                const uint64_t ms = static_cast<uint64_t>(media->durations[i]) * 1000;
                own.push_back(JoinedFile{path, ms, s});
                sum += ms;
            }
        }
        if (sum == 0) {
            // Nothing counted from the file list: the source's own duration.
            own.clear();
            uint64_t ms = 0;
            sources[s]->GetDuration(&ms);
            own.push_back(JoinedFile{ownPaths[s], ms, s});
        }
        files.insert(files.end(), own.begin(), own.end());
    }
    return files;
}

uint64_t TotalDurationMs(const SourceList& sources) {
    uint64_t total = 0;
    for (const JoinedFile& file : JoinedFiles(sources)) {
        total += file.durationMs;
    }
    return total;
}

} // namespace nvt
