// The engine information object over records filled by hand.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "api/engine_info.h"
#include "messages/xml.h"

namespace nvt {
namespace {

TEST(EngineInfo, FreshObjectIsEmpty) {
    nvtl::RefCountedPtr<TranscodeEngineInfo> info(new TranscodeEngineInfo());
    EXPECT_EQ(info->GetRefCount(), 1);
    std::string version = "old";
    EXPECT_EQ(info->GetVersion(version), SUCCESS);
    EXPECT_TRUE(version.empty());
    std::vector<bool> profiles = {true};
    EXPECT_EQ(info->GetSupportedProfiles(profiles), SUCCESS);
    EXPECT_TRUE(profiles.empty());
    std::vector<std::string> names = {"x"};
    EXPECT_EQ(info->GetSupportedFormats(names), SUCCESS);
    EXPECT_TRUE(names.empty());
    names = {"x"};
    EXPECT_EQ(info->GetSupportedAudio(names), SUCCESS);
    EXPECT_TRUE(names.empty());
    names = {"x"};
    EXPECT_EQ(info->GetSupportedSubtitles(names), SUCCESS);
    EXPECT_TRUE(names.empty());
    std::vector<HWAcceleration> acceleration = {CUDA};
    EXPECT_EQ(info->GetAcceleration(acceleration), SUCCESS);
    EXPECT_TRUE(acceleration.empty());
    std::vector<AudioCodec> codecs = {AC_AAC};
    EXPECT_EQ(info->GetSupportedOutputCodecs(NP_HD720, codecs), SUCCESS);
    EXPECT_TRUE(codecs.empty());
    EXPECT_TRUE(info->GetLocalSystemCodePages().empty());
}

TBS::TechnicalInfoResponse SampleResponse() {
    TBS::TechnicalInfoResponse r;
    r.sVersion = "4.2.1";
    r.vecSupportedProfiles = {true, false, true};
    r.vecSupportedFormats = {"avi", "mkv"};
    r.vecSupportedAudio = {"aac"};
    r.vecSupportedSubtitles = {"srt", "ssa"};
    r.vecAcceleration = {NO_ACCELERATION, IQSV};
    r.mapSupportedOutputCodecs[NP_NorvPlusHD] = {AC_AAC, AC_AC3};
    r.mapSupportedOutputCodecs[NP_Mobile] = {};
    r.mapLocalSystemCodePages["Western"] = 1252;
    r.mapLocalSystemCodePages["UTF-8"] = 65001;
    return r;
}

TEST(EngineInfo, ReportsTheResponseAndReplacesTheCallersContents) {
    nvtl::RefCountedPtr<TranscodeEngineInfo> info(new TranscodeEngineInfo());
    // The session parses the engine's answer straight into the response.
    std::string xml;
    ASSERT_TRUE(TBS::ToXml(SampleResponse(), xml));
    ASSERT_TRUE(TBS::FromXml(xml, info->Response()));

    std::string version;
    EXPECT_EQ(info->GetVersion(version), SUCCESS);
    EXPECT_EQ(version, "4.2.1");
    std::vector<bool> profiles = {false, false, false, false, false};
    EXPECT_EQ(info->GetSupportedProfiles(profiles), SUCCESS);
    EXPECT_EQ(profiles, (std::vector<bool>{true, false, true}));
    std::vector<std::string> names = {"stale", "stale", "stale"};
    EXPECT_EQ(info->GetSupportedFormats(names), SUCCESS);
    EXPECT_EQ(names, (std::vector<std::string>{"avi", "mkv"}));
    EXPECT_EQ(info->GetSupportedAudio(names), SUCCESS);
    EXPECT_EQ(names, (std::vector<std::string>{"aac"}));
    EXPECT_EQ(info->GetSupportedSubtitles(names), SUCCESS);
    EXPECT_EQ(names, (std::vector<std::string>{"srt", "ssa"}));
    std::vector<HWAcceleration> acceleration;
    EXPECT_EQ(info->GetAcceleration(acceleration), SUCCESS);
    EXPECT_EQ(acceleration, (std::vector<HWAcceleration>{NO_ACCELERATION, IQSV}));

    std::vector<AudioCodec> codecs = {AC_MP3};
    EXPECT_EQ(info->GetSupportedOutputCodecs(NP_NorvPlusHD, codecs), SUCCESS);
    EXPECT_EQ(codecs, (std::vector<AudioCodec>{AC_AAC, AC_AC3}));
    codecs = {AC_MP3};
    EXPECT_EQ(info->GetSupportedOutputCodecs(NP_Mobile, codecs), SUCCESS);
    EXPECT_TRUE(codecs.empty());
    codecs = {AC_MP3};
    EXPECT_EQ(info->GetSupportedOutputCodecs(NP_HEVC4K, codecs), SUCCESS);
    EXPECT_TRUE(codecs.empty());

    const auto& pages = info->GetLocalSystemCodePages();
    EXPECT_EQ(&pages, &info->GetLocalSystemCodePages()); // the object's own map
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_EQ(pages.at("Western"), 1252u);
    EXPECT_EQ(pages.at("UTF-8"), 65001u);
}

TEST(EngineInfo, EmptyAccelerationListStaysEmpty) {
    nvtl::RefCountedPtr<TranscodeEngineInfo> info(new TranscodeEngineInfo());
    info->Response() = SampleResponse();
    info->Response().vecAcceleration.clear();
    std::vector<HWAcceleration> acceleration = {OPENCL, CUDA};
    EXPECT_EQ(info->GetAcceleration(acceleration), SUCCESS);
    EXPECT_TRUE(acceleration.empty());
}

} // namespace
} // namespace nvt
