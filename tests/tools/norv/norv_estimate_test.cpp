// norv's measured times: the rate file (a missing or damaged one is ignored
// and replaced whole), the work a batch weighs its files by, and JSON output
// that stays clean while the library and the engine write to standard output.
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "batch/batch_eta.h"
#include "norv_process.h"
#include "support/temp_dir.h"
#include "timing/rate_cache.h"

namespace norv_test {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

TEST(NorvRates, TheRateFileIsReadAndRewrittenWhole) {
    const norv::RateKey h264{"h264", 1, "fhd"};
    const norv::RateKey h264Hd{"h264", 1, "hd"};
    struct Case {
        const char* what;
        const char* before; // nullptr: no file
        norv::RateKey asked;
        double found; // before recording
        bool exact;
        double recorded; // recorded for asked
        double after;    // asked afterwards
    };
    const std::string known =
        R"({"format":1,"rates":{"h264/1/fhd":{"pixels_per_second":100.0,"runs":1},)"
        R"("h264/1/sd":{"pixels_per_second":300.0,"runs":4},"hevc/2/fhd":)"
        R"({"pixels_per_second":7.0,"runs":1}}})";
    // clang-format off
    const Case cases[] = {
        {"no file", nullptr, h264, 0, false, 50, 50},
        {"not JSON", "{\"format\":1,\"rates\":{\"h26", h264, 0, false, 50, 50},
        {"another format", R"({"format":9,"rates":{"h264/1/fhd":{"pixels_per_second":1}}})",
         h264, 0, false, 50, 50},
        {"a bad entry among good ones",
         R"({"format":1,"rates":{"h264/1/fhd":{"pixels_per_second":"x"},)"
         R"("h264/1/sd":{"pixels_per_second":40}}})",
         h264Hd, 40, false, 50, 50},
        {"far sizes are not borrowed", R"({"format":1,"rates":{"h264/1/sd":{"pixels_per_second":9}}})",
         h264, 0, false, 50, 50},
        {"known: a new run counts half", known.c_str(), h264, 100, true, 50, 75},
        {"other sizes of the encoder", known.c_str(), h264Hd, 200, false, 50, 50},
    };
    // clang-format on
    for (const Case& c : cases) {
        TempDir dir;
        const std::string file = dir.file("cache") + "/norv/rates.json";
        if (c.before != nullptr) {
            fs::create_directories(fs::path(file).parent_path());
            std::ofstream(file) << c.before;
        }
        const norv::RateCache cache(file);
        const norv::KnownRate found = cache.Rate(c.asked);
        EXPECT_DOUBLE_EQ(found.pixelsPerSecond, c.found) << c.what;
        EXPECT_EQ(found.exact, c.exact) << c.what;
        ASSERT_TRUE(cache.Record(c.asked, c.recorded)) << c.what;
        EXPECT_DOUBLE_EQ(cache.Rate(c.asked).pixelsPerSecond, c.after) << c.what;
        EXPECT_TRUE(cache.Rate(c.asked).exact) << c.what;
        // Replaced whole: valid JSON, and no temporary file left beside it.
        std::ifstream in(file);
        EXPECT_FALSE(json::parse(in, nullptr, false).is_discarded()) << c.what;
        std::vector<std::string> entries;
        for (const auto& entry : fs::directory_iterator(fs::path(file).parent_path())) {
            entries.push_back(entry.path().filename().string());
        }
        EXPECT_EQ(entries, std::vector<std::string>{"rates.json"}) << c.what;
    }
}

TEST(NorvRates, ABatchWeighsItsFilesByTheirWork) {
    // 10 s of 1080p at 25 fps in two passes against 10 s of 720p in one.
    const double big = norv::FileWork(10, 1920, 1080, 25, 2);
    const double small = norv::FileWork(10, 1280, 720, 25, 1);
    EXPECT_DOUBLE_EQ(big, 10.0 * 1920 * 1080 * 25 * 2);
    EXPECT_DOUBLE_EQ(big / small, 4.5);
    struct Case {
        const char* what;
        std::vector<double> work;
        std::vector<double> fraction;
        double elapsed;
        double prior;
        double remaining;
    };
    // clang-format off
    const Case cases[] = {
        {"the small file done: the big one is 4.5 times its time",
         {small, big}, {1.0, 0.0}, 10, -1, 45},
        {"the big file done", {big, small}, {1.0, 0.0}, 45, -1, 10},
        {"nothing done yet: the expectation", {big, small}, {0.0, 0.0}, 3, 55, 55},
        {"nothing done, nothing known", {big, small}, {0.0, 0.0}, 3, -1, -1},
        // A sixth done in 10 s says 50 s; the expectation, 5/6 of 120 s.
        {"a sixth done: half the batch's pace, half the expectation",
         {1, 1, 1}, {0.5, 0.0, 0.0}, 10, 120, 0.5 * 50 + 0.5 * 100},
        {"a third done: the batch's own pace", {1, 1, 1}, {1.0, 0.0, 0.0}, 10, 90, 20},
        {"all done", {big, small}, {1.0, 1.0}, 60, 10, 0},
    };
    // clang-format on
    for (const Case& c : cases) {
        EXPECT_NEAR(norv::BatchRemaining(c.work, c.fraction, c.elapsed, c.prior), c.remaining, 1e-9)
            << c.what;
    }
}

// The engines write a diagnostic line to the standard output they share with
// norv, as the library's channel does: with --json it lands on standard error,
// and standard output holds JSON alone. In order: a measuring preview (its
// scratch folder gone after), a transcode that leaves its rate behind, and a
// preview and a batch that use it.
TEST(NorvRates, JsonOutputStaysCleanWhileOthersWriteToStandardOutput) {
    struct Case {
        std::vector<std::string> args;
        const char* from; // measured_from of the first line; nullptr: not checked
    };
    const Case cases[] = {
        {{"preview", "a.mp4", "-p", "4", "--measure"}, "measure"},
        {{"preview", "a.mp4", "-p", "4"}, nullptr},
        {{"transcode", "a.mp4", "-o", "out.mkv", "-p", "4"}, nullptr},
        {{"preview", "b.mp4", "-p", "4"}, "history"},
        {{"batch", "a.mp4", "b.mp4", "-d", "out", "-p", "4"}, "history"},
    };
    TempDir dir;
    WriteFile(dir.file("a.mp4"), "a");
    WriteFile(dir.file("b.mp4"), "b");
    fs::create_directories(dir.file("tmp"));
    NorvOptions options;
    options.folder = dir.path();
    options.env["NORV_ENGINE"] = ScriptedEngine("--speak --progress=3 --write-output");
    options.env["TMPDIR"] = dir.file("tmp");
    for (const Case& c : cases) {
        std::vector<std::string> args = c.args;
        args.push_back("--json");
        const NorvOutput result = RunNorv(args, options);
        const std::string what = args[0] + " " + args[1];
        EXPECT_EQ(result.status, 0) << what << "\n" << result.err;
        const std::vector<json> lines = JsonLines(result.out); // fails on a line not JSON
        ASSERT_FALSE(lines.empty()) << what;
        EXPECT_NE(result.err.find("dwLastError = 31"), std::string::npos) << what;
        if (c.from != nullptr) {
            EXPECT_EQ(lines[0]["measured_from"], c.from) << what << "\n" << lines[0].dump();
            EXPECT_TRUE(lines[0]["measured_seconds"].is_number()) << what;
        } else if (args[0] == "preview") {
            EXPECT_TRUE(lines[0]["measured_seconds"].is_null()) << what;
        }
    }
    EXPECT_TRUE(fs::is_empty(dir.file("tmp")));
}

} // namespace
} // namespace norv_test
