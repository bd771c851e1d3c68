// Transcodes with the real engine through the library's session, each
// output read back with ffprobe and ffmpeg: the profile families, joined
// sources, audio and subtitle tracks, the picture's crop, flips and turns,
// the title, the temporary folder and the trick-play stream.
#include <gtest/gtest.h>

#include <cmath>

#include "corpus.h"
#include "platform/text.h"
#include "support/temp_dir.h"
#include "transcode_support.h"

namespace nvt {
namespace {

using nlohmann::json;
using norv_test::CallbackEvent;
using SourceRef = nvtl::RefCountedPtr<ISourceMedia>;

double Duration(const json& probe) {
    return norv_test::Number(probe["format"], "duration");
}

std::string CodecsOf(const json& probe, const char* kind) {
    std::string out;
    for (const json& s : norv_test::Streams(probe, kind)) {
        out += (out.empty() ? "" : ",") + s.value("codec_name", std::string());
    }
    return out;
}

TEST(RealEngineTranscode, EachFamilyWritesItsContainerAndCodecsAtThePreviewedPicture) {
    struct Row {
        NorvProfile profile;
        const char* format; // as ffprobe names it
        const char* video;
        const char* audio;
        bool twoPass;
        bool videoPassthrough = false;
    };
    const Row rows[] = {
        {NP_Mobile, "avi", "mpeg4", "mp3", false},
        {NP_HD720, "avi", "mpeg4", "mp3", true},
        {NP_NorvPlusHD, "matroska,webm", "h264", "aac", false},
        {NP_iPhoneMP4H264, "mov,mp4,m4a,3gp,3g2,mj2", "h264", "aac", true},
        {NP_HEVC720, "matroska,webm", "hevc", "aac", false},
        // The source's H.264 fits the profile: copied as it is.
        {NP_NorvPlusHD, "matroska,webm", "h264", "aac", false, true},
    };
    // 240x180 with 4:3 pixels at 29.97 frames per second, AAC, 2 s.
    const SourceRef source = norv_test::Analysed("h264_aac.mp4");
    ASSERT_TRUE(source);
    for (const Row& row : rows) {
        SCOPED_TRACE(EnumName<NorvProfile>(row.profile));
        norv_test::TempDir dir;
        auto settings = norv_test::SettingsFor(row.profile);
        settings->SetAudioTracks({0});
        settings->SetVideo2Pass(row.twoPass);
        settings->SetVideoPassthrough(row.videoPassthrough);
        norv_test::Run run = norv_test::Prepare({source}, *settings);
        const norv_test::Preview preview = norv_test::PreviewOf(*run.session);
        const std::string output = dir.file("out.file");
        norv_test::Start(run, output);
        ASSERT_EQ(norv_test::Finish(run), SUCCESS);

        const json probe = norv_test::Probe(output);
        EXPECT_EQ(probe["format"].value("format_name", ""), row.format);
        EXPECT_EQ(CodecsOf(probe, "video"), row.video);
        EXPECT_EQ(CodecsOf(probe, "audio"), row.audio);
        const auto video = norv_test::Streams(probe, "video");
        ASSERT_EQ(video.size(), 1u);
        if (row.videoPassthrough) {
            const std::string hash = norv_test::VideoHash(output);
            EXPECT_FALSE(hash.empty());
            EXPECT_EQ(hash, norv_test::VideoHash(norv_test::CorpusFile("h264_aac.mp4")));
        } else {
            EXPECT_EQ(video[0].value("width", 0), static_cast<int>(preview.width));
            EXPECT_EQ(video[0].value("height", 0), static_cast<int>(preview.height));
        }
        EXPECT_NEAR(Duration(probe), 2.0, 1.0 / 29.97 + 0.03);
        // Progress came for the source, never went back, and the run ended
        // with the completion of the source.
        const auto events = run.callback->Events();
        double last = -1;
        size_t progress = 0;
        for (const CallbackEvent& e : events) {
            if (e.kind == CallbackEvent::Progress) {
                EXPECT_EQ(e.source, source.get());
                EXPECT_GE(e.progress, last);
                EXPECT_EQ(e.countOfStages, row.twoPass ? 2u : 1u);
                last = e.progress;
                ++progress;
            }
        }
        EXPECT_GT(progress, 1u);
        EXPECT_EQ(last, 100.0);
        ASSERT_FALSE(events.empty());
        EXPECT_EQ(events.back().kind, CallbackEvent::Complete);
        EXPECT_EQ(norv_test::FolderEntries(dir.path()).size(), 1u); // nothing else left
    }
}

TEST(RealEngineTranscode, JoinedClipsLastTheirSumAndCompleteInOrder) {
    std::vector<SourceRef> parts;
    for (const char* name : {"part1.mp4", "part2.mp4", "part3.mp4"}) {
        parts.push_back(norv_test::Analysed(name));
        ASSERT_TRUE(parts.back());
    }
    norv_test::TempDir dir;
    auto settings = norv_test::SettingsFor(NP_NorvPlusHD);
    settings->SetAudioTracks({0});
    norv_test::Run run = norv_test::Prepare(parts, *settings);
    norv_test::Start(run, dir.file("joined.mkv"));
    ASSERT_EQ(norv_test::Finish(run), SUCCESS);

    // Three clips of one second at 25 frames per second.
    const json probe = norv_test::Probe(dir.file("joined.mkv"));
    EXPECT_NEAR(Duration(probe), 3.0, 3 * 0.04 + 0.03);
    // Per source: its progress, then (for all but the last) the closing 100 %
    // and its completion; the last completes with the engine's answer.
    size_t current = 0;
    bool closed = false;
    for (const CallbackEvent& e : run.callback->Events()) {
        ASSERT_LT(current, parts.size());
        EXPECT_EQ(e.source, parts[current].get());
        if (e.kind == CallbackEvent::Progress && e.stageKind == 7) {
            EXPECT_EQ(e.progress, 100.0);
            closed = true;
        } else if (e.kind == CallbackEvent::Complete) {
            EXPECT_TRUE(closed || current == parts.size() - 1);
            ++current;
            closed = false;
        }
    }
    EXPECT_EQ(current, parts.size());
}

TEST(RealEngineTranscode, AudioTracksInTheirOrderCopiedOrEncoded) {
    struct Row {
        const char* what;
        bool passthrough;
        bool extraFile;
        const char* codecs;
        const char* languages;
    };
    const Row rows[] = {
        {"encoded", false, false, "aac,aac", "ger,eng"},
        {"AC3 passed through", true, false, "ac3,ac3", "ger,eng"},
        {"with an audio file", false, true, "aac,aac,aac", "ger,eng,"},
    };
    // Two AC3 tracks, English then German.
    const SourceRef film = norv_test::Analysed("h264_ac3.mkv");
    const SourceRef song = norv_test::Analysed("audio.mp3");
    ASSERT_TRUE(film && song);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        norv_test::TempDir dir;
        auto settings = norv_test::SettingsFor(NP_NorvPlusHD);
        settings->SetAudioTracks({1, 0});
        settings->SetAudioPassthrough(row.passthrough);
        std::vector<SourceRef> extras;
        if (row.extraFile) {
            extras.push_back(song);
        }
        norv_test::Run run = norv_test::Prepare({film}, *settings, extras);
        norv_test::Start(run, dir.file("out.mkv"));
        ASSERT_EQ(norv_test::Finish(run), SUCCESS);
        const json probe = norv_test::Probe(dir.file("out.mkv"));
        EXPECT_EQ(CodecsOf(probe, "audio"), row.codecs);
        std::string languages;
        for (const json& s : norv_test::Streams(probe, "audio")) {
            const std::string language =
                s.contains("tags") ? s["tags"].value("language", std::string()) : "";
            languages += (languages.empty() ? "" : ",") + (language == "und" ? "" : language);
        }
        EXPECT_EQ(languages, row.languages);
    }
}

TEST(RealEngineTranscode, SubtitlesGoInSoftOrBurnt) {
    struct Row {
        const char* what;
        NorvProfile profile;
        bool burn;
        const char* codec; // of the subtitle stream; empty: none
    };
    const Row rows[] = {
        {"Matroska", NP_NorvPlusHD, false, "subrip"},
        {"MP4", NP_iPadMP4H264, false, "mov_text"},
        {"burnt in", NP_NorvPlusHD, true, ""},
    };
    // A black lower half: burnt-in text shows there.
    const SourceRef clip = norv_test::Analysed("quadrant.mp4");
    const SourceRef srt = norv_test::Analysed("subs1252.srt");
    ASSERT_TRUE(clip && srt);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        norv_test::TempDir dir;
        auto settings = norv_test::SettingsFor(row.profile);
        // The clip has no subtitle track of its own: 0 names the first file.
        settings->SetSubtitleTracks({0});
        settings->SetSubtitleCodePages({1252});
        settings->SetSubtitleBurnFirstTrack(row.burn);
        norv_test::Run run = norv_test::Prepare({clip}, *settings, {srt});
        const std::string output = dir.file("out");
        norv_test::Start(run, output);
        ASSERT_EQ(norv_test::Finish(run), SUCCESS);
        EXPECT_EQ(CodecsOf(norv_test::Probe(output), "subtitle"), row.codec);
        const double lowerBandMax = norv_test::PictureStat(output, 0.5, "iw:ih/3:0:ih*2/3", "YMAX");
        if (row.burn) {
            EXPECT_GT(lowerBandMax, 150.0); // the text
        } else {
            EXPECT_LT(lowerBandMax, 60.0);
            // Read back as UTF-8.
            const std::string text = norv_test::SubtitleText(output);
            EXPECT_NE(text.find("Gr\xc3\xbc\xc3\x9f"
                                "e"),
                      std::string::npos)
                << text;
        }
    }
}

