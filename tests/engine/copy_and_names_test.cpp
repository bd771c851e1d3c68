// Outputs whose names hold what users type (':', quotes, '=', '\', '%',
// non-ASCII): the two-pass encoders get their statistics and nothing but
// the output is left, also after a cancel. And the copy decisions: a
// stream is copied only when the output shows it as the source does and
// keeps to its size limit.
#include <gtest/gtest.h>

#include <filesystem>

#include "corpus.h"
#include "platform/text.h"
#include "support/temp_dir.h"
#include "transcode_support.h"

namespace nvt {
namespace {

using nlohmann::json;
using norv_test::CallbackEvent;
using SourceRef = nvtl::RefCountedPtr<ISourceMedia>;

TEST(RealEngineNames, AnyOutputNameGetsItsOutputAndNothingElse) {
    struct Row {
        std::string name; // of the output's folder and file
        NorvProfile profile;
        bool tempFolder; // the work goes through a temporary folder of that name too
        bool cancel;     // cancelled in its first pass
    };
    const Row rows[] = {
        {"Star Trek: Picard", NP_HEVC720, false, false},
        {"Don't Look Up", NP_HEVC720, false, false},
        {"100% a=b\\c: 'd'", NP_HEVC720, true, false},
        {"\xc3\x9c"
         "bers\xc3\xa4tze \xe6\x9d\xb1\xe4\xba\xac: x=1",
         NP_NorvPlusHD, true, false},
        {"Don't: 50% \\ =", NP_NorvPlusHD, false, false},
        // As long as a file name may be (with ".mkv").
        {std::string(240, 'n') + " '=:%", NP_HEVC720, false, false},
        {"Star Trek: Picard", NP_HEVC720, false, true},
        {"Don't: 50% \\ =", NP_HEVC720, true, true},
    };
    const SourceRef clip = norv_test::Analysed("part1.mp4"); // 1 s
    const SourceRef film = norv_test::Analysed("long.mp4");  // 20 s, to be cancelled
    ASSERT_TRUE(clip && film);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name + (row.cancel ? ", cancelled" : ""));
        norv_test::TempDir dir;
        const std::string folder = dir.file(row.name);
        const std::string temp = dir.file("temp " + row.name.substr(0, 200));
        std::filesystem::create_directories(folder);
        std::filesystem::create_directories(temp);
        auto settings = norv_test::SettingsFor(row.profile);
        settings->SetAudioTracks({0});
        settings->SetVideo2Pass(true);
        settings->SetTitle(row.name);
        settings->SetTempDir(W(temp.c_str()));
        settings->SetUseTempDir(row.tempFolder);
        norv_test::Run run = norv_test::Prepare({row.cancel ? film : clip}, *settings);
        const std::string output = folder + "/" + row.name + ".mkv";
        norv_test::Start(run, output);
        const std::string work = row.tempFolder ? temp : folder;
        if (row.cancel) {
            // Once the first pass writes its statistics.
            ASSERT_TRUE(norv_test::WaitUntil([&] {
                return !norv_test::FolderEntries(work).empty() ||
                       norv_test::StateOf(*run.session) != TS_Running;
            }));
            ASSERT_EQ(norv_test::StateOf(*run.session), TS_Running);
            EXPECT_EQ(run.session->Cancel(), SUCCESS);
            EXPECT_TRUE(norv_test::WaitUntil([&] {
                return norv_test::FolderEntries(folder).empty() &&
                       norv_test::FolderEntries(temp).empty();
            }));
            continue;
        }
        ASSERT_EQ(norv_test::Finish(run), SUCCESS);
        EXPECT_EQ(norv_test::FolderEntries(folder), std::vector<std::string>{output});
        EXPECT_TRUE(norv_test::FolderEntries(temp).empty());
        const json probe = norv_test::Probe(output);
        EXPECT_EQ(probe["format"]["tags"].value("title", ""), row.name);
        EXPECT_NEAR(norv_test::Number(probe["format"], "duration"), 1.0, 0.1);
    }
}

