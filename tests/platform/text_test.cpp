#include "platform/text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using nvt::Utf8ToWide;
using nvt::WideString;
using nvt::WideToUtf8;

std::string Bytes(std::initializer_list<unsigned> bytes) {
    std::string s;
    for (unsigned b : bytes) {
        s.push_back(static_cast<char>(b));
    }
    return s;
}

WideString Units(std::initializer_list<unsigned> units) {
    WideString s;
    for (unsigned u : units) {
        s.push_back(static_cast<nvt::WideChar>(u));
    }
    return s;
}

TEST(TextConversion, AsciiAndTwoByteFormsRoundTrip) {
    EXPECT_EQ(Utf8ToWide("abc"), NORV_WTEXT("abc"));
    EXPECT_EQ(WideToUtf8(NORV_WTEXT("abc")), "abc");
    EXPECT_EQ(Utf8ToWide(Bytes({0xC3, 0xA9})), Units({0x00E9}));
    EXPECT_EQ(WideToUtf8(Units({0x00E9})), Bytes({0xC3, 0xA9}));
    EXPECT_EQ(WideToUtf8(Units({0x20AC})), Bytes({0xE2, 0x82, 0xAC}));
    EXPECT_EQ(Utf8ToWide(Bytes({0xE2, 0x82, 0xAC})), Units({0x20AC}));
}

TEST(TextConversion, EmptyInputGivesEmptyOutput) {
    EXPECT_TRUE(Utf8ToWide("").empty());
    EXPECT_TRUE(WideToUtf8(NORV_WTEXT("")).empty());
}

TEST(TextConversion, MalformedUtf8GivesEmptyResult) {
    EXPECT_TRUE(Utf8ToWide(Bytes({0xC3})).empty()) << "truncated sequence";
    EXPECT_TRUE(Utf8ToWide(Bytes({'a', 0xE2, 0x82})).empty()) << "truncated at the end";
    EXPECT_TRUE(Utf8ToWide(Bytes({0xC0, 0x80})).empty()) << "overlong form";
    EXPECT_TRUE(Utf8ToWide(Bytes({0xED, 0xA0, 0x80})).empty()) << "encoded surrogate";
    EXPECT_TRUE(Utf8ToWide(Bytes({0x80})).empty()) << "lone trailing byte";
    EXPECT_TRUE(Utf8ToWide(Bytes({0xF5, 0x80, 0x80, 0x80})).empty()) << "above U+10FFFF";
    EXPECT_TRUE(Utf8ToWide(Bytes({0xF8, 0x88, 0x80, 0x80, 0x80})).empty()) << "five bytes";
    EXPECT_TRUE(Utf8ToWide(Bytes({0xE0, 0x80, 0x80})).empty()) << "E0 needs A0 or more";
    EXPECT_TRUE(Utf8ToWide(Bytes({0xF0, 0x80, 0x80, 0x80})).empty()) << "F0 needs 90 or more";
    EXPECT_TRUE(Utf8ToWide(Bytes({0xF4, 0x90, 0x80, 0x80})).empty()) << "F4 allows up to 8F";
    EXPECT_TRUE(Utf8ToWide(Bytes({0xC3, 0x41})).empty()) << "bad trailing byte";
}

TEST(TextConversion, SupplementaryPlaneUsesSurrogatePairs) {
    const std::string grin = Bytes({0xF0, 0x9F, 0x98, 0x80});
    EXPECT_EQ(Utf8ToWide(grin), Units({0xD83D, 0xDE00}));
    EXPECT_EQ(WideToUtf8(Units({0xD83D, 0xDE00})), grin);
    EXPECT_EQ(Utf8ToWide(Bytes({0xF4, 0x8F, 0xBF, 0xBF})), Units({0xDBFF, 0xDFFF}));
    EXPECT_EQ(WideToUtf8(Units({0xDBFF, 0xDFFF})), Bytes({0xF4, 0x8F, 0xBF, 0xBF}));
}

TEST(TextConversion, LoneSurrogates) {
    EXPECT_TRUE(WideToUtf8(Units({'a', 0xD800})).empty()) << "high surrogate at the end";
    EXPECT_EQ(WideToUtf8(Units({'a', 0xDC00, 'b'})), Bytes({'a', 0xED, 0xB0, 0x80, 'b'}));
    EXPECT_EQ(WideToUtf8(Units({0xD800, 'x'})), Bytes({0xED, 0xA0, 0x80, 'x'}));
}

TEST(TextConversion, EmbeddedNulEndsTheResult) {
    EXPECT_EQ(Utf8ToWide(std::string("ab\0cd", 5)), NORV_WTEXT("ab"));
    EXPECT_EQ(WideToUtf8(WideString(NORV_WTEXT("ab\0cd"), 5)), "ab");
}

TEST(MemoryBuffer, ResizeKeepsInvariant) {
    nvtl::MemoryBuffer<char> buffer;
    EXPECT_EQ(buffer.Data(), nullptr);
    EXPECT_EQ(buffer.Count(), 0u);
    buffer.Resize(8, true);
    ASSERT_NE(buffer.Data(), nullptr);
    EXPECT_EQ(buffer.Count(), 8u);
    for (uint32_t i = 0; i < 8; ++i) {
        EXPECT_EQ(buffer.Data()[i], 0);
    }
    char* before = buffer.Data();
    buffer.Resize(8);
    EXPECT_EQ(buffer.Data(), before) << "same count keeps the array";
    buffer.Resize(0);
    EXPECT_EQ(buffer.Data(), nullptr);
    EXPECT_EQ(buffer.Count(), 0u);
}

} // namespace
