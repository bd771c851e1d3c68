// Engine IPC costs: launching the engine with its start-up handshake beside
// a bare spawn of the same program, one request/response round trip, and
// the throughput of 1 MiB frames.
#include <benchmark/benchmark.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>

#include "api/ref_counted_impl.h"
#include "ipc/launcher.h"
#include "ipc/norv_ipc.h"
#include "platform/process.h"

namespace {

std::string Engine() {
#ifdef NORV_SCRIPTED_ENGINE
    return NORV_SCRIPTED_ENGINE;
#else
    return std::string();
#endif
}

// Counts the replies the engine sends back.
class Counter : public nvtl::RefCountedImpl<nvds::INorvIPCCallback> {
public:
    void OnMessage(const std::string&, const std::string&, uint32_t, const char*) override {
        std::lock_guard<std::mutex> guard(lock_);
        ++count_;
        changed_.notify_all();
    }
    bool WaitFor(uint64_t count) {
        std::unique_lock<std::mutex> guard(lock_);
        return changed_.wait_for(guard, std::chrono::seconds(60), [&] { return count_ >= count; });
    }

private:
    std::mutex lock_;
    std::condition_variable changed_;
    uint64_t count_ = 0;
};

// An engine launched over fresh pipes, with a subscriber for its replies.
struct Connection {
    explicit Connection(const std::string& options) : counter(new Counter) {
        ok = nvds::CreatePipeLauncher(Engine() + " " + options, &launcher) &&
             nvds::CreatePipeIPC(nvds::MakePipeBaseName(), true, launcher.get(), &channel) &&
             channel->Subscribe(std::string("TRANS->CONV"), counter.get(), false);
    }
    ~Connection() {
        channel.reset();
        if (launcher) {
            launcher->Terminate();
        }
    }
    bool Send(const std::string& payload) {
        return channel->Send(std::string("TranscodeSession"),
                             std::string("CONV->TRANSstruct TBS::Bench"),
                             static_cast<uint32_t>(payload.size()), payload.data(), nullptr);
    }

    bool ok = false;
    nvtl::RefCountedPtr<nvds::IPipeLauncher> launcher;
    nvtl::RefCountedPtr<nvds::INorvIPC> channel;
    nvtl::RefCountedPtr<Counter> counter;
};

// The floor: start the program and wait for it to end.
void BM_SpawnAndExit(benchmark::State& state) {
    for (auto _ : state) {
        NorvOS::CChildProcess child;
        if (!child.Start(Engine() + " --exit-now", nullptr) || !child.WaitForExit(60000)) {
            state.SkipWithError("spawn failed");
            return;
        }
    }
}
BENCHMARK(BM_SpawnAndExit)
    ->Iterations(1)
    ->Repetitions(50)
    ->ReportAggregatesOnly(true)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// Launch and start-up signal only, without pipes.
void BM_LaunchAndSignal(benchmark::State& state) {
    for (auto _ : state) {
        nvtl::RefCountedPtr<nvds::IPipeLauncher> launcher;
        if (!nvds::CreatePipeLauncher(Engine() + " --signal-only", &launcher) ||
            !launcher->Launch("base")) {
            state.SkipWithError("launch failed");
            return;
        }
    }
}
BENCHMARK(BM_LaunchAndSignal)
    ->Iterations(1)
    ->Repetitions(50)
    ->ReportAggregatesOnly(true)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// What a session pays to connect: create both pipes, launch the engine and
// wait until it has opened them and signalled. Closing is not measured.
void BM_LaunchAndHandshake(benchmark::State& state) {
    for (auto _ : state) {
        auto* connection = new Connection("--reply=none");
        state.PauseTiming();
        const bool ok = connection->ok;
        delete connection;
        state.ResumeTiming();
        if (!ok) {
            state.SkipWithError("launch failed");
            return;
        }
    }
}
BENCHMARK(BM_LaunchAndHandshake)
    ->Iterations(1)
    ->Repetitions(50)
    ->ReportAggregatesOnly(true)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// One small request and its reply: two frames, each written, woken up for,
// read and checked.
void BM_RoundTrip(benchmark::State& state) {
    Connection connection("--reply=echo");
    if (!connection.ok) {
        state.SkipWithError("launch failed");
        return;
    }
    const std::string request(static_cast<size_t>(state.range(0)), 'r');
    uint64_t replies = 0;
    for (auto _ : state) {
        if (!connection.Send(request) || !connection.counter->WaitFor(++replies)) {
            state.SkipWithError("no reply");
            return;
        }
    }
}
BENCHMARK(BM_RoundTrip)->Arg(300)->UseRealTime()->Unit(benchmark::kMillisecond);

// 1 MiB frames to the engine, which reads and drops them.
void BM_Send1MiB(benchmark::State& state) {
    Connection connection("--reply=none");
    if (!connection.ok) {
        state.SkipWithError("launch failed");
        return;
    }
    const std::string frame(1 << 20, 'm');
    for (auto _ : state) {
        if (!connection.Send(frame)) {
            state.SkipWithError("send failed");
            return;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * (1 << 20));
}
BENCHMARK(BM_Send1MiB)->UseRealTime()->Unit(benchmark::kMillisecond);

// 1 MiB frames to the engine and back.
void BM_Echo1MiB(benchmark::State& state) {
    Connection connection("--reply=echo");
    if (!connection.ok) {
        state.SkipWithError("launch failed");
        return;
    }
    const std::string frame(1 << 20, 'm');
    uint64_t replies = 0;
    for (auto _ : state) {
        if (!connection.Send(frame) || !connection.counter->WaitFor(++replies)) {
            state.SkipWithError("no reply");
            return;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 2 * (1 << 20));
}
BENCHMARK(BM_Echo1MiB)->UseRealTime()->Unit(benchmark::kMillisecond);

} // namespace
