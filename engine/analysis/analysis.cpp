#include "analysis.h"

#include <algorithm>
#include <cctype>

#include "capabilities.h"
#include "engine_log.h"
#include "media/join_rule.h"
#include "media_probe.h"
#include "norv/enum_names.h"
#include "opened_files.h"
#include "output/profile_limits.h"
#include "platform/path_info.h"
#include "playlist.h"
#include "thumbnail.h"
#include "timeline.h"
#include "tracks.h"

namespace norv_engine {

namespace {

/// One analysed file, before it is placed in a chain.
struct FileAnalysis {
    nvt::Result err = nvt::SUCCESS;
    TBS::AnalyzeResponse fields; ///< everything but err, the chain and its lists
    unsigned duration = 0;
    uint64_t size = 0;
};

std::string LowerExtension(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) {
        return std::string();
    }
    std::string extension = path.substr(dot + 1);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension;
}

// The track may go into the profile's output as it is: the container
// carries its codec, the profile its channels, and its bit rate is within
// the profile's audio limit.
bool PassesUnchanged(int profile, const AVStream* stream, double frameRate) {
    if (!Capabilities::Get().CarriesAudio(profile, stream->codecpar)) {
        return false;
    }
    const int64_t bitrate =
        stream->codecpar->bit_rate > 0 ? stream->codecpar->bit_rate : TaggedBitrate(stream);
    const uint32_t maxKbps = nvt::MaxAudioBitrateKbps(nvt::FindProfileLimits(profile, frameRate));
    return bitrate <= 0 || maxKbps == 0 || bitrate <= static_cast<int64_t>(maxKbps) * 1000;
}

void AddAudioTracks(const AVFormatContext* format, double frameRate, TBS::AnalyzeResponse& out,
                    bool& missingAc3Decoder) {
    const Capabilities& caps = Capabilities::Get();
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        const AVStream* stream = format->streams[i];
        if (stream->codecpar->codec_type != AVMEDIA_TYPE_AUDIO) {
            continue;
        }
        const bool decodable = Decodable(stream);
        TBS::SAudioTrack track = AudioTrackOf(format, stream);
        for (int p = 0; p < nvt::_NP_count_; ++p) {
            if (caps.ProfileSupported(p)) {
                TBS::SAudioTrackTranscodeRequires verdict;
                verdict.requiresTranscode = !PassesUnchanged(p, stream, frameRate);
                verdict.transcodePossible = decodable;
                track.audioTranscodeRequires[static_cast<unsigned>(p)] = verdict;
            }
        }
        out.audioTracks.push_back(track);
        (decodable ? out.audioTracksHighLevel : out.audioTracksUnsupportedHighLevel)
            .push_back(track);
        const AVCodecID id = stream->codecpar->codec_id;
        missingAc3Decoder =
            missingAc3Decoder || (!decodable && (id == AV_CODEC_ID_AC3 || id == AV_CODEC_ID_EAC3));
    }
}

int64_t KnownAudioBitrates(const TBS::AnalyzeResponse& fields) {
    int64_t sum = 0;
    for (const TBS::SAudioTrack& track : fields.audioTracks) {
        sum += static_cast<int64_t>(track.bitsPerSecond);
    }
    return sum;
}

