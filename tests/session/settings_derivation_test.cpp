// The derivation of a transcode's output: helpers, picture, bitrates, sizes
// and fitting to a size limit. Expected numbers are worked out by hand in the
// comments next to them.
#include "session/derivation_inputs.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "api/engine_info.h"
#include "output/output_properties.h"
#include "output/output_settings.h"
#include "support/source_builder.h"

namespace {

using nvt::NorvProfile;

SourceSummary Source(uint32_t width, uint32_t height, double aspect, float frameRate) {
    SourceSummary s;
    s.durationSeconds = 100;
    s.totalFileSize = 1000000000;
    s.width = width;
    s.height = height;
    s.frameRate = frameRate;
    s.displayAspect = aspect;
    s.videoKbps = {5000};
    return s;
}

SourceSummary Source1080p(float frameRate = 29.97f) {
    return Source(1920, 1080, 16.0 / 9.0, frameRate);
}

// One video track, one selected audio track per entry of audioKbps.
SettingsRequest Request(NorvProfile profile, std::vector<uint32_t> audioKbps = {}) {
    SettingsRequest r;
    r.profile = profile;
    r.videoTracks.Assign(1, true);
    r.videoPassthrough.Assign(1, false);
    r.trickPlay.Assign(1, false);
    r.audioTracks.Assign(audioKbps.size(), true);
    r.audioPassthrough.Assign(audioKbps.size(), false);
    r.audioKbps = std::move(audioKbps);
    r.keepAspect = true;
    return r;
}

SettingsResult Derived(const SourceSummary& s, const SettingsRequest& r) {
    SettingsResult result;
    EXPECT_TRUE(DeriveTranscodeSettings(s, r, result));
    return result;
}

void ExpectReset(const SettingsResult& r) {
    EXPECT_EQ(r.videoMaxKbps, 0u);
    EXPECT_EQ(r.videoMinKbps, 0u);
    EXPECT_EQ(r.videoKbps, 0u);
    EXPECT_EQ(r.audioMaxKbps, 0u);
    EXPECT_EQ(r.audioMinKbps, 0u);
    EXPECT_TRUE(r.audioKbps.empty());
    EXPECT_EQ(r.trickMaxKbps, 0u);
    EXPECT_EQ(r.trickMinKbps, 0u);
    EXPECT_EQ(r.trickKbps, 0u);
    EXPECT_EQ(r.width, 0u);
    EXPECT_EQ(r.height, 0u);
    EXPECT_EQ(r.trickWidth, 0u);
    EXPECT_EQ(r.trickHeight, 0u);
    EXPECT_EQ(r.estimatedSize, 0u);
    EXPECT_EQ(r.minimumSize, 0u);
    EXPECT_FALSE(r.sizeLimitUnreachable);
    EXPECT_EQ(r.aspectNum, 0u);
    EXPECT_EQ(r.aspectDen, 0u);
}

// A result full of leftovers from an earlier call.
SettingsResult Stale() {
    SettingsResult r;
    r.videoMaxKbps = r.videoMinKbps = r.videoKbps = 7;
    r.audioMaxKbps = r.audioMinKbps = 7;
    r.audioKbps = {7, 7};
    r.trickMaxKbps = r.trickMinKbps = r.trickKbps = 7;
    r.width = r.height = r.trickWidth = r.trickHeight = 7;
    r.estimatedSize = r.minimumSize = 7;
    r.sizeLimitUnreachable = true;
    r.aspectNum = r.aspectDen = 7;
    return r;
}

// ---- helpers ------------------------------------------------------------------

TEST(SettingsHelpers, ReduceFraction) {
    struct Case {
        uint32_t a, b, wantA, wantB;
    };
    const Case cases[] = {
        {1920, 1080, 16, 9}, {13, 13, 1, 1}, {0, 5, 0, 5},
        {7, 0, 7, 0},        {3, 7, 3, 7},   {4294967295u, 3, 1431655765u, 1},
        {720, 576, 5, 4},
    };
    for (const Case& c : cases) {
        uint32_t a = c.a;
        uint32_t b = c.b;
        CTranscodeSettings::ReduceFraction(a, b);
        EXPECT_EQ(a, c.wantA) << c.a << "/" << c.b;
        EXPECT_EQ(b, c.wantB) << c.a << "/" << c.b;
    }
}

TEST(SettingsHelpers, Rationalize) {
    using R = RationalNumber;
    EXPECT_EQ(CTranscodeSettings::Rationalize(1.7777777), (R{16, 9}));
    EXPECT_EQ(CTranscodeSettings::Rationalize(1.3333333), (R{4, 3}));
    EXPECT_EQ(CTranscodeSettings::Rationalize(1.0), (R{1, 1}));
    EXPECT_EQ(CTranscodeSettings::Rationalize(2.35), (R{47, 20}));
    EXPECT_EQ(CTranscodeSettings::Rationalize(64.0 / 45.0), (R{64, 45}));
    // Within eps of an integer with denominator 1, both sides of it.
    EXPECT_EQ(CTranscodeSettings::Rationalize(1.0009), (R{1, 1}));
    EXPECT_EQ(CTranscodeSettings::Rationalize(0.9991), (R{1, 1}));
    // Values near 0 come out as 0/1.
    EXPECT_EQ(CTranscodeSettings::Rationalize(0.0), (R{0, 1}));
    EXPECT_EQ(CTranscodeSettings::Rationalize(0.0004), (R{0, 1}));
    // Not a number, infinite, or too large to keep exact: no fraction.
    EXPECT_EQ(CTranscodeSettings::Rationalize(std::nan("")), (R{-1, -1}));
    EXPECT_EQ(CTranscodeSettings::Rationalize(HUGE_VAL), (R{-1, -1}));
    EXPECT_EQ(CTranscodeSettings::Rationalize(1e300), (R{-1, -1}));
    // Just outside eps of 1: a larger denominator, close to the value.
    const R r = CTranscodeSettings::Rationalize(1.0011);
    ASSERT_GT(r.den, 1);
    EXPECT_LT(std::fabs(static_cast<double>(r.num) - 1.0011 * static_cast<double>(r.den)), 0.001);
    // With a small denominator bound nothing may be found.
    EXPECT_EQ(CTranscodeSettings::Rationalize(1.0011, 2), (R{-1, -1}));
}

TEST(SettingsHelpers, ToKbpsRoundsToNearest) {
    EXPECT_EQ(CTranscodeSettings::ToKbps(0), 0u);
    EXPECT_EQ(CTranscodeSettings::ToKbps(499), 0u);
    EXPECT_EQ(CTranscodeSettings::ToKbps(500), 1u);
    EXPECT_EQ(CTranscodeSettings::ToKbps(1000), 1u);
    EXPECT_EQ(CTranscodeSettings::ToKbps(1499), 1u);
    EXPECT_EQ(CTranscodeSettings::ToKbps(1500), 2u);
    EXPECT_EQ(CTranscodeSettings::ToKbps(9543047), 9543u);
    EXPECT_EQ(CTranscodeSettings::ToKbps(4294967295u), 4294967u);
}

TEST(SettingsHelpers, RoundTo50) {
    struct Case {
        uint32_t in, want;
    };
    const Case cases[] = {
        {9543, 9550},
        {3964, 3950},
        {7961, 7950},
        {3313, 3300},
        {0, 50},
        {1, 50},
        {24, 50},
        {25, 50},
        {49, 50},
        {50, 50},
        {74, 50},
        {75, 100},
        {100, 100},
        {124, 100},
        {125, 150},
        {4294967250u, 4294967250u},
        // Rounding up would pass the largest value: the value is rounded down.
        {4294967295u, 4294967250u},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CTranscodeSettings::RoundTo50(c.in), c.want) << c.in;
    }
}

