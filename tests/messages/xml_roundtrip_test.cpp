// Every top-level record, filled with non-default values, written and read
// back; the copy must equal the original field by field.
#include <gtest/gtest.h>

#include <string>

#include "messages/records_sample.h"
#include "messages/xml.h"

namespace {

using nvtest::ExpectEqual;
using nvtest::Text;

template <class T> T RoundTrip(const T& in) {
    std::string text;
    EXPECT_TRUE(ToXml(in, text));
    EXPECT_FALSE(text.empty());
    T out;
    EXPECT_TRUE(FromXml(text, out)) << text;
    return out;
}

TEST(XmlRoundTrip, TechnicalInfoRequest) {
    TBS::TechnicalInfoRequest in;
    in.loggerParam = nvtest::SampleLogger();
    in.technicalDetailsFile = Text("/var/details.txt");
    const auto out = RoundTrip(in);
    ExpectEqual(in.loggerParam, out.loggerParam);
    EXPECT_EQ(in.technicalDetailsFile, out.technicalDetailsFile);
}

TEST(XmlRoundTrip, TechnicalInfoResponse) {
    TBS::TechnicalInfoResponse in;
    in.sVersion = Text("4.2.1");
    in.vecSupportedProfiles = {true, false, true,  true, false, false,
                               true, true,  false, true, true,  true};
    in.vecSupportedFormats = {"avi", Text("mkv")};
    in.vecSupportedAudio = {"mp3", "aac", ""};
    in.vecSupportedSubtitles = {"srt"};
    in.vecAcceleration = {nvt::OPENCL, nvt::CUDA};
    in.mapSupportedOutputCodecs[nvt::NP_Mobile] = {nvt::AC_MP3};
    in.mapSupportedOutputCodecs[nvt::NP_HEVC4K] = {nvt::AC_AAC, nvt::AC_AC3};
    in.mapSupportedOutputCodecs[nvt::NP_HD720] = {};
    in.mapLocalSystemCodePages[Text("Western")] = 1252;
    in.mapLocalSystemCodePages["UTF-8"] = 65001;
    const auto out = RoundTrip(in);
    EXPECT_EQ(in.sVersion, out.sVersion);
    EXPECT_EQ(in.vecSupportedProfiles, out.vecSupportedProfiles);
    EXPECT_EQ(in.vecSupportedFormats, out.vecSupportedFormats);
    EXPECT_EQ(in.vecSupportedAudio, out.vecSupportedAudio);
    EXPECT_EQ(in.vecSupportedSubtitles, out.vecSupportedSubtitles);
    EXPECT_EQ(in.vecAcceleration, out.vecAcceleration);
    EXPECT_EQ(in.mapSupportedOutputCodecs, out.mapSupportedOutputCodecs);
    EXPECT_EQ(in.mapLocalSystemCodePages, out.mapLocalSystemCodePages);
}

TEST(XmlRoundTrip, AnalyzeRequest) {
    TBS::AnalyzeRequest in;
    in.inputFile = Text("/media/in.mkv");
    in.screenshotFilename = Text("/tmp/thumb.bmp");
    in.widthThumbnailMax = 320;
    in.heightThumbnailMax = -240;
    in.loggerParam = nvtest::SampleLogger();
    const auto out = RoundTrip(in);
    EXPECT_EQ(in.inputFile, out.inputFile);
    EXPECT_EQ(in.screenshotFilename, out.screenshotFilename);
    EXPECT_EQ(in.widthThumbnailMax, out.widthThumbnailMax);
    EXPECT_EQ(in.heightThumbnailMax, out.heightThumbnailMax);
    ExpectEqual(in.loggerParam, out.loggerParam);
}

TEST(XmlRoundTrip, AnalyzeResponse) {
    const TBS::AnalyzeResponse in = nvtest::SampleAnalyzeResponse();
    const auto out = RoundTrip(in);
    EXPECT_EQ(in.err, out.err);
    EXPECT_EQ(in.duration, out.duration);
    EXPECT_EQ(in.inputFileSize, out.inputFileSize);
    EXPECT_EQ(in.inputFile, out.inputFile);
    EXPECT_EQ(in.containerFormatName, out.containerFormatName);
    ExpectEqual(in.videoTracks, out.videoTracks);
    ExpectEqual(in.audioTracks, out.audioTracks);
    ExpectEqual(in.audioTracksHighLevel, out.audioTracksHighLevel);
    ExpectEqual(in.audioTracksUnsupportedHighLevel, out.audioTracksUnsupportedHighLevel);
    ExpectEqual(in.subtitleTracks, out.subtitleTracks);
    ExpectEqual(in.srcFileListList, out.srcFileListList);
    EXPECT_EQ(in.thumbWidth, out.thumbWidth);
    EXPECT_EQ(in.thumbHeight, out.thumbHeight);
    for (int i = 0; i < TBS::kProfileCount; ++i) {
        EXPECT_EQ(in.profiles[i], out.profiles[i]) << "profile " << i;
    }
    EXPECT_EQ(in.angle, out.angle);
    EXPECT_EQ(in.isAudioContainer, out.isAudioContainer);
    EXPECT_EQ(in.isSubtitleContainer, out.isSubtitleContainer);
}

TEST(XmlRoundTrip, TranscodeRequest) {
    const TBS::TranscodeRequest in = nvtest::SampleTranscodeRequest();
    const auto out = RoundTrip(in);
    ExpectEqual(in.CustomPresetData, out.CustomPresetData);
    EXPECT_EQ(in.inputFiles, out.inputFiles);
    EXPECT_EQ(in.extraFiles, out.extraFiles);
    EXPECT_EQ(in.outputFile, out.outputFile);
    EXPECT_EQ(in.srcVideoCodecs, out.srcVideoCodecs);
    EXPECT_EQ(in.srcAudioCodecs, out.srcAudioCodecs);
    EXPECT_EQ(in.srcAudioCodecsHighLevel, out.srcAudioCodecsHighLevel);
    EXPECT_EQ(in.dstAudioCodecs, out.dstAudioCodecs);
    EXPECT_EQ(in.dstAudioCodecsHighLevel, out.dstAudioCodecsHighLevel);
    EXPECT_EQ(in.audioTracks, out.audioTracks);
    EXPECT_EQ(in.audioTracksHighLevel, out.audioTracksHighLevel);
    EXPECT_EQ(in.audioLangCodes, out.audioLangCodes);
    EXPECT_EQ(in.audioIDs, out.audioIDs);
    EXPECT_EQ(in.subtitleTracks, out.subtitleTracks);
    EXPECT_EQ(in.subtitleLangCodes, out.subtitleLangCodes);
    EXPECT_EQ(in.subtitleIDs, out.subtitleIDs);
    EXPECT_EQ(in.subtitleTrackNames, out.subtitleTrackNames);
    EXPECT_EQ(in.subtitleCodePages, out.subtitleCodePages);
    EXPECT_EQ(in.subtitleBurnFirstTrack, out.subtitleBurnFirstTrack);
    EXPECT_EQ(in.tempDir, out.tempDir);
    EXPECT_EQ(in.useTempDir, out.useTempDir);
    EXPECT_EQ(in.needTranscode, out.needTranscode);
    ExpectEqual(in.srcFileListList, out.srcFileListList);
    ExpectEqual(in.loggerParam, out.loggerParam);
    EXPECT_EQ(in.angle, out.angle);
    EXPECT_EQ(in.flip, out.flip);
    EXPECT_EQ(in.title, out.title);
}

TEST(XmlRoundTrip, TranscodeResponse) {
    TBS::TranscodeResponse in;
    in.resultID = nvt::ENG_WRITING_ERROR;
    in.resultDescription = Text("disk full\nsecond line");
    const auto out = RoundTrip(in);
    EXPECT_EQ(in.resultID, out.resultID);
    EXPECT_EQ(in.resultDescription, out.resultDescription);
}

TEST(XmlRoundTrip, ProgressResponse) {
    TBS::ProgressResponse in;
    in.countOfStages = 3;
    in.stage = 2;
    in.stageID = 7;
    in.progress = 0.1 + 0.2; // not exactly representable in few digits
    in.timeElapsed = 1000;
    in.timeRemaining = 2000;
    in.passStepNum = 2;
    in.passCount = 2;
    in.fileNum = 1;
    in.fileCount = 4;
    in.currentVideoFrame = 12345;
    in.currentAudioSample = 678910;
    in.videoRenderingRate = 240;
    in.sFilename = Text("/in/a.avi");
    in.details = Text("encoding");
    const auto out = RoundTrip(in);
    EXPECT_EQ(in.countOfStages, out.countOfStages);
    EXPECT_EQ(in.stage, out.stage);
    EXPECT_EQ(in.stageID, out.stageID);
    EXPECT_EQ(in.progress, out.progress);
    EXPECT_EQ(in.timeElapsed, out.timeElapsed);
    EXPECT_EQ(in.timeRemaining, out.timeRemaining);
    EXPECT_EQ(in.passStepNum, out.passStepNum);
    EXPECT_EQ(in.passCount, out.passCount);
    EXPECT_EQ(in.fileNum, out.fileNum);
    EXPECT_EQ(in.fileCount, out.fileCount);
    EXPECT_EQ(in.currentVideoFrame, out.currentVideoFrame);
    EXPECT_EQ(in.currentAudioSample, out.currentAudioSample);
    EXPECT_EQ(in.videoRenderingRate, out.videoRenderingRate);
    EXPECT_EQ(in.sFilename, out.sFilename);
    EXPECT_EQ(in.details, out.details);
}

TEST(XmlRoundTrip, CancelTranscodingRequest) {
    TBS::CancelTranscodingRequest in;
    in.err = 4294967295U;
    EXPECT_EQ(in.err, RoundTrip(in).err);
}

TEST(XmlRoundTrip, CustomPresetData) {
    const nvt::CustomPresetData in = nvtest::SamplePreset();
    ExpectEqual(in, RoundTrip(in));
}

TEST(XmlRoundTrip, CmdLineParams) {
    TBS::CmdLineParams in;
    in.profile = nvt::NP_HEVC1080;
    in.cmdLineFiles.enginePath = Text("/opt/engine");
    in.cmdLineFiles.inputFilePaths = {"a", Text("b")};
    in.cmdLineFiles.outputFilePath = Text("c");
    in.cmdLineRestrictions = {1280, 720, 128, 2000, 5000000000ULL, 932};
    // Set each flag alone in turn so a swapped pair cannot go unnoticed.
    bool TBS::CmdLineFlags::*const flags[] = {
        &TBS::CmdLineFlags::enableAudioPassthrough, &TBS::CmdLineFlags::enableTrickplayTrack,
        &TBS::CmdLineFlags::enableVideo2passEncoding, &TBS::CmdLineFlags::enableProfileDetector,
        &TBS::CmdLineFlags::enableBurnSubtitle};
    in.cmdLineLogs = nvtest::SampleLogger();
    for (auto flag : flags) {
        in.cmdLineFlags = TBS::CmdLineFlags();
        in.cmdLineFlags.*flag = true;
        const auto out = RoundTrip(in);
        for (auto other : flags) {
            EXPECT_EQ(in.cmdLineFlags.*other, out.cmdLineFlags.*other);
        }
        EXPECT_EQ(in.profile, out.profile);
        EXPECT_EQ(in.cmdLineFiles.enginePath, out.cmdLineFiles.enginePath);
        EXPECT_EQ(in.cmdLineFiles.inputFilePaths, out.cmdLineFiles.inputFilePaths);
        EXPECT_EQ(in.cmdLineFiles.outputFilePath, out.cmdLineFiles.outputFilePath);
        EXPECT_EQ(in.cmdLineRestrictions.resX, out.cmdLineRestrictions.resX);
        EXPECT_EQ(in.cmdLineRestrictions.resY, out.cmdLineRestrictions.resY);
        EXPECT_EQ(in.cmdLineRestrictions.audioKbps, out.cmdLineRestrictions.audioKbps);
        EXPECT_EQ(in.cmdLineRestrictions.videoKbps, out.cmdLineRestrictions.videoKbps);
        EXPECT_EQ(in.cmdLineRestrictions.lenBytes, out.cmdLineRestrictions.lenBytes);
        EXPECT_EQ(in.cmdLineRestrictions.smiCodePageNumber,
                  out.cmdLineRestrictions.smiCodePageNumber);
        ExpectEqual(in.cmdLineLogs, out.cmdLineLogs);
    }
}

// Reading into a record that already holds data: the record starts from
// its default, so nothing of the old content survives.
TEST(XmlRoundTrip, ReadingResetsTheRecordFirst) {
    std::string text;
    ASSERT_TRUE(ToXml(TBS::TranscodeRequest(), text));
    TBS::TranscodeRequest target = nvtest::SampleTranscodeRequest();
    ASSERT_TRUE(FromXml(text, target));
    EXPECT_TRUE(target.inputFiles.empty());
    EXPECT_TRUE(target.CustomPresetData.audioBitrates.empty());
    EXPECT_EQ(target.CustomPresetData.profileID, nvt::_NP_count_);
    EXPECT_EQ(target.flip, nvt::flipNone);
}

TEST(XmlRoundTrip, CustomPresetDataDefaultsPerProfile) {
    const nvt::CustomPresetData p(nvt::NP_HD720);
    EXPECT_EQ(p.profileID, nvt::NP_HD720);
    EXPECT_TRUE(p.enableAspectRatio);
    EXPECT_EQ(p.externalSubtitleIndex, -1);
    EXPECT_EQ(p.hevcQualityLevel, nvt::hevc_ql_fastest);
    EXPECT_TRUE(p.wppEnabled);
    EXPECT_EQ(p.hwAcceleration, nvt::NO_ACCELERATION);
    EXPECT_EQ(p.prio, nvt::prioUnknown);
    EXPECT_EQ(p.fileSizeLimit, 0u);
    EXPECT_EQ(p.creationTime, 0);
    EXPECT_EQ(p.rect.top + p.rect.bottom + p.rect.left + p.rect.right, 0u);
    EXPECT_TRUE(p.profileName.empty());
    EXPECT_TRUE(p.audioBitrates.empty());
    EXPECT_TRUE(p.trackCodecs.empty());
    EXPECT_EQ(nvt::CustomPresetData().profileID, nvt::_NP_count_);
}

} // namespace
