#include "technical_info.h"

#include <cstdio>
#include <fstream>
#include <sstream>

#include "capabilities.h"
#include "code_pages.h"
#include "ffmpeg.h"
#include "norv/enum_names.h"
#include "output/profile_limits.h"
#include "sandbox.h"

#ifndef NORV_ENGINE_VERSION
#define NORV_ENGINE_VERSION "0.0.0"
#endif

namespace norv_engine {

namespace {

std::string LibraryVersion(unsigned version) {
    char text[32];
    std::snprintf(text, sizeof text, "%u.%u.%u", AV_VERSION_MAJOR(version),
                  AV_VERSION_MINOR(version), AV_VERSION_MICRO(version));
    return text;
}

struct Library {
    const char* name;
    unsigned (*version)();
    const char* (*configuration)();
};

const Library kLibraries[] = {
    {"libavformat", avformat_version, avformat_configuration},
    {"libavcodec", avcodec_version, avcodec_configuration},
    {"libavfilter", avfilter_version, avfilter_configuration},
    {"libswscale", swscale_version, swscale_configuration},
    {"libswresample", swresample_version, swresample_configuration},
    {"libavutil", avutil_version, avutil_configuration},
};

std::string Join(const std::vector<std::string>& items) {
    std::string text;
    for (const std::string& item : items) {
        text += (text.empty() ? "" : ", ") + item;
    }
    return text;
}

void ListCodecs(std::ostream& out, AVMediaType type, bool encoders) {
    void* cursor = nullptr;
    std::vector<std::string> names;
    while (const AVCodec* codec = av_codec_iterate(&cursor)) {
        if (codec->type == type &&
            (encoders ? av_codec_is_encoder(codec) : av_codec_is_decoder(codec))) {
            names.emplace_back(codec->name);
        }
    }
    out << Join(names) << "\n";
}

} // namespace

std::string EngineVersion() {
    std::vector<std::string> libraries;
    for (const Library& library : kLibraries) {
        libraries.push_back(std::string(library.name) + " " + LibraryVersion(library.version()));
    }
    return std::string(NORV_ENGINE_VERSION) + " (" + Join(libraries) + ")";
}

TBS::TechnicalInfoResponse TechnicalInfo() {
    const Capabilities& caps = Capabilities::Get();
    TBS::TechnicalInfoResponse info;
    info.sVersion = EngineVersion();
    for (int p = 0; p < nvt::_NP_count_; ++p) {
        info.vecSupportedProfiles.push_back(caps.ProfileSupported(p));
        if (caps.ProfileSupported(p)) {
            info.mapSupportedOutputCodecs[static_cast<nvt::NorvProfile>(p)] =
                caps.OutputAudioCodecs(p);
        }
    }
    info.vecSupportedFormats = caps.InputFormatLabels(InputKind::Container);
    info.vecSupportedAudio = caps.InputFormatLabels(InputKind::Audio);
    info.vecSupportedSubtitles = caps.InputFormatLabels(InputKind::Subtitle);
    info.vecAcceleration = ProbeAcceleration();
    info.mapLocalSystemCodePages = SupportedCodePages();
    return info;
}

bool WriteTechnicalDetails(const std::string& path, const TBS::TechnicalInfoResponse& info) {
    std::ostringstream out;
    out << "NorvEngine technical details\n\nVersion: " << info.sVersion
        << "\nSandbox: " << SandboxSummary() << "\n\nProfiles:\n";
    for (int p = 0; p < nvt::_NP_count_; ++p) {
        const ProfileRecipe* recipe = RecipeOf(p);
        const bool supported =
            p < static_cast<int>(info.vecSupportedProfiles.size()) && info.vecSupportedProfiles[p];
        out << "  " << p << " " << nvt::ProfileDisplayName(p) << " ("
            << nvt::ProfileContainerLabel(p) << "): " << (supported ? "supported" : "not supported")
            << "; muxer " << recipe->muxer << ", video encoder " << recipe->videoEncoder
            << ", audio";
        const auto codecs = info.mapSupportedOutputCodecs.find(static_cast<nvt::NorvProfile>(p));
        if (codecs != info.mapSupportedOutputCodecs.end()) {
            for (nvt::AudioCodec codec : codecs->second) {
                out << " " << nvt::EnumName<nvt::AudioCodec>(codec);
            }
        }
        out << "\n";
    }
    out << "\nInput formats: " << Join(info.vecSupportedFormats)
        << "\nAudio formats: " << Join(info.vecSupportedAudio)
        << "\nSubtitle formats: " << Join(info.vecSupportedSubtitles) << "\nAcceleration:";
    for (nvt::HWAcceleration kind : info.vecAcceleration) {
        out << " " << nvt::EnumName<nvt::HWAcceleration>(kind);
    }
    out << "\nCode pages:";
    for (const auto& page : info.mapLocalSystemCodePages) {
        out << " " << page.first << "=" << page.second;
    }
    out << "\n\nVideo encoders: ";
    ListCodecs(out, AVMEDIA_TYPE_VIDEO, true);
    out << "Audio encoders: ";
    ListCodecs(out, AVMEDIA_TYPE_AUDIO, true);
    out << "Video decoders: ";
    ListCodecs(out, AVMEDIA_TYPE_VIDEO, false);
    out << "Audio decoders: ";
    ListCodecs(out, AVMEDIA_TYPE_AUDIO, false);
    out << "Subtitle decoders: ";
    ListCodecs(out, AVMEDIA_TYPE_SUBTITLE, false);
    out << "\nFFmpeg libraries:\n";
    for (const Library& library : kLibraries) {
        out << "  " << library.name << " " << LibraryVersion(library.version()) << "\n";
    }
    out << "\nFFmpeg build configuration:\n  " << avformat_configuration()
        << "\n\nLicense: " << avformat_license() << "\n";
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << out.str();
    file.close();
    return static_cast<bool>(file);
}

} // namespace norv_engine
