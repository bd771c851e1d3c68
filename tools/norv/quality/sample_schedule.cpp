#include <algorithm>
#include <cmath>
#include <optional>

#include "quality/samples.h"

namespace norv {

SampleSchedule ScheduleFor(double titleSeconds) {
    SampleSchedule schedule;
    if (!(titleSeconds > 0)) {
        return schedule;
    }
    double total = 0, each = 0;
    if (titleSeconds >= 60) {
        total = std::min(120.0, std::max(2.4, 0.035 * titleSeconds));
        each = 2.0;
    } else {
        total = std::min(titleSeconds, std::max(2.0, 0.25 * titleSeconds));
        each = 1.5;
    }
    const double count = std::max(1.0, std::round(total / each));
    schedule.count = static_cast<unsigned>(titleSeconds >= 60 ? std::max(2.0, count) : count);
    schedule.seconds = total / schedule.count;
    return schedule;
}

namespace {

// scdet's score (0..100) from which a change of picture counts as a cut:
// its own default threshold.
constexpr double kCutScore = 10.0;

} // namespace

bool SparseKeyframes(const std::vector<double>& keys, double length) {
    return keys.size() >= 2 && (keys.back() - keys.front()) / (keys.size() - 1) > length;
}

SampleSchedule SpreadOverKeyframes(const SampleSchedule& schedule,
                                   const std::vector<double>& keys) {
    if (!SparseKeyframes(keys, schedule.seconds) || keys.size() <= schedule.count ||
        keys.size() > 2 * static_cast<size_t>(schedule.count)) {
        return schedule;
    }
    SampleSchedule spread;
    spread.count = static_cast<unsigned>(keys.size());
    spread.seconds = schedule.count * schedule.seconds / spread.count;
    return spread;
}

std::optional<double> HardestStretch(const std::vector<CodedFile>& files, double length) {
    std::optional<double> hardest;
    double most = -1;
    for (const CodedFile& f : files) {
        std::vector<double> times, keys;
        std::vector<double> sums{0}; // of the bytes of the pictures between keyframes before each
        for (const CodedPicture& p : f.pictures) {
            if (p.key) {
                keys.push_back(p.seconds);
            } else {
                times.push_back(p.seconds);
                sums.push_back(sums.back() + p.bytes);
            }
        }
        const std::vector<double>& starts = SparseKeyframes(keys, length) ? keys : times;
        const double end = f.origin + std::max(f.seconds, length);
        const auto at = [&](double t) {
            return static_cast<size_t>(std::lower_bound(times.begin(), times.end(), t) -
                                       times.begin());
        };
        for (double from : starts) {
            if (from + length > end + kSameTime) {
                break;
            }
            const size_t first = at(from - kSameTime), last = at(from + length - kSameTime);
            const size_t count = last - first;
            if (count >= 2 && (sums[last] - sums[first]) / count > most) {
                most = (sums[last] - sums[first]) / count;
                hardest = f.before + from - f.origin;
            }
        }
    }
    return hardest;
}

size_t ChooseStart(const std::vector<SeenFrame>& seen, size_t lastStart, unsigned frames,
                   const std::function<Reach(size_t)>& reach,
                   const std::function<double(size_t)>& distance, bool& atCut) {
    auto pick = [&](bool keysOnly, bool& cut) -> std::optional<size_t> {
        std::optional<size_t> chosen;
        double best = -1, nearest = 1e300;
        cut = false;
        for (size_t i = 0; i <= lastStart && i < seen.size(); ++i) {
            const Reach r = reach(i);
            if (r == Reach::After) {
                break;
            }
            if (r == Reach::Before || (keysOnly && !seen[i].key)) {
                continue;
            }
            if (i > 0 && seen[i].score >= kCutScore && seen[i].score > best) {
                best = seen[i].score;
                chosen = i;
                cut = true;
            }
            if (!cut && distance(i) < nearest) {
                nearest = distance(i);
                chosen = i;
            }
        }
        return chosen;
    };
    size_t chosen = pick(false, atCut).value_or(0);
    size_t key = chosen;
    while (key > 0 && !seen[key].key) {
        --key;
    }
    if (chosen - key > frames) {
        bool keyCut = false;
        if (const std::optional<size_t> k = pick(true, keyCut)) {
            chosen = *k;
            atCut = keyCut;
        }
    }
    return chosen;
}

} // namespace norv
