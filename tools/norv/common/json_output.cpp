#include "common/json_output.h"

#include <atomic>
#include <cstdio>

#include "common/settings.h"

namespace norv {

namespace {

template <class E> Json Names(const std::vector<E>& values) {
    Json names = Json::array();
    for (E value : values) {
        names.push_back(nvt::EnumName<E>(value));
    }
    return names;
}

Json AudioTrackJson(nvt::ISourceMediaAudioTrack& track) {
    nvt::WideString name, language;
    int32_t id = 0, codec = -1, channels = 0, rate = 0, bits = 0;
    double bitrate = 0;
    track.GetName(name);
    track.GetLanguage(language);
    track.GetID(&id);
    track.GetCodec(&codec);
    track.GetChannelCount(&channels);
    track.GetSampleRate(&rate);
    track.GetBitsPerSample(&bits);
    track.GetBitrate(&bitrate);
    return Json{{"id", id},
                {"name", Narrow(name)},
                {"codec", nvt::EnumName<nvt::AudioCodec>(codec)},
                {"language", Narrow(language)},
                {"channels", channels},
                {"sample_rate", rate},
                {"bits_per_sample", bits},
                {"bitrate", bitrate}};
}

// The audio tracks a getter of ISourceMedia hands out, count first.
template <class Count, class Get> Json AudioTracksJson(Count count, Get get) {
    Json tracks = Json::array();
    int32_t n = 0;
    count(&n);
    for (int32_t i = 0; i < n; ++i) {
        nvt::ISourceMediaAudioTrack* raw = nullptr;
        if (get(static_cast<uint32_t>(i), &raw) == nvt::SUCCESS && raw != nullptr) {
            tracks.push_back(AudioTrackJson(*Adopt(raw)));
        }
    }
    return tracks;
}

Json VideoTracksJson(nvt::ISourceMedia& source) {
    Json tracks = Json::array();
    int32_t n = 0;
    source.GetVideoTrackCount(&n);
    for (int32_t i = 0; i < n; ++i) {
        nvt::ISourceMediaVideoTrack* raw = nullptr;
        if (source.GetVideoTrack(static_cast<uint32_t>(i), &raw) != nvt::SUCCESS) {
            continue;
        }
        const Ptr<nvt::ISourceMediaVideoTrack> track = Adopt(raw);
        int32_t id = 0, codec = -1, width = 0, height = 0;
        double fps = 0, aspect = 0, bitrate = 0;
        track->GetID(&id);
        track->GetCodec(&codec);
        track->GetWidth(&width);
        track->GetHeight(&height);
        track->GetFrameRate(&fps);
        track->GetAspectRatio(&aspect);
        track->GetBitrate(&bitrate);
        tracks.push_back(Json{{"id", id},
                              {"codec", nvt::EnumName<nvt::VideoCodec>(codec)},
                              {"width", width},
                              {"height", height},
                              {"frame_rate", fps},
                              {"aspect", aspect},
                              {"bitrate", bitrate},
                              {"angle", track->GetAngle()}});
    }
    return tracks;
}

Json SubtitleTracksJson(nvt::ISourceMedia& source) {
    Json tracks = Json::array();
    int32_t n = 0;
    source.GetSubtitleTrackCount(&n);
    for (int32_t i = 0; i < n; ++i) {
        nvt::ISourceMediaSubtitleTrack* raw = nullptr;
        if (source.GetSubtitleTrack(static_cast<uint32_t>(i), &raw) != nvt::SUCCESS) {
            continue;
        }
        const Ptr<nvt::ISourceMediaSubtitleTrack> track = Adopt(raw);
        nvt::WideString name, language;
        int32_t id = 0, type = nvt::ST_INVALID;
        track->GetName(name);
        track->GetLanguage(language);
        track->GetID(&id);
        track->GetSubtitleType(&type);
        tracks.push_back(Json{{"id", id},
                              {"name", Narrow(name)},
                              {"language", Narrow(language)},
                              {"type", nvt::EnumName<nvt::SubtitleType>(type)}});
    }
    return tracks;
}

} // namespace

Json EngineInfoJson(nvt::ITranscodeEngineInfo& info, const std::string& location) {
    std::string version;
    std::vector<bool> supported;
    std::vector<std::string> formats, audio, subtitles;
    std::vector<nvt::HWAcceleration> acceleration;
    info.GetVersion(version);
    info.GetSupportedProfiles(supported);
    info.GetSupportedFormats(formats);
    info.GetSupportedAudio(audio);
    info.GetSupportedSubtitles(subtitles);
    info.GetAcceleration(acceleration);
    Json codePages = Json::object();
    for (const auto& entry : info.GetLocalSystemCodePages()) {
        codePages[entry.first] = entry.second;
    }
    Json profiles = Json::array();
    for (int32_t p = 0; p < nvt::_NP_count_; ++p) {
        std::vector<nvt::AudioCodec> codecs;
        info.GetSupportedOutputCodecs(static_cast<nvt::NorvProfile>(p), codecs);
        profiles.push_back(Json{{"id", p},
                                {"name", nvt::EnumName<nvt::NorvProfile>(p)},
                                {"supported", p < static_cast<int32_t>(supported.size()) &&
                                                  supported[static_cast<size_t>(p)]},
                                {"output_audio_codecs", Names(codecs)}});
    }
    return Json{{"engine", location},      {"version", version},
                {"formats", formats},      {"audio", audio},
                {"subtitles", subtitles},  {"acceleration", Names(acceleration)},
                {"code_pages", codePages}, {"profiles", profiles}};
}

Json ProfileJson(nvt::NorvProfile profile, nvt::ITranscodeEngineInfo* info, double frameRate) {
    nvt::ITranscodeProfile* raw = nullptr;
    Check(CreateTranscodeProfile(profile, frameRate, &raw),
          std::string("cannot make profile ") + nvt::EnumName<nvt::NorvProfile>(profile));
    const Ptr<nvt::ITranscodeProfile> p = Adopt(raw);
    nvt::WideString displayName, description;
    p->GetDisplayName(displayName);
    p->GetDescription(description, info);
    uint32_t minW = 0, minH = 0, maxW = 0, maxH = 0, maxKbps = 0;
    double maxFps = 0;
    p->GetMinWidth(&minW);
    p->GetMinHeight(&minH);
    p->GetMaxWidth(&maxW);
    p->GetMaxHeight(&maxH);
    p->GetMaxFrameRate(&maxFps);
    p->GetMaxVideoBitrateKbps(&maxKbps);
    uint32_t vMin = 0, vDef = 0, vMax = 0, aMin = 0, aDef = 0, aMax = 0;
    p->GetMinVideoBitrate(maxW, maxH, maxFps, &vMin);
    p->GetDefaultVideoBitrate(maxW, maxH, maxFps, &vDef);
    p->GetMaxVideoBitrate(maxW, maxH, maxFps, &vMax);
    p->GetMinAudioBitrate(&aMin);
    p->GetDefaultAudioBitrate(&aDef);
    p->GetMaxAudioBitrate(&aMax);
    std::vector<uint32_t> selectable;
    p->GetSelectableAudioBitrates(selectable);
    return Json{{"id", static_cast<int32_t>(profile)},
                {"name", nvt::EnumName<nvt::NorvProfile>(profile)},
                {"display_name", Narrow(displayName)},
                {"description", Narrow(description)},
                {"min_width", minW},
                {"min_height", minH},
                {"max_width", maxW},
                {"max_height", maxH},
                {"max_frame_rate", maxFps},
                {"max_video_kbps", maxKbps},
                {"video_bitrate", {{"min", vMin}, {"default", vDef}, {"max", vMax}}},
                {"audio_kbps",
                 {{"min", aMin}, {"default", aDef}, {"max", aMax}, {"selectable", selectable}}}};
}

Json SourceJson(nvt::ISourceMedia& source) {
    nvt::WideString path, title, container;
    uint64_t duration = 0, size = 0;
    source.GetFilePath(path);
    source.GetTitle(title);
    source.GetContainerFormatName(container);
    source.GetDuration(&duration);
    source.GetFileSize(&size);
    Json profiles = Json::array();
    for (int32_t p = 0; p < nvt::_NP_count_; ++p) {
        bool possible = false;
        if (source.GetProfileFlag(static_cast<nvt::NorvProfile>(p), &possible) == nvt::SUCCESS &&
            possible) {
            profiles.push_back(nvt::EnumName<nvt::NorvProfile>(p));
        }
    }
    using nvt::ISourceMediaAudioTrack;
    return Json{
        {"path", Narrow(path)},
        {"title", Narrow(title)},
        {"container", Narrow(container)},
        {"duration_ms", duration},
        {"size", size},
        {"audio_container", source.IsAudioContainer()},
        {"subtitle_container", source.IsSubtitleContainer()},
        {"video", VideoTracksJson(source)},
        {"audio", AudioTracksJson([&](int32_t* n) { return source.GetAudioTrackCount(n); },
                                  [&](uint32_t i, ISourceMediaAudioTrack** t) {
                                      return source.GetAudioTrack(i, t);
                                  })},
        {"high_level_audio",
         AudioTracksJson([&](int32_t* n) { return source.GetHighLevelAudioTrackCount(n); },
                         [&](uint32_t i, ISourceMediaAudioTrack** t) {
                             return source.GetHighLevelAudioTrack(i, t);
                         })},
        {"unsupported_audio",
         AudioTracksJson([&](int32_t* n) { return source.GetUnsupportedAudioTrackCount(n); },
                         [&](uint32_t i, ISourceMediaAudioTrack** t) {
                             return source.GetUnsupportedAudioTrack(i, t);
                         })},
        {"subtitles", SubtitleTracksJson(source)},
        {"profiles", profiles}};
}

Json PropertiesJson(nvt::ITranscodeOutputProperties& properties) {
    uint32_t width = 0, height = 0, trickW = 0, trickH = 0, minKbps = 0, maxKbps = 0;
    uint32_t trickKbps = 0, aspectNum = 1, aspectDen = 1;
    uint64_t videoKbps = 0, size = 0, minimum = 0;
    int32_t seconds = 0;
    bool unreachable = false;
    std::vector<uint32_t> audioKbps;
    properties.GetResolution(&width, &height);
    properties.GetTrickResolution(&trickW, &trickH);
    properties.GetBitrates(&videoKbps, audioKbps);
    properties.GetVideoBitrateRange(&minKbps, &maxKbps);
    properties.GetTrickVideoBitrate(&trickKbps);
    properties.GetAspectRatio(&aspectNum, &aspectDen);
    properties.GetEstimatedSize(&size);
    properties.GetMinimumSize(&minimum);
    properties.GetEstimatedTime(&seconds);
    properties.IsSizeLimitUnreachable(&unreachable);
    return Json{{"width", width},
                {"height", height},
                {"aspect", std::to_string(aspectNum) + ":" + std::to_string(aspectDen)},
                {"video_kbps", videoKbps},
                {"video_kbps_range", {minKbps, maxKbps}},
                {"audio_kbps", audioKbps},
                {"trickplay", {{"width", trickW}, {"height", trickH}, {"video_kbps", trickKbps}}},
                {"estimated_size", size},
                {"minimum_size", minimum},
                {"estimated_seconds", seconds},
                {"size_limit_reachable", !unreachable}};
}

Json PresetJson(const std::string& path, const nvt::CustomPresetData& d) {
    Json codecs = Json::array();
    for (nvt::AudioCodec codec : d.trackCodecs) {
        codecs.push_back(nvt::EnumName<nvt::AudioCodec>(codec));
    }
    return Json{{"file", path},
                {"name", d.profileName},
                {"profile", nvt::EnumName<nvt::NorvProfile>(d.profileID)},
                {"created_ms", d.creationTime},
                {"width", d.resWidth},
                {"height", d.resHeight},
                {"video_bitrate", d.videoBitrate},
                {"audio_bitrates", d.audioBitrates},
                {"audio_passthrough", d.audioPassthrough},
                {"video_passthrough", d.videoPassthrough},
                {"size_limit", d.fileSizeLimit},
                {"priority", SettingPriorityName(d.prio)},
                {"aspect", d.enableAspectRatio},
                {"two_pass", d.enableVideo2passEncoding},
                {"crop",
                 {{"top", d.rect.top},
                  {"bottom", d.rect.bottom},
                  {"left", d.rect.left},
                  {"right", d.rect.right}}},
                {"trickplay",
                 {{"enabled", d.m_bEnableTrickplayTrack},
                  {"width", d.trickWidth},
                  {"height", d.trickHeight},
                  {"video_bitrate", d.trickVideoBitrate}}},
                {"hw_acceleration", d.enableHWAcceleration
                                        ? nvt::EnumName<nvt::HWAcceleration>(d.hwAcceleration)
                                        : "off"},
                {"track_codecs", codecs},
                {"hevc_quality", nvt::EnumName<nvt::HevcQualityLevel>(d.hevcQualityLevel)}};
}

Json PresetListJson(nvt::ICustomPresetFactory& factory, const std::string& folder) {
    nvt::ICustomPresetEnum* raw = nullptr;
    Check(factory.EnumeratePresets(Widen(folder), &raw), folder + ": cannot list");
    const Ptr<nvt::ICustomPresetEnum> presets = Adopt(raw);
    Json all = Json::array();
    for (uint32_t i = 0; i < presets->GetCount(); ++i) {
        nvt::ICustomPreset* item = nullptr;
        nvt::CustomPresetData data;
        if (presets->GetItem(i, &item) == nvt::SUCCESS && item != nullptr) {
            const Ptr<nvt::ICustomPreset> preset = Adopt(item);
            if (preset->GetData(data) == nvt::SUCCESS) {
                all.push_back(PresetJson(Narrow(preset->GetFilePath()), data));
            }
        }
    }
    return all;
}

Json RunEventJson(RunEvent event, const RunStatus& status, nvt::Result result) {
    Json value{{"event", EventName(event)}};
    if (event != RunEvent::Started) {
        value["source"] = status.sourcePath;
        value["source_index"] = status.source;
        value["sources"] = status.sources;
        value["percent"] = status.percent;
        value["stage"] = status.stage;
        value["stages"] = status.stages;
        value["stage_kind"] = status.stageKind;
        value["elapsed"] = status.elapsed;
        value["remaining"] = status.remaining >= 0 ? Json(status.remaining) : Json();
        value["speed"] = status.speed > 0 ? Json(status.speed) : Json();
    }
    if (event == RunEvent::Failed || event == RunEvent::Cancelled) {
        value["result"] = nvt::EnumName<nvt::Result>(result);
        value["code"] = static_cast<int>(result);
    }
    return value;
}

namespace {

std::atomic<std::FILE*> gJsonStream{nullptr};

} // namespace

void SetJsonStream(std::FILE* stream) {
    gJsonStream = stream;
}

void PrintJson(const Json& value) {
    std::FILE* stream = gJsonStream.load();
    stream = stream != nullptr ? stream : stdout;
    // One call per line: stdio locks the stream around each, so lines from
    // several threads never interleave.
    const std::string line = value.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
    std::fputs(line.c_str(), stream);
    std::fflush(stream);
}

} // namespace norv
