#include "common/media.h"

#include <atomic>
#include <filesystem>
#include <thread>

#include "common/console.h"

namespace norv {

Sources AnalyseFile(const std::string& path) {
    std::error_code error;
    if (!std::filesystem::exists(path, error)) {
        throw Failure(path + ": no such file", nvt::CRTL_FILE_DOES_NOT_EXIST);
    }
    // The engine is handed absolute paths: it need not share norv's folder,
    // and the library names each source after its path.
    Sources sources;
    Check(CreateMediaSource(Widen(std::filesystem::absolute(path).string()), sources),
          path + ": analysis failed");
    if (sources.empty()) {
        throw Failure(path + ": the engine found nothing to transcode", nvt::ENG_ANALYSIS);
    }
    return sources;
}

std::vector<Analysis> AnalyseAll(const std::vector<std::string>& inputs, unsigned jobs) {
    std::vector<Analysis> results(inputs.size());
    std::atomic<size_t> next{0};
    auto worker = [&] {
        for (size_t i = next++; i < inputs.size(); i = next++) {
            Analysis& a = results[i];
            a.input = inputs[i];
            if (InterruptRequested()) {
                a.result = nvt::Aborted;
                a.error = a.input + ": not analysed";
                continue;
            }
            try {
                a.sources = AnalyseFile(a.input);
            } catch (const Failure& failure) {
                a.result = failure.result();
                a.error = failure.what();
            } catch (const std::exception& e) {
                a.result = nvt::ENG_ERR;
                a.error = a.input + ": " + e.what();
            }
        }
    };
    const size_t threads = std::min<size_t>(EffectiveJobs(jobs), inputs.size());
    std::vector<std::thread> pool;
    for (size_t t = 1; t < threads; ++t) {
        pool.emplace_back(worker);
    }
    worker();
    for (std::thread& thread : pool) {
        thread.join();
    }
    return results;
}

Sources AnalyseJoined(const std::vector<std::string>& inputs) {
    Sources joined;
    for (const std::string& input : inputs) {
        for (Ptr<nvt::ISourceMedia>& source : AnalyseFile(input)) {
            joined.push_back(std::move(source));
        }
    }
    return joined;
}

uint64_t TotalDurationMs(const Sources& sources) {
    uint64_t total = 0;
    for (const Ptr<nvt::ISourceMedia>& source : sources) {
        uint64_t duration = 0;
        source->GetDuration(&duration);
        total += duration;
    }
    return total;
}

unsigned EffectiveJobs(unsigned jobs) {
    if (jobs != 0) {
        return jobs;
    }
    const unsigned cores = std::thread::hardware_concurrency();
    return cores != 0 ? cores : 1;
}

} // namespace norv
