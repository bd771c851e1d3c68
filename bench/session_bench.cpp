// End-to-end latency of engine start-up and analysis against the scripted
// engine, real processes and pipes included, beside the bare cost of
// launching an engine and closing its channel, and the rate at which a
// folder of files is analysed. Each figure is the median of 20 single runs.
#include <benchmark/benchmark.h>

#include <chrono>
#include <string>
#include <vector>

#include "api/transcoder_logic.h"
#include "ipc/launcher.h"
#include "ipc/norv_ipc.h"
#include "platform/text.h"
#include "session/transcode_session.h"

namespace {

using namespace nvt;

#ifdef NORV_SCRIPTED_ENGINE
const char kEngine[] = NORV_SCRIPTED_ENGINE;
#else
const char kEngine[] = "";
#endif

bool HaveEngine(benchmark::State& state) {
    if (kEngine[0] == '\0') {
        state.SkipWithError("built without the scripted engine");
        return false;
    }
    return true;
}

// Launch, handshake, subscribe, close: what every exchange pays at least.
void BM_LaunchFloor(benchmark::State& state) {
    if (!HaveEngine(state)) {
        return;
    }
    for (auto _ : state) {
        nvtl::RefCountedPtr<nvds::IPipeLauncher> launcher;
        nvtl::RefCountedPtr<nvds::INorvIPC> channel;
        if (!nvds::CreatePipeLauncher(kEngine, &launcher) ||
            !nvds::CreatePipeIPC(nvds::MakePipeBaseName(), true, launcher.get(), &channel)) {
            state.SkipWithError("engine did not start");
            return;
        }
        channel.reset();
    }
}

void BM_InitTranscodeEngine(benchmark::State& state) {
    if (!HaveEngine(state)) {
        return;
    }
    CNorvTranscoderLogic logic;
    for (auto _ : state) {
        ITranscodeEngineInfo* info = nullptr;
        if (logic.InitTranscodeEngine(W(kEngine), SLoggerParam(), &info, WideString()) != SUCCESS) {
            state.SkipWithError("start-up failed");
        }
        if (info != nullptr) {
            info->Release();
        }
    }
}

void BM_CreateMediaSource(benchmark::State& state) {
    if (!HaveEngine(state)) {
        return;
    }
    CNorvTranscoderLogic logic;
    logic.InitTranscodeEngine(W(kEngine), SLoggerParam(), nullptr, WideString());
    for (auto _ : state) {
        std::vector<nvtl::RefCountedPtr<ISourceMedia>> sources;
        int32_t width = 0;
        int32_t height = 0;
        if (logic.CreateMediaSource(W("/videos/a.mp4"), &width, &height, WideString(), sources) !=
                SUCCESS ||
            sources.size() != 1) {
            state.SkipWithError("analysis failed");
        }
    }
}

// The analysis exchange alone: from the call until the sources are there,
// without tearing the temporary session and its engine down.
void BM_AnalyzeUntilAnswered(benchmark::State& state) {
    if (!HaveEngine(state)) {
        return;
    }
    for (auto _ : state) {
        nvtl::RefCountedPtr<TranscodeSession> session(new TranscodeSession(W(kEngine)));
        std::vector<nvtl::RefCountedPtr<ISourceMedia>> sources;
        const auto begin = std::chrono::steady_clock::now();
        session->Analyze(W("/videos/a.mp4"), nullptr, nullptr, WideString(), sources);
        const auto end = std::chrono::steady_clock::now();
        state.SetIterationTime(std::chrono::duration<double>(end - begin).count());
        session.reset();
    }
}

// A folder of files analysed one after another in one process: every file
// is its own exchange with its own engine. Reports files per second.
void BM_Analyze200Files(benchmark::State& state) {
    if (!HaveEngine(state)) {
        return;
    }
    constexpr int kFiles = 200;
    CNorvTranscoderLogic logic;
    logic.InitTranscodeEngine(W(kEngine), SLoggerParam(), nullptr, WideString());
    for (auto _ : state) {
        const auto begin = std::chrono::steady_clock::now();
        for (int i = 0; i < kFiles; ++i) {
            std::vector<nvtl::RefCountedPtr<ISourceMedia>> sources;
            const std::string file = "/videos/clip" + std::to_string(i) + ".mp4";
            if (logic.CreateMediaSource(W(file.c_str()), nullptr, nullptr, WideString(), sources) !=
                    SUCCESS ||
                sources.size() != 1) {
                state.SkipWithError("analysis failed");
                return;
            }
        }
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - begin;
        state.counters["files_per_s"] = kFiles / took.count();
    }
}

#define NORV_END_TO_END(fn)                                                                        \
    BENCHMARK(fn)->Iterations(1)->Repetitions(20)->ReportAggregatesOnly(true)->Unit(               \
        benchmark::kMillisecond)

NORV_END_TO_END(BM_LaunchFloor)->UseRealTime();
NORV_END_TO_END(BM_InitTranscodeEngine)->UseRealTime();
NORV_END_TO_END(BM_CreateMediaSource)->UseRealTime();
NORV_END_TO_END(BM_AnalyzeUntilAnswered)->UseManualTime();
NORV_END_TO_END(BM_Analyze200Files)->UseRealTime();

} // namespace
