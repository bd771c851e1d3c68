// The session's source lists and the join checks, on sources built in the
// test (no engine involved).
#include <gtest/gtest.h>

#include "media/source_media.h"
#include "platform/text.h"
#include "session/transcode_session.h"

namespace nvt {
namespace {

struct Picture {
    int32_t width = 1920;
    int32_t height = 1080;
    double frameRate = 25.0;
    int32_t angle = 0;
};

struct Sound {
    int32_t channels = 2;
    int32_t sampleRate = 48000;
    int32_t bits = 16;
};

nvtl::RefCountedPtr<SourceMedia> MakeSource(const Picture& p, std::vector<Sound> sounds) {
    nvtl::RefCountedPtr<SourceMedia> s(new SourceMedia(W("/v/clip.mp4")));
    nvtl::RefCountedPtr<SourceMediaVideoTrack> v(new SourceMediaVideoTrack());
    v->width = p.width;
    v->height = p.height;
    v->frameRate = p.frameRate;
    v->angle = p.angle;
    s->videoTracks.emplace_back();
    s->videoTracks.back() = v.get();
    for (const Sound& sound : sounds) {
        nvtl::RefCountedPtr<SourceMediaAudioTrack> a(new SourceMediaAudioTrack());
        a->channelCount = sound.channels;
        a->sampleRate = sound.sampleRate;
        a->bitsPerSample = sound.bits;
        s->audioTracks.emplace_back();
        s->audioTracks.back() = a.get();
    }
    return s;
}

class SourceListTest : public ::testing::Test {
protected:
    // The session never connects here; the location is never started.
    nvtl::RefCountedPtr<TranscodeSession> session{new TranscodeSession(W("/nonexistent/engine"))};
    nvtl::RefCountedPtr<SourceMedia> first = MakeSource({}, {{}, {}});

