// The first half of the plan: the sources as the library saw them, the
// files they stand for, and the library's own derivation of the output.
#include <algorithm>
#include <map>

#include "analysis.h"
#include "engine_log.h"
#include "media/analysed_sources.h"
#include "platform/path_info.h"
#include "playlist.h"
#include "transcode_plan.h"

namespace norv_engine {

namespace {

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

// The sources the library had, made again from this engine's own analysis
// of the same files: one analysis per file analysed, and per input the
// source of it that stands for the input: the entry of its chain the input
// takes by its position (a list may name a file more than once), else the
// one of its path.
struct Sources {
    std::map<std::string, nvt::AnalysedSources> analysed;
    std::vector<nvt::SourceFiles> files; ///< per input; points into analysed
    nvt::SourceFacts first;              ///< the first input's
};

Status RebuildSources(const TBS::TranscodeRequest& request, OpenedFiles& files, Sources& sources) {
    std::vector<nvt::SourceFiles> asked(request.inputFiles.size());
    for (size_t i = 0; i < asked.size(); ++i) {
        asked[i].path = request.inputFiles[i];
        if (i < request.srcFileListList.size()) {
            asked[i].fileList = &request.srcFileListList[i].fileList;
        }
    }
    const std::vector<size_t> entries = nvt::ChainEntries(asked);
    std::map<std::string, nvt::AnalysedSources>& analysed = sources.analysed;
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
            found = analysed.try_emplace(target, target, response).first;
        }
        const size_t chosen = found->second.SourceFor(entries[i], request.inputFiles[i]);
        sources.files.push_back(found->second.Files(chosen));
        if (i == 0) {
            sources.first = found->second.Facts(chosen);
        }
    }
    return {};
}

// The part of each joined file that plays: a file that is an entry of an
// ffconcat list takes that entry's trims.
void AttachTrims(const TBS::TranscodeRequest& request, const std::vector<nvt::JoinedFile>& joined,
                 std::vector<LaneFile>& files) {
    std::map<std::string, Playlist> lists;
    for (size_t j = 0; j < joined.size() && j < files.size(); ++j) {
        const nvt::JoinedFile& file = joined[j];
        if (file.entry == nvt::kNoEntry || file.entry == 0 ||
            file.source >= request.inputFiles.size()) {
            continue;
        }
        const std::string head = AnalysedPath(request, file.source);
        auto list = lists.find(head);
        if (list == lists.end()) {
            list = lists.emplace(head, ReadPlaylist(head)).first;
        }
        const Playlist& entries = list->second;
        const size_t listed = file.entry - 1; // the chain starts with the list itself
        if (entries.isPlaylist && entries.err == nvt::SUCCESS && listed < entries.files.size() &&
            entries.files[listed] == file.path) {
            files[j].trims = entries.trims[listed];
        }
    }
}

// The extra sources as far as the derivation reads them: their total size.
uint64_t ExtraFileSize(const std::vector<std::string>& paths) {
    uint64_t total = 0;
    for (const std::string& path : paths) {
        total += NorvOS::InspectPath(path).size;
    }
    return total;
}

bool WritesAc3(nvt::NorvProfile profile) {
    const std::vector<nvt::AudioCodec>& codecs = Capabilities::Get().OutputAudioCodecs(profile);
    return std::find(codecs.begin(), codecs.end(), nvt::AC_AC3) != codecs.end();
}

Status Derive(const TBS::TranscodeRequest& request, const nvt::SourceFacts& first,
              uint64_t extraFileSize, uint64_t totalMs, Derived& derived) {
    nvt::CustomPresetData preset = request.CustomPresetData;
    preset.videoBitrate = ToSettingsUnits(preset.videoBitrate);
    for (uint32_t& bitrate : preset.audioBitrates) {
        bitrate = ToSettingsUnits(bitrate);
    }
    const bool ac3Writable = WritesAc3(preset.profileID);
    for (int attempt = 0; attempt < 2; ++attempt) {
        const nvt::OutputWishes wishes{preset, request.audioTracks, request.subtitleTracks};
        nvt::PrepareDerivation(first, extraFileSize, totalMs, wishes, ac3Writable, derived.summary,
                               derived.request);
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

    Sources sources;
    Status rebuilt = RebuildSources(request, files, sources);
    if (!rebuilt.ok()) {
        return rebuilt;
    }
    const std::vector<nvt::JoinedFile> joined = nvt::JoinedFiles(sources.files);
    for (const nvt::JoinedFile& file : joined) {
        plan.files.push_back(LaneFile{file.path, file.source});
    }
    AttachTrims(request, joined, plan.files);
    plan.extraAudioFiles = request.extraFiles;
    std::vector<std::string> extraPaths = request.extraFiles;
    for (const std::string& name : request.subtitleTrackNames) {
        if (NorvOS::InspectPath(name).kind == NorvOS::PathKind::RegularFile) {
            extraPaths.push_back(name);
        }
    }
    Derived derived;
    const uint64_t totalMs = nvt::TotalDurationMs(joined);
    Status made = Derive(request, sources.first, ExtraFileSize(extraPaths), totalMs, derived);
    if (!made.ok()) {
        return made;
    }
    const SettingsResult& r = derived.result;
    plan.expectedSeconds =
        nvt::EstimateTranscodeSeconds(totalMs, r.width, r.height, derived.summary.frameRate);
    LogLine(Severity::Info,
            "derived %ux%u, video %u kbps, %zu audio track(s), trick %ux%u at %u kbps, "
            "estimated %llu bytes%s",
            r.width, r.height, r.videoKbps, r.audioKbps.size(), r.trickWidth, r.trickHeight,
            r.trickKbps, static_cast<unsigned long long>(r.estimatedSize),
            r.sizeLimitUnreachable ? " (the size limit cannot be met)" : "");
    return PlanStreams(request, derived, files, plan);
}

} // namespace norv_engine
