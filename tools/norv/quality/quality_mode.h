// --quality and --total-size: a title's video bitrate chosen from its probe
// so that it reaches a quality target, or a batch's budget shared so that
// its files reach an even quality; what was predicted, said before the
// encode, and what came out, measured after it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/json_output.h"
#include "common/media.h"
#include "common/settings.h"
#include "quality/budget.h"
#include "quality/probe.h"
#include "quality/rate_quality.h"
#include "timing/progress.h"

namespace norv {

/// What the quality mode decided for one title.
struct QualityPlan {
    std::string target;         ///< the level's name or number; empty under --total-size
    double targetWorst = 0;     ///< worst-1 % SSIM aimed at
    double kbps = 0;            ///< the video bitrate chosen (before any size limit)
    double encodeKbps = 0;      ///< the one encoded at: the chosen one, or the size limit's
    double worst = 0, mean = 0; ///< predicted at encodeKbps
    uint64_t bytes = 0;         ///< predicted size of the output
    bool atFloor = false;       ///< the target is reached at the profile's lowest bitrate
    bool atCeiling = false;     ///< not even the profile's highest bitrate reaches it
    bool limitWins = false;     ///< the size limit holds the bitrate below the chosen one
    bool plateau = false;       ///< more bits buy no quality: the target is out of reach
    bool smaller = false;       ///< a higher bitrate than the target's makes the smaller file
    /// Above 0: a size limit with priority holds the output; the engine fits
    /// it at about this bitrate, into limitBytes.
    double limitKbps = 0;
    uint64_t limitBytes = 0;
    bool grain = false;      ///< judged by the picture under the grain
    double probeSeconds = 0; ///< spent probing in this run
    bool fromCache = false;
    unsigned samples = 0, cuts = 0;
    double sampleSeconds = 0;
    std::vector<RatePoint> points; ///< the probe's, in the title's metric
};

/// True where this build can probe and measure (it links FFmpeg's libraries).
bool QualityModeAvailable();

/// Probes the title for the job choice describes and picks the lowest
/// video bitrate inside the profile's range whose predicted worst-1 % SSIM
/// reaches target; sets it in choice. The probe's progress is shown in mode
/// and told to listener, when set. Throws Failure (Aborted on an interrupt,
/// or once stopRequested, when set, asks the probe to stop).
QualityPlan PlanQuality(const Sources& sources, OutputChoice& choice,
                        nvt::ITranscodeEngineInfo* info, const QualityTarget& target,
                        ProgressMode mode, double period, const std::string& label,
                        const ProbeListener& listener = ProbeListener(),
                        const StopCheck& stopRequested = StopCheck());

/// Completes a plan from what the library derived for the choice it set:
/// the bitrate it encodes at (a size limit may hold it lower), the quality
/// predicted there, and the size: the library's estimate, corrected by how
/// far the encoder's output strayed from the asked bitrate on the probe.
void SettlePlan(QualityPlan& plan, nvt::ITranscodeOutputProperties& properties,
                double titleSeconds);

/// "quality": the plan's facts, for --json.
Json QualityJson(const QualityPlan& plan);
/// The plan as lines for people: target, bitrate, predicted quality, notes.
std::vector<std::string> QualityLines(const QualityPlan& plan);

/// Says the settled plan before the encode: a "quality_plan" event, or the
/// lines and the predicted size on standard error.
void AnnounceQualityPlan(const QualityPlan& plan, bool json);

/// The measured worst-1 % and mean SSIM of a finished output against its
/// sources, in the plan's metric. Throws Failure.
PooledQuality MeasureOutput(const Sources& sources, const OutputChoice& choice,
                            const std::string& output, bool underGrain);

/// A batch's files under one budget.
struct BatchTitle {
    Sources sources;
    std::string label;
    bool usable = false; ///< analysed and derived; the rest take no share
};

/// Probes every usable title and shares budget bytes among them (see
/// ShareBudget); plans[i].kbps is file i's bitrate, and files[i] what the
/// sharing knew of it (seconds 0 for a title that is not usable). Throws
/// Failure when the budget cannot hold the files at the profile's lowest
/// bitrates.
std::vector<QualityPlan> PlanBudget(const std::vector<BatchTitle>& titles,
                                    const OutputChoice& choice, nvt::ITranscodeEngineInfo* info,
                                    uint64_t budget, ProgressMode mode, double period,
                                    std::vector<BudgetFile>& files);

/// Completes a plan for the bitrate kbps of a budget's file.
void PlanAt(QualityPlan& plan, const BudgetFile& file, double kbps);

} // namespace norv
