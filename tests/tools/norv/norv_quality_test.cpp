// The quality mode: the rate-quality fit and the budget sharing worked out
// by hand, and one run of each mode through the real engine on small clips
// made here.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>

#include "norv_process.h"
#include "quality/budget.h"
#include "quality/rate_quality.h"
#include "quality/samples.h"
#if defined(NORV_MEASURES)
#include "quality/ssim_meter.h"
#endif
#include "support/temp_dir.h"

namespace {

using norv::RatePoint;
using norv::RateQualityCurve;
using norv::SampleOutput;
using norv::TitleRateFrom;

RatePoint Point(double kbps, double worst, double made = 0) {
    return RatePoint{kbps, made > 0 ? made : kbps, worst, worst};
}

// SSIM in dB is -10 log10(1 - SSIM): 0.90 is 10 dB, 0.95 13.0103 dB,
// 0.96 13.9794 dB, 0.98 16.9897 dB, 0.99 20 dB.
TEST(NorvQualityFit, SolvesAndPredictsAlongTheLineInDecibelsOverLogBitrate) {
    struct Row {
        const char* what;
        std::vector<RatePoint> points;
        double target, kbps; // KbpsFor(target) is kbps
        double at, worst;    // WorstAt(at) is worst
    } rows[] = {
        // 10 dB at 1000, 13.9794 dB at 2000: 3.9794 dB a doubling; 0.95 is
        // 3.0103 dB above the first: 2^(3.0103/3.9794) = 1.6894 times 1000.
        // Twice the higher bitrate adds 3.9794 dB: 17.9588 dB, SSIM 0.984.
        {"two probes", {Point(1000, 0.90), Point(2000, 0.96)}, 0.95, 1689.35, 4000, 0.984},
        // One probe takes 4 dB a doubling: 2^(3.0103/4) = 1.6848 times.
        {"one probe", {Point(1000, 0.90)}, 0.95, 1684.80, 2000, 1 - std::pow(10.0, -1.4)},
        // The lower second probe is raised to the first (13.0103 dB); the
        // flat line takes the least slope, 1.5 dB a doubling, beyond it:
        // 0.96 is 0.9691 dB above, 2^(0.9691/1.5) = 1.5649 times 2000.
        {"a probe below the one before",
         {Point(1000, 0.95), Point(2000, 0.94)},
         0.96,
         3129.79,
         1500,
         0.95},
        // Between the outer probes of three, the segment through the nearer
        // two: 0.95 lies halfway (in dB) between 1000 and 4000's 10 and
        // 16.0206 dB... on the segment 2000-4000 (13.0103 dB at 2000).
        {"three probes",
         {Point(1000, 0.90), Point(2000, 0.95), Point(4000, 0.975)},
         0.95,
         2000,
         1000,
         0.90},
    };
    for (const Row& row : rows) {
        const RateQualityCurve curve(row.points);
        EXPECT_NEAR(curve.KbpsFor(row.target), row.kbps, 0.05) << row.what;
        EXPECT_NEAR(curve.WorstAt(row.at), row.worst, 1e-4) << row.what;
        // Solving and predicting undo each other.
        EXPECT_NEAR(curve.WorstAt(curve.KbpsFor(row.target)), row.target, 1e-9) << row.what;
    }
}

TEST(NorvQualityFit, TheEncodersOutputRateFollowsTheProbes) {
    struct Row {
        const char* what;
        std::vector<RatePoint> points;
        double kbps, made; // MadeKbps(kbps) is made
    } rows[] = {
        // 500 made of 1000 asked and 600 of 2000, ratios 0.5 and 0.3;
        // halfway in log bitrate, sqrt(1000 * 2000) = 1414.21, the ratio is
        // halfway too: 0.4, so 565.69. Beyond the probes, the end's ratio.
        {"between them", {Point(1000, 0.9, 500), Point(2000, 0.95, 600)}, 1414.2136, 565.69},
        {"below them", {Point(1000, 0.9, 500), Point(2000, 0.95, 600)}, 500, 250},
        {"above them", {Point(1000, 0.9, 500), Point(2000, 0.95, 600)}, 3000, 900},
        {"above the asked rate", {Point(1000, 0.9, 1050)}, 2000, 2100},
    };
    for (const Row& row : rows) {
        EXPECT_NEAR(RateQualityCurve(row.points).MadeKbps(row.kbps), row.made, 0.01) << row.what;
    }
}

TEST(NorvQualityFit, ATitleIsJudgedByTheBitsItMakesOverItsSamples) {
    struct Row {
        const char* what;
        RatePoint point;
        double at, worst;    // WorstAt(at) is worst
        double target, kbps; // KbpsFor(target) is kbps
    } rows[] = {
        // Twice the samples' bits, its worst frames half a doubling at the typical 4 dB:
        // 10 + 2 = 12 dB, SSIM 1 - 10^-1.2; the samples' 10 dB where the
        // asked rate times sqrt 2 is 1000: 707.11.
        {"a title makes more",
         {1000, 1000, 0.90, 0.90, 2},
         1000,
         1 - std::pow(10.0, -1.2),
         0.90,
         707.10678},
        // No lift: the samples' curve.
        {"no lift", {1000, 500, 0.90, 0.90, 1}, 1000, 0.90, 0.90, 1000},
    };
    for (const Row& row : rows) {
        const RateQualityCurve curve({row.point});
        EXPECT_NEAR(curve.WorstAt(row.at), row.worst, 1e-9) << row.what;
        EXPECT_NEAR(curve.KbpsFor(row.target), row.kbps, 1e-4) << row.what;
    }
}

// 2.5 s of samples asked for 1000 kb/s; 320 bytes a kb/s over them
// (1024 / 8 * 2.5), so 320,000 bytes would be the asked rate.
TEST(NorvQualityFit, ATitleMakesWhatItsSamplesShowOfTheRateControl) {
    struct Row {
        const char* what;
        uint64_t bytes, keyBytes;
        double titleSeconds, kbps, lift;
        uint64_t bytesAt2000 = 0; ///< a second probe's, asked twice the rate
    } rows[] = {
        // 1100 made: the excess spreads over four times the length,
        // 1000 (1 + 0.1 * 0.25^0.5) = 1050; over the samples' own, 1100.
        {"above the asked rate", 352000, 32000, 10, 1050, 1},
        {"above the asked rate, as long", 352000, 32000, 2.5, 1100, 1},
        // 800 made, 100 of it the keyframe: under half, and the rest 700 of
        // the 900 left (0.78). The 20 % short spreads over four times the
        // length: 1000 (1 - 0.2 * 0.25^0.5) = 900, 900 / 800 the lift; over
        // sixteen times, 1000 (1 - 0.2 * 0.25) = 950; over the samples' own
        // length, 800.
        {"caught up, 4 times as long", 256000, 32000, 10, 900, 1.125},
        {"caught up, 16 times as long", 256000, 32000, 40, 950, 1.1875},
        {"caught up, as long", 256000, 32000, 2.5, 800, 1},
        // 400 made, 100 the keyframe, the rest 300 of 900 (0.33): too easy
        // to take the bits. The title's one keyframe, 250 kbit over 10 s, is
        // 0.025 of the rate; 0.3 between; of the 0.675 left, half the share
        // a caught-up title makes up, (1 - 0.25^0.5) / 2 = 0.25: 0.16875.
        // 0.025 + 0.3 + 0.16875 = 493.75, lift 493.75 / 400.
        {"still pictures", 128000, 32000, 10, 493.75, 1.234375},
        // Asked twice the rate, the frames between keyframes made 2^0.3
        // times as much (96,000 bytes then 118,196): none of the shortfall
        // is made up, 0.025 + 0.3 = 325.
        {"still pictures, taking no more", 128000, 32000, 10, 325, 1, 143796},
        // 900 made, 600 the keyframe: the title's keyframe 0.15, 0.3
        // between, 0.55 left: 0.15 + 0.3 + 0.55 * 0.25 = 587.5, less than
        // the samples: no lift.
        {"a keyframe takes most", 288000, 192000, 10, 587.5, 1},
        // The frames between growing as little as the still pictures': the
        // same, as a keyframe that takes most of the bytes hides them.
        {"a keyframe takes most, taking no more", 288000, 192000, 10, 587.5, 1, 143796},
        // 580 made, 80 the keyframe, the rest 500 of 920 (0.54): starved
        // alone. Asked twice the rate, the frames between keyframes made
        // 2^1.3 times as much (1231.1 kbps, 393,952 bytes, and the same
        // keyframe): the shortfall is the rate control's, and the title
        // catches up, 1000 (1 - 0.42 * 0.25^0.5) = 790. Made 2^0.9 times
        // (933.03 kbps, 298,570 bytes), they cannot take the bits:
        // 0.02 + 0.5 + 0.48 * 0.25 = 640.
        {"starved alone, taking more", 185600, 25600, 10, 790, 1.36207, 419552},
        {"starved alone, taking less", 185600, 25600, 10, 640, 1.10345, 324170},
    };
    for (const Row& row : rows) {
        const SampleOutput other{2000, 2.5, row.bytesAt2000, 25600, 1};
        const norv::TitleRate title =
            TitleRateFrom(SampleOutput{1000, 2.5, row.bytes, row.keyBytes, 1}, row.titleSeconds, 10,
                          row.bytesAt2000 > 0 ? &other : nullptr);
        EXPECT_NEAR(title.kbps, row.kbps, 0.01) << row.what;
        EXPECT_NEAR(title.lift, row.lift, 1e-5) << row.what;
    }
}

// 0.90 is 10 dB, 0.91 10.4576, 0.912 10.5552, 0.92 10.9691.
TEST(NorvQualityFit, ClaimsAPlateauOnlyWhereAProbeAboveItBoughtNothing) {
    const double none = std::numeric_limits<double>::infinity();
    struct Row {
        const char* what;
        std::vector<RatePoint> points;
        double useful;
    } rows[] = {
        {"steep", {Point(1000, 0.90), Point(2000, 0.96)}, none},
        // Under 1.5 dB a doubling; 4000 bought 0.098 dB on 2000, and 2000
        // 0.458 on 1000 (4000 0.555 over two doublings): under 0.75 dB a
        // doubling.
        {"flat", {Point(1000, 0.90), Point(2000, 0.91), Point(4000, 0.912)}, 1000},
        // Heavy grain over a minute: 11.94, 12.29 and 12.80 dB, never within
        // 0.25 dB of the top but under 0.75 dB a doubling all the way.
        {"flat, slowly gaining",
         {Point(300, 0.93599), Point(675, 0.94082), Point(2521, 0.94736)},
         300},

        // 0.97 dB a doubling, but the doubling bought it all the same.
        {"flat, the top still gaining", {Point(1000, 0.90), Point(2000, 0.92)}, none},
        {"one probe", {Point(1000, 0.90)}, none},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(RateQualityCurve(row.points).UsefulKbps(), row.useful) << row.what;
    }
}

// 1.5 times or more from the nearest probe is far: 666 (1000 / 1.5015),
// 2000 (twice 1000, half 4000) and 6100 (4000 * 1.525) are.
TEST(NorvQualityFit, ProbesAgainWhereTheAnswerLiesFarFromEveryProbe) {
    const std::vector<RatePoint> steep = {Point(1000, 0.90), Point(4000, 0.97)};
    const std::vector<RatePoint> flat = {Point(1000, 0.90), Point(2000, 0.91), Point(4000, 0.912)};
    struct Row {
        const char* what;
        const std::vector<RatePoint>& points;
        double kbps;
        bool far;
    } rows[] = {
        {"near the lower", steep, 1400, false},
        {"between, far from both", steep, 2000, true},
        {"below", steep, 666, true},
        {"just inside", steep, 667, false},
        {"above", steep, 6100, true},
        {"above a plateau", flat, 9000, false},
        {"below a plateau", flat, 500, true},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(RateQualityCurve(row.points).FarFromProbes(row.kbps), row.far) << row.what;
    }
}

TEST(NorvQualityFit, PoolsTheWorstOnePercentOfFrames) {
    // 200 frames: the worst 1 % is two frames, 0.5 and 0.7, mean 0.6; all
    // 200 average (198 * 0.99 + 1.2) / 200 = 0.9861.
    std::vector<double> scores(198, 0.99);
    scores.insert(scores.begin() + 50, 0.5);
    scores.push_back(0.7);
    const norv::PooledQuality pooled = norv::Pool(scores);
    EXPECT_NEAR(pooled.worst, 0.6, 1e-12);
    EXPECT_NEAR(pooled.mean, 0.9861, 1e-12);
    EXPECT_EQ(pooled.frames, 200u);
    EXPECT_NEAR(norv::Pool({0.8}).worst, 0.8, 1e-12); // never fewer than one frame

    // Frames standing for 1 and 149 of a title's: 300 title frames, worst 1 %
    // three. A hard stretch's 0.80 and 0.84 count once each, then one of the
    // 149 that 0.85 stands for: 0.83; the mean is (0.80 + 0.84 + 149 * 0.85
    // + 149 * 0.99) / 300 = 0.919333. A worse frame standing for many is the
    // worst 1 % alone.
    const norv::PooledQuality rare = norv::Pool({0.85, 0.80, 0.99, 0.84}, {149, 1, 149, 1});
    EXPECT_NEAR(rare.worst, 0.83, 1e-12);
    EXPECT_NEAR(rare.mean, 0.919333333333, 1e-9);
    EXPECT_NEAR(norv::Pool({0.70, 0.80, 0.99, 0.84}, {149, 1, 149, 1}).worst, 0.70, 1e-12);
}

TEST(NorvQualityFit, ReadsGrainOnlyWhereEveryPictureReadsIt) {
    struct Row {
        const char* what;
        double worst, mean, underWorst, underMean;
        bool grain;
    };
    // First probes of a one-minute title at 640x360, 300 kb/s.
    const Row rows[] = {
        {"heavy grain", 0.3923, 0.4068, 0.9282, 0.9353, true},
        {"gradient under light grain", 0.7789, 0.7840, 0.9841, 0.9858, true},
        {"a zoom losing its detail at the end", 0.7442, 0.9342, 0.9420, 0.9867, false},
        {"detailed footage, worst frames low", 0.8809, 0.9521, 0.9568, 0.9874, false},
        {"clean test card", 0.9695, 0.9769, 0.9941, 0.9967, false},
    };
    for (const Row& row : rows) {
        norv::PooledQuality plain, under;
        plain.worst = row.worst;
        plain.mean = row.mean;
        under.worst = row.underWorst;
        under.mean = row.underMean;
        EXPECT_EQ(norv::ReadsGrain(plain, under), row.grain) << row.what;
    }
}

TEST(NorvQualityFit, LeavesOutSamplesTheEncoderJoinedFromAnUnrelatedPicture) {
    // Two frames a sample; 0.99 is 20 dB, 0.98 16.99 dB, 0.96 13.98 dB,
    // 0.961 14.09 dB, 0.9 10 dB. A sample is left out when its first frame
    // is not an I picture and lies 3 dB or more below the last frame kept.
    struct Row {
        const char* what;
        std::vector<double> scores;
        std::vector<bool> intra;
        std::vector<bool> out;
    };
    const std::vector<size_t> sample{0, 0, 1, 1, 2, 2};
    const std::vector<Row> rows{
        {"carried on, 10 dB down",
         {0.99, 0.99, 0.9, 0.92, 0.99, 0.99},
         {true, false, false, false, false, false},
         {false, false, true, true, false, false}},
        {"a cut coded whole",
         {0.99, 0.99, 0.9, 0.92, 0.99, 0.99},
         {true, false, true, false, false, false},
         {false, false, false, false, false, false}},
        {"3.01 dB down, then 2.9",
         {0.98, 0.98, 0.96, 0.96, 0.961, 0.97},
         {true, false, false, false, false, false},
         {false, false, true, true, false, false}},
        // Against the last frame kept (20 dB), not the left-out 0.92 (11 dB).
        {"after a left-out sample",
         {0.99, 0.99, 0.9, 0.92, 0.91, 0.95},
         {true, false, false, false, false, false},
         {false, false, true, true, true, true}},
        {"the first sample stays",
         {0.5, 0.5, 0.99, 0.99, 0.99, 0.99},
         {false, false, false, false, false, false},
         {false, false, false, false, false, false}},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(norv::BrokenJoins(r.scores, sample, r.intra), r.out) << r.what;
    }
}

TEST(NorvQualityFit, LeavesOutTheFrameBeforeEachJoin) {
    using Marks = std::vector<bool>;
    EXPECT_EQ(norv::SampleEnds({0, 0, 0, 1, 1, 2}),
              (Marks{false, false, true, false, true, false}));
    EXPECT_EQ(norv::SampleEnds({0}), (Marks{false})); // a sample of one frame keeps it
    EXPECT_EQ(norv::SampleEnds({}), Marks{});
}

TEST(NorvQualityFit, ReadsLevelsAndNumbers) {
    EXPECT_NEAR(norv::ParseQualityTarget("high")->worst, 0.97, 1e-12);
    EXPECT_NEAR(norv::ParseQualityTarget("standard")->worst, 0.95, 1e-12);
    EXPECT_NEAR(norv::ParseQualityTarget("small")->worst, 0.92, 1e-12);
    EXPECT_NEAR(norv::ParseQualityTarget("0.963")->worst, 0.963, 1e-12);
    for (const char* refused : {"", "best", "1", "0.3", "0.96x", "96"}) {
        EXPECT_FALSE(norv::ParseQualityTarget(refused)) << refused;
    }
}

TEST(NorvQualityBudget, SharesSoThatTheWorstFramesComeOutEven) {
    // Two 10 s files with nothing beside their video: 1280 bytes a second
    // for each kbps (1024 / 8 * 10). Both gain 3.0103 dB a doubling; the
    // easy one is 6.9897 dB (10 log10 5) above the hard one at every
    // bitrate, so at an even quality the hard one takes five times the
    // bits. 3 840 000 bytes are 3000 kbps between them: 500 and 2500, where
    // both reach 10 + 3.0103 log2(2.5) = 13.9794 dB, SSIM 0.96.
    auto file = [](double at1000, double at2000, double maxKbps) {
        norv::BudgetFile f;
        f.curve = RateQualityCurve({Point(1000, at1000), Point(2000, at2000)});
        f.seconds = 10;
        f.minKbps = 100;
        f.maxKbps = maxKbps;
        return f;
    };
    struct Row {
        const char* what;
        std::vector<norv::BudgetFile> files;
        double aim;
        std::vector<double> kbps, worst;
        bool tooSmall, allHighest;
    } rows[] = {
        {"even",
         {file(0.98, 0.99, 20000), file(0.90, 0.95, 20000)},
         3840000,
         {500, 2500},
         {0.96, 0.96},
         false,
         false},
        // The hard one held at its highest bitrate (2000, SSIM 0.95): the
        // easy one takes the other 1000 (0.98) rather than leave it unused.
        {"held at the top",
         {file(0.98, 0.99, 20000), file(0.90, 0.95, 2000)},
         3840000,
         {1000, 2000},
         {0.98, 0.95},
         false,
         false},
        // Probes that gain 0.04 dB a doubling: more than 1000 kbps buys the
        // flat one nothing, and the easy one takes the other 2000 (0.99).
        {"no gain from more bits",
         {file(0.98, 0.99, 20000), file(0.90, 0.901, 20000)},
         3840000,
         {2000, 1000},
         {0.99, 0.90},
         false,
         false},
        // 100 kbps each at least: 256 000 bytes.
        {"too small",
         {file(0.98, 0.99, 20000), file(0.90, 0.95, 20000)},
         200000,
         {100, 100},
         {-1, -1},
         true,
         false},
        // At most 1000 each: 2 560 000 bytes, below the aim.
        {"all at the top",
         {file(0.98, 0.99, 1000), file(0.90, 0.95, 1000)},
         3840000,
         {1000, 1000},
         {0.98, 0.90},
         false,
         true},
    };
    for (const Row& row : rows) {
        const norv::BudgetShare share = norv::ShareBudget(row.files, row.aim);
        EXPECT_EQ(share.tooSmall, row.tooSmall) << row.what;
        EXPECT_EQ(share.allHighest, row.allHighest) << row.what;
        for (size_t i = 0; i < row.kbps.size(); ++i) {
            EXPECT_NEAR(share.kbps[i], row.kbps[i], 1.0) << row.what << " file " << i;
            if (row.worst[i] >= 0) {
                EXPECT_NEAR(share.worst[i], row.worst[i], 2e-4) << row.what << " file " << i;
            }
        }
        if (!row.tooSmall) {
            EXPECT_LE(share.bytes, row.aim) << row.what;
        }
    }
}

TEST(NorvQualityBudget, ProbesShortTitlesLightlyAndLongOnesWithinTheirShare) {
    struct Row {
        double title;
        unsigned count;
        double seconds;
    } rows[] = {
        {1, 1, 1.0},          // the whole title
        {10, 2, 1.25},        // a quarter: 2.5 s in about 1.5 s pieces
        {60, 2, 1.2},         // 3.5 % is 2.1 s: at least 2.4 s, two pieces
        {600, 11, 21.0 / 11}, // 21 s in about 2 s pieces: 10.5 rounds to 11
        {7200, 60, 2.0},      // at most two minutes
    };
    for (const Row& row : rows) {
        const norv::SampleSchedule s = norv::ScheduleFor(row.title);
        EXPECT_EQ(s.count, row.count) << row.title;
        EXPECT_NEAR(s.seconds, row.seconds, 1e-9) << row.title;
    }
}

// A sample starts at a cut, else near its place; but never far past its
// keyframe, which every probe encode would decode from again.
TEST(NorvQualitySamples, StartAtACutUnlessItLiesFarPastItsKeyframe) {
    struct Row {
        const char* what;
        std::vector<size_t> keys, cuts;
        size_t reachFrom; // frames before it lie outside the stratum
        double wanted;
        size_t start;
        bool atCut;
    } rows[] = {
        {"a cut close after its keyframe", {0, 20}, {25}, 0, 22, 25, true},
        {"a cut far past its keyframe gives way to the nearest keyframe",
         {0, 30},
         {18},
         0,
         22,
         30,
         false},
        {"a keyframe at a cut is the keyframe taken", {0, 30, 36}, {18, 30}, 0, 35, 30, true},
        {"no keyframe within reach: the cut stays", {0}, {18}, 5, 22, 18, true},
        {"no cut: the nearest frame, moved to a keyframe when far", {0, 20}, {}, 0, 16, 20, false},
        {"no cut: the nearest frame close after its keyframe", {0, 20}, {}, 0, 25, 25, false},
    };
    const unsigned frames = 10;
    for (const Row& row : rows) {
        std::vector<norv::SeenFrame> seen(50);
        for (size_t i = 0; i < seen.size(); ++i) {
            seen[i].pts = static_cast<int64_t>(i);
        }
        for (size_t k : row.keys) {
            seen[k].key = true;
        }
        for (size_t c : row.cuts) {
            seen[c].score = 40;
        }
        bool atCut = false;
        const size_t start = norv::ChooseStart(
            seen, seen.size() - frames, frames,
            [&](size_t i) { return i < row.reachFrom ? norv::Reach::Before : norv::Reach::In; },
            [&](size_t i) { return std::abs(static_cast<double>(i) - row.wanted); }, atCut);
        EXPECT_EQ(start, row.start) << row.what;
        EXPECT_EQ(atCut, row.atCut) << row.what;
    }
}

// The hardest stretch is where the pictures between keyframes take most,
// whole inside one file, placed on the title's time.
TEST(NorvQualitySamples, HardestStretchIsWhereThePicturesBetweenKeyframesTakeMost) {
    struct Bump {
        size_t file;
        double from, to; // the file's own seconds
        uint32_t bytes;
        bool key;
    };
    struct Row {
        const char* what;
        std::vector<Bump> bumps;
        std::optional<double> start;
    } rows[] = {
        {"the stretch of the larger pictures", {{0, 2.0, 2.5, 200, false}}, 2.0},
        {"a keyframe however large counts for nothing",
         {{0, 1.0, 1.1, 50000, true}, {0, 3.0, 3.5, 150, false}},
         3.0},
        // a file of 4 s: no stretch starts after 3.5 s; the one at 3.5 s
        // holds 3 pictures of 100 and 2 of 400, 220 on average
        {"the stretch stays inside its file", {{0, 3.8, 4.0, 400, false}}, 3.5},
        // the second file starts 4 s into the title (its timestamps at 1 s)
        {"the second file's stretch on the title's time", {{1, 2.0, 2.5, 300, false}}, 6.0},
        // keyframes at 0 and 2 s, further apart than the stretch is long
        {"sparse keyframes: the hardest stretch of those that start at one",
         {{0, 0.0, 0.1, 100, true},
          {0, 2.0, 2.1, 100, true},
          {0, 2.2, 2.4, 300, false},
          {0, 3.0, 3.5, 500, false}},
         2.0},
        {"keyframes alone show nothing", {{0, 0.0, 4.0, 100, true}, {1, 0.0, 4.0, 100, true}}, {}},
    };
    for (const Row& row : rows) {
        std::vector<norv::CodedFile> files(2);
        for (size_t f = 0; f < files.size(); ++f) {
            files[f].origin = static_cast<double>(f);
            files[f].before = 4.0 * f;
            files[f].seconds = 4.0;
            for (int i = 0; i < 40; ++i) { // ten pictures a second of 100 bytes
                files[f].pictures.push_back({files[f].origin + i / 10.0, 100, false});
            }
        }
        for (const Bump& b : row.bumps) {
            for (norv::CodedPicture& p : files[b.file].pictures) {
                const double at = p.seconds - files[b.file].origin;
                if (at >= b.from - 1e-9 && at < b.to - 1e-9) {
                    p = {p.seconds, b.bytes, b.key};
                }
            }
        }
        const std::optional<double> start = norv::HardestStretch(files, 0.5);
        ASSERT_EQ(start.has_value(), row.start.has_value()) << row.what;
        if (start) {
            EXPECT_NEAR(*start, *row.start, 1e-9) << row.what;
        }
    }
}

#if defined(NORV_REAL_ENGINE) && !defined(_WIN32)

using norv_test::JsonLines;
using norv_test::NorvOptions;
using norv_test::NorvOutput;
using norv_test::RunNorv;
namespace fs = std::filesystem;

// Clips made with the ffmpeg program: a moving test card and a noisy one.
class NorvQualityRun : public ::testing::Test {
protected:
    void SetUp() override {
        options_.folder = dir_.path();
        options_.env["NORV_ENGINE"] = NORV_REAL_ENGINE;
        Make("card.mp4", "testsrc2=size=320x240:rate=25:duration=3", "null");
        Make("grain.mp4", "testsrc2=size=320x240:rate=25:duration=3", "noise=alls=30:allf=t");
    }
    void Make(const std::string& name, const std::string& source, const std::string& filter) {
        const std::string command = "ffmpeg -nostdin -loglevel error -y -f lavfi -i " + source +
                                    " -vf " + filter +
                                    " -c:v libx264 -preset ultrafast -crf 12 -pix_fmt yuv420p '" +
                                    (fs::path(dir_.path()) / name).string() + "'";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
    }
    std::string At(const std::string& name) const {
        return (fs::path(dir_.path()) / name).string();
    }

