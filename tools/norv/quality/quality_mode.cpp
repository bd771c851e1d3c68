#include "quality/quality_mode.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>

#include "common/transcode_run.h"
#include "quality/budget.h"
#include "quality/probe.h"

namespace norv {

namespace {

// The second probe lies at least this factor from the first, so that the
// two give a slope.
constexpr double kLeastSpread = 1.5;
// A bitrate far from every probe (RateQualityCurve::FarFromProbes) is
// probed itself, up to this many times.
constexpr int kFurtherProbes = 2;
// A batch's titles are probed this factor below and above the average
// bitrate of the budget.
constexpr double kBracket = 1.6;
// The bitrate is chosen for the target raised by this much (SSIM dB):
// 0.0014 at 0.97, 0.0023 at 0.95, 0.0036 at 0.92.
constexpr double kAimAboveDb = 0.2;
// A size limit with priority is left to the engine to keep from this share
// of it on: a one-pass encode may stray a tenth from its asked bitrate.
constexpr double kLimitNear = 0.9;

// What the library derives for a choice: the table's bitrate, the allowed
// range and the output picture.
struct Derived {
    double kbps = 0, minKbps = 0, maxKbps = 0;
    uint32_t width = 0, height = 0;
    uint64_t bytes = 0;
};

Derived Derive(const Sources& sources, const OutputChoice& choice,
               nvt::ITranscodeEngineInfo* info) {
    const Ptr<nvt::ITranscodeOutputSettings> settings =
        MakeOutputSettings(choice, sources.front().get());
    const Ptr<nvt::ITranscodeSession> session =
        MakeSession(sources, settings.get(), info, choice.job.enginePriority);
    const Ptr<nvt::ITranscodeOutputProperties> properties = DeriveOutput(*session);
    Derived d;
    uint64_t kbps = 0;
    uint32_t low = 0, high = 0;
    std::vector<uint32_t> audio;
    properties->GetBitrates(&kbps, audio);
    properties->GetVideoBitrateRange(&low, &high);
    properties->GetResolution(&d.width, &d.height);
    properties->GetEstimatedSize(&d.bytes);
    d.kbps = static_cast<double>(kbps);
    d.minKbps = std::max<double>(1, low);
    d.maxKbps = std::max<double>(d.minKbps, high);
    return d;
}

nvt::CustomPresetData PresetOf(const OutputChoice& choice) {
    nvt::ICustomPresetFactory* raw = nullptr;
    Check(CreateCustomPresetFactory(&raw), "cannot make the preset factory");
    return ResolvePresetData(choice, *Adopt(raw));
}

double Clamp(double kbps, const Derived& d) {
    return std::min(d.maxKbps, std::max(d.minKbps, kbps));
}

// The probe's second point: toward the target from the first, where the
// answer would lie were the title's curve as shallow as one that still buys
// anything (kMinimumSlope), so that the two points bracket it. No further
// than kFarFromProbes squared (no bitrate between two points so far apart
// lies far from both), nor nearer than kLeastSpread; where even a typical
// curve reaches the target further off, there.
double SecondRate(const RateQualityCurve& curve, double target, const Derived& d) {
    const double first = curve.points().front().askedKbps;
    const double at = curve.WorstAt(first);
    const double typical = std::abs(std::log(Clamp(curve.KbpsFor(target), d) / first));
    const double shallowest =
        std::abs(SsimToDb(target) - SsimToDb(at)) / RateQualityCurve::kMinimumSlope;
    const double widest = 2 * std::log(RateQualityCurve::kFarFromProbes);
    const double spread = std::max({std::min(shallowest, widest), typical, std::log(kLeastSpread)});
    double wanted = first * std::exp(at < target ? spread : -spread);
    wanted = Clamp(wanted, d);
    if (std::abs(std::log(wanted / first)) < std::log(1.1)) {
        // Held at an end of the range: the other way.
        wanted = Clamp(wanted >= first ? first / kLeastSpread : first * kLeastSpread, d);
    }
    return wanted;
}

void FillFromProbe(QualityPlan& plan, const TitleProbe& probe) {
    plan.grain = probe.NoiseDominated();
    plan.probeSeconds = probe.seconds();
    plan.fromCache = probe.fromCache();
    plan.samples = static_cast<unsigned>(probe.samples().size());
    plan.cuts = 0;
    plan.sampleSeconds = 0;
    for (const Sample& s : probe.samples()) {
        plan.cuts += s.atCut ? 1 : 0;
        plan.sampleSeconds += s.seconds;
    }
    plan.points = probe.Curve().points();
}

std::string Kbps(double kbps) {
    char text[32];
    std::snprintf(text, sizeof text, "%.0f kb/s", kbps);
    return text;
}

std::string Ssim(double ssim) {
    char text[16];
    std::snprintf(text, sizeof text, "%.4f", ssim);
    return text;
}

} // namespace

bool QualityModeAvailable() {
    return true;
}

QualityPlan PlanQuality(const Sources& sources, OutputChoice& choice,
                        nvt::ITranscodeEngineInfo* info, const QualityTarget& target,
                        ProgressMode mode, double period, const std::string& label,
                        const ProbeListener& listener, const StopCheck& stopRequested) {
    const Derived table = Derive(sources, choice, info);
    TitleProbe probe(sources, choice, info, table.width, table.height,
                     ProbeDisplay{mode, period, label, listener, stopRequested});
    // The bitrate aims a little above the target: the samples' worst frames
    // stand for the title's with an error of a few thousandths either way,
    // and a title that falls short is worse than one a little above.
    const double target0 = DbToSsim(SsimToDb(target.worst) + kAimAboveDb);
    probe.EnsurePoint(Clamp(table.kbps, table));
    if (probe.points().size() == 1) {
        probe.EnsurePoint(SecondRate(probe.Curve(), target0, table));
    }
    RateQualityCurve curve = probe.Curve();
    double wanted = Clamp(curve.KbpsFor(target0), table);
    for (int further = 0; further < kFurtherProbes && curve.FarFromProbes(wanted); ++further) {
        probe.EnsurePoint(wanted);
        curve = probe.Curve();
        wanted = Clamp(curve.KbpsFor(target0), table);
    }
    QualityPlan plan;
    plan.target = target.name;
    plan.targetWorst = target.worst;
    const double unclamped = curve.KbpsFor(target0);
    // The lowest whole kbps that reaches the target; no more than buys the
    // title any quality.
    plan.kbps = std::min(table.maxKbps, std::max(table.minKbps, std::ceil(wanted)));
    plan.atFloor = unclamped <= table.minKbps;
    plan.atCeiling = unclamped > table.maxKbps;
    if (plan.kbps > curve.UsefulKbps()) {
        plan.kbps = std::max(table.minKbps, curve.UsefulKbps());
        plan.plateau = true;
    }
    // Still pictures can make a smaller file at a higher bitrate (x264 then
    // makes one good picture and repeats it, where a low one keeps mending
    // a poor one): a probe that reached the target making less is taken.
    for (const RatePoint& p : curve.points()) {
        if (p.worst >= target0 && curve.MadeKbps(p.askedKbps) < curve.MadeKbps(plan.kbps) &&
            p.askedKbps >= table.minKbps && p.askedKbps <= table.maxKbps) {
            plan.kbps = p.askedKbps;
            plan.smaller = true;
        }
    }
    plan.encodeKbps = plan.kbps;
    plan.worst = curve.WorstAt(plan.kbps);
    plan.mean = curve.MeanAt(plan.kbps);
    FillFromProbe(plan, probe);
    // The chosen bitrate is the one encoded at, unless a size limit wins.
    const double seconds = TotalDurationMs(sources) / 1000.0;
    const nvt::CustomPresetData user = PresetOf(choice);
    const uint64_t limit = user.fileSizeLimit;
    choice.preset.priority = nvt::prioVideoBitrate;
    auto predicted = [&](double kbps) {
        OutputChoice at = choice;
        at.preset.videoBitrate = static_cast<uint32_t>(kbps * kBitsPerKbps);
        const Derived d = Derive(sources, at, info);
        return static_cast<double>(d.bytes) +
               (curve.MadeKbps(d.kbps) - d.kbps) * kBitsPerKbps / 8.0 * seconds;
    };
    // The highest bitrate predicted to fit into bytes.
    auto fitting = [&](double bytes, double high) {
        double low = table.minKbps;
        for (int step = 0; step < 30 && high - low > 1; ++step) {
            const double middle = (low + high) / 2;
            (predicted(middle) <= bytes ? low : high) = middle;
        }
        return std::floor(low);
    };
    double encode = plan.kbps;
    if (limit > 0 && user.prio == nvt::prioFilesize && predicted(encode) > kLimitNear * limit) {
        // Near or above a limit that has priority: the engine fits the
        // output to it, as without a target (two passes, the last again
        // should it come out above), aiming a little below it.
        plan.limitKbps = std::min(encode, fitting(kEngineLimitAim * limit, table.maxKbps));
        plan.limitBytes = static_cast<uint64_t>(predicted(plan.limitKbps));
        choice.preset.priority = nvt::prioFilesize;
        return plan;
    }
    if (limit > 0 && predicted(encode) > limit) {
        // A limit without priority: the highest bitrate predicted to fit.
        encode = fitting(static_cast<double>(limit), encode);
    }
    choice.preset.videoBitrate = static_cast<uint32_t>(encode * kBitsPerKbps);
    return plan;
}

void SettlePlan(QualityPlan& plan, nvt::ITranscodeOutputProperties& properties,
                double titleSeconds) {
    uint64_t kbps = 0, bytes = 0;
    std::vector<uint32_t> audio;
    properties.GetBitrates(&kbps, audio);
    properties.GetEstimatedSize(&bytes);
    const RateQualityCurve curve(plan.points);
    if (plan.limitKbps > 0) {
        plan.encodeKbps = plan.limitKbps;
        plan.limitWins = plan.limitKbps < plan.kbps;
        plan.worst = curve.WorstAt(plan.encodeKbps);
        plan.mean = curve.MeanAt(plan.encodeKbps);
        plan.bytes = plan.limitBytes;
        return;
    }
    plan.encodeKbps = static_cast<double>(kbps);
    plan.limitWins = plan.encodeKbps < plan.kbps;
    plan.worst = curve.WorstAt(plan.encodeKbps);
    plan.mean = curve.MeanAt(plan.encodeKbps);
    const double strayed =
        (curve.MadeKbps(plan.encodeKbps) - plan.encodeKbps) * kBitsPerKbps / 8.0 * titleSeconds;
    plan.bytes = static_cast<uint64_t>(std::max(0.0, static_cast<double>(bytes) + strayed));
}

Json QualityJson(const QualityPlan& plan) {
    Json points = Json::array();
    for (const RatePoint& p : plan.points) {
        points.push_back(Json{{"kbps", p.askedKbps},
                              {"made_kbps", p.madeKbps},
                              {"lift", p.lift},
                              {"worst_ssim", p.worst},
                              {"mean_ssim", p.mean}});
    }
    Json j{{"target", plan.target.empty() ? Json() : Json(plan.target)},
           {"target_worst_ssim", plan.target.empty() ? Json() : Json(plan.targetWorst)},
           {"chosen_kbps", plan.kbps},
           {"predicted_worst_ssim", plan.worst},
           {"predicted_mean_ssim", plan.mean},
           {"metric", plan.grain ? "ssim-under-grain" : "ssim"},
           {"at_floor", plan.atFloor},
           {"at_ceiling", plan.atCeiling},
           {"plateau", plan.plateau},
           {"higher_is_smaller", plan.smaller},
           {"size_limit_wins", plan.limitWins},
           {"probe_seconds", plan.probeSeconds},
           {"probe_cached", plan.fromCache},
           {"samples", plan.samples},
           {"samples_at_cuts", plan.cuts},
           {"sample_seconds", plan.sampleSeconds},
           {"probe_points", points}};
    return j;
}

std::vector<std::string> QualityLines(const QualityPlan& plan) {
    std::vector<std::string> lines;
    if (!plan.target.empty()) {
        lines.push_back("quality     " + plan.target + ": worst-1 % SSIM " +
                        Ssim(plan.targetWorst) + (plan.grain ? " under the grain" : ""));
    }
    lines.push_back("chosen      " + Kbps(plan.kbps) +
                    (plan.target.empty() ? "" : " for the target"));
    lines.push_back("predicted   worst-1 % SSIM " + Ssim(plan.worst) + ", mean " + Ssim(plan.mean) +
                    " at " + Kbps(plan.encodeKbps));
    char probe[160];
    std::snprintf(probe, sizeof probe, "probe       %u samples (%.1f s, %u at scene cuts), %s",
                  plan.samples, plan.sampleSeconds, plan.cuts,
                  plan.fromCache ? "from the cache" : "");
    std::string text = probe;
    if (!plan.fromCache) {
        char took[48];
        std::snprintf(took, sizeof took, "took %.1f s", plan.probeSeconds);
        text += took;
    }
    lines.push_back(text);
    if (plan.atFloor) {
        lines.push_back("note        the target is reached at the profile's lowest bitrate");
    }
    if (plan.smaller) {
        lines.push_back("note        still pictures: a higher bitrate makes the smaller file here");
    }
    if (plan.plateau) {
        lines.push_back("note        more bits than " + Kbps(plan.kbps) +
                        " buy this title no measurable quality: the target is out of its reach");
    }
    if (plan.atCeiling) {
        lines.push_back("note        even the profile's highest bitrate falls short of the target");
    }
    if (plan.limitWins) {
        lines.push_back("note        the size limit holds the video to " + Kbps(plan.encodeKbps) +
                        ": the target cannot be met inside it (predicted " + Ssim(plan.worst) +
                        ")");
    }
    if (plan.grain) {
        lines.push_back(
            "note        SSIM against the source reads this title's grain more than its "
            "picture: the target applies to the picture under the grain (both blurred "
            "slightly), so no bits go to copying noise");
    }
    return lines;
}

PooledQuality MeasureOutput(const Sources& sources, const OutputChoice& choice,
                            const std::string& output, bool underGrain) {
    const std::vector<TitleFile> title = TitleOf(sources);
    const FrameScores scores = MeasureEncode(
        title, WholeTitle(title), output, PictureOf(choice), [](double) {}, underGrain);
    return Pool(underGrain ? scores.underGrain : scores.plain);
}

std::vector<QualityPlan> PlanBudget(const std::vector<BatchTitle>& titles,
                                    const OutputChoice& choice, nvt::ITranscodeEngineInfo* info,
                                    uint64_t budget, ProgressMode mode, double period,
                                    std::vector<BudgetFile>& files) {
    std::vector<QualityPlan> plans(titles.size());
    files.assign(titles.size(), BudgetFile());
    double seconds = 0;
    for (const BatchTitle& t : titles) {
        seconds += t.usable ? TotalDurationMs(t.sources) / 1000.0 : 0;
    }
    if (seconds <= 0) {
        return plans;
    }
    // Every title is probed around the bitrate the budget gives an average
    // second: a little below and above it, as far as its range allows.
    std::vector<Derived> derived(titles.size());
    double otherBytes = 0;
    for (size_t i = 0; i < titles.size(); ++i) {
        if (!titles[i].usable) {
            continue;
        }
        derived[i] = Derive(titles[i].sources, choice, info);
        const double s = TotalDurationMs(titles[i].sources) / 1000.0;
        files[i].seconds = s;
        files[i].otherBytes = std::max(0.0, static_cast<double>(derived[i].bytes) -
                                                derived[i].kbps * kBitsPerKbps / 8.0 * s);
        files[i].minKbps = derived[i].minKbps;
        files[i].maxKbps = derived[i].maxKbps;
        otherBytes += files[i].otherBytes;
    }
    const double average =
        std::max(1.0, (kBudgetAim * budget - otherBytes) * 8.0 / kBitsPerKbps / seconds);
    for (size_t i = 0; i < titles.size(); ++i) {
        if (!titles[i].usable) {
            continue;
        }
        TitleProbe probe(titles[i].sources, choice, info, derived[i].width, derived[i].height,
                         ProbeDisplay{mode, period, titles[i].label, nullptr, nullptr});
        probe.EnsurePoint(Clamp(average / kBracket, derived[i]));
        probe.EnsurePoint(Clamp(average * kBracket, derived[i]));
        files[i].curve = probe.Curve();
        FillFromProbe(plans[i], probe);
    }
    BudgetShare share = ShareBudget(files, kBudgetAim * budget);
    if (share.tooSmall) {
        char text[160];
        std::snprintf(text, sizeof text,
                      "--total-size: the files take at least %.0f bytes at the profile's lowest "
                      "bitrates",
                      share.bytes);
        throw Failure(text, nvt::InvalidArgument);
    }
    // A file whose share lies far from its probes is probed there too,
    // and the budget shared again.
    bool probedMore = false;
    for (size_t i = 0; i < titles.size(); ++i) {
        if (titles[i].usable && files[i].curve.FarFromProbes(share.kbps[i])) {
            TitleProbe probe(titles[i].sources, choice, info, derived[i].width, derived[i].height,
                             ProbeDisplay{mode, period, titles[i].label, nullptr, nullptr});
            probe.EnsurePoint(share.kbps[i]);
            files[i].curve = probe.Curve();
            const double before = plans[i].probeSeconds;
            FillFromProbe(plans[i], probe);
            plans[i].probeSeconds += before;
            probedMore = true;
        }
    }
    if (probedMore) {
        share = ShareBudget(files, kBudgetAim * budget);
    }
    for (size_t i = 0; i < titles.size(); ++i) {
        if (!titles[i].usable) {
            continue;
        }
        PlanAt(plans[i], files[i], share.kbps[i]);
    }
    return plans;
}

void PlanAt(QualityPlan& plan, const BudgetFile& file, double kbps) {
    plan.kbps = kbps;
    plan.encodeKbps = kbps;
    plan.worst = file.curve.WorstAt(kbps);
    plan.mean = file.curve.MeanAt(kbps);
    plan.atFloor = kbps <= file.minKbps;
    plan.atCeiling = kbps >= file.maxKbps;
    plan.plateau = kbps >= file.curve.UsefulKbps();
    plan.bytes = static_cast<uint64_t>(PredictedBytes(file, kbps));
}

} // namespace norv
