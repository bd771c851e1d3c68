#include "batch/batch_eta.h"

#include <algorithm>

namespace norv {

namespace {

// The batch's own rate is trusted wholly from this share of its work on;
// before, it is weighed against the expectation in proportion.
constexpr double kTrustedShare = 1.0 / 3.0;

} // namespace

double FileWork(double mediaSeconds, uint32_t width, uint32_t height, double frameRate,
                unsigned passes) {
    return std::max(0.0, mediaSeconds) * width * height * std::max(0.0, frameRate) *
           std::max(1u, passes);
}

double SideBySideSeconds(const std::vector<double>& fileSeconds, unsigned parallel) {
    double sum = 0;
    for (const double seconds : fileSeconds) {
        if (!(seconds >= 0)) {
            return -1;
        }
        sum += seconds;
    }
    return sum / std::max(1u, parallel);
}

double BatchRemaining(const std::vector<double>& work, const std::vector<double>& fraction,
                      double elapsed, double priorSeconds) {
    double total = 0;
    double done = 0;
    for (size_t i = 0; i < work.size() && i < fraction.size(); ++i) {
        total += work[i];
        done += work[i] * std::clamp(fraction[i], 0.0, 1.0);
    }
    if (total <= 0) {
        return -1;
    }
    const double share = done / total;
    if (share >= 1.0) {
        return 0;
    }
    // The expectation holds for the work, whatever the time taken so far.
    const double prior = priorSeconds >= 0 ? priorSeconds * (1.0 - share) : -1;
    if (share <= 0 || elapsed <= 0) {
        return prior;
    }
    const double measured = elapsed * (1.0 - share) / share;
    if (prior < 0) {
        return measured;
    }
    const double trust = std::min(1.0, share / kTrustedShare);
    return trust * measured + (1.0 - trust) * prior;
}

} // namespace norv
