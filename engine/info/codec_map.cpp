#include "codec_map.h"

namespace norv_engine {

namespace {

struct VideoRow {
    AVCodecID id;
    nvt::VideoCodec codec;
    const char* name;
};

const VideoRow kVideo[] = {
    {AV_CODEC_ID_H264, nvt::VC_H264, "H.264"},
    {AV_CODEC_ID_HEVC, nvt::VC_HEVC, "HEVC"},
    {AV_CODEC_ID_MPEG4, nvt::VC_ASP, "MPEG-4 Visual"},
    {AV_CODEC_ID_MSMPEG4V1, nvt::VC_MPEG4, "MS MPEG-4 v1"},
    {AV_CODEC_ID_MSMPEG4V2, nvt::VC_MPEG4, "MS MPEG-4 v2"},
    {AV_CODEC_ID_MSMPEG4V3, nvt::VC_MPEG4, "MS MPEG-4 v3"},
    {AV_CODEC_ID_H263, nvt::VC_H263, "H.263"},
    {AV_CODEC_ID_H263P, nvt::VC_H263, "H.263+"},
    {AV_CODEC_ID_H263I, nvt::VC_H263, "H.263i"},
    {AV_CODEC_ID_VC1, nvt::VC_VC1, "VC-1"},
    {AV_CODEC_ID_WMV1, nvt::VC_WMV, "WMV7"},
    {AV_CODEC_ID_WMV2, nvt::VC_WMV, "WMV8"},
    {AV_CODEC_ID_WMV3, nvt::VC_WMV, "WMV9"},
    {AV_CODEC_ID_MPEG1VIDEO, nvt::VC_MPEG1, "MPEG-1 Video"},
    {AV_CODEC_ID_MPEG2VIDEO, nvt::VC_MPEG2, "MPEG-2 Video"},
    {AV_CODEC_ID_RV10, nvt::VC_RM_VR, "RealVideo 1"},
    {AV_CODEC_ID_RV20, nvt::VC_RM_VR, "RealVideo 2"},
    {AV_CODEC_ID_RV30, nvt::VC_RM_VR, "RealVideo 3"},
    {AV_CODEC_ID_RV40, nvt::VC_RM_VR, "RealVideo 4"},
    {AV_CODEC_ID_MJPEG, nvt::VC_JPEG, "Motion JPEG"},
    {AV_CODEC_ID_MJPEGB, nvt::VC_JPEG, "Motion JPEG B"},
    {AV_CODEC_ID_JPEG2000, nvt::VC_JPEG, "JPEG 2000"},
    {AV_CODEC_ID_DVVIDEO, nvt::VC_DV, "DV"},
    {AV_CODEC_ID_RAWVIDEO, nvt::VC_Uncompressed, "Uncompressed"},
};

struct AudioRow {
    AVCodecID id;
    nvt::AudioCodec codec;
    const char* name;
};

const AudioRow kAudio[] = {
    {AV_CODEC_ID_MP3, nvt::AC_MP3, "MP3"},
    {AV_CODEC_ID_AAC, nvt::AC_AAC, "AAC"},
    {AV_CODEC_ID_AAC_LATM, nvt::AC_AAC, "AAC LATM"},
    {AV_CODEC_ID_AC3, nvt::AC_AC3, "AC3"},
    {AV_CODEC_ID_EAC3, nvt::AC_AC3, "E-AC3"},
    {AV_CODEC_ID_DTS, nvt::AC_DTS, "DTS"},
    {AV_CODEC_ID_COOK, nvt::AC_REALAUDIO, "RealAudio Cook"},
    {AV_CODEC_ID_RA_144, nvt::AC_REALAUDIO, "RealAudio 1.0"},
    {AV_CODEC_ID_RA_288, nvt::AC_REALAUDIO, "RealAudio 2.0"},
    {AV_CODEC_ID_SIPR, nvt::AC_REALAUDIO, "RealAudio SIPR"},
    {AV_CODEC_ID_WMAV1, nvt::AC_WMA, "WMA 1"},
    {AV_CODEC_ID_WMAV2, nvt::AC_WMA, "WMA 2"},
    {AV_CODEC_ID_WMAPRO, nvt::AC_WMA, "WMA Pro"},
    {AV_CODEC_ID_WMALOSSLESS, nvt::AC_WMA, "WMA Lossless"},
    {AV_CODEC_ID_WMAVOICE, nvt::AC_WMA, "WMA Voice"},
    {AV_CODEC_ID_VORBIS, nvt::AC_VORBIS, "Vorbis"},
    {AV_CODEC_ID_PCM_MULAW, nvt::AC_MULAW, "G.711 mu-law"},
    {AV_CODEC_ID_GSM, nvt::AC_GSM, "GSM"},
    {AV_CODEC_ID_GSM_MS, nvt::AC_GSM, "GSM (Microsoft)"},
    {AV_CODEC_ID_MP1, nvt::AC_MPEG1, "MPEG-1 Layer I"},
    {AV_CODEC_ID_MP2, nvt::AC_MPEG1, "MPEG-1 Layer II"},
    {AV_CODEC_ID_MP4ALS, nvt::AC_MPEG4, "MPEG-4 ALS"},
    {AV_CODEC_ID_AMR_NB, nvt::AC_AMR, "AMR-NB"},
    {AV_CODEC_ID_AMR_WB, nvt::AC_AMR, "AMR-WB"},
    {AV_CODEC_ID_S302M, nvt::AC_AES3, "AES3"},
    {AV_CODEC_ID_FLAC, nvt::AC_DS_UNKNOWN, "FLAC"},
    {AV_CODEC_ID_OPUS, nvt::AC_DS_UNKNOWN, "Opus"},
    {AV_CODEC_ID_TRUEHD, nvt::AC_DS_UNKNOWN, "TrueHD"},
    {AV_CODEC_ID_ALAC, nvt::AC_DS_UNKNOWN, "ALAC"},
};

bool IsPcm(AVCodecID id) {
    const AVCodecDescriptor* d = avcodec_descriptor_get(id);
    return id != AV_CODEC_ID_PCM_MULAW && d != nullptr && d->type == AVMEDIA_TYPE_AUDIO &&
           std::string(d->name).compare(0, 4, "pcm_") == 0;
}

bool IsAdpcm(AVCodecID id) {
    const AVCodecDescriptor* d = avcodec_descriptor_get(id);
    return d != nullptr && std::string(d->name).compare(0, 6, "adpcm_") == 0;
}

bool IsTextSubtitle(AVCodecID id) {
    const AVCodecDescriptor* d = avcodec_descriptor_get(id);
    return d != nullptr && (d->props & AV_CODEC_PROP_TEXT_SUB) != 0;
}

// True when the demuxer's name list ("mov,mp4,m4a") holds name.
bool DemuxerIs(const std::string& demuxerName, const char* name) {
    size_t start = 0;
    while (start <= demuxerName.size()) {
        size_t end = demuxerName.find(',', start);
        if (end == std::string::npos) {
            end = demuxerName.size();
        }
        if (demuxerName.compare(start, end - start, name) == 0) {
            return true;
        }
        start = end + 1;
    }
    return false;
}

} // namespace

nvt::VideoCodec MapVideoCodec(AVCodecID id, bool decodable) {
    for (const VideoRow& row : kVideo) {
        if (row.id == id) {
            return row.codec;
        }
    }
    return decodable ? nvt::VC_Compressed : nvt::VC_UNKNOWN;
}

nvt::AudioCodec MapAudioCodec(AVCodecID id, bool decodable, const std::string& demuxerName) {
    for (const AudioRow& row : kAudio) {
        if (row.id == id) {
            return row.codec;
        }
    }
    if (IsPcm(id)) {
        if (DemuxerIs(demuxerName, "wav")) {
            return nvt::AC_WAV;
        }
        return DemuxerIs(demuxerName, "aiff") ? nvt::AC_AIFF : nvt::AC_LPCM;
    }
    if (IsAdpcm(id)) {
        return nvt::AC_ADPCM;
    }
    return decodable ? nvt::AC_DS_UNKNOWN : nvt::AC_UNKNOWN;
}

std::string CodecDisplayName(AVCodecID id) {
    for (const VideoRow& row : kVideo) {
        if (row.id == id) {
            return row.name;
        }
    }
    for (const AudioRow& row : kAudio) {
        if (row.id == id) {
            return row.name;
        }
    }
    if (IsPcm(id)) {
        return "PCM";
    }
    const AVCodecDescriptor* d = avcodec_descriptor_get(id);
    return d != nullptr ? d->name : "unknown";
}

AVCodecID OutputAudioCodecId(nvt::AudioCodec codec) {
    switch (codec) {
    case nvt::AC_AAC:
        return AV_CODEC_ID_AAC;
    case nvt::AC_AC3:
        return AV_CODEC_ID_AC3;
    case nvt::AC_MP3:
        return AV_CODEC_ID_MP3;
    default:
        return AV_CODEC_ID_NONE;
    }
}

nvt::SubtitleType EmbeddedSubtitleType(AVCodecID id) {
    switch (id) {
    case AV_CODEC_ID_ASS:
    case AV_CODEC_ID_SSA:
        return nvt::ST_SSA_ASS_INTERNAL;
    case AV_CODEC_ID_DVD_SUBTITLE:
        return nvt::ST_VOBSUB;
    case AV_CODEC_ID_XSUB:
        return nvt::ST_XSUB;
    default:
        return IsTextSubtitle(id) ? nvt::ST_SRT_INTERNAL : nvt::ST_INVALID;
    }
}

nvt::SubtitleType SubtitleFileType(const std::string& demuxerName, AVCodecID id) {
    if (DemuxerIs(demuxerName, "sami")) {
        return nvt::SC_SMI_EXTERNAL;
    }
    if (DemuxerIs(demuxerName, "vobsub") || id == AV_CODEC_ID_DVD_SUBTITLE) {
        return nvt::ST_VOBSUB;
    }
    if (id == AV_CODEC_ID_ASS || id == AV_CODEC_ID_SSA) {
        return nvt::ST_SSA_ASS_EXTERNAL;
    }
    return IsTextSubtitle(id) ? nvt::ST_SRT_EXTERNAL : nvt::ST_INVALID;
}

} // namespace norv_engine
