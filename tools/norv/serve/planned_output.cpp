#include "serve/planned_output.h"

#include <chrono>
#include <memory>
#include <thread>

#include "quality/quality_mode.h"

namespace norv {

namespace {

// A probe says where it is on norv serve's standard error this often, as a
// line of its log.
constexpr double kProbeLogPeriod = 30.0;

// How often a request waiting for another's probe to end looks whether it
// is still wanted.
constexpr std::chrono::milliseconds kStopPoll{100};

// The notes of the lines people read ("note        the target is ..."),
// without their heading.
Json Notes(const QualityPlan& plan) {
    static const std::string kNote = "note";
    Json notes = Json::array();
    for (const std::string& line : QualityLines(plan)) {
        if (line.compare(0, kNote.size(), kNote) == 0) {
            const size_t text = line.find_first_not_of(' ', kNote.size());
            notes.push_back(text == std::string::npos ? std::string() : line.substr(text));
        }
    }
    return notes;
}

// listener, told of a new step at once and of a new percent within a step
// at most every kPageProgressPeriod.
ProbeListener Paced(const ProbeListener& listener) {
    if (!listener) {
        return listener;
    }
    struct Told {
        std::string step;
        int percent = -1;
        std::chrono::steady_clock::time_point at;
    };
    auto told = std::make_shared<Told>();
    return [listener, told](int percent, const std::string& step) {
        const auto now = std::chrono::steady_clock::now();
        if (step == told->step &&
            (percent == told->percent || now - told->at < kPageProgressPeriod)) {
            return;
        }
        *told = Told{step, percent, now};
        listener(percent, step);
    };
}

} // namespace

PlannedOutput PlanOutput(const Sources& sources, OutputChoice choice,
                         const std::optional<QualityTarget>& target, const ServeContext& context,
                         const std::string& label, const ProbeListener& listener,
                         const StopCheck& stopRequested) {
    if (!target) {
        return PlannedOutput{PreviewOutput(sources, choice, context.info.get()), Json()};
    }
    // One probe at a time; one that waits its turn still hears a stop.
    std::unique_lock<std::mutex> probing(context.probing, std::defer_lock);
    while (!probing.try_lock()) {
        if (StopRequested(stopRequested)) {
            throw Failure("cancelled while waiting to probe", nvt::Aborted);
        }
        std::this_thread::sleep_for(kStopPoll);
    }
    QualityPlan plan =
        PlanQuality(sources, choice, context.info.get(), *target, ProgressMode::Plain,
                    kProbeLogPeriod, label, Paced(listener), stopRequested);
    probing.unlock();
    PlannedOutput planned{PreviewOutput(sources, choice, context.info.get()), Json()};
    SettlePlan(plan, *planned.preview.properties, TotalDurationMs(sources) / 1000.0);
    planned.quality = QualityJson(plan);
    planned.quality["predicted_size"] = plan.bytes;
    planned.quality["notes"] = Notes(plan);
    Json& j = planned.preview.json;
    j["video_kbps"] = static_cast<uint64_t>(plan.encodeKbps);
    j["estimated_size"] = plan.bytes;
    j["quality"] = planned.quality;
    return planned;
}

} // namespace norv
