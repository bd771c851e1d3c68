// norv batch as a scheduler runs it: the shard from the scheduler's
// environment, a list of inputs, a re-run that carries on, and the reports
// of the shards merged into one summary.
#include <csignal>
#include <filesystem>
#include <functional>

#include <gtest/gtest.h>

#include "norv_process.h"
#include "platform/file_claim.h"
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

// The completion records of an output folder, rewritten by change.
void EditRecords(const TempDir& dir, const std::function<void(json&)>& change) {
    for (const auto& entry : fs::directory_iterator(dir.file("out/.norv"))) {
        const std::string name = entry.path().filename().string();
        if (name.compare(0, 6, "batch-") == 0) {
            continue;
        }
        json record = ReadJson(entry.path().string());
        change(record);
        WriteFile(entry.path().string(), record.dump());
    }
}

TEST(NorvBatch, ARunAgainSkipsOnlyOutputsProvenFinishedByThisBatch) {
    struct Case {
        const char* what;
        std::function<void(const TempDir&, const NorvOptions&)> before;
        std::vector<std::string> extra; // arguments of the run looked at
        int status;
        const char* reported; // a.mp4's status in the report
        const char* says;     // in its note or error
    };
    const std::vector<std::string> kFirst{"batch", "a.mp4", "-d", "out", "-p", "4", "-j", "1"};
    const auto firstRun = [kFirst](const TempDir&, const NorvOptions& options) {
        ASSERT_EQ(RunNorv(kFirst, options).status, 0);
    };
    // clang-format off
    const Case cases[] = {
        {"finished by an earlier run", firstRun, {}, 0, "skipped", "finished by an earlier run"},
        {"an empty file", [](const TempDir& dir, const NorvOptions&) {
             WriteFile(dir.file("out/a.mkv"), "");
         }, {}, 1, "failed", "no record shows it to be a finished output of this batch"},
        {"a file of someone else's", [](const TempDir& dir, const NorvOptions&) {
             WriteFile(dir.file("out/a.mkv"), "mine");
         }, {}, 1, "failed", "give --overwrite to replace it"},
        {"the output of a same-named input of another batch",
         [](const TempDir& dir, const NorvOptions& options) {
             fs::create_directories(dir.file("other"));
             WriteFile(dir.file("other/a.mp4"), "other");
             ASSERT_EQ(RunNorv({"batch", "other/a.mp4", "-d", "out", "-p", "4"}, options).status,
                       0);
         }, {}, 1, "failed", "it was made from another input"},
        {"the input changed since", [firstRun](const TempDir& dir, const NorvOptions& options) {
             firstRun(dir, options);
             WriteFile(dir.file("a.mp4"), "a longer a");
         }, {}, 1, "failed", "its input has changed since it was made"},
        {"other settings", firstRun, {"--title", "Other"}, 1, "failed",
         "it was made with other settings"},
        {"the output changed after it was finished",
         [firstRun](const TempDir& dir, const NorvOptions& options) {
             firstRun(dir, options);
             WriteFile(dir.file("out/a.mkv"), "");
         }, {}, 1, "failed", "it has changed since it was finished"},
        {"a run cut short before it could tell", [firstRun](const TempDir& dir,
                                                            const NorvOptions& options) {
             firstRun(dir, options);
             EditRecords(dir, [](json& record) { record["state"] = "started"; });
         }, {}, 0, "done", "the run that wrote it was cut short"},
        {"--overwrite", firstRun, {"--overwrite"}, 0, "done", "replaced"},
        {"an engine's temporary file alone", [](const TempDir& dir, const NorvOptions&) {
             WriteFile(dir.file("out/.0F3A9C1E-5B7D-4E21-9A6C-3D8E0B1F2A47.part"), "half");
         }, {}, 0, "done", ""},
    };
    // clang-format on
    for (const Case& c : cases) {
        TempDir dir;
        WriteFile(dir.file("a.mp4"), "a");
        WriteFile(dir.file("b.mp4"), "b");
        fs::create_directory(dir.file("out"));
        const NorvOptions options = Batch(dir, {}, "--progress=1 --write-output");
        c.before(dir, options);
        std::vector<std::string> args{"batch", "a.mp4", "b.mp4", "-d",     "out",      "-p",
                                      "4",     "-j",    "1",     "--json", "--report", "r.json"};
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        const NorvOutput result = RunNorv(args, options);
        EXPECT_EQ(result.status, c.status) << c.what << "\n" << result.err;
        const json report = ReadJson(dir.file("r.json"));
        const json& a = report["files"][0];
        EXPECT_EQ(a["status"], c.reported) << c.what << "\n" << a.dump();
        EXPECT_NE((a.value("note", "") + a.value("error", "")).find(c.says), std::string::npos)
            << c.what << "\n"
            << a.dump();
        EXPECT_EQ(report["files"][1]["status"], "done") << c.what;
        EXPECT_EQ(report["rerun"] == json::array({"a.mp4"}), c.status != 0) << c.what;
        EXPECT_EQ(InputsOf(result.out, "file_skipped").size(), c.reported == std::string("skipped"))
            << c.what;
        std::vector<std::string> hidden;
        for (const auto& entry : fs::directory_iterator(dir.file("out"))) {
            const std::string name = entry.path().filename().string();
            if (name[0] == '.' && name != ".norv") {
                hidden.push_back(name);
            }
        }
        EXPECT_TRUE(hidden.empty()) << c.what << ": " << hidden.front();
    }
}

