// The sound of real-world sources through the real engine, read back with
// ffprobe and ffmpeg's astats: surround capped per profile and downmixed
// with every channel heard, and joins whose sound changes format on the
// way keeping one continuous track.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "corpus.h"
#include "support/temp_dir.h"
#include "transcode_support.h"

namespace nvt {
namespace {

using SourceRef = nvtl::RefCountedPtr<ISourceMedia>;

// A tone of amplitude 0.5 in some channels is far above this; a downmix
// that drops those channels is silence.
constexpr double kHeardDb = -40.0;

TEST(RealEngineSound, SurroundIsCappedPerProfileAndDownmixedWithEveryChannelHeard) {
    struct Row {
        const char* what;
        const char* source;
        uint32_t track;
        NorvProfile profile;
        AudioCodec codec; // AC_UNKNOWN: the profile's first
        bool passthrough;
        bool requiresTranscode; // the analysis's verdict for the profile
        const char* outCodec;
        int channels;
    };
    // surround51.mkv: AAC 5.1, then AC3 5.1, the tone in the centre;
    // surround71.mkv: FLAC 7.1, the tone in the side channels.
    const Row rows[] = {
        {"5.1 into the phone", "surround51.mkv", 0, NP_iPhoneMP4H264, AC_UNKNOWN, false, true,
         "aac", 2},
        {"5.1 into the handheld's AC3", "surround51.mkv", 0, NP_Mobile, AC_AC3, false, true, "ac3",
         2},
        {"5.1 kept", "surround51.mkv", 0, NP_NorvPlusHD, AC_UNKNOWN, false, false, "aac", 6},
        {"5.1 AC3 passed through", "surround51.mkv", 1, NP_NorvPlusHD, AC_UNKNOWN, true, false,
         "ac3", 6},
        {"7.1 into AC3", "surround71.mkv", 0, NP_HD720, AC_AC3, false, true, "ac3", 6},
        {"7.1 into AAC", "surround71.mkv", 0, NP_NorvPlusHD, AC_UNKNOWN, false, true, "aac", 6},
        {"7.1 into the tablet", "surround71.mkv", 0, NP_iPadMP4H264, AC_UNKNOWN, false, true, "aac",
         2},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const SourceRef source = norv_test::Analysed(row.source);
        ASSERT_TRUE(source);
        ISourceMediaAudioTrack* track = nullptr;
        ASSERT_EQ(source->GetAudioTrack(row.track, &track), SUCCESS);
        bool requires = false, possible = false;
        EXPECT_EQ(track->GetTranscodeRequirement(row.profile, &requires, &possible), SUCCESS);
        track->Release();
        EXPECT_EQ(requires, row.requiresTranscode);
        EXPECT_TRUE(possible);

        norv_test::TempDir dir;
        auto settings = norv_test::SettingsFor(row.profile);
        settings->SetAudioTracks({row.track});
        settings->SetAudioPassthrough(row.passthrough);
        if (row.codec != AC_UNKNOWN) {
            settings->SetTrackCodecs({row.codec});
        }
        norv_test::Run run = norv_test::Prepare({source}, *settings);
        const std::string output = dir.file("out");
        norv_test::Start(run, output);
        ASSERT_EQ(norv_test::Finish(run), SUCCESS);
        const auto audio = norv_test::Streams(norv_test::Probe(output), "audio");
        ASSERT_EQ(audio.size(), 1u);
        EXPECT_EQ(audio[0].value("codec_name", ""), row.outCodec);
        EXPECT_EQ(audio[0].value("channels", 0), row.channels);
        EXPECT_GT(norv_test::SoundLevel(output), kHeardDb);
    }
}

TEST(RealEngineSound, SoundThatChangesFormatOnTheWayStaysOneContinuousTrack) {
    struct Row {
        const char* what;
        std::vector<const char*> sources;
        NorvProfile profile;
        bool passthrough;
        double seconds; // the sum of the parts
    };
    const std::vector<const char*> camera = {"camera_pcm.mov", "phone_aac.mp4"};
    const std::vector<const char*> dvb = {"dvb_switch.ts"};
    const Row rows[] = {
        // PCM then AAC, both 48 kHz stereo, a second each.
        {"camera PCM joined with phone AAC", camera, NP_NorvPlusHD, false, 2.0},
        {"the same into MP4", camera, NP_iPadMP4H264, false, 2.0},
        // AC3 going from 2.0 to 5.1 after 0.96 s, of 1.96.
        {"AC3 switching its layout", dvb, NP_NorvPlusHD, false, 1.96},
        {"the same into AVI's MP3", dvb, NP_HD720, false, 1.96},
        {"the same passed through", dvb, NP_NorvPlusHD, true, 1.96},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        std::vector<SourceRef> sources;
        for (const char* name : row.sources) {
            sources.push_back(norv_test::Analysed(name));
            ASSERT_TRUE(sources.back());
        }
        norv_test::TempDir dir;
        auto settings = norv_test::SettingsFor(row.profile);
        settings->SetAudioTracks({0});
        settings->SetAudioPassthrough(row.passthrough);
        norv_test::Run run = norv_test::Prepare(sources, *settings);
        const std::string output = dir.file("out");
        norv_test::Start(run, output);
        ASSERT_EQ(norv_test::Finish(run), SUCCESS);
        ASSERT_EQ(norv_test::Streams(norv_test::Probe(output), "audio").size(), 1u);
        const std::vector<norv_test::PacketTime> packets = norv_test::AudioPackets(output);
        ASSERT_FALSE(packets.empty());
        // Rising, without a gap or an overlap: each packet starts where the
        // one before ended (within a millisecond of the container's clock).
        for (size_t i = 1; i < packets.size(); ++i) {
            ASSERT_GT(packets[i].start, packets[i - 1].start) << "packet " << i;
            EXPECT_NEAR(packets[i].start, packets[i - 1].start + packets[i - 1].duration, 0.0015)
                << "packet " << i;
        }
        const double lasts =
            packets.back().start + packets.back().duration - std::max(0.0, packets.front().start);
        EXPECT_NEAR(lasts, row.seconds, 0.1);
        EXPECT_GT(norv_test::SoundLevel(output), kHeardDb);
    }
}

// A joined file's sound starts with its picture, however small the gap the
// file before left: a second of quiet pictures whose sound ends 80 ms
// early, then a tone, against the same with all the quiet sound.
TEST(RealEngineSound, JoinedSoundStartsWithItsPicture) {
    struct Row {
        const char* what;
        NorvProfile profile;
    };
    const Row rows[] = {
        {"into Matroska's AAC", NP_NorvPlusHD},
        {"into AVI's MP3", NP_HD720},
    };
    const auto onset = [](const char* first, NorvProfile profile) {
        norv_test::TempDir dir;
        auto settings = norv_test::SettingsFor(profile);
        settings->SetAudioTracks({0});
        norv_test::Run run = norv_test::Prepare(
            {norv_test::Analysed(first), norv_test::Analysed("tone.mp4")}, *settings);
        const std::string output = dir.file("out");
        norv_test::Start(run, output);
        EXPECT_EQ(norv_test::Finish(run), SUCCESS);
        return norv_test::SoundOnset(output);
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const double whole = onset("quiet.mp4", row.profile);
        EXPECT_NEAR(whole, 1.0, 0.05);
        EXPECT_NEAR(onset("quiet_short.mp4", row.profile), whole, 0.01);
    }
}

TEST(RealEngineSound, CopiedSoundOfOverlappingRecordingsLeavesTheOverlapOut) {
    const SourceRef source = norv_test::Analysed("dvb_overlap.ts");
    ASSERT_TRUE(source);
    norv_test::TempDir dir;
    auto settings = norv_test::SettingsFor(NP_NorvPlusHD);
    settings->SetAudioTracks({0});
    settings->SetAudioPassthrough(true);
    norv_test::Run run = norv_test::Prepare({source}, *settings);
    const std::string output = dir.file("out");
    norv_test::Start(run, output);
    ASSERT_EQ(norv_test::Finish(run), SUCCESS);
    const std::vector<norv_test::PacketTime> packets = norv_test::AudioPackets(output);
    ASSERT_FALSE(packets.empty());
    for (size_t i = 1; i < packets.size(); ++i) {
        ASSERT_GT(packets[i].start, packets[i - 1].start) << "packet " << i;
    }
    EXPECT_EQ(norv_test::Streams(norv_test::Probe(output), "audio")[0]["codec_name"], "ac3");
}

} // namespace
} // namespace nvt
