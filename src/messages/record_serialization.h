// The archive form of every message record: element names, order and class
// versions. The order below is the serialisation order, which differs from
// the declaration order in CustomPresetData and CmdLineFlags.
//
// Only the messages sources include this header.
#pragma once

#include <string>

#include <boost/serialization/base_object.hpp>
#include <boost/serialization/map.hpp>
#include <boost/serialization/string.hpp>
#include <boost/serialization/tracking.hpp>
#include <boost/serialization/utility.hpp>
#include <boost/serialization/version.hpp>

#include "messages/archive.h"
#include "messages/records.h"
#include "norv/records.h"

#define NVMSG_FIELD(ar, rec, name) ar& boost::serialization::make_nvp(#name, rec.name)
#define NVMSG_DOUBLE(ar, rec, name) nvmsg::SerializeDouble(ar, #name, rec.name)

namespace nvmsg {

// A double is written by the archive itself; it is read back as text and
// parsed here, so that the non-finite values the archive writes ("nan",
// "inf") read back too.
template <class Archive> void SerializeDouble(Archive& ar, const char* name, double& value) {
    if constexpr (Archive::is_saving::value) {
        ar << boost::serialization::make_nvp(name, value);
    } else {
        std::string text;
        ar >> boost::serialization::make_nvp(name, text);
        value = ParseDouble(text);
    }
}

} // namespace nvmsg

namespace nvt {

template <class Archive> void serialize(Archive& ar, SLoggerParam& p, const unsigned int) {
    NVMSG_FIELD(ar, p, enableLogs);
    NVMSG_FIELD(ar, p, logLevel);
    NVMSG_FIELD(ar, p, logPath);
}

template <class Archive> void serialize(Archive& ar, CropRect& r, const unsigned int) {
    NVMSG_FIELD(ar, r, top);
    NVMSG_FIELD(ar, r, bottom);
    NVMSG_FIELD(ar, r, left);
    NVMSG_FIELD(ar, r, right);
}

template <class Archive>
void serialize(Archive& ar, CustomPresetData& p, const unsigned int version) {
    NVMSG_FIELD(ar, p, profileID);
    NVMSG_FIELD(ar, p, profileName);
    NVMSG_FIELD(ar, p, fileSizeLimit);
    NVMSG_FIELD(ar, p, enableAspectRatio);
    NVMSG_FIELD(ar, p, resWidth);
    NVMSG_FIELD(ar, p, resHeight);
    NVMSG_FIELD(ar, p, audioBitrates);
    NVMSG_FIELD(ar, p, videoBitrate);
    NVMSG_FIELD(ar, p, enableVideo2passEncoding);
    NVMSG_FIELD(ar, p, videoPassthrough);
    NVMSG_FIELD(ar, p, audioPassthrough);
    NVMSG_FIELD(ar, p, m_bEnableTrickplayTrack);
    NVMSG_FIELD(ar, p, trickWidth);
    NVMSG_FIELD(ar, p, trickHeight);
    NVMSG_FIELD(ar, p, trickVideoBitrate);
    NVMSG_FIELD(ar, p, enableHWAcceleration);
    NVMSG_FIELD(ar, p, hwAcceleration);
    NVMSG_FIELD(ar, p, externalSubtitleIndex);
    NVMSG_FIELD(ar, p, rect);
    NVMSG_FIELD(ar, p, prio);
    NVMSG_FIELD(ar, p, creationTime);
    NVMSG_FIELD(ar, p, hevcQualityLevel);
    NVMSG_FIELD(ar, p, wppEnabled);
    NVMSG_FIELD(ar, p, calcQualityMetrics);
    // Presets stored before the per-track codecs existed end here.
    if (Archive::is_saving::value || version >= 1) {
        NVMSG_FIELD(ar, p, trackCodecs);
    }
}

} // namespace nvt

