#include "serve/planned_output.h"

#include "quality/quality_mode.h"

namespace norv {

namespace {

// A probe says where it is on norv serve's standard error this often, as a
// line of its log.
constexpr double kProbeLogPeriod = 30.0;

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

} // namespace

PlannedOutput PlanOutput(const Sources& sources, OutputChoice choice,
                         const std::optional<QualityTarget>& target, const ServeContext& context,
                         const std::string& label) {
    if (!target) {
        return PlannedOutput{PreviewOutput(sources, choice, context.info.get()), Json()};
    }
    std::unique_lock<std::mutex> probing(context.probing);
    QualityPlan plan = PlanQuality(sources, choice, context.info.get(), *target,
                                   ProgressMode::Plain, kProbeLogPeriod, label);
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