// Scratch files of an engine that no longer runs go when a batch starts;
// those of a live engine (it holds its temporary file locked) stay.
TEST(NorvBatch, LeftoversOfKilledEnginesGoAndThoseOfLiveOnesStay) {
    const std::string dead = ".0F3A9C1E-5B7D-4E21-9A6C-3D8E0B1F2A47";
    const std::string live = ".1A2B3C4D-5E6F-4A1B-8C2D-3E4F5A6B7C8D";
    const std::string gone = ".2B3C4D5E-6F7A-4B2C-9D3E-4F5A6B7C8D9E";
    struct Case {
        std::string name;
        bool stays;
    };
    const Case cases[] = {
        {dead + ".part", false},      {dead + ".stats.mbtree", false},
        {gone + ".stats", false}, // its temporary file went already
        {live + ".part", true},   // locked below
        {live + ".stats.temp", true}, {".notes", true},
        {".0F3A9C1E.part", true},
    };
    TempDir dir;
    WriteFile(dir.file("a.mp4"), "a");
    fs::create_directory(dir.file("out"));
    for (const Case& c : cases) {
        if (c.name != live + ".part") {
            WriteFile(dir.file("out/" + c.name), "x");
        }
    }
    NorvOS::FileClaim claim;
    ASSERT_TRUE(claim.Make(dir.file("out/" + live + ".part")));
    const NorvOutput result =
        RunNorv({"batch", "a.mp4", "-d", "out", "-p", "4", "--json"}, Batch(dir, {}));
    EXPECT_EQ(result.status, 0) << result.err;
    for (const Case& c : cases) {
        EXPECT_EQ(fs::exists(dir.file("out/" + c.name)), c.stays) << c.name;
    }
}

// The report is written before any file is started and again as each one
// ends: a run cut short leaves what it did not do as not started.
TEST(NorvBatch, TheReportIsThereFromTheStart) {
    TempDir dir;
    WriteFile(dir.file("a.mp4"), "a");
    const NorvOutput result =
        RunNorv({"batch", "a.mp4", "-d", "out", "-p", "4", "--json", "--report", "nothere/r.json"},
                Batch(dir, {}));
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("nothere/r.json: cannot write the report"), std::string::npos)
        << result.err;
    EXPECT_TRUE(InputsOf(result.out, "file_done").empty()) << "files ran before the check";
    EXPECT_FALSE(fs::exists(dir.file("out/a.mkv")));

