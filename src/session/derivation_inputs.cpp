#include "session/derivation_inputs.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

#include "norv/engine_info.h"
#include "output/output_properties.h"
#include "output/output_settings.h"

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

bool EngineOutputsAc3(ITranscodeEngineInfo* engineInfo, NorvProfile profile) {
    if (engineInfo == nullptr) {
        return false;
    }
    std::vector<AudioCodec> codecs;
    engineInfo->GetSupportedOutputCodecs(profile, codecs);
    return std::find(codecs.begin(), codecs.end(), AC_AC3) != codecs.end();
}

Result PrepareInputs(ISourceMedia& first, const SourceList& extraSources, uint64_t totalDurationMs,
                     const OutputWishes& wishes, ITranscodeEngineInfo* engineInfo,
                     SourceSummary& summary, SettingsRequest& request, double& sourceFrameRate) {
    HeldRef<ISourceMediaVideoTrack> video;
    if (first.GetVideoTrack(0, video.Receive()) != SUCCESS || !video) {
        return ENG_ERR;
    }
    const CustomPresetData& preset = wishes.preset;
    const std::vector<uint32_t>& audioSelection = wishes.audioSelection;
    const std::vector<uint32_t>& subtitleSelection = wishes.subtitleSelection;

    // The source.
    summary = SourceSummary();
    summary.durationSeconds = static_cast<uint32_t>(totalDurationMs / 1000);
    first.GetFileSize(&summary.totalFileSize);
    for (const auto& extra : extraSources) {
        uint64_t size = 0;
        if (extra && extra->GetFileSize(&size) == SUCCESS) {
            summary.totalFileSize += size;
        }
    }
    int32_t width = 0;
    int32_t height = 0;
    double bitrate = 0.0;
    sourceFrameRate = 0.0;
    video->GetWidth(&width);
    video->GetHeight(&height);
    video->GetFrameRate(&sourceFrameRate);
    video->GetAspectRatio(&summary.displayAspect);
    video->GetBitrate(&bitrate);
    summary.width = NonNegative(width);
    summary.height = NonNegative(height);
    summary.frameRate = ToFloat(sourceFrameRate);

    int32_t videoCount = 0;
    first.GetVideoTrackCount(&videoCount);
    const std::size_t videoTracks = NonNegative(videoCount);
    summary.videoKbps.assign(videoTracks, KbpsOf(bitrate));

    std::vector<AudioCodec> audioCodecs; // per selection entry; AC_UNKNOWN when unreadable
    audioCodecs.reserve(audioSelection.size());
    for (uint32_t index : audioSelection) {
        HeldRef<ISourceMediaAudioTrack> track;
        int32_t codec = AC_UNKNOWN;
        if (first.GetAudioTrack(index, track.Receive()) == SUCCESS && track) {
            double audioBitrate = 0.0;
            track->GetBitrate(&audioBitrate);
            // The engine reports bits per second, as for video.
            summary.audioKbps.push_back(KbpsOf(audioBitrate));
            track->GetCodec(&codec);
        }
        audioCodecs.push_back(static_cast<AudioCodec>(codec));
    }

    std::size_t subtitles = subtitleSelection.size();
    if (subtitles == 0) {
        int32_t count = 0;
        first.GetSubtitleTrackCount(&count);
        subtitles = NonNegative(count);
    }
    summary.extraKiB.assign(subtitles, 1);

    FillUnknownBitrates(summary, videoTracks, audioSelection.size());

    // The wishes.
    request = SettingsRequest();
    request.width = preset.resWidth;
    request.height = preset.resHeight;
    request.fileSizeLimit = preset.fileSizeLimit;
    request.videoKbps = preset.videoBitrate >> 10;
    request.audioKbps.reserve(audioSelection.size());
    for (std::size_t i = 0; i < audioSelection.size(); ++i) {
        // A track without a bitrate of its own gets 0, which the derivation
        // replaces by the profile's default.
        request.audioKbps.push_back(i < preset.audioBitrates.size() ? preset.audioBitrates[i] >> 10
                                                                    : 0);
    }
    request.profile = preset.profileID;
    request.videoTracks.Assign(videoTracks, true);
    request.audioTracks.Assign(audioSelection.size(), true);
    request.subtitleTracks.Assign(subtitleSelection.size(), true);
    request.trickPlay.Assign(videoTracks, preset.m_bEnableTrickplayTrack);
    request.audioPassthrough.Assign(audioSelection.size(), preset.audioPassthrough);
    if (preset.audioPassthrough) {
        // Only AC3 is passed through, and only where the engine can write it.
        const bool ac3Out = EngineOutputsAc3(engineInfo, preset.profileID);
        for (std::size_t i = 0; i < audioCodecs.size(); ++i) {
            if (audioCodecs[i] != AC_AC3 || !ac3Out) {
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
    return SUCCESS;
}

} // namespace

OutputWishes WishesOf(const TranscodeOutputSettings& settings) {
    return OutputWishes{settings.Request().CustomPresetData, settings.Request().audioTracks,
                        settings.SubtitleSelection()};
}

Result PrepareSettingsDerivation(ISourceMedia& firstSource, const SourceList& extraSources,
                                 uint64_t totalDurationMs, const OutputWishes& wishes,
                                 ITranscodeEngineInfo* engineInfo, SourceSummary& summary,
                                 SettingsRequest& request) {
    double frameRate = 0.0;
    try {
        return PrepareInputs(firstSource, extraSources, totalDurationMs, wishes, engineInfo,
                             summary, request, frameRate);
    } catch (...) {
        return ENG_ERR;
    }
}

Result PrepareSettingsDerivation(ISourceMedia& firstSource, const SourceList& extraSources,
                                 uint64_t totalDurationMs, const TranscodeOutputSettings& settings,
                                 ITranscodeEngineInfo* engineInfo, SourceSummary& summary,
                                 SettingsRequest& request) {
    return PrepareSettingsDerivation(firstSource, extraSources, totalDurationMs, WishesOf(settings),
                                     engineInfo, summary, request);
}

Result DeriveOutputProperties(ISourceMedia& firstSource, const SourceList& extraSources,
                              uint64_t totalDurationMs, const TranscodeOutputSettings& settings,
                              ITranscodeEngineInfo* engineInfo, OutputPropertyValues& values) {
    try {
        SourceSummary summary;
        SettingsRequest request;
        double frameRate = 0.0;
        const Result prepared =
            PrepareInputs(firstSource, extraSources, totalDurationMs, WishesOf(settings),
                          engineInfo, summary, request, frameRate);
        if (prepared != SUCCESS) {
            return prepared;
        }
        SettingsResult result;
        if (!DeriveTranscodeSettings(summary, request, result)) {
            return InvalidArgument;
        }
        OutputPropertyValues out = values;
        out.estimatedSize = result.estimatedSize;
        out.minimumSize = result.minimumSize;
        out.width = result.width;
        out.height = result.height;
        out.videoKbps = result.videoKbps;
        out.audioKbps = result.audioKbps;
        out.videoMinKbps = result.videoMinKbps;
        out.videoMaxKbps = result.videoMaxKbps;
        out.trickKbps = result.trickKbps;
        out.trickWidth = result.trickWidth;
        out.trickHeight = result.trickHeight;
        out.aspectNum = result.aspectNum;
        out.aspectDen = result.aspectDen;
        out.sizeLimitUnreachable = result.sizeLimitUnreachable;
        out.estimatedTime = static_cast<int32_t>(
            EstimateTranscodeSeconds(totalDurationMs, result.width, result.height, frameRate));
        values = std::move(out);
        return SUCCESS;
    } catch (...) {
        return ENG_ERR;
    }
}

} // namespace nvt
