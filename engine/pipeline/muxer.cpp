#include "muxer.h"

#include <algorithm>
#include <cstring>

#include "media_probe.h"

namespace norv_engine {

// Counts bytes as a seekable file would hold them: writes after a seek back
// overwrite, the size is the furthest byte written.
struct Muxer::CountingSink {
    AVIOContext* io = nullptr;
    int64_t position = 0;
    int64_t size = 0;

    ~CountingSink() {
        if (io != nullptr) {
            av_freep(&io->buffer);
            avio_context_free(&io);
        }
    }

    static int Write(void* opaque, uint8_t* /*data*/, int length) {
        auto* self = static_cast<CountingSink*>(opaque);
        self->position += length;
        self->size = std::max(self->size, self->position);
        return length;
    }

    static int64_t Seek(void* opaque, int64_t offset, int whence) {
        auto* self = static_cast<CountingSink*>(opaque);
        switch (whence & ~AVSEEK_FORCE) {
        case AVSEEK_SIZE:
            return self->size;
        case SEEK_SET:
            self->position = offset;
            break;
        case SEEK_CUR:
            self->position += offset;
            break;
        case SEEK_END:
            self->position = self->size + offset;
            break;
        default:
            return AVERROR(EINVAL);
        }
        return self->position < 0 ? AVERROR(EINVAL) : self->position;
    }
};

std::unique_ptr<Muxer> Muxer::Create(const char* formatName, const std::string& path,
                                     std::string& why) {
    std::unique_ptr<Muxer> muxer(new Muxer());
    const int made = avformat_alloc_output_context2(&muxer->format_, nullptr, formatName, nullptr);
    if (made < 0 || muxer->format_ == nullptr) {
        why = std::string("no muxer for ") + formatName;
        return nullptr;
    }
    if (path.empty()) {
        constexpr int kBufferSize = 32768;
        auto sink = std::make_unique<CountingSink>();
        auto* buffer = static_cast<unsigned char*>(av_malloc(kBufferSize));
        if (buffer == nullptr) {
            why = "out of memory";
            return nullptr;
        }
        sink->io = avio_alloc_context(buffer, kBufferSize, 1, sink.get(), nullptr,
                                      &CountingSink::Write, &CountingSink::Seek);
        if (sink->io == nullptr) {
            av_free(buffer);
            why = "out of memory";
            return nullptr;
        }
        sink->io->seekable = AVIO_SEEKABLE_NORMAL;
        muxer->format_->pb = sink->io;
        muxer->format_->flags |= AVFMT_FLAG_CUSTOM_IO;
        muxer->sink_ = std::move(sink);
        return muxer;
    }
    Options options;
    LocalFilesOnly(options);
    const int opened = avio_open2(&muxer->format_->pb, FileUrl(path).c_str(), AVIO_FLAG_WRITE,
                                  nullptr, options.Address());
    if (opened < 0) {
        why = "cannot open " + path + " for writing: " + ErrorText(opened);
        return nullptr;
    }
    muxer->ownsFile_ = true;
    return muxer;
}

Muxer::~Muxer() {
    if (format_ == nullptr) {
        return;
    }
    if (ownsFile_) {
        avio_closep(&format_->pb);
    }
    avformat_free_context(format_);
}

bool Muxer::WantsGlobalHeader() const {
    return (format_->oformat->flags & AVFMT_GLOBALHEADER) != 0;
}

int Muxer::AddStream(const AVCodecContext* encoder) {
    AVStream* stream = avformat_new_stream(format_, nullptr);
    if (stream == nullptr || avcodec_parameters_from_context(stream->codecpar, encoder) < 0) {
        return -1;
    }
    stream->time_base = encoder->time_base;
    stream->sample_aspect_ratio = encoder->sample_aspect_ratio;
    if (encoder->codec_type == AVMEDIA_TYPE_VIDEO) {
        stream->avg_frame_rate = encoder->framerate;
    }
    payload_.push_back(0);
    packets_.push_back(0);
    return stream->index;
}

int Muxer::AddCopiedStream(const AVStream* input) {
    AVStream* stream = avformat_new_stream(format_, nullptr);
    if (stream == nullptr || avcodec_parameters_copy(stream->codecpar, input->codecpar) < 0) {
        return -1;
    }
    // The input's tag may mean something else in another container.
    stream->codecpar->codec_tag = 0;
    stream->time_base = input->time_base;
    stream->sample_aspect_ratio = input->sample_aspect_ratio;
    stream->avg_frame_rate = input->avg_frame_rate;
    stream->r_frame_rate = input->r_frame_rate;
#if LIBAVFORMAT_VERSION_INT < AV_VERSION_INT(60, 15, 100)
    // The stream's own side data (the display matrix of a turned picture
    // among it), which later FFmpeg keeps in the parameters copied above.
    for (int i = 0; i < input->nb_side_data; ++i) {
        const AVPacketSideData& data = input->side_data[i];
        uint8_t* copy = av_stream_new_side_data(stream, data.type, data.size);
        if (copy == nullptr) {
            return -1;
        }
        std::memcpy(copy, data.data, data.size);
    }
#endif
    payload_.push_back(0);
    packets_.push_back(0);
    return stream->index;
}

void Muxer::SetMetadata(int stream, const char* key, const std::string& value) {
    if (value.empty()) {
        return;
    }
    AVDictionary** dict = stream < 0 ? &format_->metadata
                                     : &format_->streams[static_cast<unsigned>(stream)]->metadata;
    av_dict_set(dict, key, value.c_str(), 0);
}

bool Muxer::Begin(std::string& why) {
    const int written = avformat_write_header(format_, nullptr);
    if (written < 0) {
        why = "cannot write the container's header: " + ErrorText(written);
        return false;
    }
    begun_ = true;
    return true;
}

bool Muxer::Write(AVPacket* packet, int stream, AVRational timeBase, std::string& why) {
    const auto index = static_cast<size_t>(stream);
    payload_[index] += static_cast<uint64_t>(packet->size);
    ++packets_[index];
    av_packet_rescale_ts(packet, timeBase, format_->streams[index]->time_base);
    packet->stream_index = stream;
    const int written = av_interleaved_write_frame(format_, packet);
    if (written < 0) {
        why = "cannot write the output: " + ErrorText(written);
        return false;
    }
    return true;
}

bool Muxer::Finish(std::string& why) {
    if (!begun_ || finished_) {
        return finished_;
    }
    const int written = av_write_trailer(format_);
    finished_ = true;
    if (written < 0 || format_->pb->error < 0) {
        why = "cannot finish the output: " + ErrorText(written < 0 ? written : format_->pb->error);
        return false;
    }
    avio_flush(format_->pb);
    return true;
}

uint64_t Muxer::Size() const {
    if (sink_) {
        return static_cast<uint64_t>(sink_->size);
    }
    const int64_t size = format_->pb != nullptr ? avio_size(format_->pb) : 0;
    return size > 0 ? static_cast<uint64_t>(size) : 0;
}

uint64_t Muxer::PayloadBytes(int stream) const {
    return payload_.at(static_cast<size_t>(stream));
}

uint64_t Muxer::Packets(int stream) const {
    return packets_.at(static_cast<size_t>(stream));
}

} // namespace norv_engine
