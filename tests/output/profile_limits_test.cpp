// The limits table, row lookup, clamping, alignment and the four video
// bitrate models, checked against values worked out independently.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "norv/enums.h"
#include "output/profile_limits.h"

namespace nvt {
namespace {

struct ExpectedRow {
    int32_t profile;
    int32_t maxVideoKbps, maxAudioKbps, minW, minH, maxW, maxH;
    double fps;
};

const ExpectedRow kExpected[] = {
    {NP_Mobile, 600, 128, 64, 64, 320, 240, 30},
    {NP_HomeTheater, 4854, 320, 64, 64, 720, 480, 30},
    {NP_HomeTheater, 4854, 320, 64, 64, 720, 576, 25},
    {NP_HD720, 9708, 320, 64, 64, 1280, 720, 30},
    {NP_HD1080, 20000, 320, 64, 64, 1920, 1080, 30},
    {NP_NorvPlusHD, 20000, 320, 320, 240, 1920, 1080, 30},
    {NP_iPhoneMP4H264, 1500, 128, 64, 64, 640, 480, 30},
    {NP_iPadMP4H264, 5000, 160, 64, 64, 1280, 720, 30},
    {NP_NorvPlus4K_MP4, 20000, 320, 320, 240, 3840, 2160, 30},
    {NP_NorvPlus4K_MKV, 20000, 320, 320, 240, 3840, 2160, 30},
    {NP_HEVC720, 6144, 320, 320, 240, 1280, 720, 30},
    {NP_HEVC1080, 12288, 320, 320, 240, 1920, 1080, 30},
    {NP_HEVC4K, 40000, 320, 320, 240, 3840, 2160, 30},
};

TEST(ProfileLimitsTable, HoldsTheThirteenRowsInSearchOrder) {
    const auto& table = ProfileLimitsTable();
    ASSERT_EQ(table.size(), 13u);
    for (size_t i = 0; i < table.size(); ++i) {
        SCOPED_TRACE("row " + std::to_string(i));
        const ExpectedRow& e = kExpected[i];
        EXPECT_EQ(table[i].profile, e.profile);
        EXPECT_EQ(table[i].maxVideoKbps, e.maxVideoKbps);
        EXPECT_EQ(table[i].maxAudioKbps, e.maxAudioKbps);
        EXPECT_EQ(table[i].minWidth, e.minW);
        EXPECT_EQ(table[i].minHeight, e.minH);
        EXPECT_EQ(table[i].maxWidth, e.maxW);
        EXPECT_EQ(table[i].maxHeight, e.maxH);
        EXPECT_EQ(table[i].frameRate, e.fps);
    }
}

TEST(ProfileLimitsLookup, HomeTheaterRowFollowsTheFrameRateClass) {
    const auto& table = ProfileLimitsTable();
    const ProfileLimits* row480 = &table[1];
    const ProfileLimits* row576 = &table[2];
    struct Case {
        double fps;
        const ProfileLimits* row;
    };
    const Case cases[] = {
        {0.0, row480},   {29.97, row480}, {25.0, row576},  {50.0, row576},  {60.0, row480},
        {26.99, row576}, {27.0, row480},  {34.99, row480}, {35.0, row576},  {54.99, row576},
        {55.0, row480},  {1.0, row576},   {-5.0, row576},  {240.0, row480},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FindProfileLimits(NP_HomeTheater, c.fps), c.row) << "fps " << c.fps;
    }
}

TEST(ProfileLimitsLookup, SingleRowProfilesIgnoreTheRateAndUnknownProfilesHaveNone) {
    const auto& table = ProfileLimitsTable();
    for (const double fps : {0.0, 12.0, 25.0, 29.97, 50.0, 60.0}) {
        EXPECT_EQ(FindProfileLimits(NP_HD720, fps), &table[3]);
        EXPECT_EQ(FindProfileLimits(NP_HEVC4K, fps), &table[12]);
        EXPECT_EQ(FindProfileLimits(NP_Mobile, fps), &table[0]);
    }
    EXPECT_EQ(FindProfileLimits(_NP_count_, 0.0), nullptr);
    EXPECT_EQ(FindProfileLimits(-1, 25.0), nullptr);
    for (int32_t p = 0; p < _NP_count_; ++p) {
        EXPECT_TRUE(IsKnownProfile(p)) << p;
    }
    EXPECT_FALSE(IsKnownProfile(12));
    EXPECT_FALSE(IsKnownProfile(-1));
    EXPECT_FALSE(IsKnownProfile(std::numeric_limits<int32_t>::min()));
}

TEST(ProfileLimitsClamp, ClampsPictureIntoTheRowAndRateDownToIt) {
    const ProfileLimits& hevc4k = *FindProfileLimits(NP_HEVC4K, 30);
    uint32_t w = 160, h = 120;
    double fps = 60.0;
    ClampToProfile(hevc4k, w, h, fps);
    EXPECT_EQ(w, 320u);
    EXPECT_EQ(h, 240u);
    EXPECT_EQ(fps, 30.0);

    const ProfileLimits& hd720 = *FindProfileLimits(NP_HD720, 30);
    w = 1920;
    h = 1080;
    fps = 23.976;
    ClampToProfile(hd720, w, h, fps);
    EXPECT_EQ(w, 1280u);
    EXPECT_EQ(h, 720u);
    EXPECT_EQ(fps, 23.976);

    w = 0;
    h = 0xFFFFFFFFu;
    ClampToProfile(hd720, w, h, fps);
    EXPECT_EQ(w, 64u);
    EXPECT_EQ(h, 720u);
}

TEST(ProfileLimitsAlign, RoundsToTheNearestMultipleTiesUp) {
    uint32_t wa = 0, ha = 0;
    for (int32_t p :
         {NP_Mobile, NP_HD1080, NP_HD720, NP_HomeTheater, NP_iPhoneMP4H264, NP_iPadMP4H264}) {
        ProfileAlignment(p, wa, ha);
        EXPECT_EQ(wa, 4u);
        EXPECT_EQ(ha, 2u);
    }
    for (int32_t p : {NP_NorvPlusHD, NP_NorvPlus4K_MP4, NP_NorvPlus4K_MKV, NP_HEVC720, NP_HEVC1080,
                      NP_HEVC4K}) {
        ProfileAlignment(p, wa, ha);
        EXPECT_EQ(wa, 8u);
        EXPECT_EQ(ha, 8u);
    }

    uint32_t w = 1366, h = 767;
    ASSERT_TRUE(AlignToProfile(FindProfileLimits(NP_HD720, 25), w, h));
    EXPECT_EQ(w, 1368u);
    EXPECT_EQ(h, 768u);
    w = 1366;
    h = 767;
    ASSERT_TRUE(AlignToProfile(FindProfileLimits(NP_HEVC1080, 25), w, h));
    EXPECT_EQ(w, 1368u);
    EXPECT_EQ(h, 768u);
    w = 1363; // below the half-way point: down
    h = 1083;
    ASSERT_TRUE(AlignToProfile(FindProfileLimits(NP_HEVC1080, 25), w, h));
    EXPECT_EQ(w, 1360u);
    EXPECT_EQ(h, 1080u);
    w = 1364; // exactly half-way: up
    h = 1084;
    ASSERT_TRUE(AlignToProfile(FindProfileLimits(NP_HEVC1080, 25), w, h));
    EXPECT_EQ(w, 1368u);
    EXPECT_EQ(h, 1088u);
}

TEST(ProfileLimitsAlign, NoRowChangesNothingAndHugeValuesDoNotWrapToZero) {
    uint32_t w = 1366, h = 767;
    EXPECT_FALSE(AlignToProfile(nullptr, w, h));
    EXPECT_EQ(w, 1366u);
    EXPECT_EQ(h, 767u);

    w = 0xFFFFFFFFu;
    h = 0xFFFFFFFFu;
    ASSERT_TRUE(AlignToProfile(FindProfileLimits(NP_HEVC4K, 0), w, h));
    EXPECT_EQ(w, 0xFFFFFFF8u);
    EXPECT_EQ(h, 0xFFFFFFF8u);
}

TEST(ProfileLimitsAudio, RangesDefaultsAndSteps) {
    for (int32_t p = 0; p < _NP_count_; ++p) {
        const ProfileLimits* row = FindProfileLimits(p, 0);
        EXPECT_EQ(MinAudioBitrateKbps(row), 16u);
        EXPECT_EQ(MaxAudioBitrateKbps(row), static_cast<uint32_t>(row->maxAudioKbps));
        const bool small = p == NP_Mobile || p == NP_iPhoneMP4H264 || p == NP_iPadMP4H264;
        EXPECT_EQ(DefaultAudioBitrateKbps(row), small ? 128u : 192u) << p;
    }
    EXPECT_EQ(MinAudioBitrateKbps(nullptr), 0u);
    EXPECT_EQ(MaxAudioBitrateKbps(nullptr), 0u);
    EXPECT_EQ(DefaultAudioBitrateKbps(nullptr), 0u);
    const auto& steps = SelectableAudioBitratesKbps();
    EXPECT_EQ(std::vector<uint32_t>(steps.begin(), steps.end()),
              (std::vector<uint32_t>{16, 32, 64, 96, 128, 160, 192, 256, 320}));
}

TEST(ProfileLimitsNames, DisplayNamesAndContainerLabels) {
    const char* names[] = {"Norv",
                           "Norv",
                           "Norv",
                           "Norv",
                           "Norv Plus",
                           "iPhone H.264",
                           "iPad H.264",
                           "Norv Plus 4K MP4",
                           "Norv Plus 4K MKV",
                           "Norv HEVC",
                           "Norv HEVC",
                           "Norv HEVC 4K"};
    const char* labels[] = {"AVI, Norv",  "AVI, Norv",  "AVI, Norv",  "AVI, Norv",
                            "MKV, H.264", "MP4, H.264", "MP4, H.264", "MP4, H.264",
                            "MKV, H.264", "MKV, HEVC",  "MKV, HEVC",  "MKV, HEVC"};
    for (int32_t p = 0; p < _NP_count_; ++p) {
        EXPECT_STREQ(ProfileDisplayName(p), names[p]);
        EXPECT_STREQ(ProfileContainerLabel(p), labels[p]);
    }
    EXPECT_EQ(ProfileDisplayName(12), nullptr);
    EXPECT_EQ(ProfileContainerLabel(-1), nullptr);
}

TEST(ProfileVideoBitrates, WorkedValues) {
    EXPECT_EQ(MaxVideoBitrate(NP_HD1080, 1920, 1080, 30), 19731600u);
    EXPECT_EQ(MaxVideoBitrate(NP_NorvPlusHD, 1920, 1080, 30), 20011050u);
    EXPECT_EQ(MaxVideoBitrate(NP_Mobile, 320, 240, 30), 600000u); // capped from 1030950
    // 1280 x 720 at 29.97: 9543 and 3964 kilobits; at 25: 7960 and 3313.
    EXPECT_EQ(MaxVideoBitrate(NP_HD720, 1280, 720, 29.97) / 1000, 9543u);
    EXPECT_EQ(DefaultVideoBitrate(NP_HD720, 1280, 720, 29.97) / 1000, 3964u);
    EXPECT_EQ(MaxVideoBitrate(NP_HD720, 1280, 720, 25), 7960500u);
    EXPECT_EQ(DefaultVideoBitrate(NP_HD720, 1280, 720, 25), 3313165u);
    // The trick-play track's rules: Mobile at 320 x 240 and 5 frames per second.
    EXPECT_EQ(MaxVideoBitrate(NP_Mobile, 320, 240, 5), 171825u);
    EXPECT_EQ(DefaultVideoBitrate(NP_Mobile, 320, 240, 5) / 1000, 76u);
    EXPECT_EQ(MaxVideoBitrate(NP_iPhoneMP4H264, 64, 64, 1), 1499500u);
    EXPECT_EQ(DefaultVideoBitrate(NP_iPhoneMP4H264, 4000, 4000, 60), 899700u);
    EXPECT_EQ(MaxVideoBitrate(NP_iPadMP4H264, 640, 480, 25), 4999500u);
    EXPECT_EQ(DefaultVideoBitrate(NP_iPadMP4H264, 640, 480, 25), 2999700u);
}

TEST(ProfileVideoBitrates, PicturesAreClampedFirst) {
    EXPECT_EQ(MaxVideoBitrate(NP_HD720, 1920, 1080, 30), MaxVideoBitrate(NP_HD720, 1280, 720, 30));
    EXPECT_EQ(MaxVideoBitrate(NP_HEVC4K, 160, 120, 30), MaxVideoBitrate(NP_HEVC4K, 320, 240, 30));
    EXPECT_EQ(DefaultVideoBitrate(NP_HEVC4K, 160, 120, 30),
              DefaultVideoBitrate(NP_HEVC4K, 320, 240, 30));
    EXPECT_EQ(MaxVideoBitrate(NP_HD1080, 1920, 1080, 60),
              MaxVideoBitrate(NP_HD1080, 1920, 1080, 30));
    // 576 lines only under the 25 fps Home Theater row.
    EXPECT_EQ(MaxVideoBitrate(NP_HomeTheater, 720, 576, 25),
              MaxVideoBitrate(NP_HomeTheater, 720, 576, 25.0));
    EXPECT_GT(MaxVideoBitrate(NP_HomeTheater, 720, 576, 25), 0u);
    EXPECT_EQ(MaxVideoBitrate(NP_HomeTheater, 720, 576, 29.97),
              MaxVideoBitrate(NP_HomeTheater, 720, 480, 29.97));
}

TEST(ProfileVideoBitrates, NoRowOrNoPositiveRateGivesZero) {
    for (const double fps : {0.0, -1.0, -30.0, std::nan("")}) {
        EXPECT_EQ(MaxVideoBitrate(NP_HD1080, 1920, 1080, fps), 0u) << fps;
        EXPECT_EQ(DefaultVideoBitrate(NP_HD1080, 1920, 1080, fps), 0u) << fps;
        EXPECT_EQ(MaxVideoBitrate(NP_iPhoneMP4H264, 640, 480, fps), 0u) << fps;
    }
    EXPECT_EQ(MaxVideoBitrate(12, 1920, 1080, 30), 0u);
    EXPECT_EQ(DefaultVideoBitrate(-1, 1920, 1080, 30), 0u);
}

// The bitrate models, written out here from their definitions: maximum =
// r * (a * k / max(m, 1200) + b) * f, with one default formula per family.
enum class Family { Classic, H264, Hevc, Hevc4K, Fixed };

struct Model {
    Family family;
    double a, k, b, f;
    double fixedMax, fixedDefault;
};

Model ModelOf(int32_t profile) {
    switch (profile) {
    case NP_Mobile:
    case NP_HD1080:
    case NP_HD720:
    case NP_HomeTheater:
        return {Family::Classic, 4, 8100, 52, 1.45, 0, 0};
    case NP_NorvPlusHD:
    case NP_NorvPlus4K_MP4:
    case NP_NorvPlus4K_MKV:
        return {Family::H264, 8, 8100, 53, 1.35, 0, 0};
    case NP_HEVC720:
    case NP_HEVC1080:
        return {Family::Hevc, 5.1, 8100, 44.1, 1.0, 0, 0};
    case NP_HEVC4K:
        return {Family::Hevc4K, 3.135, 34560, 49, 0.74, 0, 0};
    case NP_iPhoneMP4H264:
        return {Family::Fixed, 0, 0, 0, 0, 1499500, 899700};
    default:
        return {Family::Fixed, 0, 0, 0, 0, 4999500, 2999700};
    }
}

// The row an independent reading of the rules picks: Home Theater's 576-line
// row for rates of the 25 class, else the first row of the profile.
const ExpectedRow& ExpectedRowFor(int32_t profile, double fps) {
    const bool class25 = fps < 27 || (fps >= 35 && fps < 55);
    if (profile == NP_HomeTheater && fps != 0 && class25) {
        return kExpected[2];
    }
    for (const ExpectedRow& row : kExpected) {
        if (row.profile == profile) {
            return row;
        }
    }
    return kExpected[0];
}

void Expected(int32_t profile, uint32_t w, uint32_t h, double fps, uint32_t& maximum,
              uint32_t& byDefault) {
    const ExpectedRow& row = ExpectedRowFor(profile, fps);
    w = std::clamp<uint32_t>(w, row.minW, row.maxW);
    h = std::clamp<uint32_t>(h, row.minH, row.maxH);
    fps = std::min(fps, row.fps);
    const double m = double(w * h) / 256.0;
    const double r = m * fps;
    const Model model = ModelOf(profile);
    double mx = r * (model.a * model.k / std::max(m, 1200.0) + model.b) * model.f;
    double def = 0;
    switch (model.family) {
    case Family::Classic: {
        if (profile == NP_Mobile && mx > 600000) {
            mx = 600000;
        }
        const double hh = std::max(m / 99.0, 1.0);
        def = mx * (hh + 1) / 135 + (8 * r + 25000) * 1.45 * (1 + 1 / hh);
        break;
    }
    case Family::H264: {
        const double e = m / 300;
        def = mx * (e + 1) / 90 + (r + 50000) * 1.35 * (1 + 1 / e);
        break;
    }
    case Family::Hevc: {
        const double e = m / 300;
        def = mx * (e + 1) / 80 + (0.5 * r + 80000) * (1 + 1 / e);
        break;
    }
    case Family::Hevc4K:
        def = 740 + (mx - 740) * (0.29 - 0.14 * (double(w * h) / 1000) / 8845.056);
        break;
    case Family::Fixed:
        mx = model.fixedMax;
        def = model.fixedDefault;
        break;
    }
    maximum = static_cast<uint32_t>(mx);
    byDefault = static_cast<uint32_t>(def);
}

TEST(ProfileVideoBitrates, AgreeWithTheModelsOverAGrid) {
    const uint32_t widths[] = {1, 64, 100, 320, 352, 640, 720, 1280, 1366, 1920, 2560, 3840, 5000};
    const uint32_t heights[] = {1, 64, 120, 240, 288, 480, 576, 720, 1080, 1440, 2160, 3000};
    const double rates[] = {0.5,   5,  12,    15, 23.976, 24,    25, 26.99, 27,
                            29.97, 30, 34.99, 35, 50,     54.99, 55, 59.94, 120};
    int checked = 0;
    for (int32_t p = 0; p < _NP_count_; ++p) {
        for (uint32_t w : widths) {
            for (uint32_t h : heights) {
                for (double fps : rates) {
                    uint32_t mx = 0, def = 0;
                    Expected(p, w, h, fps, mx, def);
                    ASSERT_EQ(MaxVideoBitrate(p, w, h, fps), mx)
                        << "profile " << p << " " << w << "x" << h << " @" << fps;
                    ASSERT_EQ(DefaultVideoBitrate(p, w, h, fps), def)
                        << "profile " << p << " " << w << "x" << h << " @" << fps;
                    ASSERT_GT(mx, 0u);
                    ++checked;
                }
            }
        }
    }
    EXPECT_EQ(checked, 12 * 13 * 12 * 18);
}

} // namespace
} // namespace nvt
