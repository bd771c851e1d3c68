// Reading what the split needs from the sources themselves: every video
// packet's time, size and whether a part may start at it. Only packets are
// read (nothing is decoded), so a two-hour film takes seconds.
#pragma once

#include <string>
#include <vector>

#include "ffmpeg.h"
#include "parts/part_plan.h"

namespace norv {

/// Opens a local file for reading its packets (the path is a value: never
/// a protocol or an option). Throws Failure.
norv_engine::FormatContextPtr OpenMediaFile(const std::string& path);

/// The index of the file's main video stream (not a cover picture), or -1.
int MainVideoStream(const AVFormatContext* format);

/// Scans the files joined in order. Throws Failure.
FilmScan ScanFilm(const std::vector<std::string>& paths);

} // namespace norv
