// Running transcodes with the real engine through the library's session,
// and reading their outputs back with the ffmpeg and ffprobe programs.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <utility>
#include <vector>

#include "output/output_settings.h"
#include "session/transcode_session.h"
#include "support/engine_session.h"
#include "support/session_run.h"

namespace norv_test {

/// A file analysed by the real engine (its first source).
nvtl::RefCountedPtr<nvt::ISourceMedia> AnalysedPath(const std::string& path);
/// A corpus file analysed by the real engine.
nvtl::RefCountedPtr<nvt::ISourceMedia> Analysed(const std::string& corpusName);
/// Every source the analysis of a corpus file gave (one per listed file of
/// a playlist).
std::vector<nvtl::RefCountedPtr<nvt::ISourceMedia>> AnalysedAll(const std::string& corpusName);

/// Output settings of a profile, as an application starts from.
nvtl::RefCountedPtr<nvt::TranscodeOutputSettings> SettingsFor(nvt::NorvProfile profile);

/// Applies crop margins (which only a preset carries) to settings.
void ApplyCrop(nvt::TranscodeOutputSettings& settings, const nvt::CropRect& rect);

/// A session of the real engine with sources, extra sources and settings,
/// its engine information set; logs go to logPath when given.
struct Run {
    nvtl::RefCountedPtr<nvt::TranscodeSession> session;
    nvtl::RefCountedPtr<RecordingCallback> callback;
    nvt::Result started = nvt::NOT_SET;
};
Run Prepare(const std::vector<nvtl::RefCountedPtr<nvt::ISourceMedia>>& sources,
            nvt::ITranscodeOutputSettings& settings,
            const std::vector<nvtl::RefCountedPtr<nvt::ISourceMedia>>& extras = {},
            const std::string& logPath = std::string());

/// Starts a prepared run to output.
void Start(Run& run, const std::string& output);

/// Waits for the end of a started run: SUCCESS after OnComplete from the
/// engine's response, the code of OnError, or NOT_SET when none came.
nvt::Result Finish(Run& run);

/// The output properties a session previews: picture and estimated size.
struct Preview {
    uint32_t width = 0, height = 0;
    uint32_t trickWidth = 0, trickHeight = 0;
    uint64_t estimatedSize = 0;
};
Preview PreviewOf(nvt::ITranscodeSession& session);

/// ffprobe's description of a file: format and streams.
nlohmann::json Probe(const std::string& path);
/// The streams of one kind ("video", "audio", "subtitle").
std::vector<nlohmann::json> Streams(const nlohmann::json& probe, const char* kind);

/// A figure of ffmpeg's signalstats filter ("YAVG", "YMAX") for the region
/// crop (an ffmpeg crop filter's arguments) of the frame at seconds.
double PictureStat(const std::string& path, double seconds, const std::string& crop,
                   const char* stat);

/// What ffmpeg's idet filter takes the frames of the first video stream
/// for, over the whole file.
struct InterlaceCount {
    double interlaced = -1; ///< either field first; -1: not measured
    double progressive = -1;
};
InterlaceCount Interlace(const std::string& path);

/// The width and height of what is not black bars in the frame at seconds
/// (ffmpeg's cropdetect); 0 x 0 when not measured.
std::pair<int, int> PictureArea(const std::string& path, double seconds);
/// ffprobe's list of a file's packets, in the order the file holds them.
std::vector<nlohmann::json> Packets(const std::string& path);

/// The pictures of the first video stream that differ from the one before
/// (FFmpeg's mpdecimate drops the repeated ones).
int DistinctPictures(const std::string& path);

/// A hash of the packets of the first video stream.
std::string VideoHash(const std::string& path);

/// A hash of each packet of the first video stream, in order.
std::vector<std::string> VideoPacketHashes(const std::string& path);

/// What ffmpeg reports when it decodes every stream of a file: empty when
/// all of it decodes.
std::string DecodeErrors(const std::string& path);

/// The text of the first subtitle stream, as SubRip.
std::string SubtitleText(const std::string& path);

/// The loudness (RMS level in dB, from ffmpeg's astats filter) of the first
/// audio stream over all its channels: -200 for silence, NaN when it cannot
/// be read.
double SoundLevel(const std::string& path);

/// Where the first audio stream's sound begins after the silence it opens
/// with, in seconds (ffmpeg's silencedetect at -50 dB); 0 when it opens
/// with sound.
double SoundOnset(const std::string& path);

/// The packets of the first audio stream: start and duration in seconds.
struct PacketTime {
    double start = 0.0, duration = 0.0;
};
std::vector<PacketTime> AudioPackets(const std::string& path);

/// Paths of the entries of a folder.
std::vector<std::string> FolderEntries(const std::string& folder);

} // namespace norv_test
