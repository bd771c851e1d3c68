// The derivation in one file, past the usual length: its steps (picture,
// bitrates, sizes, fitting to a limit) share the derivation object's state
// and read best in the order they run.
#include "derivation/settings_derivation.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <limits>

#include "output/profile_limits.h"

using nvt::FindProfileLimits;
using nvt::ProfileLimits;

namespace {

constexpr uint32_t kMaxU32 = std::numeric_limits<uint32_t>::max();

// A real value truncated toward zero into 32 bits; not-a-number and values
// below zero give 0, values beyond the range the largest value.
uint32_t TruncToU32(double value) {
    if (!(value > 0.0)) {
        return 0;
    }
    if (value >= 4294967295.0) {
        return kMaxU32;
    }
    return static_cast<uint32_t>(value);
}

uint32_t SaturateToU32(uint64_t value) {
    return value > kMaxU32 ? kMaxU32 : static_cast<uint32_t>(value);
}

// a - b, or 0 when b exceeds a: a shortfall is no budget, not a huge one.
uint64_t SubtractOrZero(uint64_t a, uint64_t b) {
    return a > b ? a - b : 0;
}

// Profiles whose encoders take a pixel aspect, so that a non-square source
// pixel changes the picture the bitrates are computed for.
bool UsesPixelAspect(int32_t profile) {
    switch (profile) {
    case nvt::NP_NorvPlusHD:
    case nvt::NP_NorvPlus4K_MP4:
    case nvt::NP_NorvPlus4K_MKV:
    case nvt::NP_HEVC720:
    case nvt::NP_HEVC1080:
    case nvt::NP_HEVC4K:
        return true;
    default:
        return false;
    }
}

// Output size in bytes of a bitrate sum (1 kbps = 1024 bits per second here)
// over a duration, plus the fixed extra bytes.
uint64_t SizeOf(uint64_t kbpsSum, uint32_t durationSeconds, uint64_t extraBytes) {
    return (kbpsSum * durationSeconds * 1024) / 8 + extraBytes;
}

// Empties the result, keeping the audio vector's storage for the next call.
void ResetResult(SettingsResult& result) {
    std::vector<uint32_t> audio;
    audio.swap(result.audioKbps);
    audio.clear();
    result = SettingsResult();
    result.audioKbps.swap(audio);
}

} // namespace

// ---- bit vector -------------------------------------------------------------

void BitVector::Assign(std::size_t count, bool value) {
    count_ = count;
    words_.assign((count + 31) / 32, value ? ~0u : 0u);
    if (value && count % 32 != 0) {
        words_.back() &= (1u << (count % 32)) - 1;
    }
}

void BitVector::Set(std::size_t i, bool value) {
    if (i >= count_) {
        return;
    }
    const uint32_t mask = 1u << (i % 32);
    if (value) {
        words_[i / 32] |= mask;
    } else {
        words_[i / 32] &= ~mask;
    }
}

bool BitVector::Any() const {
    return std::any_of(words_.begin(), words_.end(), [](uint32_t w) { return w != 0; });
}

// ---- common steps -----------------------------------------------------------

void CTranscodeSettings::ReduceFraction(uint32_t& a, uint32_t& b) {
    if (a == 0 || b == 0) {
        return;
    }
    uint32_t x = a;
    uint32_t y = b;
    while (y != 0) {
        const uint32_t r = x % y;
        x = y;
        y = r;
    }
    a /= x;
    b /= x;
}

RationalNumber CTranscodeSettings::Rationalize(double x, uint32_t maxDen, double eps) {
    // Numerators must stay exact integers in a double and in 64 bits.
    if (!std::isfinite(x) || std::fabs(x) * maxDen >= 4503599627370496.0) {
        return RationalNumber{};
    }
    for (uint32_t den = 1; den < maxDen; ++den) {
        const double d = x * den;
        const double candidates[] = {std::trunc(d + 0.5), std::trunc(d), std::trunc(d + 1.0)};
        for (double c : candidates) {
            if (std::fabs(c - d) < eps) {
                return RationalNumber{static_cast<int64_t>(c), static_cast<int64_t>(den)};
            }
        }
    }
    return RationalNumber{};
}

uint32_t CTranscodeSettings::ToKbps(uint32_t bps) {
    return static_cast<uint32_t>(std::trunc(bps / 1000.0 + 0.5));
}