#if !defined(_WIN32)
    // Cut short: the file in work is cancelled, those after it never
    // started, and the status is the signal's.
    for (const char* name : {"b.mp4", "c.mp4"}) {
        WriteFile(dir.file(name), name);
    }
    NorvProcess norv({"batch", "a.mp4", "b.mp4", "c.mp4", "-d", "out", "-p", "4", "-j", "1",
                      "--report", "r.json", "--progress-period=0"},
                     Batch(dir, {}, "--progress=3000 --progress-interval=20 --write-output"));
    ASSERT_TRUE(norv.WaitForError([&](const std::string& err) {
        return err.find("a.mp4") != std::string::npos && fs::exists(dir.file("out/a.mkv"));
    }));
    const json early = ReadJson(dir.file("r.json"));
    EXPECT_EQ(early["files"].size(), 3u);
    norv.SignalGroup(SIGTERM);
    const NorvOutput cut = norv.Wait();
    EXPECT_EQ(cut.status, 128 + SIGTERM) << cut.err;
    const json report = ReadJson(dir.file("r.json"));
    const char* const expected[] = {"cancelled", "not_started", "not_started"};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(report["files"][i]["status"], expected[i]) << i;
        EXPECT_EQ(report["files"][i].contains("result"), i == 0) << i;
    }
    EXPECT_EQ(report["totals"]["not_started"], 2);
    EXPECT_EQ(report["rerun"], json::array({"a.mp4", "b.mp4", "c.mp4"}));
#endif
}

// Lists of inputs: a byte-order mark is no part of the first path, and a
// list ended by NULs carries names with line breaks.
TEST(NorvBatch, ListsCarryEveryName) {
    struct Case {
        const char* what;
        const char* option;
        std::string list;
        std::vector<std::string> taken;
    };
    std::vector<Case> cases = {
        {"lines after a byte-order mark",
         "--from-list",
         "\xEF\xBB\xBF"
         "a.mp4\nb c.mp4\n",
         {"a.mp4", "b c.mp4"}},
        {"NUL-ended", "--from-list0", std::string("a.mp4\0b c.mp4\0", 14), {"a.mp4", "b c.mp4"}},
    };
#if !defined(_WIN32)
    cases.push_back({"names with line breaks",
                     "--from-list0",
                     std::string("x\ny.mp4\0z\r.mp4\0", 15),
                     {"x\ny.mp4", "z\r.mp4"}});
#endif
    for (const Case& c : cases) {
        TempDir dir;
        for (const std::string& name : c.taken) {
            WriteFile(dir.file(name), "v");
        }
        WriteFile(dir.file("list"), c.list);
        const NorvOutput result =
            RunNorv({"batch", c.option, "list", "-d", "out", "-p", "4", "-j", "1", "--json"},
                    Batch(dir, {}));
        EXPECT_EQ(result.status, 0) << c.what << "\n" << result.err;
        EXPECT_EQ(InputsOf(result.out, "file_done"), c.taken) << c.what;
    }
}

