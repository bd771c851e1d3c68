#include "session/request_builder.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "media/source_media.h"
#include "output/output_settings.h"
#include "platform/text.h"

namespace nvt {

namespace {

// Subtitle selection values: below the first source's own track count, its
// own tracks; from there to 100, separate subtitle files; from 100 to 1000,
// the first source's tracks by name; from 1000 on, tracks of SMI files.
constexpr uint32_t kNamedTrackBase = 100;
constexpr uint32_t kSmiTrackBase = 1000;

std::string PathOf(ISourceMedia& source) {
    WideString path;
    source.GetFilePath(path);
    return WideToUtf8(path);
}

using CountGetter = Result (ISourceMedia::*)(int32_t*);
using AudioTrackGetter = Result (ISourceMedia::*)(uint32_t, ISourceMediaAudioTrack**);

int32_t CountOf(CountGetter getCount, ISourceMedia& source) {
    int32_t count = 0;
    if ((source.*getCount)(&count) != SUCCESS || count < 0) {
        return 0;
    }
    return count;
}

// Appends the codec of every audio track of one list of source.
void AppendAudioCodecs(ISourceMedia& source, CountGetter getCount, AudioTrackGetter getTrack,
                       std::vector<AudioCodec>& codecs) {
    const int32_t count = CountOf(getCount, source);
    for (int32_t i = 0; i < count; ++i) {
        HeldRef<ISourceMediaAudioTrack> track;
        int32_t codec = AC_UNKNOWN;
        if ((source.*getTrack)(static_cast<uint32_t>(i), track.Receive()) == SUCCESS && track &&
            track->GetCodec(&codec) == SUCCESS) {
            codecs.push_back(static_cast<AudioCodec>(codec));
        }
    }
}

void AppendAllAudioCodecs(ISourceMedia& source, TBS::TranscodeRequest& request) {
    AppendAudioCodecs(source, &ISourceMedia::GetAudioTrackCount, &ISourceMedia::GetAudioTrack,
                      request.srcAudioCodecs);
    AppendAudioCodecs(source, &ISourceMedia::GetHighLevelAudioTrackCount,
                      &ISourceMedia::GetHighLevelAudioTrack, request.srcAudioCodecsHighLevel);
}

// The per-track facts of the first source's audio tracks.
void AppendFirstSourceAudio(ISourceMedia& first, TBS::TranscodeRequest& request) {
    const int32_t count = CountOf(&ISourceMedia::GetAudioTrackCount, first);
    for (int32_t i = 0; i < count; ++i) {
        HeldRef<ISourceMediaAudioTrack> track;
        if (first.GetAudioTrack(static_cast<uint32_t>(i), track.Receive()) != SUCCESS || !track) {
            continue;
        }
        int32_t id = 0;
        if (track->GetID(&id) == SUCCESS) {
            request.audioIDs.push_back(id);
        }
        WideString language;
        if (track->GetLanguage(language) == SUCCESS) {
            request.audioLangCodes.push_back(WideToUtf8(language));
        }
    }
    AppendAllAudioCodecs(first, request);
}

// One subtitle track of a source, when it exists.
struct SubtitleTrackText {
    std::string language;
    std::string name;
};

bool ReadSubtitleTrack(ISourceMedia& source, uint32_t index, SubtitleTrackText& out) {
    HeldRef<ISourceMediaSubtitleTrack> track;
    if (source.GetSubtitleTrack(index, track.Receive()) != SUCCESS || !track) {
        return false;
    }
    WideString text;
    if (track->GetLanguage(text) == SUCCESS) {
        out.language = WideToUtf8(text);
    }
    text.clear();
    if (track->GetName(text) == SUCCESS) {
        out.name = WideToUtf8(text);
    }
    return true;
}

// The extra sources that are subtitle files, split into SMI files and the
// others, each in list order.
struct SubtitleFiles {
    std::vector<ISourceMedia*> separate;
    std::vector<ISourceMedia*> smi;
};

SubtitleFiles CollectSubtitleFiles(const SourceList& extraSources) {
    SubtitleFiles files;
    for (const auto& extra : extraSources) {
        if (!extra || !extra->IsSubtitleContainer()) {
            continue;
        }
        int32_t type = ST_INVALID;
        HeldRef<ISourceMediaSubtitleTrack> first;
        if (extra->GetSubtitleTrack(0, first.Receive()) != SUCCESS || !first ||
            first->GetSubtitleType(&type) != SUCCESS) {
            type = ST_INVALID;
        }
        (type == SC_SMI_EXTERNAL ? files.smi : files.separate).push_back(extra.get());
    }
    return files;
}

void AppendSubtitle(TBS::TranscodeRequest& request, std::string name, int id, std::string language,
                    int codePage) {
    request.subtitleTrackNames.push_back(std::move(name));
    request.subtitleIDs.push_back(id);
    request.subtitleLangCodes.push_back(std::move(language));
    request.subtitleCodePages.push_back(codePage);
}

// Resolves every selected subtitle to a track or file. A value that names
// nothing adds nothing.
void ResolveSubtitles(ISourceMedia& first, std::size_t sourceCount, const SourceList& extraSources,
                      const std::vector<uint32_t>& codePages, TBS::TranscodeRequest& request) {
    if (request.subtitleTracks.empty()) {
        return;
    }
    const uint32_t own =
        static_cast<uint32_t>(CountOf(&ISourceMedia::GetSubtitleTrackCount, first));
    const SubtitleFiles files = CollectSubtitleFiles(extraSources);
    for (std::size_t e = 0; e < request.subtitleTracks.size(); ++e) {
        const uint32_t x = request.subtitleTracks[e];
        const int codePage = e < codePages.size() ? static_cast<int>(codePages[e]) : 0;
        SubtitleTrackText track;
        if (x < own) {
            if (ReadSubtitleTrack(first, x, track)) {
                AppendSubtitle(request, std::string(), static_cast<int>(x), track.language, 0);
            }
        } else if (x < kNamedTrackBase) {
            const uint32_t index = x - own;
            if (index < files.separate.size()) {
                ISourceMedia& file = *files.separate[index];
                ReadSubtitleTrack(file, 0, track); // a file without tracks has no language
                AppendSubtitle(request, PathOf(file), 0, track.language, codePage);
            }
        } else if (x < kSmiTrackBase) {
            const uint32_t index = x % kNamedTrackBase;
            if (ReadSubtitleTrack(first, index, track)) {
                AppendSubtitle(request, track.name, static_cast<int>(index), track.language,
                               codePage);
            }
        } else {
            const uint32_t index = x % kSmiTrackBase;
            // The thousands count the joined sources first, then the SMI files.
            const int64_t j =
                static_cast<int64_t>(x / kSmiTrackBase) - static_cast<int64_t>(sourceCount) - 1;
            if (j >= 0 && static_cast<uint64_t>(j) < files.smi.size()) {
                ISourceMedia& file = *files.smi[static_cast<std::size_t>(j)];
                if (ReadSubtitleTrack(file, index, track)) {
                    AppendSubtitle(request, PathOf(file), static_cast<int>(index), track.language,
                                   codePage);
                }
            }
        }
    }
}

void Build(const TranscodeOutputSettings& settings, const SourceList& sources,
           const SourceList& extraSources, const WideString& outputFile, const SLoggerParam& logger,
           TBS::TranscodeRequest& request) {
    const TBS::TranscodeRequest& tmpl = settings.Request();
    const CustomPresetData& preset = tmpl.CustomPresetData;
    ISourceMedia& first = *sources.front();

    request = tmpl;
    request.outputFile = WideToUtf8(outputFile);
    request.loggerParam = logger;
    request.inputFiles.clear();
    request.audioTracks.clear();
    request.subtitleTracks.clear();
    request.srcVideoCodecs.clear();
    const bool multi = preset.profileID != NP_Mobile;

    for (const auto& source : sources) {
        if (!source) {
            continue;
        }
        TBS::SSourceFileList files;
        if (const SourceMedia* media = AsSourceMedia(source.get())) {
            files.fileList = media->fileList;
        }
        request.srcFileListList.push_back(std::move(files));
        HeldRef<ISourceMediaVideoTrack> video;
        int32_t codec = VC_UNKNOWN;
        if (source->GetVideoTrack(0, video.Receive()) == SUCCESS && video &&
            video->GetCodec(&codec) == SUCCESS) {
            request.srcVideoCodecs.push_back(static_cast<VideoCodec>(codec));
        }
        request.inputFiles.push_back(PathOf(*source));
    }

    AppendFirstSourceAudio(first, request);
    for (const auto& extra : extraSources) {
        if (extra) {
            AppendAllAudioCodecs(*extra, request);
        }
    }
    request.dstAudioCodecs = preset.trackCodecs;

    // The mobile profile carries one audio track only.
    const std::vector<uint32_t>& audioSelection = tmpl.audioTracks;
    if (multi) {
        request.audioTracks = audioSelection;
        request.audioTracksHighLevel = audioSelection;
    } else if (!audioSelection.empty()) {
        request.audioTracks.push_back(audioSelection.front());
        request.audioTracksHighLevel.push_back(audioSelection.front());
    }
    request.CustomPresetData.audioBitrates = preset.audioBitrates;

    // A burnt-in subtitle, and the mobile profile, take one subtitle only.
    const std::vector<uint32_t>& subtitleSelection = settings.SubtitleSelection();
    if (!multi || tmpl.subtitleBurnFirstTrack) {
        if (!subtitleSelection.empty()) {
            request.subtitleTracks.push_back(subtitleSelection.front());
        }
    } else {
        request.subtitleTracks = subtitleSelection;
    }
    ResolveSubtitles(first, sources.size(), extraSources, settings.SubtitleCodePages(), request);

    for (const auto& extra : extraSources) {
        if (extra && extra->IsAudioContainer()) {
            request.extraFiles.push_back(PathOf(*extra));
        }
    }

    // Bits per second in the settings, units of 1024 bits per second on the wire.
    for (uint32_t& bitrate : request.CustomPresetData.audioBitrates) {
        bitrate >>= 10;
    }
    request.CustomPresetData.videoBitrate >>= 10;
    request.angle = tmpl.angle;
    request.flip = tmpl.flip;
}

} // namespace

bool BuildTranscodeRequest(const TranscodeOutputSettings& settings, const SourceList& sources,
                           const SourceList& extraSources, const WideString& outputFile,
                           const SLoggerParam& logger, TBS::TranscodeRequest& out) {
    if (sources.empty() || !sources.front()) {
        return false;
    }
    try {
        TBS::TranscodeRequest request;
        Build(settings, sources, extraSources, outputFile, logger, request);
        out = std::move(request);
        return true;
    } catch (...) {
        return false;
    }
}

} // namespace nvt
