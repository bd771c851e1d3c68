// The quality mode where norv is built without FFmpeg's libraries (the
// Windows build): every use of it is refused with the reason.
#include "quality/quality_mode.h"

namespace norv {

namespace {

[[noreturn]] void Unavailable() {
    throw Failure("--quality and --total-size measure with FFmpeg's libraries, which this build "
                  "of norv lacks",
                  nvt::InvalidArgument);
}

} // namespace

bool QualityModeAvailable() {
    return false;
}

QualityPlan PlanQuality(const Sources&, OutputChoice&, nvt::ITranscodeEngineInfo*,
                        const QualityTarget&, ProgressMode, double, const std::string&,
                        const ProbeListener&, const StopCheck&) {
    Unavailable();
}

void SettlePlan(QualityPlan&, nvt::ITranscodeOutputProperties&, double) {
    Unavailable();
}

Json QualityJson(const QualityPlan&) {
    return Json();
}

std::vector<std::string> QualityLines(const QualityPlan&) {
    return {};
}

PooledQuality MeasureOutput(const Sources&, const OutputChoice&, const std::string&, bool) {
    Unavailable();
}

std::vector<QualityPlan> PlanBudget(const std::vector<BatchTitle>&, const OutputChoice&,
                                    nvt::ITranscodeEngineInfo*, uint64_t, ProgressMode, double,
                                    std::vector<BudgetFile>&) {
    Unavailable();
}

void PlanAt(QualityPlan&, const BudgetFile&, double) {
    Unavailable();
}

} // namespace norv
