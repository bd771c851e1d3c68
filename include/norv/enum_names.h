// Name tables of the enumerations, inline so that an application can use
// them without any exported symbol beyond the entry points. Consecutive enumerations use a dense
// table; sparse ones compare explicitly.
#pragma once

#include <cstddef>
#include <cstdint>

#include "norv/enums.h"

namespace nvt {
namespace enum_names_detail {

inline constexpr char kInvalid[] = "Invalid value";

// Looks value up in a dense table whose first entry stands for first.
template <size_t N>
inline const char* Dense(const char* const (&table)[N], int32_t first, int32_t value) {
    const int64_t index = static_cast<int64_t>(value) - first;
    if (index < 0 || index >= static_cast<int64_t>(N) || table[index] == nullptr) {
        return kInvalid;
    }
    return table[index];
}

struct Entry {
    int32_t value;
    const char* name;
};

template <size_t N> inline const char* Sparse(const Entry (&table)[N], int32_t value) {
    for (const Entry& e : table) {
        if (e.value == value) {
            return e.name;
        }
    }
    return kInvalid;
}

inline constexpr const char* kNorvProfile[] = {
    "NP_Mobile",        "NP_HD1080",      "NP_HD720",          "NP_HomeTheater",    "NP_NorvPlusHD",
    "NP_iPhoneMP4H264", "NP_iPadMP4H264", "NP_NorvPlus4K_MP4", "NP_NorvPlus4K_MKV", "NP_HEVC720",
    "NP_HEVC1080",      "NP_HEVC4K",      "_NP_count_",
};

inline constexpr const char* kVideoCodec[] = {
    "VC_UNKNOWN", "VC_ASP",        "VC_H264",         "VC_H263",  "VC_VC1",     "VC_NORV", "VC_WMV",
    "VC_MPEG1",   "VC_MPEG2",      "VC_HEVC",         "VC_MPEG4", "VC_RM_VR",   "VC_JPEG", "VC_DV",
    "VC_DVCPRO",  "VC_Compressed", "VC_Uncompressed", "VC_Empty", "_VC_count_",
};

inline constexpr const char* kAudioCodec[] = {
    "AC_UNKNOWN", "AC_WAV",    "AC_MP3",   "AC_AAC",  "AC_AC3",  "AC_DTS",        "AC_REALAUDIO",
    "AC_WMA",     "AC_VORBIS", "AC_ADPCM", "AC_LPCM", "AC_AES3", "AC_MULAW",      "AC_GSM",
    "AC_MPEG1",   "AC_MPEG2",  "AC_MPEG4", "AC_AMR",  "AC_AIFF", "AC_DS_UNKNOWN", "_AC_count_",
};

inline constexpr const char* kSubtitleCodec[] = {
    "SC_UNKNOWN", "SC_XSUB", "SC_SSA", "SC_TEXT", "_SC_count_",
};

inline constexpr const char* kSubtitleType[] = {
    "ST_SSA_ASS_INTERNAL", "ST_SSA_ASS_EXTERNAL", "ST_SRT_INTERNAL", "ST_SRT_EXTERNAL", "ST_XSUB",
    "ST_XSUBPLUS",         "ST_VOBSUB",           "SC_SMI_EXTERNAL", "ST_INVALID",
};

inline constexpr const char* kAudioType[] = {
    "AT_INVALID",
    "AT_MP3",
    "AT_AAC",
};

inline constexpr const char* kHWAcceleration[] = {
    "NO_ACCELERATION",
    "OPENCL",
    "IQSV",
    "CUDA",
};

inline constexpr const char* kTranscodePriority[] = {
    "TP_Idle",
    "TP_Low",
    "TP_Normal",
    "TP_High",
};

inline constexpr const char* kTranscodeState[] = {
    "TS_Pending",
    "TS_Running",
    "TS_Done",
    "TS_Failed",
};

inline constexpr const char* kProgressOption[] = {
    "opProgress",           "opPassStepNum", "opCurrentVideoFrame", "opCurrentAudioSample",
    "opVideoRenderingRate", "opElapsedTime", "opRemainingTime",     "opDetails",
};

inline constexpr const char* kSettingPriority[] = {
    "prioUnknown",      "prioResolutionWidth", "prioResolutionHeight", "prioFilesize",
    "prioVideoBitrate", "prioAudioBitrate",    "prioAudioPassThrough", "prioTrickPlayTrack",
    "prioAspectRatio",  "prioCOUNT",
};

inline constexpr Entry kLogLevel[] = {
    {0, "NORV_NO_MSG"},      {1, "NORV_ALL_MSG"},     {2, "NORV_CRITICAL_MSG"},
    {4, "NORV_ERROR_MSG"},   {8, "NORV_WARNING_MSG"}, {16, "NORV_INFO_MSG"},
    {32, "NORV_HEADER_MSG"}, {64, "NORV_DEBUG_MSG"},  {128, "NORV_PROGRESS_MSG"},
    {256, "NORV_MSG_LAST"},
};

inline constexpr const char* kFlipMode[] = {
    "flipNone",
    "flipHorizontal",
    "flipVertical",
};

inline constexpr Entry kHevcQualityLevel[] = {
    {1, "hevc_ql_fastest"}, {8, "hevc_ql_fast"},  {15, "hevc_ql_balanced"},
    {20, "hevc_ql_better"}, {30, "hevc_ql_best"},
};

inline constexpr const char* kLibraryResults[] = {
    "NotAvailable",    // -1000
    "Working",         // -999
    "Aborted",         // -998
    "InvalidArgument", // -997
};

// Engine results 0..160; the numbers the list omits are not result codes.
inline constexpr const char* kEngineResults[] = {
    "SUCCESS",
    "PENDING",
    "ENG_ERR",
    "NVMEDIA_ERR",
    "METADATA_ERR",
    "CRTL_FILE_DOES_NOT_EXIST",
    "CTRL_DUPLICATE_FILE",
    nullptr, // 7
    "ENG_NOTIMPL_ERR",
    "ENG_RES_NOTFOUND_ERR",
    "ENG_OUTOFRANGE_ERR",
    "ENG_PROPERTYVALUE_NOTFOUND_ERR",
    "ENG_INVALID_TYPE_ERR",
    "ENG_INVALID_INPUT_ERR",
    "PROF_CERT_LIMIT_EXCEED",
    "ENG_MOVIE_INIT_ERR",
    "ENG_MOVIE_UNINIT_ERR",
    "ENG_ANALYSIS",
    "ENG_XSUBDLL_NOTFOUND_ERR",
    "ENG_XSUB_INVALIDDLL_ERR",
    "ENG_XSUB_TRANSCODE_ERR",
    "ENG_UNSUPPORTED_FILE_TYPE",
    "ENG_INVALID_STREAM",
    "ENG_INVALID_VID_STREAM",
    "ENG_INVALID_AUD_STREAM",
    "ENG_NO_VAR_FRAME_RATE",
    "DRM_INPUT_ERR",
    "ENG_NOT_COMPATIBLE",
    "ENG_DECODER",
    nullptr, // 29
    "ENG_NO_DV_DEC",
    "ENG_NO_HUFFY_DEC",
    "ENG_NO_XVID_DEC",
    "ENG_NO_NORV_DEC",
    "ENG_NO_MPEG1_VIDDEC",
    "ENG_NO_WMV_DEC",
    "ENG_NO_MSMPEG4_DEC",
    "ENG_NO_ASF_DEC",
    "ENG_NO_MPEG2_VIDDEC",
    "ENG_NO_MJPEG_DEC",
    "ENG_NO_ADPCM_AUDDEC",
    "ENG_NO_LPCM_DEC",
    "ENG_NO_GSM_AUDDEC",
    "ENG_NO_MPEG1_AUDDEC",
    "ENG_NO_MPEG2_AUDDEC",
    "ENG_NO_WMA_AUDDEC",
    "ENG_NO_ULAW_AUDDEC",
    "ENG_NO_AAC_AUDDEC",
    "ENG_NO_MP3_DEC",
    "ENG_NO_AC3_DEC_DO_PASSTHROUGH",
    "ENG_NO_AC3_DEC",
    "ENG_NO_QUICKTIME_DEC",
    "ENG_NO_ASP_DEC",
    "ENG_NO_H264_DEC",
    "ENG_NO_HEVC_DEC",
    "ENG_NO_NORV_ENC",
    "ENG_NO_MP3_ENC",
    "ENG_NO_AAC_ENC",
    "ENG_NO_ENCODER_AUD",
    "ENG_NO_ENCODER_VID",
    "ENG_NO_ASP_ENC",
    "ENG_NO_H264_ENC",
    "ENG_NO_HEVC_ENC",
    "ENG_DEC_ADD_ERR",
    "ENG_DECODER_CONN_ERR",
    "ENG_NORV_DEC_CONFIG_ERR",
    "ENG_MPEG2_DEC_CONN_ERR",
    "ENG_AC3_DEC_CONN_ERR",
    "ENG_AAC_AUDDEC_ADD_ERR",
    "ENG_AAC_AUDDEC_CONN_ERR",
    "ENG_AAC_AUDDEC_CONFIG_ERR",
    "ENG_H264_VIDDEC_ADD_ERR",
    "ENG_H264_VIDDEC_CONN_ERR",
    "ENG_H264_VIDDEC_CONFIG_ERR",
    "ENG_ENC_CONN_ERR",
    "ENG_NORV_ENC_ADD_ERR",
    "ENG_NORV_ENC_CONN_ERR",
    "ENG_NORV_ENC_CONFIG_ERR",
    "ENG_NORV2_ENC_ADD_ERR",
    "ENG_NORV2_ENC_CONN_ERR",
    "ENG_NORV2_ENC_CONFIG_ERR",
    "ENG_MP3_ENC_ADD_ERR",
    "ENG_MP3_ENC_CONN_ERR",
    "ENG_MP3_ENC_CONFIG_ERR",
    "ENG_AAC_ENC_ADD_ERR",
    "ENG_AAC_ENC_CONN_ERR",
    "ENG_AAC_ENC_CONFIG_ERR",
    "ENG_MUX_CREATE_ERR",
    "ENG_MUX_ADD_ERR",
    "ENG_MUX_CONN_ERR",
    "ENG_MUX_CONFIG_ERR",
    "ENG_CONTROLLER_ERR",
    "ENG_PLUG_CREATE_ERR",
    "ENG_PLUG_ADD_ERR",
    "ENG_PLUG_CONN_ERR",
    "ENG_PLUG_CONFIG_ERR",
    "ENG_VIDFRAMECOUNTER_CREATE_ERR",
    "ENG_VIDFRAMECOUNTER_ADD_ERR",
    "ENG_VIDFRAMECOUNTER_CONN_ERR",
    "ENG_VIDFRAMEANALYZER_CREATE_ERR",
    "ENG_VIDFRAMEANALYZER_ADD_ERR",
    "ENG_VIDFRAMEANALYZER_CONN_ERR",
    "ENG_COLORSPACE_CREATE_ERR",
    "ENG_COLORSPACE_CONN_ERR",
    "ENG_RESYNC_CREATE_ERR",
    "ENG_RESYNC_ADD_ERR",
    "ENG_RESYNC_CONN_ERR",
    "ENG_RESYNC_CONFIG_ERR",
    "ENG_NORVIMAGESCALER_CREATE_ERR",
    "ENG_NORVIMAGESCALER_ADD_ERR",
    "ENG_NORVIMAGESCALER_CONN_ERR",
    "ENG_NORVIMAGESCALER_CONFIG_ERR",
    "ENG_SOURCE_FILTER_ADD_ERR",
    "ENG_MULTIFILE_READER_CREATE_ERR",
    "ENG_MULTIFILE_READER_ADD_ERR",
    "ENG_MULTIFILE_READER_CONFIG_ERR",
    "ENG_ASF_READER_CREATE_ERR",
    "ENG_ASF_READER_ADD_ERR",
    "ENG_ASF_READER_CONFIG_ERR",
    "ENG_AVS_READER_CREATE_ERR",
    "ENG_AVS_READER_ADD_ERR",
    "ENG_AVS_READER_CONFIG_ERR",
    "ENG_MPEG_SPLITTER_CREATE_ERR",
    "ENG_MPEG_SPLITTER_ADD_ERR",
    "ENG_MPEG_SPLITTER_CONN_ERR",
    "ENG_MPEG_SPLITTER_CONFIG_ERR",
    "ENG_MPEG1_SPLITTER_CREATE_ERR",
    "ENG_MPEG1_SPLITTER_ADD_ERR",
    "ENG_MPEG2_SPLITTER_CREATE_ERR",
    "ENG_MPEG2_SPLITTER_ADD_ERR",
    "ENG_AVI_SPLITTER_CREATE_ERR",
    "ENG_AVI_SPLITTER_ADD_ERR",
    "ENG_AVI_SPLITTER_CONN_ERR",
    "ENG_DV_SPLITTER_CREATE_ERR",
    "ENG_DV_SPLITTER_ADD_ERR",
    "ENG_DV_SPLITTER_CONN_ERR",
    "ENG_MKV_SPLITTER_CREATE_ERR",
    "ENG_MKV_SPLITTER_ADD_ERR",
    "ENG_MKV_SPLITTER_CONN_ERR",
    "ENG_MKV_SPLITTER_CONFIG_ERR",
    "ENG_WRITING_ERROR",
    "ODD_RESOLUTION_INPUT_ERR",
    "ENG_NO_REALMEDIA_DEC",
    "ENG_DEMUXER_CREATE_ERR",
    "ENG_VC1_DEC_CREATE_ERR",
    nullptr, // 145
    nullptr, // 146
    nullptr, // 147
    nullptr, // 148
    nullptr, // 149
    nullptr, // 150
    nullptr, // 151
    nullptr, // 152
    "Combine_impossible_different_Width_Height_FPS",
    "Combine_impossible_different_AudioTrackCount",
    "Combine_impossible_different_ChannelCount_SampleRate_BitsPerSample",
    "ENG_NO_WINDOWS_MEDIA_RUNTIME_ERR",
    "ENG_DUPLICATE_FILE_ERR",
    "ENG_DUPLICATE_CHAINFILE_WARN",
    "CRTL_FILE_PERMISSION_DENIED",
    "Combine_impossible_different_VideoAngle",
};

} // namespace enum_names_detail

template <> inline const char* EnumName<NorvProfile>(int32_t value) {
    using namespace enum_names_detail;
    return Dense(kNorvProfile, 0, value);
}

template <> inline const char* EnumName<VideoCodec>(int32_t value) {
    using namespace enum_names_detail;
    return Dense(kVideoCodec, -1, value);
}

template <> inline const char* EnumName<AudioCodec>(int32_t value) {
    using namespace enum_names_detail;
    return Dense(kAudioCodec, -1, value);
}

template <> inline const char* EnumName<SubtitleCodec>(int32_t value) {
    using namespace enum_names_detail;
    return Dense(kSubtitleCodec, -1, value);
}

template <> inline const char* EnumName<SubtitleType>(int32_t value) {
    using namespace enum_names_detail;
    return Dense(kSubtitleType, 0, value);
}

template <> inline const char* EnumName<AudioType>(int32_t value) {
    using namespace enum_names_detail;
    return Dense(kAudioType, -1, value);
}

template <> inline const char* EnumName<HWAcceleration>(int32_t value) {
    using namespace enum_names_detail;
    return Dense(kHWAcceleration, 0, value);
}

template <> inline const char* EnumName<TranscodePriority>(int32_t value) {
    using namespace enum_names_detail;
    return Dense(kTranscodePriority, 0, value);
}

template <> inline const char* EnumName<TranscodeState>(int32_t value) {
    using namespace enum_names_detail;
    return Dense(kTranscodeState, 0, value);
}

template <> inline const char* EnumName<ProgressOption>(int32_t value) {
    using namespace enum_names_detail;
    return Dense(kProgressOption, 0, value);
}

template <> inline const char* EnumName<SettingPriority>(int32_t value) {
    using namespace enum_names_detail;
    return Dense(kSettingPriority, 0, value);
}

template <> inline const char* EnumName<LogLevel>(int32_t value) {
    using namespace enum_names_detail;
    return Sparse(kLogLevel, value);
}

template <> inline const char* EnumName<FlipMode>(int32_t value) {
    using namespace enum_names_detail;
    return Dense(kFlipMode, 0, value);
}

template <> inline const char* EnumName<HevcQualityLevel>(int32_t value) {
    using namespace enum_names_detail;
    return Sparse(kHevcQualityLevel, value);
}

template <> inline const char* EnumName<Result>(int32_t value) {
    using namespace enum_names_detail;
    if (value < -1) {
        return Dense(kLibraryResults, -1000, value);
    }
    if (value == -1) {
        return "NOT_SET";
    }
    return Dense(kEngineResults, 0, value);
}

} // namespace nvt
