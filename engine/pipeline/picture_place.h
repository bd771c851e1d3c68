// Where a source's picture goes in the output picture: the whole of it, or,
// when its display aspect is kept and differs from the output's, a part of
// it between bars. norv's quality measuring places its reference picture by
// the same rule.
#pragma once

extern "C" {
#include <libavutil/rational.h>
}

namespace norv_engine {

struct PicturePlace {
    int width = 0, height = 0; ///< of the scaled picture
    int x = 0, y = 0;          ///< its top-left corner
};

/// A width x height picture (after any crop) of pixel aspect frameAspect,
/// turned by quarterTurns (clockwise), in an outputWidth x outputHeight
/// picture of pixel aspect outputAspect.
PicturePlace PlacePicture(int width, int height, AVRational frameAspect, int quarterTurns,
                          int outputWidth, int outputHeight, AVRational outputAspect,
                          bool keepAspect);

} // namespace norv_engine
