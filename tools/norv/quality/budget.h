// One size budget shared among a batch's files so that their worst-1 %
// quality comes out as even as the budget allows: every file is given the
// bitrate at which its own rate-quality curve reaches one common quality,
// the highest common quality whose files fit the budget (a file held at
// the end of its allowed range takes that end instead).
#pragma once

#include <vector>

#include "quality/rate_quality.h"

namespace norv {

struct BudgetFile {
    RateQualityCurve curve;
    double seconds = 0;    ///< playing time
    double otherBytes = 0; ///< what the file holds besides its video (audio, container)
    double minKbps = 0;    ///< the profile's allowed video range for the file
    double maxKbps = 0;
};

/// The bytes a file is predicted to take at kbps (the library's kbps of
/// 1024 bits per second).
double PredictedBytes(const BudgetFile& file, double kbps);

struct BudgetShare {
    std::vector<double> kbps;  ///< per file, whole kbps
    std::vector<double> worst; ///< predicted worst-1 % SSIM per file
    double bytes = 0;          ///< predicted total
    /// Even the lowest bitrates take more than the budget: kbps are the
    /// lowest, and bytes says how much they take.
    bool tooSmall = false;
    /// Even the highest bitrates take less than the share aimed at: kbps
    /// are the highest.
    bool allHighest = false;
};

/// Shares aim (bytes) among files. Files already settled are passed with
/// seconds 0 and do not count.
BudgetShare ShareBudget(const std::vector<BudgetFile>& files, double aim);

/// The share of a budget aimed at: a little below it, so that the encoder's
/// spread around its predicted sizes stays inside.
constexpr double kBudgetAim = 0.985;

/// The share of a size limit aimed at where it has to be kept (the engine's
/// own aim under a limit with priority).
constexpr double kEngineLimitAim = 0.975;

/// Bits a library kbps.
constexpr double kBitsPerKbps = 1024.0;

} // namespace norv