// One file, or the part of it a playlist entry names.
FileAnalysis AnalyseFile(const std::string& path, const ThumbnailRequest* thumbnail,
                         const StopToken& stop, OpenedFiles& files,
                         const EntryTrims& trims = EntryTrims()) {
    FileAnalysis result;
    const OpenedFiles::Lease probed = files.Probe(path);
    result.size = probed->size;
    if (probed->err != nvt::SUCCESS) {
        result.err = probed->err;
        return result;
    }
    AVFormatContext* format = probed->format.get();
    TBS::AnalyzeResponse& out = result.fields;
    out.containerFormatName = ContainerName(format->iformat->name, path);

    const AVStream* video = nullptr;
    const AVStream* cover = nullptr;
    bool hasAudio = false;
    bool hasSubtitles = false;
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        const AVStream* stream = format->streams[i];
        switch (stream->codecpar->codec_type) {
        case AVMEDIA_TYPE_VIDEO:
            if (IsCoverArt(stream)) {
                cover = cover != nullptr ? cover : stream;
            } else {
                video = video != nullptr ? video : stream;
            }
            break;
        case AVMEDIA_TYPE_AUDIO:
            hasAudio = true;
            break;
        case AVMEDIA_TYPE_SUBTITLE:
            hasSubtitles = true;
            break;
        default:
            break;
        }
    }
    const int64_t duration = files.EntryDuration(path, trims);
    result.duration = std::max(1u, CeilSeconds(duration));

    const double frameRate =
        video != nullptr
            ? av_q2d(av_guess_frame_rate(format, const_cast<AVStream*>(video), nullptr))
            : 0.0;
    bool missingAc3Decoder = false;
    AddAudioTracks(format, frameRate, out, missingAc3Decoder);
    if (video != nullptr) {
        int64_t estimated = 0;
        if (duration > 0) {
            estimated = av_rescale(static_cast<int64_t>(result.size) * 8, AV_TIME_BASE, duration) -
                        KnownAudioBitrates(out);
        }
        out.videoTracks.push_back(VideoTrackOf(format, video, estimated));
        out.angle = RotationOf(video);
    }
    out.isAudioContainer = video == nullptr && hasAudio;
    out.isSubtitleContainer = video == nullptr && !hasAudio && hasSubtitles;
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        const AVStream* stream = format->streams[i];
        if (stream->codecpar->codec_type == AVMEDIA_TYPE_SUBTITLE) {
            out.subtitleTracks.push_back(SubtitleTrackOf(format, stream, out.isSubtitleContainer));
            if (out.isSubtitleContainer) {
                break; // a subtitle file is one track
            }
        }
    }

    const bool transcodable =
        video != nullptr ? Decodable(video) : !out.audioTracksHighLevel.empty();
    for (int p = 0; p < nvt::_NP_count_; ++p) {
        out.profiles[p] = transcodable && Capabilities::Get().ProfileSupported(p);
    }

    const AVStream* picture = video != nullptr ? video : cover;
    if (thumbnail != nullptr && picture != nullptr) {
        const ThumbnailSize size =
            WriteThumbnail(format, picture->index, out.angle, *thumbnail, stop);
        out.thumbWidth = size.width;
        out.thumbHeight = size.height;
    }
    if (stop.StopRequested()) {
        result.err = nvt::Aborted;
    } else if (missingAc3Decoder) {
        result.err = nvt::ENG_NO_AC3_DEC;
    }
    LogLine(Severity::Header, "%s: %s, %u s, %zu video, %zu audio, %zu subtitle track(s)",
            path.c_str(), out.containerFormatName.c_str(), result.duration, out.videoTracks.size(),
            out.audioTracks.size(), out.subtitleTracks.size());
    return result;
}

bool Delivers(nvt::Result err) {
    return err == nvt::SUCCESS || err == nvt::ENG_NO_AC3_DEC;
}

TBS::AnalyzeResponse Failure(const TBS::AnalyzeRequest& request, nvt::Result err) {
    TBS::AnalyzeResponse response;
    response.inputFile = request.inputFile;
    response.err = static_cast<unsigned>(err);
    LogLine(Severity::Error, "analysis of %s failed: %s", request.inputFile.c_str(),
            nvt::EnumName<nvt::Result>(err));
    return response;
}

