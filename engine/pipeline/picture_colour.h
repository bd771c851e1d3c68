// The colours of a picture: the primaries, transfer, matrix and range it is
// made in. A source frame is read by its own tags (and, where it has none,
// by what pictures of its size are made in); the output is made and tagged
// in one set of colours chosen for its size and profile.
#pragma once

#include "ffmpeg.h"

namespace norv_engine {

struct PictureColour {
    AVColorPrimaries primaries = AVCOL_PRI_BT709;
    AVColorTransferCharacteristic transfer = AVCOL_TRC_BT709;
    AVColorSpace matrix = AVCOL_SPC_BT709;
    AVColorRange range = AVCOL_RANGE_MPEG;

    bool operator==(const PictureColour& o) const {
        return primaries == o.primaries && transfer == o.transfer && matrix == o.matrix &&
               range == o.range;
    }
    bool operator!=(const PictureColour& o) const { return !(*this == o); }
};

/// True for pictures of a high dynamic range (PQ or HLG transfer).
bool IsHighDynamicRange(const PictureColour& colour);
/// True when the picture must go through linear light to become BT.709:
/// high dynamic range, or BT.2020 primaries.
bool IsWideGamut(const PictureColour& colour);

/// The colours of a width x height source picture of format at frameRate:
/// its tags, with what is untagged filled in as HD (BT.709) or SD (BT.601,
/// the 625- or 525-line kind) pictures are made.
PictureColour SourceColour(AVColorPrimaries primaries, AVColorTransferCharacteristic transfer,
                           AVColorSpace matrix, AVColorRange range, int format, int width,
                           int height, AVRational frameRate);

/// The colours an 8-bit output picture of width x height is made in from a
/// source in colours source: high dynamic range and BT.2020 pictures become
/// BT.709 SDR at any size; otherwise the source's primaries and transfer
/// are kept and the matrix is the one of the output's size (BT.709 for HD;
/// BT.601 for SD, the source's own kind when it is SD). Always the limited
/// range.
PictureColour OutputColour(const PictureColour& source, int width, int height,
                           AVRational frameRate);

/// The name the scale filter gives to a colour matrix.
const char* ScaleMatrixName(AVColorSpace matrix);

} // namespace norv_engine
