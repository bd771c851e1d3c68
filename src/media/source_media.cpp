#include "media/source_media.h"

#include "api/out_param.h"
#include "platform/text.h"

namespace nvt {

namespace {

template <class Interface>
Result CountOut(int32_t* out, const std::vector<nvtl::RefCountedPtr_STLSafe<Interface>>& list) {
    return WriteOut(out, static_cast<int32_t>(list.size()));
}

/// Hands out one track of a list with a reference for the receiver.
template <class Interface>
Result TrackOut(const std::vector<nvtl::RefCountedPtr_STLSafe<Interface>>& list, uint32_t index,
                Interface** out) {
    if (out == nullptr || list.empty() || index >= list.size()) {
        return InvalidArgument;
    }
    Interface* track = list[index].get();
    if (track != nullptr) {
        track->AddRef();
    }
    *out = track;
    return SUCCESS;
}

} // namespace

// ---- audio tracks ----------------------------------------------------------

Result SourceMediaAudioTrack::GetName(WideString& out) {
    out = Utf8ToWide(name);
    return SUCCESS;
}
Result SourceMediaAudioTrack::GetBitrate(double* out) {
    return WriteOut(out, bitrate);
}
Result SourceMediaAudioTrack::GetID(int32_t* out) {
    return WriteOut(out, id);
}
Result SourceMediaAudioTrack::GetCodec(int32_t* out) {
    return WriteOut(out, codec);
}
Result SourceMediaAudioTrack::GetLanguage(WideString& out) {
    out = language;
    return SUCCESS;
}
Result SourceMediaAudioTrack::GetChannelCount(int32_t* out) {
    return WriteOut(out, channelCount);
}
Result SourceMediaAudioTrack::GetSampleRate(int32_t* out) {
    return WriteOut(out, sampleRate);
}
Result SourceMediaAudioTrack::GetBitsPerSample(int32_t* out) {
    return WriteOut(out, bitsPerSample);
}

Result SourceMediaAudioTrack::GetTranscodeRequirement(NorvProfile profile, bool* requiresTranscode,
                                                      bool* transcodePossible) {
    const auto found = transcodeRequirements.find(profile);
    if (found == transcodeRequirements.end()) {
        return ENG_ERR;
    }
    if (requiresTranscode == nullptr || transcodePossible == nullptr) {
        return InvalidArgument;
    }
    *requiresTranscode = found->second.first;
    *transcodePossible = found->second.second;
    return SUCCESS;
}

// ---- video tracks ----------------------------------------------------------

Result SourceMediaVideoTrack::GetName(WideString&) {
    return ENG_NOTIMPL_ERR;
}
Result SourceMediaVideoTrack::GetBitrate(double* out) {
    return WriteOut(out, bitrate);
}
Result SourceMediaVideoTrack::GetID(int32_t* out) {
    return WriteOut(out, id);
}
Result SourceMediaVideoTrack::GetCodec(int32_t* out) {
    return WriteOut(out, codec);
}
Result SourceMediaVideoTrack::GetWidth(int32_t* out) {
    return WriteOut(out, width);
}
Result SourceMediaVideoTrack::GetHeight(int32_t* out) {
    return WriteOut(out, height);
}
Result SourceMediaVideoTrack::GetFrameRate(double* out) {
    return WriteOut(out, frameRate);
}
Result SourceMediaVideoTrack::GetAspectRatio(double* out) {
    return WriteOut(out, aspectRatio);
}
int32_t SourceMediaVideoTrack::GetAngle() {
    return angle;
}

// ---- subtitle tracks -------------------------------------------------------

Result SourceMediaSubtitleTrack::GetName(WideString& out) {
    out = Utf8ToWide(name);
    return SUCCESS;
}
Result SourceMediaSubtitleTrack::GetBitrate(double*) {
    return ENG_NOTIMPL_ERR;
}
Result SourceMediaSubtitleTrack::GetID(int32_t* out) {
    return WriteOut(out, id);
}
Result SourceMediaSubtitleTrack::GetLanguage(WideString& out) {
    out = language;
    return SUCCESS;
}
Result SourceMediaSubtitleTrack::GetSubtitleType(int32_t* out) {
    return WriteOut(out, subtitleType);
}

// ---- sources ---------------------------------------------------------------

SourceMedia::SourceMedia(const WideString& path) : filePath(path) {
    SetTitleFromPath(path);
}

void SourceMedia::SetTitleFromPath(const WideString& path) {
    auto separator = path.rfind(u'/');
    if (separator == WideString::npos) {
        separator = path.rfind(u'\\');
    }
    if (separator == WideString::npos) {
        return;
    }
    WideString name = path.substr(separator + 1);
    const auto dot = name.rfind(u'.');
    if (dot != WideString::npos) {
        name.erase(dot);
    }
    title = name;
}

Result SourceMedia::GetFilePath(WideString& out) {
    out = filePath;
    return SUCCESS;
}
Result SourceMedia::GetContainerFormatName(WideString& out) {
    out = containerFormatName;
    return SUCCESS;
}
Result SourceMedia::GetDuration(uint64_t* out) {
    return WriteOut(out, duration * 1000);
}
Result SourceMedia::GetAudioTrackCount(int32_t* out) {
    return CountOut(out, audioTracks);
}
Result SourceMedia::GetHighLevelAudioTrackCount(int32_t* out) {
    return CountOut(out, highLevelAudioTracks);
}
Result SourceMedia::GetUnsupportedAudioTrackCount(int32_t* out) {
    return CountOut(out, unsupportedAudioTracks);
}
Result SourceMedia::GetAudioTrack(uint32_t index, ISourceMediaAudioTrack** out) {
    return TrackOut(audioTracks, index, out);
}
Result SourceMedia::GetHighLevelAudioTrack(uint32_t index, ISourceMediaAudioTrack** out) {
    return TrackOut(highLevelAudioTracks, index, out);
}
Result SourceMedia::GetUnsupportedAudioTrack(uint32_t index, ISourceMediaAudioTrack** out) {
    return TrackOut(unsupportedAudioTracks, index, out);
}
Result SourceMedia::GetVideoTrackCount(int32_t* out) {
    return CountOut(out, videoTracks);
}
Result SourceMedia::GetVideoTrack(uint32_t index, ISourceMediaVideoTrack** out) {
    return TrackOut(videoTracks, index, out);
}
Result SourceMedia::GetSubtitleTrackCount(int32_t* out) {
    return CountOut(out, subtitleTracks);
}
Result SourceMedia::GetSubtitleTrack(uint32_t index, ISourceMediaSubtitleTrack** out) {
    return TrackOut(subtitleTracks, index, out);
}
Result SourceMedia::GetFileSize(uint64_t* out) {
    return WriteOut(out, fileSize);
}
Result SourceMedia::Reserved(uint32_t, uint32_t, uint32_t) {
    return ENG_NOTIMPL_ERR;
}
Result SourceMedia::GetTitle(WideString& out) {
    out = title;
    return SUCCESS;
}

Result SourceMedia::GetProfileFlag(NorvProfile profile, bool* out) {
    if (profile < 0 || profile >= _NP_count_) {
        return InvalidArgument;
    }
    return WriteOut(out, profileFlags[static_cast<size_t>(profile)]);
}

bool SourceMedia::IsAudioContainer() {
    return isAudioContainer;
}
bool SourceMedia::IsSubtitleContainer() {
    return isSubtitleContainer;
}

SourceMedia* AsSourceMedia(ISourceMedia* source) {
    return dynamic_cast<SourceMedia*>(source);
}

} // namespace nvt