TEST(SettingsHelpers, AudioSteps) {
    const uint32_t steps[] = {16, 32, 64, 96, 128, 160, 192, 256, 320};
    for (int i = 0; i < 9; ++i) {
        EXPECT_EQ(CTranscodeSettings::AudioStep(steps[i]), i);
        EXPECT_EQ(CTranscodeSettings::NearestAudioStep(steps[i]), i);
    }
    EXPECT_EQ(CTranscodeSettings::AudioStep(0), -1);
    EXPECT_EQ(CTranscodeSettings::AudioStep(100), -1);
    EXPECT_EQ(CTranscodeSettings::AudioStep(384), -1);
    EXPECT_EQ(CTranscodeSettings::NearestAudioStep(100), 3);  // 96
    EXPECT_EQ(CTranscodeSettings::NearestAudioStep(80), 2);   // tie 64/96: the lower
    EXPECT_EQ(CTranscodeSettings::NearestAudioStep(112), 3);  // tie 96/128: the lower
    EXPECT_EQ(CTranscodeSettings::NearestAudioStep(113), 4);  // 128
    EXPECT_EQ(CTranscodeSettings::NearestAudioStep(0), 0);    // 16
    EXPECT_EQ(CTranscodeSettings::NearestAudioStep(5000), 8); // 320
}

TEST(SettingsHelpers, BitVector) {
    BitVector v(40, true);
    EXPECT_EQ(v.Count(), 40u);
    EXPECT_TRUE(v.Get(39));
    EXPECT_FALSE(v.Get(40));
    v.Set(39, false);
    v.Set(100, true); // beyond the count: ignored
    EXPECT_FALSE(v.Get(39));
    EXPECT_FALSE(v.Get(100));
    BitVector none(33, false);
    EXPECT_FALSE(none.Any());
    none.Set(32, true);
    EXPECT_TRUE(none.Any());
    EXPECT_FALSE(BitVector().Any());
}

// ---- preconditions and failure ------------------------------------------------

TEST(SettingsDerivation, FailedPreconditionsLeaveTheResultReset) {
    struct Case {
        const char* name;
        void (*spoil)(SourceSummary&, SettingsRequest&);
    };
    const Case cases[] = {
        {"no duration", [](SourceSummary& s, SettingsRequest&) { s.durationSeconds = 0; }},
        {"no file size", [](SourceSummary& s, SettingsRequest&) { s.totalFileSize = 0; }},
        {"width without height", [](SourceSummary& s, SettingsRequest&) { s.height = 0; }},
        {"no frame rate", [](SourceSummary& s, SettingsRequest&) { s.frameRate = 0.0f; }},
        {"no video entry", [](SourceSummary& s, SettingsRequest&) { s.videoKbps.clear(); }},
        {"profile 12",
         [](SourceSummary&, SettingsRequest& r) { r.profile = static_cast<NorvProfile>(12); }},
        {"negative profile",
         [](SourceSummary&, SettingsRequest& r) { r.profile = static_cast<NorvProfile>(-1); }},
        {"trick play outside NorvPlusHD",
         [](SourceSummary&, SettingsRequest& r) { r.trickPlay.Set(0, true); }},
        {"request height without width",
         [](SourceSummary&, SettingsRequest& r) { r.height = 720; }},
        {"audio counts differ",
         [](SourceSummary&, SettingsRequest& r) { r.audioKbps.push_back(128); }},
        {"passthrough count differs",
         [](SourceSummary&, SettingsRequest& r) { r.audioPassthrough.Assign(2, false); }},
        {"video counts differ",
         [](SourceSummary&, SettingsRequest& r) { r.videoPassthrough.Assign(2, false); }},
        // A picture or display aspect from which no pixel aspect follows.
        {"no source picture", [](SourceSummary& s, SettingsRequest&) { s.width = s.height = 0; }},
        {"zero display aspect", [](SourceSummary& s, SettingsRequest&) { s.displayAspect = 0; }},
        {"negative display aspect",
         [](SourceSummary& s, SettingsRequest&) { s.displayAspect = -1.5; }},
        {"display aspect not a number",
         [](SourceSummary& s, SettingsRequest&) { s.displayAspect = std::nan(""); }},
        {"display aspect rounding to 0",
         [](SourceSummary& s, SettingsRequest&) { s.displayAspect = 0.0001; }},
    };
    for (const Case& c : cases) {
        SourceSummary s = Source1080p();
        s.audioKbps = {128};
        SettingsRequest r = Request(nvt::NP_HD720, {128});
        SettingsResult result = Stale();
        ASSERT_TRUE(DeriveTranscodeSettings(s, r, result)) << c.name;
        c.spoil(s, r);
        result = Stale();
        EXPECT_FALSE(DeriveTranscodeSettings(s, r, result)) << c.name;
        SCOPED_TRACE(c.name);
        ExpectReset(result);
    }
}

