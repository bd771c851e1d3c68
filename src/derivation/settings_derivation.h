// Derivation of a transcode's effective output (picture, aspect, bitrates,
// trick-play track, expected and minimum size, fitting to a size limit) from
// a summary of the source and the user's wishes. The library's preview and
// the engine's plan both run it, so that the output is what was previewed;
// each side prepares its inputs (session/derivation_inputs.h).
//
// The derivation itself is pure computation over plain records: no engine,
// no I/O, no allocation other than the result's audio vector. It is cheap
// enough to run every time the host changes a setting.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "norv/enums.h"

/// A counted sequence of flags, packed into 32-bit words; bit i is flag i.
class BitVector {
public:
    BitVector() = default;
    /// count flags, each set to value.
    BitVector(std::size_t count, bool value) { Assign(count, value); }

    void Assign(std::size_t count, bool value);
    std::size_t Count() const { return count_; }
    /// Flag i; false at or beyond the count.
    bool Get(std::size_t i) const { return i < count_ && ((words_[i / 32] >> (i % 32)) & 1u) != 0; }
    /// Sets flag i; ignored at or beyond the count.
    void Set(std::size_t i, bool value);
    /// True when any flag is set.
    bool Any() const;

private:
    std::size_t count_ = 0;
    std::vector<uint32_t> words_;
};

/// What the derivation needs of the source. Bitrates in kbps, sizes in bytes.
struct SourceSummary {
    uint32_t durationSeconds = 0;
    uint64_t totalFileSize = 0; ///< first source plus every extra source
    uint32_t width = 0;
    uint32_t height = 0;
    float frameRate = 0.0f;
    double displayAspect = 0.0;      ///< displayed width over displayed height
    std::vector<uint32_t> videoKbps; ///< one per source video track
    std::vector<uint32_t> audioKbps; ///< one per selected audio track that could be read
    std::vector<uint32_t> extraKiB;  ///< one per selected subtitle: bytes it adds, in KiB
};

/// The user's wishes. Bitrates in kbps, sizes in bytes.
struct SettingsRequest {
    uint32_t width = 0; ///< 0 and 0: the source's picture
    uint32_t height = 0;
    uint64_t fileSizeLimit = 0;
    uint32_t videoKbps = 0;
    std::vector<uint32_t> audioKbps; ///< one per selected audio track
    nvt::NorvProfile profile = nvt::NP_Mobile;
    BitVector videoTracks;      ///< one per source video track
    BitVector audioTracks;      ///< one per selected audio track
    BitVector subtitleTracks;   ///< one per selected subtitle (not read by the derivation)
    BitVector trickPlay;        ///< one per source video track
    BitVector audioPassthrough; ///< one per selected audio track
    BitVector videoPassthrough; ///< one per source video track
    bool keepAspect = false;
    bool heightFirst = false;
    bool widthFirst = false;
    bool honourVideoBitrate = false;
    bool fitToFileSize = false;
};

/// The derived output. Bitrates in kbps, sizes in bytes.
struct SettingsResult {
    uint32_t videoMaxKbps = 0;
    uint32_t videoMinKbps = 0;
    uint32_t videoKbps = 0;
    uint32_t audioMaxKbps = 0;
    uint32_t audioMinKbps = 0;
    std::vector<uint32_t> audioKbps; ///< one per selected audio track
    uint32_t trickMaxKbps = 0;
    uint32_t trickMinKbps = 0;
    uint32_t trickKbps = 0;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t trickWidth = 0;
    uint32_t trickHeight = 0;
    uint64_t estimatedSize = 0;
    uint64_t minimumSize = 0;
    bool sizeLimitUnreachable = false;
    uint32_t aspectNum = 0;
    uint32_t aspectDen = 0;
};

/// A rational approximation; (-1, -1) when none was found.
struct RationalNumber {
    int64_t num = -1;
    int64_t den = -1;
    bool operator==(const RationalNumber& o) const { return num == o.num && den == o.den; }
};

/// One derivation over the caller's three records. Lives for one call.
class CTranscodeSettings {
public:
    CTranscodeSettings(const SourceSummary& source, const SettingsRequest& request,
                       SettingsResult& result)
        : source_(source), request_(request), result_(result) {}
    virtual ~CTranscodeSettings() = default;
    CTranscodeSettings(const CTranscodeSettings&) = delete;
    CTranscodeSettings& operator=(const CTranscodeSettings&) = delete;

    /// Resets the result, checks the inputs and runs every step. False, with
    /// the result reset, when the inputs are not usable.
    bool Derive();

    /// Divides both by their greatest common divisor; unchanged when either
    /// is 0.
    static void ReduceFraction(uint32_t& a, uint32_t& b);
    /// The fraction with the smallest denominator below maxDen that is within
    /// eps of x; (-1, -1) when there is none or x is not a finite number.
    static RationalNumber Rationalize(double x, uint32_t maxDen = 10000, double eps = 0.001);
    /// Bits per second to kbps, rounded to nearest.
    static uint32_t ToKbps(uint32_t bps);
    /// Rounds to the nearest multiple of 50 (halves up), at least 50.
    static uint32_t RoundTo50(uint32_t v);
    /// Position of v among the selectable audio bitrates, or -1.
    static int AudioStep(uint32_t v);
    /// Position of the selectable audio bitrate nearest to v, the lower one
    /// on a tie.
    static int NearestAudioStep(uint32_t v);

private:
    bool CheckPreconditions() const;
    bool ComputePicture();
    void ComputeVideoBitrates();
    void ComputeAudioBitrates();
    void ComputeSizes();
    void FitToFileSize(uint64_t videoMinSum, uint64_t passSum, uint64_t audioSum, uint64_t trickSum,
                       uint64_t extraBytes);

    const SourceSummary& source_;
    const SettingsRequest& request_;
    SettingsResult& result_;
    bool pixelAspectPending_ = false;
    // Carried from the picture step to the video bitrate step.
    double pixelAspect_ = 1.0;
    RationalNumber pixelAspectFraction_{1, 1};
};

/// Derives the output for source and request into result. False, with the
/// result reset, when the inputs are not usable.
bool DeriveTranscodeSettings(const SourceSummary& source, const SettingsRequest& request,
                             SettingsResult& result);

namespace nvt {

/// kbps of a bitrate in bits per second: whole KiB per second, plus one when
/// the remainder exceeds a quarter.
uint32_t KbpsOf(double bitsPerSecond);

/// Replaces unknown (zero) source bitrates by what the file size leaves for
/// them: all video entries when their sum is 0 and there are video tracks,
/// otherwise all audio entries when their sum is 0 and audio tracks were
/// selected. A shortfall counts as 0.
void FillUnknownBitrates(SourceSummary& summary, std::size_t videoTrackCount,
                         std::size_t selectedAudioCount);

/// Expected transcode time in seconds for an output picture and the source
/// frame rate over totalDurationMs.
uint32_t EstimateTranscodeSeconds(uint64_t totalDurationMs, uint32_t width, uint32_t height,
                                  double frameRate);

} // namespace nvt
