// norv batch as a scheduler runs it: the shard from the scheduler's
// environment, a list of inputs, a re-run that carries on, and the reports
// of the shards merged into one summary.
#include <filesystem>

#include <gtest/gtest.h>

#include "norv_process.h"
#include "support/temp_dir.h"

namespace norv_test {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

// Every variable --shard auto reads, unset (empty counts as unset), so
// that the test's own environment does not leak in.
std::map<std::string, std::string> NoScheduler() {
    std::map<std::string, std::string> env;
    for (const char* name :
         {"SLURM_ARRAY_TASK_ID", "SLURM_ARRAY_TASK_MIN", "SLURM_ARRAY_TASK_MAX",
          "SLURM_ARRAY_TASK_COUNT", "SLURM_ARRAY_TASK_STEP", "JOB_COMPLETION_INDEX"}) {
        env[name] = "";
    }
    return env;
}

NorvOptions Batch(const TempDir& dir, const std::map<std::string, std::string>& env,
                  const std::string& engineOptions = "--progress=1") {
    NorvOptions options;
    options.folder = dir.path();
    options.env = NoScheduler();
    for (const auto& entry : env) {
        options.env[entry.first] = entry.second;
    }
    options.env["NORV_ENGINE"] = ScriptedEngine(engineOptions);
    return options;
}

// The inputs of the --json events named event, in the order they came.
std::vector<std::string> InputsOf(const std::string& out, const std::string& event) {
    std::vector<std::string> inputs;
    for (const json& e : JsonLines(out)) {
        if (e["event"] == event) {
            inputs.push_back(e["input"]);
        }
    }
    return inputs;
}

json ReadJson(const std::string& path) {
    return json::parse(ReadFile(path));
}

TEST(NorvBatch, ShardAutoTakesTheSchedulersShare) {
    struct Case {
        const char* what;
        std::map<std::string, std::string> env;
        std::string shard;
        int status;
        std::vector<std::string> taken; // with status 0
        std::string err;                // with status 2
    };
    // clang-format off
    const Case cases[] = {
        {"Slurm --array=0-1", {{"SLURM_ARRAY_TASK_ID", "0"}, {"SLURM_ARRAY_TASK_MIN", "0"},
         {"SLURM_ARRAY_TASK_COUNT", "2"}}, "auto", 0, {"a", "c", "e"}, ""},
        {"Slurm --array=0-1, MAX only", {{"SLURM_ARRAY_TASK_ID", "1"},
         {"SLURM_ARRAY_TASK_MIN", "0"}, {"SLURM_ARRAY_TASK_MAX", "1"}}, "auto", 0, {"b", "d"}, ""},
        {"Slurm --array=1-3", {{"SLURM_ARRAY_TASK_ID", "3"}, {"SLURM_ARRAY_TASK_MIN", "1"},
         {"SLURM_ARRAY_TASK_COUNT", "3"}, {"SLURM_ARRAY_TASK_MAX", "3"}}, "auto", 0, {"c"}, ""},
        {"Slurm --array=0-4:2", {{"SLURM_ARRAY_TASK_ID", "4"}, {"SLURM_ARRAY_TASK_MIN", "0"},
         {"SLURM_ARRAY_TASK_MAX", "4"}, {"SLURM_ARRAY_TASK_STEP", "2"},
         {"SLURM_ARRAY_TASK_COUNT", "3"}}, "auto", 0, {"c"}, ""},
        {"indexed Job, auto/N", {{"JOB_COMPLETION_INDEX", "1"}}, "auto/2", 0, {"b", "d"}, ""},
        {"indexed Job, auto/VARIABLE", {{"JOB_COMPLETION_INDEX", "4"}, {"SHARDS", "5"}},
         "auto/SHARDS", 0, {"e"}, ""},
        {"K/N as before", {{"SLURM_ARRAY_TASK_ID", "7"}}, "2/2", 0, {"b", "d"}, ""},
        {"no scheduler", {}, "auto", 2, {}, "not started by a scheduler"},
        {"Slurm without MIN", {{"SLURM_ARRAY_TASK_ID", "0"}, {"SLURM_ARRAY_TASK_COUNT", "2"}},
         "auto", 2, {}, "not SLURM_ARRAY_TASK_MIN"},
        {"Slurm --array=1,4,9", {{"SLURM_ARRAY_TASK_ID", "4"}, {"SLURM_ARRAY_TASK_MIN", "1"},
         {"SLURM_ARRAY_TASK_MAX", "9"}, {"SLURM_ARRAY_TASK_COUNT", "3"}}, "auto", 2, {},
         "is not one range A-B[:S]"},
        {"Slurm task out of the array", {{"SLURM_ARRAY_TASK_ID", "5"},
         {"SLURM_ARRAY_TASK_MIN", "1"}, {"SLURM_ARRAY_TASK_COUNT", "3"}}, "auto", 2, {},
         "task 4 is not one of 3"},
        {"Slurm count against auto/N", {{"SLURM_ARRAY_TASK_ID", "0"},
         {"SLURM_ARRAY_TASK_MIN", "0"}, {"SLURM_ARRAY_TASK_COUNT", "2"}}, "auto/3", 2, {},
         "does not agree with the Slurm array"},
        {"indexed Job without a count", {{"JOB_COMPLETION_INDEX", "0"}}, "auto", 2, {},
         "--shard auto/N or auto/VARIABLE"},
        {"indexed Job, index past the count", {{"JOB_COMPLETION_INDEX", "2"}}, "auto/2", 2, {},
         "task 2 is not one of 2"},
        {"count variable not set", {{"JOB_COMPLETION_INDEX", "0"}}, "auto/SHARDS", 2, {},
         "SHARDS is not set"},
        {"not a number", {{"JOB_COMPLETION_INDEX", "x"}}, "auto/2", 2, {},
         "JOB_COMPLETION_INDEX=x is not a whole number"},
    };
    // clang-format on
    for (const Case& c : cases) {
        TempDir dir;
        std::vector<std::string> args{"batch", "-d", "out",    "-p",      "4",
                                      "-j",    "1",  "--json", "--shard", c.shard};
        for (const char* name : {"a", "b", "c", "d", "e"}) {
            WriteFile(dir.file(std::string(name) + ".mp4"), name);
            args.push_back(std::string(name) + ".mp4");
        }
        const NorvOutput result = RunNorv(args, Batch(dir, c.env));
        EXPECT_EQ(result.status, c.status) << c.what << "\n" << result.err;
        std::vector<std::string> taken;
        for (const std::string& input : InputsOf(result.out, "file_done")) {
            taken.push_back(input.substr(0, 1));
        }
        EXPECT_EQ(taken, c.taken) << c.what;
        EXPECT_NE(result.err.find(c.err), std::string::npos) << c.what << "\n" << result.err;
    }
}

TEST(NorvBatch, TheListsOrderDecidesTheShards) {
    TempDir dir;
    for (const char* name : {"a", "b", "c", "d"}) {
        WriteFile(dir.file(std::string(name) + ".mp4"), name);
    }
    // Written on Windows, with an empty line.
    WriteFile(dir.file("list.txt"), "d.mp4\r\nb.mp4\r\n\r\na.mp4\r\nc.mp4\r\n");
    const NorvOutput result = RunNorv({"batch", "--from-list", "list.txt", "-d", "out", "-p", "4",
                                       "--json", "-j", "1", "--shard", "auto/2"},
                                      Batch(dir, {{"JOB_COMPLETION_INDEX", "0"}}));
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(InputsOf(result.out, "file_done"), (std::vector<std::string>{"d.mp4", "a.mp4"}));

    const NorvOutput missing =
        RunNorv({"batch", "--from-list", "nothere.txt", "-d", "out", "-p", "4"}, Batch(dir, {}));
    EXPECT_EQ(missing.status, 2);
    EXPECT_NE(missing.err.find("nothere.txt: cannot read the list"), std::string::npos)
        << missing.err;
}

TEST(NorvBatch, ARunAgainSkipsFinishedOutputsAndRedoesTheRest) {
    struct Case {
        bool overwrite;
        std::vector<std::string> skipped, done;
    };
    const Case cases[] = {
        {false, {"a.mp4"}, {"b.mp4"}},
        {true, {}, {"a.mp4", "b.mp4"}},
    };
    for (const Case& c : cases) {
        TempDir dir;
        WriteFile(dir.file("a.mp4"), "a");
        WriteFile(dir.file("b.mp4"), "b");
        fs::create_directory(dir.file("out"));
        // a finished earlier; b was being written when its run was cut.
        WriteFile(dir.file("out/a.mkv"), "finished");
        std::vector<std::string> args{"batch", "a.mp4",    "b.mp4",  "-d", "out", "-p",
                                      "4",     "--report", "r.json", "-j", "1",   "--json"};
        if (c.overwrite) {
            args.push_back("--overwrite");
        }
        const NorvOutput result = RunNorv(args, Batch(dir, {}, "--progress=1 --write-output"));
        EXPECT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(InputsOf(result.out, "file_skipped"), c.skipped) << c.overwrite;
        EXPECT_EQ(InputsOf(result.out, "file_done"), c.done) << c.overwrite;
        EXPECT_EQ(ReadFile(dir.file("out/a.mkv")) == "finished", !c.overwrite);
        const json report = ReadJson(dir.file("r.json"));
        EXPECT_EQ(report["files"][0]["status"], c.overwrite ? "done" : "skipped");
        EXPECT_EQ(report["files"][1]["status"], "done");
        EXPECT_EQ(report["files"][1]["result"], "SUCCESS");
        EXPECT_GT(report["files"][1]["output_bytes"].get<uint64_t>(), 0u);
        EXPECT_EQ(report["totals"]["done"], c.done.size());
    }
}

TEST(NorvReport, MergeGathersTheShardsAndListsWhatToRunAgain) {
    const auto file = [](const std::string& input, const std::string& status) {
        return json{{"input", input},    {"output", input + ".mkv"}, {"status", status},
                    {"duration", 10.0},  {"encode_seconds", 2.0},    {"input_bytes", 100},
                    {"output_bytes", 50}};
    };
    struct Case {
        const char* what;
        std::vector<std::vector<json>> reports; // the files of each report
        int done, skipped, failed;
        std::vector<std::string> rerun;
    };
    const Case cases[] = {
        {"two shards",
         {{file("a", "done"), file("b", "failed")}, {file("c", "cancelled"), file("d", "done")}},
         2,
         0,
         1,
         {"b", "c"}},
        {"a run again fixed the failure",
         {{file("a", "done"), file("b", "failed")}, {file("a", "skipped"), file("b", "done")}},
         2,
         0,
         0,
         {}},
        {"a run that skipped everything", {{file("a", "skipped")}}, 0, 1, 0, {}},
    };
    for (const Case& c : cases) {
        TempDir dir;
        std::vector<std::string> args{"report", "merge", "--rerun-list", "rerun.txt"};
        for (size_t i = 0; i < c.reports.size(); ++i) {
            const std::string name = "r" + std::to_string(i) + ".json";
            WriteFile(dir.file(name), json{{"files", c.reports[i]}}.dump());
            args.push_back(name);
        }
        NorvOptions options;
        options.folder = dir.path();
        const NorvOutput result = RunNorv(args, options);
        ASSERT_EQ(result.status, 0) << c.what << "\n" << result.err;
        const json summary = json::parse(result.out);
        EXPECT_EQ(summary["totals"]["done"], c.done) << c.what;
        EXPECT_EQ(summary["totals"]["skipped"], c.skipped) << c.what;
        EXPECT_EQ(summary["totals"]["failed"], c.failed) << c.what;
        EXPECT_EQ(summary["totals"]["duration"], 10.0 * c.done) << c.what;
        EXPECT_EQ(summary["rerun"], json(c.rerun)) << c.what;
        std::string list;
        for (const std::string& input : c.rerun) {
            list += input + "\n";
        }
        EXPECT_EQ(ReadFile(dir.file("rerun.txt")), list) << c.what;
    }

    TempDir dir;
    WriteFile(dir.file("r.json"), "not json");
    NorvOptions options;
    options.folder = dir.path();
    const NorvOutput bad = RunNorv({"report", "merge", "r.json"}, options);
    EXPECT_EQ(bad.status, 1);
    EXPECT_NE(bad.err.find("r.json: not a batch report"), std::string::npos) << bad.err;
}

} // namespace
} // namespace norv_test
