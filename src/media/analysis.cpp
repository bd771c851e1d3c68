#include "media/analysis.h"

#include "output/profile_limits.h"
#include "platform/text.h"

namespace nvt {

namespace {

void FillAudioTrack(const TBS::SAudioTrack& record, bool audioContainer,
                    SourceMediaAudioTrack& track) {
    track.id = record.ID;
    track.bitsPerSample = static_cast<int32_t>(record.audioBitsPerSample);
    track.channelCount = static_cast<int32_t>(record.audioChannelCount);
    track.sampleRate = static_cast<int32_t>(record.audioSampleRate);
    track.bitrate = record.bitsPerSecond;
    track.name = audioContainer ? record.audioCodecName + record.trackName : record.trackName;
    track.language = Utf8ToWide(record.audioLangCode);
    track.codec = static_cast<int32_t>(record.audioFormat);
    for (const auto& entry : record.audioTranscodeRequires) {
        const auto profile = static_cast<int32_t>(entry.first);
        if (entry.first <= static_cast<unsigned>(INT32_MAX) && IsKnownProfile(profile)) {
            track.transcodeRequirements.emplace(
                profile,
                std::make_pair(entry.second.requiresTranscode, entry.second.transcodePossible));
        }
    }
}

void AppendAudioTracks(const std::vector<TBS::SAudioTrack>& records, bool audioContainer,
                       AudioTrackList& tracks) {
    for (const auto& record : records) {
        nvtl::RefCountedPtr<SourceMediaAudioTrack> track(new SourceMediaAudioTrack());
        FillAudioTrack(record, audioContainer, *track);
        tracks.emplace_back();
        tracks.back() = track.get();
    }
}

void FillVideoTrack(const TBS::AnalyzeResponse& response, SourceMediaVideoTrack& track) {
    if (response.videoTracks.empty()) {
        track.codec = VC_Empty;
        return;
    }
    const TBS::SVideoTrack& record = response.videoTracks.front();
    track.id = record.ID;
    track.codec = static_cast<int32_t>(record.videoCodec);
    track.frameRate = record.videoFrameRate / 1000.0;
    track.bitrate =
        record.videoBitrate != 0 ? static_cast<double>(record.videoBitrate) : record.bitsPerSecond;
    track.width = static_cast<int32_t>(record.videoWidth);
    track.height = static_cast<int32_t>(record.videoHeight);
    track.aspectRatio = record.DAR;
    track.angle = response.angle;
}

template <class T> T EntryOrZero(const std::vector<T>& list, size_t index) {
    return index < list.size() ? list[index] : T();
}

} // namespace

bool AnalysisDeliversSources(Result result) {
    return result == SUCCESS || result == ENG_NO_AC3_DEC;
}

void FillFromAnalysis(const TBS::AnalyzeResponse& response, SourceMedia& source) {
    source.isAudioContainer = response.isAudioContainer;
    source.isSubtitleContainer = response.isSubtitleContainer;
    for (size_t i = 0; i < source.profileFlags.size(); ++i) {
        source.profileFlags[i] = response.profiles[i];
    }
    if (!response.srcFileListList.empty()) {
        source.fileList = response.srcFileListList.front().fileList;
    }
    source.durations.assign(response.duration.begin(), response.duration.end());
    if (!source.durations.empty()) {
        source.duration = source.durations.front();
    }
    source.fileSizes.assign(response.inputFileSize.begin(), response.inputFileSize.end());
    if (source.fileSizes.size() == 1) {
        source.fileSize = source.fileSizes.front();
    }
    source.containerFormatName = Utf8ToWide(response.containerFormatName);

    nvtl::RefCountedPtr<SourceMediaVideoTrack> video(new SourceMediaVideoTrack());
    FillVideoTrack(response, *video);
    source.videoTracks.emplace_back();
    source.videoTracks.back() = video.get();

    AppendAudioTracks(response.audioTracks, response.isAudioContainer, source.audioTracks);
    AppendAudioTracks(response.audioTracksHighLevel, response.isAudioContainer,
                      source.highLevelAudioTracks);
    for (const auto& record : response.audioTracksUnsupportedHighLevel) {
        nvtl::RefCountedPtr<SourceMediaAudioTrack> track(new SourceMediaAudioTrack());
        track->name = record.audioCodecName;
        track->codec = static_cast<int32_t>(record.audioFormat);
        source.unsupportedAudioTracks.emplace_back();
        source.unsupportedAudioTracks.back() = track.get();
    }
    for (const auto& record : response.subtitleTracks) {
        nvtl::RefCountedPtr<SourceMediaSubtitleTrack> track(new SourceMediaSubtitleTrack());
        track->language = Utf8ToWide(record.subtitleLangCode);
        track->name = record.trackName;
        track->subtitleType = static_cast<int32_t>(record.subType);
        track->id = record.ID;
        source.subtitleTracks.emplace_back();
        source.subtitleTracks.back() = track.get();
    }
}

void AppendAnalysedSources(SourceMedia& first,
                           std::vector<nvtl::RefCountedPtr<ISourceMedia>>& sources) {
    sources.emplace_back(&first);
    const size_t count = first.fileList.size();
    if (count <= 1) {
        return;
    }

    const size_t head = first.fileList.front().format == kChainHeadFormat ? 1 : 0;
    first.filePath = Utf8ToWide(first.fileList[head].source);
    first.duration = EntryOrZero(first.durations, head);
    first.fileSize = EntryOrZero(first.fileSizes, head);
    first.SetTitleFromPath(first.filePath);

    for (size_t i = head + 1; i < count; ++i) {
        // Files the engine gave no duration or size for count as 0.
        if (first.durations.size() == i) {
            first.durations.push_back(0);
        }
        if (first.fileSizes.size() == i) {
            first.fileSizes.push_back(0);
        }
        nvtl::RefCountedPtr<SourceMedia> next(
            new SourceMedia(Utf8ToWide(first.fileList[i].source)));
        next->containerFormatName = first.containerFormatName;
        next->duration = EntryOrZero(first.durations, i);
        next->fileSize = EntryOrZero(first.fileSizes, i);
        next->fileList = first.fileList;
        next->audioTracks = first.audioTracks;
        next->videoTracks = first.videoTracks;
        next->subtitleTracks = first.subtitleTracks;
        sources.emplace_back(next.get());
    }
}

} // namespace nvt
