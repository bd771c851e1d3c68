// Profile objects as CreateTranscodeProfile hands them out.
#include <gtest/gtest.h>

#include <vector>

#include "api/engine_info.h"
#include "norv/transcoder.h"
#include "output/profile_limits.h"
#include "platform/text.h"

namespace nvt {
namespace {

// Holds the one reference the entry point hands out.
nvtl::RefCountedPtr<ITranscodeProfile> MakeProfile(NorvProfile profile, double fps) {
    ITranscodeProfile* raw = nullptr;
    EXPECT_EQ(CreateTranscodeProfile(profile, fps, &raw), SUCCESS);
    nvtl::RefCountedPtr<ITranscodeProfile> held(raw);
    if (raw != nullptr) {
        EXPECT_EQ(raw->Release(), 1);
    }
    return held;
}

struct Limits {
    uint32_t maxVideoKbps = 0, minAudio = 0, maxAudio = 0, defAudio = 0;
    uint32_t minW = 0, minH = 0, maxW = 0, maxH = 0;
    double maxFps = 0;
};

Limits Read(ITranscodeProfile& p) {
    Limits l;
    EXPECT_EQ(p.GetMaxVideoBitrateKbps(&l.maxVideoKbps), SUCCESS);
    EXPECT_EQ(p.GetMinAudioBitrate(&l.minAudio), SUCCESS);
    EXPECT_EQ(p.GetMaxAudioBitrate(&l.maxAudio), SUCCESS);
    EXPECT_EQ(p.GetDefaultAudioBitrate(&l.defAudio), SUCCESS);
    EXPECT_EQ(p.GetMinWidth(&l.minW), SUCCESS);
    EXPECT_EQ(p.GetMinHeight(&l.minH), SUCCESS);
    EXPECT_EQ(p.GetMaxWidth(&l.maxW), SUCCESS);
    EXPECT_EQ(p.GetMaxHeight(&l.maxH), SUCCESS);
    EXPECT_EQ(p.GetMaxFrameRate(&l.maxFps), SUCCESS);
    return l;
}

TEST(TranscodeProfile, CreationChecksItsArguments) {
    ITranscodeProfile* raw = reinterpret_cast<ITranscodeProfile*>(0x1);
    EXPECT_EQ(CreateTranscodeProfile(static_cast<NorvProfile>(12), 30, &raw), InvalidArgument);
    EXPECT_EQ(CreateTranscodeProfile(static_cast<NorvProfile>(-1), 30, &raw), InvalidArgument);
    EXPECT_EQ(CreateTranscodeProfile(NP_HD720, 30, nullptr), InvalidArgument);

    raw = nullptr;
    ASSERT_EQ(CreateTranscodeProfile(NP_HD720, 30, &raw), SUCCESS);
    ASSERT_NE(raw, nullptr);
    EXPECT_EQ(raw->GetRefCount(), 1);
    int32_t profile = -1;
    EXPECT_EQ(raw->GetProfile(&profile), SUCCESS);
    EXPECT_EQ(profile, NP_HD720);
    EXPECT_EQ(raw->Release(), 0);
}

TEST(TranscodeProfile, HomeTheaterLimitsFollowTheCreationRate) {
    const Limits pal = Read(*MakeProfile(NP_HomeTheater, 25));
    EXPECT_EQ(pal.maxH, 576u);
    EXPECT_EQ(pal.maxFps, 25.0);
    for (const double fps : {30.0, 0.0, 29.97, 60.0}) {
        const Limits ntsc = Read(*MakeProfile(NP_HomeTheater, fps));
        EXPECT_EQ(ntsc.maxH, 480u) << fps;
        EXPECT_EQ(ntsc.maxFps, 30.0) << fps;
    }
}

TEST(TranscodeProfile, LimitsAreCopiedFromTheProfilesRow) {
    for (int32_t p = 0; p < _NP_count_; ++p) {
        SCOPED_TRACE(p);
        const ProfileLimits& row = *FindProfileLimits(p, 30);
        const Limits l = Read(*MakeProfile(static_cast<NorvProfile>(p), 30));
        EXPECT_EQ(l.maxVideoKbps, static_cast<uint32_t>(row.maxVideoKbps));
        EXPECT_EQ(l.minAudio, 16u);
        EXPECT_EQ(l.maxAudio, static_cast<uint32_t>(row.maxAudioKbps));
        EXPECT_EQ(l.defAudio, DefaultAudioBitrateKbps(&row));
        EXPECT_EQ(l.minW, static_cast<uint32_t>(row.minWidth));
        EXPECT_EQ(l.minH, static_cast<uint32_t>(row.minHeight));
        EXPECT_EQ(l.maxW, static_cast<uint32_t>(row.maxWidth));
        EXPECT_EQ(l.maxH, static_cast<uint32_t>(row.maxHeight));
    }
}

TEST(TranscodeProfile, VideoBitratesUseTheRateOfTheCall) {
    auto hd = MakeProfile(NP_HD1080, 25);
    uint32_t out = 0;
    EXPECT_EQ(hd->GetMaxVideoBitrate(1920, 1080, 30, &out), SUCCESS);
    EXPECT_EQ(out, 19731600u);
    EXPECT_EQ(hd->GetMinVideoBitrate(1920, 1080, 30, &out), SUCCESS);
    EXPECT_EQ(out, 1000u);
    EXPECT_EQ(hd->GetMinVideoBitrate(0, 0, -1, &out), SUCCESS);
    EXPECT_EQ(out, 1000u);

    auto hd720 = MakeProfile(NP_HD720, 30);
    uint32_t clamped = 0;
    EXPECT_EQ(hd720->GetMaxVideoBitrate(1920, 1080, 29.97, &out), SUCCESS);
    EXPECT_EQ(hd720->GetMaxVideoBitrate(1280, 720, 29.97, &clamped), SUCCESS);
    EXPECT_EQ(out, clamped);
    EXPECT_EQ(out, 9543047u);
    EXPECT_EQ(hd720->GetDefaultVideoBitrate(1280, 720, 29.97, &out), SUCCESS);
    EXPECT_EQ(out, 3964418u);

    // The Home Theater object made for 30 fps still computes 25 fps on the
    // 576-line row when asked at 25.
    auto ht = MakeProfile(NP_HomeTheater, 30);
    uint32_t at25 = 0, at30 = 0;
    EXPECT_EQ(ht->GetMaxVideoBitrate(720, 576, 25, &at25), SUCCESS);
    EXPECT_EQ(ht->GetMaxVideoBitrate(720, 576, 30, &at30), SUCCESS);
    EXPECT_EQ(at25,
              static_cast<uint32_t>(720.0 * 576 / 256 * 25 * (4.0 * 8100 / 1620 + 52) * 1.45));
    EXPECT_EQ(at30,
              static_cast<uint32_t>(720.0 * 480 / 256 * 30 * (4.0 * 8100 / 1350 + 52) * 1.45));
}

TEST(TranscodeProfile, NonPositiveRateOrNullOutIsRefused) {
    auto p = MakeProfile(NP_NorvPlusHD, 30);
    for (const double fps : {0.0, -25.0}) {
        uint32_t out = 77;
        EXPECT_EQ(p->GetMaxVideoBitrate(1920, 1080, fps, &out), InvalidArgument);
        EXPECT_EQ(out, 0u);
        out = 77;
        EXPECT_EQ(p->GetDefaultVideoBitrate(1920, 1080, fps, &out), InvalidArgument);
        EXPECT_EQ(out, 0u);
    }
    EXPECT_EQ(p->GetMaxVideoBitrate(1920, 1080, 30, nullptr), InvalidArgument);
    EXPECT_EQ(p->GetMinVideoBitrate(1920, 1080, 30, nullptr), InvalidArgument);
    EXPECT_EQ(p->GetMaxWidth(nullptr), InvalidArgument);
    EXPECT_EQ(p->GetMaxFrameRate(nullptr), InvalidArgument);
    EXPECT_EQ(p->GetProfile(nullptr), InvalidArgument);
}

TEST(TranscodeProfile, SelectableAudioBitratesReplaceTheVector) {
    auto p = MakeProfile(NP_Mobile, 30);
    std::vector<uint32_t> out = {1, 2, 3};
    EXPECT_EQ(p->GetSelectableAudioBitrates(out), SUCCESS);
    EXPECT_EQ(out, (std::vector<uint32_t>{16, 32, 64, 96, 128, 160, 192, 256, 320}));
}

TEST(TranscodeProfile, DisplayNames) {
    for (int32_t p = 0; p < _NP_count_; ++p) {
        WideString name = NORV_WTEXT("old");
        EXPECT_EQ(MakeProfile(static_cast<NorvProfile>(p), 30)->GetDisplayName(name), SUCCESS);
        EXPECT_EQ(name, W(ProfileDisplayName(p)));
    }
}

TEST(TranscodeProfile, DescriptionNamesTheEnginesAudioCodecs) {
    nvtl::RefCountedPtr<TranscodeEngineInfo> info(new TranscodeEngineInfo());
    info->Response().mapSupportedOutputCodecs[NP_NorvPlusHD] = {AC_AAC, AC_AC3};
    info->Response().mapSupportedOutputCodecs[NP_HEVC4K] = {AC_MP3};
    info->Response().mapSupportedOutputCodecs[NP_HD720] = {};

    WideString text = NORV_WTEXT("old");
    EXPECT_EQ(MakeProfile(NP_NorvPlusHD, 30)->GetDescription(text, info.get()), SUCCESS);
    EXPECT_EQ(text, NORV_WTEXT("MKV, H.264, AAC/AC3"));
    EXPECT_EQ(MakeProfile(NP_HEVC4K, 30)->GetDescription(text, info.get()), SUCCESS);
    EXPECT_EQ(text, NORV_WTEXT("MKV, HEVC, MP3"));
    EXPECT_EQ(MakeProfile(NP_HD720, 30)->GetDescription(text, info.get()), SUCCESS);
    EXPECT_EQ(text, NORV_WTEXT("AVI, Norv"));
    EXPECT_EQ(MakeProfile(NP_iPhoneMP4H264, 30)->GetDescription(text, info.get()), SUCCESS);
    EXPECT_EQ(text, NORV_WTEXT("MP4, H.264"));

    // A value that is not a codec keeps its whole name.
    info->Response().mapSupportedOutputCodecs[NP_Mobile] = {AC_UNKNOWN,
                                                            static_cast<AudioCodec>(99)};
    EXPECT_EQ(MakeProfile(NP_Mobile, 30)->GetDescription(text, info.get()), SUCCESS);
    EXPECT_EQ(text, NORV_WTEXT("AVI, Norv, UNKNOWN/Invalid value"));

    text = NORV_WTEXT("old");
    EXPECT_EQ(MakeProfile(NP_NorvPlusHD, 30)->GetDescription(text, nullptr), InvalidArgument);
    EXPECT_TRUE(text.empty());
}

} // namespace
} // namespace nvt
