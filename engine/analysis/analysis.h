// The analysis of a source file: what FFmpeg reads in it, as the
// AnalyzeResponse the library turns into sources.
#pragma once

#include <string>

#include "messages/records.h"
#include "stop_token.h"

namespace norv_engine {

class OpenedFiles;

/// Analyses request.inputFile: a media file, or a playlist of split
/// recordings, which becomes a chain whose first entry is the list itself
/// (format kPlaylistFormat) followed by one entry per listed file. Writes
/// the thumbnail the request asks for. err holds the outcome; on failure
/// only err and inputFile are meaningful.
TBS::AnalyzeResponse Analyze(const TBS::AnalyzeRequest& request, const StopToken& stop);
/// The same, reading the files through files, which keeps them open for
/// the rest of the job.
TBS::AnalyzeResponse Analyze(const TBS::AnalyzeRequest& request, const StopToken& stop,
                             OpenedFiles& files);

/// Format code of a chain entry that is a media file, and of one that is the
/// playlist naming the files after it.
constexpr unsigned kMediaFileFormat = 0;
constexpr unsigned kPlaylistFormat = 9;

/// The name reported for a container: of FFmpeg's names for the demuxer
/// ("mov,mp4,m4a,3gp,3g2,mj2"), the one matching the file's extension, else
/// the first.
std::string ContainerName(const std::string& demuxerNames, const std::string& path);

} // namespace norv_engine