// A part of a Slurm array submitted again (--array=3-4 after --array=0-5)
// is no smaller array of its own.
TEST(NorvBatch, APartOfAnArraySubmittedAgainKeepsItsPlaces) {
    const std::map<std::string, std::string> whole{
        {"SLURM_ARRAY_TASK_ID", "0"}, {"SLURM_ARRAY_TASK_MIN", "0"}, {"SLURM_ARRAY_TASK_MAX", "5"}};
    const std::map<std::string, std::string> part{
        {"SLURM_ARRAY_TASK_ID", "3"}, {"SLURM_ARRAY_TASK_MIN", "3"}, {"SLURM_ARRAY_TASK_MAX", "4"}};
    struct Case {
        const char* what;
        bool earlier; // the whole array's task 0 ran first
        std::string shard;
        int status;
        std::vector<std::string> taken;
        const char* err;
    };
    const Case cases[] = {
        {"plain auto after a whole array", true, "auto", 2, {}, "give --shard auto/6"},
        {"auto/N after a whole array", true, "auto/6", 0, {"d.mp4"}, ""},
        {"auto/N with no earlier run", false, "auto/6", 2, {}, "give --shard K/N"},
        // Nothing tells it from a new array of two.
        {"plain auto with no earlier run",
         false,
         "auto",
         0,
         {"a.mp4", "c.mp4", "e.mp4", "g.mp4"},
         ""},
    };
    for (const Case& c : cases) {
        TempDir dir;
        std::vector<std::string> args{"batch", "-d", "out", "-p", "4", "-j", "1", "--json"};
        for (const char* name : {"a.mp4", "b.mp4", "c.mp4", "d.mp4", "e.mp4", "f.mp4", "g.mp4"}) {
            WriteFile(dir.file(name), name);
            args.push_back(name);
        }
        if (c.earlier) {
            std::vector<std::string> first = args;
            first.insert(first.end(), {"--shard", "auto"});
            ASSERT_EQ(RunNorv(first, Batch(dir, whole)).status, 0) << c.what;
        }
        args.insert(args.end(), {"--shard", c.shard});
        const NorvOutput result = RunNorv(args, Batch(dir, part));
        EXPECT_EQ(result.status, c.status) << c.what << "\n" << result.err;
        EXPECT_EQ(InputsOf(result.out, "file_done"), c.taken) << c.what;
        EXPECT_NE(result.err.find(c.err), std::string::npos) << c.what << "\n" << result.err;
    }
}

json Shard(int index, int count, const std::vector<json>& files, const char* list = "L") {
    return json{{"shard", {{"index", index}, {"count", count}}},
                {"batch", {{"list", list}, {"files", 0}, {"settings", "S"}}},
                {"files", files}};
}

TEST(NorvReport, MergeTakesEveryShardAndTheLatestRecords) {
    // A file's record: its status and when it ended (0: not told).
    const auto file = [](const std::string& input, const std::string& status, int64_t ended = 0) {
        json f{{"input", input},    {"output", input + ".mkv"}, {"status", status},
               {"duration", 10.0},  {"encode_seconds", 2.0},    {"input_bytes", 100},
               {"output_bytes", 50}};
        if (ended != 0) {
            f["ended_ms"] = ended;
        }
        return f;
    };
    struct Case {
        const char* what;
        std::vector<json> reports;
        std::vector<std::string> extra; // options
        int status;
        int done, skipped, failed, notStarted;
        std::vector<std::string> rerun;
        const char* err;
    };
    // clang-format off
    const Case cases[] = {
        {"two shards", {Shard(1, 2, {file("a", "done"), file("b", "failed")}),
                        Shard(2, 2, {file("c", "cancelled"), file("d", "done")})},
         {}, 0, 2, 0, 1, 0, {"b", "c"}, ""},
        {"a run again fixed the failure",
         {Shard(1, 1, {file("a", "done", 10), file("b", "failed", 11)}),
          Shard(1, 1, {file("a", "skipped", 20), file("b", "done", 21)})},
         {}, 0, 2, 0, 0, 0, {}, ""},
        {"the later run given first", {
             Shard(1, 1, {file("a", "done", 20), file("b", "done", 21)}),
             Shard(1, 1, {file("a", "cancelled", 10), file("b", "not_started")})},
         {}, 0, 2, 0, 0, 0, {}, ""},
        {"a later skip settles an earlier failure",
         {Shard(1, 1, {file("a", "skipped", 20)}), Shard(1, 1, {file("a", "failed", 10)})},
         {}, 0, 0, 1, 0, 0, {}, ""},
        {"never started", {Shard(1, 1, {file("a", "done", 5), file("b", "not_started")})},
         {}, 0, 1, 0, 0, 1, {"b"}, ""},
        {"a shard that wrote no report",
         {Shard(1, 3, {file("a", "done", 1)}), Shard(3, 3, {file("c", "done", 1)})},
         {}, 1, 2, 0, 0, 0, {}, "shard 2 of 3 wrote no report"},
        {"a shard that wrote no report, and the list",
         {Shard(1, 3, {file("a", "done", 1)}), Shard(3, 3, {file("c", "done", 1)})},
         {"--from-list", "list.txt"}, 0, 2, 0, 0, 1, {"b"}, ""},
        {"as --json", {Shard(1, 1, {file("a", "failed", 1)})}, {"--json"}, 0, 0, 0, 1, 0, {"a"}, ""},
    };
    // clang-format on
    for (const Case& c : cases) {
        TempDir dir;
        WriteFile(dir.file("list.txt"), "a\nb\nc\n");
        std::vector<std::string> args{"report", "merge", "--rerun-list", "rerun.txt"};
        for (size_t i = 0; i < c.reports.size(); ++i) {
            const std::string name = "r" + std::to_string(i) + ".json";
            json report = c.reports[i];
            if (c.extra.size() > 1 && c.extra[0] == "--from-list") {
                report["batch"]["list"] = "cec64e155111225d"; // the digest of list.txt
            }
            WriteFile(dir.file(name), report.dump());
            args.push_back(name);
        }
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        NorvOptions options;
        options.folder = dir.path();
        const NorvOutput result = RunNorv(args, options);
        EXPECT_EQ(result.status, c.status) << c.what << "\n" << result.err;
        EXPECT_NE(result.err.find(c.err), std::string::npos) << c.what << "\n" << result.err;
        const json summary = json::parse(result.out, nullptr, false);
        ASSERT_FALSE(summary.is_discarded()) << c.what << "\n" << result.out << result.err;
        EXPECT_EQ(summary["totals"]["done"], c.done) << c.what;
        EXPECT_EQ(summary["totals"]["skipped"], c.skipped) << c.what;
        EXPECT_EQ(summary["totals"]["failed"], c.failed) << c.what;
        EXPECT_EQ(summary["totals"]["not_started"], c.notStarted) << c.what;
        EXPECT_EQ(summary["totals"]["duration"], 10.0 * c.done) << c.what;
        EXPECT_EQ(summary["rerun"], json(c.rerun)) << c.what;
        std::string list;
        for (const std::string& input : c.rerun) {
            list += input + "\n";
        }
        EXPECT_EQ(ReadFile(dir.file("rerun.txt")), list) << c.what;
    }
}