TEST(SettingsDerivation, ARepeatedCallStartsFromScratch) {
    SourceSummary s = Source1080p();
    s.audioKbps = {128, 128};
    const SettingsRequest r = Request(nvt::NP_HD720, {128, 96});
    SettingsResult result = Stale();
    ASSERT_TRUE(DeriveTranscodeSettings(s, r, result));
    EXPECT_EQ(result.audioKbps, (std::vector<uint32_t>{128, 96}));
    EXPECT_FALSE(result.sizeLimitUnreachable);
    ASSERT_TRUE(DeriveTranscodeSettings(s, r, result));
    EXPECT_EQ(result.audioKbps, (std::vector<uint32_t>{128, 96}));
}

// ---- picture --------------------------------------------------------------------

TEST(SettingsDerivation, FullHdToHd720KeepsAspectOrClamps) {
    SettingsRequest r = Request(nvt::NP_HD720);
    SettingsResult kept = Derived(Source1080p(), r);
    EXPECT_EQ(kept.width, 1280u);
    EXPECT_EQ(kept.height, 720u);
    EXPECT_EQ(kept.aspectNum, 16u);
    EXPECT_EQ(kept.aspectDen, 9u);

    r.keepAspect = false;
    SettingsResult clamped = Derived(Source1080p(), r);
    EXPECT_EQ(clamped.width, 1280u);
    EXPECT_EQ(clamped.height, 720u);
    EXPECT_EQ(clamped.aspectNum, 16u);
    EXPECT_EQ(clamped.aspectDen, 9u);
}

TEST(SettingsDerivation, WhichSideLeadsTheAspect) {
    // Requests of a 16:9 source under NP_HD1080 that nothing clamps.
    struct Case {
        const char* name;
        uint32_t width, height;
        bool keepAspect, widthFirst, heightFirst;
        uint32_t wantWidth, wantHeight;
    };
    const Case cases[] = {
        // H = 1280 * 9 / 16 = 720.
        {"width first", 1280, 600, true, true, false, 1280, 720},
        // W = 600 * 16 / 9 = 1066, aligned to 4: 1068.
        {"height first", 1280, 600, true, false, true, 1068, 600},
        // 1280 * 9 != 600 * 16: the height leads.
        {"neither flag", 1280, 600, true, false, false, 1068, 600},
        {"the source's aspect", 1024, 576, true, false, false, 1024, 576},
        {"aspect not kept", 1280, 600, false, false, false, 1280, 600},
    };
    for (const Case& c : cases) {
        SettingsRequest r = Request(nvt::NP_HD1080);
        r.width = c.width;
        r.height = c.height;
        r.keepAspect = c.keepAspect;
        r.widthFirst = c.widthFirst;
        r.heightFirst = c.heightFirst;
        const SettingsResult result = Derived(Source1080p(), r);
        EXPECT_EQ(result.width, c.wantWidth) << c.name;
        EXPECT_EQ(result.height, c.wantHeight) << c.name;
    }
}

TEST(SettingsDerivation, WidthFirstIsCappedAtTheMaximumHeight) {
    // 4:3 source, 1280 x 700 under NP_HD720 (max 1280 x 720), width first:
    // H = 1280 * 3 / 4 = 960 > 720, so H = 720 and W = 720 * 4 / 3 = 960.
    SettingsRequest r = Request(nvt::NP_HD720);
    r.width = 1280;
    r.height = 700;
    r.widthFirst = true;
    SettingsResult result = Derived(Source(1440, 1080, 4.0 / 3.0, 25.0f), r);
    EXPECT_EQ(result.width, 960u);
    EXPECT_EQ(result.height, 720u);
    EXPECT_EQ(result.aspectNum, 4u);
    EXPECT_EQ(result.aspectDen, 3u);
}

TEST(SettingsDerivation, LargeRequestedPictureDoesNotWrap) {
    // 2^28 * 16 does not fit 32 bits (it would wrap to a width of 0); the
    // width is capped at 1920 and the height follows the aspect:
    // 1920 * 9 / 16 = 1080.
    SettingsRequest r = Request(nvt::NP_HD1080);
    r.width = 268435456;
    r.height = 268435456;
    SettingsResult result = Derived(Source1080p(), r);
    EXPECT_EQ(result.width, 1920u);
    EXPECT_EQ(result.height, 1080u);
}

TEST(SettingsDerivation, TrickPlayTrackOfNorvPlusHd) {
    SettingsRequest r = Request(nvt::NP_NorvPlusHD);
    r.width = 1280;
    r.height = 720;
    r.trickPlay.Set(0, true);
    SettingsResult result = Derived(Source1080p(30.0f), r);
    EXPECT_EQ(result.width, 1280u);
    EXPECT_EQ(result.height, 720u);
    EXPECT_EQ(result.trickWidth, 640u);
    EXPECT_EQ(result.trickHeight, 360u);
    // Mobile rules, clamped to 320 x 240, 5 fps: m = 300, r = 1500.
    // max = 1500 * (4 * 8100 / 1200 + 52) * 1.45 = 171825 -> 172 kbps;
    // default = 171825 * (h + 1) / 135 + 37000 * 1.45 * (1 + 1 / h), h = 300 / 99
    //         = 76484 -> 76 kbps.
    EXPECT_EQ(result.trickMaxKbps, 172u);
    EXPECT_EQ(result.trickKbps, 76u);
    EXPECT_EQ(result.trickMinKbps, 1u);
    // trickKbps < videoKbps: the trick track adds 76 kbps to the estimate.
    SettingsRequest without = r;
    without.trickPlay.Set(0, false);
    SettingsResult plain = Derived(Source1080p(30.0f), without);
    EXPECT_EQ(plain.trickWidth, 0u);
    EXPECT_EQ(plain.trickKbps, 0u);
    EXPECT_EQ(result.estimatedSize - plain.estimatedSize, 76u * 100 * 1024 / 8);
    EXPECT_EQ(result.minimumSize - plain.minimumSize, 76u * 100 * 1024 / 8);
}

TEST(SettingsDerivation, TrickPictureIsAtLeast160By120) {
    // 320 x 180 aligns to 320 x 184, below the minimum height 240, so the
    // height leads: 184 * 16 / 9 = 327, aligned to 8: 328 x 184. Halved to
    // 164 x 92, raised to 164 x 120, then the 16:9 aspect widens it:
    // 120 * 16 / 9 = 213, aligned to 8: 216 x 120.
    SettingsRequest r = Request(nvt::NP_NorvPlusHD);
    r.width = 320;
    r.height = 180;
    r.trickPlay.Set(0, true);
    SettingsResult result = Derived(Source1080p(30.0f), r);
    EXPECT_EQ(result.width, 328u);
    EXPECT_EQ(result.height, 184u);
    EXPECT_EQ(result.trickWidth, 216u);
    EXPECT_EQ(result.trickHeight, 120u);
}

