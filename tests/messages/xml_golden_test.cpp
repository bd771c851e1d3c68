// The exact archive texts, written out by hand: these are the wire contract
// with the engine and the format of stored presets.
#include <gtest/gtest.h>

#include <string>

#include "messages/xml.h"

namespace {

const std::string kHeader =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\" ?>\n"
    "<!DOCTYPE boost_serialization>\n"
    "<boost_serialization signature=\"serialization::archive\" version=\"9\">\n";
const std::string kFooter = "</boost_serialization>\n\n";

const std::string kDefaultTechnicalInfoRequest =
    kHeader +
    "<TechnicalInfoRequest class_id=\"0\" tracking_level=\"0\" version=\"1\">\n"
    "\t<loggerParam class_id=\"1\" tracking_level=\"0\" version=\"0\">\n"
    "\t\t<enableLogs>0</enableLogs>\n"
    "\t\t<logLevel>0</logLevel>\n"
    "\t\t<logPath></logPath>\n"
    "\t</loggerParam>\n"
    "\t<technicalDetailsFile></technicalDetailsFile>\n"
    "</TechnicalInfoRequest>\n" +
    kFooter;

// audioBitrates comes before videoBitrate and trackCodecs last, unlike the
// declaration order. The vector of unsigned takes a class number but shows
// no class information.
const std::string kPreset = kHeader +
                            "<CustomPresetData class_id=\"0\" tracking_level=\"0\" version=\"1\">\n"
                            "\t<profileID>10</profileID>\n"
                            "\t<profileName>Tom &amp; Jerry &lt;HD&gt;</profileName>\n"
                            "\t<fileSizeLimit>5000000000</fileSizeLimit>\n"
                            "\t<enableAspectRatio>1</enableAspectRatio>\n"
                            "\t<resWidth>0</resWidth>\n"
                            "\t<resHeight>0</resHeight>\n"
                            "\t<audioBitrates>\n"
                            "\t\t<count>2</count>\n"
                            "\t\t<item_version>0</item_version>\n"
                            "\t\t<item>128000</item>\n"
                            "\t\t<item>96000</item>\n"
                            "\t</audioBitrates>\n"
                            "\t<videoBitrate>4000000</videoBitrate>\n"
                            "\t<enableVideo2passEncoding>0</enableVideo2passEncoding>\n"
                            "\t<videoPassthrough>0</videoPassthrough>\n"
                            "\t<audioPassthrough>0</audioPassthrough>\n"
                            "\t<m_bEnableTrickplayTrack>0</m_bEnableTrickplayTrack>\n"
                            "\t<trickWidth>0</trickWidth>\n"
                            "\t<trickHeight>0</trickHeight>\n"
                            "\t<trickVideoBitrate>0</trickVideoBitrate>\n"
                            "\t<enableHWAcceleration>0</enableHWAcceleration>\n"
                            "\t<hwAcceleration>0</hwAcceleration>\n"
                            "\t<externalSubtitleIndex>-1</externalSubtitleIndex>\n"
                            "\t<rect class_id=\"2\" tracking_level=\"0\" version=\"0\">\n"
                            "\t\t<top>1</top>\n"
                            "\t\t<bottom>2</bottom>\n"
                            "\t\t<left>3</left>\n"
                            "\t\t<right>4</right>\n"
                            "\t</rect>\n"
                            "\t<prio>4</prio>\n"
                            "\t<creationTime>1700000000</creationTime>\n"
                            "\t<hevcQualityLevel>30</hevcQualityLevel>\n"
                            "\t<wppEnabled>1</wppEnabled>\n"
                            "\t<calcQualityMetrics>0</calcQualityMetrics>\n"
                            "\t<trackCodecs class_id=\"3\" tracking_level=\"0\" version=\"0\">\n"
                            "\t\t<count>2</count>\n"
                            "\t\t<item_version>0</item_version>\n"
                            "\t\t<item>2</item>\n"
                            "\t\t<item>3</item>\n"
                            "\t</trackCodecs>\n"
                            "</CustomPresetData>\n" +
                            kFooter;

nvt::CustomPresetData GoldenPreset() {
    nvt::CustomPresetData p(nvt::NP_HEVC1080);
    p.profileName = "Tom & Jerry <HD>";
    p.fileSizeLimit = 5000000000ULL;
    p.audioBitrates = {128000, 96000};
    p.videoBitrate = 4000000;
    p.rect = {1, 2, 3, 4};
    p.prio = nvt::prioVideoBitrate;
    p.creationTime = 1700000000;
    p.hevcQualityLevel = nvt::hevc_ql_best;
    p.trackCodecs = {nvt::AC_AAC, nvt::AC_AC3};
    return p;
}

// Collections of every kind: a vector of bool (no item_version, no class
// information), vectors of strings and enumerations and maps (class
// information on first occurrence only), map entries as first/second.
const std::string kTechnicalInfoResponse =
    kHeader +
    "<TechnicalInfoResponse class_id=\"0\" tracking_level=\"0\" version=\"1\">\n"
    "\t<sVersion>1.0</sVersion>\n"
    "\t<vecSupportedProfiles>\n"
    "\t\t<count>2</count>\n"
    "\t\t<item>1</item>\n"
    "\t\t<item>0</item>\n"
    "\t</vecSupportedProfiles>\n"
    "\t<vecSupportedFormats class_id=\"2\" tracking_level=\"0\" version=\"0\">\n"
    "\t\t<count>1</count>\n"
    "\t\t<item_version>0</item_version>\n"
    "\t\t<item>avi</item>\n"
    "\t</vecSupportedFormats>\n"
    "\t<vecSupportedAudio>\n"
    "\t\t<count>0</count>\n"
    "\t\t<item_version>0</item_version>\n"
    "\t</vecSupportedAudio>\n"
    "\t<vecSupportedSubtitles>\n"
    "\t\t<count>0</count>\n"
    "\t\t<item_version>0</item_version>\n"
    "\t</vecSupportedSubtitles>\n"
    "\t<vecAcceleration class_id=\"3\" tracking_level=\"0\" version=\"0\">\n"
    "\t\t<count>1</count>\n"
    "\t\t<item_version>0</item_version>\n"
    "\t\t<item>3</item>\n"
    "\t</vecAcceleration>\n"
    "\t<mapSupportedOutputCodecs class_id=\"4\" tracking_level=\"0\" version=\"0\">\n"
    "\t\t<count>1</count>\n"
    "\t\t<item_version>0</item_version>\n"
    "\t\t<item class_id=\"5\" tracking_level=\"0\" version=\"0\">\n"
    "\t\t\t<first>2</first>\n"
    "\t\t\t<second class_id=\"6\" tracking_level=\"0\" version=\"0\">\n"
    "\t\t\t\t<count>1</count>\n"
    "\t\t\t\t<item_version>0</item_version>\n"
    "\t\t\t\t<item>2</item>\n"
    "\t\t\t</second>\n"
    "\t\t</item>\n"
    "\t</mapSupportedOutputCodecs>\n"
    "\t<mapLocalSystemCodePages class_id=\"7\" tracking_level=\"0\" version=\"0\">\n"
    "\t\t<count>1</count>\n"
    "\t\t<item_version>0</item_version>\n"
    "\t\t<item class_id=\"8\" tracking_level=\"0\" version=\"0\">\n"
    "\t\t\t<first>UTF-8</first>\n"
    "\t\t\t<second>65001</second>\n"
    "\t\t</item>\n"
    "\t</mapLocalSystemCodePages>\n"
    "</TechnicalInfoResponse>\n" +
    kFooter;

TBS::TechnicalInfoResponse GoldenTechnicalInfoResponse() {
    TBS::TechnicalInfoResponse r;
    r.sVersion = "1.0";
    r.vecSupportedProfiles = {true, false};
    r.vecSupportedFormats = {"avi"};
    r.vecAcceleration = {nvt::CUDA};
    r.mapSupportedOutputCodecs[nvt::NP_HD720] = {nvt::AC_AAC};
    r.mapLocalSystemCodePages["UTF-8"] = 65001;
    return r;
}

TEST(XmlGolden, DefaultTechnicalInfoRequest) {
    std::string text = "left over";
    ASSERT_TRUE(ToXml(TBS::TechnicalInfoRequest(), text));
    EXPECT_EQ(text, kDefaultTechnicalInfoRequest);

    TBS::TechnicalInfoRequest back;
    back.technicalDetailsFile = "stale";
    ASSERT_TRUE(FromXml(kDefaultTechnicalInfoRequest, back));
    EXPECT_FALSE(back.loggerParam.enableLogs);
    EXPECT_TRUE(back.technicalDetailsFile.empty());
}

TEST(XmlGolden, CustomPresetData) {
    std::string text;
    ASSERT_TRUE(ToXml(GoldenPreset(), text));
    EXPECT_EQ(text, kPreset);

    nvt::CustomPresetData back;
    ASSERT_TRUE(FromXml(kPreset, back));
    EXPECT_EQ(back.profileID, nvt::NP_HEVC1080);
    EXPECT_EQ(back.profileName, "Tom & Jerry <HD>");
    EXPECT_EQ(back.fileSizeLimit, 5000000000ULL);
    EXPECT_EQ(back.audioBitrates, (std::vector<uint32_t>{128000, 96000}));
    EXPECT_EQ(back.videoBitrate, 4000000u);
    EXPECT_EQ(back.rect.left, 3u);
    EXPECT_EQ(back.prio, nvt::prioVideoBitrate);
    EXPECT_EQ(back.hevcQualityLevel, nvt::hevc_ql_best);
    EXPECT_EQ(back.trackCodecs, (std::vector<nvt::AudioCodec>{nvt::AC_AAC, nvt::AC_AC3}));
}

TEST(XmlGolden, TechnicalInfoResponseCollections) {
    std::string text;
    ASSERT_TRUE(ToXml(GoldenTechnicalInfoResponse(), text));
    EXPECT_EQ(text, kTechnicalInfoResponse);

    TBS::TechnicalInfoResponse back;
    ASSERT_TRUE(FromXml(kTechnicalInfoResponse, back));
    EXPECT_EQ(back.vecSupportedProfiles, (std::vector<bool>{true, false}));
    EXPECT_EQ(back.mapSupportedOutputCodecs.at(nvt::NP_HD720),
              std::vector<nvt::AudioCodec>{nvt::AC_AAC});
    EXPECT_EQ(back.mapLocalSystemCodePages.at("UTF-8"), 65001u);

    // Empty, a vector of bool is still only its count.
    ASSERT_TRUE(ToXml(TBS::TechnicalInfoResponse(), text));
    EXPECT_NE(
        text.find("\t<vecSupportedProfiles>\n\t\t<count>0</count>\n\t</vecSupportedProfiles>\n"),
        std::string::npos)
        << text;
}

size_t CountOf(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t pos = text.find(what); pos != std::string::npos; pos = text.find(what, pos + 1)) {
        ++n;
    }
    return n;
}

