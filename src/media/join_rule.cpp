#include "media/join_rule.h"

#include "session/source_refs.h"

namespace nvt {

namespace {

bool operator!=(const JoinFacts::Audio& a, const JoinFacts::Audio& b) {
    return a.channels != b.channels || a.sampleRate != b.sampleRate ||
           a.bitsPerSample != b.bitsPerSample;
}

} // namespace

Result JoinRule(const JoinFacts& first, const JoinFacts& next, AudioTrackCount count) {
    if (first.angle != next.angle) {
        return Combine_impossible_different_VideoAngle;
    }
    if (first.width != next.width || first.height != next.height ||
        first.frameRate != next.frameRate) {
        return Combine_impossible_different_Width_Height_FPS;
    }
    const bool countFits = count == AudioTrackCount::Same ? next.audio.size() == first.audio.size()
                                                          : next.audio.size() >= first.audio.size();
    if (!countFits) {
        return Combine_impossible_different_AudioTrackCount;
    }
    for (size_t i = 0; i < first.audio.size(); ++i) {
        if (first.audio[i] != next.audio[i]) {
            return Combine_impossible_different_ChannelCount_SampleRate_BitsPerSample;
        }
    }
    return SUCCESS;
}

JoinFacts JoinFactsOf(ISourceMedia& source) {
    JoinFacts facts;
    HeldRef<ISourceMediaVideoTrack> video;
    if (source.GetVideoTrack(0, video.Receive()) == SUCCESS && video) {
        facts.angle = video->GetAngle();
        video->GetWidth(&facts.width);
        video->GetHeight(&facts.height);
        video->GetFrameRate(&facts.frameRate);
    }
    int32_t count = 0;
    if (source.GetAudioTrackCount(&count) != SUCCESS || count < 0) {
        count = 0;
    }
    for (int32_t i = 0; i < count; ++i) {
        JoinFacts::Audio audio;
        HeldRef<ISourceMediaAudioTrack> track;
        if (source.GetAudioTrack(static_cast<uint32_t>(i), track.Receive()) == SUCCESS && track) {
            track->GetChannelCount(&audio.channels);
            track->GetSampleRate(&audio.sampleRate);
            track->GetBitsPerSample(&audio.bitsPerSample);
        }
        facts.audio.push_back(audio);
    }
    return facts;
}

JoinFacts JoinFactsOf(const TBS::AnalyzeResponse& response) {
    JoinFacts facts;
    if (!response.videoTracks.empty()) {
        const TBS::SVideoTrack& video = response.videoTracks[0];
        facts.angle = response.angle;
        facts.width = static_cast<int32_t>(video.videoWidth);
        facts.height = static_cast<int32_t>(video.videoHeight);
        facts.frameRate = video.videoFrameRate / 1000.0;
    }
    for (const TBS::SAudioTrack& track : response.audioTracks) {
        JoinFacts::Audio audio;
        audio.channels = static_cast<int32_t>(track.audioChannelCount);
        audio.sampleRate = static_cast<int32_t>(track.audioSampleRate);
        audio.bitsPerSample = static_cast<int32_t>(track.audioBitsPerSample);
        facts.audio.push_back(audio);
    }
    return facts;
}

} // namespace nvt
