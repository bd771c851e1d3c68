// norv's measured times: the rate file (a missing or damaged one is ignored
// and replaced whole), the work a batch weighs its files by, and JSON output
// that stays clean while the library and the engine write to standard output.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <future>

#include <gtest/gtest.h>

#include "batch/batch_eta.h"
#include "common/os_files.h"
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
        {"the format as text", R"({"format":"1","rates":{"h264/1/fhd":{"pixels_per_second":9}}})",
         h264, 0, false, 50, 50},
        {"runs as text", R"({"format":1,"rates":{"h264/1/fhd":{"pixels_per_second":9,"runs":"3"}}})",
         h264, 0, false, 50, 50},
        {"runs below 0", R"({"format":1,"rates":{"h264/1/fhd":{"pixels_per_second":9,"runs":-2}}})",
         h264, 0, false, 50, 50},
        {"rates as a list", R"({"format":1,"rates":[1,2]})", h264, 0, false, 50, 50},
        {"a transcode run alone is not one of two side by side",
         R"({"format":1,"rates":{"h264/1/fhd/j2":{"pixels_per_second":9,"runs":1}}})",
         h264, 0, false, 50, 50},
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
        std::sort(entries.begin(), entries.end());
        EXPECT_EQ(entries, (std::vector<std::string>{"rates.json", "rates.json.lock"})) << c.what;
    }
}

// Another process (here: another lock on the file) that reads, changes and
// rewrites the rate file meanwhile keeps its record, and so does this one.
TEST(NorvRates, TwoProcessesKeepEachOthersRecords) {
    TempDir dir;
    const std::string file = dir.file("rates.json");
    const norv::RateCache cache(file);
    ASSERT_TRUE(cache.Record(norv::RateKey{"h264", 1, "fhd"}, 10));
    std::future<bool> recorded;
    {
        const norv::FileLock other = norv::FileLock::Wait(file + ".lock");
        ASSERT_TRUE(other.held());
        recorded = std::async(std::launch::async, [&] {
            return cache.Record(norv::RateKey{"hevc", 1, "fhd"}, 20);
        });
        // It waits for the lock, however long that takes.
        EXPECT_EQ(recorded.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout);
        json root = json::parse(ReadFile(file));
        root["rates"]["mpeg4/1/fhd"] = {{"pixels_per_second", 30.0}, {"runs", 1}};
        WriteFile(file, root.dump());
    }
    EXPECT_TRUE(recorded.get());
    for (const char* encoder : {"h264", "hevc", "mpeg4"}) {
        EXPECT_GT(cache.Rate(norv::RateKey{encoder, 1, "fhd"}).pixelsPerSecond, 0) << encoder;
    }
}

// A rate file whose values are not of their types is ignored and rewritten:
// the command runs, and a finished file counts once.
TEST(NorvRates, ARateFileOfOtherTypesIsIgnored) {
    const char* const files[] = {
        R"({"format":"1","rates":{}})",
        R"({"format":1,"rates":{"h264/1/fhd":{"pixels_per_second":9,"runs":"3"},)"
        R"("h264/1/hd":{"pixels_per_second":9,"runs":"3"}}})",
    };
    for (const char* content : files) {
        TempDir dir;
        WriteFile(dir.file("a.mp4"), "a");
        NorvOptions options;
        options.folder = dir.path();
        options.env["NORV_ENGINE"] = ScriptedEngine("--progress=1");
        UseCacheFolder(options, dir.file("cache"));
        fs::create_directories(dir.file("cache/norv"));
        WriteFile(dir.file("cache/norv/rates.json"), content);
        const NorvOutput preview = RunNorv({"preview", "a.mp4", "-p", "4", "--json"}, options);
        EXPECT_EQ(preview.status, 0) << content << "\n" << preview.err;
        const NorvOutput batch =
            RunNorv({"batch", "a.mp4", "-d", "out", "-p", "4", "--report", "r.json"}, options);
        EXPECT_EQ(batch.status, 0) << content << "\n" << batch.err;
        const json report = json::parse(ReadFile(dir.file("r.json")));
        EXPECT_EQ(report["totals"]["done"], 1) << content;
        EXPECT_EQ(report["totals"]["failed"], 0) << content;
        const json rewritten = json::parse(ReadFile(dir.file("cache/norv/rates.json")));
        EXPECT_EQ(rewritten["format"], 1) << content;
    }
}

// A batch's measured estimate, from the rates of earlier batches run with
// as many files at once: a file of two side by side takes its own time, and
// the two share the batch's time.
TEST(NorvRates, ABatchExpectsTheTimeOfItsFilesSideBySide) {
    const double alone = 4e6, besideAnother = 1e6; // pixels per second
    struct Case {
        const char* what;
        std::vector<std::string> args;
        double perFileWork; // over the rate: the expected seconds, in works
    };
    const Case cases[] = {
        {"one file alone", {"preview", "a.mp4", "-p", "4"}, 1 / alone},
        {"two files, one at a time",
         {"batch", "a.mp4", "b.mp4", "-d", "o1", "-p", "4", "-j", "1"},
         2 / alone},
        {"two files side by side",
         {"batch", "a.mp4", "b.mp4", "-d", "o2", "-p", "4", "-j", "2"},
         2 / besideAnother / 2},
    };
    TempDir dir;
    WriteFile(dir.file("a.mp4"), "a");
    WriteFile(dir.file("b.mp4"), "b");
    json rates = json::object();
    for (const char* encoder : {"mpeg4", "h264", "hevc"}) {
        for (const char* size : {"sd", "hd", "fhd", "uhd"}) {
            const std::string key = std::string(encoder) + "/1/" + size;
            rates[key] = {{"pixels_per_second", alone}, {"runs", 1}};
            rates[key + "/j2"] = {{"pixels_per_second", besideAnother}, {"runs", 1}};
        }
    }
    fs::create_directories(dir.file("cache/norv"));
    WriteFile(dir.file("cache/norv/rates.json"), json{{"format", 1}, {"rates", rates}}.dump());
    NorvOptions options;
    options.folder = dir.path();
    options.env["NORV_ENGINE"] = ScriptedEngine("--progress=1");
    UseCacheFolder(options, dir.file("cache"));
    double work = 0; // one file's, from the first row
    for (const Case& c : cases) {
        std::vector<std::string> args = c.args;
        args.push_back("--json");
        const NorvOutput result = RunNorv(args, options);
        ASSERT_EQ(result.status, 0) << c.what << "\n" << result.err;
        const json first = JsonLines(result.out).at(0);
        ASSERT_TRUE(first["measured_seconds"].is_number()) << c.what << "\n" << first.dump();
        const double seconds = first["measured_seconds"].get<double>();
        if (work == 0) {
            work = seconds / c.perFileWork;
        }
        EXPECT_NEAR(seconds, work * c.perFileWork, 1e-6 * seconds) << c.what;
    }
    // What the side-by-side files took is kept apart from the rates of
    // files run alone.
    const json kept = json::parse(ReadFile(dir.file("cache/norv/rates.json")))["rates"];
    size_t beside = 0;
    for (const auto& entry : kept.items()) {
        beside +=
            entry.value()["runs"].get<int>() > 1 && entry.key().find("/j2") != std::string::npos;
    }
    EXPECT_EQ(beside, 1u);
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
        {{"batch", "a.mp4", "b.mp4", "-d", "out", "-p", "4", "-j", "1"}, "history"},
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
