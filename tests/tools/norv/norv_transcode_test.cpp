// norv transcode and norv batch run as a user runs them: progress on a
// terminal, in a log and as JSON; an interrupt that cancels through the
// library; a batch with a bad file; shards that split a batch.
#include <csignal>
#include <filesystem>
#include <set>

#include <gtest/gtest.h>

#include "norv_process.h"
#include "support/temp_dir.h"

namespace norv_test {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

NorvOptions In(const TempDir& dir, const std::string& engineOptions) {
    NorvOptions options;
    options.folder = dir.path();
    options.env["NORV_ENGINE"] = ScriptedEngine(engineOptions);
    return options;
}

void MakeInputs(const TempDir& dir, const std::vector<std::string>& names) {
    for (const std::string& name : names) {
        WriteFile(dir.file(name), name);
    }
}

TEST(NorvTranscode, ShowsProgressAndEachJoinedSource) {
    struct Case {
        const char* mode;
        bool terminal;
        bool json;
        std::vector<std::string> err; // expected on standard error, in order
    };
    const Case cases[] = {
        {"log",
         false,
         false,
         {" 25.0%  [1/2] a.mp4  elapsed", "done a.mp4 (1/2)\n", " 75.0%  [2/2] b.mp4",
          "100.0%  [2/2] b.mp4", "done b.mp4 (2/2)\n", "wrote out.mkv in "}},
        {"terminal",
         true,
         false,
         // The live line is redrawn at most ten times a second, so which
         // percentages it shows depends on timing.
         {"%  [1/2] a.mp4  elapsed", "\x1b[K", "done a.mp4 (1/2)\r\n", "\r", "%  [2/2] b.mp4",
          "wrote out.mkv in "}},
        {"json", false, true, {}},
    };
    for (const Case& c : cases) {
        TempDir dir;
        MakeInputs(dir, {"a.mp4", "b.mp4"});
        NorvOptions options =
            In(dir, "--progress=4 --files=2 --progress-interval=50 --write-output");
        options.terminal = c.terminal;
        std::vector<std::string> args{"transcode", "a.mp4", "b.mp4", "-o",
                                      "out.mkv",   "-p",    "4",     "--progress-period=0"};
        if (c.json) {
            args.push_back("--json");
        }
        const NorvOutput result = RunNorv(args, options);
        EXPECT_EQ(result.status, 0) << c.mode << "\n" << result.err;
        EXPECT_TRUE(fs::exists(dir.file("out.mkv"))) << c.mode;
        size_t at = 0;
        for (const std::string& expected : c.err) {
            const size_t found = result.err.find(expected, at);
            EXPECT_NE(found, std::string::npos) << c.mode << ": " << expected << "\n" << result.err;
            at = found == std::string::npos ? at : found;
        }
        if (!c.json) {
            continue;
        }
        const std::vector<json> events = JsonLines(result.out);
        ASSERT_GE(events.size(), 4u) << result.out;
        EXPECT_EQ(events.front()["event"], "started");
        EXPECT_EQ(events.back()["event"], "done");
        EXPECT_EQ(events.back()["output"], "out.mkv");
        double percent = 0;
        std::vector<std::string> doneSources;
        for (const json& e : events) {
            if (e["event"] == "progress") {
                EXPECT_GE(e["percent"].get<double>(), percent) << e.dump();
                percent = e["percent"].get<double>();
                EXPECT_TRUE(e.contains("remaining") && e.contains("speed")) << e.dump();
            } else if (e["event"] == "source_done" || e["event"] == "done") {
                doneSources.push_back(fs::path(e["source"].get<std::string>()).filename());
            }
        }
        EXPECT_EQ(percent, 100.0);
        EXPECT_EQ(doneSources, (std::vector<std::string>{"a.mp4", "b.mp4"}));
    }
}

TEST(NorvTranscode, InterruptCancelsThroughTheLibraryAndLeavesNothing) {
    for (const int sig : {SIGINT, SIGTERM}) {
        TempDir dir;
        MakeInputs(dir, {"a.mp4"});
        // Long enough that the interrupt always comes in the middle.
        const NorvOptions options =
            In(dir, "--progress=3000 --progress-interval=20 --write-output --record=" +
                        dir.file("requests") + " --pid-file=" + dir.file("engine.pid"));
        NorvProcess norv({"transcode", "a.mp4", "-o", "out.mkv", "-p", "4", "--progress-period=0"},
                         options);
        ASSERT_TRUE(norv.WaitForError([&](const std::string& err) {
            return err.find("[1/1] a.mp4") != std::string::npos && fs::exists(dir.file("out.mkv"));
        }));
        // The engine that runs the transcode is the last one to write its id.
        const int enginePid = std::stoi(ReadFile(dir.file("engine.pid")));
        norv.SignalGroup(sig);
        const NorvOutput result = norv.Wait();

        EXPECT_EQ(result.status, 128 + sig) << result.err;
        EXPECT_NE(result.err.find("norv: cancelled, no output left: Aborted (-998)\n"),
                  std::string::npos)
            << result.err;
        EXPECT_FALSE(fs::exists(dir.file("out.mkv")));
        // The transcode's engine heard the cancel from the library, not the
        // signal (earlier engines answered the information and the analysis).
        const std::string requests = ReadFile(dir.file("requests"));
        const size_t transcode = requests.find("@@ TranscodeRequest");
        ASSERT_NE(transcode, std::string::npos);
        EXPECT_NE(requests.find("@@ CancelTranscodingRequest", transcode), std::string::npos);
        EXPECT_TRUE(ProcessEnds(enginePid));
    }
}

TEST(NorvBatch, ReportsTheBadFileAndGoesOnWithTheRest) {
    TempDir dir;
    MakeInputs(dir, {"one.mp4", "bad.mp4", "two.mp4", "three.mp4"});
    const NorvOutput result =
        RunNorv({"batch", "one.mp4", "bad.mp4", "two.mp4", "three.mp4", "-d", "out", "-p",
                 "NorvPlusHD", "-j", "2", "--progress-period=0"},
                In(dir, "--progress=3 --progress-interval=20 --write-output --fail-input=bad"));
    EXPECT_EQ(result.status, 1);
    for (const char* name : {"one", "two", "three"}) {
        EXPECT_TRUE(fs::exists(dir.file("out/" + std::string(name) + ".mkv"))) << name;
    }
    EXPECT_FALSE(fs::exists(dir.file("out/bad.mkv")));
    EXPECT_NE(result.err.find("FAIL  bad.mp4: analysis failed: ENG_UNSUPPORTED_FILE_TYPE (21)"),
              std::string::npos)
        << result.err;
    EXPECT_NE(result.err.find("ok    two.mp4 -> out/two.mkv"), std::string::npos);
    // The overall line, with the remaining time of the whole queue.
    EXPECT_NE(result.err.find("/4 files"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find(" running  elapsed "), std::string::npos);
    EXPECT_NE(result.err.find("  remaining 0:"), std::string::npos);
    EXPECT_NE(result.err.find("3 of 4 files transcoded"), std::string::npos);
    EXPECT_NE(result.err.find("norv: 1 of 4 files failed: ENG_UNSUPPORTED_FILE_TYPE (21)\n"),
              std::string::npos)
        << result.err;
}

TEST(NorvBatch, ShardsSplitTheInputsWithoutOverlap) {
    const std::vector<std::string> inputs{"a.mp4", "b.mp4", "c.mp4", "d.mp4", "e.mp4"};
    for (const int shards : {1, 2, 3}) {
        TempDir dir;
        MakeInputs(dir, inputs);
        std::multiset<std::string> transcoded;
        for (int k = 1; k <= shards; ++k) {
            std::vector<std::string> args{"batch"};
            args.insert(args.end(), inputs.begin(), inputs.end());
            args.insert(args.end(), {"-d", "out", "-p", "4", "--json", "--shard",
                                     std::to_string(k) + "/" + std::to_string(shards)});
            const NorvOutput result = RunNorv(args, In(dir, "--progress=1"));
            ASSERT_EQ(result.status, 0) << result.err;
            const std::vector<json> events = JsonLines(result.out);
            ASSERT_FALSE(events.empty());
            EXPECT_EQ(events.back()["event"], "batch_done");
            for (const json& e : events) {
                if (e["event"] == "file_done") {
                    transcoded.insert(e["input"].get<std::string>());
                    EXPECT_EQ(e["output"],
                              "out/" + e["input"].get<std::string>().substr(0, 1) + ".mkv");
                }
            }
        }
        EXPECT_EQ(transcoded, std::multiset<std::string>(inputs.begin(), inputs.end()))
            << shards << " shards";
    }
}

} // namespace
} // namespace norv_test
