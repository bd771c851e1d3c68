// Output configuration: profiles, output settings, custom presets and the
// output properties a session reports.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "norv/enums.h"
#include "norv/records.h"
#include "norv/refcounted.h"
#include "norv/types.h"

namespace nvt {

class ITranscodeEngineInfo;

/// One built-in output profile, for the frame rate it was created with.
///
/// Audio bitrates are in kilobits per second; video bitrates (except
/// GetMaxVideoBitrateKbps) in bits per second. Every operation answers
/// InvalidArgument for a null out-pointer and otherwise SUCCESS, unless
/// stated.
class ITranscodeProfile : public nvtl::IRefCounted {
public:
    /// The NorvProfile value.
    virtual Result GetProfile(int32_t* out) = 0;
    /// The profile's largest video bitrate, in kilobits per second.
    virtual Result GetMaxVideoBitrateKbps(uint32_t* out) = 0;
    /// The smallest video bitrate: always 1000.
    virtual Result GetMinVideoBitrate(uint32_t width, uint32_t height, double frameRate,
                                      uint32_t* out) = 0;
    /// The largest video bitrate for a picture, after clamping the picture
    /// and frame rate to the profile's limits for that frame rate.
    /// InvalidArgument, writing 0, when the profile has no limits or the
    /// frame rate is not above 0.
    virtual Result GetMaxVideoBitrate(uint32_t width, uint32_t height, double frameRate,
                                      uint32_t* out) = 0;
    /// The default video bitrate for a picture; results as GetMaxVideoBitrate.
    virtual Result GetDefaultVideoBitrate(uint32_t width, uint32_t height, double frameRate,
                                          uint32_t* out) = 0;
    /// Smallest audio bitrate (16 kbps; 0 for a profile without limits).
    virtual Result GetMinAudioBitrate(uint32_t* out) = 0;
    /// Largest audio bitrate.
    virtual Result GetMaxAudioBitrate(uint32_t* out) = 0;
    /// Default audio bitrate (128 or 192 kbps).
    virtual Result GetDefaultAudioBitrate(uint32_t* out) = 0;
    /// Replaces out with the nine selectable audio bitrates, ascending. SUCCESS.
    virtual Result GetSelectableAudioBitrates(std::vector<uint32_t>& out) = 0;
    virtual Result GetMinWidth(uint32_t* out) = 0;
    virtual Result GetMinHeight(uint32_t* out) = 0;
    virtual Result GetMaxWidth(uint32_t* out) = 0;
    virtual Result GetMaxHeight(uint32_t* out) = 0;
    /// The frame rate of the profile's limits row.
    virtual Result GetMaxFrameRate(double* out) = 0;
    /// Replaces out with the display name. InvalidArgument (out emptied) for
    /// a profile outside 0..11.
    virtual Result GetDisplayName(WideString& out) = 0;
    /// Replaces out with the container label followed by ", " and the audio
    /// codecs the engine supports for the profile, joined with "/" (the label
    /// alone when there are none). InvalidArgument (out emptied) when info is
    /// null or the profile is outside 0..11.
    virtual Result GetDescription(WideString& out, ITranscodeEngineInfo* info) = 0;
};

/// A user's named set of output settings, stored in a file of its own.
/// Not thread-safe: use one preset from one thread at a time.
class ICustomPreset : public nvtl::IRefCounted {
public:
    /// Reads the file into the preset. SUCCESS; InvalidArgument for an empty
    /// path; CRTL_FILE_DOES_NOT_EXIST when the file cannot be opened; ENG_ERR
    /// when it is empty or does not parse. A failed load changes nothing.
    virtual Result Load(const WideString& path) = 0;
    /// Writes the current data to the file, replacing it as a whole. SUCCESS;
    /// ENG_ERR when the data is not valid or the path is empty;
    /// ENG_WRITING_ERROR when the file cannot be written. A failed save
    /// leaves the file on disk and the preset as they were.
    virtual Result SaveAs(const WideString& path) = 0;
    /// Deletes the preset's file and forgets its path (the data stays).
    /// SUCCESS; CRTL_FILE_DOES_NOT_EXIST when the preset has no file; ENG_ERR
    /// when the file could not be deleted.
    virtual Result Delete() = 0;
    /// Restores the data as last loaded or saved. SUCCESS; ENG_ERR when that
    /// data is not valid (nothing changes).
    virtual Result Revert() = 0;
    /// The file last loaded or saved; empty for a new or deleted preset.
    virtual WideString GetFilePath() = 0;
    /// True when the current data differs from the saved data in anything but
    /// the profile and its name.
    virtual bool IsModified() = 0;
    /// Sets the current data. SUCCESS; InvalidArgument, nothing changed, when
    /// the profile is outside 0..11 or creationTime is 0.
    virtual Result SetData(const CustomPresetData& data) = 0;
    /// Copies out the current data. SUCCESS; ENG_ERR, out untouched, when the
    /// current data is not valid.
    virtual Result GetData(CustomPresetData& out) = 0;
};

/// A snapshot list of presets, oldest creation time first.
class ICustomPresetEnum : public nvtl::IRefCounted {
public:
    virtual uint32_t GetCount() = 0;
    /// *out receives the preset with a reference for the caller. SUCCESS;
    /// InvalidArgument for a null out or an index at or beyond the count
    /// (*out is then null).
    virtual Result GetItem(uint32_t index, ICustomPreset** out) = 0;
};

/// Makes presets and lists those stored in a folder.
class ICustomPresetFactory : public nvtl::IRefCounted {
public:
    /// Lists the "preset" files of folder (not its sub-folders), keeps those
    /// that load, oldest creation time first. SUCCESS; InvalidArgument for an
    /// empty folder or a null out; ENG_ERR when the list could not be made.
    virtual Result EnumeratePresets(const WideString& folder, ICustomPresetEnum** out) = 0;
    /// *out receives a new preset without data. SUCCESS; InvalidArgument for
    /// a null out; ENG_ERR when none could be made.
    virtual Result CreatePreset(ICustomPreset** out) = 0;
};

/// The caller's description of a transcode's output. Setters accept any
/// value unless stated; limits are applied when the output is derived.
/// Bitrates are bits per second. Not thread-safe.
class ITranscodeOutputSettings : public nvtl::IRefCounted {
public:
    /// The NorvProfile value.
    virtual int32_t GetProfile() = 0;
    /// Size limit in bytes, 0 for none. SUCCESS.
    virtual Result SetFileSizeLimit(uint64_t bytes) = 0;
    virtual uint64_t GetFileSizeLimit() = 0;
    virtual bool HasFileSizeLimit() = 0;
    virtual void SetAudioPassthrough(bool enabled) = 0;
    virtual bool GetAudioPassthrough() = 0;
    /// Indices of the source audio tracks to transcode.
    virtual void SetAudioTracks(const std::vector<uint32_t>& tracks) = 0;
    virtual std::vector<uint32_t> GetAudioTracks() = 0;
    virtual void ClearAudioTracks() = 0;
    /// The chosen subtitles, in the session's subtitle numbering.
    virtual void SetSubtitleTracks(const std::vector<uint32_t>& tracks) = 0;
    virtual std::vector<uint32_t> GetSubtitleTracks() = 0;
    virtual void ClearSubtitleTracks() = 0;
    virtual void SetSubtitleBurnFirstTrack(bool enabled) = 0;
    virtual bool GetSubtitleBurnFirstTrack() = 0;
    /// SUCCESS.
    virtual Result SetResolution(uint32_t width, uint32_t height) = 0;
    /// Writes both numbers. SUCCESS when both are non-zero, else NOT_SET;
    /// InvalidArgument for a null pointer.
    virtual Result GetResolution(uint32_t* width, uint32_t* height) = 0;
    /// True when a height is set (the width is not looked at).
    virtual bool HasResolution() = 0;
    /// SUCCESS.
    virtual Result SetTrickResolution(uint32_t width, uint32_t height) = 0;
    /// As GetResolution, for the trick-play track.
    virtual Result GetTrickResolution(uint32_t* width, uint32_t* height) = 0;
    /// SUCCESS.
    virtual Result SetVideoBitrate(uint32_t bitrate) = 0;
    virtual uint32_t GetVideoBitrate() = 0;
    /// SUCCESS.
    virtual Result SetTrickVideoBitrate(uint32_t bitrate) = 0;
    virtual uint32_t GetTrickVideoBitrate() = 0;
    virtual bool HasVideoBitrate() = 0;
    /// One bitrate per output audio track. SUCCESS; InvalidArgument, nothing
    /// changed, when any entry is 0.
    virtual Result SetAudioBitrates(const std::vector<uint32_t>& bitrates) = 0;
    virtual std::vector<uint32_t> GetAudioBitrates() = 0;
    /// Sum of the audio bitrates (32-bit, wrapping).
    virtual uint32_t GetTotalAudioBitrate() = 0;
    virtual bool HasAudioBitrates() = 0;
    virtual void SetTrickplayTrack(bool enabled) = 0;
    virtual bool GetTrickplayTrack() = 0;
    virtual void SetTempDir(const WideString& folder) = 0;
    virtual WideString GetTempDir() = 0;
    virtual void SetUseTempDir(bool enabled) = 0;
    virtual bool GetUseTempDir() = 0;
    virtual void SetNeedTranscode(bool needed) = 0;
    virtual bool GetNeedTranscode() = 0;
    virtual void SetHWAccelerationEnabled(bool enabled) = 0;
    virtual bool GetHWAccelerationEnabled() = 0;
    virtual HWAcceleration GetHWAcceleration() = 0;
    /// Writes the profile's width and height alignment (8 x 8 or 4 x 2);
    /// a null pointer is skipped.
    virtual void GetDimensionAlignment(uint32_t* widthAlignment, uint32_t* heightAlignment) = 0;
    /// Rounds both numbers to the nearest multiple of the profile's
    /// alignment (ties up); stores nothing. SUCCESS; InvalidArgument, nothing
    /// changed, for a null pointer or a 0; ENG_ERR when the profile has no
    /// limits.
    virtual Result AlignResolution(uint32_t* width, uint32_t* height) = 0;
    /// Output codec per audio track.
    virtual void SetTrackCodecs(const std::vector<AudioCodec>& codecs) = 0;
    virtual std::vector<AudioCodec> GetTrackCodecs() = 0;
    virtual void SetAspectRatioEnabled(bool enabled) = 0;
    virtual bool GetAspectRatioEnabled() = 0;
    /// SUCCESS; InvalidArgument, nothing changed, outside 0..8.
    virtual Result SetPriority(SettingPriority priority) = 0;
    virtual SettingPriority GetPriority() = 0;
    /// Restores the profile's defaults; the subtitle code pages, user flag
    /// and user text are kept. SUCCESS.
    virtual Result Reset() = 0;
    virtual void SetVideo2Pass(bool enabled) = 0;
    virtual bool GetVideo2Pass() = 0;
    /// Takes over the preset's data when it is valid and made for this
    /// profile; a preset of another profile is ignored. Returns the result of
    /// reading the preset's data (SUCCESS when it was read, even if ignored);
    /// InvalidArgument for a null preset.
    virtual Result ApplyPreset(ICustomPreset* preset) = 0;
    virtual void SetVideoPassthrough(bool enabled) = 0;
    virtual bool GetVideoPassthrough() = 0;
    /// Rotation angle. SUCCESS.
    virtual Result SetAngle(int32_t angle) = 0;
    virtual int32_t GetAngle() = 0;
    virtual bool HasAngle() = 0;
    /// A FlipMode value used as a bit set (1 horizontal, 2 vertical).
    virtual void SetFlip(uint32_t flip) = 0;
    virtual uint32_t GetFlip() = 0;
    virtual bool IsFlippedHorizontally() = 0;
    virtual bool IsFlippedVertically() = 0;
    /// Title of the output, UTF-8.
    virtual void SetTitle(const std::string& title) = 0;
    virtual std::string GetTitle() = 0;
    /// Kept for the caller; not used by the library.
    virtual void SetUserText(const std::string& text) = 0;
    virtual std::string GetUserText() = 0;
    virtual void SetUserFlag(bool flag) = 0;
    virtual bool GetUserFlag() = 0;
    /// A HevcQualityLevel value.
    virtual void SetHevcQualityLevel(int32_t level) = 0;
    virtual int32_t GetHevcQualityLevel() = 0;
    virtual void SetWppEnabled(bool enabled) = 0;
    virtual bool GetWppEnabled() = 0;
    virtual void SetCalcQualityMetrics(int32_t value) = 0;
    virtual int32_t GetCalcQualityMetrics() = 0;
    /// One code page per chosen subtitle.
    virtual void SetSubtitleCodePages(const std::vector<uint32_t>& codePages) = 0;
    virtual std::vector<uint32_t> GetSubtitleCodePages() = 0;
    virtual void ClearSubtitleCodePages() = 0;
};

/// What a transcode's output will be like, as a session derived it.
/// Bitrates are in kilobits per second, sizes in bytes. Every operation
/// answers SUCCESS, or InvalidArgument for a null out-pointer.
class ITranscodeOutputProperties : public nvtl::IRefCounted {
public:
    virtual Result GetEstimatedSize(uint64_t* out) = 0;
    virtual Result GetResolution(uint32_t* width, uint32_t* height) = 0;
    virtual Result GetTrickResolution(uint32_t* width, uint32_t* height) = 0;
    /// Estimated transcode time in seconds.
    virtual Result GetEstimatedTime(int32_t* out) = 0;
    /// The video bitrate, and the audio bitrates replacing audioKbps.
    virtual Result GetBitrates(uint64_t* videoKbps, std::vector<uint32_t>& audioKbps) = 0;
    virtual Result GetVideoBitrateRange(uint32_t* minKbps, uint32_t* maxKbps) = 0;
    virtual Result GetMinimumSize(uint64_t* out) = 0;
    virtual Result GetTrickVideoBitrate(uint32_t* out) = 0;
    /// The display aspect; each part is reported as 1 when it is 0.
    virtual Result GetAspectRatio(uint32_t* numerator, uint32_t* denominator) = 0;
    virtual Result IsSizeLimitUnreachable(bool* out) = 0;
};

} // namespace nvt
