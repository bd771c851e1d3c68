// Output properties of sessions whose sources and engine information came
// from the scripted engine: the derived picture, bitrates, sizes and time,
// the duration over joined sources, and what busy sessions report.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "output/output_settings.h"
#include "platform/text.h"
#include "support/engine_session.h"
#include "support/session_run.h"
#include "support/source_builder.h"

namespace nvt {
namespace {

using norv_test::CallbackEvent;
using norv_test::RecordingCallback;
using norv_test::ScriptedEngine;
using MediaList = std::vector<nvtl::RefCountedPtr<ISourceMedia>>;

/// The analysis of one file as the engine describes it under options.
MediaList Analyse(std::initializer_list<std::string> options) {
    auto session = norv_test::NewSession(ScriptedEngine(options));
    MediaList sources;
    EXPECT_EQ(session->Analyze(W("/media/film.mts"), nullptr, nullptr, WideString(), sources),
              SUCCESS);
    return sources;
}

/// The engine's information, asked of an engine started with options.
nvtl::RefCountedPtr<TranscodeEngineInfo> EngineInfo(std::initializer_list<std::string> options) {
    nvtl::RefCountedPtr<TranscodeEngineInfo> info(new TranscodeEngineInfo());
    auto session = norv_test::NewSession(ScriptedEngine(options));
    EXPECT_EQ(session->GetTechnicalInfo(info.get()), SUCCESS);
    return info;
}

/// Everything an output properties object reports.
struct Properties {
    uint64_t estimatedSize = 0;
    uint64_t minimumSize = 0;
    int32_t seconds = 0;
    uint32_t width = 0, height = 0;
    uint32_t trickWidth = 0, trickHeight = 0;
    uint64_t videoKbps = 0;
    std::vector<uint32_t> audioKbps;
    uint32_t videoMinKbps = 0, videoMaxKbps = 0;
    uint32_t trickKbps = 0;
    uint32_t aspectNum = 0, aspectDen = 0;
    bool unreachable = false;
};

Properties Read(ITranscodeOutputProperties& p) {
    Properties r;
    p.GetEstimatedSize(&r.estimatedSize);
    p.GetMinimumSize(&r.minimumSize);
    p.GetEstimatedTime(&r.seconds);
    p.GetResolution(&r.width, &r.height);
    p.GetTrickResolution(&r.trickWidth, &r.trickHeight);
    p.GetBitrates(&r.videoKbps, r.audioKbps);
    p.GetVideoBitrateRange(&r.videoMinKbps, &r.videoMaxKbps);
    p.GetTrickVideoBitrate(&r.trickKbps);
    p.GetAspectRatio(&r.aspectNum, &r.aspectDen);
    p.IsSizeLimitUnreachable(&r.unreachable);
    return r;
}

/// Asks session for its output properties; result is what the call answered.
Properties PropertiesOf(ITranscodeSession& session, Result expected = SUCCESS) {
    ITranscodeOutputProperties* out = nullptr;
    EXPECT_EQ(session.GetOutputProperties(&out), expected);
    Properties read;
    if (out != nullptr) {
        read = Read(*out);
        out->Release();
    } else {
        ADD_FAILURE() << "no properties handed out";
    }
    return read;
}

/// Only the time is set: what a busy session, or a failed derivation, gives.
void ExpectOnlyTime(const Properties& p, int32_t seconds) {
    EXPECT_EQ(p.seconds, seconds);
    EXPECT_EQ(p.estimatedSize, 0u);
    EXPECT_EQ(p.minimumSize, 0u);
    EXPECT_EQ(p.width, 0u);
    EXPECT_EQ(p.height, 0u);
    EXPECT_EQ(p.videoKbps, 0u);
    EXPECT_TRUE(p.audioKbps.empty());
    EXPECT_EQ(p.videoMaxKbps, 0u);
    EXPECT_EQ(p.aspectNum, 1u);
    EXPECT_EQ(p.aspectDen, 1u);
}

// The film the engine describes: 1920 x 1080 at 25 fps (sent as thousandths),
// display aspect 16:9, one AAC track, two subtitle tracks, 120 s, 50 MB.
const std::initializer_list<std::string> kFilm = {"--duration=120", "--file-size=50000000",
                                                  "--frame-rate=25000", "--subtitle-tracks=2"};

// 1280 x 720 at 25 fps is worked on at 921600 * 25 * 1.5 / 10368000 = 10/3
// seconds per second of film.
constexpr int32_t kFilmSeconds = 400; // 120 s * 10/3

// ((3300 video + 160 audio) kbps * 120 s * 1024) / 8 + two subtitles of 1 KiB
constexpr uint64_t kFilmSize = 3460ull * 120 * 128 + 2048;

class OutputPropertiesRun : public ::testing::Test {
protected:
    nvtl::RefCountedPtr<TranscodeOutputSettings> settings{new TranscodeOutputSettings(NP_HD720)};
    nvtl::RefCountedPtr<TranscodeEngineInfo> info = EngineInfo({});

