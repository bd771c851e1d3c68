// The real engine analyses the generated corpus through CreateMediaSource;
// every source is checked against what ffprobe reports for the same file and
// against the engine's rules.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <vector>

#include "api/transcoder_logic.h"
#include "corpus.h"
#include "platform/text.h"
#include "support/forked_child.h"
#include "support/temp_dir.h"

namespace nvt {
namespace {

using MediaList = std::vector<nvtl::RefCountedPtr<ISourceMedia>>;
using nlohmann::json;

struct Row {
    const char* file;
    Result err;
    size_t sources; // 2 for a chain of two files
    VideoCodec video;
    std::vector<AudioCodec> audio;
    std::vector<SubtitleType> subtitles;
    bool audioContainer;
    bool subtitleContainer;
    // A thumbnail asked for, with its box and the size expected back.
    const char* thumbnail = nullptr;
    int boxWidth = 0, boxHeight = 0, thumbWidth = 0, thumbHeight = 0;
};

const Row kRows[] = {
    {"h264_ac3.mkv", SUCCESS, 1, VC_H264, {AC_AC3, AC_AC3}, {ST_SRT_INTERNAL}, false, false},
    {"h264_aac.mp4",
     SUCCESS,
     1,
     VC_H264,
     {AC_AAC},
     {},
     false,
     false,
     "thumb.png",
     160,
     160,
     160,
     90}, // 240x180 with 4:3 pixels shows as 320x180
    {"mpeg2.ts", SUCCESS, 1, VC_MPEG2, {AC_MPEG1}, {}, false, false},
    {"audio.mp3", SUCCESS, 1, VC_Empty, {AC_MP3}, {}, true, false},
    {"rotated.mp4",
     SUCCESS,
     1,
     VC_H264,
     {},
     {},
     false,
     false,
     "thumb.jpg",
     0,
     0,
     120,
     160}, // 160x120 turned upright
    {"subs.srt", SUCCESS, 1, VC_Empty, {}, {ST_SRT_EXTERNAL}, false, true},
    {"parts.ffconcat", SUCCESS, 2, VC_H264, {AC_AAC}, {}, false, false},
    {"parts.m3u", SUCCESS, 2, VC_H264, {AC_AAC}, {}, false, false},
    {"missing.mp4", CRTL_FILE_DOES_NOT_EXIST, 0, VC_Empty, {}, {}, false, false},
    {"empty.mp4", ENG_INVALID_STREAM, 0, VC_Empty, {}, {}, false, false},
    {"truncated.mp4", ENG_INVALID_STREAM, 0, VC_Empty, {}, {}, false, false},
    {"random.bin", ENG_UNSUPPORTED_FILE_TYPE, 0, VC_Empty, {}, {}, false, false},
};

std::string Utf8(Result (ISourceMedia::*get)(WideString&), ISourceMedia& source) {
    WideString out;
    (source.*get)(out);
    return WideToUtf8(out);
}

std::string BaseName(const std::string& path) {
    return path.substr(path.find_last_of('/') + 1);
}

std::vector<json> StreamsOf(const json& probe, const char* type) {
    std::vector<json> streams;
    for (const json& s : probe["streams"]) {
        const bool cover = s.contains("disposition") && s["disposition"].value("attached_pic", 0);
        if (s["codec_type"] == type && !cover) {
            streams.push_back(s);
        }
    }
    return streams;
}

std::string Tag(const json& stream, const char* key) {
    return stream.contains("tags") ? stream["tags"].value(key, "") : "";
}

double Aspect(const json& text) {
    std::string value = text.is_string() ? text.get<std::string>() : "";
    std::replace(value.begin(), value.end(), ':', '/');
    return norv_test::Rational(json(value));
}

// The source's file-level facts against ffprobe's description of its file.
void CheckFile(ISourceMedia& source, const json& probe) {
    const json& format = probe["format"];
    uint64_t value = 0;
    source.GetDuration(&value);
    // Whole seconds rounded up; any media lasts at least one.
    const double seconds = std::max(1.0, std::ceil(norv_test::Number(format, "duration")));
    EXPECT_EQ(value, 1000 * static_cast<uint64_t>(seconds));
    source.GetFileSize(&value);
    EXPECT_EQ(value, static_cast<uint64_t>(norv_test::Number(format, "size")));
    const std::string names = "," + format["format_name"].get<std::string>() + ",";
    const std::string container = Utf8(&ISourceMedia::GetContainerFormatName, source);
    EXPECT_NE(names.find("," + container + ","), std::string::npos) << container;
}

void CheckVideo(ISourceMedia& source, const json& probe, const Row& row) {
    ISourceMediaVideoTrack* track = nullptr;
    ASSERT_EQ(source.GetVideoTrack(0, &track), SUCCESS);
    nvtl::RefCountedPtr<ISourceMediaVideoTrack> held(track);
    track->Release();
    int32_t codec = 0, width = 0, height = 0;
    double rate = 0, aspect = 0, bitrate = 0;
    track->GetCodec(&codec);
    EXPECT_EQ(codec, row.video);
    const auto streams = StreamsOf(probe, "video");
    if (row.video == VC_Empty) {
        EXPECT_TRUE(streams.empty());
        return;
    }
    ASSERT_FALSE(streams.empty());
    const json& s = streams[0];
    track->GetWidth(&width);
    track->GetHeight(&height);
    track->GetFrameRate(&rate);
    track->GetAspectRatio(&aspect);
    track->GetBitrate(&bitrate);
    EXPECT_EQ(width, s["width"].get<int>());
    EXPECT_EQ(height, s["height"].get<int>());
    EXPECT_NEAR(rate, norv_test::Rational(s["r_frame_rate"]), 0.001);
    const double sar = s.contains("sample_aspect_ratio") ? Aspect(s["sample_aspect_ratio"]) : 1.0;
    EXPECT_NEAR(aspect, width * sar / height, 0.01);
    const double ownRate = norv_test::Number(s, "bit_rate");
    if (ownRate > 0) {
        EXPECT_EQ(bitrate, ownRate);
    } else {
        EXPECT_GT(bitrate, 0.0); // estimated from the size, duration and audio
    }
    int rotation = 0;
    for (const json& side : s.value("side_data_list", json::array())) {
        rotation = static_cast<int>(side.value("rotation", 0.0));
    }
    EXPECT_EQ(track->GetAngle(), ((-rotation) % 360 + 360) % 360);
}

void CheckAudio(ISourceMedia& source, const json& probe, const Row& row,
                ITranscodeEngineInfo& info) {
    const auto streams = StreamsOf(probe, "audio");
    int32_t count = 0;
    source.GetAudioTrackCount(&count);
    ASSERT_EQ(count, static_cast<int32_t>(streams.size()));
    ASSERT_EQ(row.audio.size(), streams.size());
    source.GetHighLevelAudioTrackCount(&count);
    EXPECT_EQ(count, static_cast<int32_t>(streams.size())); // every codec decodes
    source.GetUnsupportedAudioTrackCount(&count);
    EXPECT_EQ(count, 0);
    std::vector<bool> supported;
    info.GetSupportedProfiles(supported);
    for (size_t i = 0; i < streams.size(); ++i) {
        ISourceMediaAudioTrack* track = nullptr;
        ASSERT_EQ(source.GetAudioTrack(static_cast<uint32_t>(i), &track), SUCCESS);
        nvtl::RefCountedPtr<ISourceMediaAudioTrack> held(track);
        track->Release();
        const json& s = streams[i];
        int32_t codec = 0, channels = 0, rate = 0, id = -1;
        double bitrate = 0;
        WideString language;
        track->GetCodec(&codec);
        track->GetChannelCount(&channels);
        track->GetSampleRate(&rate);
        track->GetID(&id);
        track->GetBitrate(&bitrate);
        track->GetLanguage(language);
        EXPECT_EQ(codec, row.audio[i]);
        EXPECT_EQ(channels, s["channels"].get<int>());
        EXPECT_EQ(rate, static_cast<int32_t>(norv_test::Number(s, "sample_rate")));
        EXPECT_EQ(id, s["index"].get<int>());
        EXPECT_EQ(bitrate, norv_test::Number(s, "bit_rate"));
        EXPECT_EQ(WideToUtf8(language), Tag(s, "language"));
        // Re-encoding is required exactly where the profile does not write the codec.
        for (int p = 0; p < _NP_count_; ++p) {
            bool requires = false, possible = false;
            const auto profile = static_cast<NorvProfile>(p);
            ASSERT_EQ(track->GetTranscodeRequirement(profile, &requires, &possible),
                      supported[p] ? SUCCESS : ENG_ERR);
            std::vector<AudioCodec> written;
            info.GetSupportedOutputCodecs(profile, written);
            const bool writes = std::count(written.begin(), written.end(), row.audio[i]) != 0;
            EXPECT_EQ(requires, supported[p] && !writes) << "profile " << p;
            EXPECT_EQ(possible, supported[p]);
        }
    }
}

void CheckSubtitles(ISourceMedia& source, const json& probe, const Row& row) {
    const auto streams = StreamsOf(probe, "subtitle");
    int32_t count = 0;
    source.GetSubtitleTrackCount(&count);
    ASSERT_EQ(count, static_cast<int32_t>(row.subtitles.size()));
    ASSERT_EQ(streams.size(), row.subtitles.size());
    for (size_t i = 0; i < row.subtitles.size(); ++i) {
        ISourceMediaSubtitleTrack* track = nullptr;
        ASSERT_EQ(source.GetSubtitleTrack(static_cast<uint32_t>(i), &track), SUCCESS);
        nvtl::RefCountedPtr<ISourceMediaSubtitleTrack> held(track);
        track->Release();
        int32_t type = -1;
        WideString language;
        track->GetSubtitleType(&type);
        track->GetLanguage(language);
        EXPECT_EQ(type, row.subtitles[i]);
        EXPECT_EQ(WideToUtf8(language), Tag(streams[i], "language"));
    }
}

// The picture file's own header gives its size: PNG's IHDR, or a JPEG mark.
void CheckThumbnail(const std::string& path, const Row& row) {
    const std::string bytes = norv_test::ReadFile(path);
    ASSERT_GT(bytes.size(), 24u) << path;
    if (BaseName(path).find(".png") != std::string::npos) {
        ASSERT_EQ(bytes.compare(1, 3, "PNG"), 0);
        auto be32 = [&](size_t at) {
            return (static_cast<uint8_t>(bytes[at]) << 24) |
                   (static_cast<uint8_t>(bytes[at + 1]) << 16) |
                   (static_cast<uint8_t>(bytes[at + 2]) << 8) | static_cast<uint8_t>(bytes[at + 3]);
        };
        EXPECT_EQ(be32(16), row.thumbWidth);
        EXPECT_EQ(be32(20), row.thumbHeight);
    } else {
        EXPECT_EQ(static_cast<uint8_t>(bytes[0]), 0xFF);
        EXPECT_EQ(static_cast<uint8_t>(bytes[1]), 0xD8);
    }
}

class RealEngineAnalysis : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(logic.InitTranscodeEngine(W(norv_test::RealEngine().c_str()), SLoggerParam(),
                                            &info, WideString()),
                  SUCCESS);
        ASSERT_NE(info, nullptr);
    }
    void TearDown() override {
        if (info != nullptr) {
            info->Release();
        }
    }

