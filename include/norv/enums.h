// The shared vocabulary: enumerations with their wire values, the result
// codes, and their name lookups. Every value travels to and from the engine
// as a signed 32-bit integer, so the numbers are part of the wire format.
#pragma once

#include <cstdint>

#include "norv/types.h"

namespace nvt {

/// The output profile of a transcode.
enum NorvProfile : int32_t {
    NP_Mobile = 0,
    NP_HD1080 = 1,
    NP_HD720 = 2,
    NP_HomeTheater = 3,
    NP_NorvPlusHD = 4,
    NP_iPhoneMP4H264 = 5,
    NP_iPadMP4H264 = 6,
    NP_NorvPlus4K_MP4 = 7,
    NP_NorvPlus4K_MKV = 8,
    NP_HEVC720 = 9,
    NP_HEVC1080 = 10,
    NP_HEVC4K = 11,
    _NP_count_ = 12,
};

/// A video codec, of a source track or of an output.
enum VideoCodec : int32_t {
    VC_UNKNOWN = -1,
    VC_ASP = 0,
    VC_H264 = 1,
    VC_H263 = 2,
    VC_VC1 = 3,
    VC_NORV = 4,
    VC_WMV = 5,
    VC_MPEG1 = 6,
    VC_MPEG2 = 7,
    VC_HEVC = 8,
    VC_MPEG4 = 9,
    VC_RM_VR = 10,
    VC_JPEG = 11,
    VC_DV = 12,
    VC_DVCPRO = 13,
    VC_Compressed = 14,
    VC_Uncompressed = 15,
    VC_Empty = 16,
    _VC_count_ = 17,
};

/// An audio codec, of a source track or of an output.
enum AudioCodec : int32_t {
    AC_UNKNOWN = -1,
    AC_WAV = 0,
    AC_MP3 = 1,
    AC_AAC = 2,
    AC_AC3 = 3,
    AC_DTS = 4,
    AC_REALAUDIO = 5,
    AC_WMA = 6,
    AC_VORBIS = 7,
    AC_ADPCM = 8,
    AC_LPCM = 9,
    AC_AES3 = 10,
    AC_MULAW = 11,
    AC_GSM = 12,
    AC_MPEG1 = 13,
    AC_MPEG2 = 14,
    AC_MPEG4 = 15,
    AC_AMR = 16,
    AC_AIFF = 17,
    AC_DS_UNKNOWN = 18,
    _AC_count_ = 19,
};

/// The codec of a subtitle stream.
enum SubtitleCodec : int32_t {
    SC_UNKNOWN = -1,
    SC_XSUB = 0,
    SC_SSA = 1,
    SC_TEXT = 2,
    _SC_count_ = 3,
};

/// The kind of a subtitle track or file: embedded (INTERNAL) or separate (EXTERNAL).
enum SubtitleType : int32_t {
    ST_SSA_ASS_INTERNAL = 0,
    ST_SSA_ASS_EXTERNAL = 1,
    ST_SRT_INTERNAL = 2,
    ST_SRT_EXTERNAL = 3,
    ST_XSUB = 4,
    ST_XSUBPLUS = 5,
    ST_VOBSUB = 6,
    SC_SMI_EXTERNAL = 7,
    ST_INVALID = 8,
};

/// An audio format, or none.
enum AudioType : int32_t {
    AT_INVALID = -1,
    AT_MP3 = 0,
    AT_AAC = 1,
};

/// A hardware acceleration kind.
enum HWAcceleration : int32_t {
    NO_ACCELERATION = 0,
    OPENCL = 1,
    IQSV = 2,
    CUDA = 3,
};

/// The priority of the engine process.
enum TranscodePriority : int32_t {
    TP_Idle = 0,
    TP_Low = 1,
    TP_Normal = 2,
    TP_High = 3,
};

/// The run state of a transcode session.
enum TranscodeState : int32_t {
    TS_Pending = 0,
    TS_Running = 1,
    TS_Done = 2,
    TS_Failed = 3,
};

/// A progress value of a transcode (a field of the progress record).
enum ProgressOption : int32_t {
    opProgress = 0,
    opPassStepNum = 1,
    opCurrentVideoFrame = 2,
    opCurrentAudioSample = 3,
    opVideoRenderingRate = 4,
    opElapsedTime = 5,
    opRemainingTime = 6,
    opDetails = 7,
};

/// The output setting that wins when the settings cannot all be met.
enum SettingPriority : int32_t {
    prioUnknown = 0,
    prioResolutionWidth = 1,
    prioResolutionHeight = 2,
    prioFilesize = 3,
    prioVideoBitrate = 4,
    prioAudioBitrate = 5,
    prioAudioPassThrough = 6,
    prioTrickPlayTrack = 7,
    prioAspectRatio = 8,
    prioCOUNT = 9,
};

/// Log verbosity; single bits, so they combine as a mask.
enum LogLevel : int32_t {
    NORV_NO_MSG = 0,
    NORV_ALL_MSG = 1,
    NORV_CRITICAL_MSG = 2,
    NORV_ERROR_MSG = 4,
    NORV_WARNING_MSG = 8,
    NORV_INFO_MSG = 16,
    NORV_HEADER_MSG = 32,
    NORV_DEBUG_MSG = 64,
    NORV_PROGRESS_MSG = 128,
    NORV_MSG_LAST = 256,
};

/// Image flip applied to the output.
enum FlipMode : int32_t {
    flipNone = 0,
    flipHorizontal = 1,
    flipVertical = 2,
};

/// The HEVC encoder's speed/quality preset.
enum HevcQualityLevel : int32_t {
    hevc_ql_fastest = 1,
    hevc_ql_fast = 8,
    hevc_ql_balanced = 15,
    hevc_ql_better = 20,
    hevc_ql_best = 30,
};

/// The result of every public operation and of every engine job.
enum Result : int32_t {
    NotAvailable = -1000,
    Working = -999,
    Aborted = -998,
    InvalidArgument = -997,
    NOT_SET = -1,
    SUCCESS = 0,
    PENDING = 1,
    ENG_ERR = 2,
    NVMEDIA_ERR = 3,
    METADATA_ERR = 4,
    CRTL_FILE_DOES_NOT_EXIST = 5,
    CTRL_DUPLICATE_FILE = 6,
    ENG_NOTIMPL_ERR = 8,
    ENG_RES_NOTFOUND_ERR = 9,
    ENG_OUTOFRANGE_ERR = 10,
    ENG_PROPERTYVALUE_NOTFOUND_ERR = 11,
    ENG_INVALID_TYPE_ERR = 12,
    ENG_INVALID_INPUT_ERR = 13,
    PROF_CERT_LIMIT_EXCEED = 14,
    ENG_MOVIE_INIT_ERR = 15,
    ENG_MOVIE_UNINIT_ERR = 16,
    ENG_ANALYSIS = 17,
    ENG_XSUBDLL_NOTFOUND_ERR = 18,
    ENG_XSUB_INVALIDDLL_ERR = 19,
    ENG_XSUB_TRANSCODE_ERR = 20,
    ENG_UNSUPPORTED_FILE_TYPE = 21,
    ENG_INVALID_STREAM = 22,
    ENG_INVALID_VID_STREAM = 23,
    ENG_INVALID_AUD_STREAM = 24,
    ENG_NO_VAR_FRAME_RATE = 25,
    DRM_INPUT_ERR = 26,
    ENG_NOT_COMPATIBLE = 27,
    ENG_DECODER = 28,
    ENG_NO_DV_DEC = 30,
    ENG_NO_HUFFY_DEC = 31,
    ENG_NO_XVID_DEC = 32,
    ENG_NO_NORV_DEC = 33,
    ENG_NO_MPEG1_VIDDEC = 34,
    ENG_NO_WMV_DEC = 35,
    ENG_NO_MSMPEG4_DEC = 36,
    ENG_NO_ASF_DEC = 37,
    ENG_NO_MPEG2_VIDDEC = 38,
    ENG_NO_MJPEG_DEC = 39,
    ENG_NO_ADPCM_AUDDEC = 40,
    ENG_NO_LPCM_DEC = 41,
    ENG_NO_GSM_AUDDEC = 42,
    ENG_NO_MPEG1_AUDDEC = 43,
    ENG_NO_MPEG2_AUDDEC = 44,
    ENG_NO_WMA_AUDDEC = 45,
    ENG_NO_ULAW_AUDDEC = 46,
    ENG_NO_AAC_AUDDEC = 47,
    ENG_NO_MP3_DEC = 48,
    ENG_NO_AC3_DEC_DO_PASSTHROUGH = 49,
    ENG_NO_AC3_DEC = 50,
    ENG_NO_QUICKTIME_DEC = 51,
    ENG_NO_ASP_DEC = 52,
    ENG_NO_H264_DEC = 53,
    ENG_NO_HEVC_DEC = 54,
    ENG_NO_NORV_ENC = 55,
    ENG_NO_MP3_ENC = 56,
    ENG_NO_AAC_ENC = 57,
    ENG_NO_ENCODER_AUD = 58,
    ENG_NO_ENCODER_VID = 59,
    ENG_NO_ASP_ENC = 60,
    ENG_NO_H264_ENC = 61,
    ENG_NO_HEVC_ENC = 62,
    ENG_DEC_ADD_ERR = 63,
    ENG_DECODER_CONN_ERR = 64,
    ENG_NORV_DEC_CONFIG_ERR = 65,
    ENG_MPEG2_DEC_CONN_ERR = 66,
    ENG_AC3_DEC_CONN_ERR = 67,
    ENG_AAC_AUDDEC_ADD_ERR = 68,
    ENG_AAC_AUDDEC_CONN_ERR = 69,
    ENG_AAC_AUDDEC_CONFIG_ERR = 70,
    ENG_H264_VIDDEC_ADD_ERR = 71,
    ENG_H264_VIDDEC_CONN_ERR = 72,
    ENG_H264_VIDDEC_CONFIG_ERR = 73,
    ENG_ENC_CONN_ERR = 74,
    ENG_NORV_ENC_ADD_ERR = 75,
    ENG_NORV_ENC_CONN_ERR = 76,
    ENG_NORV_ENC_CONFIG_ERR = 77,
    ENG_NORV2_ENC_ADD_ERR = 78,
    ENG_NORV2_ENC_CONN_ERR = 79,
    ENG_NORV2_ENC_CONFIG_ERR = 80,
    ENG_MP3_ENC_ADD_ERR = 81,
    ENG_MP3_ENC_CONN_ERR = 82,
    ENG_MP3_ENC_CONFIG_ERR = 83,
    ENG_AAC_ENC_ADD_ERR = 84,
    ENG_AAC_ENC_CONN_ERR = 85,
    ENG_AAC_ENC_CONFIG_ERR = 86,
    ENG_MUX_CREATE_ERR = 87,
    ENG_MUX_ADD_ERR = 88,
    ENG_MUX_CONN_ERR = 89,
    ENG_MUX_CONFIG_ERR = 90,
    ENG_CONTROLLER_ERR = 91,
    ENG_PLUG_CREATE_ERR = 92,
    ENG_PLUG_ADD_ERR = 93,
    ENG_PLUG_CONN_ERR = 94,
    ENG_PLUG_CONFIG_ERR = 95,
    ENG_VIDFRAMECOUNTER_CREATE_ERR = 96,
    ENG_VIDFRAMECOUNTER_ADD_ERR = 97,
    ENG_VIDFRAMECOUNTER_CONN_ERR = 98,
    ENG_VIDFRAMEANALYZER_CREATE_ERR = 99,
    ENG_VIDFRAMEANALYZER_ADD_ERR = 100,
    ENG_VIDFRAMEANALYZER_CONN_ERR = 101,
    ENG_COLORSPACE_CREATE_ERR = 102,
    ENG_COLORSPACE_CONN_ERR = 103,
    ENG_RESYNC_CREATE_ERR = 104,
    ENG_RESYNC_ADD_ERR = 105,
    ENG_RESYNC_CONN_ERR = 106,
    ENG_RESYNC_CONFIG_ERR = 107,
    ENG_NORVIMAGESCALER_CREATE_ERR = 108,
    ENG_NORVIMAGESCALER_ADD_ERR = 109,
    ENG_NORVIMAGESCALER_CONN_ERR = 110,
    ENG_NORVIMAGESCALER_CONFIG_ERR = 111,
    ENG_SOURCE_FILTER_ADD_ERR = 112,
    ENG_MULTIFILE_READER_CREATE_ERR = 113,
    ENG_MULTIFILE_READER_ADD_ERR = 114,
    ENG_MULTIFILE_READER_CONFIG_ERR = 115,
    ENG_ASF_READER_CREATE_ERR = 116,
    ENG_ASF_READER_ADD_ERR = 117,
    ENG_ASF_READER_CONFIG_ERR = 118,
    ENG_AVS_READER_CREATE_ERR = 119,
    ENG_AVS_READER_ADD_ERR = 120,
    ENG_AVS_READER_CONFIG_ERR = 121,
    ENG_MPEG_SPLITTER_CREATE_ERR = 122,
    ENG_MPEG_SPLITTER_ADD_ERR = 123,
    ENG_MPEG_SPLITTER_CONN_ERR = 124,
    ENG_MPEG_SPLITTER_CONFIG_ERR = 125,
    ENG_MPEG1_SPLITTER_CREATE_ERR = 126,
    ENG_MPEG1_SPLITTER_ADD_ERR = 127,
    ENG_MPEG2_SPLITTER_CREATE_ERR = 128,
    ENG_MPEG2_SPLITTER_ADD_ERR = 129,
    ENG_AVI_SPLITTER_CREATE_ERR = 130,
    ENG_AVI_SPLITTER_ADD_ERR = 131,
    ENG_AVI_SPLITTER_CONN_ERR = 132,
    ENG_DV_SPLITTER_CREATE_ERR = 133,
    ENG_DV_SPLITTER_ADD_ERR = 134,
    ENG_DV_SPLITTER_CONN_ERR = 135,
    ENG_MKV_SPLITTER_CREATE_ERR = 136,
    ENG_MKV_SPLITTER_ADD_ERR = 137,
    ENG_MKV_SPLITTER_CONN_ERR = 138,
    ENG_MKV_SPLITTER_CONFIG_ERR = 139,
    ENG_WRITING_ERROR = 140,
    ODD_RESOLUTION_INPUT_ERR = 141,
    ENG_NO_REALMEDIA_DEC = 142,
    ENG_DEMUXER_CREATE_ERR = 143,
    ENG_VC1_DEC_CREATE_ERR = 144,
    Combine_impossible_different_Width_Height_FPS = 153,
    Combine_impossible_different_AudioTrackCount = 154,
    Combine_impossible_different_ChannelCount_SampleRate_BitsPerSample = 155,
    ENG_NO_WINDOWS_MEDIA_RUNTIME_ERR = 156,
    ENG_DUPLICATE_FILE_ERR = 157,
    ENG_DUPLICATE_CHAINFILE_WARN = 158,
    CRTL_FILE_PERMISSION_DENIED = 159,
    Combine_impossible_different_VideoAngle = 160,
};

/// Name lookup: returns the enumerator's name for a value of enumeration E
/// (count rows and negative rows included), or "Invalid value" for any value
/// that is not an enumerator. The result is a static string; the functions
/// never fail, allocate nothing and are safe from any thread.
template <class E> const char* EnumName(int32_t value);

} // namespace nvt

#include "norv/enum_names.h"
