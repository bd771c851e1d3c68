#include "commands/cli.h"

#include <CLI/CLI.hpp>

#include <functional>

#include "batch/path_list.h"
#include "batch/shard.h"

namespace norv {

namespace {

const char* const kPresetGroup = "Preset settings (stored by presets save)";
const char* const kJobGroup = "Job settings";

// An option whose text a parser turns into a value; a text it refuses is a
// usage error naming what was expected.
template <class T>
CLI::Option* AddParsed(CLI::App* app, const std::string& name,
                       const std::function<std::optional<T>(const std::string&)>& parse,
                       const std::function<void(const T&)>& store, const std::string& help,
                       const std::string& expected) {
    return app->add_option_function<std::string>(
        name,
        [=](const std::string& text) {
            const std::optional<T> value = parse(text);
            if (!value) {
                throw CLI::ValidationError(name, "'" + text + "': expected " + expected);
            }
            store(*value);
        },
        help);
}

void AddProfileOptions(CLI::App* app, OutputChoice& c) {
    AddParsed<nvt::NorvProfile>(
        app, "-p,--profile", ParseProfile, [&c](const nvt::NorvProfile& p) { c.profile = p; },
        "Output profile: its name (NP_NorvPlusHD or NorvPlusHD) or number; see 'norv profiles'",
        "a profile name or 0..11")
        ->type_name("PROFILE");
    app->add_option("--preset", c.presetFile,
                    "Start from a stored preset file (the profile comes from it)")
        ->check(CLI::ExistingFile);
}

void AddPresetSettings(CLI::App* app, PresetSettings& p) {
    AddParsed<std::pair<uint32_t, uint32_t>>(
        app, "-s,--size",
        [](const std::string& text) -> std::optional<std::pair<uint32_t, uint32_t>> {
            uint32_t w = 0, h = 0;
            return ParsePicture(text, w, h) ? std::optional(std::make_pair(w, h)) : std::nullopt;
        },
        [&p](const std::pair<uint32_t, uint32_t>& size) {
            p.width = size.first;
            p.height = size.second;
        },
        "Picture size, WIDTHxHEIGHT", "WIDTHxHEIGHT, e.g. 1280x720")
        ->group(kPresetGroup)
        ->type_name("WxH");
    AddParsed<uint64_t>(
        app, "-b,--video-bitrate", ParseRate,
        [&p](const uint64_t& rate) { p.videoBitrate = static_cast<uint32_t>(rate); },
        "Video bitrate in bits per second (k and M suffixes: 2500k, 4M)",
        "a bitrate such as 2500k or 4M")
        ->group(kPresetGroup)
        ->type_name("RATE");
    AddParsed<std::vector<uint32_t>>(
        app, "--audio-bitrate", ParseRateList,
        [&p](const std::vector<uint32_t>& rates) { p.audioBitrates = rates; },
        "Audio bitrate per output track, comma-separated (192k,128k); one value applies to all",
        "bitrates such as 192k or 128k,96k")
        ->group(kPresetGroup)
        ->type_name("RATE,...");
    app->add_flag_function(
           "--audio-passthrough,!--no-audio-passthrough",
           [&p](int64_t count) { p.audioPassthrough = count > 0; },
           "Copy audio the profile can carry as it is (default: the profile's)")
        ->group(kPresetGroup);
    AddParsed<uint64_t>(
        app, "--size-limit", ParseBytes, [&p](const uint64_t& bytes) { p.sizeLimit = bytes; },
        "Largest output size in bytes (K/M/G decimal, Ki/Mi/Gi binary: 700M, 4.7G)",
        "a size such as 700M or 4.7G")
        ->group(kPresetGroup)
        ->type_name("BYTES");
    AddParsed<nvt::SettingPriority>(
        app, "--priority", ParseSettingPriority,
        [&p](const nvt::SettingPriority& prio) { p.priority = prio; },
        "The setting that wins when not all can be met", "one of the names listed")
        ->group(kPresetGroup)
        ->check(CLI::IsMember(SettingPriorityNames()));
    app->add_flag_function(
           "--aspect,!--no-aspect", [&p](int64_t count) { p.aspect = count > 0; },
           "Keep the source's display aspect (default on)")
        ->group(kPresetGroup);
    app->add_flag_function(
           "--two-pass,!--one-pass", [&p](int64_t count) { p.twoPass = count > 0; },
           "Encode the video in two passes")
        ->group(kPresetGroup);
    AddParsed<nvt::CropRect>(
        app, "--crop", ParseCrop, [&p](const nvt::CropRect& rect) { p.crop = rect; },
        "Crop margins in pixels: TOP,BOTTOM,LEFT,RIGHT", "TOP,BOTTOM,LEFT,RIGHT in pixels")
        ->group(kPresetGroup)
        ->type_name("T,B,L,R");
}

void AddJobSettings(CLI::App* app, JobSettings& j) {
    app->add_option_function<std::string>(
           "-a,--audio-tracks",
           [&j](const std::string& text) {
               if (text == "all") {
                   j.audioTracks.reset();
                   return;
               }
               const auto list = ParseIndexList(text);
               if (!list) {
                   throw CLI::ValidationError("--audio-tracks",
                                              "'" + text + "': expected all, none or 0,1,...");
               }
               j.audioTracks = *list;
           },
           "Source audio tracks to keep: all (default), none, or indices 0,1,...")
        ->group(kJobGroup)
        ->type_name("LIST");
    AddParsed<std::vector<uint32_t>>(
        app, "--subtitles", ParseIndexList,
        [&j](const std::vector<uint32_t>& list) { j.subtitleTracks = list; },
        "Source subtitle tracks to keep, indices 0,1,... (default none)", "none or 0,1,...")
        ->group(kJobGroup)
        ->type_name("LIST");
    app->add_flag("--burn-subtitles", j.burnSubtitles,
                  "Burn the first chosen subtitle track into the picture")
        ->group(kJobGroup);
    AddParsed<uint32_t>(
        app, "--flip", ParseFlip, [&j](const uint32_t& flip) { j.flip = flip; },
        "Flip the picture: none, h, v or hv", "none, h, v or hv")
        ->group(kJobGroup)
        ->type_name("FLIP");
    app->add_option_function<int32_t>(
           "--angle", [&j](const int32_t& angle) { j.angle = angle; },
           "Rotate the picture by this many degrees (90, 180, 270)")
        ->group(kJobGroup)
        ->check(CLI::IsMember({0, 90, 180, 270}));
    app->add_option_function<std::string>(
           "--title", [&j](const std::string& title) { j.title = title; },
           "Title written into the output")
        ->group(kJobGroup);
    app->add_option_function<std::string>(
           "--temp-dir", [&j](const std::string& dir) { j.tempDir = dir; },
           "Folder for the engine's temporary files")
        ->group(kJobGroup)
        ->check(CLI::ExistingDirectory);
    AddParsed<nvt::TranscodePriority>(
        app, "--engine-priority", ParseEnginePriority,
        [&j](const nvt::TranscodePriority& prio) { j.enginePriority = prio; },
        "Priority of the engine process: idle, low, normal (default) or high",
        "idle, low, normal or high")
        ->group(kJobGroup)
        ->type_name("LEVEL");
}

void AddOutputChoice(CLI::App* app, OutputChoice& c) {
    AddProfileOptions(app, c);
    AddPresetSettings(app, c.preset);
    AddJobSettings(app, c.job);
}

// --quality, which chooses the video bitrate itself.
CLI::Option* AddQualityOption(CLI::App* app, Invocation& in) {
    CLI::Option* quality =
        AddParsed<QualityTarget>(
            app, "--quality", ParseQualityTarget,
            [&in](const QualityTarget& target) { in.quality = target; },
            "Choose the video bitrate that reaches this quality, measured on a probe of short "
            "samples before the encode: " +
                QualityLevelsText() +
                ", or the worst-1 % SSIM itself (0.5..0.999); SSIM against the source scaled to "
                "the output picture, pooled over its worst 1 % of frames",
            "high, standard, small or a number such as 0.96")
            ->type_name("LEVEL");
    quality->excludes(app->get_option("--video-bitrate"));
    return quality;
}

void AddProgressOptions(CLI::App* app, Invocation& in) {
    app->add_option("--progress-period", in.progressPeriod,
                    "Seconds between progress lines when standard error is not a terminal")
        ->check(CLI::NonNegativeNumber);
    app->add_flag("-y,--overwrite", in.overwrite, "Replace outputs that exist");
}

CLI::App* AddCommand(CLI::App& app, Invocation& in, const std::string& name,
                     const std::string& help) {
    CLI::App* sub = app.add_subcommand(name, help);
    sub->callback([&in, name] { in.command = name; });
    sub->footer("Global options (see norv --help): --engine PATH, --json");
    return sub;
}

void AddPresetCommands(CLI::App& app, Invocation& in) {
    CLI::App* presets = AddCommand(app, in, "presets", "List, show, save and delete presets");
    presets->require_subcommand(1);
    auto action = [&](const std::string& name, const std::string& help, bool named) {
        CLI::App* sub = presets->add_subcommand(name, help);
        sub->callback([&in, name] { in.presetAction = name; });
        sub->add_option("DIR", in.presetDir, "Folder holding the presets")->required();
        if (named) {
            sub->add_option("NAME", in.presetName, "Preset name (the file is DIR/NAME.preset)")
                ->required();
        }
        return sub;
    };
    action("list", "The presets of a folder, oldest first", false);
    action("show", "The settings a preset holds", true);
    CLI::App* save =
        action("save", "Store settings as a preset (replacing one of that name)", true);
    AddProfileOptions(save, in.choice);
    AddPresetSettings(save, in.choice.preset);
    action("delete", "Delete a preset", true);
}

// The lists of --from-list and --from-list0, read once the command line is
// parsed. A list that cannot be read is a usage error.
std::vector<std::string> ReadLists(const Invocation& in) {
    std::vector<std::string> paths;
    const std::pair<const std::string*, ListForm> lists[] = {{&in.fromList, ListForm::Lines},
                                                             {&in.fromList0, ListForm::Nul}};
    for (const auto& list : lists) {
        if (list.first->empty()) {
            continue;
        }
        try {
            const std::vector<std::string> listed = ReadPathList(*list.first, list.second);
            paths.insert(paths.end(), listed.begin(), listed.end());
        } catch (const ShardError& e) {
            throw CLI::ValidationError(
                list.second == ListForm::Nul ? "--from-list0" : "--from-list", e.what());
        }
    }
    return paths;
}

void AddListOptions(CLI::App* app, Invocation& in, const std::string& what) {
    app->add_option("--from-list", in.fromList,
                    what + " listed in LIST, one path a line ('-': standard input)")
        ->type_name("LIST");
    app->add_option("--from-list0", in.fromList0,
                    what + " listed in LIST, each path ended by a NUL (as find -print0 writes); "
                           "any name fits")
        ->type_name("LIST");
}

// The files of a batch (named, listed or both, in that order), the share of
// them this run takes, and its report.
void AddBatchInputs(CLI::App* batch, Invocation& in) {
    batch->add_option("FILE", in.inputs, "Files to transcode, one output each");
    AddListOptions(batch, in, "Also transcode the files (the list's order decides the shards);");
    batch
        ->add_option_function<std::string>(
            "--shard",
            [&in](const std::string& text) {
                if (text.compare(0, 4, "auto") != 0 && !ParseShard(text)) {
                    throw CLI::ValidationError(
                        "--shard", "'" + text +
                                       "': expected K/N with 1 <= K <= N, auto, auto/N or "
                                       "auto/VARIABLE");
                }
                in.shardText = text;
            },
            "Take only the K-th of N shares of the files (K from 1), taking every N-th file; "
            "auto: the share of this task of a Slurm job array or of a Kubernetes indexed Job "
            "(auto/N or auto/VARIABLE gives the number of shares; give it when a part of an "
            "array is submitted again)")
        ->type_name("K/N|auto");
    batch
        ->add_option("--report", in.reportFile,
                     "Write what became of each file of this run to FILE (JSON), from its start "
                     "on: done, skipped (a finished output of this batch was there), failed, "
                     "cancelled or not started")
        ->type_name("FILE");
    batch->callback([&in] {
        in.command = "batch";
        const std::vector<std::string> listed = ReadLists(in);
        in.inputs.insert(in.inputs.end(), listed.begin(), listed.end());
        if (in.inputs.empty()) {
            throw CLI::ValidationError("FILE", "no files to transcode: give FILE..., "
                                               "--from-list LIST or --from-list0 LIST");
        }
    });
}

void AddReportCommands(CLI::App& app, Invocation& in) {
    CLI::App* report = AddCommand(app, in, "report", "Gather the reports of a batch's shards");
    report->require_subcommand(1);
    CLI::App* merge = report->add_subcommand(
        "merge", "One summary (JSON, on standard output) of several batch --report files");
    merge->add_option("FILE", in.inputs, "Reports written by batch --report")->required();
    AddListOptions(merge, in,
                   "The batch's files, as its shards were cut from them: files no report "
                   "names (a shard that wrote none) are run again;");
    merge
        ->add_option("--rerun-list", in.rerunList,
                     "Write the inputs that failed, were cut short or never started to LIST, "
                     "one a line, for the next run's --from-list")
        ->type_name("LIST");
    merge
        ->add_option("--rerun-list0", in.rerunList0,
                     "The same, each path ended by a NUL, for --from-list0 (any name fits)")
        ->type_name("LIST");
    merge->callback([&in] {
        if (!in.fromList.empty() || !in.fromList0.empty()) {
            in.listed = ReadLists(in);
        }
    });
}

// One film cut into parts that separate tasks encode, then joined.
void AddPartOptions(CLI::App* transcode, Invocation& in) {
    const char* const group = "Parts (one film across many machines)";
    CLI::Option* parts =
        transcode
            ->add_option("--parts", in.parts,
                         "Cut the film into N parts at keyframes near equal shares, each "
                         "encoded in two passes at its share of the size, kept in OUT.parts/; "
                         "alone (or with --jobs) every part is encoded here, then joined")
            ->check(CLI::Range(1u, 10000u))
            ->type_name("N")
            ->group(group);
    CLI::Option* part =
        transcode
            ->add_option_function<std::string>(
                "--part",
                [&in](const std::string& text) {
                    if (text.compare(0, 4, "auto") != 0 && !ParseShard(text)) {
                        throw CLI::ValidationError(
                            "--part", "'" + text +
                                          "': expected K/N with 1 <= K <= N, auto, auto/N or "
                                          "auto/VARIABLE");
                    }
                    in.partText = text;
                },
                "Encode only part K of N (from 1); a part already finished is skipped. auto: "
                "the part of this task of a Slurm job array or a Kubernetes indexed Job")
            ->type_name("K/N|auto")
            ->needs(parts)
            ->group(group);
    transcode
        ->add_flag("--join", in.join,
                   "Join the finished parts into OUT (their audio made once over the whole "
                   "film); fails, leaving no output, unless every part is there and made with "
                   "these settings")
        ->needs(parts)
        ->excludes(part)
        ->group(group);
    transcode
        ->add_option("-j,--jobs", in.jobs,
                     "With --parts alone: parts encoded at once, each by an engine of its own "
                     "(default: one per core)")
        ->check(CLI::PositiveNumber)
        ->needs(parts)
        ->excludes(part)
        ->group(group);
    transcode
        ->add_option("--report", in.reportFile,
                     "With --part: write what became of the part to FILE (JSON; default "
                     "OUT.parts/part-K-of-N.report.json)")
        ->type_name("FILE")
        ->needs(part)
        ->group(group);
}

void AddServeCommand(CLI::App& app, Invocation& in) {
    CLI::App* serve =
        AddCommand(app, in, "serve", "A page in the browser: pick, set, queue, watch");
    serve->add_option("--port", in.port, "Port to listen on (0: a free one)")
        ->capture_default_str();
    serve
        ->add_option("--root", in.roots,
                     "A folder the page may browse and read (repeatable; default: the current "
                     "folder)")
        ->type_name("DIR");
    serve
        ->add_option("--output", in.outputDir,
                     "The folder outputs are written to (default: ./converted)")
        ->type_name("DIR");
    serve
        ->add_option("--presets", in.presetDir,
                     "The folder of stored presets (default: ~/.config/norv/presets)")
        ->type_name("DIR");
    serve->add_flag("--open", in.open, "Open the page in the desktop's browser");
    serve
        ->add_option("--listen", in.listen,
                     "Listen on this address instead of 127.0.0.1 and ::1 (a warning says so)")
        ->type_name("ADDR");
    // For tests: how often the event stream says it is alive.
    serve->add_option("--heartbeat", in.heartbeat)->group("")->check(CLI::PositiveNumber);
}

void DefineCommands(CLI::App& app, Invocation& in) {
    app.add_option("--engine", in.engine,
                   "Engine to run (default: $NORV_ENGINE, else NorvEngine beside norv)")
        ->type_name("PATH");
    app.add_flag("--json", in.json,
                 "Machine-readable output: JSON (one object per line for "
                 "progress events)");

    AddCommand(app, in, "info", "The engine's technical information");
    CLI::App* profiles = AddCommand(app, in, "profiles", "The twelve output profiles");
    profiles->add_option("--frame-rate", in.frameRate,
                         "Frame rate the limits are given for (default: each profile's own)");

    CLI::App* analyze = AddCommand(app, in, "analyze", "Analyse files: sources and their tracks");
    analyze->add_option("FILE", in.inputs, "Files to analyse")->required();
    analyze->add_option("-j,--jobs", in.jobs, "Files analysed at once (default: one per core)")
        ->check(CLI::PositiveNumber);

    CLI::App* preview =
        AddCommand(app, in, "preview", "What the output of a transcode would be like");
    preview->add_option("FILE", in.inputs, "Files joined into the output")->required();
    preview->add_flag("--measure", in.measure,
                      "Time a few seconds of the real job on this machine and extrapolate");
    AddOutputChoice(preview, in.choice);
    AddQualityOption(preview, in);

    CLI::App* transcode = AddCommand(app, in, "transcode", "Join files into one output");
    transcode->add_option("FILE", in.inputs, "Files joined into the output, in order")->required();
    transcode->add_option("-o,--output", in.output, "Output file")->required();
    AddProgressOptions(transcode, in);
    AddPartOptions(transcode, in);
    AddOutputChoice(transcode, in.choice);
    AddQualityOption(transcode, in);

    CLI::App* batch = AddCommand(app, in, "batch", "Transcode each file into a folder");
    AddBatchInputs(batch, in);
    batch->add_option("-d,--output-dir", in.outputDir, "Folder for the outputs")->required();
    batch->add_option("-j,--jobs", in.jobs, "Files transcoded at once (default: one per core)")
        ->check(CLI::PositiveNumber);
    AddProgressOptions(batch, in);
    AddOutputChoice(batch, in.choice);
    CLI::Option* quality = AddQualityOption(batch, in);
    AddParsed<uint64_t>(
        batch, "--total-size", ParseBytes, [&in](const uint64_t& bytes) { in.totalSize = bytes; },
        "Share SIZE among the outputs so that their worst-1 % quality comes out as even as "
        "it allows (from a probe of each file); together they take at most SIZE",
        "a size such as 700M or 4.7G")
        ->type_name("SIZE")
        ->excludes(quality)
        ->excludes(batch->get_option("--video-bitrate"));

    AddPresetCommands(app, in);
    AddReportCommands(app, in);
    AddServeCommand(app, in);
}

} // namespace

int ParseCommandLine(int argc, char** argv, Invocation& in) {
    CLI::App app("Transcodes video with the Norv engine.", "norv");
    app.set_version_flag("--version", std::string("norv ") + NORV_VERSION);
    app.require_subcommand(1);
    app.fallthrough(); // global options may follow the subcommand
    DefineCommands(app, in);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int status = app.exit(e);
        return status == 0 ? 0 : 2;
    }
    return -1;
}

} // namespace norv