TEST(SettingsDerivation, NonSquarePixelsWidenTheBitratePicture) {
    // 720 x 576 shown at 16:9: pixel aspect (16/9) / (5/4) = 64/45. The
    // height leads: 576 * 16 / 9 = 1024 x 576. The bitrates are computed at
    // trunc(1024 * 64 / 45) = 1456 x 576, 25 fps (H.264 model):
    // m = 3276, r = 81900, max = 81900 * (64800 / 3276 + 53) * 1.35 = 8046945
    // -> 8047 -> 8050; default 1260144 -> 1260 -> 1250.
    SettingsRequest r = Request(nvt::NP_NorvPlusHD);
    SettingsResult result = Derived(Source(720, 576, 16.0 / 9.0, 25.0f), r);
    EXPECT_EQ(result.width, 1024u);
    EXPECT_EQ(result.height, 576u);
    EXPECT_EQ(result.videoMaxKbps, 8050u);
    EXPECT_EQ(result.videoKbps, 1250u);

    // The same under a profile without pixel aspect: computed at 1024 x 576
    // with the classic model, not the stretched picture.
    // m = 2304, r = 57600, max = 57600 * (32400 / 2304 + 52) * 1.45 = 5517540.
    SettingsResult classic = Derived(Source(720, 576, 16.0 / 9.0, 25.0f), Request(nvt::NP_HD1080));
    EXPECT_EQ(classic.width, 1024u);
    EXPECT_EQ(classic.videoMaxKbps, 5500u); // 5517 -> 5500
}

// ---- video bitrates ----------------------------------------------------------------

TEST(SettingsDerivation, Hd720VideoBitrates) {
    SettingsResult ntsc = Derived(Source(1280, 720, 16.0 / 9.0, 29.97f), Request(nvt::NP_HD720));
    EXPECT_EQ(ntsc.videoMaxKbps, 9550u); // 9543 rounded to 50
    EXPECT_EQ(ntsc.videoKbps, 3950u);    // 3964 rounded to 50
    EXPECT_EQ(ntsc.videoMinKbps, 1u);

    SettingsResult pal = Derived(Source(1280, 720, 16.0 / 9.0, 25.0f), Request(nvt::NP_HD720));
    EXPECT_EQ(pal.videoMaxKbps, 7950u);
    EXPECT_EQ(pal.videoKbps, 3300u);
    EXPECT_EQ(pal.videoMinKbps, 1u);
}

TEST(SettingsDerivation, RequestedVideoBitrateHonouredOnlyInRange) {
    SettingsRequest r = Request(nvt::NP_HD720);
    r.honourVideoBitrate = true;
    struct Case {
        uint32_t requested, want;
    };
    // The range is 1 .. 9550; the default 3950.
    const Case cases[] = {{5000, 5000}, {20000, 3950}, {9550, 9550}, {9551, 3950},
                          {1, 1},       {0, 3950},     {4321, 4321}};
    for (const Case& c : cases) {
        r.videoKbps = c.requested;
        EXPECT_EQ(Derived(Source1080p(), r).videoKbps, c.want) << c.requested;
    }
    r.honourVideoBitrate = false;
    r.videoKbps = 5000;
    EXPECT_EQ(Derived(Source1080p(), r).videoKbps, 3950u);
}

// ---- audio bitrates ------------------------------------------------------------------

TEST(SettingsDerivation, AudioBitratesOutsideTheProfileRangeBecomeTheDefault) {
    struct Case {
        NorvProfile profile;
        uint32_t requested, want, max;
    };
    const Case cases[] = {
        {nvt::NP_HD1080, 384, 192, 320},      {nvt::NP_Mobile, 160, 128, 128},
        {nvt::NP_HD720, 8, 192, 320},         {nvt::NP_iPhoneMP4H264, 8, 128, 128},
        {nvt::NP_iPadMP4H264, 8, 128, 160},   {nvt::NP_HEVC4K, 0, 192, 320},
        {nvt::NP_HD720, 100, 100, 320},       {nvt::NP_HD1080, 320, 320, 320},
        {nvt::NP_HD1080, 16, 16, 320},        {nvt::NP_iPadMP4H264, 160, 160, 160},
        {nvt::NP_iPadMP4H264, 161, 128, 160},
    };
    for (const Case& c : cases) {
        SourceSummary s = Source1080p();
        s.audioKbps = {200};
        SettingsResult result = Derived(s, Request(c.profile, {c.requested}));
        EXPECT_EQ(result.audioKbps, std::vector<uint32_t>{c.want})
            << c.profile << " " << c.requested;
        EXPECT_EQ(result.audioMinKbps, 16u);
        EXPECT_EQ(result.audioMaxKbps, c.max);
    }
}

TEST(SettingsDerivation, NoReadableSourceAudioLeavesAudioEmpty) {
    SettingsResult result = Derived(Source1080p(), Request(nvt::NP_HD720, {128, 128}));
    EXPECT_TRUE(result.audioKbps.empty());
    EXPECT_EQ(result.audioMinKbps, 0u);
    EXPECT_EQ(result.audioMaxKbps, 0u);
}

// ---- sizes -------------------------------------------------------------------------------

TEST(SettingsDerivation, EstimatedAndMinimumSize) {
    // NP_HD720 at 25 fps: video 3300 kbps; audio 192; two subtitles of 1 KiB.
    SourceSummary s = Source(1280, 720, 16.0 / 9.0, 25.0f);
    s.audioKbps = {448};
    s.extraKiB = {1, 1};
    SettingsRequest r = Request(nvt::NP_HD720, {192});
    SettingsResult result = Derived(s, r);
    // ((3300 + 192) * 100 * 1024) / 8 + 2048
    EXPECT_EQ(result.estimatedSize, 44697600u + 2048u);
    // ((1 + 16) * 100 * 1024) / 8 + 2048
    EXPECT_EQ(result.minimumSize, 217600u + 2048u);

    // A passed-through audio track counts with the source's bitrate.
    r.audioPassthrough.Set(0, true);
    EXPECT_EQ(Derived(s, r).estimatedSize, (3300u + 448u) * 12800u + 2048u);

    // So does a passed-through video track.
    r.videoPassthrough.Set(0, true);
    EXPECT_EQ(Derived(s, r).estimatedSize, (5000u + 448u) * 12800u + 2048u);

    // Tracks whose bit is clear do not count.
    r.videoTracks.Set(0, false);
    r.audioTracks.Set(0, false);
    SettingsResult none = Derived(s, r);
    EXPECT_EQ(none.estimatedSize, 2048u);
    EXPECT_EQ(none.minimumSize, 2048u);
}

