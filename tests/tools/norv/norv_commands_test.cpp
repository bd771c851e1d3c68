// norv's subcommands run as a user runs them, against the scripted engine:
// exit status and output of each, the JSON forms parsed back, finding the
// engine, and presets from saving to applying to deleting.
#include <chrono>
#include <filesystem>
#include <thread>

#include <gtest/gtest.h>

#include "norv_process.h"
#include "support/temp_dir.h"

namespace norv_test {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

// The separator norv writes paths with.
const std::string kSep(1, TempDir::kSeparator);
#if defined(_WIN32)
constexpr char kExe[] = ".exe";
#else
constexpr char kExe[] = "";
#endif

// A working folder with two small input files. The scripted engine never
// reads them; norv only checks that they exist.
class NorvFolder {
public:
    NorvFolder() {
        WriteFile(dir_.file("a.mp4"), "a");
        WriteFile(dir_.file("b.mp4"), "b");
    }
    NorvOptions With(const std::string& engineOptions) const {
        NorvOptions options;
        options.folder = dir_.path();
        options.env["NORV_ENGINE"] = ScriptedEngine(engineOptions);
        return options;
    }
    std::string file(const std::string& name) const { return dir_.file(name); }

private:
    TempDir dir_;
};

TEST(Norv, EachCommandAnswersWithItsStatusAndOutput) {
    struct Case {
        std::vector<std::string> args;
        std::string engine;
        int status;
        std::string out; // expected in standard output
        std::string err; // expected in standard error
    };
    // clang-format off
    const Case cases[] = {
        {{"info"}, "--version=9.8.7", 0, "version       9.8.7", ""},
        {{"info"}, "--sandbox=seccomp", 0, "sandbox       seccomp\n", ""},
        {{"info"}, "", 0, "sandbox       unknown\n", ""},
        {{"profiles"}, "", 0, "NP_NorvPlusHD       Norv Plus         MKV, H.264, AAC/AC3", ""},
        {{"analyze", "a.mp4", "b.mp4"}, "--subtitle-tracks=1", 0, kSep + "b.mp4\n  mp4, 0:01:00", ""},
        {{"analyze", "a.mp4"}, "--subtitle-tracks=1", 0, "sub    #3", ""},
        {{"analyze", "a.mp4"}, "--analysis-files=3", 0, kSep + "a.mp4.part3\n", ""},
        {{"analyze", "a.mp4", "nothere.mp4"}, "", 1, kSep + "a.mp4\n",
         "norv: nothere.mp4: no such file: CRTL_FILE_DOES_NOT_EXIST (5)\n"},
        {{"analyze", "a.mp4"}, "--fail-input=a.mp4", 1, "",
         "a.mp4: analysis failed: ENG_UNSUPPORTED_FILE_TYPE (21)"},
        {{"preview", "a.mp4", "-p", "HD720", "--size", "640x360"}, "", 0,
         "picture     640x360, aspect 16:9", ""},
        {{"preview", "a.mp4", "b.mp4", "-p", "4"}, "", 0, "sources     2, 0:02:00", ""},
        {{"preview", "a.mp4", "-p", "4", "--audio-tracks", "1"}, "", 1, "",
         "audio track 1 does not exist (the first source has 1): InvalidArgument (-997)"},
        {{"transcode", "a.mp4", "-o", "out.mkv"}, "", 1, "",
         "no output profile: give --profile or --preset: InvalidArgument (-997)"},
        {{"transcode", "a.mp4", "-o", "a.mp4", "-p", "4", "-y"}, "", 1, "",
         "the output would overwrite an input: CTRL_DUPLICATE_FILE (6)"},
        {{"transcode", "a.mp4", "-o", "b.mp4", "-p", "4"}, "", 1, "",
         "b.mp4: exists (give --overwrite to replace it)"},
        {{"transcode", "a.mp4", "-o", "no/such/out.mkv", "-p", "4"}, "", 1, "",
         "to write into: CRTL_FILE_DOES_NOT_EXIST (5)"},
        {{"transcode", "a.mp4", "-o", "x.mkv", "-p", "4"}, "--result=140", 1, "",
         "a.mp4: transcode failed: ENG_WRITING_ERROR (140)"},
        {{"batch", "a.mp4", "-d", "out", "-p", "4", "--shard", "3/2"}, "", 2, "",
         "expected K/N with 1 <= K <= N"},
        {{"batch", "a.mp4", "-d", "out", "-p", "4", "-a", "0"}, "--progress=1", 0, "",
         "1 of 1 files transcoded"},
        {{"batch", "a.mp4", "-d", "out", "-p", "4", "-a", "1"}, "", 1, "",
         "audio track 1 does not exist (the first source has 1)"},
        {{"preview", "a.mp4", "-p", "NP_Nothing"}, "", 2, "", "expected a profile name"},
        {{"frobnicate"}, "", 2, "", "A subcommand is required"},
        {{"--version"}, "", 0, "norv ", ""},
    };
    // clang-format on
    for (const Case& c : cases) {
        NorvFolder folder;
        const NorvOutput result = RunNorv(c.args, folder.With(c.engine));
        const std::string what = c.args.front() + (c.args.size() > 1 ? " " + c.args[1] : "");
        EXPECT_EQ(result.status, c.status) << what << "\n" << result.err;
        EXPECT_NE(result.out.find(c.out), std::string::npos) << what << "\n" << result.out;
        EXPECT_NE(result.err.find(c.err), std::string::npos) << what << "\n" << result.err;
    }
}

TEST(Norv, AFailedTranscodeLeavesWhatWasThereBefore) {
    struct Case {
        const char* what;
        std::string engine;
        bool oldKept; // else no output at all
    };
    const Case cases[] = {
        {"the engine never wrote", "--result=140", true},
        {"the engine wrote a part", "--result=140 --write-output", false},
    };
    for (const Case& c : cases) {
        NorvFolder folder;
        WriteFile(folder.file("out.mkv"), "an earlier output");
        const NorvOutput result = RunNorv({"transcode", "a.mp4", "-o", "out.mkv", "-p", "4", "-y"},
                                          folder.With(c.engine));
        EXPECT_EQ(result.status, 1) << c.what << "\n" << result.err;
        if (c.oldKept) {
            EXPECT_EQ(ReadFile(folder.file("out.mkv")), "an earlier output") << c.what;
        } else {
            EXPECT_FALSE(fs::exists(folder.file("out.mkv"))) << c.what;
        }
    }
}

TEST(Norv, EverySubcommandHasHelp) {
    const std::vector<std::vector<std::string>> commands = {{"info"},
                                                            {"profiles"},
                                                            {"analyze"},
                                                            {"preview"},
                                                            {"transcode"},
                                                            {"batch"},
                                                            {"presets"},
                                                            {"presets", "list"},
                                                            {"presets", "save"},
                                                            {"presets", "show"},
                                                            {"presets", "delete"},
                                                            {"report", "merge"}};
    NorvFolder folder;
    for (std::vector<std::string> args : commands) {
        std::string usage = "Usage: norv";
        for (const std::string& word : args) {
            usage += " " + word;
        }
        args.push_back("--help");
        const NorvOutput result = RunNorv(args, folder.With(""));
        EXPECT_EQ(result.status, 0) << usage;
        EXPECT_NE(result.out.find(usage), std::string::npos) << result.out;
    }
}

TEST(Norv, JsonOutputParsesBack) {
    struct Case {
        std::vector<std::string> args;
        std::string engine;
        std::function<void(const json&)> check;
    };
    const Case cases[] = {
        {{"info"},
         "--supported-profiles=5",
         [](const json& j) {
             EXPECT_EQ(j["version"], "1.0.0.0");
             ASSERT_EQ(j["profiles"].size(), 12u);
             EXPECT_TRUE(j["profiles"][4]["supported"].get<bool>());
             EXPECT_FALSE(j["profiles"][5]["supported"].get<bool>());
             EXPECT_EQ(j["profiles"][4]["output_audio_codecs"], json({"AC_AAC", "AC_AC3"}));
         }},
        {{"profiles"},
         "",
         [](const json& j) {
             ASSERT_EQ(j.size(), 12u);
             EXPECT_EQ(j[4]["name"], "NP_NorvPlusHD");
             EXPECT_EQ(j[4]["max_width"], 1920);
             EXPECT_EQ(j[4]["description"], "MKV, H.264, AAC/AC3");
             EXPECT_LE(j[4]["video_bitrate"]["min"], j[4]["video_bitrate"]["max"]);
         }},
        {{"analyze", "a.mp4", "b.mp4"},
         "--audio-tracks=2 --subtitle-tracks=1",
         [](const json& j) {
             ASSERT_EQ(j.size(), 2u);
             const json& source = j[1]["sources"][0];
             EXPECT_EQ(j[1]["input"], "b.mp4");
             EXPECT_EQ(source["title"], "b");
             EXPECT_EQ(source["video"][0]["width"], 1920);
             EXPECT_EQ(source["video"][0]["frame_rate"], 25.0);
             EXPECT_EQ(source["audio"].size(), 2u);
             EXPECT_EQ(source["audio"][1]["language"], "ger");
             EXPECT_EQ(source["subtitles"].size(), 1u);
         }},
        {{"analyze", "a.mp4"},
         "--analysis-files=2",
         [](const json& j) { EXPECT_EQ(j[0]["sources"].size(), 2u); }},
        {{"preview", "a.mp4", "-p", "NorvPlusHD", "--size", "1280x720", "--size-limit", "1G"},
         "",
         [](const json& j) {
             EXPECT_EQ(j["profile"], "NP_NorvPlusHD");
             EXPECT_EQ(j["width"], 1280);
             EXPECT_EQ(j["height"], 720);
             EXPECT_EQ(j["size_limit"], 1000000000u);
             EXPECT_TRUE(j["size_limit_reachable"].get<bool>());
             EXPECT_GT(j["estimated_size"].get<uint64_t>(), 0u);
         }},
    };
    for (const Case& c : cases) {
        NorvFolder folder;
        std::vector<std::string> args = c.args;
        args.push_back("--json");
        const NorvOutput result = RunNorv(args, folder.With(c.engine));
        ASSERT_EQ(result.status, 0) << c.args.front() << "\n" << result.err;
        const std::vector<json> lines = JsonLines(result.out);
        ASSERT_EQ(lines.size(), 1u) << result.out;
        c.check(lines.front());
    }
}

// Removes a file. On Windows an engine that norv started may still run from
// it for a moment after norv has ended, and a running program's file cannot
// be removed.
void RemoveOnceFree(const std::string& file) {
    std::error_code error;
    for (int i = 0; i < 3000; ++i) {
        fs::remove(file, error);
        if (!error) {
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ADD_FAILURE() << file << ": " << error.message();
}

TEST(Norv, FindsTheEngineByOptionEnvironmentOrBesideItself) {
    TempDir dir;
    const std::string bin = dir.file("bin");
    fs::create_directory(bin);
    const std::string copy = bin + kSep + "norv" + kExe;
    fs::copy_file(NORV_CLI, copy);
#if defined(_WIN32)
    fs::copy_file(NORV_LIBRARY, bin + kSep + fs::path(NORV_LIBRARY).filename().string());
#endif
    const std::string scripted = NORV_SCRIPTED_ENGINE;
    const std::string besideEngine = bin + kSep + "NorvEngine" + kExe;
    struct Case {
        std::string program;
        std::string option; // --engine
        std::string env;    // NORV_ENGINE
        bool besideNorv;    // a NorvEngine beside the program
        int status;
        std::string err;
    };
    const Case cases[] = {
        {NORV_CLI, "", "", false, 1, "norv: no engine: give --engine PATH, set NORV_ENGINE"},
        {NORV_CLI, "/nonexistent/NorvEngine", "", false, 1,
         "cannot start the engine \"/nonexistent/NorvEngine\": ENG_ERR (2)"},
        {NORV_CLI, "", scripted, false, 0, ""},
        {NORV_CLI, scripted, "/nonexistent/NorvEngine", false, 0, ""},
        {copy, "", "", true, 0, ""},
        {copy, "", "/nonexistent/NorvEngine", true, 1, "cannot start the engine"},
    };
    for (const Case& c : cases) {
        RemoveOnceFree(besideEngine);
        if (c.besideNorv) {
#if defined(_WIN32)
            fs::copy_file(scripted, besideEngine); // links need rights Windows seldom grants
#else
            fs::create_symlink(scripted, besideEngine);
#endif
        }
        NorvOptions options;
        options.folder = dir.path();
        options.program = c.program;
        if (!c.env.empty()) {
            options.env["NORV_ENGINE"] = c.env;
        }
        std::vector<std::string> args{"info"};
        if (!c.option.empty()) {
            args.insert(args.end(), {"--engine", c.option});
        }
        const NorvOutput result = RunNorv(args, options);
        EXPECT_EQ(result.status, c.status) << c.program << " " << c.option << " " << c.env;
        EXPECT_NE(result.err.find(c.err), std::string::npos) << result.err;
        if (c.status != 0) {
            EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
        }
    }
    RemoveOnceFree(besideEngine);
}

TEST(Norv, PresetsAreSavedListedAppliedAndDeleted) {
    NorvFolder folder;
    const NorvOptions options = folder.With("");
    auto run = [&](std::vector<std::string> args) {
        args.push_back("--json");
        const NorvOutput result = RunNorv(args, options);
        EXPECT_EQ(result.status, 0) << args[0] << " " << args[1] << "\n" << result.err;
        const std::vector<json> lines = JsonLines(result.out);
        return lines.empty() ? json() : lines.front();
    };
    run({"presets", "save", "p", "small", "-p", "HD720", "--size", "640x360", "--video-bitrate",
         "800k", "--crop", "8,8,0,0", "--priority", "size"});
    run({"presets", "save", "p", "large", "--preset", "p/small.preset", "--size", "1280x720"});

    const json list = run({"presets", "list", "p"});
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0]["name"], "small"); // oldest first
    EXPECT_EQ(list[1]["name"], "large");

    const json large = run({"presets", "show", "p", "large"});
    EXPECT_EQ(large["profile"], "NP_HD720");
    EXPECT_EQ(large["width"], 1280);
    EXPECT_EQ(large["video_bitrate"], 800000);
    EXPECT_EQ(large["crop"]["top"], 8);
    EXPECT_EQ(large["priority"], "size");

    EXPECT_EQ(run({"preview", "a.mp4", "--preset", "p/small.preset"})["width"], 640);
    const NorvOutput mismatch =
        RunNorv({"preview", "a.mp4", "--preset", "p/small.preset", "-p", "4"}, options);
    EXPECT_EQ(mismatch.status, 1);
    EXPECT_NE(mismatch.err.find("preset is made for NP_HD720, not NP_NorvPlusHD"),
              std::string::npos);

    EXPECT_EQ(run({"presets", "delete", "p", "small"})["deleted"], "p" + kSep + "small.preset");
    EXPECT_EQ(run({"presets", "list", "p"}).size(), 1u);
    EXPECT_FALSE(fs::exists(folder.file("p/small.preset")));
    const NorvOutput gone = RunNorv({"presets", "show", "p", "small"}, options);
    EXPECT_EQ(gone.status, 1);
    EXPECT_NE(gone.err.find("CRTL_FILE_DOES_NOT_EXIST"), std::string::npos) << gone.err;
}

} // namespace
} // namespace norv_test
