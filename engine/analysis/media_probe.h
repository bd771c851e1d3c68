// Opening one media file with FFmpeg and reading its stream information,
// within FFmpeg's probe limits and under the job's stop token.
#pragma once

#include <cstdint>
#include <string>

#include "ffmpeg.h"
#include "norv/enums.h"
#include "status.h"
#include "stop_token.h"

namespace norv_engine {

/// An opened and probed input, or why there is none.
struct ProbedFile {
    nvt::Result err = nvt::SUCCESS;
    FormatContextPtr format; ///< set on success
    uint64_t size = 0;       ///< bytes
};

/// Opens a regular file and reads its stream information. err is
/// CRTL_FILE_DOES_NOT_EXIST, CRTL_FILE_PERMISSION_DENIED,
/// ENG_UNSUPPORTED_FILE_TYPE (no format FFmpeg reads, or not a regular
/// file), ENG_INVALID_STREAM (a damaged or empty file of a known format) or
/// Aborted when the token stopped the probe. Only local files are read: a
/// format that refers to other resources may open local files only.
ProbedFile ProbeFile(const std::string& path, const StopToken& stop);

/// The failure of a job that needs a file it cannot read.
Status Unreadable(const std::string& path, nvt::Result err);

/// The URL FFmpeg is given for a local path: the path is never taken for a
/// protocol name.
std::string FileUrl(const std::string& path);

/// Lets FFmpeg open local files only, whatever a format refers to: the
/// protocol whitelist of every file the engine opens, read or written.
void LocalFilesOnly(Options& options);

/// The index of the n-th stream of a kind (0-based; cover pictures are not
/// video), or -1.
int NthStreamIndex(const AVFormatContext* format, AVMediaType type, int n);
/// The n-th stream of a kind, or null.
const AVStream* NthStream(const AVFormatContext* format, AVMediaType type, int n);

/// True when the stream carries a picture stored as a cover, not video.
inline bool IsCoverArt(const AVStream* stream) {
    return (stream->disposition & AV_DISPOSITION_ATTACHED_PIC) != 0;
}

} // namespace norv_engine
