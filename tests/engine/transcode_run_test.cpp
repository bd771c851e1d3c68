// How transcodes with the real engine end when not all goes well: a cancel
// in the middle, a missing input, an output that cannot be written; and an
// output held to a size limit.
#include <gtest/gtest.h>

#include <filesystem>

#include "corpus.h"
#include "platform/text.h"
#include "support/temp_dir.h"
#include "transcode_support.h"

namespace nvt {
namespace {

using norv_test::CallbackEvent;
using SourceRef = nvtl::RefCountedPtr<ISourceMedia>;

// The process id the engine writes on each log line ("... [1234] ...").
uint32_t EnginePid(const std::string& log) {
    const std::string text = norv_test::ReadFile(log);
    const size_t open = text.find('[');
    return open == std::string::npos ? 0 : static_cast<uint32_t>(std::stoul(text.substr(open + 1)));
}

TEST(RealEngineRun, CancelStopsTheRunAndLeavesNoOutput) {
    const SourceRef film = norv_test::Analysed("long.mp4"); // 20 s
    ASSERT_TRUE(film);
    norv_test::TempDir dir;
    norv_test::TempDir logs;
    auto settings = norv_test::SettingsFor(NP_HEVC720);
    settings->SetVideo2Pass(true);
    settings->SetHevcQualityLevel(hevc_ql_best);
    settings->SetAudioTracks({0});
    norv_test::Run run = norv_test::Prepare({film}, *settings, {}, logs.file("engine.log"));
    norv_test::Start(run, dir.file("film.mkv"));
    // Under way: some progress reported.
    ASSERT_TRUE(norv_test::WaitUntil([&] {
        for (const CallbackEvent& e : run.callback->Events()) {
            if (e.kind == CallbackEvent::Progress && e.progress > 0.0) {
                return true;
            }
        }
        return false;
    }));
    const uint32_t engine = EnginePid(logs.file("engine.log"));
    ASSERT_NE(engine, 0u);
    // Locked down while it works, on every thread: no new privileges and a
    // seccomp filter.
    const std::string threads = "/proc/" + std::to_string(engine) + "/task";
    size_t seen = 0;
    for (const auto& thread : std::filesystem::directory_iterator(threads)) {
        const std::string status = norv_test::ReadFile(thread.path().string() + "/status");
        EXPECT_NE(status.find("NoNewPrivs:\t1\n"), std::string::npos) << status;
        EXPECT_NE(status.find("Seccomp:\t2\n"), std::string::npos) << status;
        ++seen;
    }
    EXPECT_GE(seen, 2u);
    EXPECT_EQ(run.session->Cancel(), SUCCESS);

    EXPECT_EQ(norv_test::StateOf(*run.session), TS_Pending);
    ASSERT_FALSE(run.callback->Events().empty());
    EXPECT_EQ(run.callback->Events().back().kind, CallbackEvent::Cancel);
    EXPECT_EQ(run.callback->CountOf(CallbackEvent::Complete), 0u);
    EXPECT_EQ(run.callback->CountOf(CallbackEvent::Error), 0u);
    EXPECT_TRUE(norv_test::WaitUntil([&] { return !norv_test::ProcessRunning(engine); }));
    // Neither the output nor its temporary or scratch files are left.
    EXPECT_TRUE(norv_test::FolderEntries(dir.path()).empty());
    EXPECT_NE(norv_test::ReadFile(logs.file("engine.log")).find("cancel"), std::string::npos);
}

TEST(RealEngineRun, FailuresNameTheirCause) {
    norv_test::TempDir dir;
    // A source whose file is gone by the time it is transcoded.
    const std::string gone = dir.file("gone.mp4");
    std::filesystem::copy_file(norv_test::CorpusFile("part1.mp4"), gone);
    norv_test::WriteFile(dir.file("file"), "not a folder");
    struct Row {
        const char* what;
        std::string input;
        std::string output;
        Result code;
    };
    const Row rows[] = {
        {"missing input", gone, dir.file("out.mkv"), CRTL_FILE_DOES_NOT_EXIST},
        {"output folder is a file", norv_test::CorpusFile("part2.mp4"),
         dir.file("file") + "/out.mkv", ENG_WRITING_ERROR},
        {"output folder is missing", norv_test::CorpusFile("part2.mp4"),
         dir.file("none") + "/out.mkv", ENG_WRITING_ERROR},
    };
    const SourceRef doomed = norv_test::AnalysedPath(gone);
    ASSERT_TRUE(doomed);
    std::filesystem::remove(gone);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const SourceRef source = row.input == gone ? doomed : norv_test::AnalysedPath(row.input);
        auto settings = norv_test::SettingsFor(NP_NorvPlusHD);
        norv_test::Run run = norv_test::Prepare({source}, *settings);
        norv_test::Start(run, row.output);
        EXPECT_EQ(norv_test::Finish(run), row.code);
        EXPECT_EQ(run.callback->Events().back().kind, CallbackEvent::Error);
        EXPECT_EQ(run.callback->Events().back().source, source.get());
    }
    EXPECT_EQ(norv_test::FolderEntries(dir.path()).size(), 1u); // the file only
}

TEST(RealEngineRun, OutputKeepsToItsSizeLimit) {
    // 240x180 at 29.97 frames per second, 2 s of moving pictures.
    const SourceRef clip = norv_test::Analysed("h264_aac.mp4");
    ASSERT_TRUE(clip);
    for (NorvProfile profile : {NP_NorvPlusHD, NP_HD720}) {
        SCOPED_TRACE(EnumName<NorvProfile>(profile));
        norv_test::TempDir dir;
        constexpr uint64_t kLimit = 120000;
        auto settings = norv_test::SettingsFor(profile);
        settings->SetAudioTracks({0});
        settings->SetFileSizeLimit(kLimit);
        settings->SetPriority(prioFilesize);
        norv_test::Run run = norv_test::Prepare({clip}, *settings);
        EXPECT_LE(norv_test::PreviewOf(*run.session).estimatedSize, kLimit);
        norv_test::Start(run, dir.file("out"));
        ASSERT_EQ(norv_test::Finish(run), SUCCESS);
        const uint64_t size = std::filesystem::file_size(dir.file("out"));
        EXPECT_LE(size, kLimit);
        EXPECT_GE(size, kLimit * 8 / 10);
    }
}

} // namespace
} // namespace nvt
