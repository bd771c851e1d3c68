// Reading a sequence of files as one input with continuous timestamps: each
// file's timestamps are moved so that it starts where the one before ended
// (its own start time taken away), in microseconds of the joined timeline.
// A lane reads the same streams of every file, named by their ordinal among
// the file's streams of a kind (the first audio stream is audio 0). Of a
// file a playlist trims, only the part between its inpoint and outpoint
// plays; jumps of the timestamps within a file are folded away (timeline.h)
// before a packet leaves the lane, so decoders and muxers see them rise.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "ffmpeg.h"
#include "norv/enums.h"
#include "opened_files.h"
#include "playlist.h"
#include "stop_token.h"
#include "timeline.h"

namespace norv_engine {

struct LaneFile {
    LaneFile(std::string path_, size_t source_, EntryTrims trims_ = EntryTrims())
        : path(std::move(path_)), source(source_), trims(trims_) {}

    std::string path;
    size_t source = 0; ///< the joined source it belongs to
    EntryTrims trims;  ///< the part that plays, when a playlist names one
};

struct LaneStreams {
    bool video = false;
    std::vector<int> audio;     ///< ordinals among the audio streams
    std::vector<int> subtitles; ///< ordinals among the subtitle streams
};

enum class StreamRole { Video, Audio, Subtitle };

class InputLane {
public:
    /// Reads files, taking each from opened while it reads it.
    InputLane(std::vector<LaneFile> files, LaneStreams streams, OpenedFiles& opened);
    ~InputLane();
    InputLane(const InputLane&) = delete;
    InputLane& operator=(const InputLane&) = delete;

    enum class Step {
        Packet,  ///< packet() holds the next packet of a wanted stream
        FileEnd, ///< the file in work has no more packets (once per file)
        End,     ///< every file is read
        Failed,  ///< a file could not be opened: error() and why()
    };
    Step Next();

    /// The packet Next delivered, its stream's role and slot (index into
    /// the LaneStreams list of its kind; 0 for video).
    AVPacket* packet() const { return packet_.get(); }
    StreamRole role() const { return role_; }
    int slot() const { return slot_; }

    /// A wanted stream of the file in work; null when the file lacks it.
    const AVStream* Stream(StreamRole role, int slot) const;
    /// The file in work; opens the first file on first use. False when it
    /// cannot be opened.
    bool OpenFirst();

    /// A timestamp of a stream of the file in work, in microseconds of the
    /// joined timeline.
    int64_t ToJoined(int64_t timestamp, AVRational timeBase) const;
    /// True when a frame or packet of a stream of role at joined time at,
    /// lasting duration (microseconds), belongs to the part of the file in
    /// work that plays: a picture that starts at or after the playlist
    /// entry's inpoint and before its outpoint (as FFmpeg's concat reader
    /// keeps them), sound or a subtitle whose middle lies within them.
    bool InWindow(int64_t at, int64_t duration, StreamRole role) const;
    /// Joined time of the furthest packet read so far.
    int64_t Position() const { return end_; }
    /// Bytes of the lane's files read so far: those read through, and the
    /// read position in the file in work.
    uint64_t BytesRead() const;
    size_t FileIndex() const { return current_; }
    const LaneFile& File() const { return files_[current_ < files_.size() ? current_ : 0]; }

    nvt::Result error() const { return error_; }
    const std::string& why() const { return why_; }

private:
    bool Open(size_t index);
    /// Gives the file in work back to the opened files.
    void Release();
    bool SubtitlesOnly() const { return !wanted_.video && wanted_.audio.empty(); }
    int FindSlot(StreamRole& role, int streamIndex) const;
    /// Moves the packet past folded timestamp jumps; false when it lies
    /// after the entry's outpoint or is a subtitle outside the entry.
    bool Place(const AVStream* stream);
    /// The time of the file in work's first picture at or after at, when
    /// it comes less than a picture's time later; else at. A trimmed entry
    /// starts at its first picture, so that its pictures keep their places
    /// on the output's frame grid and none is lost where two entries meet;
    /// its sound moves with them.
    int64_t FirstPictureFrom(int64_t at) const;
    /// True once every audio and video stream read has passed the outpoint.
    bool PastOutpoint() const;
    void EndFile();

    std::vector<LaneFile> files_;
    LaneStreams wanted_;
    OpenedFiles& opened_;
    const StopToken& stop_;
    size_t current_ = 0;
    FormatContextPtr format_;
    int videoIndex_ = -1;
    std::vector<int> audioIndex_;     ///< stream index per audio slot, -1 when absent
    std::vector<int> subtitleIndex_;  ///< stream index per subtitle slot
    int64_t start_ = 0;               ///< the file's own start, microseconds
    int64_t offset_ = 0;              ///< where it starts on the joined timeline
    int64_t length_ = AV_NOPTS_VALUE; ///< of the entry, when trims end it
    int64_t end_ = 0;
    uint64_t fileBytes_ = 0; ///< of the file in work
    uint64_t bytesDone_ = 0; ///< of the files read through
    TimestampFolder folder_;
    std::vector<bool> passed_; ///< per stream: a packet after the outpoint came
    PacketPtr packet_;
    StreamRole role_ = StreamRole::Video;
    int slot_ = 0;
    bool fileEnded_ = false;
    nvt::Result error_ = nvt::SUCCESS;
    std::string why_;
};

} // namespace norv_engine
