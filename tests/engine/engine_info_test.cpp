// InitTranscodeEngine with the real engine: the information object is filled
// from the FFmpeg libraries present, the details file is written, and a log
// is written only where the logger parameters ask for one.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "api/transcoder_logic.h"
#include "corpus.h"
#include "platform/text.h"
#include "support/temp_dir.h"

namespace nvt {
namespace {

template <class T> bool Has(const std::vector<T>& items, const T& item) {
    return std::find(items.begin(), items.end(), item) != items.end();
}

TEST(RealEngineInfo, FillsTheInformationAndWritesTheDetailsFile) {
    norv_test::TempDir dir;
    const std::string details = dir.file("details.txt");
    CNorvTranscoderLogic logic;
    ITranscodeEngineInfo* info = nullptr;
    ASSERT_EQ(logic.InitTranscodeEngine(W(norv_test::RealEngine().c_str()), SLoggerParam(), &info,
                                        W(details.c_str())),
              SUCCESS);
    ASSERT_NE(info, nullptr);
    nvtl::RefCountedPtr<ITranscodeEngineInfo> held(info);
    info->Release();

    std::string version;
    info->GetVersion(version);
    EXPECT_NE(version.find("libavformat"), std::string::npos) << version;

    // Debian's FFmpeg has every encoder and muxer the twelve profiles need.
    std::vector<bool> profiles;
    info->GetSupportedProfiles(profiles);
    EXPECT_EQ(profiles, std::vector<bool>(_NP_count_, true));
    const std::vector<std::vector<AudioCodec>> expectedAudio = {{AC_MP3, AC_AAC, AC_AC3},
                                                                {AC_MP3, AC_AAC, AC_AC3},
                                                                {AC_MP3, AC_AAC, AC_AC3},
                                                                {AC_MP3, AC_AAC, AC_AC3},
                                                                {AC_AAC, AC_AC3, AC_MP3},
                                                                {AC_AAC},
                                                                {AC_AAC},
                                                                {AC_AAC},
                                                                {AC_AAC, AC_AC3, AC_MP3},
                                                                {AC_AAC, AC_AC3},
                                                                {AC_AAC, AC_AC3},
                                                                {AC_AAC, AC_AC3}};
    for (int p = 0; p < _NP_count_; ++p) {
        std::vector<AudioCodec> codecs;
        EXPECT_EQ(info->GetSupportedOutputCodecs(static_cast<NorvProfile>(p), codecs), SUCCESS);
        EXPECT_EQ(codecs, expectedAudio[p]) << "profile " << p;
    }

    std::vector<std::string> formats, audio, subtitles;
    info->GetSupportedFormats(formats);
    info->GetSupportedAudio(audio);
    info->GetSupportedSubtitles(subtitles);
    for (const char* f : {"mkv", "mp4", "avi", "ts", "ffconcat", "m3u"}) {
        EXPECT_TRUE(Has(formats, std::string(f))) << f;
    }
    for (const char* a : {"mp3", "aac", "ac3", "wav"}) {
        EXPECT_TRUE(Has(audio, std::string(a))) << a;
    }
    for (const char* s : {"srt", "ass", "smi"}) {
        EXPECT_TRUE(Has(subtitles, std::string(s))) << s;
    }

    // Hardware kinds appear only where their encoders open; none twice.
    std::vector<HWAcceleration> acceleration;
    info->GetAcceleration(acceleration);
    ASSERT_FALSE(acceleration.empty());
    EXPECT_EQ(acceleration[0], NO_ACCELERATION);
    EXPECT_EQ(std::set<HWAcceleration>(acceleration.begin(), acceleration.end()).size(),
              acceleration.size());

    const auto& pages = info->GetLocalSystemCodePages();
    ASSERT_TRUE(pages.count("UTF-8"));
    EXPECT_EQ(pages.at("UTF-8"), 65001u);
    ASSERT_TRUE(pages.count("Windows-1252"));
    EXPECT_EQ(pages.at("Windows-1252"), 1252u);

    const std::string report = norv_test::ReadFile(details);
    EXPECT_NE(report.find(version), std::string::npos);
    EXPECT_NE(report.find("FFmpeg build configuration"), std::string::npos);
    // The engine that wrote it was confined (to the folder of the file).
    EXPECT_NE(report.find("\nSandbox: seccomp, Landlock ABI "), std::string::npos) << report;
}

TEST(RealEngineInfo, LogsOnlyWhereTheLoggerParametersAsk) {
    norv_test::TempDir dir;
    const std::string log = dir.file("engine.log");
    const std::string media = norv_test::CorpusFile("h264_aac.mp4");
    std::vector<nvtl::RefCountedPtr<ISourceMedia>> sources;
    int32_t width = 0, height = 0;

    // Asking for the information object stores the logger parameters.
    CNorvTranscoderLogic quiet;
    ITranscodeEngineInfo* info = nullptr;
    ASSERT_EQ(quiet.InitTranscodeEngine(W(norv_test::RealEngine().c_str()),
                                        SLoggerParam{false, NORV_ALL_MSG, log}, &info,
                                        WideString()),
              SUCCESS);
    info->Release();
    ASSERT_EQ(quiet.CreateMediaSource(W(media.c_str()), &width, &height, WideString(), sources),
              SUCCESS);
    EXPECT_EQ(norv_test::ReadFile(log), "");

    // The engine information exchange runs with logging off; the analysis
    // carries the caller's parameters and appends FFmpeg's messages too.
    CNorvTranscoderLogic verbose;
    ASSERT_EQ(verbose.InitTranscodeEngine(W(norv_test::RealEngine().c_str()),
                                          SLoggerParam{true, NORV_DEBUG_MSG, log}, &info,
                                          WideString()),
              SUCCESS);
    info->Release();
    EXPECT_EQ(norv_test::ReadFile(log), "");
    ASSERT_EQ(verbose.CreateMediaSource(W(media.c_str()), &width, &height, WideString(), sources),
              SUCCESS);
    const std::string text = norv_test::ReadFile(log);
    EXPECT_NE(text.find("INFO analysing " + media), std::string::npos) << text;
    EXPECT_NE(text.find("ffmpeg: "), std::string::npos);
}

} // namespace
} // namespace nvt
