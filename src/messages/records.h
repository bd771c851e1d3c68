// The records exchanged with the engine process: requests from the library,
// responses and progress reports from the engine, and the engine's own
// command-line records. Plain structures with their default values; their
// XML form is made and read by the functions of messages/xml.h.
//
// Field types are part of the wire format: a field declared unsigned is
// written and read as an unsigned number even where it carries an
// enumeration value, and the fields of enumeration type travel as their
// signed 32-bit value.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "norv/enums.h"
#include "norv/records.h"

namespace TBS {

/// Number of output profiles; the size of every per-profile flag array.
constexpr int kProfileCount = 12;

/// Base part of every source track.
struct SMediaTrack {
    std::string trackName;
    double bitsPerSecond = 0.0;
    int ID = 0; ///< track identifier within the source
};

/// A source video track.
struct SVideoTrack : SMediaTrack {
    unsigned videoWidth = 0;
    unsigned videoHeight = 0;
    unsigned videoFrameRate = 0;
    unsigned videoBitrate = 0;
    std::string videoCodecName; ///< as the engine reports it
    unsigned videoCodec = 0;    ///< a VideoCodec value
    double DAR = 0.0;           ///< display aspect ratio
};

/// Whether an audio track must be re-encoded for one output profile.
struct SAudioTrackTranscodeRequires {
    bool requiresTranscode = false;
    bool transcodePossible = false;
};

/// A source audio track.
struct SAudioTrack : SMediaTrack {
    unsigned audioChannelCount = 0;
    unsigned audioSampleRate = 0;
    unsigned audioBitsPerSample = 0;
    unsigned audioFormat = 0; ///< an AudioCodec value
    std::string audioLangCode;
    std::string audioCodecName; ///< as the engine reports it
    /// Verdict per output profile; the key is a NorvProfile value.
    std::map<unsigned, SAudioTrackTranscodeRequires> audioTranscodeRequires;
};

/// A source subtitle track.
struct SSubtitleTrack : SMediaTrack {
    bool subtitleEmbedded = false; ///< inside the container, not a separate file
    nvt::SubtitleType subType = nvt::ST_SSA_ASS_INTERNAL;
    std::string subtitleLangCode;
};

/// One input file of a file chain.
struct SSourceFile {
    unsigned format = 0;
    std::string source; ///< UTF-8 path
};

/// One chain of input files.
struct SSourceFileList {
    std::vector<SSourceFile> fileList;
};

/// Asks the engine for its capabilities.
struct TechnicalInfoRequest {
    nvt::SLoggerParam loggerParam;
    std::string technicalDetailsFile;
};

/// The engine's capabilities.
struct TechnicalInfoResponse {
    std::string sVersion;
    std::vector<bool> vecSupportedProfiles; ///< indexed by NorvProfile value
    std::vector<std::string> vecSupportedFormats;
    std::vector<std::string> vecSupportedAudio;
    std::vector<std::string> vecSupportedSubtitles;
    std::vector<nvt::HWAcceleration> vecAcceleration;
    std::map<nvt::NorvProfile, std::vector<nvt::AudioCodec>> mapSupportedOutputCodecs;
    std::map<std::string, unsigned> mapLocalSystemCodePages; ///< name to number
};

/// Asks the engine to analyse one source file.
struct AnalyzeRequest {
    std::string inputFile;
    std::string screenshotFilename; ///< where the engine writes a thumbnail
    int widthThumbnailMax = 0;
    int heightThumbnailMax = 0;
    nvt::SLoggerParam loggerParam;
};

/// The analysis of a source.
struct AnalyzeResponse {
    unsigned err = 0;                    ///< a Result value, 0 on success
    std::vector<unsigned> duration;      ///< per input file
    std::vector<uint64_t> inputFileSize; ///< bytes, per input file
    std::string inputFile;
    std::string containerFormatName;
    std::vector<SVideoTrack> videoTracks;
    std::vector<SAudioTrack> audioTracks;
    std::vector<SAudioTrack> audioTracksHighLevel;
    std::vector<SAudioTrack> audioTracksUnsupportedHighLevel;
    std::vector<SSubtitleTrack> subtitleTracks;
    std::vector<SSourceFileList> srcFileListList; ///< input file chains
    int thumbWidth = 0;
    int thumbHeight = 0;
    bool profiles[kProfileCount] = {}; ///< indexed by NorvProfile value
    int angle = 0;                     ///< video rotation angle
    bool isAudioContainer = false;
    bool isSubtitleContainer = false;
};

/// One complete transcode order.
struct TranscodeRequest {
    nvt::CustomPresetData CustomPresetData; ///< the effective output settings
    std::vector<std::string> inputFiles;
    std::vector<std::string> extraFiles;
    std::string outputFile;
    std::vector<nvt::VideoCodec> srcVideoCodecs;
    std::vector<nvt::AudioCodec> srcAudioCodecs;
    std::vector<nvt::AudioCodec> srcAudioCodecsHighLevel;
    std::vector<nvt::AudioCodec> dstAudioCodecs;
    std::vector<nvt::AudioCodec> dstAudioCodecsHighLevel;
    std::vector<unsigned> audioTracks;
    std::vector<unsigned> audioTracksHighLevel;
    std::vector<std::string> audioLangCodes;
    std::vector<int> audioIDs;
    std::vector<unsigned> subtitleTracks;
    std::vector<std::string> subtitleLangCodes;
    std::vector<int> subtitleIDs;
    std::vector<std::string> subtitleTrackNames;
    std::vector<int> subtitleCodePages;
    bool subtitleBurnFirstTrack = false;
    std::string tempDir;
    bool useTempDir = false;
    bool needTranscode = false;
    std::vector<SSourceFileList> srcFileListList;
    nvt::SLoggerParam loggerParam;
    int angle = 0;
    nvt::FlipMode flip = nvt::flipNone;
    std::string title;
};

/// The end of a transcode.
struct TranscodeResponse {
    unsigned resultID = 0; ///< a Result value
    std::string resultDescription;
};

/// A progress report during a transcode.
struct ProgressResponse {
    unsigned countOfStages = 0;
    unsigned stage = 0;
    int stageID = 0; ///< kind of the current stage
    double progress = 0.0;
    unsigned timeElapsed = 0;
    unsigned timeRemaining = 0;
    unsigned passStepNum = 0;
    unsigned passCount = 0;
    unsigned fileNum = 0;
    unsigned fileCount = 0;
    unsigned currentVideoFrame = 0;
    unsigned currentAudioSample = 0;
    unsigned videoRenderingRate = 0;
    std::string sFilename;
    std::string details;
};

/// Asks the engine to stop the running transcode.
struct CancelTranscodingRequest {
    unsigned err = 0;
};

/// Engine command line: the files.
struct CmdLineFiles {
    std::string enginePath;
    std::vector<std::string> inputFilePaths;
    std::string outputFilePath;
};

/// Engine command line: the output limits.
struct CmdLineRestrictions {
    int resX = 0;
    int resY = 0;
    int audioKbps = 0;
    int videoKbps = 0;
    uint64_t lenBytes = 0;
    int smiCodePageNumber = 0;
};

/// Engine command line: the switches. The archive writes them in another
/// order than they are declared here.
struct CmdLineFlags {
    bool enableAudioPassthrough = false;
    bool enableTrickplayTrack = false;
    bool enableVideo2passEncoding = false;
    bool enableProfileDetector = false;
    bool enableBurnSubtitle = false;
};

/// Engine command line: everything together.
struct CmdLineParams {
    nvt::NorvProfile profile = nvt::NP_Mobile;
    CmdLineFiles cmdLineFiles;
    CmdLineRestrictions cmdLineRestrictions;
    CmdLineFlags cmdLineFlags;
    nvt::SLoggerParam cmdLineLogs;
};

} // namespace TBS