TEST(NorvReport, AReportThatIsNotOneIsRefusedAndEveryNameRoundTrips) {
    struct Case {
        const char* what;
        std::string report;
        std::vector<std::string> extra;
        int status;
        const char* err;
    };
    const json oneFile{{"input", "x\ny"}, {"output", "o"}, {"status", "failed"}, {"ended_ms", 1}};
    const Case cases[] = {
        {"not JSON", "not json", {}, 1, "r.json: not a batch report"},
        {"shard 0", Shard(0, 2, {}).dump(), {}, 1, "r.json: not a batch report"},
        {"shard past its count", Shard(3, 2, {}).dump(), {}, 1, "r.json: not a batch report"},
        {"no shard", json{{"files", json::array()}}.dump(), {}, 1, "r.json: not a batch report"},
        {"a line break in a name, as lines",
         Shard(1, 1, {oneFile}).dump(),
         {"--rerun-list", "rerun.txt"},
         1,
         "write the list with --rerun-list0"},
        {"a line break in a name, NUL-ended",
         Shard(1, 1, {oneFile}).dump(),
         {"--rerun-list0", "rerun.txt"},
         0,
         ""},
    };
    for (const Case& c : cases) {
        TempDir dir;
        WriteFile(dir.file("r.json"), c.report);
        std::vector<std::string> args{"report", "merge", "r.json"};
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        NorvOptions options;
        options.folder = dir.path();
        const NorvOutput result = RunNorv(args, options);
        EXPECT_EQ(result.status, c.status) << c.what << "\n" << result.err;
        EXPECT_NE(result.err.find(c.err), std::string::npos) << c.what << "\n" << result.err;
        if (c.status == 0) {
            EXPECT_EQ(ReadFile(dir.file("rerun.txt")), std::string("x\ny\0", 4)) << c.what;
        }
    }
}

} // namespace
} // namespace norv_test
