#include "media_probe.h"

#include <cerrno>
#include <cstring>

#include "engine_log.h"
#include "norv/enum_names.h"
#include "platform/path_info.h"

namespace norv_engine {

namespace {

// Only local files, whatever a format refers to (playlists, references).
constexpr char kAllowedProtocols[] = "file";

using OpenCall = int (*)(AVFormatContext*, AVIOContext**, const char*, int, AVDictionary**);
OpenCall g_defaultOpen = nullptr; // FFmpeg's own, the same for every context

// Opens what a format refers to (a live streaming playlist's segments, a
// reference of a movie file), and says plainly why one is refused: another
// protocol than a local file, or a file outside the job's (the sandbox).
int OpenReferenced(AVFormatContext* format, AVIOContext** io, const char* url, int flags,
                   AVDictionary** options) {
    const int opened = g_defaultOpen(format, io, url, flags, options);
    if (opened < 0 && format->url != nullptr && std::strcmp(url, format->url) != 0) {
        const char* colon = std::strchr(url, ':');
        const bool local =
            colon == nullptr || std::strncmp(url, "file:", 5) == 0 || std::strchr(url, '/') < colon;
        LogLine(Severity::Error, "refused to read %s, named by %s: %s", url, format->url,
                !local                      ? "only local files are read"
                : opened == AVERROR(EACCES) ? "outside the job's files"
                                            : ErrorText(opened).c_str());
    }
    return opened;
}

// Formats that show the bytes of any file as text-mode art: FFmpeg chooses
// them by file name alone, so they are no evidence that a file is media.
bool IsTextArt(const AVInputFormat* format) {
    static const char* const kTextArt[] = {"tty", "bin", "xbin", "adf", "idf"};
    for (const char* name : kTextArt) {
        if (std::strcmp(format->name, name) == 0) {
            return true;
        }
    }
    return false;
}

bool HasUsableStream(const AVFormatContext* format) {
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        const AVCodecParameters* p = format->streams[i]->codecpar;
        switch (p->codec_type) {
        case AVMEDIA_TYPE_VIDEO:
            if (p->width > 0 && p->height > 0) {
                return true;
            }
            break;
        case AVMEDIA_TYPE_AUDIO:
            if (p->sample_rate > 0 && p->ch_layout.nb_channels > 0) {
                return true;
            }
            break;
        case AVMEDIA_TYPE_SUBTITLE:
            if (p->codec_id != AV_CODEC_ID_NONE) {
                return true;
            }
            break;
        default:
            break;
        }
    }
    return false;
}

// True when FFmpeg takes the file for one of its formats, with some
// confidence; used to tell a damaged file from one of no known format.
bool FormatRecognised(const std::string& url, const StopToken& stop) {
    AVIOContext* io = nullptr;
    const AVIOInterruptCB interrupt = stop.InterruptCallback();
    Options options;
    LocalFilesOnly(options);
    if (avio_open2(&io, url.c_str(), AVIO_FLAG_READ, &interrupt, options.Address()) < 0) {
        return false;
    }
    const AVInputFormat* format = nullptr;
    const int score = av_probe_input_buffer2(io, &format, url.c_str(), nullptr, 0, 0);
    avio_closep(&io);
    return score > AVPROBE_SCORE_RETRY && format != nullptr;
}

nvt::Result OpenError(int code, const std::string& url, const StopToken& stop) {
    if (stop.StopRequested() || code == AVERROR_EXIT) {
        return nvt::Aborted;
    }
    if (code == AVERROR(ENOENT)) {
        return nvt::CRTL_FILE_DOES_NOT_EXIST;
    }
    if (code == AVERROR(EACCES) || code == AVERROR(EPERM)) {
        return nvt::CRTL_FILE_PERMISSION_DENIED;
    }
    return FormatRecognised(url, stop) ? nvt::ENG_INVALID_STREAM : nvt::ENG_UNSUPPORTED_FILE_TYPE;
}

} // namespace

int NthStreamIndex(const AVFormatContext* format, AVMediaType type, int n) {
    int seen = 0;
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        const AVStream* stream = format->streams[i];
        if (stream->codecpar->codec_type != type ||
            (type == AVMEDIA_TYPE_VIDEO && IsCoverArt(stream))) {
            continue;
        }
        if (seen++ == n) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

const AVStream* NthStream(const AVFormatContext* format, AVMediaType type, int n) {
    const int index = NthStreamIndex(format, type, n);
    return index >= 0 ? format->streams[index] : nullptr;
}

Status Unreadable(const std::string& path, nvt::Result err) {
    return {err, "cannot read " + path + " (" + nvt::EnumName<nvt::Result>(err) + ")"};
}

std::string FileUrl(const std::string& path) {
    return "file:" + path;
}

void LocalFilesOnly(Options& options) {
    options.Set("protocol_whitelist", kAllowedProtocols);
}

ProbedFile ProbeFile(const std::string& path, const StopToken& stop) {
    ProbedFile out;
    const NorvOS::PathInfo info = NorvOS::InspectPath(path);
    switch (info.kind) {
    case NorvOS::PathKind::Missing:
        out.err = nvt::CRTL_FILE_DOES_NOT_EXIST;
        return out;
    case NorvOS::PathKind::NoAccess:
        out.err = nvt::CRTL_FILE_PERMISSION_DENIED;
        return out;
    case NorvOS::PathKind::Directory:
    case NorvOS::PathKind::Other:
        out.err = nvt::ENG_UNSUPPORTED_FILE_TYPE;
        return out;
    case NorvOS::PathKind::RegularFile:
        break;
    }
    out.size = info.size;
    if (info.size == 0) {
        out.err = nvt::ENG_INVALID_STREAM;
        return out;
    }

    const std::string url = FileUrl(path);
    AVFormatContext* raw = avformat_alloc_context();
    if (raw == nullptr) {
        out.err = nvt::ENG_ERR;
        return out;
    }
    raw->interrupt_callback = stop.InterruptCallback();
    g_defaultOpen = raw->io_open;
    raw->io_open = OpenReferenced;
    Options options;
    LocalFilesOnly(options);
    // On failure avformat_open_input frees the context itself.
    const int opened = avformat_open_input(&raw, url.c_str(), nullptr, options.Address());
    if (opened < 0) {
        LogLine(Severity::Warning, "cannot open %s: %s", path.c_str(), ErrorText(opened).c_str());
        out.err = OpenError(opened, url, stop);
        return out;
    }
    FormatContextPtr format(raw);
    if (IsTextArt(format->iformat)) {
        LogLine(Severity::Warning, "%s is no media (%s)", path.c_str(), format->iformat->name);
        out.err = nvt::ENG_UNSUPPORTED_FILE_TYPE;
        return out;
    }
    const int found = avformat_find_stream_info(format.get(), nullptr);
    if (stop.StopRequested()) {
        out.err = nvt::Aborted;
        return out;
    }
    if (found < 0 || !HasUsableStream(format.get())) {
        LogLine(Severity::Warning, "no readable stream in %s (%s)", path.c_str(),
                found < 0 ? ErrorText(found).c_str() : "no stream with known parameters");
        // A weak guess at the format that found nothing usable was no media.
        out.err = format->probe_score > AVPROBE_SCORE_RETRY ? nvt::ENG_INVALID_STREAM
                                                            : nvt::ENG_UNSUPPORTED_FILE_TYPE;
        return out;
    }
    out.format = std::move(format);
    return out;
}

} // namespace norv_engine
