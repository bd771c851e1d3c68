#include "session/joined_files.h"

#include "media/source_media.h"
#include "platform/text.h"

namespace nvt {

uint64_t TotalDurationMs(const SourceList& sources) {
    std::vector<SourceFiles> described;
    described.reserve(sources.size());
    for (const auto& held : sources) {
        if (!held) {
            continue;
        }
        SourceFiles source;
        WideString path;
        held->GetFilePath(path);
        source.path = WideToUtf8(path);
        held->GetDuration(&source.durationMs);
        if (const SourceMedia* media = AsSourceMedia(held.get())) {
            source.durations = &media->durations;
            source.fileList = &media->fileList.Files();
        }
        described.push_back(std::move(source));
    }
    return TotalDurationMs(JoinedFiles(described));
}

} // namespace nvt
