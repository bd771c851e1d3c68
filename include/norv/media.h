// Analysed sources and their tracks, as returned by CreateMediaSource.
#pragma once

#include <cstdint>

#include "norv/enums.h"
#include "norv/refcounted.h"
#include "norv/types.h"

namespace nvt {

/// What all tracks share. Text results replace the caller's string; numeric
/// results are written through the caller's pointer.
class ISourceMediaTrack : public nvtl::IRefCounted {
public:
    /// Track name. ENG_NOTIMPL_ERR for video tracks.
    virtual Result GetName(WideString& out) = 0;
    /// Bit rate in bits per second. ENG_NOTIMPL_ERR for subtitle tracks.
    virtual Result GetBitrate(double* out) = 0;
    virtual Result GetID(int32_t* out) = 0;
};

class ISourceMediaAudioTrack : public ISourceMediaTrack {
public:
    /// An AudioCodec value.
    virtual Result GetCodec(int32_t* out) = 0;
    virtual Result GetLanguage(WideString& out) = 0;
    virtual Result GetChannelCount(int32_t* out) = 0;
    virtual Result GetSampleRate(int32_t* out) = 0;
    virtual Result GetBitsPerSample(int32_t* out) = 0;
    /// Whether this track must be re-encoded for a profile, and whether it
    /// can be. ENG_ERR, writing nothing, when the engine gave no verdict.
    virtual Result GetTranscodeRequirement(NorvProfile profile, bool* requiresTranscode,
                                           bool* transcodePossible) = 0;
};

class ISourceMediaVideoTrack : public ISourceMediaTrack {
public:
    /// A VideoCodec value.
    virtual Result GetCodec(int32_t* out) = 0;
    virtual Result GetWidth(int32_t* out) = 0;
    virtual Result GetHeight(int32_t* out) = 0;
    virtual Result GetFrameRate(double* out) = 0;
    virtual Result GetAspectRatio(double* out) = 0;
    virtual int32_t GetAngle() = 0;
};

class ISourceMediaSubtitleTrack : public ISourceMediaTrack {
public:
    virtual Result GetLanguage(WideString& out) = 0;
    /// A SubtitleType value.
    virtual Result GetSubtitleType(int32_t* out) = 0;
};

/// An analysed media file. The indexed getters answer InvalidArgument for an
/// empty list, an index at or beyond the count, or a null out-pointer.
class ISourceMedia : public nvtl::IRefCounted {
public:
    virtual Result GetFilePath(WideString& out) = 0;
    virtual Result GetContainerFormatName(WideString& out) = 0;
    /// Duration in milliseconds.
    virtual Result GetDuration(uint64_t* out) = 0;
    virtual Result GetAudioTrackCount(int32_t* out) = 0;
    virtual Result GetHighLevelAudioTrackCount(int32_t* out) = 0;
    virtual Result GetUnsupportedAudioTrackCount(int32_t* out) = 0;
    virtual Result GetAudioTrack(uint32_t index, ISourceMediaAudioTrack** out) = 0;
    virtual Result GetHighLevelAudioTrack(uint32_t index, ISourceMediaAudioTrack** out) = 0;
    virtual Result GetUnsupportedAudioTrack(uint32_t index, ISourceMediaAudioTrack** out) = 0;
    virtual Result GetVideoTrackCount(int32_t* out) = 0;
    virtual Result GetVideoTrack(uint32_t index, ISourceMediaVideoTrack** out) = 0;
    virtual Result GetSubtitleTrackCount(int32_t* out) = 0;
    virtual Result GetSubtitleTrack(uint32_t index, ISourceMediaSubtitleTrack** out) = 0;
    /// File size in bytes.
    virtual Result GetFileSize(uint64_t* out) = 0;
    /// Reserved; always ENG_NOTIMPL_ERR.
    virtual Result Reserved(uint32_t a, uint32_t b, uint32_t c) = 0;
    virtual Result GetTitle(WideString& out) = 0;
    /// Whether the source can be transcoded to a profile (0..11).
    virtual Result GetProfileFlag(NorvProfile profile, bool* out) = 0;
    virtual bool IsAudioContainer() = 0;
    virtual bool IsSubtitleContainer() = 0;
};

} // namespace nvt
