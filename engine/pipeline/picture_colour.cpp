#include "picture_colour.h"

#include <cmath>

namespace norv_engine {

namespace {

// Pictures wider or taller than PAL's 1024x576 (square-pixel 16:9) are HD.
bool IsHd(int width, int height) {
    return width > 1024 || height > 576;
}

// The 625-line family (PAL/SECAM: 576 or 288 lines, 25 or 50 frames per
// second) rather than the 525-line one (NTSC).
bool Is625Lines(int height, AVRational frameRate) {
    if (height == 576 || height == 288) {
        return true;
    }
    if (height == 480 || height == 486 || height == 240) {
        return false;
    }
    const double rate = frameRate.num > 0 && frameRate.den > 0 ? av_q2d(frameRate) : 25.0;
    const double perTwelveAndHalf = rate / 12.5;
    return std::fabs(perTwelveAndHalf - std::round(perTwelveAndHalf)) < 0.01;
}

bool IsSdMatrix(AVColorSpace matrix) {
    return matrix == AVCOL_SPC_BT470BG || matrix == AVCOL_SPC_SMPTE170M;
}

AVColorSpace SdMatrix(int height, AVRational frameRate) {
    return Is625Lines(height, frameRate) ? AVCOL_SPC_BT470BG : AVCOL_SPC_SMPTE170M;
}

} // namespace

bool IsHighDynamicRange(const PictureColour& colour) {
    return colour.transfer == AVCOL_TRC_SMPTE2084 || colour.transfer == AVCOL_TRC_ARIB_STD_B67;
}

bool IsWideGamut(const PictureColour& colour) {
    return IsHighDynamicRange(colour) || colour.primaries == AVCOL_PRI_BT2020;
}

PictureColour SourceColour(AVColorPrimaries primaries, AVColorTransferCharacteristic transfer,
                           AVColorSpace matrix, AVColorRange range, int format, int width,
                           int height, AVRational frameRate) {
    const bool hd = IsHd(width, height);
    const bool pal = Is625Lines(height, frameRate);
    PictureColour c;
    c.primaries = primaries != AVCOL_PRI_UNSPECIFIED && primaries != AVCOL_PRI_RESERVED &&
                          primaries != AVCOL_PRI_RESERVED0
                      ? primaries
                  : hd  ? AVCOL_PRI_BT709
                  : pal ? AVCOL_PRI_BT470BG
                        : AVCOL_PRI_SMPTE170M;
    c.transfer = transfer != AVCOL_TRC_UNSPECIFIED && transfer != AVCOL_TRC_RESERVED &&
                         transfer != AVCOL_TRC_RESERVED0
                     ? transfer
                 : hd ? AVCOL_TRC_BT709
                      : AVCOL_TRC_SMPTE170M;
    c.matrix = matrix != AVCOL_SPC_UNSPECIFIED && matrix != AVCOL_SPC_RESERVED ? matrix
               : hd                                                            ? AVCOL_SPC_BT709
                    : SdMatrix(height, frameRate);
    const AVPixelFormat pixels = static_cast<AVPixelFormat>(format);
    const bool jpeg = pixels == AV_PIX_FMT_YUVJ420P || pixels == AV_PIX_FMT_YUVJ422P ||
                      pixels == AV_PIX_FMT_YUVJ444P || pixels == AV_PIX_FMT_YUVJ440P ||
                      pixels == AV_PIX_FMT_YUVJ411P;
    c.range = range != AVCOL_RANGE_UNSPECIFIED ? range : jpeg ? AVCOL_RANGE_JPEG : AVCOL_RANGE_MPEG;
    return c;
}

PictureColour OutputColour(const PictureColour& source, int width, int height,
                           AVRational frameRate) {
    PictureColour out; // BT.709, limited range
    if (IsWideGamut(source)) {
        return out; // tone mapped into BT.709 at any size
    }
    out.primaries = source.primaries;
    out.transfer = source.transfer;
    if (IsHd(width, height)) {
        out.matrix = AVCOL_SPC_BT709;
    } else if (IsSdMatrix(source.matrix)) {
        out.matrix = source.matrix;
    } else {
        out.matrix = SdMatrix(height, frameRate);
    }
    return out;
}

const char* ScaleMatrixName(AVColorSpace matrix) {
    switch (matrix) {
    case AVCOL_SPC_BT709:
        return "bt709";
    case AVCOL_SPC_FCC:
        return "fcc";
    case AVCOL_SPC_SMPTE240M:
        return "smpte240m";
    case AVCOL_SPC_BT2020_NCL:
    case AVCOL_SPC_BT2020_CL:
        return "bt2020";
    default:
        return "bt601";
    }
}

} // namespace norv_engine