    CNorvTranscoderLogic logic;
    ITranscodeEngineInfo* info = nullptr;
    norv_test::TempDir dir;
};

TEST_F(RealEngineAnalysis, CorpusMatchesFfprobeAndTheRules) {
    std::vector<bool> supported;
    info->GetSupportedProfiles(supported);
    ASSERT_EQ(supported.size(), static_cast<size_t>(_NP_count_));
    for (const Row& row : kRows) {
        SCOPED_TRACE(row.file);
        MediaList sources;
        int32_t width = row.boxWidth;
        int32_t height = row.boxHeight;
        const std::string thumbnail = row.thumbnail != nullptr ? dir.file(row.thumbnail) : "";
        const Result result =
            logic.CreateMediaSource(W(norv_test::CorpusFile(row.file).c_str()), &width, &height,
                                    W(thumbnail.c_str()), sources);
        ASSERT_EQ(result, row.err);
        ASSERT_EQ(sources.size(), row.sources);
        if (row.thumbnail != nullptr) {
            EXPECT_EQ(width, row.thumbWidth);
            EXPECT_EQ(height, row.thumbHeight);
            CheckThumbnail(thumbnail, row);
        }
        for (size_t i = 0; i < sources.size(); ++i) {
            ISourceMedia& source = *sources[i];
            const std::string path = Utf8(&ISourceMedia::GetFilePath, source);
            const json probe = norv_test::Ffprobe(BaseName(path));
            ASSERT_FALSE(probe.is_discarded()) << path;
            CheckFile(source, probe);
            if (i != 0) {
                continue; // later files of a chain share the first one's tracks
            }
            if (row.sources == 1) {
                EXPECT_EQ(path, norv_test::CorpusFile(row.file));
            }
            CheckVideo(source, probe, row);
            CheckAudio(source, probe, row, *info);
            CheckSubtitles(source, probe, row);
            EXPECT_EQ(source.IsAudioContainer(), row.audioContainer);
            EXPECT_EQ(source.IsSubtitleContainer(), row.subtitleContainer);
            for (int p = 0; p < _NP_count_; ++p) {
                bool flag = false;
                source.GetProfileFlag(static_cast<NorvProfile>(p), &flag);
                EXPECT_EQ(flag, supported[p] && !row.subtitleContainer) << "profile " << p;
            }
        }
    }
}

