// The picture of files as TV recorders and phones make them, transcoded by
// the real engine and read back with ffprobe and ffmpeg's own filters:
// interlaced recordings come out progressive, every output carries its
// colours (BT.709 for HD and for tone-mapped HDR, BT.601 for SD kept SD) in
// 8 bits, and a recording whose display aspect switches keeps each part's.
#include <gtest/gtest.h>

#include <cstdlib>

#include "corpus.h"
#include "support/temp_dir.h"
#include "transcode_support.h"

namespace nvt {
namespace {

using nlohmann::json;
using SourceRef = nvtl::RefCountedPtr<ISourceMedia>;

// Transcodes source with settings into dir's out.file; ffprobe's first video
// stream of the output, or null on failure.
json Transcode(const char* source, TranscodeOutputSettings& settings, norv_test::TempDir& dir) {
    const SourceRef clip = norv_test::Analysed(source);
    if (!clip) {
        return json();
    }
    norv_test::Run run = norv_test::Prepare({clip}, settings);
    norv_test::Start(run, dir.file("out.file"));
    if (norv_test::Finish(run) != SUCCESS) {
        return json();
    }
    const auto video = norv_test::Streams(norv_test::Probe(dir.file("out.file")), "video");
    return video.size() == 1 ? video[0] : json();
}

TEST(PictureFidelity, InterlaceIsRemovedAndColoursAreTaggedIn8Bits) {
    struct Row {
        const char* what;
        const char* source;
        NorvProfile profile;
        uint32_t width = 0, height = 0; // 0: as the settings derive it
        const char* primaries;
        const char* transfer;
        const char* matrix;
        bool interlaced = false; // the source is
    };
    const Row rows[] = {
        // 720x576 interlaced H.264, untagged: PAL's own colours.
        {"interlaced SD", "interlaced.ts", NP_NorvPlusHD, 0, 0, "bt470bg", "smpte170m", "bt470bg",
         true},
        // Tagged BT.601 (525 lines) at 320x240.
        {"SD kept SD", "sd.mp4", NP_iPhoneMP4H264, 0, 0, "smpte170m", "smpte170m", "smpte170m"},
        {"SD to HD", "sd.mp4", NP_NorvPlusHD, 960, 720, "smpte170m", "smpte170m", "bt709"},
        // 10-bit HLG BT.2020: tone mapped into 8-bit BT.709 at any size.
        {"HLG to HEVC", "hlg.mov", NP_HEVC720, 0, 0, "bt709", "bt709", "bt709"},
        {"HLG to H.264", "hlg.mov", NP_iPadMP4H264, 0, 0, "bt709", "bt709", "bt709"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        norv_test::TempDir dir;
        auto settings = norv_test::SettingsFor(row.profile);
        settings->SetAudioTracks({0});
        if (row.width > 0) {
            ASSERT_EQ(settings->SetResolution(row.width, row.height), SUCCESS);
        }
        const json video = Transcode(row.source, *settings, dir);
        ASSERT_TRUE(video.is_object());
        EXPECT_EQ(video.value("pix_fmt", ""), "yuv420p");
        EXPECT_EQ(video.value("color_range", ""), "tv");
        EXPECT_EQ(video.value("color_primaries", ""), row.primaries);
        EXPECT_EQ(video.value("color_transfer", ""), row.transfer);
        EXPECT_EQ(video.value("color_space", ""), row.matrix);
        if (row.width > 0) {
            EXPECT_EQ(video.value("height", 0), static_cast<int>(row.height));
        }
        if (row.interlaced) {
            // Fields woven into one picture show as TFF or BFF frames (the
            // source: 50 of 50). idet misreads the sharp edges of the other
            // generated sources, so only this one is measured.
            const norv_test::InterlaceCount count = norv_test::Interlace(dir.file("out.file"));
            EXPECT_GT(count.progressive, 25.0);
            EXPECT_GE(count.interlaced, 0.0);
            EXPECT_LE(count.interlaced, count.progressive / 5);
        }
    }
    // The deinterlacer gives one frame per frame: 2 s at 25 frames a second.
    norv_test::TempDir dir;
    auto settings = norv_test::SettingsFor(NP_NorvPlusHD);
    settings->SetAudioTracks({0});
    const json video = Transcode("interlaced.ts", *settings, dir);
    ASSERT_TRUE(video.is_object());
    EXPECT_EQ(norv_test::Rational(video["avg_frame_rate"]), 25.0);
}

// "num:den" as ffprobe writes an aspect, as a number; 0 when unreadable.
double Aspect(const std::string& text) {
    const size_t colon = text.find(':');
    const double den = colon == std::string::npos ? 0 : std::atof(text.c_str() + colon + 1);
    return den > 0 ? std::atof(text.c_str()) / den : 0.0;
}

TEST(PictureFidelity, ADisplayAspectSwitchKeepsEachPartsAspect) {
    struct Row {
        const char* what;
        double seconds; // into the output
        double aspect;  // of the picture inside any bars
    };
    // White 352x288: a second at 4:3, then a second at 16:9.
    const Row rows[] = {{"4:3 part", 0.4, 4.0 / 3}, {"16:9 part", 1.6, 16.0 / 9}};
    norv_test::TempDir dir;
    auto settings = norv_test::SettingsFor(NP_NorvPlusHD);
    settings->SetAudioTracks({0});
    const json video = Transcode("aspect_switch.ts", *settings, dir);
    ASSERT_TRUE(video.is_object());
    const double pixel = Aspect(video.value("sample_aspect_ratio", "1:1"));
    ASSERT_GT(pixel, 0.0);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const std::pair<int, int> area = norv_test::PictureArea(dir.file("out.file"), row.seconds);
        ASSERT_GT(area.second, 0);
        EXPECT_NEAR(area.first * pixel / area.second, row.aspect, row.aspect * 0.03);
    }
}

} // namespace
} // namespace nvt
