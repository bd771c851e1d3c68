// How FFmpeg's codecs and formats map onto the engine's enumerations, and
// the names the engine reports them by.
#pragma once

#include <string>

#include "ffmpeg.h"
#include "norv/enums.h"

namespace norv_engine {

/// The VideoCodec of a video stream's codec: VC_Compressed for a codec the
/// enumeration does not name, VC_UNKNOWN when FFmpeg cannot decode it.
nvt::VideoCodec MapVideoCodec(AVCodecID id, bool decodable);

/// The AudioCodec of an audio stream. PCM is AC_WAV in a WAV file, AC_AIFF
/// in an AIFF file and AC_LPCM elsewhere. A decodable codec the enumeration
/// does not name is AC_DS_UNKNOWN; one FFmpeg cannot decode is AC_UNKNOWN.
nvt::AudioCodec MapAudioCodec(AVCodecID id, bool decodable, const std::string& demuxerName);

/// The name the engine reports a codec by ("H.264", "AAC", ...): its own for
/// the common codecs, FFmpeg's short name for the others.
std::string CodecDisplayName(AVCodecID id);

/// The FFmpeg codec an output AudioCodec stands for; AV_CODEC_ID_NONE for
/// one the engine does not write.
AVCodecID OutputAudioCodecId(nvt::AudioCodec codec);

/// The type of a subtitle stream inside a container. Text subtitles other
/// than SSA/ASS are reported as SRT, which they convert to without loss.
nvt::SubtitleType EmbeddedSubtitleType(AVCodecID id);

/// The type of a subtitle file read by this demuxer: SRT, SSA/ASS, SMI,
/// VobSub, or SRT for the other text formats.
nvt::SubtitleType SubtitleFileType(const std::string& demuxerName, AVCodecID id);

} // namespace norv_engine
