// The transcode request as the scripted engine received it from a real
// session, parsed back from the XML that came through the pipe.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "output/output_settings.h"
#include "platform/text.h"
#include "support/engine_session.h"
#include "support/session_run.h"
#include "support/source_builder.h"
#include "support/temp_dir.h"

namespace nvt {
namespace {

using norv_test::SourceBuilder;
using Strings = std::vector<std::string>;
using Source = nvtl::RefCountedPtr_STLSafe<ISourceMedia>;

// A film with three audio tracks, one high-level track and two embedded
// subtitle tracks.
Source Film() {
    return SourceBuilder("/media/film.mkv")
        .Video(VC_H264, 1280, 720, 25.0, 16.0 / 9.0)
        .Audio(11, AC_AC3, "eng")
        .Audio(12, AC_AAC, "ger")
        .Audio(13, AC_MP3, "fre")
        .HighLevelAudio(AC_DTS)
        .Subtitle("eng", "Main", ST_SRT_INTERNAL)
        .Subtitle("ger", "Commentary", ST_SSA_ASS_INTERNAL)
        .File(1, "/media/film.mkv")
        .Get();
}

// A further part of the film, joinable to it, with audio facts of its own.
Source Part(const char* path, int32_t audioId, VideoCodec codec) {
    return SourceBuilder(path)
        .Video(codec, 1280, 720, 25.0, 16.0 / 9.0)
        .Audio(audioId, AC_AAC, "spa")
        .Audio(audioId + 1, AC_AAC, "ita")
        .Audio(audioId + 2, AC_AAC, "por")
        .HighLevelAudio(AC_LPCM)
        .File(1, path)
        .Get();
}

Source SrtFile(const char* path, const char* language) {
    return SourceBuilder(path).SubtitleContainer().Subtitle(language, "", ST_SRT_EXTERNAL).Get();
}

Source SmiFile(const char* path) {
    return SourceBuilder(path)
        .SubtitleContainer()
        .Subtitle("kor", "", SC_SMI_EXTERNAL)
        .Subtitle("eng", "", SC_SMI_EXTERNAL)
        .Get();
}

Source AudioFile(const char* path) {
    return SourceBuilder(path).AudioContainer().Audio(1, AC_VORBIS, "spa").Get();
}

class SentRequest : public ::testing::Test {
protected:
    norv_test::TempDir dir;
    SLoggerParam logger;
    int sends = 0;

    static nvtl::RefCountedPtr<TranscodeOutputSettings> Settings(NorvProfile profile) {
        return nvtl::RefCountedPtr<TranscodeOutputSettings>(new TranscodeOutputSettings(profile));
    }