    void SetUp() override {
        settings->SetAudioTracks({0});
        settings->SetAudioBitrates({160 << 10});
    }

    nvtl::RefCountedPtr<TranscodeSession> Prepared(const MediaList& sources,
                                                   std::initializer_list<std::string> engine = {}) {
        auto session = norv_test::NewSession(ScriptedEngine(engine));
        for (const auto& source : sources) {
            EXPECT_EQ(session->AddSource(source.get()), SUCCESS);
        }
        EXPECT_EQ(session->SetOutputSettings(settings.get()), SUCCESS);
        EXPECT_EQ(session->SetEngineInfo(info.get()), SUCCESS);
        return session;
    }
};

TEST_F(OutputPropertiesRun, DescribedFilmToHd720) {
    const MediaList film = Analyse(kFilm);
    ASSERT_EQ(film.size(), 1u);
    auto session = Prepared(film);

    const Properties p = PropertiesOf(*session);
    EXPECT_EQ(p.width, 1280u);
    EXPECT_EQ(p.height, 720u);
    EXPECT_EQ(p.aspectNum, 16u);
    EXPECT_EQ(p.aspectDen, 9u);
    // The profile's figures at 1280 x 720 and 25 fps; nothing asks for more.
    EXPECT_EQ(p.videoKbps, 3300u);
    EXPECT_EQ(p.videoMinKbps, 1u);
    EXPECT_EQ(p.videoMaxKbps, 7950u);
    EXPECT_EQ(p.audioKbps, std::vector<uint32_t>{160}); // AAC is not passed through
    EXPECT_EQ(p.estimatedSize, kFilmSize);
    EXPECT_EQ(p.minimumSize, 17ull * 120 * 128 + 2048); // 1 video + 16 audio
    EXPECT_FALSE(p.unreachable);
    EXPECT_EQ(p.trickWidth, 0u);
    EXPECT_EQ(p.trickKbps, 0u);
    EXPECT_EQ(p.seconds, kFilmSeconds);

    // Fitting to 30 000 000 bytes: ((30000000 - 2048) * 8 >> 10) / 120 =
    // 1952 kbps in all; the audio keeps 160 and the video gets the rest.
    settings->SetPriority(prioFilesize);
    settings->SetFileSizeLimit(30000000);
    const Properties fitted = PropertiesOf(*session);
    EXPECT_EQ(fitted.videoKbps, 1792u);
    EXPECT_EQ(fitted.audioKbps, std::vector<uint32_t>{160});
    EXPECT_EQ(fitted.estimatedSize, 30000000u);
    EXPECT_FALSE(fitted.unreachable);
    EXPECT_EQ(fitted.seconds, kFilmSeconds);

    // 10 000 bytes leave 0 kbps: unreachable, the audio drops to the lowest
    // step and the video keeps its bitrate.
    settings->SetFileSizeLimit(10000);
    const Properties tooSmall = PropertiesOf(*session);
    EXPECT_TRUE(tooSmall.unreachable);
    EXPECT_EQ(tooSmall.videoKbps, 3300u);
    EXPECT_EQ(tooSmall.audioKbps, std::vector<uint32_t>{16});
    EXPECT_EQ(tooSmall.estimatedSize, kFilmSize);
}

TEST_F(OutputPropertiesRun, DurationCountsEveryJoinedSource) {
    struct Case {
        const char* what;
        std::vector<std::string> options;
        size_t joined; // sources of the analysis added to the session
        uint32_t seconds;
        int32_t time;
    };
    // A chain of three files of 100, 101 and 102 s. Its first source stands
    // for the whole chain (the request hands the engine its whole file list),
    // so it counts every file but a leading entry of format 9; each later
    // source counts its own file, and is then no longer counted by the first
    // (the engine reads each file once).
    const Case cases[] = {
        {"first source of a chain", {"--analysis-files=3"}, 1, 303, 1010},
        {"chain led by a format 9 entry",
         {"--analysis-files=3", "--first-chain-format=9"},
         1,
         203,
         676},
        {"whole chain joined", {"--analysis-files=3"}, 3, 303, 1010},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string engine = ScriptedEngine({"--duration=100", "--frame-rate=25000"});
        for (const std::string& option : c.options) {
            engine += " " + option;
        }
        auto session = norv_test::NewSession(engine);
        MediaList sources;
        ASSERT_EQ(session->Analyze(W("/media/chain.vob"), nullptr, nullptr, WideString(), sources),
                  SUCCESS);
        ASSERT_GE(sources.size(), c.joined);
        sources.resize(c.joined);
        auto prepared = Prepared(sources);
        const Properties p = PropertiesOf(*prepared);
        EXPECT_EQ(p.estimatedSize, 3460ull * c.seconds * 128); // no subtitles
        EXPECT_EQ(p.seconds, c.time);
    }
}

TEST_F(OutputPropertiesRun, EngineInformationDecidesAc3Passthrough) {
    // An AC3 track of 448 kbps (reported in bits per second) with
    // passthrough on (the profile's default).
    norv_test::SourceBuilder film("/media/film.mkv");
    film.Video(VC_H264, 1920, 1080, 25.0, 16.0 / 9.0, 8000000.0)
        .Audio(1, AC_AC3, "eng", 448 * 1024)
        .FileSize(50000000);
    film.Media().durations = {120};
    const MediaList sources = {nvtl::RefCountedPtr<ISourceMedia>(film.Get().get())};
    ASSERT_TRUE(settings->GetAudioPassthrough());

    // This engine writes AC3 for the profile: the track is passed through.
    auto session = Prepared(sources);
    EXPECT_EQ(PropertiesOf(*session).estimatedSize, (3300ull + 448) * 120 * 128);

    // This one lists output codecs for the first two profiles only.
    info = EngineInfo({"--supported-profiles=2"});
    session = Prepared(sources);
    EXPECT_EQ(PropertiesOf(*session).estimatedSize, (3300ull + 160) * 120 * 128);
}

TEST_F(OutputPropertiesRun, BusySessionReportsOnlyTheRemainingTime) {
    const MediaList film = Analyse(kFilm);
    auto session = Prepared(film, {"--progress-script=1:0:77", "--wait-cancel"});
    EXPECT_EQ(PropertiesOf(*session).seconds, kFilmSeconds);

    nvtl::RefCountedPtr<RecordingCallback> callback(new RecordingCallback());
    ASSERT_EQ(session->Start(W("/out/film.mp4"), callback.get()), SUCCESS);
    ASSERT_TRUE(callback->WaitFor(CallbackEvent::Progress));
    ExpectOnlyTime(PropertiesOf(*session), 77); // the engine's remaining time

    // Cancelled, the session is idle again and derives everything anew.
    EXPECT_EQ(session->Cancel(), SUCCESS);
    const Properties p = PropertiesOf(*session);
    EXPECT_EQ(p.seconds, kFilmSeconds);
    EXPECT_EQ(p.estimatedSize, kFilmSize);
}

TEST_F(OutputPropertiesRun, RunningSessionKeepsItsLastEstimateUntilTheEngineReports) {
    const MediaList film = Analyse(kFilm);
    auto session = Prepared(film, {"--progress=0", "--wait-cancel"});
    EXPECT_EQ(PropertiesOf(*session).seconds, kFilmSeconds);
    ASSERT_EQ(session->Start(W("/out/film.mp4"), nullptr), SUCCESS);
    ASSERT_EQ(norv_test::StateOf(*session), TS_Running);
    ExpectOnlyTime(PropertiesOf(*session), kFilmSeconds);
    EXPECT_EQ(session->Cancel(), SUCCESS);
}

TEST_F(OutputPropertiesRun, WhatIsMissingOrUnusable) {
    const MediaList film = Analyse(kFilm);

    // No engine information: nothing is handed out.
    auto session = norv_test::NewSession(ScriptedEngine());
    ASSERT_EQ(session->AddSource(film[0].get()), SUCCESS);
    ASSERT_EQ(session->SetOutputSettings(settings.get()), SUCCESS);
    ITranscodeOutputProperties* out = nullptr;
    EXPECT_EQ(session->GetOutputProperties(&out), NotAvailable);
    EXPECT_EQ(out, nullptr);
    // An information object from an engine that never answered will do.
    nvtl::RefCountedPtr<TranscodeEngineInfo> empty(new TranscodeEngineInfo());
    ASSERT_EQ(session->SetEngineInfo(empty.get()), SUCCESS);
    EXPECT_EQ(PropertiesOf(*session).seconds, kFilmSeconds);

    // Settings the derivation refuses (a height without a width): the
    // properties are handed out with the last estimate only.
    settings->SetResolution(0, 720);
    ExpectOnlyTime(PropertiesOf(*session, InvalidArgument), kFilmSeconds);

    // A first source without a video track cannot be described.
    settings->SetResolution(0, 0);
    norv_test::SourceBuilder song("/media/song.mp3");
    song.Audio(1, AC_MP3, "eng", 128 * 1024).FileSize(1000);
    song.Media().durations = {60};
    auto audioOnly = norv_test::NewSession(ScriptedEngine());
    ASSERT_EQ(audioOnly->AddSource(song.Get().get()), SUCCESS);
    ASSERT_EQ(audioOnly->SetOutputSettings(settings.get()), SUCCESS);
    ASSERT_EQ(audioOnly->SetEngineInfo(info.get()), SUCCESS);
    ExpectOnlyTime(PropertiesOf(*audioOnly, ENG_ERR), 0);
}

} // namespace
} // namespace nvt