// ---- fitting to a size limit ---------------------------------------------------------

// NP_iPadMP4H264 over a 1280 x 720 source at 30 fps for 100 s: video default
// 3000 kbps (range 1 .. 5000, the profile's fixed figures), audio 16 .. 160
// kbps with default 128. One kbps for 100 s is 12800 bytes. The budget is
// availKbps = (limit - extra bytes) / 128 / 100.
struct FitCase {
    const char* name;
    std::vector<uint32_t> requestAudio;
    std::vector<bool> passthrough;
    std::vector<uint32_t> sourceAudio;
    std::vector<uint32_t> extraKiB;
    uint32_t honouredVideo; // 0: the default video bitrate
    uint64_t limit;
    bool wantUnreachable;
    uint32_t wantVideo;
    std::vector<uint32_t> wantAudio;
    uint64_t wantEstimate;
};

const FitCase kFitCases[] = {
    // Estimate (3000 + 128) * 12800 = 40038400. Budget 1562, n = 1:
    // 128 + 1 <= 1562, video = 1562 - 128.
    {"too big", {128}, {false}, {128}, {}, 0, 20000000, false, 1434, {128}, 20000000},
    // Budget 78: 128 + 1 and 96 + 1 exceed it, 64 + 1 fits: video 14.
    {"far too big: audio steps down",
     {128},
     {false},
     {128},
     {},
     0,
     1000000,
     false,
     14,
     {64},
     1000000},
    // Budget 0 < video minimum 1: unreachable; no step fits, audio at the
    // lowest step, video and estimate unchanged.
    {"unreachable", {128}, {false}, {128}, {}, 0, 5000, true, 3000, {16}, 40038400},
    // Budget 4687 > estimate: 128 + 5000 >= 4687, video = 4687 - 128;
    // estimate (4559 + 128) * 12800.
    {"too small: video takes the rest",
     {128},
     {false},
     {128},
     {},
     0,
     60000000,
     false,
     4559,
     {128},
     59993600},
    // Budget 78125: neither 128 nor 160 reaches it, video at its maximum,
    // audio at the highest step; estimate (5000 + 128) * 12800, taken
    // before the audio is raised.
    {"too small beyond the maximum",
     {128},
     {false},
     {128},
     {},
     0,
     1000000000,
     false,
     5000,
     {160},
     65638400},
    // Estimate (3000 + 384 + 128) * 12800 = 44953600. Budget 2343, pass 384,
    // remaining 1959; n = entries at the default 128 = 2: video 1959 - 256.
    {"passthrough in the budget",
     {128, 128},
     {true, false},
     {384, 100},
     {},
     0,
     30000000,
     false,
     1703,
     {128, 128},
     30000000},
    // Only passed-through audio: nothing to trade (n = 0). Budget 4687, pass
    // 384, remaining 4303: 0 + 5000 >= 4303, video 4303; estimate
    // (4303 + 384) * 12800 without the result audio.
    {"all audio passed through",
     {128},
     {true},
     {384},
     {},
     0,
     60000000,
     false,
     4303,
     {128},
     59993600},
    // Budget 234 < 1 + 384: unreachable, passthrough left out, remaining 234,
    // n = 2: 2 * 128 + 1 > 234, 2 * 96 + 1 <= 234, video 234 - 192.
    {"passthrough left out when unreachable",
     {128, 128},
     {true, false},
     {384, 100},
     {},
     0,
     3000000,
     true,
     42,
     {96, 96},
     3000000},
    // Estimate (3000 + 352) * 12800. Budget 1562, n = 3; each track sets the
    // video bitrate in turn: 1562 - 384, 1562 - 192, 1562 - 480.
    {"three tracks",
     {128, 64, 160},
     {false, false, false},
     {128, 64, 160},
     {},
     0,
     20000000,
     false,
     1082,
     {128, 64, 160},
     20000000},
    // 80 kbps is no step: it starts from the nearer lower step, 64.
    {"audio between two steps", {80}, {false}, {80}, {}, 0, 20000000, false, 1498, {64}, 20000000},
    // Video 10 kbps honoured, audio 16 + 160: estimate 186 * 12800 = 2380800
    // below 2400000. Budget 187, n = 2. Track 0 (16): 32 + 5000 >= 187, video
    // 155. Track 1 (160): 320 + 5000 >= 187 and 187 - 320 is below zero:
    // video 0; estimate (0 + 176) * 12800.
    {"video cannot go below zero",
     {16, 160},
     {false, false},
     {16, 160},
     {},
     10,
     2400000,
     false,
     0,
     {16, 160},
     2252800},
    // An estimate that equals the limit is left alone.
    {"estimate equals the limit",
     {128},
     {false},
     {128},
     {},
     0,
     40038400,
     false,
     3000,
     {128},
     40038400},
    // Subtitles of 1000 KiB exceed a 500000-byte limit: no budget at all.
    // Estimate 40038400 + 1024000.
    {"extra bytes above the limit",
     {128},
     {false},
     {128},
     {1000},
     0,
     500000,
     true,
     3000,
     {16},
     41062400},
    // No source audio could be read: the result has no audio entries, the
    // selected tracks are skipped, n = 0. Estimate 3000 * 12800.
    {"no result audio to trade",
     {128, 128},
     {false, false},
     {},
     {},
     0,
     20000000,
     false,
     3000,
     {},
     38400000},
};

