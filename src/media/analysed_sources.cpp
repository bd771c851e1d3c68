#include "media/analysed_sources.h"

namespace nvt {

namespace {

template <class T> T EntryOrZero(const std::vector<T>& list, std::size_t index) {
    return index < list.size() ? list[index] : T();
}

const std::vector<TBS::SSourceFile>& ChainOf(const TBS::AnalyzeResponse& response) {
    static const std::vector<TBS::SSourceFile> kNone;
    return response.srcFileListList.empty() ? kNone : response.srcFileListList.front().fileList;
}

} // namespace

bool AnalysisDeliversSources(Result result) {
    return result == SUCCESS || result == ENG_NO_AC3_DEC;
}

VideoFacts VideoFactsOf(const TBS::SVideoTrack& record) {
    VideoFacts facts;
    facts.width = static_cast<int32_t>(record.videoWidth);
    facts.height = static_cast<int32_t>(record.videoHeight);
    facts.frameRate = record.videoFrameRate / 1000.0;
    facts.aspect = record.DAR;
    facts.bitsPerSecond =
        record.videoBitrate != 0 ? static_cast<double>(record.videoBitrate) : record.bitsPerSecond;
    return facts;
}

AudioFacts AudioFactsOf(const TBS::SAudioTrack& record) {
    AudioFacts facts;
    facts.bitsPerSecond = record.bitsPerSecond;
    facts.codec = static_cast<AudioCodec>(static_cast<int32_t>(record.audioFormat));
    return facts;
}

AnalysedFile UnchainedFile(const std::vector<uint32_t>& durations,
                           const std::vector<uint64_t>& fileSizes) {
    AnalysedFile file;
    file.duration = EntryOrZero(durations, 0);
    file.fileSize = fileSizes.size() == 1 ? fileSizes.front() : 0;
    return file;
}

std::vector<AnalysedFile> ChainFiles(const std::vector<TBS::SSourceFile>& fileList,
                                     std::vector<uint32_t>& durations,
                                     std::vector<uint64_t>& fileSizes) {
    std::vector<AnalysedFile> files;
    const std::size_t count = fileList.size();
    if (count <= 1) {
        return files;
    }
    const std::size_t head = FirstFileOf(fileList);
    for (std::size_t i = head; i < count; ++i) {
        // Files the engine gave no duration or size for count as 0.
        if (i > head && durations.size() == i) {
            durations.push_back(0);
        }
        if (i > head && fileSizes.size() == i) {
            fileSizes.push_back(0);
        }
        files.push_back(
            AnalysedFile{fileList[i].source, EntryOrZero(durations, i), EntryOrZero(fileSizes, i)});
    }
    return files;
}

AnalysedSources::AnalysedSources(const std::string& path, const TBS::AnalyzeResponse& response)
    : fileList_(ChainOf(response)), durations_(response.duration.begin(), response.duration.end()) {
    std::vector<uint64_t> fileSizes(response.inputFileSize.begin(), response.inputFileSize.end());
    AnalysedFile own = UnchainedFile(durations_, fileSizes);
    files_ = ChainFiles(fileList_, durations_, fileSizes);
    if (files_.empty()) {
        own.path = path;
        files_.push_back(std::move(own));
    }

    // Every analysed source has exactly one video track, an empty one when
    // the file has no video.
    if (!response.videoTracks.empty()) {
        facts_.video = VideoFactsOf(response.videoTracks.front());
    }
    facts_.videoTrackCount = 1;
    for (std::size_t i = 0; i < response.audioTracks.size(); ++i) {
        facts_.audioTracks[static_cast<uint32_t>(i)] = AudioFactsOf(response.audioTracks[i]);
    }
    facts_.subtitleTrackCount = static_cast<int32_t>(response.subtitleTracks.size());
}

std::size_t AnalysedSources::Find(const std::string& path) const {
    for (std::size_t k = 0; k < files_.size(); ++k) {
        if (files_[k].path == path) {
            return k;
        }
    }
    return 0;
}

std::size_t AnalysedSources::SourceFor(std::size_t entry, const std::string& path) const {
    const std::size_t head = FirstFileOf(fileList_);
    if (entry != kNoEntry && fileList_.size() > 1 && entry >= head &&
        entry - head < files_.size() && files_[entry - head].path == path) {
        return entry - head;
    }
    return Find(path);
}

SourceFiles AnalysedSources::Files(std::size_t k) const {
    SourceFiles files;
    files.path = files_[k].path;
    files.durationMs = files_[k].duration * 1000;
    // The chain's later sources carry no durations of their own list.
    files.durations = k == 0 ? &durations_ : nullptr;
    files.fileList = &fileList_;
    return files;
}

SourceFacts AnalysedSources::Facts(std::size_t k) const {
    SourceFacts facts = facts_;
    facts.fileSize = files_[k].fileSize;
    return facts;
}

} // namespace nvt
