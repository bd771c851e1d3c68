// When a source's stream may be copied into the output unchanged: the
// output must be able to say everything a player needs to show it as the
// source does (its turn), and every joined file must be coded alike (the
// output carries one set of codec headers for all of them).
#pragma once

#include <cstdint>
#include <set>

#include "ffmpeg.h"
#include "transcode_plan.h"

namespace norv_engine {

/// True when the container keeps a copied video stream's display matrix.
/// FFmpeg's MP4 muxer writes it into the track header; its Matroska and AVI
/// muxers keep no turn, so a turned picture copied there would show
/// sideways.
bool CarriesDisplayMatrix(Container container);

/// True when packets of other decode with the codec headers of first: the
/// same codec and codec headers (extradata), and the same picture size and
/// pixel format, or sample rate, channels and sample format.
bool CodedAlike(const AVStream* first, const AVStream* other);

/// What the joined files have in common, for copying their streams.
class JoinedCoding {
public:
    /// Starts with the first file (of size bytes), which outlives this.
    JoinedCoding(const AVFormatContext* first, uint64_t size);
    /// Adds a later file (of size bytes), compared with the first.
    void Add(const AVFormatContext* file, uint64_t size);

    /// True when every file's first video stream is coded alike.
    bool VideoAlike() const { return videoAlike_; }
    /// True when every file's audio stream of this ordinal is coded alike.
    bool AudioAlike(int ordinal) const { return unlikeAudio_.count(ordinal) == 0; }
    /// The bytes a copy of the video of every file takes, predicted from
    /// the streams' bitrates (a file whose video has none counts whole).
    uint64_t VideoBytes() const { return videoBytes_; }

private:
    void Count(const AVFormatContext* file, uint64_t size);

    const AVFormatContext* first_;
    bool videoAlike_ = true;
    std::set<int> unlikeAudio_;
    uint64_t videoBytes_ = 0;
};

} // namespace norv_engine