TEST(RealEngineTranscode, CropFlipsAndTurnsMoveThePicture) {
    // Which quarter of the output is white, the source's white quarter
    // being the top-left one.
    enum Quarter { TopLeft, TopRight, BottomLeft, BottomRight, All };
    struct Row {
        const char* what;
        CropRect crop;
        uint32_t flip;
        int32_t angle;
        Quarter white;
        bool turned; // width and height exchanged
    };
    const Row rows[] = {
        {"as it is", {}, 0, 0, TopLeft, false},
        {"flipped horizontally", {}, 1, 0, TopRight, false},
        {"flipped vertically", {}, 2, 0, BottomLeft, false},
        {"turned a quarter", {}, 0, 90, TopRight, true},
        {"turned half", {}, 0, 180, BottomRight, false},
        {"turned three quarters", {}, 0, 270, BottomLeft, true},
        {"flipped, then turned", {}, 1, 90, BottomRight, true},
        {"cropped to the white quarter", {0, 120, 0, 160}, 0, 0, All, false},
    };
    const char* const crops[] = {"iw/2:ih/2:0:0", "iw/2:ih/2:iw/2:0", "iw/2:ih/2:0:ih/2",
                                 "iw/2:ih/2:iw/2:ih/2"};
    const SourceRef clip = norv_test::Analysed("quadrant.mp4");
    ASSERT_TRUE(clip);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        norv_test::TempDir dir;
        auto settings = norv_test::SettingsFor(NP_NorvPlusHD);
        settings->SetFlip(row.flip);
        settings->SetAngle(row.angle);
        norv_test::ApplyCrop(*settings, row.crop);
        norv_test::Run run = norv_test::Prepare({clip}, *settings);
        const norv_test::Preview preview = norv_test::PreviewOf(*run.session);
        norv_test::Start(run, dir.file("out.mkv"));
        ASSERT_EQ(norv_test::Finish(run), SUCCESS);
        const auto video = norv_test::Streams(norv_test::Probe(dir.file("out.mkv")), "video");
        ASSERT_EQ(video.size(), 1u);
        EXPECT_EQ(video[0].value("width", 0),
                  static_cast<int>(row.turned ? preview.height : preview.width));
        for (int q = TopLeft; q <= BottomRight; ++q) {
            const double luma = norv_test::PictureStat(dir.file("out.mkv"), 1.0, crops[q], "YAVG");
            const bool white = row.white == All || row.white == q;
            EXPECT_EQ(luma > 128.0, white) << "quarter " << q << ": " << luma;
        }
    }
}