// A file the engine may not read, as a user without the rights to it sees it
// (root reads every file, so the analysis runs as an unprivileged user in a
// child; the parent starts no engine first, as a forked child must not start
// threads under ThreadSanitizer when its parent had some).
TEST(RealEngineRights, UnreadableFileIsPermissionDenied) {
    namespace fs = std::filesystem;
    norv_test::TempDir dir;
    const std::string locked = dir.file("locked.mp4");
    fs::copy_file(norv_test::CorpusFile("h264_aac.mp4"), locked);
    fs::permissions(dir.path(), fs::perms::owner_all | fs::perms::group_read |
                                    fs::perms::group_exec | fs::perms::others_read |
                                    fs::perms::others_exec);
    fs::permissions(locked, fs::perms::none);
    const auto outcome = norv_test::RunInChild(
        [&] {
            CNorvTranscoderLogic logic;
            logic.InitTranscodeEngine(W(norv_test::RealEngine().c_str()), SLoggerParam(), nullptr,
                                      WideString());
            MediaList sources;
            int32_t width = 0, height = 0;
            return static_cast<int>(
                logic.CreateMediaSource(W(locked.c_str()), &width, &height, WideString(), sources));
        },
        norv_test::ChildOptions{true, -1});
    ASSERT_TRUE(outcome.exited);
    EXPECT_EQ(outcome.exitCode, CRTL_FILE_PERMISSION_DENIED);
}

} // namespace
} // namespace nvt
