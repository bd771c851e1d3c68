// The output container: streams made from encoders or copied from an input,
// the title, packets written interleaved, the trailer. A muxer without a
// file only counts what it would write, as a seekable file would hold it,
// so that a first pass learns the container's own share of the output.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ffmpeg.h"

namespace norv_engine {

class Muxer {
public:
    /// A muxer of FFmpeg's format formatName writing path; with an empty
    /// path, a counting sink. Null (with why) when it cannot be made or the
    /// file cannot be opened.
    static std::unique_ptr<Muxer> Create(const char* formatName, const std::string& path,
                                         std::string& why);
    ~Muxer();
    Muxer(const Muxer&) = delete;
    Muxer& operator=(const Muxer&) = delete;

    /// True when the container wants codec headers out of band.
    bool WantsGlobalHeader() const;

    /// Adds a stream for an opened encoder; returns its index, or -1.
    int AddStream(const AVCodecContext* encoder);
    /// Adds a stream that carries packets copied from an input stream.
    int AddCopiedStream(const AVStream* input);
    /// A metadata entry of a stream ("language", ...), or of the file when
    /// stream is -1; empty values are not written.
    void SetMetadata(int stream, const char* key, const std::string& value);

    bool Begin(std::string& why);
    /// Writes packet (its timestamps in timeBase) to stream, taking its
    /// data. False (with why) when the output cannot be written.
    bool Write(AVPacket* packet, int stream, AVRational timeBase, std::string& why);
    bool Finish(std::string& why);

    /// Bytes the container holds so far (the file's size once finished).
    uint64_t Size() const;
    /// Payload bytes and packets written to a stream.
    uint64_t PayloadBytes(int stream) const;
    uint64_t Packets(int stream) const;

private:
    struct CountingSink;
    Muxer() = default;

    AVFormatContext* format_ = nullptr;
    std::unique_ptr<CountingSink> sink_;
    bool ownsFile_ = false;
    bool begun_ = false;
    bool finished_ = false;
    std::vector<uint64_t> payload_;
    std::vector<uint64_t> packets_;
};

} // namespace norv_engine