namespace TBS {

template <class Archive> void serialize(Archive& ar, SMediaTrack& t, const unsigned int) {
    NVMSG_FIELD(ar, t, trackName);
    NVMSG_DOUBLE(ar, t, bitsPerSecond);
    NVMSG_FIELD(ar, t, ID);
}

template <class Archive, class Track> void SerializeBase(Archive& ar, Track& t) {
    ar& boost::serialization::make_nvp("SMediaTrack",
                                       boost::serialization::base_object<SMediaTrack>(t));
}

template <class Archive> void serialize(Archive& ar, SVideoTrack& t, const unsigned int) {
    SerializeBase(ar, t);
    NVMSG_FIELD(ar, t, videoWidth);
    NVMSG_FIELD(ar, t, videoHeight);
    NVMSG_FIELD(ar, t, videoFrameRate);
    NVMSG_FIELD(ar, t, videoBitrate);
    NVMSG_FIELD(ar, t, videoCodecName);
    NVMSG_FIELD(ar, t, videoCodec);
    NVMSG_DOUBLE(ar, t, DAR);
}

template <class Archive>
void serialize(Archive& ar, SAudioTrackTranscodeRequires& r, const unsigned int) {
    NVMSG_FIELD(ar, r, requiresTranscode);
    NVMSG_FIELD(ar, r, transcodePossible);
}

template <class Archive> void serialize(Archive& ar, SAudioTrack& t, const unsigned int) {
    SerializeBase(ar, t);
    NVMSG_FIELD(ar, t, audioChannelCount);
    NVMSG_FIELD(ar, t, audioSampleRate);
    NVMSG_FIELD(ar, t, audioBitsPerSample);
    NVMSG_FIELD(ar, t, audioFormat);
    NVMSG_FIELD(ar, t, audioLangCode);
    NVMSG_FIELD(ar, t, audioCodecName);
    NVMSG_FIELD(ar, t, audioTranscodeRequires);
}

template <class Archive> void serialize(Archive& ar, SSubtitleTrack& t, const unsigned int) {
    SerializeBase(ar, t);
    NVMSG_FIELD(ar, t, subtitleEmbedded);
    NVMSG_FIELD(ar, t, subType);
    NVMSG_FIELD(ar, t, subtitleLangCode);
}

template <class Archive> void serialize(Archive& ar, SSourceFile& f, const unsigned int) {
    NVMSG_FIELD(ar, f, format);
    NVMSG_FIELD(ar, f, source);
}

template <class Archive> void serialize(Archive& ar, SSourceFileList& l, const unsigned int) {
    NVMSG_FIELD(ar, l, fileList);
}

template <class Archive> void serialize(Archive& ar, TechnicalInfoRequest& r, const unsigned int) {
    NVMSG_FIELD(ar, r, loggerParam);
    NVMSG_FIELD(ar, r, technicalDetailsFile);
}

template <class Archive> void serialize(Archive& ar, TechnicalInfoResponse& r, const unsigned int) {
    NVMSG_FIELD(ar, r, sVersion);
    NVMSG_FIELD(ar, r, vecSupportedProfiles);
    NVMSG_FIELD(ar, r, vecSupportedFormats);
    NVMSG_FIELD(ar, r, vecSupportedAudio);
    NVMSG_FIELD(ar, r, vecSupportedSubtitles);
    NVMSG_FIELD(ar, r, vecAcceleration);
    NVMSG_FIELD(ar, r, mapSupportedOutputCodecs);
    NVMSG_FIELD(ar, r, mapLocalSystemCodePages);
}

template <class Archive> void serialize(Archive& ar, AnalyzeRequest& r, const unsigned int) {
    NVMSG_FIELD(ar, r, inputFile);
    NVMSG_FIELD(ar, r, screenshotFilename);
    NVMSG_FIELD(ar, r, widthThumbnailMax);
    NVMSG_FIELD(ar, r, heightThumbnailMax);
    NVMSG_FIELD(ar, r, loggerParam);
}

template <class Archive> void serialize(Archive& ar, AnalyzeResponse& r, const unsigned int) {
    NVMSG_FIELD(ar, r, err);
    NVMSG_FIELD(ar, r, duration);
    NVMSG_FIELD(ar, r, inputFileSize);
    NVMSG_FIELD(ar, r, inputFile);
    NVMSG_FIELD(ar, r, containerFormatName);
    NVMSG_FIELD(ar, r, videoTracks);
    NVMSG_FIELD(ar, r, audioTracks);
    NVMSG_FIELD(ar, r, audioTracksHighLevel);
    NVMSG_FIELD(ar, r, audioTracksUnsupportedHighLevel);
    NVMSG_FIELD(ar, r, subtitleTracks);
    NVMSG_FIELD(ar, r, srcFileListList);
    NVMSG_FIELD(ar, r, thumbWidth);
    NVMSG_FIELD(ar, r, thumbHeight);
    NVMSG_FIELD(ar, r, profiles);
    NVMSG_FIELD(ar, r, angle);
    NVMSG_FIELD(ar, r, isAudioContainer);
    NVMSG_FIELD(ar, r, isSubtitleContainer);
}

template <class Archive> void serialize(Archive& ar, TranscodeRequest& r, const unsigned int) {
    NVMSG_FIELD(ar, r, CustomPresetData);
    NVMSG_FIELD(ar, r, inputFiles);
    NVMSG_FIELD(ar, r, extraFiles);
    NVMSG_FIELD(ar, r, outputFile);
    NVMSG_FIELD(ar, r, srcVideoCodecs);
    NVMSG_FIELD(ar, r, srcAudioCodecs);
    NVMSG_FIELD(ar, r, srcAudioCodecsHighLevel);
    NVMSG_FIELD(ar, r, dstAudioCodecs);
    NVMSG_FIELD(ar, r, dstAudioCodecsHighLevel);
    NVMSG_FIELD(ar, r, audioTracks);
    NVMSG_FIELD(ar, r, audioTracksHighLevel);
    NVMSG_FIELD(ar, r, audioLangCodes);
    NVMSG_FIELD(ar, r, audioIDs);
    NVMSG_FIELD(ar, r, subtitleTracks);
    NVMSG_FIELD(ar, r, subtitleLangCodes);
    NVMSG_FIELD(ar, r, subtitleIDs);
    NVMSG_FIELD(ar, r, subtitleTrackNames);
    NVMSG_FIELD(ar, r, subtitleCodePages);
    NVMSG_FIELD(ar, r, subtitleBurnFirstTrack);
    NVMSG_FIELD(ar, r, tempDir);
    NVMSG_FIELD(ar, r, useTempDir);
    NVMSG_FIELD(ar, r, needTranscode);
    NVMSG_FIELD(ar, r, srcFileListList);
    NVMSG_FIELD(ar, r, loggerParam);
    NVMSG_FIELD(ar, r, angle);
    NVMSG_FIELD(ar, r, flip);
    NVMSG_FIELD(ar, r, title);
}

template <class Archive> void serialize(Archive& ar, TranscodeResponse& r, const unsigned int) {
    NVMSG_FIELD(ar, r, resultID);
    NVMSG_FIELD(ar, r, resultDescription);
}

template <class Archive> void serialize(Archive& ar, ProgressResponse& r, const unsigned int) {
    NVMSG_FIELD(ar, r, countOfStages);
    NVMSG_FIELD(ar, r, stage);
    NVMSG_FIELD(ar, r, stageID);
    NVMSG_DOUBLE(ar, r, progress);
    NVMSG_FIELD(ar, r, timeElapsed);
    NVMSG_FIELD(ar, r, timeRemaining);
    NVMSG_FIELD(ar, r, passStepNum);
    NVMSG_FIELD(ar, r, passCount);
    NVMSG_FIELD(ar, r, fileNum);
    NVMSG_FIELD(ar, r, fileCount);
    NVMSG_FIELD(ar, r, currentVideoFrame);
    NVMSG_FIELD(ar, r, currentAudioSample);
    NVMSG_FIELD(ar, r, videoRenderingRate);
    NVMSG_FIELD(ar, r, sFilename);
    NVMSG_FIELD(ar, r, details);
}

template <class Archive>
void serialize(Archive& ar, CancelTranscodingRequest& r, const unsigned int) {
    NVMSG_FIELD(ar, r, err);
}

template <class Archive> void serialize(Archive& ar, CmdLineFiles& f, const unsigned int) {
    NVMSG_FIELD(ar, f, enginePath);
    NVMSG_FIELD(ar, f, inputFilePaths);
    NVMSG_FIELD(ar, f, outputFilePath);
}

template <class Archive> void serialize(Archive& ar, CmdLineRestrictions& r, const unsigned int) {
    NVMSG_FIELD(ar, r, resX);
    NVMSG_FIELD(ar, r, resY);
    NVMSG_FIELD(ar, r, audioKbps);
    NVMSG_FIELD(ar, r, videoKbps);
    NVMSG_FIELD(ar, r, lenBytes);
    NVMSG_FIELD(ar, r, smiCodePageNumber);
}

template <class Archive> void serialize(Archive& ar, CmdLineFlags& f, const unsigned int) {
    NVMSG_FIELD(ar, f, enableTrickplayTrack);
    NVMSG_FIELD(ar, f, enableProfileDetector);
    NVMSG_FIELD(ar, f, enableAudioPassthrough);
    NVMSG_FIELD(ar, f, enableVideo2passEncoding);
    NVMSG_FIELD(ar, f, enableBurnSubtitle);
}

template <class Archive> void serialize(Archive& ar, CmdLineParams& p, const unsigned int) {
    NVMSG_FIELD(ar, p, profile);
    ar& boost::serialization::make_nvp("CmdLineFiles", p.cmdLineFiles);
    ar& boost::serialization::make_nvp("CmdLineRestrictions", p.cmdLineRestrictions);
    ar& boost::serialization::make_nvp("CmdLineFlags", p.cmdLineFlags);
    ar& boost::serialization::make_nvp("CmdLineLogs", p.cmdLineLogs);
}

} // namespace TBS

#undef NVMSG_FIELD
#undef NVMSG_DOUBLE

// Class versions: only these three records have moved past version 0.
BOOST_CLASS_VERSION(nvt::CustomPresetData, 1)
BOOST_CLASS_VERSION(TBS::TechnicalInfoRequest, 1)
BOOST_CLASS_VERSION(TBS::TechnicalInfoResponse, 1)