// The size a player shows: the stored one, turned by the display matrix.
std::pair<int, int> DisplayedSize(const json& video) {
    int rotation = 0;
    if (video.contains("side_data_list")) {
        for (const json& data : video["side_data_list"]) {
            rotation = data.value("rotation", rotation);
        }
    }
    const int width = video.value("width", 0);
    const int height = video.value("height", 0);
    return rotation % 180 != 0 ? std::make_pair(height, width) : std::make_pair(width, height);
}

TEST(RealEngineCopy, CopiedOnlyWhenTheOutputShowsAndHoldsItAsTheSource) {
    struct Row {
        const char* what;
        std::vector<const char*> sources;
        NorvProfile profile;
        uint64_t limit; // 0: none
        bool copied;    // the output's video packets are the sources'
    };
    const Row rows[] = {
        {"turned, into MP4", {"rotated_quadrant.mp4"}, NP_iPhoneMP4H264, 0, true},
        {"turned, into Matroska", {"rotated_quadrant.mp4"}, NP_NorvPlusHD, 0, false},
        {"joined, headers alike", {"part1.mp4", "part2.mp4"}, NP_NorvPlusHD, 0, true},
        {"joined, headers differ", {"baseline.mp4", "high.mp4"}, NP_NorvPlusHD, 0, false},
        {"room for a copy", {"heavy.mp4"}, NP_NorvPlusHD, 300000, true},
        {"no room for a copy", {"heavy.mp4"}, NP_NorvPlusHD, 60000, false},
    };
    const char* const quarters[] = {"iw/2:ih/2:0:0", "iw/2:ih/2:iw/2:0", "iw/2:ih/2:0:ih/2",
                                    "iw/2:ih/2:iw/2:ih/2"};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        std::vector<SourceRef> sources;
        std::vector<std::string> packets; // of every source's video, joined
        for (const char* name : row.sources) {
            sources.push_back(norv_test::Analysed(name));
            ASSERT_TRUE(sources.back());
            for (const std::string& hash :
                 norv_test::VideoPacketHashes(norv_test::CorpusFile(name))) {
                packets.push_back(hash);
            }
        }
        const std::string first = norv_test::CorpusFile(row.sources.front());
        const bool audio = !norv_test::Streams(norv_test::Probe(first), "audio").empty();
        norv_test::TempDir dir;
        auto settings = norv_test::SettingsFor(row.profile);
        settings->SetAudioTracks(audio ? std::vector<uint32_t>{0} : std::vector<uint32_t>{});
        settings->SetVideoPassthrough(true);
        if (row.limit != 0) {
            settings->SetFileSizeLimit(row.limit);
            settings->SetPriority(prioFilesize);
        }
        norv_test::Run run = norv_test::Prepare(sources, *settings);
        const std::string output = dir.file("out");
        norv_test::Start(run, output);
        ASSERT_EQ(norv_test::Finish(run), SUCCESS);
        EXPECT_EQ(norv_test::FolderEntries(dir.path()), std::vector<std::string>{output});
        if (row.limit != 0) {
            EXPECT_LE(std::filesystem::file_size(output), row.limit);
        }

        const json out = norv_test::Probe(output);
        const json in = norv_test::Probe(first);
        const auto outVideo = norv_test::Streams(out, "video");
        const auto inVideo = norv_test::Streams(in, "video");
        ASSERT_EQ(outVideo.size(), 1u);
        ASSERT_EQ(inVideo.size(), 1u);
        ASSERT_FALSE(packets.empty());
        EXPECT_EQ(norv_test::VideoPacketHashes(output) == packets, row.copied);
        // Shown as the source is shown, and every frame decodes.
        EXPECT_EQ(DisplayedSize(outVideo[0]), DisplayedSize(inVideo[0]));
        for (const char* quarter : quarters) {
            EXPECT_EQ(norv_test::PictureStat(output, 0.5, quarter, "YAVG") > 128.0,
                      norv_test::PictureStat(first, 0.5, quarter, "YAVG") > 128.0)
                << quarter;
        }
        EXPECT_EQ(norv_test::DecodeErrors(output), "");
        EXPECT_NEAR(norv_test::Number(out["format"], "duration"),
                    static_cast<double>(row.sources.size()), 0.1);
    }
}

} // namespace
} // namespace nvt