// Whatever the source, the profile flags are written as exactly 12 items
// without item_version; the primitive vectors carry no class information.
TEST(XmlGolden, AnalyzeResponseShape) {
    std::string text;
    ASSERT_TRUE(ToXml(TBS::AnalyzeResponse(), text));
    const size_t begin = text.find("\t<profiles>\n\t\t<count>12</count>\n");
    ASSERT_NE(begin, std::string::npos) << text;
    const size_t end = text.find("\t</profiles>\n", begin);
    ASSERT_NE(end, std::string::npos);
    const std::string profiles = text.substr(begin, end - begin);
    EXPECT_EQ(CountOf(profiles, "\t\t<item>0</item>\n"), 12u);
    EXPECT_EQ(CountOf(profiles, "item_version"), 0u);

    EXPECT_NE(text.find("\t<duration>\n\t\t<count>0</count>\n\t\t<item_version>0</item_version>\n"
                        "\t</duration>\n"),
              std::string::npos);
    EXPECT_NE(text.find("\t<inputFileSize>\n\t\t<count>0</count>\n"), std::string::npos);
    EXPECT_NE(text.find("\t<videoTracks class_id=\""), std::string::npos);
    // The second vector of audio tracks is a later occurrence of the class.
    EXPECT_NE(text.find("\t<audioTracks class_id=\""), std::string::npos);
    EXPECT_NE(text.find("\t<audioTracksHighLevel>\n"), std::string::npos);
}