uint32_t CTranscodeSettings::RoundTo50(uint32_t v) {
    const uint32_t r = v % 50;
    if (r != 0) {
        v -= r;
        if (r >= 25 && v <= kMaxU32 - 50) {
            v += 50;
        }
    }
    return v < 50 ? 50 : v;
}

int CTranscodeSettings::AudioStep(uint32_t v) {
    const auto& steps = nvt::SelectableAudioBitratesKbps();
    for (std::size_t i = 0; i < steps.size(); ++i) {
        if (steps[i] == v) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

int CTranscodeSettings::NearestAudioStep(uint32_t v) {
    const auto& steps = nvt::SelectableAudioBitratesKbps();
    int best = 0;
    uint32_t bestDistance = kMaxU32;
    for (std::size_t i = 0; i < steps.size(); ++i) {
        const uint32_t distance = v > steps[i] ? v - steps[i] : steps[i] - v;
        if (distance < bestDistance) { // strictly: the lower step wins a tie
            best = static_cast<int>(i);
            bestDistance = distance;
        }
    }
    return best;
}

// ---- derivation -------------------------------------------------------------

bool DeriveTranscodeSettings(const SourceSummary& source, const SettingsRequest& request,
                             SettingsResult& result) {
    CTranscodeSettings settings(source, request, result);
    return settings.Derive();
}

bool CTranscodeSettings::Derive() {
    ResetResult(result_);
    pixelAspectPending_ = false;
    if (!CheckPreconditions()) {
        return false;
    }
    if (!ComputePicture()) {
        ResetResult(result_);
        return false;
    }
    ComputeVideoBitrates();
    ComputeAudioBitrates();
    ComputeSizes();
    return true;
}

bool CTranscodeSettings::CheckPreconditions() const {
    const SourceSummary& s = source_;
    const SettingsRequest& r = request_;
    return s.durationSeconds != 0 && s.totalFileSize != 0 && (s.width == 0) == (s.height == 0) &&
           s.frameRate != 0.0f && !s.videoKbps.empty() && r.profile >= 0 &&
           r.profile < nvt::_NP_count_ && (!r.trickPlay.Any() || r.profile == nvt::NP_NorvPlusHD) &&
           (r.width == 0) == (r.height == 0) && r.audioTracks.Count() == r.audioKbps.size() &&
           r.audioKbps.size() == r.audioPassthrough.Count() &&
           r.videoTracks.Count() == r.videoPassthrough.Count();
}

bool CTranscodeSettings::ComputePicture() {
    uint32_t sw = source_.width;
    uint32_t sh = source_.height;
    ReduceFraction(sw, sh);
    const double displayAspect = source_.displayAspect;
    // Without a picture or a display aspect there is no pixel aspect.
    if (sw == 0 || sh == 0 || !(displayAspect > 0.0) || !std::isfinite(displayAspect)) {
        return false;
    }
    const RationalNumber display = Rationalize(displayAspect);
    if (display.num <= 0 || display.den <= 0 || display.num > kMaxU32) {
        return false; // an aspect too small (or too large) to express
    }
    pixelAspect_ = displayAspect / (static_cast<double>(sw) / static_cast<double>(sh));
    pixelAspectFraction_ = Rationalize(pixelAspect_);

    result_.aspectNum = static_cast<uint32_t>(display.num);
    result_.aspectDen = static_cast<uint32_t>(display.den);
    if (UsesPixelAspect(request_.profile) && pixelAspect_ != 1.0) {
        pixelAspectPending_ = true;
    }

    uint32_t w0 = request_.width != 0 ? request_.width : source_.width;
    uint32_t h0 = request_.height != 0 ? request_.height : source_.height;
    uint32_t aw = result_.aspectNum;
    uint32_t ah = result_.aspectDen;
    ReduceFraction(aw, ah);

    const ProfileLimits* row = FindProfileLimits(request_.profile, source_.frameRate);
    if (row == nullptr) {
        return false;
    }
    nvt::AlignToProfile(row, w0, h0);
    const uint64_t minWidth = static_cast<uint32_t>(row->minWidth);
    const uint64_t minHeight = static_cast<uint32_t>(row->minHeight);
    const uint64_t maxWidth = static_cast<uint32_t>(row->maxWidth);
    const uint64_t maxHeight = static_cast<uint32_t>(row->maxHeight);
    const uint64_t cw = std::min(std::max<uint64_t>(w0, minWidth), maxWidth);
    const uint64_t ch = std::min(std::max<uint64_t>(h0, minHeight), maxHeight);

    // Picture products are taken in 64 bits: a large requested size times
    // an aspect numerator must not wrap around.
    uint64_t width = 0;
    uint64_t height = 0;
    const auto heightLeads = [&] {
        width = uint64_t{h0} * aw / ah;
        height = h0;
        if (width > maxWidth) {
            width = maxWidth;
            height = maxWidth * ah / aw;
        }
    };
    if (!request_.keepAspect) {
        width = cw;
        height = ch;
    } else if (cw != w0 || ch != h0 || request_.heightFirst) {
        heightLeads();
    } else if (request_.widthFirst) {
        height = uint64_t{w0} * ah / aw;
        width = w0;
        if (height > maxHeight) {
            height = maxHeight;
            width = maxHeight * aw / ah;
        }
    } else if (uint64_t{w0} * ah == uint64_t{h0} * aw) {
        width = w0;
        height = h0;
    } else {
        heightLeads();
    }
    uint32_t outWidth = SaturateToU32(width);
    uint32_t outHeight = SaturateToU32(height);
    nvt::AlignToProfile(row, outWidth, outHeight);
    result_.width = outWidth;
    result_.height = outHeight;

    if (request_.trickPlay.Any()) {
        uint64_t tw = std::max<uint64_t>(outWidth >> 1, 160);
        uint64_t th = std::max<uint64_t>(outHeight >> 1, 120);
        if (request_.keepAspect && aw != ah) {
            if (aw > ah) {
                tw = th * aw / ah;
            } else {
                th = tw * ah / aw;
            }
        }
        uint32_t trickWidth = SaturateToU32(tw);
        uint32_t trickHeight = SaturateToU32(th);
        nvt::AlignToProfile(row, trickWidth, trickHeight);
        result_.trickWidth = trickWidth;
        result_.trickHeight = trickHeight;
    }
    return true;
}

void CTranscodeSettings::ComputeVideoBitrates() {
    uint32_t w = result_.width;
    uint32_t h = result_.height;
    if (pixelAspectPending_) {
        pixelAspectPending_ = false;
        const RationalNumber& p = pixelAspectFraction_;
        if (request_.keepAspect && !(p.num == 1 && p.den == 1)) {
            // Stretch the picture to square pixels. An unusable fraction
            // saturates; the bitrate rules clamp the picture to the profile.
            const double pn = static_cast<double>(p.num);
            const double pd = static_cast<double>(p.den);
            if (pixelAspect_ > 1.0) {
                w = TruncToU32(std::trunc(w * pn / pd));
            } else {
                h = TruncToU32(std::trunc(h * pd / pn));
            }
        }
    }
    const int32_t profile = request_.profile;
    const double frameRate = source_.frameRate;
    result_.videoMaxKbps = RoundTo50(ToKbps(nvt::MaxVideoBitrate(profile, w, h, frameRate)));
    result_.videoMinKbps = ToKbps(nvt::kMinVideoBitrate);
    result_.videoKbps = RoundTo50(ToKbps(nvt::DefaultVideoBitrate(profile, w, h, frameRate)));
    if (request_.honourVideoBitrate && result_.videoMinKbps <= request_.videoKbps &&
        request_.videoKbps <= result_.videoMaxKbps) {
        result_.videoKbps = request_.videoKbps;
    }

    if (request_.trickPlay.Any()) {
        // The trick-play track is a small, slow stream: the mobile rules at
        // five frames per second, whatever the output profile.
        constexpr double kTrickFrameRate = 5.0;
        const uint32_t tw = result_.trickWidth;
        const uint32_t th = result_.trickHeight;
        result_.trickMaxKbps =
            ToKbps(nvt::MaxVideoBitrate(nvt::NP_Mobile, tw, th, kTrickFrameRate));
        result_.trickMinKbps = ToKbps(nvt::kMinVideoBitrate);
        result_.trickKbps =
            ToKbps(nvt::DefaultVideoBitrate(nvt::NP_Mobile, tw, th, kTrickFrameRate));
    }
}

void CTranscodeSettings::ComputeAudioBitrates() {
    if (source_.audioKbps.empty()) {
        return;
    }
    const ProfileLimits* row = FindProfileLimits(request_.profile, source_.frameRate);
    result_.audioMinKbps = nvt::MinAudioBitrateKbps(row);
    result_.audioMaxKbps = nvt::MaxAudioBitrateKbps(row);
    const uint32_t byDefault = nvt::DefaultAudioBitrateKbps(row);
    const std::size_t count = request_.audioTracks.Count();
    result_.audioKbps.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        uint32_t v = request_.audioKbps[i];
        if (v < result_.audioMinKbps || v > result_.audioMaxKbps) {
            v = byDefault;
        }
        result_.audioKbps.push_back(v);
    }
}

void CTranscodeSettings::ComputeSizes() {
    uint64_t trickSum = 0;
    for (std::size_t i = 0; i < request_.trickPlay.Count(); ++i) {
        if (request_.trickPlay.Get(i)) {
            trickSum +=
                result_.trickKbps < result_.videoKbps ? result_.trickKbps : result_.trickMinKbps;
        }
    }

    uint64_t videoSum = 0;
    uint64_t videoMinSum = 0;
    for (std::size_t i = 0; i < request_.videoTracks.Count(); ++i) {
        if (!request_.videoTracks.Get(i)) {
            continue;
        }
        if (i < source_.videoKbps.size() && request_.videoPassthrough.Get(i)) {
            videoSum += source_.videoKbps[i];
        } else {
            videoSum += result_.videoKbps;
        }
        videoMinSum += result_.videoMinKbps;
    }

    uint64_t audioSum = 0;
    uint64_t passSum = 0;
    uint64_t audioMinSum = 0;
    for (std::size_t i = 0; i < request_.audioTracks.Count(); ++i) {
        if (!request_.audioTracks.Get(i)) {
            continue;
        }
        if (i < source_.audioKbps.size() && request_.audioPassthrough.Get(i)) {
            audioSum += source_.audioKbps[i];
            passSum += source_.audioKbps[i];
        } else if (i < result_.audioKbps.size()) {
            audioSum += result_.audioKbps[i];
        }
        audioMinSum += result_.audioMinKbps;
    }

    uint64_t extraKiB = 0;
    for (uint32_t kib : source_.extraKiB) {
        extraKiB += kib;
    }
    const uint64_t extraBytes = 1024 * extraKiB;
    const uint32_t duration = source_.durationSeconds;
    result_.estimatedSize = SizeOf(videoSum + audioSum + trickSum, duration, extraBytes);
    result_.minimumSize = SizeOf(videoMinSum + audioMinSum + trickSum, duration, extraBytes);

    if (request_.fitToFileSize && result_.estimatedSize != request_.fileSizeLimit) {
        FitToFileSize(videoMinSum, passSum, audioSum, trickSum, extraBytes);
    }
}

void CTranscodeSettings::FitToFileSize(uint64_t videoMinSum, uint64_t passSum, uint64_t audioSum,
                                       uint64_t trickSum, uint64_t extraBytes) {
    const uint64_t limit = request_.fileSizeLimit;
    const uint32_t duration = source_.durationSeconds;
    // (bytes * 8 / 1024) kbps-seconds, without the overflow of bytes * 8.
    const uint64_t availKbps = SubtractOrZero(limit, extraBytes) / 128 / duration;
    if (availKbps < videoMinSum + passSum + trickSum) {
        result_.sizeLimitUnreachable = true;
    }
    // An unreachable limit leaves passthrough audio out of the budget.
    const uint64_t pass = result_.sizeLimitUnreachable ? 0 : passSum;
    const uint64_t remaining = SubtractOrZero(SubtractOrZero(availKbps, pass), trickSum);
    const bool tooBig = result_.estimatedSize > limit;

    // The number of audio tracks whose bitrate is traded against video.
    std::vector<uint32_t>& audio = result_.audioKbps;
    uint64_t n = 0;
    if (pass == 0) {
        n = source_.audioKbps.size();
    } else if (audioSum != pass) {
        const uint32_t byDefault =
            nvt::DefaultAudioBitrateKbps(FindProfileLimits(request_.profile, source_.frameRate));
        n = static_cast<uint64_t>(std::count(audio.begin(), audio.end(), byDefault));
    }

    const int lo = AudioStep(result_.audioMinKbps);
    const int hi = AudioStep(result_.audioMaxKbps);
    if (lo < 0 || hi < 0) {
        return; // no audio range to trade in
    }
    const auto& steps = nvt::SelectableAudioBitratesKbps();
    const std::size_t tracks = std::min(request_.audioTracks.Count(), audio.size());
    for (std::size_t k = 0; k < tracks; ++k) {
        const int p = NearestAudioStep(audio[k]);
        if (tooBig) {
            if (p < lo) {
                audio[k] = 0;
                continue;
            }
            // The highest audio step, not above the current one, that still
            // leaves the minimum video bitrate.
            int chosen = -1;
            for (int s = p; s >= lo; --s) {
                const uint64_t cost = n * steps[s];
                if (cost + result_.videoMinKbps <= remaining) {
                    chosen = s;
                    result_.videoKbps = SaturateToU32(remaining - cost);
                    result_.estimatedSize = limit;
                    break;
                }
            }
            audio[k] = steps[chosen >= 0 ? chosen : lo];
        } else {
            // The lowest audio step, not below the current one, with which
            // the video bitrate can take up the rest of the budget.
            int chosen = -1;
            if (p <= hi) {
                for (int s = p; s <= hi; ++s) {
                    const uint64_t cost = n * steps[s];
                    if (cost + result_.videoMaxKbps >= remaining) {
                        chosen = s;
                        result_.videoKbps = SaturateToU32(SubtractOrZero(remaining, cost));
                        break;
                    }
                }
            }
            if (chosen < 0) {
                chosen = hi;
                result_.videoKbps = result_.videoMaxKbps;
            }
            uint64_t audioTotal = 0;
            if (n != 0) {
                for (uint32_t v : audio) {
                    audioTotal += v;
                }
            }
            result_.estimatedSize =
                SizeOf(result_.videoKbps + pass + trickSum + audioTotal, duration, extraBytes);
            audio[k] = steps[chosen];
        }
    }
}

namespace nvt {

uint32_t KbpsOf(double bitsPerSecond) {
    const double kib = bitsPerSecond / 1024.0;
    const double whole = std::trunc(kib);
    return TruncToU32(whole) + (kib - whole > 0.25 ? 1 : 0);
}

void FillUnknownBitrates(SourceSummary& summary, std::size_t videoTrackCount,
                         std::size_t selectedAudioCount) {
    const uint64_t duration = summary.durationSeconds;
    // ((size * 8) / duration) >> 10, without the overflow of size * 8.
    const uint64_t total =
        duration == 0 || summary.totalFileSize == 0 ? 0 : summary.totalFileSize / (128 * duration);
    uint64_t video = 0;
    for (uint32_t v : summary.videoKbps) {
        video += v;
    }
    uint64_t audio = 0;
    for (uint32_t a : summary.audioKbps) {
        audio += a;
    }
    uint64_t extraKiB = 0;
    for (uint32_t e : summary.extraKiB) {
        extraKiB += e;
    }
    const uint64_t extra = duration == 0 ? 0 : 8 * extraKiB / duration;
    const uint64_t left = SubtractOrZero(std::min<uint64_t>(total, kMaxU32), extra);
    if (video == 0 && videoTrackCount != 0) {
        const uint32_t each = SaturateToU32(SubtractOrZero(left, audio) / videoTrackCount);
        std::fill(summary.videoKbps.begin(), summary.videoKbps.end(), each);
    } else if (audio == 0 && selectedAudioCount != 0) {
        const uint32_t each = SaturateToU32(SubtractOrZero(left, video) / selectedAudioCount);
        std::fill(summary.audioKbps.begin(), summary.audioKbps.end(), each);
    }
}

uint32_t EstimateTranscodeSeconds(uint64_t totalDurationMs, uint32_t width, uint32_t height,
                                  double frameRate) {
    // The engine's throughput model: 1.5 units per output pixel and frame,
    // 10 368 000 units per second of work.
    const double seconds = static_cast<double>(totalDurationMs / 1000);
    const uint32_t pixels = width * height;
    const double factor = static_cast<double>(pixels) * frameRate * 1.5 / 10368000.0;
    return TruncToU32(std::trunc(seconds * factor));
}

} // namespace nvt
