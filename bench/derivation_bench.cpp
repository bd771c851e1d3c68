// Cost of one derivation of a transcode's output, as a session runs it each
// time the host changes a setting: a 1080p source with one video and three
// audio tracks (one passed through), two subtitles, fitted to a size limit.
#include <benchmark/benchmark.h>

#include "session/derivation_inputs.h"

namespace {

SourceSummary RealisticSource() {
    SourceSummary s;
    s.durationSeconds = 5400; // 90 minutes
    s.totalFileSize = 4200000000ULL;
    s.width = 1920;
    s.height = 1080;
    s.frameRate = 23.976f;
    s.displayAspect = 16.0 / 9.0;
    s.videoKbps = {5859};
    s.audioKbps = {448, 192, 128};
    s.extraKiB = {1, 1};
    return s;
}

SettingsRequest RealisticRequest() {
    SettingsRequest r;
    r.profile = nvt::NP_HD720;
    r.fileSizeLimit = 1400000000ULL; // too small for the defaults
    r.videoKbps = 2929;
    r.audioKbps = {448, 187, 125};
    r.videoTracks.Assign(1, true);
    r.videoPassthrough.Assign(1, false);
    r.trickPlay.Assign(1, false);
    r.audioTracks.Assign(3, true);
    r.audioPassthrough.Assign(3, false);
    r.audioPassthrough.Set(0, true);
    r.subtitleTracks.Assign(2, true);
    r.keepAspect = true;
    r.fitToFileSize = true;
    return r;
}

void BM_DeriveTranscodeSettings(benchmark::State& state) {
    const SourceSummary source = RealisticSource();
    const SettingsRequest request = RealisticRequest();
    SettingsResult result;
    for (auto _ : state) {
        const bool ok = DeriveTranscodeSettings(source, request, result);
        benchmark::DoNotOptimize(ok);
        benchmark::DoNotOptimize(result.estimatedSize);
    }
    state.counters["videoKbps"] = result.videoKbps;
}
BENCHMARK(BM_DeriveTranscodeSettings)->Repetitions(9)->ReportAggregatesOnly(true);

// The same with a fresh result record per call, as GetOutputProperties does.
void BM_DeriveTranscodeSettingsFreshResult(benchmark::State& state) {
    const SourceSummary source = RealisticSource();
    const SettingsRequest request = RealisticRequest();
    for (auto _ : state) {
        SettingsResult result;
        const bool ok = DeriveTranscodeSettings(source, request, result);
        benchmark::DoNotOptimize(ok);
        benchmark::DoNotOptimize(result.estimatedSize);
    }
}
BENCHMARK(BM_DeriveTranscodeSettingsFreshResult)->Repetitions(9)->ReportAggregatesOnly(true);

} // namespace
