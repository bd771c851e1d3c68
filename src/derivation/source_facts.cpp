#include "derivation/source_facts.h"

#include <cfloat>
#include <cmath>

namespace nvt {

namespace {

float ToFloat(double value) {
    if (!std::isfinite(value) || std::fabs(value) > FLT_MAX) {
        return 0.0f;
    }
    return static_cast<float>(value);
}

uint32_t NonNegative(int32_t value) {
    return value > 0 ? static_cast<uint32_t>(value) : 0;
}

void SummariseSource(const SourceFacts& first, uint64_t extraFileSize, uint64_t totalDurationMs,
                     const OutputWishes& wishes, SourceSummary& summary,
                     std::vector<AudioCodec>& audioCodecs) {
    summary = SourceSummary();
    summary.durationSeconds = static_cast<uint32_t>(totalDurationMs / 1000);
    summary.totalFileSize = first.fileSize + extraFileSize;
    summary.width = NonNegative(first.video.width);
    summary.height = NonNegative(first.video.height);
    summary.frameRate = ToFloat(first.video.frameRate);
    summary.displayAspect = first.video.aspect;

    const std::size_t videoTracks = NonNegative(first.videoTrackCount);
    summary.videoKbps.assign(videoTracks, KbpsOf(first.video.bitsPerSecond));

    // One codec per selection entry; AC_UNKNOWN where the track cannot be read.
    audioCodecs.clear();
    audioCodecs.reserve(wishes.audioSelection.size());
    for (uint32_t index : wishes.audioSelection) {
        const auto track = first.audioTracks.find(index);
        if (track == first.audioTracks.end()) {
            audioCodecs.push_back(AC_UNKNOWN);
            continue;
        }
        // The engine reports bits per second, as for video.
        summary.audioKbps.push_back(KbpsOf(track->second.bitsPerSecond));
        audioCodecs.push_back(track->second.codec);
    }

    std::size_t subtitles = wishes.subtitleSelection.size();
    if (subtitles == 0) {
        subtitles = NonNegative(first.subtitleTrackCount);
    }
    summary.extraKiB.assign(subtitles, 1);

    FillUnknownBitrates(summary, videoTracks, wishes.audioSelection.size());
}

void RequestWishes(const OutputWishes& wishes, std::size_t videoTracks,
                   const std::vector<AudioCodec>& audioCodecs, bool ac3Writable,
                   SettingsRequest& request) {
    const CustomPresetData& preset = wishes.preset;
    const std::size_t audioCount = wishes.audioSelection.size();
    request = SettingsRequest();
    request.width = preset.resWidth;
    request.height = preset.resHeight;
    request.fileSizeLimit = preset.fileSizeLimit;
    request.videoKbps = preset.videoBitrate >> 10;
    request.audioKbps.reserve(audioCount);
    for (std::size_t i = 0; i < audioCount; ++i) {
        // A track without a bitrate of its own gets 0, which the derivation
        // replaces by the profile's default.
        request.audioKbps.push_back(i < preset.audioBitrates.size() ? preset.audioBitrates[i] >> 10
                                                                    : 0);
    }
    request.profile = preset.profileID;
    request.videoTracks.Assign(videoTracks, true);
    request.audioTracks.Assign(audioCount, true);
    request.subtitleTracks.Assign(wishes.subtitleSelection.size(), true);
    request.trickPlay.Assign(videoTracks, preset.m_bEnableTrickplayTrack);
    request.audioPassthrough.Assign(audioCount, preset.audioPassthrough);
    if (preset.audioPassthrough) {
        // Only AC3 is passed through, and only where the engine can write it.
        for (std::size_t i = 0; i < audioCodecs.size(); ++i) {
            if (audioCodecs[i] != AC_AC3 || !ac3Writable) {
                request.audioPassthrough.Set(i, false);
            }
        }
    }
    request.videoPassthrough.Assign(videoTracks, false);
    const SettingPriority prio = preset.prio;
    request.keepAspect = preset.enableAspectRatio;
    request.heightFirst = prio == prioResolutionHeight;
    request.widthFirst = prio == prioResolutionWidth;
    request.honourVideoBitrate = prio == prioVideoBitrate || prio == prioAudioBitrate ||
                                 prio == prioAudioPassThrough || prio == prioTrickPlayTrack ||
                                 (prio == prioAspectRatio && !preset.enableAspectRatio);
    request.fitToFileSize = prio == prioFilesize && preset.fileSizeLimit != 0;
}

} // namespace

void PrepareDerivation(const SourceFacts& first, uint64_t extraFileSize, uint64_t totalDurationMs,
                       const OutputWishes& wishes, bool ac3Writable, SourceSummary& summary,
                       SettingsRequest& request) {
    std::vector<AudioCodec> audioCodecs;
    SummariseSource(first, extraFileSize, totalDurationMs, wishes, summary, audioCodecs);
    RequestWishes(wishes, NonNegative(first.videoTrackCount), audioCodecs, ac3Writable, request);
}

} // namespace nvt
