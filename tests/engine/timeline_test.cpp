// Transcodes of sources whose timeline is not straight, read back with
// ffprobe and ffmpeg: recordings joined with cat whose clock goes back or
// jumps ahead, a playlist that trims its files, and a picture that does not
// decode. Each output lasts what plays of its source, with every picture,
// and its packets' timestamps rise stream by stream.
#include <gtest/gtest.h>

#include <map>

#include "corpus.h"
#include "support/temp_dir.h"
#include "timeline.h"
#include "transcode_support.h"

namespace nvt {
namespace {

using nlohmann::json;
using SourceRef = nvtl::RefCountedPtr<ISourceMedia>;

constexpr double kFrame = 0.04; // of the 25 frames per second sources

double Seconds(const json& value) {
    return value.is_string() ? std::atof(value.get<std::string>().c_str()) : -1.0;
}

TEST(RealEngineTimeline, JumpsTrimsAndDamagedPicturesPlayStraightThrough) {
    struct Row {
        const char* source;
        uint64_t analysedMs; // of the first source the analysis gave
        double seconds;      // of the output
        int pictures;
        int distinct; // pictures that differ from the one before, at least
        bool audio;
    };
    const Row rows[] = {
        // 1 s at 21.4 s, then 1 s at 1.4 s.
        {"ts_back.ts", 2000, 2.0, 50, 49, true},
        // 1 s at 1.4 s, then 1 s at 21.4 s.
        {"ts_ahead.ts", 2000, 2.0, 50, 49, true},
        // MPEG-PS: 1 s at 20 s, then 1 s at 0.5 s.
        {"ps_back.vob", 2000, 2.0, 50, 49, true},
        // 0.8 s, 0.4 s and 0.4 s of three files of two seconds.
        {"trims.ffconcat", 1000, 1.6, 40, 39, true},
        // 25 pictures; the 24th does not decode and the 23rd stands in.
        {"damaged.avi", 1000, 1.0, 25, 24, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.source);
        const std::vector<SourceRef> sources = norv_test::AnalysedAll(row.source);
        ASSERT_FALSE(sources.empty());
        uint64_t analysed = 0;
        sources.front()->GetDuration(&analysed);
        EXPECT_EQ(analysed, row.analysedMs);

        norv_test::TempDir dir;
        auto settings = norv_test::SettingsFor(NP_NorvPlusHD);
        settings->SetAudioTracks(row.audio ? std::vector<uint32_t>{0} : std::vector<uint32_t>{});
        norv_test::Run run = norv_test::Prepare(sources, *settings);
        const std::string output = dir.file("out.mkv");
        norv_test::Start(run, output);
        ASSERT_EQ(norv_test::Finish(run), SUCCESS);

        const json probe = norv_test::Probe(output);
        EXPECT_NEAR(norv_test::Number(probe["format"], "duration"), row.seconds, 2 * kFrame);
        ASSERT_EQ(norv_test::Streams(probe, "audio").size(), row.audio ? 1u : 0u);
        // Per stream: packets, first and furthest end, and rising times.
        std::map<int, int> packets;
        std::map<int, double> first, end, last;
        for (const json& p : norv_test::Packets(output)) {
            const int stream = p.value("stream_index", -1);
            const double pts = Seconds(p.value("pts_time", json()));
            if (packets[stream]++ == 0) {
                first[stream] = pts;
            }
            // Matroska leaves out the decoding time of reordered pictures.
            if (p.contains("dts_time")) {
                const double dts = Seconds(p.value("dts_time", json()));
                EXPECT_TRUE(last.count(stream) == 0 || dts > last[stream]) << "stream " << stream;
                last[stream] = dts;
            }
            end[stream] = std::max(end[stream], pts + Seconds(p.value("duration_time", json())));
        }
        EXPECT_NEAR(packets[0], row.pictures, 1);
        EXPECT_GE(norv_test::DistinctPictures(output), row.distinct);
        for (const auto& stream : packets) {
            const int s = stream.first;
            EXPECT_NEAR(end[s] - first[s], row.seconds, 2 * kFrame) << "stream " << s;
        }
    }
}

TEST(TimestampFolder, AResetClockGoesOnForEveryStreamAndLatePacketsKeepTheirPart) {
    using norv_engine::TimestampFolder;
    struct Packet {
        unsigned stream;
        double at;      // seconds of the file
        double shifted; // seconds it is moved to
    };
    struct Row {
        const char* what;
        bool folding;
        std::vector<Packet> packets;
    };
    const double frame = 0.04;
    const Row rows[] = {
        // The picture jumps first; a late sound packet of the part before
        // keeps its time, and the sound after the jump lines up with its
        // picture again.
        {"a clock reset",
         true,
         {{0, 100.0, 100.0},
          {1, 100.0, 100.0},
          {0, 100.04, 100.04},
          {1, 100.04, 100.04},
          {0, 3.0, 100.08},
          {1, 100.08, 100.08},
          {1, 3.0, 100.08},
          {0, 3.04, 100.12}}},
        {"a jump ahead", true, {{0, 1.0, 1.0}, {0, 1.04, 1.04}, {0, 60.0, 1.08}, {0, 60.04, 1.12}}},
        {"a gap of a few seconds stays", true, {{0, 1.0, 1.0}, {0, 3.0, 3.0}}},
        {"a format without discontinuities", false, {{0, 100.0, 100.0}, {0, 3.0, 3.0}}},
        {"a gap of minutes stays in such a format", false, {{0, 1.0, 1.0}, {0, 300.0, 300.0}}},
        // A damaged file: hours of silence and repeated pictures otherwise.
        {"a jump of hours ahead in such a format",
         false,
         {{0, 1.0, 1.0}, {1, 1.0, 1.0}, {0, 9000.0, 1.04}, {1, 1.04, 1.04}}},
        {"a stream that starts hours after the others",
         false,
         {{0, 1.0, 1.0}, {0, 1.04, 1.04}, {1, 9000.0, 1.08}, {1, 9000.04, 1.12}}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        TimestampFolder folder;
        folder.Reset(row.folding, 2);
        for (const Packet& p : row.packets) {
            const auto at = static_cast<int64_t>(p.at * AV_TIME_BASE);
            const int64_t shift =
                folder.ShiftFor(p.stream, at, static_cast<int64_t>(frame * AV_TIME_BASE), true);
            EXPECT_NEAR(static_cast<double>(at + shift) / AV_TIME_BASE, p.shifted, 1e-6)
                << "stream " << p.stream << " at " << p.at;
        }
    }
}

} // namespace
} // namespace nvt