    /// Runs a session over the sources with settings to its end and returns
    /// the one transcode request the engine received.
    TBS::TranscodeRequest Send(TranscodeOutputSettings& settings,
                               const std::vector<Source>& sources,
                               const std::vector<Source>& extras = {},
                               const WideString& output = W("/out/film.mp4")) {
        const std::string record = dir.file("requests" + std::to_string(++sends));
        auto session = norv_test::NewSession(
            norv_test::ScriptedEngine({"--progress=0", "--record=" + record}));
        for (const Source& s : sources) {
            EXPECT_EQ(session->AddSource(s.get()), SUCCESS);
        }
        for (const Source& s : extras) {
            EXPECT_EQ(session->AddExtraSource(s.get()), SUCCESS);
        }
        EXPECT_EQ(session->SetOutputSettings(&settings), SUCCESS);
        EXPECT_EQ(session->SetLoggerParam(logger), SUCCESS);
        EXPECT_EQ(session->Start(output, nullptr), SUCCESS);
        EXPECT_TRUE(norv_test::WaitForState(*session, TS_Done));
        const auto requests =
            norv_test::ReceivedRecords<TBS::TranscodeRequest>(record, "TranscodeRequest");
        EXPECT_EQ(requests.size(), 1u);
        return requests.empty() ? TBS::TranscodeRequest() : requests[0];
    }
};

TEST_F(SentRequest, TemplateFieldsAndBitratesInUnitsOf1024) {
    auto settings = Settings(NP_HD1080);
    settings->SetVideoBitrate(1000000);
    settings->SetAudioBitrates({1023, 1 << 20, 192000});
    settings->SetTrackCodecs({AC_AAC, AC_AC3});
    settings->SetAngle(90);
    settings->SetFlip(flipHorizontal);
    settings->SetTitle("Sommerfilm");
    settings->SetTempDir(W("/tmp/norv work"));
    settings->SetUseTempDir(true);
    settings->SetResolution(1920, 1080);
    logger.enableLogs = true;
    logger.logLevel = 3;
    logger.logPath = "/var/log/norv.log";

    const TBS::TranscodeRequest r =
        Send(*settings, {Film()}, {}, W("/out/caf\xC3\xA9 \xE2\x82\xAC.mp4"));
    EXPECT_EQ(r.CustomPresetData.videoBitrate, 976u); // 1 000 000 / 1024, truncated
    EXPECT_EQ(r.CustomPresetData.audioBitrates, (std::vector<uint32_t>{0, 1024, 187}));
    EXPECT_EQ(r.CustomPresetData.profileID, NP_HD1080);
    EXPECT_EQ(r.CustomPresetData.resWidth, 1920u);
    EXPECT_EQ(r.outputFile, "/out/caf\xC3\xA9 \xE2\x82\xAC.mp4");
    EXPECT_TRUE(r.loggerParam.enableLogs);
    EXPECT_EQ(r.loggerParam.logLevel, 3);
    EXPECT_EQ(r.loggerParam.logPath, "/var/log/norv.log");
    EXPECT_EQ(r.angle, 90);
    EXPECT_EQ(r.flip, flipHorizontal);
    EXPECT_EQ(r.title, "Sommerfilm");
    EXPECT_EQ(r.tempDir, "/tmp/norv work");
    EXPECT_TRUE(r.useTempDir);
    EXPECT_TRUE(r.needTranscode);
    EXPECT_EQ(r.dstAudioCodecs, (std::vector<AudioCodec>{AC_AAC, AC_AC3}));
    EXPECT_EQ(r.inputFiles, Strings{"/media/film.mkv"});
    EXPECT_TRUE(r.extraFiles.empty());
}

TEST_F(SentRequest, MobileProfileSendsOnlyTheFirstSelectedAudioTrack) {
    auto mobile = Settings(NP_Mobile);
    mobile->SetAudioTracks({2, 0});
    TBS::TranscodeRequest r = Send(*mobile, {Film()});
    EXPECT_EQ(r.audioTracks, (std::vector<unsigned>{2}));
    EXPECT_EQ(r.audioTracksHighLevel, (std::vector<unsigned>{2}));

    auto hd = Settings(NP_HD720);
    hd->SetAudioTracks({2, 0});
    r = Send(*hd, {Film()});
    EXPECT_EQ(r.audioTracks, (std::vector<unsigned>{2, 0}));
    EXPECT_EQ(r.audioTracksHighLevel, (std::vector<unsigned>{2, 0}));
}

TEST_F(SentRequest, BurnInSendsOnlyTheFirstSelectedSubtitle) {
    auto settings = Settings(NP_HD720);
    settings->SetSubtitleTracks({1, 0});
    settings->SetSubtitleBurnFirstTrack(true);
    const TBS::TranscodeRequest r = Send(*settings, {Film()});
    EXPECT_TRUE(r.subtitleBurnFirstTrack);
    EXPECT_EQ(r.subtitleTracks, (std::vector<unsigned>{1}));
    EXPECT_EQ(r.subtitleTrackNames, Strings{""});
    EXPECT_EQ(r.subtitleIDs, std::vector<int>{1});
    EXPECT_EQ(r.subtitleLangCodes, Strings{"ger"});
    EXPECT_EQ(r.subtitleCodePages, std::vector<int>{0});
}

TEST_F(SentRequest, SubtitleNumberingOverEmbeddedTracksAndFiles) {
    auto settings = Settings(NP_HD720);
    // With two embedded tracks: 2 is the first separate file, 1 the second
    // embedded track, 101 that track by name, 2001 track 1 of the first SMI
    // file (one joined source: the thousands start at 2).
    settings->SetSubtitleTracks({2, 1, 101, 2001});
    settings->SetSubtitleCodePages({1252, 65001, 949, 51949});
    const TBS::TranscodeRequest r = Send(
        *settings, {Film()}, {SmiFile("/media/film.smi"), SrtFile("/media/film.fre.srt", "fre")});
    EXPECT_EQ(r.subtitleTracks, (std::vector<unsigned>{2, 1, 101, 2001}));
    EXPECT_EQ(r.subtitleTrackNames,
              (Strings{"/media/film.fre.srt", "", "Commentary", "/media/film.smi"}));
    EXPECT_EQ(r.subtitleIDs, (std::vector<int>{0, 1, 1, 1}));
    EXPECT_EQ(r.subtitleLangCodes, (Strings{"fre", "ger", "ger", "eng"}));
    // Embedded tracks taken by number carry no code page.
    EXPECT_EQ(r.subtitleCodePages, (std::vector<int>{1252, 0, 949, 51949}));
    EXPECT_TRUE(r.extraFiles.empty()); // subtitle files are not extra audio
}

TEST_F(SentRequest, ThreeJoinedSourcesAudioFactsOfTheFirstOnly) {
    const TBS::TranscodeRequest r =
        Send(*Settings(NP_HD720), {Film(), Part("/media/film.part2.mkv", 21, VC_MPEG2),
                                   Part("/media/film.part3.mkv", 31, VC_H264)});
    EXPECT_EQ(r.inputFiles,
              (Strings{"/media/film.mkv", "/media/film.part2.mkv", "/media/film.part3.mkv"}));
    ASSERT_EQ(r.srcFileListList.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        ASSERT_EQ(r.srcFileListList[i].fileList.size(), 1u);
        EXPECT_EQ(r.srcFileListList[i].fileList[0].source, r.inputFiles[i]);
        EXPECT_EQ(r.srcFileListList[i].fileList[0].format, 1u);
    }
    EXPECT_EQ(r.srcVideoCodecs, (std::vector<VideoCodec>{VC_H264, VC_MPEG2, VC_H264}));
    EXPECT_EQ(r.audioIDs, (std::vector<int>{11, 12, 13}));
    EXPECT_EQ(r.audioLangCodes, (Strings{"eng", "ger", "fre"}));
    EXPECT_EQ(r.srcAudioCodecs, (std::vector<AudioCodec>{AC_AC3, AC_AAC, AC_MP3}));
    EXPECT_EQ(r.srcAudioCodecsHighLevel, std::vector<AudioCodec>{AC_DTS});
}

TEST_F(SentRequest, ExtraAudioFilesAreListedSubtitleFilesAreNot) {
    const TBS::TranscodeRequest r =
        Send(*Settings(NP_HD720), {Film()},
             {SrtFile("/media/film.eng.srt", "eng"), AudioFile("/media/dub.ogg")});
    EXPECT_EQ(r.extraFiles, Strings{"/media/dub.ogg"});
    EXPECT_EQ(r.inputFiles, Strings{"/media/film.mkv"});
    // The extra sources' audio codecs follow the first source's.
    EXPECT_EQ(r.srcAudioCodecs, (std::vector<AudioCodec>{AC_AC3, AC_AAC, AC_MP3, AC_VORBIS}));
    EXPECT_EQ(r.audioIDs, (std::vector<int>{11, 12, 13}));
}

} // namespace
} // namespace nvt
