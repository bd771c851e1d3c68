// Records with a non-default value in every field, and field-by-field
// comparisons, for the archive tests.
#pragma once

#include <gtest/gtest.h>

#include "messages/records.h"
#include "norv/records.h"

namespace nvtest {

// Every string carries characters the archive must escape.
inline std::string Text(const std::string& s) {
    return s + " <&>\"' \xc3\xa9";
}

inline nvt::SLoggerParam SampleLogger() {
    nvt::SLoggerParam p;
    p.enableLogs = true;
    p.logLevel = nvt::NORV_ERROR_MSG | nvt::NORV_DEBUG_MSG;
    p.logPath = Text("C:\\logs\\engine.log");
    return p;
}

inline nvt::CustomPresetData SamplePreset() {
    nvt::CustomPresetData p(nvt::NP_HEVC4K);
    p.profileName = Text("preset");
    p.fileSizeLimit = 5000000000ULL;
    p.enableAspectRatio = false;
    p.resWidth = 3840;
    p.resHeight = 2160;
    p.videoBitrate = 8000000;
    p.audioBitrates = {128000, 4294967295U};
    p.enableVideo2passEncoding = true;
    p.videoPassthrough = true;
    p.audioPassthrough = true;
    p.m_bEnableTrickplayTrack = true;
    p.trickWidth = 320;
    p.trickHeight = 180;
    p.trickVideoBitrate = 150000;
    p.enableHWAcceleration = true;
    p.hwAcceleration = nvt::CUDA;
    p.externalSubtitleIndex = 3;
    p.rect = {1, 2, 3, 4};
    p.prio = nvt::prioAspectRatio;
    p.creationTime = -1234567890123LL;
    p.trackCodecs = {nvt::AC_AAC, nvt::AC_UNKNOWN, nvt::AC_AC3};
    p.hevcQualityLevel = nvt::hevc_ql_best;
    p.wppEnabled = false;
    p.calcQualityMetrics = 7;
    return p;
}

inline TBS::SSourceFileList SampleFileList(int n) {
    TBS::SSourceFileList l;
    for (int i = 0; i < n; ++i) {
        l.fileList.push_back({static_cast<unsigned>(10 + i), Text("part" + std::to_string(i))});
    }
    return l;
}

inline TBS::SAudioTrack SampleAudioTrack(int i) {
    TBS::SAudioTrack t;
    t.trackName = Text("audio" + std::to_string(i));
    t.bitsPerSecond = 192000.5 + i;
    t.ID = 100 + i;
    t.audioChannelCount = 6;
    t.audioSampleRate = 48000;
    t.audioBitsPerSample = 24;
    t.audioFormat = nvt::AC_DTS;
    t.audioLangCode = "deu";
    t.audioCodecName = Text("DTS-HD");
    t.audioTranscodeRequires[nvt::NP_HD720] = {true, false};
    t.audioTranscodeRequires[nvt::NP_HEVC4K] = {false, true};
    return t;
}

inline TBS::AnalyzeResponse SampleAnalyzeResponse() {
    TBS::AnalyzeResponse r;
    r.err = nvt::ENG_INVALID_AUD_STREAM;
    r.duration = {60000, 4294967295U};
    r.inputFileSize = {1, 18446744073709551615ULL};
    r.inputFile = Text("/media/movie.mkv");
    r.containerFormatName = "matroska";
    TBS::SVideoTrack v;
    v.trackName = Text("video");
    v.bitsPerSecond = 1.0 / 3.0;
    v.ID = -2;
    v.videoWidth = 1920;
    v.videoHeight = 1080;
    v.videoFrameRate = 25;
    v.videoBitrate = 6000000;
    v.videoCodecName = "AVC";
    v.videoCodec = nvt::VC_H264;
    v.DAR = 16.0 / 9.0;
    r.videoTracks = {v};
    r.audioTracks = {SampleAudioTrack(0), SampleAudioTrack(1)};
    r.audioTracksHighLevel = {SampleAudioTrack(2)};
    r.audioTracksUnsupportedHighLevel = {SampleAudioTrack(3)};
    TBS::SSubtitleTrack s;
    s.trackName = Text("subs");
    s.bitsPerSecond = 12.25;
    s.ID = 7;
    s.subtitleEmbedded = true;
    s.subType = nvt::SC_SMI_EXTERNAL;
    s.subtitleLangCode = "eng";
    r.subtitleTracks = {s, s};
    r.srcFileListList = {SampleFileList(2), SampleFileList(1)};
    r.thumbWidth = 160;
    r.thumbHeight = 90;
    for (int i = 0; i < TBS::kProfileCount; ++i) {
        r.profiles[i] = (i % 3) != 1;
    }
    r.angle = 270;
    r.isAudioContainer = true;
    r.isSubtitleContainer = true;
    return r;
}

inline TBS::TranscodeRequest SampleTranscodeRequest() {
    TBS::TranscodeRequest r;
    r.CustomPresetData = SamplePreset();
    r.inputFiles = {Text("/in/a.avi"), Text("/in/b.avi")};
    r.extraFiles = {Text("/in/extra.mp3")};
    r.outputFile = Text("/out/result.mp4");
    r.srcVideoCodecs = {nvt::VC_H264, nvt::VC_UNKNOWN};
    r.srcAudioCodecs = {nvt::AC_MP3, nvt::AC_AAC};
    r.srcAudioCodecsHighLevel = {nvt::AC_DTS};
    r.dstAudioCodecs = {nvt::AC_AAC, nvt::AC_AC3};
    r.dstAudioCodecsHighLevel = {nvt::AC_AC3};
    r.audioTracks = {2, 0};
    r.audioTracksHighLevel = {1};
    r.audioLangCodes = {"eng", "fra"};
    r.audioIDs = {-1, 2147483647};
    r.subtitleTracks = {1, 100, 1002};
    r.subtitleLangCodes = {"deu"};
    r.subtitleIDs = {0, 5};
    r.subtitleTrackNames = {"", Text("name")};
    r.subtitleCodePages = {1252, 65001};
    r.subtitleBurnFirstTrack = true;
    r.tempDir = Text("/tmp/work");
    r.useTempDir = true;
    r.needTranscode = true;
    r.srcFileListList = {SampleFileList(3)};
    r.loggerParam = SampleLogger();
    r.angle = 90;
    r.flip = nvt::flipVertical;
    r.title = Text("My title");
    return r;
}

// ---- field-by-field comparisons ----

inline void ExpectEqual(const nvt::SLoggerParam& a, const nvt::SLoggerParam& b) {
    EXPECT_EQ(a.enableLogs, b.enableLogs);
    EXPECT_EQ(a.logLevel, b.logLevel);
    EXPECT_EQ(a.logPath, b.logPath);
}

inline void ExpectEqual(const nvt::CustomPresetData& a, const nvt::CustomPresetData& b) {
    EXPECT_EQ(a.profileID, b.profileID);
    EXPECT_EQ(a.profileName, b.profileName);
    EXPECT_EQ(a.fileSizeLimit, b.fileSizeLimit);
    EXPECT_EQ(a.enableAspectRatio, b.enableAspectRatio);
    EXPECT_EQ(a.resWidth, b.resWidth);
    EXPECT_EQ(a.resHeight, b.resHeight);
    EXPECT_EQ(a.videoBitrate, b.videoBitrate);
    EXPECT_EQ(a.audioBitrates, b.audioBitrates);
    EXPECT_EQ(a.enableVideo2passEncoding, b.enableVideo2passEncoding);
    EXPECT_EQ(a.videoPassthrough, b.videoPassthrough);
    EXPECT_EQ(a.audioPassthrough, b.audioPassthrough);
    EXPECT_EQ(a.m_bEnableTrickplayTrack, b.m_bEnableTrickplayTrack);
    EXPECT_EQ(a.trickWidth, b.trickWidth);
    EXPECT_EQ(a.trickHeight, b.trickHeight);
    EXPECT_EQ(a.trickVideoBitrate, b.trickVideoBitrate);
    EXPECT_EQ(a.enableHWAcceleration, b.enableHWAcceleration);
    EXPECT_EQ(a.hwAcceleration, b.hwAcceleration);
    EXPECT_EQ(a.externalSubtitleIndex, b.externalSubtitleIndex);
    EXPECT_EQ(a.rect.top, b.rect.top);
    EXPECT_EQ(a.rect.bottom, b.rect.bottom);
    EXPECT_EQ(a.rect.left, b.rect.left);
    EXPECT_EQ(a.rect.right, b.rect.right);
    EXPECT_EQ(a.prio, b.prio);
    EXPECT_EQ(a.creationTime, b.creationTime);
    EXPECT_EQ(a.trackCodecs, b.trackCodecs);
    EXPECT_EQ(a.hevcQualityLevel, b.hevcQualityLevel);
    EXPECT_EQ(a.wppEnabled, b.wppEnabled);
    EXPECT_EQ(a.calcQualityMetrics, b.calcQualityMetrics);
}

inline void ExpectEqualBase(const TBS::SMediaTrack& a, const TBS::SMediaTrack& b) {
    EXPECT_EQ(a.trackName, b.trackName);
    EXPECT_EQ(a.bitsPerSecond, b.bitsPerSecond); // exact: the text keeps every digit
    EXPECT_EQ(a.ID, b.ID);
}

inline void ExpectEqual(const TBS::SVideoTrack& a, const TBS::SVideoTrack& b) {
    ExpectEqualBase(a, b);
    EXPECT_EQ(a.videoWidth, b.videoWidth);
    EXPECT_EQ(a.videoHeight, b.videoHeight);
    EXPECT_EQ(a.videoFrameRate, b.videoFrameRate);
    EXPECT_EQ(a.videoBitrate, b.videoBitrate);
    EXPECT_EQ(a.videoCodecName, b.videoCodecName);
    EXPECT_EQ(a.videoCodec, b.videoCodec);
    EXPECT_EQ(a.DAR, b.DAR);
}

inline void ExpectEqual(const TBS::SAudioTrack& a, const TBS::SAudioTrack& b) {
    ExpectEqualBase(a, b);
    EXPECT_EQ(a.audioChannelCount, b.audioChannelCount);
    EXPECT_EQ(a.audioSampleRate, b.audioSampleRate);
    EXPECT_EQ(a.audioBitsPerSample, b.audioBitsPerSample);
    EXPECT_EQ(a.audioFormat, b.audioFormat);
    EXPECT_EQ(a.audioLangCode, b.audioLangCode);
    EXPECT_EQ(a.audioCodecName, b.audioCodecName);
    ASSERT_EQ(a.audioTranscodeRequires.size(), b.audioTranscodeRequires.size());
    for (const auto& [profile, verdict] : a.audioTranscodeRequires) {
        const auto it = b.audioTranscodeRequires.find(profile);
        ASSERT_NE(it, b.audioTranscodeRequires.end()) << "profile " << profile;
        EXPECT_EQ(verdict.requiresTranscode, it->second.requiresTranscode);
        EXPECT_EQ(verdict.transcodePossible, it->second.transcodePossible);
    }
}

inline void ExpectEqual(const TBS::SSubtitleTrack& a, const TBS::SSubtitleTrack& b) {
    ExpectEqualBase(a, b);
    EXPECT_EQ(a.subtitleEmbedded, b.subtitleEmbedded);
    EXPECT_EQ(a.subType, b.subType);
    EXPECT_EQ(a.subtitleLangCode, b.subtitleLangCode);
}

inline void ExpectEqual(const TBS::SSourceFileList& a, const TBS::SSourceFileList& b) {
    ASSERT_EQ(a.fileList.size(), b.fileList.size());
    for (size_t i = 0; i < a.fileList.size(); ++i) {
        EXPECT_EQ(a.fileList[i].format, b.fileList[i].format);
        EXPECT_EQ(a.fileList[i].source, b.fileList[i].source);
    }
}

template <class T> void ExpectEqual(const std::vector<T>& a, const std::vector<T>& b) {
    ASSERT_EQ(a.size(), b.size());
    for (size_t i = 0; i < a.size(); ++i) {
        SCOPED_TRACE(i);
        ExpectEqual(a[i], b[i]);
    }
}

} // namespace nvtest
