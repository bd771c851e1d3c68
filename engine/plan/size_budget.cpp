#include "size_budget.h"

#include <algorithm>
#include <cstring>

namespace norv_engine {

namespace {

// The container's own bytes per packet and once per file, as measured on
// this engine's outputs (AVI: chunk header, index entry and padding;
// Matroska: block header and its share of clusters and cues; MP4: sample
// tables).
struct ContainerCost {
    double perPacket;
    double fixed;
};

ContainerCost CostOf(Container container) {
    switch (container) {
    case Container::Avi:
        return {24.5, 8192};
    case Container::Mp4:
        return {10.0, 1500};
    case Container::Matroska:
    default:
        return {11.0, 1500};
    }
}

// Packets per second of an encoded audio track, and of a copied one.
constexpr double kEncodedAudioPackets = 48000.0 / 1024.0;
constexpr double kCopiedAudioPackets = 48000.0 / 1536.0;
// A copied track whose bitrate is unknown is taken as this (bits per second).
constexpr double kUnknownAudioBitrate = 192000.0;
// The lowest video bitrate of any profile, bits per second.
constexpr int64_t kFloorBitrate = 1000;

double AudioBytes(const AudioPlan& a, double seconds) {
    const double bitrate =
        a.copy ? (a.sourceBitrate > 0 ? static_cast<double>(a.sourceBitrate) : kUnknownAudioBitrate)
               : static_cast<double>(a.bitrate);
    return bitrate / 8.0 * seconds;
}

double OtherPackets(const TranscodePlan& plan, double seconds, bool withTrick) {
    double packets = 0.0;
    for (const AudioPlan& a : plan.audio) {
        packets += seconds * (a.copy ? kCopiedAudioPackets : kEncodedAudioPackets);
    }
    if (withTrick && plan.video.trick) {
        packets += seconds * av_q2d(plan.video.trickChain.frameRate);
    }
    return packets;
}

} // namespace

OtherCosts PredictCosts(const TranscodePlan& plan) {
    OtherCosts c;
    c.seconds = plan.durationSeconds;
    for (const AudioPlan& a : plan.audio) {
        const auto bytes = static_cast<uint64_t>(AudioBytes(a, c.seconds));
        c.audioBytes += bytes;
        if (a.extra) {
            c.extraAudioBytes += bytes;
        }
    }
    if (plan.video.trick) {
        c.trickBytes = static_cast<uint64_t>(plan.video.trickBitrate / 8.0 * c.seconds);
    }
    c.subtitleBytes = plan.size.extraBytes;
    const ContainerCost cost = CostOf(plan.container);
    const double packets =
        c.seconds * av_q2d(plan.video.frameRate) + OtherPackets(plan, c.seconds, true);
    c.containerBytes = static_cast<uint64_t>(cost.fixed + cost.perPacket * packets);
    return c;
}

OtherCosts MeasuredCosts(const TranscodePlan& plan, const PassFigures& first) {
    OtherCosts c = PredictCosts(plan);
    if (first.seconds > 0.0) {
        c.seconds = first.seconds;
        c.extraAudioBytes = 0;
        for (const AudioPlan& a : plan.audio) {
            if (a.extra) {
                c.extraAudioBytes += static_cast<uint64_t>(AudioBytes(a, c.seconds));
            }
        }
        if (plan.video.trick) {
            c.trickBytes = static_cast<uint64_t>(plan.video.trickBitrate / 8.0 * c.seconds);
        }
    }
    c.audioBytes = first.audioBytes;
    if (first.size > first.payload && first.packets > 0) {
        // The first pass had no trick-play packets: they cost what the
        // others did.
        const double measured = static_cast<double>(first.size - first.payload);
        const double perPacket = measured / static_cast<double>(first.packets);
        const double trickPackets =
            plan.video.trick ? c.seconds * av_q2d(plan.video.trickChain.frameRate) : 0.0;
        c.containerBytes = static_cast<uint64_t>(measured + perPacket * trickPackets);
    }
    return c;
}

uint64_t TargetBytes(const TranscodePlan& plan, const OtherCosts& costs) {
    const SizeTarget& s = plan.size;
    const double promisedKbps = static_cast<double>(s.videoKbps) +
                                static_cast<double>(s.audioKbps) + static_cast<double>(s.trickKbps);
    // A kbps of the preview is 1024 bits per second: 128 bytes.
    const double promised = promisedKbps * 128.0 * costs.seconds +
                            static_cast<double>(s.extraBytes + costs.extraAudioBytes);
    if (s.sizeLimit == 0) {
        return static_cast<uint64_t>(promised);
    }
    const double limited = static_cast<double>(s.sizeLimit) * kLimitMargin;
    // A preview fitted to the limit fills it; one that stayed below keeps
    // its own figure.
    return static_cast<uint64_t>(s.estimatedSize >= s.sizeLimit ? limited
                                                                : std::min(promised, limited));
}

int64_t VideoBitrate(const TranscodePlan& plan, const OtherCosts& costs) {
    const VideoPlan& v = plan.video;
    if (costs.seconds <= 0.0) {
        return std::max(v.bitrate, kFloorBitrate);
    }
    const double others = static_cast<double>(costs.audioBytes + costs.trickBytes +
                                              costs.subtitleBytes + costs.containerBytes);
    const double video = static_cast<double>(TargetBytes(plan, costs)) - others;
    const auto bitrate = static_cast<int64_t>(video * 8.0 / costs.seconds);
    const int64_t ceiling = v.maxBitrate > 0 ? v.maxBitrate : v.bitrate;
    return std::clamp(bitrate, std::max(kFloorBitrate, v.minBitrate),
                      std::max(kFloorBitrate, ceiling));
}

int64_t BitrateAtLimit(const TranscodePlan& plan, const OtherCosts& costs) {
    const double others = static_cast<double>(costs.audioBytes + costs.trickBytes +
                                              costs.subtitleBytes + costs.containerBytes);
    const double room = static_cast<double>(plan.size.sizeLimit) - others;
    if (plan.size.sizeLimit == 0 || room <= 0.0 || costs.seconds <= 0.0) {
        return 0;
    }
    return static_cast<int64_t>(room * 8.0 / costs.seconds);
}

bool CopyFits(const TranscodePlan& plan) {
    const OtherCosts c = PredictCosts(plan);
    const uint64_t total =
        plan.video.copiedBytes + c.audioBytes + c.trickBytes + c.subtitleBytes + c.containerBytes;
    return total <= plan.size.requestedLimit;
}

int64_t ReducedVideoBitrate(const TranscodePlan& plan, int64_t bitrate,
                            const PassFigures& written) {
    const double limit = static_cast<double>(plan.size.sizeLimit) * kLimitMargin;
    const double others = static_cast<double>(written.size - written.videoBytes);
    const double video = static_cast<double>(written.videoBytes);
    if (video <= 0.0) {
        return bitrate;
    }
    // A little under the share that would have fitted.
    const double scale = std::max(0.1, (limit - others) / video) * 0.98;
    return std::max(kFloorBitrate, static_cast<int64_t>(static_cast<double>(bitrate) * scale));
}

} // namespace norv_engine
