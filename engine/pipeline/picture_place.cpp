#include "picture_place.h"

#include <algorithm>
#include <cmath>

namespace norv_engine {

namespace {

// A picture whose sides differ from the output's by at most this share
// fills it (stretched a little) rather than leaving bars a few pixels wide.
constexpr double kFillTolerance = 0.02;

// The nearest even number to value, within 2..limit.
int EvenWithin(double value, int limit) {
    const int even = static_cast<int>(value / 2.0 + 0.5) * 2;
    return std::max(2, std::min(even, limit));
}

} // namespace

PicturePlace PlacePicture(int w, int h, AVRational frameAspect, int quarterTurns, int outputWidth,
                          int outputHeight, AVRational outputAspect, bool keepAspect) {
    const PicturePlace fill{outputWidth, outputHeight, 0, 0};
    if (!keepAspect || w <= 0 || h <= 0 || outputWidth <= 0 || outputHeight <= 0 ||
        outputAspect.num <= 0 || outputAspect.den <= 0 || frameAspect.num <= 0 ||
        frameAspect.den <= 0) {
        return fill;
    }
    // Display aspect of the frames' picture, and of the output picture.
    double picture =
        static_cast<double>(w) * frameAspect.num / (static_cast<double>(h) * frameAspect.den);
    if (((quarterTurns % 4) + 4) % 2 == 1) {
        picture = 1.0 / picture;
    }
    const double output = static_cast<double>(outputWidth) * av_q2d(outputAspect) / outputHeight;
    if (std::abs(picture / output - 1.0) <= kFillTolerance) {
        return fill;
    }
    PicturePlace p = fill;
    if (picture > output) { // wider: bars above and below
        p.height = EvenWithin(outputHeight * output / picture, outputHeight);
        p.y = ((outputHeight - p.height) / 2) & ~1;
    } else { // narrower: bars left and right
        p.width = EvenWithin(outputWidth * picture / output, outputWidth);
        p.x = ((outputWidth - p.width) / 2) & ~1;
    }
    return p;
}

} // namespace norv_engine
