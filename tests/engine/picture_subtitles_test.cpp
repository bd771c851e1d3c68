// Picture subtitles (DVB, VobSub, Blu-ray PGS) with the real engine: burnt
// into the picture at their times, copied into Matroska, refused where the
// container cannot carry them; and subtitle packets written in time with
// the picture.
#include <gtest/gtest.h>

#include <algorithm>

#include "corpus.h"
#include "support/temp_dir.h"
#include "transcode_support.h"

namespace nvt {
namespace {

using nlohmann::json;
using SourceRef = nvtl::RefCountedPtr<ISourceMedia>;

// The band of the picture the corpus's subtitle box shows in (its lower
// third), and its brightest value at a time.
double BoxBand(const std::string& path, double seconds) {
    return norv_test::PictureStat(path, seconds, "iw:ih/3:0:ih*2/3", "YMAX");
}

// A transcode of a corpus source with its first subtitle track, or with a
// subtitle file beside it, to output.
struct Job {
    const char* what;
    const char* source;
    const char* file; // a subtitle file beside the source; empty: its own track
    NorvProfile profile;
    bool burn;
    uint32_t cropTop = 0; // rows of the source cut away

    Result Run(const std::string& output) const {
        std::vector<SourceRef> extras;
        if (*file != '\0') {
            extras.push_back(norv_test::Analysed(file));
        }
        auto settings = norv_test::SettingsFor(profile);
        settings->SetSubtitleTracks({0});
        settings->SetSubtitleBurnFirstTrack(burn);
        CropRect crop;
        crop.top = cropTop;
        norv_test::ApplyCrop(*settings, crop);
        norv_test::Run run = norv_test::Prepare({norv_test::Analysed(source)}, *settings, extras);
        norv_test::Start(run, output);
        return norv_test::Finish(run);
    }
};

TEST(RealEnginePictureSubtitles, BurntCopiedOrRefused) {
    struct Row {
        Job job;
        Result result;
        const char* codec; // of the output's subtitle stream; empty: none
    };
    // Each source is black with a white box in its lower third from 0.5 s
    // to 1.5 s, on a subtitle canvas twice the picture's size.
    const Row rows[] = {
        {{"DVB burnt into MP4", "box_dvbsub.ts", "", NP_iPadMP4H264, true}, SUCCESS, ""},
        {{"VobSub burnt into Matroska", "box_dvdsub.mkv", "", NP_NorvPlusHD, true}, SUCCESS, ""},
        // The box moves up with the picture: from 62.5 % to 87.5 % of it.
        {{"VobSub burnt into a cropped picture", "box_dvdsub.mkv", "", NP_NorvPlusHD, true, 80},
         SUCCESS,
         ""},
        {{"PGS file burnt into MP4", "quadrant.mp4", "box.sup", NP_iPhoneMP4H264, true},
         SUCCESS,
         ""},
        {{"DVB copied into Matroska", "box_dvbsub.ts", "", NP_NorvPlusHD, false},
         SUCCESS,
         "dvb_subtitle"},
        {{"VobSub copied into Matroska", "box_dvdsub.mkv", "", NP_HEVC720, false},
         SUCCESS,
         "dvd_subtitle"},
        {{"DVB refused by MP4", "box_dvbsub.ts", "", NP_iPadMP4H264, false},
         ENG_NOT_COMPATIBLE,
         ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.job.what);
        norv_test::TempDir dir;
        const std::string output = dir.file("out");
        ASSERT_EQ(row.job.Run(output), row.result);
        if (row.result != SUCCESS) {
            EXPECT_TRUE(norv_test::FolderEntries(dir.path()).empty());
            continue;
        }
        const auto subtitles = norv_test::Streams(norv_test::Probe(output), "subtitle");
        ASSERT_EQ(subtitles.size(), *row.codec != '\0' ? 1u : 0u);
        if (!subtitles.empty()) {
            EXPECT_EQ(subtitles[0].value("codec_name", ""), row.codec);
        }
        EXPECT_LT(BoxBand(output, 0.2), 60.0);
        EXPECT_LT(BoxBand(output, 1.8), 60.0);
        if (row.job.burn) {
            EXPECT_GT(BoxBand(output, 1.0), 150.0);
            // Where the box's rows are: 75 % to 92 % of an uncropped picture.
            const char* rows = row.job.cropTop > 0 ? "iw:ih/10:0:ih*13/20" : "iw:ih/10:0:ih*8/10";
            EXPECT_GT(norv_test::PictureStat(output, 1.0, rows, "YMAX"), 150.0);
            // The box covers the middle half of the width only.
            EXPECT_LT(norv_test::PictureStat(output, 1.0, "iw/5:ih/3:0:ih*2/3", "YMAX"), 60.0);
        } else {
            EXPECT_LT(BoxBand(output, 1.0), 60.0);
        }
    }
}

TEST(RealEnginePictureSubtitles, SubtitlePacketsAreWrittenInTimeWithThePicture) {
    const Job jobs[] = {
        {"SubRip file into Matroska", "long.mp4", "long.srt", NP_NorvPlusHD, false},
        {"SubRip file into MP4", "long.mp4", "long.srt", NP_iPadMP4H264, false},
        {"DVB track into Matroska", "box_dvbsub.ts", "", NP_NorvPlusHD, false},
    };
    // How far a packet may lag behind one written before it.
    constexpr double kWindowSeconds = 0.5;
    for (const Job& job : jobs) {
        SCOPED_TRACE(job.what);
        norv_test::TempDir dir;
        const std::string output = dir.file("out");
        ASSERT_EQ(job.Run(output), SUCCESS);
        double latest = -1e9;
        int subtitles = 0;
        std::string lagging; // the first packet written too late
        for (const json& packet : norv_test::Packets(output)) {
            const double dts = norv_test::Number(packet, "dts_time");
            const std::string kind = packet.value("codec_type", "");
            if (lagging.empty() && dts < latest - kWindowSeconds) {
                lagging = kind + " at " + std::to_string(dts) + " after " + std::to_string(latest);
            }
            latest = std::max(latest, dts);
            subtitles += kind == "subtitle" ? 1 : 0;
        }
        EXPECT_GE(subtitles, 1);
        EXPECT_EQ(lagging, "");
    }
}

} // namespace
} // namespace nvt