    norv_test::TempDir dir_;
    NorvOptions options_;
};

TEST_F(NorvQualityRun, PreviewSaysTheBitrateSizeAndQualityAndProbesOnce) {
    const std::vector<std::string> args = {"--json",    "preview", "-p",          "NorvPlusHD",
                                           "--quality", "0.95",    At("card.mp4")};
    const NorvOutput first = RunNorv(args, options_);
    ASSERT_EQ(first.status, 0) << first.err;
    const nlohmann::json preview = JsonLines(first.out).back();
    const nlohmann::json& quality = preview.at("quality");
    EXPECT_EQ(preview.at("video_kbps").get<double>(), quality.at("chosen_kbps").get<double>());
    EXPECT_GT(preview.at("estimated_size").get<uint64_t>(), 0u);
    EXPECT_GE(quality.at("predicted_worst_ssim").get<double>(), 0.95 - 1e-6);
    EXPECT_GE(quality.at("probe_points").size(), 2u);
    EXPECT_FALSE(quality.at("probe_cached").get<bool>());
    // The same file and settings again: the cached probe, the same choice.
    const NorvOutput again = RunNorv(args, options_);
    ASSERT_EQ(again.status, 0) << again.err;
    const nlohmann::json cached = JsonLines(again.out).back().at("quality");
    EXPECT_TRUE(cached.at("probe_cached").get<bool>());
    EXPECT_EQ(cached.at("chosen_kbps"), quality.at("chosen_kbps"));
    // No scratch file of the probe outlives it.
    for (const auto& entry : fs::directory_iterator(fs::temp_directory_path())) {
        EXPECT_EQ(entry.path().filename().string().find(".ffconcat"), std::string::npos);
    }
}

// Keyframes 4 s apart: each sample starts at one, so that no probe encode
// decodes pictures before it.
TEST_F(NorvQualityRun, SamplesOfSparseKeyframesStartAtThem) {
    const std::string clip = At("gop.mp4");
    const std::string command =
        "ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc2=size=160x120:rate=25:duration=12 "
        "-c:v libx264 -preset ultrafast -g 100 -keyint_min 100 -sc_threshold 0 -pix_fmt yuv420p '" +
        clip + "'";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    const NorvOutput run =
        RunNorv({"--json", "preview", "-p", "NorvPlusHD", "--quality", "0.95", clip}, options_);
    ASSERT_EQ(run.status, 0) << run.err;
    size_t samples = 0, atKeyframes = 0;
    double stands = 0; // between them the samples stand for the whole title
    for (const auto& entry : fs::recursive_directory_iterator(dir_.path())) {
        if (entry.path().parent_path().filename() != "probes") {
            continue;
        }
        std::ifstream in(entry.path());
        const nlohmann::json probe = nlohmann::json::parse(in);
        for (const nlohmann::json& sample : probe.at("samples")) {
            atKeyframes += sample.at("start_us").get<int64_t>() % 4000000 == 0;
            stands += sample.at("stands").get<double>();
            ++samples;
        }
    }
    EXPECT_EQ(samples, 3u); // one a keyframe: no four seconds go unseen
    EXPECT_NEAR(stands, 12.0, 0.1);
    EXPECT_EQ(atKeyframes, samples);
}

TEST_F(NorvQualityRun, TranscodeEncodesAtTheChosenBitrate) {
    const NorvOutput run = RunNorv({"--json", "transcode", "-p", "NorvPlusHD", "--quality",
                                    "standard", At("grain.mp4"), "-o", At("grain.mkv")},
                                   options_);
    ASSERT_EQ(run.status, 0) << run.err;
    nlohmann::json plan;
    for (const nlohmann::json& event : JsonLines(run.out)) {
        if (event.at("event") == "quality_plan") {
            plan = event;
        }
    }
    ASSERT_FALSE(plan.is_null()) << run.out;
    EXPECT_EQ(plan.at("target"), "standard");
    // Grain this heavy is what SSIM reads rather than the picture.
    EXPECT_EQ(plan.at("metric"), "ssim-under-grain");
    const double size = static_cast<double>(fs::file_size(At("grain.mkv")));
    EXPECT_NEAR(size / plan.at("predicted_size").get<double>(), 1.0, 0.35);
}

TEST_F(NorvQualityRun, BatchSharesOneBudgetAndReportsWhatItChoseAndMeasured) {
    // The total never exceeds the budget; where the files would end (or
    // ended) well below it, a file that can take more is encoded again,
    // higher.
    struct Row {
        uint64_t budget;
        bool usesMostOfIt;
        bool json;
    } rows[] = {{300000, false, false}, {150000, true, true}};
    for (const Row& row : rows) {
        const std::string out = At("out" + std::to_string(row.budget));
        const std::string reportFile = out + ".json";
        fs::create_directories(out);
        std::vector<std::string> args = {"batch", "-p", "NorvPlusHD", "-d", out, "-j", "1"};
        args.insert(args.end(), {"--report", reportFile, "--total-size", std::to_string(row.budget),
                                 At("card.mp4"), At("grain.mp4")});
        if (row.json) {
            args.insert(args.begin(), "--json");
        }
        const NorvOutput run = RunNorv(args, options_);
        ASSERT_EQ(run.status, 0) << run.err;
        std::ifstream in(reportFile);
        const nlohmann::json report = nlohmann::json::parse(in);
        ASSERT_EQ(report.at("files").size(), 2u);
        for (const nlohmann::json& f : report.at("files")) {
            const nlohmann::json& q = f.at("quality");
            EXPECT_GT(q.at("chosen_kbps").get<double>(), 0) << f;
            EXPECT_GT(q.at("predicted_worst_ssim").get<double>(), 0) << f;
            EXPECT_GT(q.at("measured_worst_ssim").get<double>(), 0) << f;
        }
        const uint64_t total = report.at("totals").at("output_bytes").get<uint64_t>();
        EXPECT_LE(total, row.budget);
        if (row.usesMostOfIt) {
            EXPECT_GE(total, 0.97 * row.budget) << run.err;
        }
        // A file encoded again still counts once, and is told done once its
        // last run has ended: once, and again only when it is topped up
        // after every file has ended.
        if (!row.json) {
            EXPECT_NE(run.err.find("2 of 2 files transcoded"), std::string::npos) << run.err;
            continue;
        }
        std::map<std::string, int> told;
        for (const nlohmann::json& e : JsonLines(run.out)) {
            if (e.value("event", "") == "file_done") {
                ++told[fs::path(e.at("output").get<std::string>()).filename().string()];
            } else if (e.value("event", "") == "batch_done") {
                EXPECT_EQ(e.at("done"), 2) << e;
            }
        }
        ASSERT_EQ(told.size(), 2u) << run.out;
        for (const auto& [output, count] : told) {
            size_t toppedUp = 0;
            for (size_t at = 0;
                 (at = run.err.find(output + ": the batch ended at", at)) != std::string::npos;
                 ++at) {
                ++toppedUp;
            }
            EXPECT_EQ(count, 1 + static_cast<int>(toppedUp)) << output << "\n" << run.err;
        }
        // Nothing kept aside outlives the batch.
        for (const auto& entry : fs::directory_iterator(out)) {
            EXPECT_NE(entry.path().extension(), ".kept") << entry.path();
        }
    }
}

#if defined(NORV_MEASURES)

// References made from source pictures decoded ahead, read again past the
// cap, or kept from the measurement before: the same scores as reading the
// source there and then.
TEST_F(NorvQualityRun, MeasuresTheSameHoweverTheSourceIsRead) {
    const std::string encoded = At("joined.mkv");
    const std::string command =
        "ffmpeg -nostdin -loglevel error -y -i '" + At("card.mp4") +
        "' -vf \"select='lt(n,25)+between(n,50,74)',setpts=N/25/TB\" -c:v libx264 -crf 40 '" +
        encoded + "'";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    const std::vector<norv::TitleFile> title = {{At("card.mp4"), 3.0}};
    std::vector<norv::Sample> samples(2);
    for (size_t k = 0; k < samples.size(); ++k) {
        samples[k].startUs = static_cast<int64_t>(k) * 2000000;
        samples[k].frames = 25;
        samples[k].seconds = 1.0;
    }
    const auto measure = [&](norv::ReferenceFrames* keep) {
        return norv::MeasureEncode(
            title, samples, encoded, norv::PictureSetup(), [](double) {}, true, keep);
    };
    const norv::FrameScores read = measure(nullptr);
    ASSERT_EQ(read.plain.size(), 50u); // every frame of each sample, its last too
    struct Row {
        const char* what;
        size_t cap;
        bool ahead;
    };
    const Row rows[] = {
        {"decoded ahead", norv::ReferenceFrames::kCap, true},
        {"decoded ahead past the cap", 200000, true},
        {"read there", norv::ReferenceFrames::kCap, false},
    };
    for (const Row& row : rows) {
        norv::ReferenceFrames references(row.cap);
        if (row.ahead) {
            references.DecodeAhead(title, samples);
        }
        for (const char* pass : {"first", "kept"}) {
            const norv::FrameScores scores = measure(&references);
            EXPECT_EQ(scores.plain, read.plain) << row.what << ", " << pass;
            EXPECT_EQ(scores.underGrain, read.underGrain) << row.what << ", " << pass;
        }
    }
    norv::ReferenceFrames abandoned;
    abandoned.DecodeAhead(title, samples); // never measured: its end waits and frees
}

#endif

#endif

} // namespace