    int32_t Count() {
        int32_t n = -1;
        EXPECT_EQ(session->GetSourceCount(&n), SUCCESS);
        return n;
    }
};

TEST_F(SourceListTest, JoinChecksAnswerInTheirOrder) {
    ASSERT_EQ(session->AddSource(first.get()), SUCCESS);

    Picture turned;
    turned.angle = 90;
    turned.width = 1280; // also differs, but the angle is checked first
    EXPECT_EQ(session->AddSource(MakeSource(turned, {{}, {}}).get()),
              Combine_impossible_different_VideoAngle);

    Picture narrower;
    narrower.width = 1280;
    EXPECT_EQ(session->AddSource(MakeSource(narrower, {{}, {}}).get()),
              Combine_impossible_different_Width_Height_FPS);
    Picture lower;
    lower.height = 720;
    EXPECT_EQ(session->AddSource(MakeSource(lower, {{}, {}}).get()),
              Combine_impossible_different_Width_Height_FPS);
    Picture faster;
    faster.frameRate = 25.000001; // compared exactly
    EXPECT_EQ(session->AddSource(MakeSource(faster, {{}, {}}).get()),
              Combine_impossible_different_Width_Height_FPS);

    EXPECT_EQ(session->AddSource(MakeSource({}, {{}}).get()),
              Combine_impossible_different_AudioTrackCount);

    Sound mono;
    mono.channels = 1;
    EXPECT_EQ(session->AddSource(MakeSource({}, {{}, mono}).get()),
              Combine_impossible_different_ChannelCount_SampleRate_BitsPerSample);
    Sound lowRate;
    lowRate.sampleRate = 44100;
    EXPECT_EQ(session->AddSource(MakeSource({}, {lowRate, {}}).get()),
              Combine_impossible_different_ChannelCount_SampleRate_BitsPerSample);
    Sound deep;
    deep.bits = 24;
    EXPECT_EQ(session->AddSource(MakeSource({}, {{}, deep}).get()),
              Combine_impossible_different_ChannelCount_SampleRate_BitsPerSample);

    EXPECT_EQ(Count(), 1); // nothing refused was added

    // An extra audio track beyond the first source's is accepted.
    EXPECT_EQ(session->AddSource(MakeSource({}, {{}, {}, mono}).get()), SUCCESS);
    EXPECT_EQ(Count(), 2);
}

TEST_F(SourceListTest, IndexedOperationsCheckTheirArguments) {
    ISourceMedia* out = nullptr;
    EXPECT_EQ(session->GetSource(0, &out), NotAvailable);
    EXPECT_EQ(session->RemoveSourceAt(0), NotAvailable);
    EXPECT_EQ(session->AddSource(nullptr), InvalidArgument);
    EXPECT_EQ(session->GetSourceCount(nullptr), InvalidArgument);

    ASSERT_EQ(session->AddSource(first.get()), SUCCESS);
    EXPECT_EQ(first->GetRefCount(), 2);
    EXPECT_EQ(session->GetSource(1, &out), InvalidArgument);
    EXPECT_EQ(session->GetSource(0, nullptr), InvalidArgument);
    ASSERT_EQ(session->GetSource(0, &out), SUCCESS);
    EXPECT_EQ(out, first.get());
    EXPECT_EQ(first->GetRefCount(), 3); // the receiver's reference
    out->Release();

    auto other = MakeSource({}, {{}, {}});
    EXPECT_EQ(session->RemoveSource(other.get()), InvalidArgument);
    EXPECT_EQ(session->RemoveSource(nullptr), InvalidArgument);
    EXPECT_EQ(session->RemoveSourceAt(1), InvalidArgument);
    ASSERT_EQ(session->AddSource(other.get()), SUCCESS);
    ASSERT_EQ(session->AddSource(first.get()), SUCCESS);    // the same source twice
    EXPECT_EQ(session->RemoveSource(first.get()), SUCCESS); // only the first entry
    ASSERT_EQ(Count(), 2);
    ASSERT_EQ(session->GetSource(0, &out), SUCCESS);
    EXPECT_EQ(out, other.get());
    out->Release();
    EXPECT_EQ(session->RemoveSourceAt(1), SUCCESS);
    EXPECT_EQ(first->GetRefCount(), 1);
    EXPECT_EQ(session->ClearSources(), SUCCESS);
    EXPECT_EQ(Count(), 0);
    EXPECT_EQ(other->GetRefCount(), 1);
}

TEST_F(SourceListTest, ExtraSourcesTakeAnythingWithoutJoinChecks) {
    ASSERT_EQ(session->AddSource(first.get()), SUCCESS);
    Picture other;
    other.width = 640;
    auto subtitles = MakeSource(other, {});
    EXPECT_EQ(session->AddExtraSource(subtitles.get()), SUCCESS);
    EXPECT_EQ(session->AddExtraSource(nullptr), InvalidArgument);
    int32_t n = 0;
    EXPECT_EQ(session->GetExtraSourceCount(&n), SUCCESS);
    EXPECT_EQ(n, 1);
    ISourceMedia* out = nullptr;
    EXPECT_EQ(session->GetExtraSource(1, &out), InvalidArgument);
    ASSERT_EQ(session->GetExtraSource(0, &out), SUCCESS);
    EXPECT_EQ(out, subtitles.get());
    out->Release();
    EXPECT_EQ(session->RemoveExtraSource(first.get()), InvalidArgument);
    EXPECT_EQ(session->RemoveExtraSourceAt(0), SUCCESS);
    EXPECT_EQ(session->RemoveExtraSourceAt(0), NotAvailable);
    EXPECT_EQ(session->ClearExtraSources(), SUCCESS);
    EXPECT_EQ(session->GetSourceCount(&n), SUCCESS);
    EXPECT_EQ(n, 1);
}

TEST_F(SourceListTest, StartChecksComeBeforeAnyEngineWork) {
    nvtl::RefCountedPtr<ITranscodeOutputSettings> settings;
    EXPECT_EQ(session->Start(WideString(), nullptr), InvalidArgument); // even without sources
    EXPECT_EQ(session->Start(W("/out/a.mkv"), nullptr), NotAvailable); // no sources
    ASSERT_EQ(session->AddSource(first.get()), SUCCESS);
    EXPECT_EQ(session->Start(W("/out/a.mkv"), nullptr), NotAvailable); // no settings
    EXPECT_EQ(session->SetOutputSettings(nullptr), InvalidArgument);
    EXPECT_EQ(session->SetEngineInfo(nullptr), InvalidArgument);
    EXPECT_EQ(session->Cancel(), NotAvailable); // never connected
    TranscodeState state = TS_Failed;
    EXPECT_EQ(session->GetState(&state), SUCCESS);
    EXPECT_EQ(state, TS_Pending);
    EXPECT_EQ(session->GetState(nullptr), InvalidArgument);
    ITranscodeOutputProperties* properties = nullptr;
    EXPECT_EQ(session->GetOutputProperties(nullptr), InvalidArgument);
    EXPECT_EQ(session->GetOutputProperties(&properties), NotAvailable); // no settings, no info
    EXPECT_EQ(properties, nullptr);
}

} // namespace
} // namespace nvt
