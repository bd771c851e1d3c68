// CreateMediaSource end to end: the scripted engine describes an analysis,
// the engine object returns the sources built from it.
#include <gtest/gtest.h>

#include "api/transcoder_logic.h"
#include "messages/xml.h"
#include "platform/text.h"
#include "support/engine_session.h"
#include "support/recorded_requests.h"
#include "support/temp_dir.h"

namespace nvt {
namespace {

using norv_test::ScriptedEngine;
using MediaList = std::vector<nvtl::RefCountedPtr<ISourceMedia>>;

std::string Text(Result (ISourceMedia::*get)(WideString&), ISourceMedia& source) {
    WideString out;
    EXPECT_EQ((source.*get)(out), SUCCESS);
    return WideToUtf8(out);
}

uint64_t Number(Result (ISourceMedia::*get)(uint64_t*), ISourceMedia& source) {
    uint64_t out = 0;
    EXPECT_EQ((source.*get)(&out), SUCCESS);
    return out;
}

class MediaSource : public ::testing::Test {
protected:
    CNorvTranscoderLogic logic;
    norv_test::TempDir dir;
    MediaList sources;

    Result Analyse(std::initializer_list<std::string> options,
                   const char* path = "/videos/trip.m2ts") {
        EXPECT_EQ(logic.InitTranscodeEngine(W(ScriptedEngine(options).c_str()), SLoggerParam(),
                                            nullptr, WideString()),
                  SUCCESS);
        int32_t width = 0;
        int32_t height = 0;
        return logic.CreateMediaSource(W(path), &width, &height, WideString(), sources);
    }
};

TEST_F(MediaSource, DescribedAnalysisBecomesOneSource) {
    ASSERT_EQ(Analyse({"--width=1280", "--height=720", "--audio-tracks=2", "--subtitle-tracks=1",
                       "--high-level-audio-tracks=1", "--duration=90", "--file-size=5000",
                       "--container=matroska", "--angle=270"}),
              SUCCESS);
    ASSERT_EQ(sources.size(), 1u);
    ISourceMedia& s = *sources[0];
    EXPECT_EQ(s.GetRefCount(), 1); // the caller's vector holds the only reference
    EXPECT_EQ(Text(&ISourceMedia::GetFilePath, s), "/videos/trip.m2ts");
    EXPECT_EQ(Text(&ISourceMedia::GetTitle, s), "trip");
    EXPECT_EQ(Text(&ISourceMedia::GetContainerFormatName, s), "matroska");
    EXPECT_EQ(Number(&ISourceMedia::GetDuration, s), 90000u);
    EXPECT_EQ(Number(&ISourceMedia::GetFileSize, s), 5000u);
    bool flag = false;
    EXPECT_EQ(s.GetProfileFlag(NP_HEVC4K, &flag), SUCCESS);
    EXPECT_TRUE(flag);
    EXPECT_FALSE(s.IsAudioContainer());

    ISourceMediaVideoTrack* video = nullptr;
    ASSERT_EQ(s.GetVideoTrack(0, &video), SUCCESS);
    int32_t value = 0;
    video->GetWidth(&value);
    EXPECT_EQ(value, 1280);
    video->GetHeight(&value);
    EXPECT_EQ(value, 720);
    video->GetCodec(&value);
    EXPECT_EQ(value, VC_H264);
    EXPECT_EQ(video->GetAngle(), 270);
    double rate = 0;
    video->GetFrameRate(&rate);
    EXPECT_DOUBLE_EQ(rate, 25 / 1000.0); // the engine's rate is in thousandths
    video->Release();

    int32_t count = 0;
    s.GetAudioTrackCount(&count);
    EXPECT_EQ(count, 2);
    s.GetHighLevelAudioTrackCount(&count);
    EXPECT_EQ(count, 1);
    s.GetSubtitleTrackCount(&count);
    EXPECT_EQ(count, 1);
    ISourceMediaAudioTrack* audio = nullptr;
    ASSERT_EQ(s.GetAudioTrack(1, &audio), SUCCESS);
    WideString text;
    audio->GetName(text);
    EXPECT_EQ(WideToUtf8(text), "Audio 2");
    audio->GetLanguage(text);
    EXPECT_EQ(WideToUtf8(text), "ger");
    bool requires = true;
    bool possible = false;
    EXPECT_EQ(audio->GetTranscodeRequirement(NP_HD720, &requires, &possible), SUCCESS);
    EXPECT_FALSE(requires);
    EXPECT_TRUE(possible);
    audio->Release();
}

TEST_F(MediaSource, ThumbnailSizeAndScreenshotFileTravelBothWays) {
    const std::string record = dir.file("requests");
    ASSERT_EQ(logic.InitTranscodeEngine(W(ScriptedEngine({"--record=" + record}).c_str()),
                                        SLoggerParam(), nullptr, WideString()),
              SUCCESS);
    int32_t width = 160;
    int32_t height = 90;
    ASSERT_EQ(
        logic.CreateMediaSource(W("/videos/a.mp4"), &width, &height, W("/tmp/thumb.png"), sources),
        SUCCESS);
    EXPECT_EQ(width, 160); // the scripted engine reports the largest size allowed
    EXPECT_EQ(height, 90);
    const auto requests = norv_test::ReadRecordedRequests(record);
    ASSERT_FALSE(requests.empty());
    TBS::AnalyzeRequest request;
    ASSERT_EQ(requests[0].record, "AnalyzeRequest");
    ASSERT_TRUE(TBS::FromXml(requests[0].payload, request));
    EXPECT_EQ(request.inputFile, "/videos/a.mp4");
    EXPECT_EQ(request.screenshotFilename, "/tmp/thumb.png");
    EXPECT_EQ(request.widthThumbnailMax, 160);
    EXPECT_EQ(request.heightThumbnailMax, 90);
}

TEST_F(MediaSource, ThreeFileChainGivesThreeSourcesSharingTracks) {
    ASSERT_EQ(Analyse({"--analysis-files=3", "--duration=60", "--file-size=1000"}), SUCCESS);
    ASSERT_EQ(sources.size(), 3u);
    const char* paths[] = {"/videos/trip.m2ts", "/videos/trip.m2ts.part2",
                           "/videos/trip.m2ts.part3"};
    const char* titles[] = {"trip", "trip.m2ts", "trip.m2ts"};
    for (size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(Text(&ISourceMedia::GetFilePath, *sources[i]), paths[i]);
        EXPECT_EQ(Text(&ISourceMedia::GetTitle, *sources[i]), titles[i]);
        EXPECT_EQ(Number(&ISourceMedia::GetDuration, *sources[i]), (60 + i) * 1000);
        EXPECT_EQ(Number(&ISourceMedia::GetFileSize, *sources[i]), 1000 + i);
        ISourceMediaAudioTrack* first = nullptr;
        ISourceMediaAudioTrack* here = nullptr;
        ASSERT_EQ(sources[0]->GetAudioTrack(0, &first), SUCCESS);
        ASSERT_EQ(sources[i]->GetAudioTrack(0, &here), SUCCESS);
        EXPECT_EQ(first, here);
        first->Release();
        here->Release();
    }
    int32_t count = -1;
    sources[2]->GetHighLevelAudioTrackCount(&count);
    EXPECT_EQ(count, 0);
}

TEST_F(MediaSource, ChainLedByAFormatNineEntryStartsAtTheSecondFile) {
    ASSERT_EQ(Analyse({"--analysis-files=3", "--first-chain-format=9", "--duration=60"}), SUCCESS);
    ASSERT_EQ(sources.size(), 2u);
    EXPECT_EQ(Text(&ISourceMedia::GetFilePath, *sources[0]), "/videos/trip.m2ts.part2");
    EXPECT_EQ(Text(&ISourceMedia::GetTitle, *sources[0]), "trip.m2ts");
    EXPECT_EQ(Number(&ISourceMedia::GetDuration, *sources[0]), 61000u);
    EXPECT_EQ(Text(&ISourceMedia::GetFilePath, *sources[1]), "/videos/trip.m2ts.part3");
    EXPECT_EQ(Number(&ISourceMedia::GetDuration, *sources[1]), 62000u);
}

TEST_F(MediaSource, MissingAc3DecoderStillDeliversTheSource) {
    EXPECT_EQ(Analyse({"--analysis-err=50"}), ENG_NO_AC3_DEC);
    ASSERT_EQ(sources.size(), 1u);
    EXPECT_EQ(Number(&ISourceMedia::GetDuration, *sources[0]), 60000u);
}

TEST_F(MediaSource, OtherAnalysisErrorsDeliverNothing) {
    EXPECT_EQ(Analyse({"--analysis-err=21"}), ENG_UNSUPPORTED_FILE_TYPE);
    EXPECT_TRUE(sources.empty());
}

TEST_F(MediaSource, NoAnswerIsAFailureWithoutSources) {
    for (const char* reply : {"--reply=die", "--reply=error", "--reply=exit"}) {
        SCOPED_TRACE(reply);
        EXPECT_EQ(Analyse({reply}), ENG_ERR);
        EXPECT_TRUE(sources.empty());
    }
    EXPECT_EQ(logic.InitTranscodeEngine(W("/nonexistent/folder/engine"), SLoggerParam(), nullptr,
                                        WideString()),
              SUCCESS);
    int32_t width = 0;
    int32_t height = 0;
    EXPECT_EQ(logic.CreateMediaSource(W("/videos/a.mp4"), &width, &height, WideString(), sources),
              ENG_ERR);
    EXPECT_TRUE(sources.empty());
}

TEST_F(MediaSource, EmptyPathEmptiesTheVector) {
    ASSERT_EQ(Analyse({}), SUCCESS);
    ASSERT_EQ(sources.size(), 1u);
    int32_t width = 0;
    int32_t height = 0;
    EXPECT_EQ(logic.CreateMediaSource(WideString(), &width, &height, WideString(), sources),
              InvalidArgument);
    EXPECT_TRUE(sources.empty());
}

TEST_F(MediaSource, ExVariantAcceptsMissingThumbnailSizes) {
    ASSERT_EQ(logic.InitTranscodeEngine(W(ScriptedEngine().c_str()), SLoggerParam(), nullptr,
                                        WideString()),
              SUCCESS);
    EXPECT_EQ(logic.CreateMediaSource(W("/videos/a.mp4"), nullptr, nullptr, WideString(), sources),
              SUCCESS);
    EXPECT_EQ(sources.size(), 1u);
}

} // namespace
} // namespace nvt