TEST(RealEngineTranscode, TitleTempFolderAndTrickPlay) {
    const SourceRef clip = norv_test::Analysed("quadrant.mp4");
    ASSERT_TRUE(clip);
    norv_test::TempDir dir;
    norv_test::TempDir temp;
    auto settings = norv_test::SettingsFor(NP_NorvPlusHD);
    settings->SetTitle("Holiday \xc3\xa9t\xc3\xa9");
    settings->SetTempDir(W(temp.path().c_str()));
    settings->SetUseTempDir(true);
    settings->SetTrickplayTrack(true);
    settings->SetPriority(prioTrickPlayTrack);
    norv_test::Run run = norv_test::Prepare({clip}, *settings);
    const norv_test::Preview preview = norv_test::PreviewOf(*run.session);
    ASSERT_GT(preview.trickWidth, 0u);
    const std::string output = dir.file("film.mkv");
    norv_test::Start(run, output);
    // While it runs, the output is made in the temporary folder only.
    ASSERT_TRUE(norv_test::WaitUntil([&] {
        return !norv_test::FolderEntries(temp.path()).empty() ||
               norv_test::StateOf(*run.session) != TS_Running;
    }));
    ASSERT_EQ(norv_test::Finish(run), SUCCESS);
    EXPECT_TRUE(norv_test::FolderEntries(temp.path()).empty());
    EXPECT_EQ(norv_test::FolderEntries(dir.path()), std::vector<std::string>{output});

    const json probe = norv_test::Probe(output);
    EXPECT_EQ(probe["format"]["tags"].value("title", ""), "Holiday \xc3\xa9t\xc3\xa9");
    const auto video = norv_test::Streams(probe, "video");
    ASSERT_EQ(video.size(), 2u);
    EXPECT_EQ(video[1].value("width", 0), static_cast<int>(preview.trickWidth));
    EXPECT_EQ(video[1].value("height", 0), static_cast<int>(preview.trickHeight));
    EXPECT_EQ(video[1].value("r_frame_rate", ""), "5/1");
}

} // namespace
} // namespace nvt
