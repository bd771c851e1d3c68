#include "session/derivation_inputs.h"

#include <algorithm>

#include "norv/engine_info.h"
#include "output/output_properties.h"
#include "output/output_settings.h"

namespace nvt {

namespace {

bool EngineOutputsAc3(ITranscodeEngineInfo* engineInfo, NorvProfile profile) {
    if (engineInfo == nullptr) {
        return false;
    }
    std::vector<AudioCodec> codecs;
    engineInfo->GetSupportedOutputCodecs(profile, codecs);
    return std::find(codecs.begin(), codecs.end(), AC_AC3) != codecs.end();
}

// The facts of the first source, its audio tracks as far as the selection
// names them. ENG_ERR when it has no readable first video track.
Result ReadFacts(ISourceMedia& first, const std::vector<uint32_t>& audioSelection,
                 SourceFacts& facts) {
    HeldRef<ISourceMediaVideoTrack> video;
    if (first.GetVideoTrack(0, video.Receive()) != SUCCESS || !video) {
        return ENG_ERR;
    }
    facts = SourceFacts();
    first.GetFileSize(&facts.fileSize);
    video->GetWidth(&facts.video.width);
    video->GetHeight(&facts.video.height);
    video->GetFrameRate(&facts.video.frameRate);
    video->GetAspectRatio(&facts.video.aspect);
    video->GetBitrate(&facts.video.bitsPerSecond);
    first.GetVideoTrackCount(&facts.videoTrackCount);
    for (uint32_t index : audioSelection) {
        HeldRef<ISourceMediaAudioTrack> track;
        if (first.GetAudioTrack(index, track.Receive()) == SUCCESS && track) {
            AudioFacts audio;
            int32_t codec = AC_UNKNOWN;
            track->GetBitrate(&audio.bitsPerSecond);
            track->GetCodec(&codec);
            audio.codec = static_cast<AudioCodec>(codec);
            facts.audioTracks[index] = audio;
        }
    }
    first.GetSubtitleTrackCount(&facts.subtitleTrackCount);
    return SUCCESS;
}

Result PrepareInputs(ISourceMedia& first, const SourceList& extraSources, uint64_t totalDurationMs,
                     const OutputWishes& wishes, ITranscodeEngineInfo* engineInfo,
                     SourceSummary& summary, SettingsRequest& request, double& sourceFrameRate) {
    SourceFacts facts;
    const Result read = ReadFacts(first, wishes.audioSelection, facts);
    if (read != SUCCESS) {
        return read;
    }
    uint64_t extraFileSize = 0;
    for (const auto& extra : extraSources) {
        uint64_t size = 0;
        if (extra && extra->GetFileSize(&size) == SUCCESS) {
            extraFileSize += size;
        }
    }
    PrepareDerivation(facts, extraFileSize, totalDurationMs, wishes,
                      EngineOutputsAc3(engineInfo, wishes.preset.profileID), summary, request);
    sourceFrameRate = facts.video.frameRate;
    return SUCCESS;
}

} // namespace

OutputWishes WishesOf(const TranscodeOutputSettings& settings) {
    return OutputWishes{settings.Request().CustomPresetData, settings.Request().audioTracks,
                        settings.SubtitleSelection()};
}

Result PrepareSettingsDerivation(ISourceMedia& firstSource, const SourceList& extraSources,
                                 uint64_t totalDurationMs, const TranscodeOutputSettings& settings,
                                 ITranscodeEngineInfo* engineInfo, SourceSummary& summary,
                                 SettingsRequest& request) {
    double frameRate = 0.0;
    try {
        return PrepareInputs(firstSource, extraSources, totalDurationMs, WishesOf(settings),
                             engineInfo, summary, request, frameRate);
    } catch (...) {
        return ENG_ERR;
    }
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
