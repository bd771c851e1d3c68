#include "quality/quality_batch.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>

#include "common/console.h"
#include "common/transcode_run.h"
#include "timing/estimate.h"

namespace norv {

namespace {

namespace fs = std::filesystem;

void ShowPlans(bool json, const std::vector<std::string>& inputs,
               const std::vector<std::optional<QualityPlan>>& plans, uint64_t budget) {
    uint64_t total = 0;
    for (size_t i = 0; i < plans.size(); ++i) {
        if (!plans[i]) {
            continue;
        }
        const QualityPlan& p = *plans[i];
        total += p.bytes;
        if (json) {
            Json event{{"event", "quality_plan"}, {"input", inputs[i]}};
            event.update(QualityJson(p));
            event["predicted_size"] = p.bytes;
            PrintJson(event);
        } else {
            std::fprintf(stderr,
                         "plan  %s: %.0f kb/s, predicted worst-1 %% SSIM %.4f%s, %.1f MiB\n",
                         inputs[i].c_str(), p.kbps, p.worst, p.grain ? " (under the grain)" : "",
                         p.bytes / 1048576.0);
        }
    }
    if (budget > 0 && !json) {
        std::fprintf(stderr, "plan  total %.1f MiB predicted of %.1f MiB\n", total / 1048576.0,
                     budget / 1048576.0);
    }
}

// The video bitrate at which an output of size bytes made at kbps (other of
// them not the picture's) would come to target bytes, were the picture's
// bytes to follow the bitrate.
double ScaledKbps(double kbps, double size, double other, double target) {
    return kbps * (target - other) / std::max(1.0, size - other);
}

} // namespace

BatchQuality::BatchQuality(const Invocation& in, const BatchWork& work,
                           const std::vector<std::string>& inputs,
                           const std::vector<std::string>& outputs,
                           const std::vector<std::string>& shardOutputs,
                           nvt::ITranscodeEngineInfo* info) {
    if (!in.quality && in.totalSize == 0) {
        return;
    }
    const size_t n = inputs.size();
    plans_.resize(n);
    choices_.assign(n, in.choice);
    errors_.resize(n);
    results_.assign(n, nvt::SUCCESS);
    const ProgressMode mode = ChooseProgressMode(in.json);
    std::vector<BatchTitle> titles(n);
    for (size_t i = 0; i < n; ++i) {
        titles[i].label = inputs[i];
        try {
            titles[i].sources = work.SourcesOf(i);
            titles[i].usable = true;
        } catch (const Failure&) {
            // The file's own run reports why.
        }
    }
    uint64_t budget = in.totalSize;
    if (in.totalSize > 0) {
        // Outputs an earlier run finished keep their bytes.
        for (const std::string& done : shardOutputs) {
            std::error_code error;
            if (std::find(outputs.begin(), outputs.end(), done) == outputs.end() &&
                fs::exists(done, error)) {
                budget -= std::min<uint64_t>(budget, fs::file_size(done, error));
            }
        }
        const std::vector<QualityPlan> plans =
            PlanBudget(titles, in.choice, info, budget, mode, in.progressPeriod, files_);
        budget_ = static_cast<double>(budget);
        kept_.assign(n, std::string());
        keptPlans_.assign(n, std::nullopt);
        toppedUp_.assign(n, false);
        stages_.assign(n, Stage::Waiting);
        bytes_.assign(n, 0.0);
        for (size_t i = 0; i < n; ++i) {
            bytes_[i] = static_cast<double>(plans[i].bytes);
            if (titles[i].usable) {
                plans_[i] = plans[i];
                choices_[i].preset.videoBitrate =
                    static_cast<uint32_t>(plans[i].kbps * kBitsPerKbps);
                choices_[i].preset.priority = nvt::prioVideoBitrate;
            }
        }
    } else {
        for (size_t i = 0; i < n && !InterruptRequested(); ++i) {
            if (!titles[i].usable) {
                continue;
            }
            try {
                QualityPlan plan = PlanQuality(titles[i].sources, choices_[i], info, *in.quality,
                                               mode, in.progressPeriod, inputs[i]);
                const Ptr<nvt::ITranscodeOutputSettings> settings =
                    MakeOutputSettings(choices_[i], titles[i].sources.front().get());
                const Ptr<nvt::ITranscodeSession> session = MakeSession(
                    titles[i].sources, settings.get(), info, choices_[i].job.enginePriority);
                const Ptr<nvt::ITranscodeOutputProperties> properties =
                    DeriveOutput(*session, "the output of " + inputs[i]);
                SettlePlan(plan, *properties, TotalDurationMs(titles[i].sources) / 1000.0);
                plans_[i] = plan;
            } catch (const Failure& failure) {
                errors_[i] = failure.what();
                results_[i] = failure.result();
            }
        }
    }
    if (InterruptRequested()) {
        throw Failure("cancelled while probing", nvt::Aborted);
    }
    ShowPlans(in.json, inputs, plans_, in.totalSize);
}

OutputChoice BatchQuality::ChoiceFor(size_t i, const OutputChoice& base) {
    if (!active()) {
        return base;
    }
    if (results_[i] != nvt::SUCCESS) {
        throw Failure(errors_[i], results_[i]);
    }
    std::lock_guard<std::mutex> hold(lock_);
    if (!files_.empty() && plans_[i]) {
        // What the files finished took and what those running may take is
        // spent; the rest is shared among this file and those still
        // waiting.
        double spent = 0;
        std::vector<BudgetFile> open = files_;
        for (size_t j = 0; j < open.size(); ++j) {
            if (j != i && stages_[j] != Stage::Waiting) {
                spent += bytes_[j];
                open[j].seconds = 0;
            }
        }
        const double room = std::max(0.0, budget_ - spent);
        const BudgetShare share = ShareBudget(open, kBudgetAim * room);
        double others = 0;
        for (size_t j = 0; j < open.size(); ++j) {
            if (j != i && open[j].seconds > 0) {
                others += PredictedBytes(open[j], share.kbps[j]);
            }
        }
        PlanAt(*plans_[i], files_[i], share.kbps[i]);
        bytes_[i] = std::floor(std::max(0.0, room - others));
        choices_[i].preset.videoBitrate = static_cast<uint32_t>(share.kbps[i] * kBitsPerKbps);
    }
    if (!stages_.empty()) {
        stages_[i] = Stage::Running;
    }
    return choices_[i];
}

std::optional<OutputChoice> BatchQuality::Again(size_t i, const OutputChoice& ran,
                                                const std::string& output, int run) {
    double limit = 0, other = 0;
    bool second = false;
    {
        std::lock_guard<std::mutex> hold(lock_);
        if (files_.empty() || !plans_[i]) {
            return std::nullopt;
        }
        limit = bytes_[i];
        other = files_[i].otherBytes;
        second = !kept_[i].empty();
    }
    std::error_code error;
    const double size = static_cast<double>(fs::file_size(output, error));
    if (error) {
        return std::nullopt;
    }
    const double kbps = ran.preset.videoBitrate.value_or(0) / kBitsPerKbps;
    // A little under the video bitrate that would have fitted.
    double lower = std::floor(
        std::max(0.1 * kbps, ScaledKbps(kbps, size, other, kEngineLimitAim * limit)) * 0.98);
    if (second) {
        // The higher encode stands where it kept the budget; above it, it is
        // tried lower (while that is still above the earlier output's
        // bitrate and runs are left), else the output it was to replace
        // stands.
        std::lock_guard<std::mutex> hold(lock_);
        if (size <= limit) {
            fs::remove(kept_[i], error);
            kept_[i].clear();
            return std::nullopt;
        }
        // Where the encoder made far less than asked at the earlier
        // bitrate, scaling falls below it: halfway between the two instead.
        const double before = keptPlans_[i]->kbps;
        if (lower < before + 1) {
            lower = std::floor(std::sqrt(before * kbps));
        }
        if (run < kTries && lower >= before + 1) {
            std::fprintf(stderr,
                         "norv: %s: %.0f bytes is above what was left; again at %.0f kb/s\n",
                         output.c_str(), size, lower);
            return AgainAt(i, ran, lower);
        }
        std::fprintf(stderr,
                     "norv: %s: the higher encode came out above what was left; the "
                     "earlier one stands\n",
                     output.c_str());
        RestoreLocked(i, output);
        return std::nullopt;
    }
    if (size <= limit) {
        std::lock_guard<std::mutex> hold(lock_);
        return TopUp(i, ran, output, size, false);
    }
    fs::remove(output, error);
    char text[160];
    if (run >= kTries) {
        std::snprintf(text, sizeof text,
                      "%s: %.0f bytes, above its share of the total size (%.0f bytes), after %d "
                      "tries",
                      output.c_str(), size, limit, run);
        throw Failure(text, nvt::ENG_OUTOFRANGE_ERR);
    }
    lower = std::max(1.0, lower);
    std::fprintf(stderr,
                 "norv: %s: %.0f bytes is above its share of the total size (%.0f bytes); again "
                 "at %.0f kb/s\n",
                 output.c_str(), size, limit, lower);
    std::lock_guard<std::mutex> hold(lock_);
    return AgainAt(i, ran, lower);
}

std::optional<std::pair<size_t, OutputChoice>>
BatchQuality::LastTopUp(const std::vector<std::string>& outputs) {
    std::lock_guard<std::mutex> hold(lock_);
    if (files_.empty()) {
        return std::nullopt;
    }
    // Every file has ended: what they took is known. The one predicted the
    // worst quality that can take more goes first, so that the quality
    // comes out as even as the budget allows.
    std::vector<size_t> order;
    for (size_t i = 0; i < plans_.size(); ++i) {
        if (stages_[i] == Stage::Finished && plans_[i]) {
            order.push_back(i);
        }
    }
    std::sort(order.begin(), order.end(),
              [&](size_t a, size_t b) { return plans_[a]->worst < plans_[b]->worst; });
    for (size_t i : order) {
        if (std::optional<OutputChoice> again =
                TopUp(i, choices_[i], outputs[i], bytes_[i], true)) {
            return std::make_pair(i, *again);
        }
    }
    return std::nullopt;
}

OutputChoice BatchQuality::AgainAt(size_t i, const OutputChoice& ran, double kbps) {
    PlanAt(*plans_[i], files_[i], kbps);
    OutputChoice again = ran;
    again.preset.videoBitrate = static_cast<uint32_t>(kbps * kBitsPerKbps);
    return again;
}

std::optional<OutputChoice> BatchQuality::TopUp(size_t i, const OutputChoice& ran,
                                                const std::string& output, double size, bool last) {
    if (toppedUp_[i] || plans_[i]->plateau || plans_[i]->atCeiling) {
        return std::nullopt;
    }
    // Files still to come take what is left, unless each is held at the top
    // of its range or at its plateau: they count with their predicted size
    // there. A file running beside it counts with all it may take.
    double spent = 0;
    for (size_t j = 0; j < plans_.size(); ++j) {
        if (j == i || !plans_[j]) {
            continue;
        }
        if (stages_[j] == Stage::Waiting) {
            const double most = std::min(files_[j].maxKbps, files_[j].curve.UsefulKbps());
            if (!std::isfinite(most)) {
                return std::nullopt;
            }
            spent += PredictedBytes(files_[j], most);
        } else {
            spent += bytes_[j];
        }
    }
    if (spent + size >= kFloor * budget_) {
        return std::nullopt;
    }
    const double room = budget_ - spent;
    const double kbps = ran.preset.videoBitrate.value_or(0) / kBitsPerKbps;
    const double higher =
        std::min({std::floor(ScaledKbps(kbps, size, files_[i].otherBytes, kBudgetAim * room)),
                  files_[i].maxKbps, files_[i].curve.UsefulKbps()});
    // Below the floor once every file has ended, any step up is worth a
    // run; before, only one that takes a good part of what is left.
    if (!(higher >= std::max(kbps * (last ? 1.0 : 1.0 + kStep), kbps + 1))) {
        return std::nullopt;
    }
    const fs::path place = fs::path(output).parent_path() / ("." + NewScratchName() + ".kept");
    std::error_code error;
    fs::rename(output, place, error);
    if (error) {
        return std::nullopt;
    }
    toppedUp_[i] = true;
    kept_[i] = place.string();
    keptPlans_[i] = plans_[i];
    bytes_[i] = std::floor(room);
    std::fprintf(stderr,
                 "norv: %s: the batch %s at %.1f %% of the total size; again at %.0f kb/s "
                 "to use what is left\n",
                 output.c_str(), last ? "ended" : "would end", 100.0 * (spent + size) / budget_,
                 higher);
    return AgainAt(i, ran, higher);
}

bool BatchQuality::Restore(size_t i, const std::string& output) {
    std::lock_guard<std::mutex> hold(lock_);
    return RestoreLocked(i, output);
}

bool BatchQuality::RestoreLocked(size_t i, const std::string& output) {
    if (i >= kept_.size() || kept_[i].empty()) {
        return false;
    }
    std::error_code error;
    fs::rename(kept_[i], output, error);
    if (error) {
        return false;
    }
    kept_[i].clear();
    plans_[i] = keptPlans_[i];
    const auto size = fs::file_size(output, error);
    bytes_[i] = error ? bytes_[i] : static_cast<double>(size);
    return true;
}

Json BatchQuality::Measured(size_t i, const Sources& sources, const OutputChoice& choice,
                            const std::string& output) {
    QualityPlan plan;
    {
        std::lock_guard<std::mutex> hold(lock_);
        if (!plans_[i]) {
            return Json();
        }
        plan = *plans_[i];
        choices_[i] = choice;
        if (!stages_.empty()) {
            std::error_code error;
            const auto size = fs::file_size(output, error);
            stages_[i] = Stage::Finished;
            bytes_[i] = error ? bytes_[i] : static_cast<double>(size);
        }
    }
    Json quality = QualityJson(plan);
    quality["predicted_size"] = plan.bytes;
    try {
        const PooledQuality measured = MeasureOutput(sources, choice, output, plan.grain);
        quality["measured_worst_ssim"] = measured.worst;
        quality["measured_mean_ssim"] = measured.mean;
    } catch (const Failure& failure) {
        quality["measure_error"] = failure.what();
    }
    return quality;
}

} // namespace norv