TEST(SettingsDerivation, FittingToTheSizeLimit) {
    for (const FitCase& c : kFitCases) {
        SCOPED_TRACE(c.name);
        SourceSummary s = Source(1280, 720, 16.0 / 9.0, 30.0f);
        s.audioKbps = c.sourceAudio;
        s.extraKiB = c.extraKiB;
        SettingsRequest r = Request(nvt::NP_iPadMP4H264, c.requestAudio);
        for (std::size_t i = 0; i < c.passthrough.size(); ++i) {
            r.audioPassthrough.Set(i, c.passthrough[i]);
        }
        if (c.honouredVideo != 0) {
            r.honourVideoBitrate = true;
            r.videoKbps = c.honouredVideo;
        }
        r.fileSizeLimit = c.limit;
        r.fitToFileSize = true;
        SettingsResult result = Derived(s, r);
        EXPECT_EQ(result.sizeLimitUnreachable, c.wantUnreachable);
        EXPECT_EQ(result.videoKbps, c.wantVideo);
        EXPECT_EQ(result.audioKbps, c.wantAudio);
        EXPECT_EQ(result.estimatedSize, c.wantEstimate);
        // The fitting changes neither the range nor the minimum size.
        EXPECT_EQ(result.videoMaxKbps, 5000u);
        EXPECT_EQ(result.videoMinKbps, 1u);

        // Without the file-size priority nothing is fitted.
        r.fitToFileSize = false;
        SettingsResult unfitted = Derived(s, r);
        EXPECT_FALSE(unfitted.sizeLimitUnreachable);
        EXPECT_EQ(unfitted.videoKbps, c.honouredVideo != 0 ? c.honouredVideo : 3000u);
        EXPECT_EQ(unfitted.minimumSize, result.minimumSize);
    }
}

TEST(SettingsDerivation, HugeLimitDoesNotWrap) {
    // The largest limit: the budget is vast, not wrapped to a small number.
    SourceSummary s = Source(1280, 720, 16.0 / 9.0, 30.0f);
    s.audioKbps = {128};
    SettingsRequest r = Request(nvt::NP_iPadMP4H264, {128});
    r.fileSizeLimit = std::numeric_limits<uint64_t>::max();
    r.fitToFileSize = true;
    SettingsResult result = Derived(s, r);
    EXPECT_FALSE(result.sizeLimitUnreachable);
    EXPECT_EQ(result.videoKbps, 5000u);
    EXPECT_EQ(result.audioKbps, std::vector<uint32_t>{160});
}

// ---- session side --------------------------------------------------------------------

TEST(SettingsInputs, UnknownBitratesFilledFromTheFileSize) {
    // 12800000 bytes over 100 s: I = 12800000 / (128 * 100) = 1000 kbps.
    SourceSummary s;
    s.durationSeconds = 100;
    s.totalFileSize = 12800000;
    s.videoKbps = {0, 0};
    s.audioKbps = {128, 64};
    s.extraKiB = {1000}; // X = 8 * 1000 / 100 = 80
    nvt::FillUnknownBitrates(s, 2, 2);
    EXPECT_EQ(s.videoKbps, (std::vector<uint32_t>{364, 364})); // (1000 - 80 - 192) / 2
    EXPECT_EQ(s.audioKbps, (std::vector<uint32_t>{128, 64}));

    // Video known, audio unknown: (1000 - 80 - 500) / 2 selected tracks.
    s.videoKbps = {500};
    s.audioKbps = {0, 0};
    nvt::FillUnknownBitrates(s, 1, 2);
    EXPECT_EQ(s.audioKbps, (std::vector<uint32_t>{210, 210}));

    // A shortfall is no bitrate, not a huge one.
    s.videoKbps = {0};
    s.audioKbps = {5000};
    nvt::FillUnknownBitrates(s, 1, 1);
    EXPECT_EQ(s.videoKbps, std::vector<uint32_t>{0});
    s.videoKbps = {5000};
    s.audioKbps = {0};
    nvt::FillUnknownBitrates(s, 1, 1);
    EXPECT_EQ(s.audioKbps, std::vector<uint32_t>{0});

    // Without a duration nothing can be told: I = X = 0.
    s.durationSeconds = 0;
    s.videoKbps = {0};
    s.audioKbps = {64};
    nvt::FillUnknownBitrates(s, 1, 1);
    EXPECT_EQ(s.videoKbps, std::vector<uint32_t>{0});
}

TEST(SettingsInputs, TimeEstimate) {
    // 1280 x 720 at 25 fps: 921600 * 25 * 1.5 / 10368000 = 3.333 s per
    // second, over trunc(100999 / 1000) = 100 s: 333.
    EXPECT_EQ(nvt::EstimateTranscodeSeconds(100999, 1280, 720, 25.0), 333u);
    // 1920 x 1080 at 30 fps: 9 s per second.
    EXPECT_EQ(nvt::EstimateTranscodeSeconds(100000, 1920, 1080, 30.0), 900u);
    EXPECT_EQ(nvt::EstimateTranscodeSeconds(999, 1920, 1080, 30.0), 0u);
    EXPECT_EQ(nvt::EstimateTranscodeSeconds(100000, 1920, 1080, std::nan("")), 0u);
    EXPECT_EQ(nvt::EstimateTranscodeSeconds(100000, 1920, 1080, -30.0), 0u);
}

// ---- preparing the inputs from sources and settings -------------------------------

using norv_test::SourceBuilder;

// A 1080p source at 25 fps; 4000000 bits per second is 3906.25 KiB
// per second: 3906 kbps (a quarter is not more than a quarter). The audio
// tracks' bitrates, in bits per second as the engine reports them, are 448
// and 128 kbps.
SourceBuilder Film(double videoBitrate = 4000000.0) {
    SourceBuilder film("/media/film.mkv");
    film.Video(nvt::VC_H264, 1920, 1080, 25.0, 16.0 / 9.0, videoBitrate)
        .Audio(1, nvt::AC_AC3, "eng", 448 * 1024)
        .Audio(2, nvt::AC_AAC, "ger", 128 * 1024)
        .Subtitle("eng", "", nvt::ST_SRT_INTERNAL)
        .Subtitle("ger", "", nvt::ST_SRT_INTERNAL)
        .FileSize(100000000);
    return film;
}

nvtl::RefCountedPtr<nvt::TranscodeOutputSettings> Hd720Settings() {
    nvtl::RefCountedPtr<nvt::TranscodeOutputSettings> settings(
        new nvt::TranscodeOutputSettings(nvt::NP_HD720));
    settings->SetAudioTracks({0, 1});
    settings->SetAudioBitrates({192 << 10, 100000});
    settings->SetVideoBitrate(5000000);
    settings->SetResolution(1280, 720);
    settings->SetPriority(nvt::prioVideoBitrate);
    return settings;
}