TBS::AnalyzeResponse AnalyseChain(const TBS::AnalyzeRequest& request, const Playlist& list,
                                  const ThumbnailRequest* thumbnail, const StopToken& stop,
                                  OpenedFiles& files) {
    TBS::SSourceFileList chain;
    chain.fileList.push_back(TBS::SSourceFile{kPlaylistFormat, request.inputFile});
    std::vector<unsigned> durations;
    std::vector<uint64_t> sizes;
    FileAnalysis first;
    for (size_t i = 0; i < list.files.size(); ++i) {
        if (stop.StopRequested()) {
            return Failure(request, nvt::Aborted);
        }
        const std::string& file = list.files[i];
        if (ReadPlaylist(file).isPlaylist) {
            return Failure(request, nvt::ENG_INVALID_INPUT_ERR); // no lists within lists
        }
        FileAnalysis part =
            AnalyseFile(file, i == 0 ? thumbnail : nullptr, stop, files, list.trims[i]);
        if (!Delivers(part.err)) {
            return Failure(request, part.err);
        }
        if (i != 0) {
            const nvt::Result join =
                nvt::JoinRule(nvt::JoinFactsOf(first.fields), nvt::JoinFactsOf(part.fields),
                              nvt::AudioTrackCount::Same);
            if (join != nvt::SUCCESS) {
                return Failure(request, join);
            }
        }
        durations.push_back(part.duration);
        sizes.push_back(part.size);
        chain.fileList.push_back(TBS::SSourceFile{kMediaFileFormat, file});
        if (i == 0) {
            first = std::move(part);
        }
    }
    TBS::AnalyzeResponse response = std::move(first.fields);
    response.err = static_cast<unsigned>(first.err);
    response.inputFile = request.inputFile;
    unsigned total = 0;
    for (unsigned d : durations) {
        total += d;
    }
    response.duration.push_back(total);
    response.inputFileSize.push_back(NorvOS::InspectPath(request.inputFile).size);
    response.duration.insert(response.duration.end(), durations.begin(), durations.end());
    response.inputFileSize.insert(response.inputFileSize.end(), sizes.begin(), sizes.end());
    response.srcFileListList.push_back(chain);
    return response;
}

} // namespace

std::string ContainerName(const std::string& demuxerNames, const std::string& path) {
    const std::string extension = LowerExtension(path);
    std::string first;
    size_t start = 0;
    while (start <= demuxerNames.size()) {
        size_t end = demuxerNames.find(',', start);
        if (end == std::string::npos) {
            end = demuxerNames.size();
        }
        const std::string name = demuxerNames.substr(start, end - start);
        if (!extension.empty() && name == extension) {
            return name;
        }
        if (first.empty()) {
            first = name;
        }
        start = end + 1;
    }
    return first;
}

TBS::AnalyzeResponse Analyze(const TBS::AnalyzeRequest& request, const StopToken& stop) {
    OpenedFiles files(stop);
    return Analyze(request, stop, files);
}

TBS::AnalyzeResponse Analyze(const TBS::AnalyzeRequest& request, const StopToken& stop,
                             OpenedFiles& files) {
    LogLine(Severity::Info, "analysing %s", request.inputFile.c_str());
    ThumbnailRequest thumbnail;
    thumbnail.path = request.screenshotFilename;
    thumbnail.maxWidth = std::max(0, request.widthThumbnailMax);
    thumbnail.maxHeight = std::max(0, request.heightThumbnailMax);
    const ThumbnailRequest* wanted = thumbnail.path.empty() ? nullptr : &thumbnail;

    const Playlist list = ReadPlaylist(request.inputFile);
    if (list.isPlaylist) {
        if (list.err != nvt::SUCCESS) {
            return Failure(request, list.err);
        }
        return AnalyseChain(request, list, wanted, stop, files);
    }
    FileAnalysis file = AnalyseFile(request.inputFile, wanted, stop, files);
    if (!Delivers(file.err)) {
        return Failure(request, file.err);
    }
    TBS::AnalyzeResponse response = std::move(file.fields);
    response.err = static_cast<unsigned>(file.err);
    response.inputFile = request.inputFile;
    response.duration.push_back(file.duration);
    response.inputFileSize.push_back(file.size);
    TBS::SSourceFileList chain;
    chain.fileList.push_back(TBS::SSourceFile{kMediaFileFormat, request.inputFile});
    response.srcFileListList.push_back(chain);
    return response;
}

} // namespace norv_engine
