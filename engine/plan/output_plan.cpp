// The first half of the plan: the sources as the library saw them, the
// files they stand for, and the library's own derivation of the output.
#include <map>

#include "analysis.h"
#include "api/engine_info.h"
#include "engine_log.h"
#include "media/analysis.h"
#include "norv/enum_names.h"
#include "platform/path_info.h"
#include "platform/text.h"
#include "playlist.h"
#include "session/joined_files.h"
#include "transcode_plan.h"

namespace norv_engine {

namespace {

using SourceList = nvt::SourceList;

// A bitrate of the request (units of 1024 bits per second) back in bits per
// second, as the output settings held it; the derivation takes it back.
uint32_t ToSettingsUnits(uint32_t value) {
    return value > (0xFFFFFFFFu >> 10) ? 0xFFFFFFFFu : value << 10;
}

// The file whose analysis gave the library source i: the chain's head when
// the source came from a chain, else the input itself.
std::string AnalysedPath(const TBS::TranscodeRequest& request, size_t i) {
    if (i < request.srcFileListList.size() && !request.srcFileListList[i].fileList.empty()) {
        return request.srcFileListList[i].fileList.front().source;
    }
    return request.inputFiles[i];
}

std::string Utf8Path(nvt::ISourceMedia& source) {
    nvt::WideString path;
    source.GetFilePath(path);
    return nvt::WideToUtf8(path);
}

// The sources the library had, made again from this engine's own analysis
// of the same files.
Status RebuildSources(const TBS::TranscodeRequest& request, OpenedFiles& files,
                      SourceList& sources) {
    std::map<std::string, std::vector<nvtl::RefCountedPtr<nvt::ISourceMedia>>> analysed;
    for (size_t i = 0; i < request.inputFiles.size(); ++i) {
        const std::string target = AnalysedPath(request, i);
        auto found = analysed.find(target);
        if (found == analysed.end()) {
            TBS::AnalyzeRequest ask;
            ask.inputFile = target;
            const TBS::AnalyzeResponse response = Analyze(ask, files.stop(), files);
            const auto err = static_cast<nvt::Result>(static_cast<int32_t>(response.err));
            if (!nvt::AnalysisDeliversSources(err)) {
                return Unreadable(target, err);
            }
            nvtl::RefCountedPtr<nvt::SourceMedia> first(
                new nvt::SourceMedia(nvt::Utf8ToWide(target)));
            nvt::FillFromAnalysis(response, *first);
            std::vector<nvtl::RefCountedPtr<nvt::ISourceMedia>> list;
            nvt::AppendAnalysedSources(*first, list);
            found = analysed.emplace(target, std::move(list)).first;
        }
        nvt::ISourceMedia* chosen = found->second.front().get();
        for (const auto& candidate : found->second) {
            if (Utf8Path(*candidate) == request.inputFiles[i]) {
                chosen = candidate.get();
                break;
            }
        }
        sources.emplace_back();
        sources.back() = chosen;
    }
    return {};
}

// The part of each joined file that plays: a file of a source that came
// from an ffconcat list takes the trims of the list's next entry naming it.
void AttachTrims(const TBS::TranscodeRequest& request, std::vector<LaneFile>& files) {
    std::map<std::string, Playlist> lists;
    std::map<std::pair<std::string, std::string>, size_t> next; // list, file -> entry
    for (LaneFile& file : files) {
        if (file.source >= request.inputFiles.size()) {
            continue;
        }
        const std::string head = AnalysedPath(request, file.source);
        auto list = lists.find(head);
        if (list == lists.end()) {
            list = lists.emplace(head, ReadPlaylist(head)).first;
        }
        const Playlist& entries = list->second;
        if (!entries.isPlaylist || entries.err != nvt::SUCCESS) {
            continue;
        }
        for (size_t& entry = next[{head, file.path}]; entry < entries.files.size(); ++entry) {
            if (entries.files[entry] == file.path) {
                file.trims = entries.trims[entry++];
                break;
            }
        }
    }
}

// The extra sources as far as the derivation reads them: their sizes.
SourceList ExtraSources(const std::vector<std::string>& paths) {
    SourceList extras;
    for (const std::string& path : paths) {
        nvtl::RefCountedPtr<nvt::SourceMedia> source(new nvt::SourceMedia(nvt::Utf8ToWide(path)));
        source->fileSize = NorvOS::InspectPath(path).size;
        extras.emplace_back();
        extras.back() = source.get();
    }
    return extras;
}

Status Derive(const TBS::TranscodeRequest& request, const SourceList& sources,
              const SourceList& extras, Derived& derived) {
    nvt::CustomPresetData preset = request.CustomPresetData;
    preset.videoBitrate = ToSettingsUnits(preset.videoBitrate);
    for (uint32_t& bitrate : preset.audioBitrates) {
        bitrate = ToSettingsUnits(bitrate);
    }
    nvtl::RefCountedPtr<nvt::TranscodeEngineInfo> info(new nvt::TranscodeEngineInfo());
    info->Response().mapSupportedOutputCodecs[preset.profileID] =
        Capabilities::Get().OutputAudioCodecs(preset.profileID);
    const uint64_t totalMs = nvt::TotalDurationMs(sources);
    for (int attempt = 0; attempt < 2; ++attempt) {
        const nvt::OutputWishes wishes{preset, request.audioTracks, request.subtitleTracks};
        if (nvt::PrepareSettingsDerivation(*sources.front(), extras, totalMs, wishes, info.get(),
                                           derived.summary, derived.request) != nvt::SUCCESS) {
            return {nvt::ENG_INVALID_VID_STREAM, "the first source has no video"};
        }
        if (DeriveTranscodeSettings(derived.summary, derived.request, derived.result)) {
            return {};
        }
        if (!preset.m_bEnableTrickplayTrack) {
            break;
        }
        // Trick play exists for one profile only; elsewhere it is left out.
        preset.m_bEnableTrickplayTrack = false;
    }
    return {nvt::ENG_INVALID_INPUT_ERR, "the output settings cannot be applied to these sources"};
}

} // namespace

Container ContainerOf(const char* muxer) {
    const std::string name = muxer;
    return name == "avi" ? Container::Avi : name == "mp4" ? Container::Mp4 : Container::Matroska;
}

Status MakePlan(const TBS::TranscodeRequest& request, OpenedFiles& files, TranscodePlan& plan) {
    const nvt::CustomPresetData& preset = request.CustomPresetData;
    plan.profile = preset.profileID;
    plan.recipe = RecipeOf(plan.profile);
    if (plan.recipe == nullptr) {
        return {nvt::ENG_OUTOFRANGE_ERR, "no output profile " + std::to_string(plan.profile)};
    }
    if (av_guess_format(plan.recipe->muxer, nullptr, nullptr) == nullptr ||
        avcodec_find_encoder_by_name(plan.recipe->videoEncoder) == nullptr) {
        return {nvt::ENG_NO_ENCODER_VID, std::string("no ") + plan.recipe->videoEncoder +
                                             " encoder or " + plan.recipe->muxer +
                                             " muxer in this engine"};
    }
    plan.container = ContainerOf(plan.recipe->muxer);
    if (request.inputFiles.empty()) {
        return {nvt::ENG_INVALID_INPUT_ERR, "no input files"};
    }
    plan.output = request.outputFile;
    plan.tempDir = request.tempDir;
    plan.useTempDir = request.useTempDir;
    plan.title = request.title;
    plan.sourceCount = request.inputFiles.size();

    SourceList sources;
    Status rebuilt = RebuildSources(request, files, sources);
    if (!rebuilt.ok()) {
        return rebuilt;
    }
    for (const nvt::JoinedFile& file : nvt::JoinedFiles(sources)) {
        plan.files.push_back(LaneFile{file.path, file.source});
    }
    AttachTrims(request, plan.files);
    plan.extraAudioFiles = request.extraFiles;
    std::vector<std::string> extraPaths = request.extraFiles;
    for (const std::string& name : request.subtitleTrackNames) {
        if (NorvOS::InspectPath(name).kind == NorvOS::PathKind::RegularFile) {
            extraPaths.push_back(name);
        }
    }
    Derived derived;
    Status made = Derive(request, sources, ExtraSources(extraPaths), derived);
    if (!made.ok()) {
        return made;
    }
    const SettingsResult& r = derived.result;
    plan.expectedSeconds = nvt::EstimateTranscodeSeconds(nvt::TotalDurationMs(sources), r.width,
                                                         r.height, derived.summary.frameRate);
    LogLine(Severity::Info,
            "derived %ux%u, video %u kbps, %zu audio track(s), trick %ux%u at %u kbps, "
            "estimated %llu bytes%s",
            r.width, r.height, r.videoKbps, r.audioKbps.size(), r.trickWidth, r.trickHeight,
            r.trickKbps, static_cast<unsigned long long>(r.estimatedSize),
            r.sizeLimitUnreachable ? " (the size limit cannot be met)" : "");
    return PlanStreams(request, derived, files, plan);
}

} // namespace norv_engine