nvtl::RefCountedPtr<nvt::TranscodeEngineInfo> EngineWritingAc3(bool ac3) {
    nvtl::RefCountedPtr<nvt::TranscodeEngineInfo> info(new nvt::TranscodeEngineInfo());
    info->Response().mapSupportedOutputCodecs[nvt::NP_HD720] =
        ac3 ? std::vector<nvt::AudioCodec>{nvt::AC_AAC, nvt::AC_AC3}
            : std::vector<nvt::AudioCodec>{nvt::AC_AAC};
    return info;
}

std::vector<bool> Bits(const BitVector& v) {
    std::vector<bool> bits;
    for (std::size_t i = 0; i < v.Count(); ++i) {
        bits.push_back(v.Get(i));
    }
    return bits;
}

TEST(SettingsInputs, SummaryAndRequestFromSourcesAndSettings) {
    const SourceBuilder film = Film();
    SourceBuilder subtitles("/media/film.srt");
    subtitles.SubtitleContainer().Subtitle("fre", "", nvt::ST_SRT_EXTERNAL).FileSize(1000000);
    const nvt::SourceList extras = {subtitles.Get()};
    auto settings = Hd720Settings();
    auto engine = EngineWritingAc3(true);

    SourceSummary s;
    SettingsRequest r;
    ASSERT_EQ(
        nvt::PrepareSettingsDerivation(*film.Get(), extras, 120500, *settings, engine.get(), s, r),
        nvt::SUCCESS);
    EXPECT_EQ(s.durationSeconds, 120u);
    EXPECT_EQ(s.totalFileSize, 101000000u);
    EXPECT_EQ(s.width, 1920u);
    EXPECT_EQ(s.height, 1080u);
    EXPECT_EQ(s.frameRate, 25.0f);
    EXPECT_EQ(s.displayAspect, 16.0 / 9.0);
    EXPECT_EQ(s.videoKbps, std::vector<uint32_t>{3906});
    EXPECT_EQ(s.audioKbps, (std::vector<uint32_t>{448, 128}));
    EXPECT_EQ(s.extraKiB, (std::vector<uint32_t>{1, 1})); // every subtitle track of the source

    EXPECT_EQ(r.width, 1280u);
    EXPECT_EQ(r.height, 720u);
    EXPECT_EQ(r.fileSizeLimit, 0u);
    EXPECT_EQ(r.videoKbps, 4882u); // 5000000 >> 10
    EXPECT_EQ(r.audioKbps, (std::vector<uint32_t>{192, 97}));
    EXPECT_EQ(r.profile, nvt::NP_HD720);
    EXPECT_EQ(Bits(r.videoTracks), std::vector<bool>{true});
    EXPECT_EQ(Bits(r.videoPassthrough), std::vector<bool>{false});
    EXPECT_EQ(Bits(r.trickPlay), std::vector<bool>{false});
    EXPECT_EQ(Bits(r.audioTracks), (std::vector<bool>{true, true}));
    EXPECT_EQ(r.subtitleTracks.Count(), 0u);
    // Only the AC3 track is passed through, the engine can write AC3.
    EXPECT_EQ(Bits(r.audioPassthrough), (std::vector<bool>{true, false}));
    EXPECT_TRUE(r.keepAspect);
    EXPECT_TRUE(r.honourVideoBitrate);
    EXPECT_FALSE(r.heightFirst);
    EXPECT_FALSE(r.widthFirst);
    EXPECT_FALSE(r.fitToFileSize);

    // No AC3 from the engine, no engine information, or passthrough off:
    // nothing is passed through.
    auto noAc3 = EngineWritingAc3(false);
    ASSERT_EQ(
        nvt::PrepareSettingsDerivation(*film.Get(), extras, 120500, *settings, noAc3.get(), s, r),
        nvt::SUCCESS);
    EXPECT_EQ(Bits(r.audioPassthrough), (std::vector<bool>{false, false}));
    ASSERT_EQ(nvt::PrepareSettingsDerivation(*film.Get(), extras, 120500, *settings, nullptr, s, r),
              nvt::SUCCESS);
    EXPECT_EQ(Bits(r.audioPassthrough), (std::vector<bool>{false, false}));
    settings->SetAudioPassthrough(false);
    ASSERT_EQ(
        nvt::PrepareSettingsDerivation(*film.Get(), extras, 120500, *settings, engine.get(), s, r),
        nvt::SUCCESS);
    EXPECT_EQ(Bits(r.audioPassthrough), (std::vector<bool>{false, false}));
}

TEST(SettingsInputs, SelectionsThatNameMissingTracks) {
    const SourceBuilder film = Film();
    auto settings = Hd720Settings();
    settings->SetAudioTracks({0, 7});
    settings->SetAudioBitrates({192 << 10});
    settings->SetSubtitleTracks({0, 5, 1000});
    SourceSummary s;
    SettingsRequest r;
    ASSERT_EQ(nvt::PrepareSettingsDerivation(*film.Get(), {}, 120500, *settings,
                                             EngineWritingAc3(true).get(), s, r),
              nvt::SUCCESS);
    // Track 7 does not exist: no source entry, and it is not passed through;
    // with no bitrate of its own it asks for 0 (the profile default later).
    EXPECT_EQ(s.audioKbps, std::vector<uint32_t>{448});
    EXPECT_EQ(r.audioKbps, (std::vector<uint32_t>{192, 0}));
    EXPECT_EQ(Bits(r.audioTracks), (std::vector<bool>{true, true}));
    EXPECT_EQ(Bits(r.audioPassthrough), (std::vector<bool>{true, false}));
    // One KiB per selected subtitle, whatever it names.
    EXPECT_EQ(s.extraKiB, (std::vector<uint32_t>{1, 1, 1}));
    EXPECT_EQ(r.subtitleTracks.Count(), 3u);

    SettingsResult result;
    ASSERT_TRUE(DeriveTranscodeSettings(s, r, result));
    EXPECT_EQ(result.audioKbps, (std::vector<uint32_t>{192, 192}));
}

TEST(SettingsInputs, VideoBitrateRoundsUpAboveAQuarter) {
    auto settings = Hd720Settings();
    SourceSummary s;
    SettingsRequest r;
    // 102657 / 1024 = 100.2509...: 101. 102656 / 1024 = 100.25: 100.
    ASSERT_EQ(
        nvt::PrepareSettingsDerivation(*Film(102657).Get(), {}, 1000, *settings, nullptr, s, r),
        nvt::SUCCESS);
    EXPECT_EQ(s.videoKbps, std::vector<uint32_t>{101});
    ASSERT_EQ(
        nvt::PrepareSettingsDerivation(*Film(102656).Get(), {}, 1000, *settings, nullptr, s, r),
        nvt::SUCCESS);
    EXPECT_EQ(s.videoKbps, std::vector<uint32_t>{100});
}

