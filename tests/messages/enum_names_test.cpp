// Name lookups of the enumerations: the edge values and a sample of every
// table, checked against the names the engine and callers rely on.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "norv/enums.h"

namespace {

using nvt::EnumName;

const std::string kInvalid = "Invalid value";

TEST(EnumNames, EdgeValues) {
    EXPECT_EQ(EnumName<nvt::VideoCodec>(-1), std::string("VC_UNKNOWN"));
    EXPECT_EQ(EnumName<nvt::VideoCodec>(17), std::string("_VC_count_"));
    EXPECT_EQ(EnumName<nvt::VideoCodec>(18), kInvalid);

    EXPECT_EQ(EnumName<nvt::AudioCodec>(19), std::string("_AC_count_"));
    EXPECT_EQ(EnumName<nvt::AudioCodec>(-2), kInvalid);

    EXPECT_EQ(EnumName<nvt::LogLevel>(3), kInvalid);
    EXPECT_EQ(EnumName<nvt::LogLevel>(256), std::string("NORV_MSG_LAST"));
    EXPECT_EQ(EnumName<nvt::LogLevel>(512), kInvalid);

    EXPECT_EQ(EnumName<nvt::HevcQualityLevel>(0), kInvalid);
    EXPECT_EQ(EnumName<nvt::HevcQualityLevel>(2), kInvalid);
    EXPECT_EQ(EnumName<nvt::HevcQualityLevel>(25), kInvalid);
    EXPECT_EQ(EnumName<nvt::HevcQualityLevel>(15), std::string("hevc_ql_balanced"));

    EXPECT_EQ(EnumName<nvt::SubtitleType>(7), std::string("SC_SMI_EXTERNAL"));

    EXPECT_EQ(EnumName<nvt::Result>(-998), std::string("Aborted"));
    EXPECT_EQ(EnumName<nvt::Result>(-996), kInvalid);
    EXPECT_EQ(EnumName<nvt::Result>(161), kInvalid);
    EXPECT_EQ(EnumName<nvt::Result>(141), std::string("ODD_RESOLUTION_INPUT_ERR"));

    EXPECT_EQ(EnumName<nvt::NorvProfile>(12), std::string("_NP_count_"));
    EXPECT_EQ(EnumName<nvt::NorvProfile>(13), kInvalid);
}

// The extremes of the value range never index outside a table.
TEST(EnumNames, ExtremeValuesAreInvalid) {
    for (const int32_t v : {INT32_MIN, INT32_MIN + 1, INT32_MAX, INT32_MAX - 1}) {
        EXPECT_EQ(EnumName<nvt::NorvProfile>(v), kInvalid);
        EXPECT_EQ(EnumName<nvt::VideoCodec>(v), kInvalid);
        EXPECT_EQ(EnumName<nvt::AudioCodec>(v), kInvalid);
        EXPECT_EQ(EnumName<nvt::SubtitleCodec>(v), kInvalid);
        EXPECT_EQ(EnumName<nvt::SubtitleType>(v), kInvalid);
        EXPECT_EQ(EnumName<nvt::AudioType>(v), kInvalid);
        EXPECT_EQ(EnumName<nvt::HWAcceleration>(v), kInvalid);
        EXPECT_EQ(EnumName<nvt::TranscodePriority>(v), kInvalid);
        EXPECT_EQ(EnumName<nvt::TranscodeState>(v), kInvalid);
        EXPECT_EQ(EnumName<nvt::ProgressOption>(v), kInvalid);
        EXPECT_EQ(EnumName<nvt::SettingPriority>(v), kInvalid);
        EXPECT_EQ(EnumName<nvt::LogLevel>(v), kInvalid);
        EXPECT_EQ(EnumName<nvt::FlipMode>(v), kInvalid);
        EXPECT_EQ(EnumName<nvt::HevcQualityLevel>(v), kInvalid);
        EXPECT_EQ(EnumName<nvt::Result>(v), kInvalid);
    }
}

struct Row {
    int32_t value;
    const char* name;
};

template <class E> void ExpectRows(std::initializer_list<Row> rows) {
    for (const Row& row : rows) {
        EXPECT_EQ(EnumName<E>(row.value), std::string(row.name)) << "value " << row.value;
    }
}

TEST(EnumNames, SampleOfEveryTable) {
    ExpectRows<nvt::NorvProfile>({{0, "NP_Mobile"},
                                  {3, "NP_HomeTheater"},
                                  {5, "NP_iPhoneMP4H264"},
                                  {8, "NP_NorvPlus4K_MKV"},
                                  {11, "NP_HEVC4K"}});
    ExpectRows<nvt::VideoCodec>(
        {{0, "VC_ASP"}, {4, "VC_NORV"}, {8, "VC_HEVC"}, {13, "VC_DVCPRO"}, {16, "VC_Empty"}});
    ExpectRows<nvt::AudioCodec>({{-1, "AC_UNKNOWN"},
                                 {0, "AC_WAV"},
                                 {3, "AC_AC3"},
                                 {10, "AC_AES3"},
                                 {17, "AC_AIFF"},
                                 {18, "AC_DS_UNKNOWN"}});
    ExpectRows<nvt::SubtitleCodec>({{-1, "SC_UNKNOWN"},
                                    {0, "SC_XSUB"},
                                    {2, "SC_TEXT"},
                                    {3, "_SC_count_"},
                                    {4, "Invalid value"}});
    ExpectRows<nvt::SubtitleType>({{0, "ST_SSA_ASS_INTERNAL"},
                                   {3, "ST_SRT_EXTERNAL"},
                                   {6, "ST_VOBSUB"},
                                   {8, "ST_INVALID"},
                                   {9, "Invalid value"},
                                   {-1, "Invalid value"}});
    ExpectRows<nvt::AudioType>(
        {{-1, "AT_INVALID"}, {0, "AT_MP3"}, {1, "AT_AAC"}, {2, "Invalid value"}});
    ExpectRows<nvt::HWAcceleration>(
        {{0, "NO_ACCELERATION"}, {1, "OPENCL"}, {2, "IQSV"}, {3, "CUDA"}, {4, "Invalid value"}});
    ExpectRows<nvt::TranscodePriority>(
        {{0, "TP_Idle"}, {1, "TP_Low"}, {2, "TP_Normal"}, {3, "TP_High"}, {-1, "Invalid value"}});
    ExpectRows<nvt::TranscodeState>(
        {{0, "TS_Pending"}, {1, "TS_Running"}, {2, "TS_Done"}, {3, "TS_Failed"}});
    ExpectRows<nvt::ProgressOption>({{0, "opProgress"},
                                     {2, "opCurrentVideoFrame"},
                                     {5, "opElapsedTime"},
                                     {7, "opDetails"},
                                     {8, "Invalid value"}});
    ExpectRows<nvt::SettingPriority>({{0, "prioUnknown"},
                                      {3, "prioFilesize"},
                                      {6, "prioAudioPassThrough"},
                                      {8, "prioAspectRatio"},
                                      {9, "prioCOUNT"},
                                      {10, "Invalid value"}});
    ExpectRows<nvt::LogLevel>({{0, "NORV_NO_MSG"},
                               {1, "NORV_ALL_MSG"},
                               {2, "NORV_CRITICAL_MSG"},
                               {16, "NORV_INFO_MSG"},
                               {128, "NORV_PROGRESS_MSG"},
                               {6, "Invalid value"},
                               {-1, "Invalid value"}});
    ExpectRows<nvt::FlipMode>(
        {{0, "flipNone"}, {1, "flipHorizontal"}, {2, "flipVertical"}, {3, "Invalid value"}});
    ExpectRows<nvt::HevcQualityLevel>({{1, "hevc_ql_fastest"},
                                       {8, "hevc_ql_fast"},
                                       {20, "hevc_ql_better"},
                                       {30, "hevc_ql_best"}});
}

TEST(EnumNames, ResultRanges) {
    ExpectRows<nvt::Result>({{-1000, "NotAvailable"},
                             {-999, "Working"},
                             {-997, "InvalidArgument"},
                             {-1001, "Invalid value"},
                             {-2, "Invalid value"},
                             {-1, "NOT_SET"},
                             {0, "SUCCESS"},
                             {1, "PENDING"},
                             {2, "ENG_ERR"},
                             {5, "CRTL_FILE_DOES_NOT_EXIST"},
                             {6, "CTRL_DUPLICATE_FILE"},
                             {7, "Invalid value"},
                             {8, "ENG_NOTIMPL_ERR"},
                             {28, "ENG_DECODER"},
                             {29, "Invalid value"},
                             {30, "ENG_NO_DV_DEC"},
                             {49, "ENG_NO_AC3_DEC_DO_PASSTHROUGH"},
                             {77, "ENG_NORV_ENC_CONFIG_ERR"},
                             {108, "ENG_NORVIMAGESCALER_CREATE_ERR"},
                             {144, "ENG_VC1_DEC_CREATE_ERR"},
                             {145, "Invalid value"},
                             {152, "Invalid value"},
                             {153, "Combine_impossible_different_Width_Height_FPS"},
                             {155, "Combine_impossible_different_ChannelCount_SampleRate_"
                                   "BitsPerSample"},
                             {159, "CRTL_FILE_PERMISSION_DENIED"},
                             {160, "Combine_impossible_different_VideoAngle"}});
}

} // namespace
