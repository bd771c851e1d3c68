#include "parts/part_plan.h"

#include <algorithm>
#include <cmath>

namespace norv {

namespace {

// Timestamps closer than this are the same instant.
constexpr double kSameInstant = 1e-6;

// How the bits an encoder spends grow with how hard a stretch is: at a
// steady quality they grow more slowly than the difficulty (x264's qcomp
// of 0.6 makes this bend), so a hard stretch gets more bits, but not in
// proportion.
constexpr double kComplexityBend = 0.6;

std::vector<PartEntry> EntriesOf(const FilmScan& film, double from, double to) {
    std::vector<PartEntry> entries;
    for (const ScannedFile& file : film.files) {
        const double fileEnd = file.offset + file.length;
        if (to <= file.offset + kSameInstant || from >= fileEnd - kSameInstant) {
            continue;
        }
        PartEntry entry;
        entry.path = file.path;
        entry.fromStart = from <= file.offset + kSameInstant;
        entry.toEnd = to >= fileEnd - kSameInstant;
        entry.inpoint = entry.fromStart ? file.start : from - file.offset + file.start;
        entry.outpoint = entry.toEnd ? file.start + file.length : to - file.offset + file.start;
        entries.push_back(entry);
    }
    return entries;
}

} // namespace

std::vector<PartSpan> SplitFilm(const FilmScan& film, uint32_t count) {
    if (count == 0) {
        throw SplitError("a film is cut into one part or more");
    }
    if (film.frames.empty()) {
        throw SplitError("the film has no pictures to cut");
    }
    std::vector<size_t> cuts;
    for (size_t i = 1; i < film.frames.size(); ++i) {
        if (film.frames[i].cut) {
            cuts.push_back(i);
        }
    }
    if (cuts.size() + 1 < count) {
        throw SplitError("the film has " + std::to_string(cuts.size()) +
                         " places a part can start at (keyframes that start a closed group of "
                         "pictures): it makes at most " +
                         std::to_string(cuts.size() + 1) + " parts, not " + std::to_string(count));
    }
    const double start = film.frames.front().at;
    const double length = std::max(film.seconds - start, 0.0);
    std::vector<size_t> starts{0};
    size_t next = 0; // first cut still free
    for (uint32_t k = 1; k < count; ++k) {
        const double target = start + length * k / count;
        // Leave a cut for each part still to come.
        const size_t last = cuts.size() - (count - 1 - k);
        size_t best = next;
        for (size_t c = next; c < last; ++c) {
            if (std::fabs(film.frames[cuts[c]].at - target) <
                std::fabs(film.frames[cuts[best]].at - target)) {
                best = c;
            }
        }
        starts.push_back(cuts[best]);
        next = best + 1;
    }
    std::vector<PartSpan> parts;
    for (size_t k = 0; k < starts.size(); ++k) {
        PartSpan part;
        part.firstFrame = starts[k];
        part.endFrame = k + 1 < starts.size() ? starts[k + 1] : film.frames.size();
        part.from = film.frames[part.firstFrame].at;
        part.to = k + 1 < starts.size() ? film.frames[part.endFrame].at
                                        : std::max(film.seconds, film.frames.back().at);
        for (size_t i = part.firstFrame; i < part.endFrame; ++i) {
            part.sourceBytes += film.frames[i].bytes;
        }
        part.entries = EntriesOf(film, part.from, part.to);
        parts.push_back(part);
    }
    return parts;
}

std::vector<double> ShareBitrate(const std::vector<PartSpan>& parts, double wholeBitrate,
                                 double minBitrate, double maxBitrate) {
    const size_t n = parts.size();
    std::vector<double> seconds(n), weight(n), bitrate(n, 0.0);
    double totalBytes = 0;
    for (const PartSpan& part : parts) {
        totalBytes += static_cast<double>(part.sourceBytes);
    }
    double bits = 0;
    for (size_t k = 0; k < n; ++k) {
        seconds[k] = std::max(parts[k].to - parts[k].from, kSameInstant);
        bits += wholeBitrate * seconds[k];
        const double rate =
            totalBytes > 0 ? static_cast<double>(parts[k].sourceBytes) / seconds[k] : 1.0;
        weight[k] = std::pow(std::max(rate, 1.0), kComplexityBend) * seconds[k];
    }
    // Parts held at a bound take it; the rest share what is left, again
    // until none more is held.
    std::vector<bool> held(n, false);
    for (size_t round = 0; round <= n; ++round) {
        double freeBits = bits, freeWeight = 0;
        for (size_t k = 0; k < n; ++k) {
            if (held[k]) {
                freeBits -= bitrate[k] * seconds[k];
            } else {
                freeWeight += weight[k];
            }
        }
        bool changed = false;
        for (size_t k = 0; k < n; ++k) {
            if (held[k]) {
                continue;
            }
            bitrate[k] = freeWeight > 0 ? freeBits * weight[k] / freeWeight / seconds[k] : 0;
            if (maxBitrate > 0 && bitrate[k] > maxBitrate) {
                bitrate[k] = maxBitrate;
                held[k] = changed = true;
            } else if (bitrate[k] < minBitrate) {
                bitrate[k] = minBitrate;
                held[k] = changed = true;
            }
        }
        if (!changed) {
            break;
        }
    }
    return bitrate;
}

} // namespace norv
