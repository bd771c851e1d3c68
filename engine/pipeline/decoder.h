// Opening FFmpeg's decoder for an input stream.
#pragma once

#include <string>

#include "ffmpeg.h"

namespace norv_engine {

/// Opens the decoder of a stream. threads 0 lets the codec take as many as
/// the machine has. For text subtitles, charset names the character set the
/// text is converted from (empty: none). Null (with why) when the codec has
/// no decoder or it does not open.
CodecContextPtr OpenDecoder(const AVStream* stream, int threads, const std::string& charset,
                            std::string& why);

} // namespace norv_engine
