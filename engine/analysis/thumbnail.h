// A thumbnail of a video: one frame from about a tenth of the way in,
// turned upright, scaled to fit a box with its display aspect kept, and
// written as the picture format the file's extension names.
#pragma once

#include <string>

#include "ffmpeg.h"
#include "stop_token.h"

namespace norv_engine {

struct ThumbnailRequest {
    std::string path;  ///< where to write it; the extension picks the format
    int maxWidth = 0;  ///< 0: no limit
    int maxHeight = 0; ///< 0: no limit
};

struct ThumbnailSize {
    int width = 0;
    int height = 0;
};

/// The size a picture of width x height with sample aspect sar, turned by
/// angle degrees clockwise, takes to fit the box of request without growing:
/// its display aspect kept, each side at least 1.
ThumbnailSize FitThumbnail(int width, int height, AVRational sar, int angle, int maxWidth,
                           int maxHeight);

/// Decodes a frame of the stream (a video stream, or a cover picture) of an
/// opened input, and writes the thumbnail. Returns its size; 0 x 0 when no
/// thumbnail was written (nothing is left behind then).
ThumbnailSize WriteThumbnail(AVFormatContext* format, int streamIndex, int angle,
                             const ThumbnailRequest& request, const StopToken& stop);

} // namespace norv_engine
