#include "replies.h"

#include <string>

namespace scripted {

TBS::TechnicalInfoResponse MakeTechnicalInfo(const Options& o) {
    TBS::TechnicalInfoResponse info;
    info.sVersion = o.version;
    for (uint32_t p = 0; p < nvt::_NP_count_; ++p) {
        info.vecSupportedProfiles.push_back(p < o.supportedProfiles);
    }
    info.vecSupportedFormats = {"mp4", "mkv", "avi", "ts"};
    info.vecSupportedAudio = {"aac", "ac3", "mp3"};
    info.vecSupportedSubtitles = {"srt", "ssa"};
    info.vecAcceleration = {nvt::NO_ACCELERATION};
    for (uint32_t p = 0; p < o.supportedProfiles && p < nvt::_NP_count_; ++p) {
        info.mapSupportedOutputCodecs[static_cast<nvt::NorvProfile>(p)] = {nvt::AC_AAC,
                                                                           nvt::AC_AC3};
    }
    info.mapLocalSystemCodePages = {{"Western European (Windows)", 1252}, {"UTF-8", 65001}};
    return info;
}

namespace {

TBS::SAudioTrack MakeAudioTrack(uint32_t index, int id) {
    TBS::SAudioTrack track;
    track.trackName = "Audio " + std::to_string(index + 1);
    track.bitsPerSecond = 192000.0;
    track.ID = id;
    track.audioChannelCount = 2;
    track.audioSampleRate = 48000;
    track.audioBitsPerSample = 16;
    track.audioFormat = nvt::AC_AAC;
    track.audioLangCode = index == 0 ? "eng" : "ger";
    track.audioCodecName = "AAC";
    for (unsigned p = 0; p < nvt::_NP_count_; ++p) {
        track.audioTranscodeRequires[p] = TBS::SAudioTrackTranscodeRequires{false, true};
    }
    return track;
}

} // namespace

TBS::AnalyzeResponse MakeAnalysis(const Options& o, const TBS::AnalyzeRequest& request) {
    TBS::AnalyzeResponse a;
    a.err = o.analysisErr;
    if (!o.failInput.empty() && request.inputFile.find(o.failInput) != std::string::npos) {
        a.err = nvt::ENG_UNSUPPORTED_FILE_TYPE;
    }
    a.inputFile = request.inputFile;
    a.containerFormatName = o.container;
    const uint32_t files = o.analysisFiles == 0 ? 1 : o.analysisFiles;
    TBS::SSourceFileList chain;
    for (uint32_t i = 0; i < files; ++i) {
        a.duration.push_back(o.duration + i);
        a.inputFileSize.push_back(o.fileSize + i);
        TBS::SSourceFile file;
        file.format = i == 0 ? o.firstChainFormat : 0;
        file.source =
            i == 0 ? request.inputFile : request.inputFile + ".part" + std::to_string(i + 1);
        chain.fileList.push_back(file);
    }
    a.srcFileListList.push_back(chain);
    int id = 1;
    for (uint32_t i = 0; i < o.videoTracks; ++i) {
        TBS::SVideoTrack track;
        track.trackName = "Video " + std::to_string(i + 1);
        track.bitsPerSecond = 8000000.0;
        track.ID = id++;
        track.videoWidth = o.width;
        track.videoHeight = o.height;
        track.videoFrameRate = o.frameRate;
        track.videoBitrate = 8000000;
        track.videoCodecName = "H.264";
        track.videoCodec = nvt::VC_H264;
        track.DAR = o.height != 0 ? static_cast<double>(o.width) / o.height : 0.0;
        a.videoTracks.push_back(track);
    }
    for (uint32_t i = 0; i < o.audioTracks; ++i) {
        a.audioTracks.push_back(MakeAudioTrack(i, id++));
    }
    for (uint32_t i = 0; i < o.highLevelAudioTracks; ++i) {
        a.audioTracksHighLevel.push_back(MakeAudioTrack(i, id++));
    }
    for (uint32_t i = 0; i < o.subtitleTracks; ++i) {
        TBS::SSubtitleTrack track;
        track.trackName = "Subtitle " + std::to_string(i + 1);
        track.ID = id++;
        track.subtitleEmbedded = true;
        track.subType = nvt::ST_SRT_INTERNAL;
        track.subtitleLangCode = "eng";
        a.subtitleTracks.push_back(track);
    }
    a.thumbWidth = request.widthThumbnailMax;
    a.thumbHeight = request.heightThumbnailMax;
    for (uint32_t p = 0; p < nvt::_NP_count_; ++p) {
        a.profiles[p] = true;
    }
    a.angle = o.angle;
    a.isAudioContainer = o.videoTracks == 0 && o.audioTracks != 0;
    return a;
}

TBS::ProgressResponse MakeProgress(const Options& o, const TBS::TranscodeRequest& request,
                                   uint32_t index) {
    const uint32_t count = o.progressCount == 0 ? 1 : o.progressCount;
    TBS::ProgressResponse p;
    p.countOfStages = 1;
    p.stage = 1;
    p.progress = 100.0 * (index + 1) / count;
    p.timeElapsed = index + 1;
    p.timeRemaining = count - index - 1;
    p.passStepNum = 1;
    p.passCount = 1;
    p.fileCount = o.fileCount;
    p.fileNum = static_cast<unsigned>(static_cast<uint64_t>(index) * o.fileCount / count) + 1;
    p.sFilename = p.fileNum <= request.inputFiles.size() ? request.inputFiles[p.fileNum - 1]
                                                         : "file" + std::to_string(p.fileNum);
    p.currentVideoFrame = 25 * (index + 1);
    p.videoRenderingRate = 100;
    return p;
}

TBS::TranscodeResponse MakeTranscodeResult(int64_t result, const std::string& description) {
    TBS::TranscodeResponse r;
    r.resultID = static_cast<unsigned>(result);
    r.resultDescription = description;
    return r;
}

} // namespace scripted
