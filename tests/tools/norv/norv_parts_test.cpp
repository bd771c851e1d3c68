// How a film is cut into parts and its video budget shared between them,
// which codec headers let the parts join as one stream, and parts encoded
// on local engines through the real engine and joined.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <numeric>

#include <gtest/gtest.h>

#include "norv_process.h"
#include "parts/part_plan.h"
#include "parts/stream_headers.h"
#include "support/temp_dir.h"

namespace norv_test {
namespace {

// A film of one file: frames at 25 per second, cuts allowed at the given
// frame numbers (frame 0 always), bytes per frame given per frame range.
norv::FilmScan OneFile(size_t frames, const std::vector<size_t>& cuts, uint32_t bytes = 1000) {
    norv::FilmScan film;
    film.files.push_back({"/films/a.mkv", 10.0, frames / 25.0, 0.0});
    for (size_t i = 0; i < frames; ++i) {
        film.frames.push_back({i / 25.0, bytes, i == 0});
    }
    for (size_t c : cuts) {
        film.frames[c].cut = true;
    }
    film.seconds = frames / 25.0;
    return film;
}

TEST(NorvParts, AFilmIsCutAtTheKeyframesNearestEqualShares) {
    struct Case {
        const char* what;
        size_t frames;
        std::vector<size_t> cuts;
        uint32_t count;
        std::vector<size_t> starts; // empty: the split is refused
    };
    // clang-format off
    const Case cases[] = {
        {"a keyframe at every share", 100, {25, 50, 75}, 4, {0, 25, 50, 75}},
        {"the nearest of uneven keyframes", 100, {10, 30, 70, 90}, 3, {0, 30, 70}},
        {"one part is the whole film", 100, {50}, 1, {0}},
        {"a keyframe crowded out is not taken twice", 100, {48, 49}, 3, {0, 48, 49}},
        {"too few keyframes", 100, {50}, 3, {}},
        {"no keyframe but the first", 100, {}, 2, {}},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const norv::FilmScan film = OneFile(c.frames, c.cuts);
        if (c.starts.empty()) {
            EXPECT_THROW(norv::SplitFilm(film, c.count), norv::SplitError);
            continue;
        }
        const std::vector<norv::PartSpan> parts = norv::SplitFilm(film, c.count);
        ASSERT_EQ(parts.size(), c.starts.size());
        for (size_t k = 0; k < parts.size(); ++k) {
            EXPECT_EQ(parts[k].firstFrame, c.starts[k]);
            // Every picture in exactly one part, in order, none empty.
            EXPECT_EQ(parts[k].endFrame, k + 1 < parts.size() ? c.starts[k + 1] : c.frames);
            EXPECT_LT(parts[k].firstFrame, parts[k].endFrame);
            EXPECT_EQ(parts[k].sourceBytes, 1000u * (parts[k].endFrame - parts[k].firstFrame));
        }
        EXPECT_DOUBLE_EQ(parts.back().to, c.frames / 25.0);
    }
}

TEST(NorvParts, APartPlaysTheStretchesOfTheFilesItSpans) {
    // Two files joined: 4 s starting at 10 s of its own clock, then 4 s
    // starting at 0; keyframes every second.
    norv::FilmScan film;
    film.files = {{"/films/a.mkv", 10.0, 4.0, 0.0}, {"/films/b.mkv", 0.0, 4.0, 4.0}};
    for (size_t i = 0; i < 200; ++i) {
        film.frames.push_back({i / 25.0, 100, i % 25 == 0});
    }
    film.seconds = 8.0;
    const std::vector<norv::PartSpan> parts = norv::SplitFilm(film, 3);
    ASSERT_EQ(parts.size(), 3u);
    // Cuts near 2.67 s and 5.33 s: at 3 s and 5 s.
    ASSERT_EQ(parts[0].entries.size(), 1u);
    EXPECT_TRUE(parts[0].entries[0].fromStart);
    EXPECT_FALSE(parts[0].entries[0].toEnd);
    EXPECT_DOUBLE_EQ(parts[0].entries[0].outpoint, 13.0);
    ASSERT_EQ(parts[1].entries.size(), 2u);
    EXPECT_EQ(parts[1].entries[0].path, "/films/a.mkv");
    EXPECT_DOUBLE_EQ(parts[1].entries[0].inpoint, 13.0);
    EXPECT_TRUE(parts[1].entries[0].toEnd);
    EXPECT_EQ(parts[1].entries[1].path, "/films/b.mkv");
    EXPECT_TRUE(parts[1].entries[1].fromStart);
    EXPECT_DOUBLE_EQ(parts[1].entries[1].outpoint, 1.0);
    ASSERT_EQ(parts[2].entries.size(), 1u);
    EXPECT_DOUBLE_EQ(parts[2].entries[0].inpoint, 1.0);
    EXPECT_TRUE(parts[2].entries[0].toEnd);
}

TEST(NorvParts, TheBudgetIsSharedByHowHardEachPartIs) {
    struct Case {
        const char* what;
        std::vector<uint64_t> bytes; // source bytes of 10 s parts
        double min, max;
        std::vector<double> expected; // bits per second; 0: checked by order only
    };
    // clang-format off
    const Case cases[] = {
        {"alike parts alike", {5000, 5000, 5000}, 0, 0, {1e6, 1e6, 1e6}},
        {"a harder part more, but not in proportion", {1000, 8000}, 0, 0, {0, 0}},
        {"a part held at the highest gives the rest to the others", {1000, 64000}, 0, 1.2e6,
         {8e5, 1.2e6}},
        {"a part held at the lowest takes it from the others", {1, 64000}, 5e5, 0, {5e5, 1.5e6}},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<norv::PartSpan> parts;
        for (size_t k = 0; k < c.bytes.size(); ++k) {
            norv::PartSpan part;
            part.from = 10.0 * k;
            part.to = 10.0 * (k + 1);
            part.sourceBytes = c.bytes[k];
            parts.push_back(part);
        }
        const std::vector<double> rates = norv::ShareBitrate(parts, 1e6, c.min, c.max);
        // The whole film's bits, whatever the shares.
        EXPECT_NEAR(std::accumulate(rates.begin(), rates.end(), 0.0), 1e6 * rates.size(), 1.0);
        for (size_t k = 0; k < rates.size(); ++k) {
            if (c.expected[k] > 0) {
                EXPECT_NEAR(rates[k], c.expected[k], 1.0) << "part " << k;
            }
        }
        if (c.expected[0] == 0) {
            EXPECT_GT(rates[1], rates[0]);
            EXPECT_LT(rates[1] / rates[0], 8.0);
        }
    }
}

TEST(NorvParts, PartsJoinWhenTheirHeadersDifferOnlyInTheLevel) {
    const std::vector<uint8_t> level40 = {1, 100, 0, 40, 0xff, 0xe1, 0, 4, 0x67, 100, 0, 40};
    const std::vector<uint8_t> level41 = {1, 100, 0, 41, 0xff, 0xe1, 0, 4, 0x67, 100, 0, 41};
    const std::vector<uint8_t> otherProfile = {1, 77, 0, 40, 0xff, 0xe1, 0, 4, 0x67, 77, 0, 40};
    struct Case {
        const char* what;
        int levelByte;
        std::vector<uint8_t> a, b;
        bool agree;
        int keep;
    };
    // clang-format off
    const Case cases[] = {
        {"the same", 3, level40, level40, true, 0},
        {"a higher level later", 3, level40, level41, true, 1},
        {"a higher level first", 3, level41, level40, true, 0},
        {"another profile", 3, level40, otherProfile, false, 0},
        {"a codec without a level to tell apart", -1, level40, level41, false, 0},
        {"of other lengths", 3, level40, {1, 100, 0, 41}, false, 0},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        int keep = -1;
        EXPECT_EQ(norv::HeadersAgree(c.levelByte, c.a, c.b, keep), c.agree);
        if (c.agree) {
            EXPECT_EQ(keep, c.keep);
        }
    }
}

TEST(NorvParts, H264PartsJoinWhenTheHigherLevelPromisesNoLess) {
    // x264's records for two parts of a small picture at levels 1b and
    // 1.2: their SPSs differ in the longest motion vectors, which x264
    // takes from the level.
    // clang-format off
    const std::vector<uint8_t> level1b = {
        0x01, 0x64, 0x00, 0x09, 0xff, 0xe1, 0x00, 0x1c, 0x67, 0x64, 0x00, 0x09, 0xac, 0xd9, 0x42,
        0x0d, 0xb0, 0x16, 0xa0, 0xc0, 0xc0, 0xc8, 0x00, 0x00, 0x03, 0x00, 0x08, 0x00, 0x00, 0x03,
        0x01, 0x90, 0x78, 0x91, 0x2c, 0xb0, 0x01, 0x00, 0x05, 0x68, 0xeb, 0xec, 0xb2, 0x2c, 0xfd,
        0xf8, 0xf8, 0x00};
    // clang-format on
    std::vector<uint8_t> level12 = level1b;
    level12[3] = level12[11] = 0x0c;
    level12[33] = 0xa1;
    level12[34] = 0x4c;
    // The levels swapped: the higher one would promise shorter vectors.
    std::vector<uint8_t> shortAtHigh = level1b, longAtLow = level12;
    shortAtHigh[3] = shortAtHigh[11] = 0x0c;
    longAtLow[3] = longAtLow[11] = 0x09;
    std::vector<uint8_t> otherSize = level1b;
    otherSize[14] ^= 0x02;
    struct Case {
        const char* what;
        std::vector<uint8_t> a, b;
        bool agree;
        int keep;
    };
    const Case cases[] = {
        {"a higher level later", level1b, level12, true, 1},
        {"a higher level first", level12, level1b, true, 0},
        {"the higher level promising less", longAtLow, shortAtHigh, false, 0},
        {"a field other than the level", level1b, otherSize, false, 0},
        {"not a record", level1b, {1, 100}, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        int keep = -1;
        EXPECT_FALSE(norv::HeadersAgree(3, c.a, c.b, keep));
        EXPECT_EQ(norv::AvcHeadersAgree(c.a, c.b, keep), c.agree);
        if (c.agree) {
            EXPECT_EQ(keep, c.keep);
        }
    }
}

#if defined(NORV_REAL_ENGINE) && !defined(_WIN32)

namespace fs = std::filesystem;

// The number of video packets in a file, as ffprobe counts them.
long VideoPackets(const std::string& path) {
    const std::string command = "ffprobe -v error -select_streams v:0 -count_packets "
                                "-show_entries stream=nb_read_packets -of csv=p=0 '" +
                                path + "'";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return -1;
    }
    long count = -1;
    if (std::fscanf(pipe, "%ld", &count) != 1) {
        count = -1;
    }
    ::pclose(pipe);
    return count;
}

TEST(NorvPartsRun, LocalPartsJoinIntoTheWholeFilmAndQualityIsChosenOnce) {
    TempDir dir;
    const std::string film = (fs::path(dir.path()) / "film.mkv").string();
    // 6 s in two scenes, a keyframe every second, with sound; in Matroska its
    // pictures start a little after the file (the sound first).
    const std::string make =
        "ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc2=size=320x240:rate=25:duration=3 "
        "-f lavfi -i testsrc2=size=320x240:rate=25:duration=3,hue=h=120,noise=alls=20:allf=t "
        "-f lavfi -i sine=frequency=440:duration=6 -filter_complex '[0:v][1:v]concat=n=2[v]' "
        "-map '[v]' -map 2:a -c:v libx264 -preset ultrafast -g 25 -pix_fmt yuv420p -c:a aac '" +
        film + "'";
    ASSERT_EQ(std::system(make.c_str()), 0) << make;
    const long frames = VideoPackets(film);
    ASSERT_EQ(frames, 150);
    NorvOptions options;
    options.folder = dir.path();
    options.env["NORV_ENGINE"] = NORV_REAL_ENGINE;

    struct Case {
        const char* what;
        std::vector<std::string> args;
        const char* refusal; // empty: the film is made
    };
    // clang-format off
    const Case cases[] = {
        {"parts on two local engines", {"--parts", "3", "--jobs", "2"}, ""},
        {"a bitrate chosen by one probe of the whole film, shared by the parts",
         {"--parts", "2", "--quality", "0.9"}, ""},
        {"a task that would probe on its own", {"--parts", "2", "--part", "1/2", "--quality", "0.9"},
         "give its video bitrate to every task and the join as --video-bitrate"},
        {"a join that would probe on its own", {"--parts", "2", "--join", "--quality", "0.9"},
         "give its video bitrate to every task and the join as --video-bitrate"},
    };
    // clang-format on
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string output =
            (fs::path(dir.path()) / ("out" + std::to_string(++n) + ".mkv")).string();
        std::vector<std::string> args = {"--json", "transcode", film, "-p",  "NorvPlusHD",
                                         "--size", "160x96",    "-o", output};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const NorvOutput run = RunNorv(args, options);
        EXPECT_FALSE(fs::exists(output + ".parts"));
        if (*c.refusal != '\0') {
            EXPECT_EQ(run.status, 1);
            EXPECT_NE(run.err.find(c.refusal), std::string::npos) << run.err;
            EXPECT_FALSE(fs::exists(output));
            continue;
        }
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(VideoPackets(output), frames);
        bool planned = false, joined = false;
        for (const nlohmann::json& event : JsonLines(run.out)) {
            planned = planned || event.at("event") == "quality_plan";
            joined = joined || (event.at("event") == "joined" && event.at("frames") == frames);
        }
        EXPECT_TRUE(joined) << run.out;
        EXPECT_EQ(planned, std::find(c.args.begin(), c.args.end(), "--quality") != c.args.end());
    }
}

#endif

} // namespace
} // namespace norv_test