TEST(SettingsInputs, UnknownVideoBitrateFromTheFileSize) {
    // 12800000 bytes over 100 s: 1000 kbps, less 448 + 128 of audio and
    // 8 * 2 KiB / 100 s = 0 of subtitles: 424.
    SourceBuilder film = Film(0.0);
    film.FileSize(12800000);
    auto settings = Hd720Settings();
    SourceSummary s;
    SettingsRequest r;
    ASSERT_EQ(nvt::PrepareSettingsDerivation(*film.Get(), {}, 100000, *settings, nullptr, s, r),
              nvt::SUCCESS);
    EXPECT_EQ(s.videoKbps, std::vector<uint32_t>{424});
}

TEST(SettingsInputs, PriorityDecidesWhatLeads) {
    struct Case {
        nvt::SettingPriority prio;
        bool aspect;
        uint64_t limit;
        bool honour, heightFirst, widthFirst, fit;
    };
    const Case cases[] = {
        {nvt::prioUnknown, true, 0, false, false, false, false},
        {nvt::prioResolutionWidth, true, 0, false, false, true, false},
        {nvt::prioResolutionHeight, true, 0, false, true, false, false},
        {nvt::prioFilesize, true, 1000000, false, false, false, true},
        {nvt::prioFilesize, true, 0, false, false, false, false},
        {nvt::prioVideoBitrate, true, 0, true, false, false, false},
        {nvt::prioAudioBitrate, true, 0, true, false, false, false},
        {nvt::prioAudioPassThrough, true, 0, true, false, false, false},
        {nvt::prioTrickPlayTrack, true, 0, true, false, false, false},
        {nvt::prioAspectRatio, true, 0, false, false, false, false},
        {nvt::prioAspectRatio, false, 0, true, false, false, false},
    };
    const SourceBuilder film = Film();
    for (const Case& c : cases) {
        auto settings = Hd720Settings();
        settings->SetPriority(c.prio);
        settings->SetAspectRatioEnabled(c.aspect);
        settings->SetFileSizeLimit(c.limit);
        SourceSummary s;
        SettingsRequest r;
        ASSERT_EQ(nvt::PrepareSettingsDerivation(*film.Get(), {}, 100000, *settings, nullptr, s, r),
                  nvt::SUCCESS);
        EXPECT_EQ(r.keepAspect, c.aspect) << c.prio;
        EXPECT_EQ(r.honourVideoBitrate, c.honour) << c.prio << " " << c.aspect;
        EXPECT_EQ(r.heightFirst, c.heightFirst) << c.prio;
        EXPECT_EQ(r.widthFirst, c.widthFirst) << c.prio;
        EXPECT_EQ(r.fitToFileSize, c.fit) << c.prio << " " << c.limit;
        EXPECT_EQ(r.fileSizeLimit, c.limit);
    }
}

TEST(SettingsInputs, OutputPropertiesOfADescribedSource) {
    const SourceBuilder film = Film();
    auto settings = Hd720Settings();
    auto engine = EngineWritingAc3(true);
    nvt::OutputPropertyValues values;
    ASSERT_EQ(nvt::DeriveOutputProperties(*film.Get(), {}, 120500, *settings, engine.get(), values),
              nvt::SUCCESS);
    EXPECT_EQ(values.width, 1280u);
    EXPECT_EQ(values.height, 720u);
    EXPECT_EQ(values.aspectNum, 16u);
    EXPECT_EQ(values.aspectDen, 9u);
    // 25 fps under NP_HD720: range 1 .. 7950; 4882 asked with the video
    // bitrate first.
    EXPECT_EQ(values.videoKbps, 4882u);
    EXPECT_EQ(values.videoMinKbps, 1u);
    EXPECT_EQ(values.videoMaxKbps, 7950u);
    EXPECT_EQ(values.audioKbps, (std::vector<uint32_t>{192, 97}));
    // ((4882 + 448 passed through + 97) * 120 * 1024) / 8 + 2 KiB
    EXPECT_EQ(values.estimatedSize, 5427u * 15360u + 2048u);
    // ((1 + 16 + 16) * 120 * 1024) / 8 + 2 KiB
    EXPECT_EQ(values.minimumSize, 33u * 15360u + 2048u);
    EXPECT_FALSE(values.sizeLimitUnreachable);
    EXPECT_EQ(values.trickKbps, 0u);
    // 1280 x 720 at 25 fps: 10/3 s per second, for 120 s.
    EXPECT_EQ(values.estimatedTime, 400);
}

TEST(SettingsInputs, FailuresLeaveThePropertiesAlone) {
    nvt::OutputPropertyValues values;
    values.estimatedTime = 77;
    values.width = 5;

    // No video track on the first source.
    SourceBuilder audioOnly("/media/song.mp3");
    audioOnly.Audio(1, nvt::AC_MP3, "eng", 128 * 1024).FileSize(1000);
    auto settings = Hd720Settings();
    SourceSummary s;
    SettingsRequest r;
    EXPECT_EQ(
        nvt::PrepareSettingsDerivation(*audioOnly.Get(), {}, 100000, *settings, nullptr, s, r),
        nvt::ENG_ERR);
    EXPECT_EQ(nvt::DeriveOutputProperties(*audioOnly.Get(), {}, 100000, *settings, nullptr, values),
              nvt::ENG_ERR);
    EXPECT_EQ(values.estimatedTime, 77);
    EXPECT_EQ(values.width, 5u);

    // Inputs the derivation refuses: a height without a width, no duration.
    settings->SetResolution(0, 720);
    EXPECT_EQ(nvt::DeriveOutputProperties(*Film().Get(), {}, 100000, *settings, nullptr, values),
              nvt::InvalidArgument);
    settings->SetResolution(0, 0);
    EXPECT_EQ(nvt::DeriveOutputProperties(*Film().Get(), {}, 999, *settings, nullptr, values),
              nvt::InvalidArgument);
    EXPECT_EQ(values.estimatedTime, 77);
    EXPECT_EQ(values.width, 5u);
}

} // namespace
