// The track records of an analysis, read from an opened input's streams.
#pragma once

#include <cstdint>

#include "ffmpeg.h"
#include "messages/records.h"

namespace norv_engine {

/// Whole seconds, rounded up, of a duration in FFmpeg's time base units.
unsigned CeilSeconds(int64_t duration);

/// The input's duration in FFmpeg's time base units: the container's, else
/// the longest stream's; 0 when unknown.
int64_t InputDuration(const AVFormatContext* format);

/// Clockwise degrees (0..359) the stream's pictures are turned by for
/// display, from its display matrix.
int RotationOf(const AVStream* stream);

/// A bit rate named by the stream's statistics tags ("BPS"), or 0.
int64_t TaggedBitrate(const AVStream* stream);

/// The first video stream's record. estimatedBitrate is used when neither
/// the stream nor its tags carry a bit rate.
TBS::SVideoTrack VideoTrackOf(const AVFormatContext* format, const AVStream* stream,
                              int64_t estimatedBitrate);

/// An audio stream's record, without the per-profile verdicts.
TBS::SAudioTrack AudioTrackOf(const AVFormatContext* format, const AVStream* stream);

/// A subtitle stream's record: embedded in a container, or the one track
/// of a subtitle file.
TBS::SSubtitleTrack SubtitleTrackOf(const AVFormatContext* format, const AVStream* stream,
                                    bool subtitleFile);

/// True when FFmpeg has a decoder for the stream's codec.
bool Decodable(const AVStream* stream);

} // namespace norv_engine
