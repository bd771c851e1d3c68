// Output settings for a profile.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "api/ref_counted_impl.h"
#include "messages/records.h"
#include "norv/output.h"

namespace nvt {

/// A thin shell around the template of a transcode request: almost every
/// operation reads or writes one field of it. Values are not checked when set
/// (apart from the few operations that say so); the profile's limits apply
/// when a session derives the effective output.
class TranscodeOutputSettings final : public nvtl::RefCountedImpl<ITranscodeOutputSettings> {
public:
    /// Settings with the defaults of profile (0..11).
    explicit TranscodeOutputSettings(int32_t profile);

    /// The library's own settings behind an interface pointer, or null when
    /// the object is not one of ours (or settings is null).
    static TranscodeOutputSettings* FromInterface(ITranscodeOutputSettings* settings);

    /// The request template a session starts a transcode from; its
    /// CustomPresetData member holds the preset-able settings.
    const TBS::TranscodeRequest& Request() const { return request_; }
    /// The chosen subtitles, in the session's subtitle numbering.
    const std::vector<uint32_t>& SubtitleSelection() const { return subtitleSelection_; }
    /// One code page per chosen subtitle.
    const std::vector<uint32_t>& SubtitleCodePages() const { return subtitleCodePages_; }

    /// Whether a profile copies audio streams unchanged by default.
    static bool DefaultAudioPassthrough(int32_t profile);

    int32_t GetProfile() override;
    Result SetFileSizeLimit(uint64_t bytes) override;
    uint64_t GetFileSizeLimit() override;
    bool HasFileSizeLimit() override;
    void SetAudioPassthrough(bool enabled) override;
    bool GetAudioPassthrough() override;
    void SetAudioTracks(const std::vector<uint32_t>& tracks) override;
    std::vector<uint32_t> GetAudioTracks() override;
    void ClearAudioTracks() override;
    void SetSubtitleTracks(const std::vector<uint32_t>& tracks) override;
    std::vector<uint32_t> GetSubtitleTracks() override;
    void ClearSubtitleTracks() override;
    void SetSubtitleBurnFirstTrack(bool enabled) override;
    bool GetSubtitleBurnFirstTrack() override;
    Result SetResolution(uint32_t width, uint32_t height) override;
    Result GetResolution(uint32_t* width, uint32_t* height) override;
    bool HasResolution() override;
    Result SetTrickResolution(uint32_t width, uint32_t height) override;
    Result GetTrickResolution(uint32_t* width, uint32_t* height) override;
    Result SetVideoBitrate(uint32_t bitrate) override;
    uint32_t GetVideoBitrate() override;
    Result SetTrickVideoBitrate(uint32_t bitrate) override;
    uint32_t GetTrickVideoBitrate() override;
    bool HasVideoBitrate() override;
    Result SetAudioBitrates(const std::vector<uint32_t>& bitrates) override;
    std::vector<uint32_t> GetAudioBitrates() override;
    uint32_t GetTotalAudioBitrate() override;
    bool HasAudioBitrates() override;
    void SetTrickplayTrack(bool enabled) override;
    bool GetTrickplayTrack() override;
    void SetTempDir(const WideString& folder) override;
    WideString GetTempDir() override;
    void SetUseTempDir(bool enabled) override;
    bool GetUseTempDir() override;
    void SetNeedTranscode(bool needed) override;
    bool GetNeedTranscode() override;
    void SetHWAccelerationEnabled(bool enabled) override;
    bool GetHWAccelerationEnabled() override;
    HWAcceleration GetHWAcceleration() override;
    void GetDimensionAlignment(uint32_t* widthAlignment, uint32_t* heightAlignment) override;
    Result AlignResolution(uint32_t* width, uint32_t* height) override;
    void SetTrackCodecs(const std::vector<AudioCodec>& codecs) override;
    std::vector<AudioCodec> GetTrackCodecs() override;
    void SetAspectRatioEnabled(bool enabled) override;
    bool GetAspectRatioEnabled() override;
    Result SetPriority(SettingPriority priority) override;
    SettingPriority GetPriority() override;
    Result Reset() override;
    void SetVideo2Pass(bool enabled) override;
    bool GetVideo2Pass() override;
    Result ApplyPreset(ICustomPreset* preset) override;
    void SetVideoPassthrough(bool enabled) override;
    bool GetVideoPassthrough() override;
    Result SetAngle(int32_t angle) override;
    int32_t GetAngle() override;
    bool HasAngle() override;
    void SetFlip(uint32_t flip) override;
    uint32_t GetFlip() override;
    bool IsFlippedHorizontally() override;
    bool IsFlippedVertically() override;
    void SetTitle(const std::string& title) override;
    std::string GetTitle() override;
    void SetUserText(const std::string& text) override;
    std::string GetUserText() override;
    void SetUserFlag(bool flag) override;
    bool GetUserFlag() override;
    void SetHevcQualityLevel(int32_t level) override;
    int32_t GetHevcQualityLevel() override;
    void SetWppEnabled(bool enabled) override;
    bool GetWppEnabled() override;
    void SetCalcQualityMetrics(int32_t value) override;
    int32_t GetCalcQualityMetrics() override;
    void SetSubtitleCodePages(const std::vector<uint32_t>& codePages) override;
    std::vector<uint32_t> GetSubtitleCodePages() override;
    void ClearSubtitleCodePages() override;

private:
    CustomPresetData& Preset() { return request_.CustomPresetData; }

    TBS::TranscodeRequest request_;
    std::vector<uint32_t> subtitleSelection_;
    std::vector<uint32_t> subtitleCodePages_;
    bool userFlag_ = false;
    std::string userText_;
};

} // namespace nvt
