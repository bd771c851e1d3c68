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
    const AudioFacts facts = AudioFactsOf(record);
    track.bitrate = facts.bitsPerSecond;
    track.name = audioContainer ? record.audioCodecName + record.trackName : record.trackName;
    track.language = Utf8ToWide(record.audioLangCode);
    track.codec = facts.codec;
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
    const VideoFacts facts = VideoFactsOf(record);
    track.frameRate = facts.frameRate;
    track.bitrate = facts.bitsPerSecond;
    track.width = facts.width;
    track.height = facts.height;
    track.aspectRatio = facts.aspect;
    track.angle = response.angle;
}

} // namespace

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
    source.fileSizes.assign(response.inputFileSize.begin(), response.inputFileSize.end());
    const AnalysedFile own = UnchainedFile(source.durations, source.fileSizes);
    source.duration = own.duration;
    source.fileSize = own.fileSize;
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
    const std::vector<AnalysedFile> chain =
        ChainFiles(first.fileList, first.durations, first.fileSizes);
    if (chain.empty()) {
        return;
    }

    first.filePath = Utf8ToWide(chain.front().path);
    first.duration = chain.front().duration;
    first.fileSize = chain.front().fileSize;
    first.SetTitleFromPath(first.filePath);

    for (size_t i = 1; i < chain.size(); ++i) {
        nvtl::RefCountedPtr<SourceMedia> next(new SourceMedia(Utf8ToWide(chain[i].path)));
        next->containerFormatName = first.containerFormatName;
        next->duration = chain[i].duration;
        next->fileSize = chain[i].fileSize;
        next->fileList = first.fileList;
        next->audioTracks = first.audioTracks;
        next->videoTracks = first.videoTracks;
        next->subtitleTracks = first.subtitleTracks;
        sources.emplace_back(next.get());
    }
}

} // namespace nvt
