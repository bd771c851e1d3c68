// What this machine has measured: the rate, in output pixels per second of
// wall-clock time, at which whole transcodes ran, kept per video encoder,
// pass count, picture size class and number of transcodes run side by side
// in a small JSON file under the user's cache folder. The file is rewritten
// whole (a temporary file renamed over it), so a reader never sees half of
// it, under a lock on a file beside it, so that two processes recording at
// once both keep their records; a file that cannot be read or parsed, or
// an entry whose values are not of their types, counts as empty and is
// replaced at the next record.
#pragma once

#include <cstdint>
#include <string>

namespace norv {

struct RateKey {
    std::string encoder; ///< "mpeg4", "h264", "hevc", "copy"
    unsigned passes = 1;
    std::string sizeClass; ///< see SizeClass
    unsigned jobs = 1;     ///< transcodes run side by side, this one among them
};

/// "sd" up to 720x576, "hd" up to 1280x720, "fhd" up to 1920x1080, "uhd" above.
std::string SizeClass(uint32_t width, uint32_t height);

/// The rate file: $XDG_CACHE_HOME/norv/rates.json, else ~/.cache/norv/rates.json
/// (on Windows %LOCALAPPDATA%\norv\rates.json); empty when neither folder is known.
std::string DefaultRateFile();

struct KnownRate {
    double pixelsPerSecond = 0; ///< 0: nothing measured for the encoder and passes
    bool exact = false;         ///< measured at this picture size class too
};

class RateCache {
public:
    explicit RateCache(std::string file) : file_(std::move(file)) {}

    /// The rate for key; without one for its size class, the mean of the
    /// encoder's rates for the same passes in the neighbouring size classes
    /// (0 when neither is known). Never throws.
    KnownRate Rate(const RateKey& key) const;

    /// Folds a measured rate into the file (recent runs weigh most) and
    /// rewrites it; false when it could not be written. Never throws.
    bool Record(const RateKey& key, double pixelsPerSecond) const;

    const std::string& file() const { return file_; }

private:
    std::string file_;
};

} // namespace norv
