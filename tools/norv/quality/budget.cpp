#include "quality/budget.h"

#include <algorithm>
#include <cmath>

namespace norv {

namespace {

// Bisection steps over the common quality in dB: 0..50 dB to well below
// 0.001 dB.
constexpr int kSteps = 60;

// A file takes no more than its range allows, nor more than buys it any
// quality.
double KbpsAt(const BudgetFile& file, double db) {
    const double top = std::max(file.minKbps, std::min(file.maxKbps, file.curve.UsefulKbps()));
    return std::min(top, std::max(file.minKbps, file.curve.KbpsFor(DbToSsim(db))));
}

double TotalAt(const std::vector<BudgetFile>& files, double db) {
    double total = 0;
    for (const BudgetFile& f : files) {
        if (f.seconds > 0) {
            total += PredictedBytes(f, std::floor(KbpsAt(f, db)));
        }
    }
    return total;
}

} // namespace

double PredictedBytes(const BudgetFile& file, double kbps) {
    return file.otherBytes + file.seconds * file.curve.MadeKbps(kbps) * kBitsPerKbps / 8.0;
}

BudgetShare ShareBudget(const std::vector<BudgetFile>& files, double aim) {
    double low = 0, high = 50;
    BudgetShare share;
    if (TotalAt(files, low) > aim) {
        share.tooSmall = true;
        high = low;
    } else if (TotalAt(files, high) <= aim) {
        share.allHighest = true;
        low = high;
    }
    for (int step = 0; step < kSteps && high - low > 1e-6; ++step) {
        const double middle = (low + high) / 2;
        (TotalAt(files, middle) <= aim ? low : high) = middle;
    }
    for (const BudgetFile& f : files) {
        const double kbps = f.seconds > 0 ? std::floor(KbpsAt(f, low)) : 0;
        share.kbps.push_back(kbps);
        share.worst.push_back(f.seconds > 0 ? f.curve.WorstAt(kbps) : 0);
        if (f.seconds > 0) {
            share.bytes += PredictedBytes(f, kbps);
        }
    }
    return share;
}

} // namespace norv
