// Output settings as CreateDefaultTranscodeOutputSettings hands them out.
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "api/ref_counted_impl.h"
#include "norv/transcoder.h"
#include "output/custom_preset.h"
#include "output/output_settings.h"

namespace nvt {
namespace {

nvtl::RefCountedPtr<ITranscodeOutputSettings> MakeSettings(int32_t profile) {
    ITranscodeOutputSettings* raw = nullptr;
    EXPECT_EQ(CreateDefaultTranscodeOutputSettings(static_cast<NorvProfile>(profile), &raw),
              SUCCESS);
    nvtl::RefCountedPtr<ITranscodeOutputSettings> held(raw);
    if (raw != nullptr) {
        raw->Release();
    }
    return held;
}

const TBS::TranscodeRequest& RequestOf(ITranscodeOutputSettings* settings) {
    return TranscodeOutputSettings::FromInterface(settings)->Request();
}

void ExpectDefaults(ITranscodeOutputSettings& s, int32_t profile) {
    const bool passthrough =
        !(profile == NP_Mobile || profile == NP_iPhoneMP4H264 || profile == NP_iPadMP4H264);
    EXPECT_EQ(s.GetProfile(), profile);
    EXPECT_EQ(s.GetAudioPassthrough(), passthrough);
    EXPECT_EQ(s.GetFileSizeLimit(), 0u);
    EXPECT_FALSE(s.HasFileSizeLimit());
    EXPECT_TRUE(s.GetAspectRatioEnabled());
    EXPECT_FALSE(s.HasResolution());
    EXPECT_EQ(s.GetVideoBitrate(), 0u);
    EXPECT_EQ(s.GetTrickVideoBitrate(), 0u);
    EXPECT_TRUE(s.GetAudioBitrates().empty());
    EXPECT_TRUE(s.GetTrackCodecs().empty());
    EXPECT_TRUE(s.GetAudioTracks().empty());
    EXPECT_TRUE(s.GetSubtitleTracks().empty());
    EXPECT_FALSE(s.GetVideo2Pass());
    EXPECT_FALSE(s.GetVideoPassthrough());
    EXPECT_FALSE(s.GetTrickplayTrack());
    EXPECT_FALSE(s.GetHWAccelerationEnabled());
    EXPECT_EQ(s.GetHWAcceleration(), NO_ACCELERATION);
    EXPECT_FALSE(s.GetSubtitleBurnFirstTrack());
    EXPECT_FALSE(s.GetUseTempDir());
    EXPECT_TRUE(s.GetNeedTranscode());
    EXPECT_TRUE(s.GetTempDir().empty());
    EXPECT_TRUE(s.GetTitle().empty());
    EXPECT_EQ(s.GetPriority(), prioUnknown);
    EXPECT_EQ(s.GetHevcQualityLevel(), hevc_ql_fastest);
    EXPECT_TRUE(s.GetWppEnabled());
    EXPECT_EQ(s.GetCalcQualityMetrics(), 0);
    EXPECT_EQ(s.GetAngle(), 0);
    EXPECT_EQ(s.GetFlip(), 0u);

    const TBS::TranscodeRequest& r = RequestOf(&s);
    const CustomPresetData& d = r.CustomPresetData;
    EXPECT_EQ(d.profileID, profile);
    EXPECT_TRUE(d.profileName.empty());
    EXPECT_EQ(d.externalSubtitleIndex, -1);
    EXPECT_EQ(d.creationTime, 0);
    EXPECT_EQ(d.rect.top + d.rect.bottom + d.rect.left + d.rect.right, 0u);
    EXPECT_FALSE(r.loggerParam.enableLogs);
    EXPECT_EQ(r.loggerParam.logLevel, 0);
    EXPECT_TRUE(r.loggerParam.logPath.empty());
    EXPECT_TRUE(r.inputFiles.empty());
    EXPECT_TRUE(r.subtitleCodePages.empty());
}

TEST(OutputSettings, CreationChecksItsArgumentsAndAppliesTheDefaults) {
    ITranscodeOutputSettings* raw = nullptr;
    EXPECT_EQ(CreateDefaultTranscodeOutputSettings(NP_HD720, nullptr), InvalidArgument);
    EXPECT_EQ(CreateDefaultTranscodeOutputSettings(static_cast<NorvProfile>(12), &raw),
              InvalidArgument);
    EXPECT_EQ(CreateDefaultTranscodeOutputSettings(static_cast<NorvProfile>(-3), &raw),
              InvalidArgument);
    for (int32_t p = 0; p < _NP_count_; ++p) {
        SCOPED_TRACE(p);
        auto s = MakeSettings(p);
        ASSERT_TRUE(s);
        EXPECT_EQ(s->GetRefCount(), 1);
        ExpectDefaults(*s, p);
    }
}

TEST(OutputSettings, ResolutionNeedsBothNumbers) {
    auto s = MakeSettings(NP_HD720);
    EXPECT_EQ(s->SetResolution(0, 720), SUCCESS);
    EXPECT_TRUE(s->HasResolution());
    uint32_t w = 9, h = 9;
    EXPECT_EQ(s->GetResolution(&w, &h), NOT_SET);
    EXPECT_EQ(w, 0u);
    EXPECT_EQ(h, 720u);
    EXPECT_EQ(s->SetResolution(1280, 0), SUCCESS);
    EXPECT_FALSE(s->HasResolution());
    EXPECT_EQ(s->SetResolution(1280, 720), SUCCESS);
    EXPECT_EQ(s->GetResolution(&w, &h), SUCCESS);
    EXPECT_EQ(w, 1280u);
    EXPECT_EQ(h, 720u);
    EXPECT_EQ(s->GetResolution(nullptr, &h), InvalidArgument);

    EXPECT_EQ(s->SetTrickResolution(320, 0), SUCCESS);
    EXPECT_EQ(s->GetTrickResolution(&w, &h), NOT_SET);
    EXPECT_EQ(w, 320u);
    EXPECT_EQ(h, 0u);
    EXPECT_EQ(s->SetTrickResolution(320, 240), SUCCESS);
    EXPECT_EQ(s->GetTrickResolution(&w, &h), SUCCESS);
    EXPECT_EQ(RequestOf(s.get()).CustomPresetData.trickHeight, 240u);
}

TEST(OutputSettings, AlignmentFollowsTheProfile) {
    auto hd720 = MakeSettings(NP_HD720);
    auto hevc = MakeSettings(NP_HEVC1080);
    uint32_t wa = 0, ha = 0;
    hd720->GetDimensionAlignment(&wa, &ha);
    EXPECT_EQ(wa, 4u);
    EXPECT_EQ(ha, 2u);
    hevc->GetDimensionAlignment(&wa, &ha);
    EXPECT_EQ(wa, 8u);
    EXPECT_EQ(ha, 8u);
    hevc->GetDimensionAlignment(nullptr, nullptr);

    uint32_t w = 1366, h = 767;
    EXPECT_EQ(hd720->AlignResolution(&w, &h), SUCCESS);
    EXPECT_EQ(w, 1368u);
    EXPECT_EQ(h, 768u);
    w = 1366;
    h = 767;
    EXPECT_EQ(hevc->AlignResolution(&w, &h), SUCCESS);
    EXPECT_EQ(w, 1368u);
    EXPECT_EQ(h, 768u);
    // Aligning rewrites only the caller's numbers.
    EXPECT_FALSE(hevc->HasResolution());

    w = 0;
    h = 720;
    EXPECT_EQ(hd720->AlignResolution(&w, &h), InvalidArgument);
    EXPECT_EQ(w, 0u);
    EXPECT_EQ(h, 720u);
    EXPECT_EQ(hd720->AlignResolution(nullptr, &h), InvalidArgument);
}

TEST(OutputSettings, AudioBitratesRefuseZeroEntries) {
    auto s = MakeSettings(NP_HD1080);
    EXPECT_FALSE(s->HasAudioBitrates());
    EXPECT_EQ(s->SetAudioBitrates({128, 192}), SUCCESS);
    EXPECT_EQ(s->GetTotalAudioBitrate(), 320u);
    EXPECT_EQ(s->SetAudioBitrates({128, 0}), InvalidArgument);
    EXPECT_EQ(s->GetAudioBitrates(), (std::vector<uint32_t>{128, 192}));
    EXPECT_TRUE(s->HasAudioBitrates());
    EXPECT_EQ(s->SetAudioBitrates({0xFFFFFFFFu, 2}), SUCCESS);
    EXPECT_EQ(s->GetTotalAudioBitrate(), 1u); // wraps
    EXPECT_EQ(s->SetAudioBitrates({}), SUCCESS);
    EXPECT_FALSE(s->HasAudioBitrates());
}

TEST(OutputSettings, PriorityOutsideTheEnumerationIsRefused) {
    auto s = MakeSettings(NP_HD1080);
    EXPECT_EQ(s->SetPriority(prioFilesize), SUCCESS);
    EXPECT_EQ(s->SetPriority(prioCOUNT), InvalidArgument);
    EXPECT_EQ(s->SetPriority(static_cast<SettingPriority>(-1)), InvalidArgument);
    EXPECT_EQ(s->GetPriority(), prioFilesize);
    EXPECT_EQ(s->SetPriority(prioAspectRatio), SUCCESS);
    EXPECT_EQ(s->GetPriority(), prioAspectRatio);
}

TEST(OutputSettings, FlipIsABitSet) {
    auto s = MakeSettings(NP_HD1080);
    s->SetFlip(3);
    EXPECT_TRUE(s->IsFlippedHorizontally());
    EXPECT_TRUE(s->IsFlippedVertically());
    s->SetFlip(flipVertical);
    EXPECT_FALSE(s->IsFlippedHorizontally());
    EXPECT_TRUE(s->IsFlippedVertically());
    s->SetFlip(flipHorizontal);
    EXPECT_TRUE(s->IsFlippedHorizontally());
    EXPECT_FALSE(s->IsFlippedVertically());
    EXPECT_EQ(s->GetFlip(), 1u);
}

TEST(OutputSettings, SettersReachTheRequestTemplate) {
    auto s = MakeSettings(NP_NorvPlusHD);
    s->SetTempDir(NORV_WTEXT("/tmp/v\u00e4lja \U0001F600"));
    EXPECT_EQ(s->GetTempDir(), NORV_WTEXT("/tmp/v\u00e4lja \U0001F600"));
    s->SetTitle("Title \xc3\xa4");
    s->SetAudioTracks({2, 0});
    s->SetTrackCodecs({AC_AAC, AC_AC3});
    s->SetSubtitleBurnFirstTrack(true);
    s->SetUseTempDir(true);
    s->SetNeedTranscode(false);
    EXPECT_EQ(s->SetAngle(90), SUCCESS);
    EXPECT_TRUE(s->HasAngle());
    EXPECT_EQ(s->SetFileSizeLimit(1ull << 33), SUCCESS);
    EXPECT_EQ(s->SetVideoBitrate(4000000), SUCCESS);
    EXPECT_TRUE(s->HasVideoBitrate());
    s->SetHevcQualityLevel(hevc_ql_best);
    s->SetWppEnabled(false);
    s->SetCalcQualityMetrics(3);
    s->SetSubtitleTracks({1, 100});
    s->SetSubtitleCodePages({1252, 65001});

    const TBS::TranscodeRequest& r = RequestOf(s.get());
    EXPECT_EQ(r.tempDir, "/tmp/v\xc3\xa4lja \xf0\x9f\x98\x80");
    EXPECT_EQ(r.title, "Title \xc3\xa4");
    EXPECT_EQ(r.audioTracks, (std::vector<unsigned>{2, 0}));
    EXPECT_TRUE(r.subtitleBurnFirstTrack);
    EXPECT_TRUE(r.useTempDir);
    EXPECT_FALSE(r.needTranscode);
    EXPECT_EQ(r.angle, 90);
    EXPECT_EQ(r.CustomPresetData.fileSizeLimit, 1ull << 33);
    EXPECT_EQ(r.CustomPresetData.videoBitrate, 4000000u);
    EXPECT_EQ(r.CustomPresetData.trackCodecs, (std::vector<AudioCodec>{AC_AAC, AC_AC3}));
    EXPECT_EQ(r.CustomPresetData.hevcQualityLevel, hevc_ql_best);
    EXPECT_FALSE(r.CustomPresetData.wppEnabled);
    EXPECT_EQ(r.CustomPresetData.calcQualityMetrics, 3);

    auto* concrete = TranscodeOutputSettings::FromInterface(s.get());
    EXPECT_EQ(concrete->SubtitleSelection(), (std::vector<uint32_t>{1, 100}));
    EXPECT_EQ(concrete->SubtitleCodePages(), (std::vector<uint32_t>{1252, 65001}));
    EXPECT_EQ(TranscodeOutputSettings::FromInterface(nullptr), nullptr);
}

TEST(OutputSettings, ResetRestoresDefaultsButKeepsCodePagesAndUserValues) {
    auto s = MakeSettings(NP_Mobile);
    s->SetSubtitleTracks({1, 2});
    s->SetSubtitleCodePages({1252, 1252});
    s->SetUserFlag(true);
    s->SetUserText("note");
    s->SetAudioPassthrough(true);
    s->SetResolution(320, 240);
    s->SetPriority(prioVideoBitrate);
    s->SetTempDir(NORV_WTEXT("/tmp"));
    s->SetAudioTracks({1});
    s->SetNeedTranscode(false);
    s->SetFlip(2);

    EXPECT_EQ(s->Reset(), SUCCESS);
    ExpectDefaults(*s, NP_Mobile);
    EXPECT_TRUE(s->GetSubtitleTracks().empty());
    EXPECT_EQ(s->GetSubtitleCodePages(), (std::vector<uint32_t>{1252, 1252}));
    EXPECT_TRUE(s->GetUserFlag());
    EXPECT_EQ(s->GetUserText(), "note");

    s->ClearSubtitleCodePages();
    EXPECT_TRUE(s->GetSubtitleCodePages().empty());
}

// A preset from outside the library, to drive ApplyPreset's copy-out.
class FixedPreset final : public nvtl::RefCountedImpl<ICustomPreset> {
public:
    FixedPreset(Result result, CustomPresetData data) : result_(result), data_(std::move(data)) {}
    Result Load(const WideString&) override { return ENG_NOTIMPL_ERR; }
    Result SaveAs(const WideString&) override { return ENG_NOTIMPL_ERR; }
    Result Delete() override { return ENG_NOTIMPL_ERR; }
    Result Revert() override { return ENG_NOTIMPL_ERR; }
    WideString GetFilePath() override { return WideString(); }
    bool IsModified() override { return false; }
    Result SetData(const CustomPresetData&) override { return ENG_NOTIMPL_ERR; }
    Result GetData(CustomPresetData& out) override {
        if (result_ == SUCCESS) {
            out = data_;
        }
        return result_;
    }

private:
    Result result_;
    CustomPresetData data_;
};

CustomPresetData PresetFor(NorvProfile profile) {
    CustomPresetData d(profile);
    d.profileName = "Mine";
    d.creationTime = 1700000000;
    d.resWidth = 1280;
    d.resHeight = 720;
    d.videoBitrate = 3000000;
    d.audioBitrates = {128000};
    d.audioPassthrough = false;
    d.externalSubtitleIndex = 2;
    d.rect.left = 8;
    d.prio = prioVideoBitrate;
    d.trackCodecs = {AC_AAC};
    return d;
}

TEST(OutputSettings, ApplyPresetTakesDataOfTheSameProfileOnly) {
    auto s = MakeSettings(NP_HD1080);
    EXPECT_EQ(s->ApplyPreset(nullptr), InvalidArgument);

    // A real preset saved for another profile is ignored.
    nvtl::RefCountedPtr<CustomPreset> other(new CustomPreset());
    ASSERT_EQ(other->SetData(PresetFor(NP_HD720)), SUCCESS);
    EXPECT_EQ(s->ApplyPreset(other.get()), SUCCESS);
    ExpectDefaults(*s, NP_HD1080);

    // A preset without data reports its own failure and changes nothing.
    nvtl::RefCountedPtr<CustomPreset> empty(new CustomPreset());
    EXPECT_EQ(s->ApplyPreset(empty.get()), ENG_ERR);
    ExpectDefaults(*s, NP_HD1080);

    // A copy-out that claims success with a record that holds no data is ignored.
    CustomPresetData noTime = PresetFor(NP_HD1080);
    noTime.creationTime = 0;
    nvtl::RefCountedPtr<FixedPreset> foreign(new FixedPreset(SUCCESS, noTime));
    EXPECT_EQ(s->ApplyPreset(foreign.get()), SUCCESS);
    ExpectDefaults(*s, NP_HD1080);
    nvtl::RefCountedPtr<FixedPreset> failing(new FixedPreset(CRTL_FILE_DOES_NOT_EXIST, noTime));
    EXPECT_EQ(s->ApplyPreset(failing.get()), CRTL_FILE_DOES_NOT_EXIST);

    nvtl::RefCountedPtr<CustomPreset> same(new CustomPreset());
    ASSERT_EQ(same->SetData(PresetFor(NP_HD1080)), SUCCESS);
    s->SetAudioTracks({1});
    EXPECT_EQ(s->ApplyPreset(same.get()), SUCCESS);
    const CustomPresetData& d = RequestOf(s.get()).CustomPresetData;
    EXPECT_EQ(d.profileName, "Mine");
    EXPECT_EQ(d.creationTime, 1700000000);
    EXPECT_EQ(d.externalSubtitleIndex, 2);
    EXPECT_EQ(d.rect.left, 8u);
    EXPECT_EQ(d.trackCodecs, (std::vector<AudioCodec>{AC_AAC}));
    EXPECT_FALSE(s->GetAudioPassthrough());
    EXPECT_EQ(s->GetVideoBitrate(), 3000000u);
    EXPECT_EQ(s->GetPriority(), prioVideoBitrate);
    // Fields outside the preset record stay.
    EXPECT_EQ(s->GetAudioTracks(), (std::vector<uint32_t>{1}));
}

} // namespace
} // namespace nvt
