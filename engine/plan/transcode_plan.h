// What a TranscodeRequest asks for, worked out before anything is encoded:
// the files to read, the picture, the bitrates and the size the library's
// own settings derivation gives for these sources (so that the output is
// what the preview promised), and each output stream.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "capabilities.h"
#include "derivation/settings_derivation.h"
#include "ffmpeg.h"
#include "input_lane.h"
#include "messages/records.h"
#include "opened_files.h"
#include "status.h"
#include "stop_token.h"
#include "video_chain.h"

namespace norv_engine {

/// The container's family, for what it carries and what it costs.
enum class Container { Avi, Matroska, Mp4 };

struct VideoPlan {
    bool copy = false; ///< the source's video is copied unchanged
    AVCodecID sourceCodec = AV_CODEC_ID_NONE;
    AVRational frameRate{25, 1}; ///< of the output
    VideoChainSetup chain;       ///< picture of the main stream (burn set by the pass)
    int64_t bitrate = 0;         ///< bits per second the derivation gives
    int64_t maxBitrate = 0;      ///< the profile's ceiling for this picture
    int64_t minBitrate = 0;
    bool twoPass = false;
    bool twoPassWhenEncoded = false; ///< what an encode (not a copy) takes
    uint64_t copiedBytes = 0;        ///< predicted, of a copy over every joined file
    bool trick = false;              ///< a trick-play stream follows the main one
    VideoChainSetup trickChain;
    int64_t trickBitrate = 0;
    int hevcQuality = 1;
};

struct AudioPlan {
    bool extra = false; ///< from a file of extraFiles (lane extraLane)
    size_t extraLane = 0;
    int ordinal = 0; ///< among the audio streams of its file(s)
    bool copy = false;
    const char* encoder = nullptr; ///< when not copied
    int64_t bitrate = 0;           ///< bits per second, when encoded
    int maxChannels = 0;           ///< when encoded: more are mixed down
    int64_t sourceBitrate = 0;     ///< bits per second, when copied (0: unknown)
    std::string language;
};

struct SubtitlePlan {
    bool external = false; ///< from a file of its own (lane externalLane)
    size_t externalLane = 0;
    int ordinal = 0;                    ///< among the subtitle streams of its file(s)
    std::string charset;                ///< converted from; empty: UTF-8
    AVCodecID codec = AV_CODEC_ID_NONE; ///< written as
    bool copy = false;                  ///< picture subtitles copied as they are
    std::string language;
};

/// The sizes the output is held to.
struct SizeTarget {
    /// The rates the preview promised, kbps of 1024 bits per second: video,
    /// audio (all tracks), trick play; and the bytes of subtitles.
    uint32_t videoKbps = 0;
    uint64_t audioKbps = 0;
    uint32_t trickKbps = 0;
    uint64_t extraBytes = 0;
    uint64_t estimatedSize = 0; ///< what the preview showed
    uint64_t sizeLimit = 0;     ///< 0: none; otherwise never exceeded
    /// The limit asked for (0: none), also when the derivation found it out
    /// of reach: a copied video is never written above it.
    uint64_t requestedLimit = 0;
};

struct TranscodePlan {
    int profile = 0;
    const ProfileRecipe* recipe = nullptr;
    Container container = Container::Matroska;
    std::vector<LaneFile> files; ///< the joined files, in order
    size_t sourceCount = 0;
    std::vector<std::string> extraAudioFiles;
    std::vector<std::string> externalSubtitleFiles;
    double durationSeconds = 0.0; ///< of the joined files, as probed
    bool durationKnown = true;    ///< false when a joined file's is unknown
    uint64_t inputBytes = 0;      ///< of the joined files
    VideoPlan video;
    std::vector<AudioPlan> audio;
    std::vector<SubtitlePlan> subtitles;
    std::unique_ptr<SubtitleBurn> burn;         ///< text subtitles drawn by the chain
    std::unique_ptr<SubtitlePlan> burnPictures; ///< picture subtitles blended by the pass
    SizeTarget size;
    double expectedSeconds = 0.0; ///< the preview's estimate of the work
    std::string title;
    std::string output;
    std::string tempDir;
    bool useTempDir = false;
};

/// Works out the plan, reading the inputs through files, which keeps them
/// open for the passes.
Status MakePlan(const TBS::TranscodeRequest& request, OpenedFiles& files, TranscodePlan& plan);

/// The container family of a muxer name.
Container ContainerOf(const char* muxer);

/// What the library's settings derivation gave for the request's sources.
struct Derived {
    SourceSummary summary;
    SettingsRequest request;
    SettingsResult result;
};

/// Stream decisions (stream_plan.cpp), once the derivation has run.
Status PlanStreams(const TBS::TranscodeRequest& request, const Derived& derived, OpenedFiles& files,
                   TranscodePlan& plan);

/// Gives up copying the main video: it is decoded and encoded with the
/// picture the plan worked out. ENG_DECODER when no decoder reads the
/// source.
Status EncodeVideoInstead(TranscodePlan& plan);

} // namespace norv_engine
