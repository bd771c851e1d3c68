// Reading texts that are not exactly what the library writes: older
// presets, other records, truncated, malformed and hostile input.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <locale>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "messages/records_sample.h"
#include "messages/xml.h"

// Records the largest single allocation a watched thread asks for, so the
// tests can tell that hostile counts are refused before anything reserves
// room for them.
namespace {
thread_local bool t_watchAllocations = false;
thread_local std::size_t t_largestAllocation = 0;
} // namespace

void* operator new(std::size_t size) {
    if (t_watchAllocations) {
        t_largestAllocation = std::max(t_largestAllocation, size);
    }
    if (void* p = std::malloc(size == 0 ? 1 : size)) {
        return p;
    }
    throw std::bad_alloc();
}

// The compiler cannot see that the replaced operator new above takes its
// blocks from malloc.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* p) noexcept {
    std::free(p);
}

void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
#pragma GCC diagnostic pop

namespace {

template <class T> std::string Xml(const T& rec) {
    std::string text;
    EXPECT_TRUE(ToXml(rec, text));
    return text;
}

void Replace(std::string& text, const std::string& from, const std::string& to) {
    const size_t pos = text.find(from);
    ASSERT_NE(pos, std::string::npos) << from;
    text.replace(pos, from.size(), to);
}

// Cuts out the element that starts with open and ends with close.
void Cut(std::string& text, const std::string& open, const std::string& close) {
    const size_t begin = text.find(open);
    ASSERT_NE(begin, std::string::npos);
    const size_t end = text.find(close, begin);
    ASSERT_NE(end, std::string::npos);
    text.erase(begin, end + close.size() - begin);
}

// ---- preset versions ----

TEST(XmlPresetVersion, VersionZeroWithoutTrackCodecsReads) {
    std::string text = Xml(nvtest::SamplePreset());
    Replace(text, "<CustomPresetData class_id=\"0\" tracking_level=\"0\" version=\"1\">",
            "<CustomPresetData class_id=\"0\" tracking_level=\"0\" version=\"0\">");
    Cut(text, "\t<trackCodecs", "</trackCodecs>\n");

    nvt::CustomPresetData back;
    back.trackCodecs = {nvt::AC_MP3};
    ASSERT_TRUE(FromXml(text, back)) << text;
    EXPECT_TRUE(back.trackCodecs.empty());
    EXPECT_EQ(back.profileID, nvt::NP_HEVC4K);
    EXPECT_EQ(back.calcQualityMetrics, 7);
}

TEST(XmlPresetVersion, VersionOneWithoutTrackCodecsFails) {
    std::string text = Xml(nvtest::SamplePreset());
    Cut(text, "\t<trackCodecs", "</trackCodecs>\n");
    nvt::CustomPresetData back;
    EXPECT_FALSE(FromXml(text, back));
}

// A later class version is read as far as its fields match; a field this
// version does not know fails the read instead of being taken for another.
TEST(XmlPresetVersion, UnknownFieldOfLaterVersionFails) {
    std::string text = Xml(nvtest::SamplePreset());
    Replace(text, "tracking_level=\"0\" version=\"1\">", "tracking_level=\"0\" version=\"2\">");
    Replace(text, "\t<creationTime>", "\t<newSetting>5</newSetting>\n\t<creationTime>");
    nvt::CustomPresetData back;
    EXPECT_FALSE(FromXml(text, back));
}

// ---- root element ----

TEST(XmlRoot, RecordOfAnotherTypeIsRefused) {
    std::string text = Xml(TBS::CancelTranscodingRequest());
    Replace(text, "<CancelTranscodingRequest ", "<TranscodeResponse ");
    Replace(text, "</CancelTranscodingRequest>", "</TranscodeResponse>");
    TBS::CancelTranscodingRequest cancel;
    EXPECT_FALSE(FromXml(text, cancel));

    TBS::ProgressResponse progress;
    EXPECT_FALSE(FromXml(Xml(TBS::TranscodeResponse()), progress));
    TBS::TranscodeResponse response;
    EXPECT_FALSE(FromXml(Xml(TBS::CancelTranscodingRequest()), response));
    nvt::CustomPresetData preset;
    EXPECT_FALSE(FromXml(Xml(TBS::TranscodeRequest()), preset));
}

TEST(XmlRoot, OnlyOneTagRenamedIsRefused) {
    const std::string good = Xml(TBS::CancelTranscodingRequest());
    TBS::CancelTranscodingRequest out;
    ASSERT_TRUE(FromXml(good, out));

    std::string start = good;
    Replace(start, "<CancelTranscodingRequest ", "<CancelTranscodingRequestX ");
    EXPECT_FALSE(FromXml(start, out));

    std::string end = good;
    Replace(end, "</CancelTranscodingRequest>", "</Other>");
    EXPECT_FALSE(FromXml(end, out));
}

TEST(XmlRoot, NothingButWhiteSpaceAfterTheRecord) {
    const std::string good = Xml(TBS::CancelTranscodingRequest());
    TBS::CancelTranscodingRequest out;

    std::string extra = good;
    Replace(extra, "</CancelTranscodingRequest>\n",
            "</CancelTranscodingRequest>\n<Extra>1</Extra>\n");
    EXPECT_FALSE(FromXml(extra, out));

    EXPECT_TRUE(FromXml(good + "  \r\n\t", out));
    EXPECT_FALSE(FromXml(good + "x", out));
}

// ---- text handling ----

TEST(XmlText, InputEndsAtTheFirstNul) {
    TBS::TranscodeResponse in;
    in.resultID = 17;
    const std::string good = Xml(in);

    TBS::TranscodeResponse out;
    EXPECT_TRUE(FromXml(good + std::string(1, '\0') + "garbage <<<", out));
    EXPECT_EQ(out.resultID, 17u);

    std::string cut = good;
    cut.insert(cut.find("</TranscodeResponse>"), 1, '\0');
    EXPECT_FALSE(FromXml(cut, out));
}

TEST(XmlText, StringWithNulIsNotWritten) {
    TBS::AnalyzeRequest in;
    in.inputFile = std::string("a\0b", 3);
    std::string text = "previous";
    EXPECT_FALSE(ToXml(in, text));
    EXPECT_TRUE(text.empty());
}

TEST(XmlText, LibraryVersionOfOtherWritersIsRead) {
    std::string text = Xml(nvtest::SamplePreset());
    Replace(text, "signature=\"serialization::archive\" version=\"9\"",
            "signature=\"serialization::archive\" version=\"18\"");
    nvt::CustomPresetData back;
    ASSERT_TRUE(FromXml(text, back));
    nvtest::ExpectEqual(nvtest::SamplePreset(), back);
}

// The process's global locale must not change how numbers are written.
TEST(XmlText, NumbersIgnoreTheGlobalLocale) {
    struct Grouping : std::numpunct<char> {
        char do_thousands_sep() const override { return '.'; }
        std::string do_grouping() const override { return "\3"; }
        char do_decimal_point() const override { return ','; }
    };
    const std::locale previous = std::locale::global(std::locale(std::locale(), new Grouping));
    TBS::ProgressResponse in;
    in.currentVideoFrame = 1234567;
    in.progress = 0.5;
    std::string text;
    const bool written = ToXml(in, text);
    TBS::ProgressResponse out;
    const bool read = FromXml(text, out);
    std::locale::global(previous);

    ASSERT_TRUE(written);
    EXPECT_NE(text.find("<currentVideoFrame>1234567</currentVideoFrame>"), std::string::npos);
    EXPECT_NE(text.find("<progress>5.0"), std::string::npos);
    ASSERT_TRUE(read);
    EXPECT_EQ(out.currentVideoFrame, 1234567u);
    EXPECT_EQ(out.progress, 0.5);
}

// Non-finite numbers are written as the archive spells them and read back.
TEST(XmlText, NonFiniteNumbersReadBack) {
    TBS::AnalyzeResponse in;
    in.videoTracks.resize(1);
    in.videoTracks[0].DAR = std::numeric_limits<double>::quiet_NaN();
    in.videoTracks[0].bitsPerSecond = std::numeric_limits<double>::infinity();
    TBS::AnalyzeResponse out;
    ASSERT_TRUE(FromXml(Xml(in), out));
    ASSERT_EQ(out.videoTracks.size(), 1u);
    EXPECT_TRUE(std::isnan(out.videoTracks[0].DAR));
    EXPECT_EQ(out.videoTracks[0].bitsPerSecond, std::numeric_limits<double>::infinity());

    TBS::ProgressResponse progress;
    progress.progress = -std::numeric_limits<double>::infinity();
    TBS::ProgressResponse back;
    ASSERT_TRUE(FromXml(Xml(progress), back));
    EXPECT_EQ(back.progress, -std::numeric_limits<double>::infinity());
}

TEST(XmlText, BadNumbersFail) {
    TBS::ProgressResponse in;
    in.progress = 0.25;
    const std::string good = Xml(in);
    TBS::ProgressResponse out;
    ASSERT_TRUE(FromXml(good, out));
    for (const char* number : {"", "x", "0.25x", "1e999", "0,25", "--1", "+-1"}) {
        std::string bad = good;
        Replace(bad, "<progress>2.50000000000000000e-01</progress>",
                std::string("<progress>") + number + "</progress>");
        EXPECT_FALSE(FromXml(bad, out)) << number;
    }
    std::string spaced = good;
    Replace(spaced, "<progress>2.50000000000000000e-01</progress>", "<progress> +0.5 </progress>");
    ASSERT_TRUE(FromXml(spaced, out));
    EXPECT_EQ(out.progress, 0.5);
}

// Every shortened form of a valid text fails, whatever the place of the cut;
// only the final line break may go.
TEST(XmlText, TruncatedTextFails) {
    for (const std::string& good :
         {Xml(TBS::CancelTranscodingRequest()), Xml(nvtest::SamplePreset())}) {
        const size_t complete = good.find("</boost_serialization>") + 22;
        for (size_t n = 0; n < good.size(); ++n) {
            nvt::CustomPresetData preset;
            TBS::CancelTranscodingRequest cancel;
            const std::string prefix = good.substr(0, n);
            const bool ok = good.find("<CustomPresetData") != std::string::npos
                                ? FromXml(prefix, preset)
                                : FromXml(prefix, cancel);
            EXPECT_EQ(ok, n >= complete) << "cut at " << n;
        }
    }
}

TEST(XmlText, MalformedTextFails) {
    TBS::TranscodeResponse in;
    in.resultID = 3;
    in.resultDescription = "text";
    const std::string good = Xml(in);
    TBS::TranscodeResponse out;
    ASSERT_TRUE(FromXml(good, out));

    const std::vector<std::pair<std::string, std::string>> edits = {
        {"<resultID>3</resultID>", "<resultID>three</resultID>"},
        {"<resultID>3</resultID>", "<resultID>3</resultIDx>"},
        // An end tag longer than the element's name is refused without
        // reading past the name the reader expects.
        {"<resultID>3</resultID>", "<resultID>3</resultID_and_a_much_longer_tail_of_text>"},
        {"<resultID>3</resultID>", "<resultID>3</r" + std::string(300, 'x') + ">"},
        {"<resultID>3</resultID>", ""},
        {"<resultDescription>text</resultDescription>", "<resultDescription>te<xt"},
        {"signature=\"serialization::archive\"", "signature=\"something else\""},
        {"<?xml version=\"1.0\"", "<?xnl version=\"1.0\""},
        {"</boost_serialization>", "</boost_serialisation>"},
    };
    for (const auto& [from, to] : edits) {
        std::string bad = good;
        Replace(bad, from, to);
        EXPECT_FALSE(FromXml(bad, out)) << bad;
    }
    for (const char* junk :
         {"", " ", "hello", "<TranscodeResponse/>", "<?xml version=\"1.0\"?>", "\xff\xfe<\0>"}) {
        EXPECT_FALSE(FromXml(junk, out)) << junk;
    }
}

// ---- hostile counts ----

// Reads text with every allocation watched; returns the read's result.
template <class T> bool WatchedRead(const std::string& text, size_t& largest) {
    T out;
    t_largestAllocation = 0;
    t_watchAllocations = true;
    const bool ok = FromXml(text, out);
    t_watchAllocations = false;
    largest = t_largestAllocation;
    return ok;
}

TEST(XmlHostile, HugeCountsAreRefusedWithoutReserving) {
    const std::string header =
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\" ?>\n"
        "<!DOCTYPE boost_serialization>\n"
        "<boost_serialization signature=\"serialization::archive\" version=\"9\">\n";
    const std::vector<std::string> counts = {"4000000000", "18446744073709551615", "20"};
    for (const std::string& count : counts) {
        SCOPED_TRACE(count);
        size_t largest = 0;

        const std::string bools =
            header +
            "<TechnicalInfoResponse class_id=\"0\" tracking_level=\"0\" version=\"1\">\n"
            "\t<sVersion></sVersion>\n"
            "\t<vecSupportedProfiles>\n"
            "\t\t<count>" +
            count + "</count>\n\t\t<item>1</item>\n";
        EXPECT_FALSE(WatchedRead<TBS::TechnicalInfoResponse>(bools, largest));
        EXPECT_LT(largest, 64u * 1024);

        const std::string numbers =
            header +
            "<AnalyzeResponse class_id=\"0\" tracking_level=\"0\" version=\"0\">\n"
            "\t<err>0</err>\n\t<duration>\n\t\t<count>" +
            count + "</count>\n\t\t<item_version>0</item_version>\n\t\t<item>1</item>\n";
        EXPECT_FALSE(WatchedRead<TBS::AnalyzeResponse>(numbers, largest));
        EXPECT_LT(largest, 64u * 1024);

        // Records: reserving a count of them would ask for terabytes.
        TBS::AnalyzeResponse withTrack;
        withTrack.audioTracks.resize(1);
        std::string tracks = Xml(withTrack);
        Replace(tracks, "<count>1</count>", "<count>" + count + "</count>");
        EXPECT_FALSE(WatchedRead<TBS::AnalyzeResponse>(tracks, largest));
        EXPECT_LT(largest, 64u * 1024);

        TBS::TechnicalInfoResponse withMap;
        withMap.mapLocalSystemCodePages["a"] = 1;
        std::string map = Xml(withMap);
        Replace(map, "<count>1</count>", "<count>" + count + "</count>");
        EXPECT_FALSE(WatchedRead<TBS::TechnicalInfoResponse>(map, largest));
        EXPECT_LT(largest, 64u * 1024);

        std::string profiles = Xml(TBS::AnalyzeResponse());
        Replace(profiles, "<count>12</count>", "<count>" + count + "</count>");
        EXPECT_FALSE(WatchedRead<TBS::AnalyzeResponse>(profiles, largest));
        EXPECT_LT(largest, 64u * 1024);
    }
}

// A plausible count that the items do not back up still fails cleanly.
TEST(XmlHostile, CountLargerThanTheItems) {
    TBS::TranscodeRequest in;
    in.inputFiles = {"a", "b"};
    std::string text = Xml(in);
    Replace(text, "<count>2</count>", "<count>3</count>");
    TBS::TranscodeRequest out;
    EXPECT_FALSE(FromXml(text, out));
}

// ---- concurrency ----

TEST(XmlConcurrency, IndependentCallsOnManyThreads) {
    const TBS::TranscodeRequest request = nvtest::SampleTranscodeRequest();
    const TBS::AnalyzeResponse analysis = nvtest::SampleAnalyzeResponse();
    const std::string requestText = Xml(request);
    const std::string analysisText = Xml(analysis);
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 25; ++i) {
                std::string text;
                TBS::TranscodeRequest r;
                TBS::AnalyzeResponse a;
                if (!ToXml(request, text) || text != requestText || !FromXml(text, r) ||
                    r.title != request.title || !ToXml(analysis, text) || text != analysisText ||
                    !FromXml(text, a) || a.audioTracks.size() != analysis.audioTracks.size()) {
                    ++failures;
                }
            }
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    EXPECT_EQ(failures.load(), 0);
}

} // namespace
