// The transcode request built from output settings and real source objects,
// checked field by field and after a trip through its XML form.
#include "session/request_builder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "media/source_media.h"
#include "messages/xml.h"
#include "output/output_settings.h"
#include "platform/text.h"
#include "support/source_builder.h"

namespace {

using norv_test::SourceBuilder;
using nvt::W;

// A source with two embedded subtitle tracks and two audio tracks.
nvtl::RefCountedPtr_STLSafe<nvt::ISourceMedia> FilmSource() {
    return SourceBuilder("/media/film.mkv")
        .Video(nvt::VC_H264)
        .Audio(11, nvt::AC_AC3, "eng")
        .Audio(12, nvt::AC_AAC, "ger")
        .HighLevelAudio(nvt::AC_DTS)
        .Subtitle("eng", "Main", nvt::ST_SRT_INTERNAL)
        .Subtitle("ger", "Commentary", nvt::ST_SSA_ASS_INTERNAL)
        .File(1, "/media/film.mkv")
        .Get();
}

nvtl::RefCountedPtr_STLSafe<nvt::ISourceMedia> SrtFile(const char* path, const char* language) {
    return SourceBuilder(path)
        .SubtitleContainer()
        .Subtitle(language, "", nvt::ST_SRT_EXTERNAL)
        .Get();
}

nvtl::RefCountedPtr_STLSafe<nvt::ISourceMedia> SmiFile(const char* path) {
    return SourceBuilder(path)
        .SubtitleContainer()
        .Subtitle("kor", "", nvt::SC_SMI_EXTERNAL)
        .Subtitle("eng", "", nvt::SC_SMI_EXTERNAL)
        .Get();
}

nvtl::RefCountedPtr<nvt::TranscodeOutputSettings> Settings(nvt::NorvProfile profile) {
    return nvtl::RefCountedPtr<nvt::TranscodeOutputSettings>(
        new nvt::TranscodeOutputSettings(profile));
}

TBS::TranscodeRequest Build(nvt::TranscodeOutputSettings& settings, const nvt::SourceList& sources,
                            const nvt::SourceList& extras = {}) {
    TBS::TranscodeRequest request;
    EXPECT_TRUE(nvt::BuildTranscodeRequest(settings, sources, extras, W("/out/film.mp4"),
                                           nvt::SLoggerParam(), request));
    return request;
}

// The request as the engine reads it back from its XML form.
TBS::TranscodeRequest OverTheWire(const TBS::TranscodeRequest& request) {
    std::string xml;
    EXPECT_TRUE(TBS::ToXml(request, xml));
    TBS::TranscodeRequest parsed;
    EXPECT_TRUE(TBS::FromXml(xml, parsed));
    return parsed;
}

struct SubtitleLists {
    std::vector<std::string> names;
    std::vector<int> ids;
    std::vector<std::string> languages;
    std::vector<int> codePages;
    bool operator==(const SubtitleLists& o) const {
        return names == o.names && ids == o.ids && languages == o.languages &&
               codePages == o.codePages;
    }
};

SubtitleLists SubtitlesOf(const TBS::TranscodeRequest& r) {
    return SubtitleLists{r.subtitleTrackNames, r.subtitleIDs, r.subtitleLangCodes,
                         r.subtitleCodePages};
}

std::ostream& operator<<(std::ostream& os, const SubtitleLists& l) {
    os << "names:";
    for (const auto& n : l.names) {
        os << " '" << n << "'";
    }
    os << " ids:";
    for (int i : l.ids) {
        os << " " << i;
    }
    os << " languages:";
    for (const auto& n : l.languages) {
        os << " '" << n << "'";
    }
    os << " code pages:";
    for (int c : l.codePages) {
        os << " " << c;
    }
    return os;
}

TEST(RequestBuilder, CopiesTheTemplateAndConvertsBitrates) {
    auto settings = Settings(nvt::NP_HD720);
    settings->SetTitle("Film \xc3\xbc");
    settings->SetTempDir(W("/tmp/w\xc3\xa9rk"));
    settings->SetUseTempDir(true);
    settings->SetNeedTranscode(false);
    settings->SetAngle(90);
    settings->SetFlip(3);
    settings->SetTrackCodecs({nvt::AC_AAC, nvt::AC_AC3});
    settings->SetFileSizeLimit(123456789);
    settings->SetPriority(nvt::prioFilesize);
    settings->SetVideoBitrate(1000000);
    settings->SetAudioBitrates({1023, 128000});
    settings->SetAudioTracks({1, 0});

    nvt::SLoggerParam logger;
    logger.enableLogs = true;
    logger.logLevel = 4;
    logger.logPath = "/var/log/norv";
    TBS::TranscodeRequest built;
    ASSERT_TRUE(nvt::BuildTranscodeRequest(*settings, {FilmSource()}, {}, W("/out/f\xc3\xa9lm.mp4"),
                                           logger, built));
    const TBS::TranscodeRequest r = OverTheWire(built);

    EXPECT_EQ(r.title, "Film \xc3\xbc");
    EXPECT_EQ(r.tempDir, "/tmp/w\xc3\xa9rk");
    EXPECT_TRUE(r.useTempDir);
    EXPECT_FALSE(r.needTranscode);
    EXPECT_EQ(r.angle, 90);
    EXPECT_EQ(r.flip, 3);
    EXPECT_EQ(r.dstAudioCodecs, (std::vector<nvt::AudioCodec>{nvt::AC_AAC, nvt::AC_AC3}));
    EXPECT_EQ(r.CustomPresetData.profileID, nvt::NP_HD720);
    EXPECT_EQ(r.CustomPresetData.fileSizeLimit, 123456789u);
    EXPECT_EQ(r.CustomPresetData.prio, nvt::prioFilesize);
    EXPECT_TRUE(r.CustomPresetData.audioPassthrough);
    // Bits per second to units of 1024: 1000000 >> 10 = 976, 1023 >> 10 = 0.
    EXPECT_EQ(r.CustomPresetData.videoBitrate, 976u);
    EXPECT_EQ(r.CustomPresetData.audioBitrates, (std::vector<uint32_t>{0, 125}));
    EXPECT_EQ(r.outputFile, "/out/f\xc3\xa9lm.mp4");
    EXPECT_TRUE(r.loggerParam.enableLogs);
    EXPECT_EQ(r.loggerParam.logLevel, 4);
    EXPECT_EQ(r.loggerParam.logPath, "/var/log/norv");
    EXPECT_EQ(r.inputFiles, std::vector<std::string>{"/media/film.mkv"});
    EXPECT_EQ(r.srcVideoCodecs, std::vector<nvt::VideoCodec>{nvt::VC_H264});
    ASSERT_EQ(r.srcFileListList.size(), 1u);
    ASSERT_EQ(r.srcFileListList[0].fileList.size(), 1u);
    EXPECT_EQ(r.srcFileListList[0].fileList[0].format, 1u);
    EXPECT_EQ(r.srcFileListList[0].fileList[0].source, "/media/film.mkv");
    EXPECT_EQ(r.audioIDs, (std::vector<int>{11, 12}));
    EXPECT_EQ(r.audioLangCodes, (std::vector<std::string>{"eng", "ger"}));
    EXPECT_EQ(r.srcAudioCodecs, (std::vector<nvt::AudioCodec>{nvt::AC_AC3, nvt::AC_AAC}));
    EXPECT_EQ(r.srcAudioCodecsHighLevel, std::vector<nvt::AudioCodec>{nvt::AC_DTS});
    EXPECT_TRUE(r.subtitleTracks.empty());
    EXPECT_TRUE(r.extraFiles.empty());

    // The settings keep their own bitrates in bits per second.
    EXPECT_EQ(settings->GetVideoBitrate(), 1000000u);
    EXPECT_EQ(settings->GetAudioBitrates(), (std::vector<uint32_t>{1023, 128000}));
}

TEST(RequestBuilder, MobileProfileSendsTheFirstAudioTrackOnly) {
    auto mobile = Settings(nvt::NP_Mobile);
    mobile->SetAudioTracks({2, 0});
    TBS::TranscodeRequest r = Build(*mobile, {FilmSource()});
    EXPECT_EQ(r.audioTracks, std::vector<unsigned>{2});
    EXPECT_EQ(r.audioTracksHighLevel, std::vector<unsigned>{2});

    mobile->ClearAudioTracks();
    r = Build(*mobile, {FilmSource()});
    EXPECT_TRUE(r.audioTracks.empty());
    EXPECT_TRUE(r.audioTracksHighLevel.empty());

    auto hd = Settings(nvt::NP_HD720);
    hd->SetAudioTracks({2, 0});
    r = OverTheWire(Build(*hd, {FilmSource()}));
    EXPECT_EQ(r.audioTracks, (std::vector<unsigned>{2, 0}));
    EXPECT_EQ(r.audioTracksHighLevel, (std::vector<unsigned>{2, 0}));
}

TEST(RequestBuilder, BurnInAndMobileSendTheFirstSubtitleOnly) {
    auto hd = Settings(nvt::NP_HD720);
    hd->SetSubtitleTracks({1, 0});
    TBS::TranscodeRequest r = Build(*hd, {FilmSource()});
    EXPECT_EQ(r.subtitleTracks, (std::vector<unsigned>{1, 0}));
    EXPECT_EQ(r.subtitleIDs, (std::vector<int>{1, 0}));

    hd->SetSubtitleBurnFirstTrack(true);
    r = Build(*hd, {FilmSource()});
    EXPECT_TRUE(r.subtitleBurnFirstTrack);
    EXPECT_EQ(r.subtitleTracks, std::vector<unsigned>{1});
    EXPECT_EQ(SubtitlesOf(r), (SubtitleLists{{""}, {1}, {"ger"}, {0}}));

    auto mobile = Settings(nvt::NP_Mobile);
    mobile->SetSubtitleTracks({1, 0});
    r = Build(*mobile, {FilmSource()});
    EXPECT_EQ(r.subtitleTracks, std::vector<unsigned>{1});
    EXPECT_EQ(r.subtitleIDs, std::vector<int>{1});
}

TEST(RequestBuilder, EmbeddedTracksAndSeparateFiles) {
    // Two embedded tracks: 0 and 1 are embedded, 2 is the first separate
    // file. Embedded tracks have no name and code page 0.
    auto settings = Settings(nvt::NP_HD720);
    settings->SetSubtitleTracks({2, 1});
    settings->SetSubtitleCodePages({1250, 1251});
    const nvt::SourceList extras = {SrtFile("/media/film.fr.srt", "fre")};
    const TBS::TranscodeRequest r = OverTheWire(Build(*settings, {FilmSource()}, extras));
    EXPECT_EQ(r.subtitleTracks, (std::vector<unsigned>{2, 1}));
    EXPECT_EQ(SubtitlesOf(r),
              (SubtitleLists{{"/media/film.fr.srt", ""}, {0, 1}, {"fre", "ger"}, {1250, 0}}));
    // A subtitle file is not an extra audio file.
    EXPECT_TRUE(r.extraFiles.empty());
}

TEST(RequestBuilder, NamedTracksAndSmiTracks) {
    // 101: embedded track 1 with its name. 2001 with one source: SMI file
    // 2 - 1 - 1 = 0, its track 1.
    const nvt::SourceList extras = {SrtFile("/media/film.fr.srt", "fre"),
                                    SmiFile("/media/film.smi")};
    auto settings = Settings(nvt::NP_HD1080);
    settings->SetSubtitleTracks({101, 2001, 2});
    settings->SetSubtitleCodePages({1252, 949, 1250});
    TBS::TranscodeRequest r = OverTheWire(Build(*settings, {FilmSource()}, extras));
    EXPECT_EQ(SubtitlesOf(r),
              (SubtitleLists{{"Commentary", "/media/film.smi", "/media/film.fr.srt"},
                             {1, 1, 0},
                             {"ger", "eng", "fre"},
                             {1252, 949, 1250}}));

    // With two joined sources the same SMI track is 3001.
    const nvt::SourceList two = {FilmSource(), FilmSource()};
    settings->SetSubtitleTracks({3001, 2001});
    settings->SetSubtitleCodePages({949, 949});
    r = Build(*settings, two, extras);
    EXPECT_EQ(SubtitlesOf(r), (SubtitleLists{{"/media/film.smi"}, {1}, {"eng"}, {949}}));
}

TEST(RequestBuilder, SubtitleFilesAreSortedByTheirFirstTrack) {
    // Only subtitle containers count; one without tracks is a separate file
    // (with no language), and list order is kept within each kind.
    const nvt::SourceList extras = {
        SourceBuilder("/media/music.mp3").AudioContainer().Audio(1, nvt::AC_MP3, "").Get(),
        SmiFile("/media/a.smi"),
        SourceBuilder("/media/empty.sub").SubtitleContainer().Get(),
        SrtFile("/media/b.srt", "spa"),
        SmiFile("/media/c.smi"),
        SourceBuilder("/media/plain.srt").Subtitle("ita", "", nvt::ST_SRT_EXTERNAL).Get(),
    };
    auto settings = Settings(nvt::NP_HD720);
    // FILES = [empty.sub, b.srt]; SMI = [a.smi, c.smi].
    settings->SetSubtitleTracks({2, 3, 2000, 3000});
    settings->SetSubtitleCodePages({1, 2, 3, 4});
    const TBS::TranscodeRequest r = Build(*settings, {FilmSource()}, extras);
    EXPECT_EQ(SubtitlesOf(r),
              (SubtitleLists{{"/media/empty.sub", "/media/b.srt", "/media/a.smi", "/media/c.smi"},
                             {0, 0, 0, 0},
                             {"", "spa", "kor", "kor"},
                             {1, 2, 3, 4}}));
    EXPECT_EQ(r.extraFiles, std::vector<std::string>{"/media/music.mp3"});
}

TEST(RequestBuilder, SelectionsNamingNothingAddNothing) {
    const nvt::SourceList extras = {SrtFile("/media/film.fr.srt", "fre"),
                                    SmiFile("/media/film.smi")};
    auto settings = Settings(nvt::NP_HD720);
    settings->SetSubtitleTracks({
        3,          // separate file 1: there is only one
        99,         // separate file 97
        150,        // embedded track 50
        199,        // embedded track 99
        1000,       // SMI file 1 - 1 - 1 = -1
        3001,       // SMI file 1: there is only one
        2009,       // SMI file 0, track 9
        4294967295, // SMI file far out of range
        0,          // embedded track 0: the only one that resolves
    });
    settings->SetSubtitleCodePages({1, 2, 3, 4, 5, 6, 7, 8, 9});
    const TBS::TranscodeRequest r = OverTheWire(Build(*settings, {FilmSource()}, extras));
    EXPECT_EQ(r.subtitleTracks.size(), 9u);
    EXPECT_EQ(SubtitlesOf(r), (SubtitleLists{{""}, {0}, {"eng"}, {0}}));
}

TEST(RequestBuilder, MissingCodePagesSendZero) {
    const nvt::SourceList extras = {SrtFile("/media/film.fr.srt", "fre")};
    auto settings = Settings(nvt::NP_HD720);
    settings->SetSubtitleTracks({2, 101});
    settings->SetSubtitleCodePages({1250});
    TBS::TranscodeRequest r = Build(*settings, {FilmSource()}, extras);
    EXPECT_EQ(r.subtitleCodePages, (std::vector<int>{1250, 0}));

    settings->ClearSubtitleCodePages();
    r = Build(*settings, {FilmSource()}, extras);
    EXPECT_EQ(r.subtitleCodePages, (std::vector<int>{0, 0}));
    EXPECT_EQ(r.subtitleIDs, (std::vector<int>{0, 1}));
}

TEST(RequestBuilder, JoinedSourcesAndExtraSources) {
    const nvt::SourceList sources = {
        FilmSource(),
        SourceBuilder("/media/part2.mkv")
            .Video(nvt::VC_MPEG2)
            .Audio(7, nvt::AC_MP3, "fre")
            .HighLevelAudio(nvt::AC_AAC)
            .File(4, "/media/part2.mkv")
            .File(9, "/media/part2.idx")
            .Get(),
        // No video track: no codec entry, but still an input file.
        SourceBuilder("/media/part3.mkv").Audio(8, nvt::AC_WMA, "spa").Get(),
    };
    const nvt::SourceList extras = {
        SourceBuilder("/media/dub.mp3")
            .AudioContainer()
            .Audio(1, nvt::AC_MP3, "ita")
            .HighLevelAudio(nvt::AC_VORBIS)
            .Get(),
        SrtFile("/media/film.fr.srt", "fre"),
        SourceBuilder("/media/dub2.ac3").AudioContainer().Audio(1, nvt::AC_AC3, "pol").Get(),
    };
    auto settings = Settings(nvt::NP_HD720);
    const TBS::TranscodeRequest r = OverTheWire(Build(*settings, sources, extras));

    EXPECT_EQ(r.inputFiles, (std::vector<std::string>{"/media/film.mkv", "/media/part2.mkv",
                                                      "/media/part3.mkv"}));
    ASSERT_EQ(r.srcFileListList.size(), 3u);
    EXPECT_EQ(r.srcFileListList[0].fileList.size(), 1u);
    ASSERT_EQ(r.srcFileListList[1].fileList.size(), 2u);
    EXPECT_EQ(r.srcFileListList[1].fileList[1].format, 9u);
    EXPECT_EQ(r.srcFileListList[1].fileList[1].source, "/media/part2.idx");
    EXPECT_TRUE(r.srcFileListList[2].fileList.empty());
    EXPECT_EQ(r.srcVideoCodecs, (std::vector<nvt::VideoCodec>{nvt::VC_H264, nvt::VC_MPEG2}));

    // Audio facts of the first source only, then the extra sources' codecs.
    EXPECT_EQ(r.audioIDs, (std::vector<int>{11, 12}));
    EXPECT_EQ(r.audioLangCodes, (std::vector<std::string>{"eng", "ger"}));
    EXPECT_EQ(r.srcAudioCodecs,
              (std::vector<nvt::AudioCodec>{nvt::AC_AC3, nvt::AC_AAC, nvt::AC_MP3, nvt::AC_AC3}));
    EXPECT_EQ(r.srcAudioCodecsHighLevel,
              (std::vector<nvt::AudioCodec>{nvt::AC_DTS, nvt::AC_VORBIS}));
    EXPECT_EQ(r.extraFiles, (std::vector<std::string>{"/media/dub.mp3", "/media/dub2.ac3"}));
}

TEST(RequestBuilder, NothingWithoutAFirstSource) {
    auto settings = Settings(nvt::NP_HD720);
    TBS::TranscodeRequest out;
    out.title = "untouched";
    EXPECT_FALSE(
        nvt::BuildTranscodeRequest(*settings, {}, {}, W("/out/x.mp4"), nvt::SLoggerParam(), out));
    EXPECT_EQ(out.title, "untouched");
    const nvt::SourceList nullFirst(1);
    EXPECT_FALSE(nvt::BuildTranscodeRequest(*settings, nullFirst, {}, W("/out/x.mp4"),
                                            nvt::SLoggerParam(), out));
    EXPECT_EQ(out.title, "untouched");
}

} // namespace
