#include "capabilities.h"

#include "codec_map.h"
#include "engine_log.h"
#include "output/profile_limits.h"

namespace norv_engine {

namespace {

// Profiles 0-3: AVI with MPEG-4 Part 2 video; 4 and 8: Matroska with H.264;
// 5-7: MP4 with H.264; 9-11: Matroska with HEVC.
const ProfileRecipe kAviAsp = {
    "avi", "mpeg4", {{nvt::AC_MP3, "libmp3lame"}, {nvt::AC_AAC, "aac"}, {nvt::AC_AC3, "ac3"}}};
const ProfileRecipe kMkvH264 = {
    "matroska",
    "libx264",
    {{nvt::AC_AAC, "aac"}, {nvt::AC_AC3, "ac3"}, {nvt::AC_MP3, "libmp3lame"}}};
const ProfileRecipe kMp4H264 = {"mp4", "libx264", {{nvt::AC_AAC, "aac"}}};
const ProfileRecipe kMkvHevc = {
    "matroska", "libx265", {{nvt::AC_AAC, "aac"}, {nvt::AC_AC3, "ac3"}}};

const InputFormat kInputs[] = {
    {"avi", InputKind::Container, "avi", AV_CODEC_ID_NONE},
    {"divx", InputKind::Container, "avi", AV_CODEC_ID_NONE},
    {"mkv", InputKind::Container, "matroska", AV_CODEC_ID_NONE},
    {"webm", InputKind::Container, "matroska", AV_CODEC_ID_NONE},
    {"mp4", InputKind::Container, "mov", AV_CODEC_ID_NONE},
    {"m4v", InputKind::Container, "mov", AV_CODEC_ID_NONE},
    {"mov", InputKind::Container, "mov", AV_CODEC_ID_NONE},
    {"3gp", InputKind::Container, "mov", AV_CODEC_ID_NONE},
    {"ts", InputKind::Container, "mpegts", AV_CODEC_ID_NONE},
    {"m2ts", InputKind::Container, "mpegts", AV_CODEC_ID_NONE},
    {"mts", InputKind::Container, "mpegts", AV_CODEC_ID_NONE},
    {"mpg", InputKind::Container, "mpeg", AV_CODEC_ID_NONE},
    {"mpeg", InputKind::Container, "mpeg", AV_CODEC_ID_NONE},
    {"vob", InputKind::Container, "mpeg", AV_CODEC_ID_NONE},
    {"m2v", InputKind::Container, "mpegvideo", AV_CODEC_ID_MPEG2VIDEO},
    {"wmv", InputKind::Container, "asf", AV_CODEC_ID_NONE},
    {"asf", InputKind::Container, "asf", AV_CODEC_ID_NONE},
    {"flv", InputKind::Container, "flv", AV_CODEC_ID_NONE},
    {"ogv", InputKind::Container, "ogg", AV_CODEC_ID_NONE},
    {"dv", InputKind::Container, "dv", AV_CODEC_ID_DVVIDEO},
    {"mxf", InputKind::Container, "mxf", AV_CODEC_ID_NONE},
    {"rm", InputKind::Container, "rm", AV_CODEC_ID_NONE},
    {"rmvb", InputKind::Container, "rm", AV_CODEC_ID_NONE},
    {"h264", InputKind::Container, "h264", AV_CODEC_ID_H264},
    {"hevc", InputKind::Container, "hevc", AV_CODEC_ID_HEVC},
    {"y4m", InputKind::Container, "yuv4mpegpipe", AV_CODEC_ID_RAWVIDEO},
    // Playlists of split recordings, read by the engine itself.
    {"ffconcat", InputKind::Container, nullptr, AV_CODEC_ID_NONE},
    {"m3u", InputKind::Container, nullptr, AV_CODEC_ID_NONE},
    {"mp3", InputKind::Audio, "mp3", AV_CODEC_ID_MP3},
    {"mp2", InputKind::Audio, "mp3", AV_CODEC_ID_MP2},
    {"aac", InputKind::Audio, "aac", AV_CODEC_ID_AAC},
    {"m4a", InputKind::Audio, "mov", AV_CODEC_ID_AAC},
    {"ac3", InputKind::Audio, "ac3", AV_CODEC_ID_AC3},
    {"eac3", InputKind::Audio, "eac3", AV_CODEC_ID_EAC3},
    {"dts", InputKind::Audio, "dts", AV_CODEC_ID_DTS},
    {"wav", InputKind::Audio, "wav", AV_CODEC_ID_PCM_S16LE},
    {"aiff", InputKind::Audio, "aiff", AV_CODEC_ID_PCM_S16BE},
    {"flac", InputKind::Audio, "flac", AV_CODEC_ID_FLAC},
    {"ogg", InputKind::Audio, "ogg", AV_CODEC_ID_VORBIS},
    {"opus", InputKind::Audio, "ogg", AV_CODEC_ID_OPUS},
    {"wma", InputKind::Audio, "asf", AV_CODEC_ID_WMAV2},
    {"mka", InputKind::Audio, "matroska", AV_CODEC_ID_NONE},
    {"amr", InputKind::Audio, "amr", AV_CODEC_ID_AMR_NB},
    {"au", InputKind::Audio, "au", AV_CODEC_ID_PCM_MULAW},
    {"srt", InputKind::Subtitle, "srt", AV_CODEC_ID_SUBRIP},
    {"ass", InputKind::Subtitle, "ass", AV_CODEC_ID_ASS},
    {"ssa", InputKind::Subtitle, "ass", AV_CODEC_ID_ASS},
    {"smi", InputKind::Subtitle, "sami", AV_CODEC_ID_SAMI},
    {"sub", InputKind::Subtitle, "microdvd", AV_CODEC_ID_MICRODVD},
    {"vtt", InputKind::Subtitle, "webvtt", AV_CODEC_ID_WEBVTT},
    {"idx", InputKind::Subtitle, "vobsub", AV_CODEC_ID_DVD_SUBTITLE},
};

bool InputPresent(const InputFormat& format) {
    return (format.demuxer == nullptr || av_find_input_format(format.demuxer) != nullptr) &&
           (format.decoder == AV_CODEC_ID_NONE || avcodec_find_decoder(format.decoder) != nullptr);
}

// Tries to open a hardware encoder on a small picture; true when it opened.
bool EncoderOpens(const char* name) {
    const AVCodec* codec = avcodec_find_encoder_by_name(name);
    if (codec == nullptr) {
        return false;
    }
    CodecContextPtr context(avcodec_alloc_context3(codec));
    if (!context) {
        return false;
    }
    context->width = 640;
    context->height = 480;
    context->time_base = AVRational{1, 25};
    context->framerate = AVRational{25, 1};
    context->pix_fmt = AV_PIX_FMT_NV12;
    if (codec->pix_fmts != nullptr) {
        bool hasNv12 = false;
        for (const AVPixelFormat* f = codec->pix_fmts; *f != AV_PIX_FMT_NONE; ++f) {
            hasNv12 = hasNv12 || *f == AV_PIX_FMT_NV12;
        }
        if (!hasNv12) {
            context->pix_fmt = codec->pix_fmts[0];
        }
    }
    const int result = avcodec_open2(context.get(), codec, nullptr);
    LogLine(Severity::Debug, "hardware encoder %s: %s", name,
            result >= 0 ? "opened" : ErrorText(result).c_str());
    return result >= 0;
}

} // namespace

const ProfileRecipe* RecipeOf(int profile) {
    switch (profile) {
    case nvt::NP_Mobile:
    case nvt::NP_HD1080:
    case nvt::NP_HD720:
    case nvt::NP_HomeTheater:
        return &kAviAsp;
    case nvt::NP_NorvPlusHD:
    case nvt::NP_NorvPlus4K_MKV:
        return &kMkvH264;
    case nvt::NP_iPhoneMP4H264:
    case nvt::NP_iPadMP4H264:
    case nvt::NP_NorvPlus4K_MP4:
        return &kMp4H264;
    case nvt::NP_HEVC720:
    case nvt::NP_HEVC1080:
    case nvt::NP_HEVC4K:
        return &kMkvHevc;
    default:
        return nullptr;
    }
}

Capabilities::Capabilities() {
    for (int p = 0; p < nvt::_NP_count_; ++p) {
        const ProfileRecipe* recipe = RecipeOf(p);
        if (recipe == nullptr || !nvt::IsKnownProfile(p) ||
            av_guess_format(recipe->muxer, nullptr, nullptr) == nullptr ||
            avcodec_find_encoder_by_name(recipe->videoEncoder) == nullptr) {
            continue;
        }
        for (const auto& audio : recipe->audio) {
            if (avcodec_find_encoder_by_name(audio.second) != nullptr) {
                audio_[p].push_back(audio.first);
            }
        }
        supported_[p] = !audio_[p].empty();
    }
    for (const InputFormat& format : kInputs) {
        if (InputPresent(format)) {
            inputs_.push_back(&format);
        }
    }
}

const Capabilities& Capabilities::Get() {
    static const Capabilities capabilities;
    return capabilities;
}

bool Capabilities::ProfileSupported(int profile) const {
    return profile >= 0 && profile < nvt::_NP_count_ && supported_[profile];
}

const std::vector<nvt::AudioCodec>& Capabilities::OutputAudioCodecs(int profile) const {
    static const std::vector<nvt::AudioCodec> kNone;
    return ProfileSupported(profile) ? audio_[profile] : kNone;
}

bool Capabilities::WritesAudioCodec(int profile, AVCodecID id) const {
    for (nvt::AudioCodec codec : OutputAudioCodecs(profile)) {
        if (OutputAudioCodecId(codec) == id) {
            return true;
        }
    }
    return false;
}

bool Capabilities::CarriesAudio(int profile, const AVCodecParameters* audio) const {
    return WritesAudioCodec(profile, audio->codec_id) &&
           audio->ch_layout.nb_channels <= nvt::MaxAudioChannels(profile);
}

std::vector<std::string> Capabilities::InputFormatLabels(InputKind kind) const {
    std::vector<std::string> labels;
    for (const InputFormat* format : inputs_) {
        if (format->kind == kind) {
            labels.emplace_back(format->label);
        }
    }
    return labels;
}

std::vector<const char*> HardwareEncoderNames(nvt::HWAcceleration kind) {
    switch (kind) {
    case nvt::CUDA:
        return {"h264_nvenc", "hevc_nvenc"};
    case nvt::IQSV:
        return {"h264_qsv", "hevc_qsv"};
    default:
        // FFmpeg has no encoder that runs on OpenCL.
        return {};
    }
}

std::vector<nvt::HWAcceleration> ProbeAcceleration() {
    std::vector<nvt::HWAcceleration> kinds = {nvt::NO_ACCELERATION};
    for (nvt::HWAcceleration kind : {nvt::OPENCL, nvt::IQSV, nvt::CUDA}) {
        for (const char* name : HardwareEncoderNames(kind)) {
            if (EncoderOpens(name)) {
                kinds.push_back(kind);
                break;
            }
        }
    }
    return kinds;
}

} // namespace norv_engine