// A record that extends the track base writes the base first, as a nested
// element with class information.
TEST(XmlGolden, TrackBasePart) {
    TBS::AnalyzeResponse r;
    r.subtitleTracks.resize(1);
    r.subtitleTracks[0].trackName = "x";
    r.subtitleTracks[0].subType = nvt::ST_VOBSUB;
    std::string text;
    ASSERT_TRUE(ToXml(r, text));
    EXPECT_NE(text.find("\t\t<item class_id=\"6\" tracking_level=\"0\" version=\"0\">\n"
                        "\t\t\t<SMediaTrack class_id=\"7\" tracking_level=\"0\" version=\"0\">\n"
                        "\t\t\t\t<trackName>x</trackName>\n"
                        "\t\t\t\t<bitsPerSecond>"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("\t\t\t<subtitleEmbedded>0</subtitleEmbedded>\n"
                        "\t\t\t<subType>6</subType>\n"
                        "\t\t\t<subtitleLangCode></subtitleLangCode>\n"),
              std::string::npos);
}

// The command-line switches are written in their own order, not the
// declaration order.
TEST(XmlGolden, CmdLineFlagsOrder) {
    TBS::CmdLineParams p;
    p.cmdLineFlags.enableProfileDetector = true;
    std::string text;
    ASSERT_TRUE(ToXml(p, text));
    EXPECT_NE(text.find("\t<CmdLineFlags class_id=\"4\" tracking_level=\"0\" version=\"0\">\n"
                        "\t\t<enableTrickplayTrack>0</enableTrickplayTrack>\n"
                        "\t\t<enableProfileDetector>1</enableProfileDetector>\n"
                        "\t\t<enableAudioPassthrough>0</enableAudioPassthrough>\n"
                        "\t\t<enableVideo2passEncoding>0</enableVideo2passEncoding>\n"
                        "\t\t<enableBurnSubtitle>0</enableBurnSubtitle>\n"
                        "\t</CmdLineFlags>\n"
                        "\t<CmdLineLogs class_id=\"5\""),
              std::string::npos)
        << text;
}

} // namespace
