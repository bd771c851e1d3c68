// The real engine's analysis through CreateMediaSource (engine launch,
// handshake, probe, answer) beside the ffprobe program on the same file in
// the same run, and files per second over a folder of 100 files, one
// analysis after another and from 4 threads at once. The media is made with
// the ffmpeg program when the program starts.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <random>
#include <thread>
#include <vector>

#include "api/transcoder_logic.h"
#include "platform/process.h"
#include "platform/text.h"
#include "session/transcode_session.h"

namespace {

using namespace nvt;
namespace fs = std::filesystem;

#ifdef NORV_ENGINE
const char kEngine[] = NORV_ENGINE;
#else
const char kEngine[] = "";
#endif

constexpr int kFolderFiles = 100;

bool Run(const std::string& commandLine) {
    NorvOS::CChildProcess child;
    return child.Start(commandLine, nullptr) && child.WaitForExit(120000);
}

// A folder with one 2-second H.264 + AAC clip (320x240) and 100 copies.
class Media {
public:
    Media() {
        std::random_device random;
        folder_ = fs::temp_directory_path() / ("norv-engine-bench-" + std::to_string(random()));
        fs::create_directories(folder_ / "many");
        clip_ = (folder_ / "clip.mp4").string();
        Run("ffmpeg -nostdin -loglevel error -y -f lavfi -i "
            "testsrc2=size=320x240:rate=25:duration=2 "
            "-f lavfi -i sine=frequency=440:duration=2 -c:v libx264 -preset ultrafast -c:a aac " +
            clip_);
        for (int i = 0; i < kFolderFiles && fs::exists(clip_); ++i) {
            const fs::path copy = folder_ / "many" / ("clip" + std::to_string(i) + ".mp4");
            fs::copy_file(clip_, copy);
            many_.push_back(copy.string());
        }
    }
    ~Media() {
        std::error_code ec;
        fs::remove_all(folder_, ec);
    }
    bool Ready() const { return kEngine[0] != '\0' && many_.size() == kFolderFiles; }
    const std::string& Clip() const { return clip_; }
    const std::vector<std::string>& Many() const { return many_; }

private:
    fs::path folder_;
    std::string clip_;
    std::vector<std::string> many_;
};

const Media& TheMedia() {
    static const Media media;
    return media;
}

bool Analyse(CNorvTranscoderLogic& logic, const std::string& path) {
    std::vector<nvtl::RefCountedPtr<ISourceMedia>> sources;
    int32_t width = 0, height = 0;
    return logic.CreateMediaSource(W(path.c_str()), &width, &height, WideString(), sources) ==
               SUCCESS &&
           sources.size() == 1;
}

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// Each repetition times one ffprobe run and one analysis the way
// CreateMediaSource runs it (a session of its own at low priority, the
// analysis, the session's end), which is the reported time, on the same
// file. "ratio" is that time over ffprobe's; "answered_ms" and
// "answered_ratio" stop the clock once the sources are there, before the
// session closes its engine.
void BM_AnalyseOneFileBesideFfprobe(benchmark::State& state) {
    const Media& media = TheMedia();
    if (!media.Ready()) {
        state.SkipWithError("no engine, or the ffmpeg program could not make the media");
        return;
    }
    const std::string ffprobe =
        "ffprobe -v quiet -show_streams -show_format -o /dev/null " + media.Clip();
    for (auto _ : state) {
        auto begin = std::chrono::steady_clock::now();
        if (!Run(ffprobe)) {
            state.SkipWithError("ffprobe did not run");
            return;
        }
        const double probeSeconds = Seconds(begin);
        begin = std::chrono::steady_clock::now();
        nvtl::RefCountedPtr<TranscodeSession> session(new TranscodeSession(W(kEngine)));
        session->SetPriority(TP_Low);
        std::vector<nvtl::RefCountedPtr<ISourceMedia>> sources;
        int32_t width = 0, height = 0;
        const Result result =
            session->Analyze(W(media.Clip().c_str()), &width, &height, WideString(), sources);
        const double answeredSeconds = Seconds(begin);
        session.reset();
        const double engineSeconds = Seconds(begin);
        if (result != SUCCESS || sources.size() != 1) {
            state.SkipWithError("analysis failed");
            return;
        }
        state.SetIterationTime(engineSeconds);
        state.counters["ffprobe_ms"] = probeSeconds * 1000.0;
        state.counters["ratio"] = engineSeconds / probeSeconds;
        state.counters["answered_ms"] = answeredSeconds * 1000.0;
        state.counters["answered_ratio"] = answeredSeconds / probeSeconds;
    }
}

// Analyses the folder's files with the given number of threads, each with
// its own engine object, taking the next file until all are done.
void AnalyseFolder(benchmark::State& state, int threads) {
    const Media& media = TheMedia();
    if (!media.Ready()) {
        state.SkipWithError("no engine, or the ffmpeg program could not make the media");
        return;
    }
    for (auto _ : state) {
        std::atomic<int> next{0};
        std::atomic<int> failures{0};
        std::vector<std::thread> workers;
        for (int t = 0; t < threads; ++t) {
            workers.emplace_back([&] {
                CNorvTranscoderLogic logic;
                logic.InitTranscodeEngine(W(kEngine), SLoggerParam(), nullptr, WideString());
                for (int i = next++; i < kFolderFiles; i = next++) {
                    failures += Analyse(logic, media.Many()[i]) ? 0 : 1;
                }
            });
        }
        for (std::thread& worker : workers) {
            worker.join();
        }
        if (failures != 0) {
            state.SkipWithError("an analysis failed");
            return;
        }
    }
    state.counters["files_per_second"] =
        benchmark::Counter(kFolderFiles, benchmark::Counter::kIsIterationInvariantRate);
}

void BM_FolderOneAfterAnother(benchmark::State& state) {
    AnalyseFolder(state, 1);
}

void BM_FolderFourThreads(benchmark::State& state) {
    AnalyseFolder(state, 4);
}

BENCHMARK(BM_AnalyseOneFileBesideFfprobe)
    ->Iterations(1)
    ->Repetitions(20)
    ->ReportAggregatesOnly(true)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FolderOneAfterAnother)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FolderFourThreads)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

} // namespace
