// Sources built from analysis responses: field mapping, the chain split and
// the getters' argument checks.
#include <gtest/gtest.h>

#include "media/analysis.h"
#include "media/source_media.h"
#include "platform/text.h"
#include "session/joined_files.h"

namespace nvt {
namespace {

using SourceList = std::vector<nvtl::RefCountedPtr<ISourceMedia>>;

TBS::SAudioTrack AudioRecord(int id, const char* codecName, const char* trackName) {
    TBS::SAudioTrack a;
    a.ID = id;
    a.trackName = trackName;
    a.audioCodecName = codecName;
    a.bitsPerSecond = 192000.0;
    a.audioChannelCount = 6;
    a.audioSampleRate = 48000;
    a.audioBitsPerSample = 16;
    a.audioFormat = AC_AC3;
    a.audioLangCode = "deu";
    return a;
}

TBS::AnalyzeResponse DescribedResponse() {
    TBS::AnalyzeResponse r;
    r.duration = {125};
    r.inputFileSize = {987654321ULL};
    r.containerFormatName = "Matroska";
    TBS::SVideoTrack v;
    v.ID = 1;
    v.videoWidth = 1920;
    v.videoHeight = 1080;
    v.videoFrameRate = 29970;
    v.videoBitrate = 0;
    v.bitsPerSecond = 8000000.0;
    v.videoCodec = VC_H264;
    v.DAR = 16.0 / 9.0;
    r.videoTracks.push_back(v);
    TBS::SAudioTrack a = AudioRecord(2, "AC3", "Main");
    a.audioTranscodeRequires[NP_HD720] = {true, false};
    a.audioTranscodeRequires[NP_Mobile] = {false, true};
    a.audioTranscodeRequires[40] = {true, true}; // no such profile: dropped
    r.audioTracks.push_back(a);
    r.audioTracksHighLevel.push_back(AudioRecord(3, "DTS", "HD"));
    r.audioTracksUnsupportedHighLevel.push_back(AudioRecord(4, "TrueHD", "Atmos"));
    TBS::SSubtitleTrack s;
    s.ID = 5;
    s.trackName = "Forced";
    s.subType = ST_SRT_INTERNAL;
    s.subtitleLangCode = "eng";
    r.subtitleTracks.push_back(s);
    r.profiles[NP_HD720] = true;
    r.profiles[NP_HEVC4K] = true;
    r.angle = 90;
    return r;
}

nvtl::RefCountedPtr<SourceMedia> Filled(const char* path, const TBS::AnalyzeResponse& r) {
    nvtl::RefCountedPtr<SourceMedia> source(new SourceMedia(W(path)));
    FillFromAnalysis(r, *source);
    return source;
}

template <class Track> nvtl::RefCountedPtr<Track> Hold(Track* raw) {
    nvtl::RefCountedPtr<Track> held(raw);
    if (raw != nullptr) {
        raw->Release(); // the getter's reference now belongs to the holder
    }
    return held;
}

TEST(SourceMediaTitle, TakesBaseNameWithoutLastExtension) {
    auto title = [](const char* path) {
        nvtl::RefCountedPtr<SourceMedia> s(new SourceMedia(W(path)));
        WideString t;
        EXPECT_EQ(s->GetTitle(t), SUCCESS);
        return WideToUtf8(t);
    };
    EXPECT_EQ(title("a/b.c.d"), "b.c");
    EXPECT_EQ(title("dir\\name"), "name");
    EXPECT_EQ(title("noseparator.mkv"), "");
    EXPECT_EQ(title("/videos/"), "");
    EXPECT_EQ(title("x\\y/z.avi"), "z"); // '/' wins over a later '\'
    EXPECT_EQ(title("/media/clip"), "clip");
}

TEST(SourceMediaFill, MapsEveryFieldOfTheResponse) {
    auto s = Filled("/v/movie.mkv", DescribedResponse());

    WideString text;
    s->GetContainerFormatName(text);
    EXPECT_EQ(WideToUtf8(text), "Matroska");
    uint64_t u64 = 0;
    s->GetDuration(&u64);
    EXPECT_EQ(u64, 125000u);
    s->GetFileSize(&u64);
    EXPECT_EQ(u64, 987654321ULL);
    bool flag = false;
    EXPECT_EQ(s->GetProfileFlag(NP_HD720, &flag), SUCCESS);
    EXPECT_TRUE(flag);
    EXPECT_EQ(s->GetProfileFlag(NP_HD1080, &flag), SUCCESS);
    EXPECT_FALSE(flag);
    EXPECT_EQ(s->GetProfileFlag(NP_HEVC4K, &flag), SUCCESS);
    EXPECT_TRUE(flag);
    EXPECT_FALSE(s->IsAudioContainer());

    ISourceMediaVideoTrack* rawVideo = nullptr;
    ASSERT_EQ(s->GetVideoTrack(0, &rawVideo), SUCCESS);
    auto video = Hold(rawVideo);
    int32_t i32 = 0;
    double d = 0;
    video->GetCodec(&i32);
    EXPECT_EQ(i32, VC_H264);
    video->GetWidth(&i32);
    EXPECT_EQ(i32, 1920);
    video->GetHeight(&i32);
    EXPECT_EQ(i32, 1080);
    video->GetFrameRate(&d);
    EXPECT_DOUBLE_EQ(d, 29.97);
    video->GetBitrate(&d); // videoBitrate 0: the record's bitsPerSecond
    EXPECT_DOUBLE_EQ(d, 8000000.0);
    video->GetAspectRatio(&d);
    EXPECT_DOUBLE_EQ(d, 16.0 / 9.0);
    EXPECT_EQ(video->GetAngle(), 90);
    video->GetID(&i32);
    EXPECT_EQ(i32, 1);
    EXPECT_EQ(video->GetName(text), ENG_NOTIMPL_ERR);

    ISourceMediaAudioTrack* rawAudio = nullptr;
    ASSERT_EQ(s->GetAudioTrack(0, &rawAudio), SUCCESS);
    auto audio = Hold(rawAudio);
    audio->GetName(text);
    EXPECT_EQ(WideToUtf8(text), "Main");
    audio->GetLanguage(text);
    EXPECT_EQ(WideToUtf8(text), "deu");
    audio->GetCodec(&i32);
    EXPECT_EQ(i32, AC_AC3);
    audio->GetChannelCount(&i32);
    EXPECT_EQ(i32, 6);
    audio->GetSampleRate(&i32);
    EXPECT_EQ(i32, 48000);
    audio->GetBitsPerSample(&i32);
    EXPECT_EQ(i32, 16);
    audio->GetID(&i32);
    EXPECT_EQ(i32, 2);
    bool requires = false, possible = true;
    EXPECT_EQ(audio->GetTranscodeRequirement(NP_HD720, &requires, &possible), SUCCESS);
    EXPECT_TRUE(requires);
    EXPECT_FALSE(possible);
    requires = false;
    EXPECT_EQ(audio->GetTranscodeRequirement(NP_HD1080, &requires, &possible), ENG_ERR);
    EXPECT_FALSE(requires);
    EXPECT_EQ(audio->GetTranscodeRequirement(static_cast<NorvProfile>(40), &requires, &possible),
              ENG_ERR);

    int32_t count = -1;
    s->GetHighLevelAudioTrackCount(&count);
    EXPECT_EQ(count, 1);
    ISourceMediaAudioTrack* rawUnsupported = nullptr;
    ASSERT_EQ(s->GetUnsupportedAudioTrack(0, &rawUnsupported), SUCCESS);
    auto unsupported = Hold(rawUnsupported);
    unsupported->GetName(text);
    EXPECT_EQ(WideToUtf8(text), "TrueHD"); // codec name only
    unsupported->GetID(&i32);
    EXPECT_EQ(i32, 0);
    unsupported->GetLanguage(text);
    EXPECT_TRUE(text.empty());

    ISourceMediaSubtitleTrack* rawSub = nullptr;
    ASSERT_EQ(s->GetSubtitleTrack(0, &rawSub), SUCCESS);
    auto sub = Hold(rawSub);
    sub->GetName(text);
    EXPECT_EQ(WideToUtf8(text), "Forced");
    sub->GetLanguage(text);
    EXPECT_EQ(WideToUtf8(text), "eng");
    sub->GetSubtitleType(&i32);
    EXPECT_EQ(i32, ST_SRT_INTERNAL);
    sub->GetID(&i32);
    EXPECT_EQ(i32, 5);
    EXPECT_EQ(sub->GetBitrate(&d), ENG_NOTIMPL_ERR);
}

TEST(SourceMediaFill, AudioContainerPrefixesTheCodecName) {
    TBS::AnalyzeResponse r;
    r.isAudioContainer = true;
    r.audioTracks.push_back(AudioRecord(0, "AAC", "Main"));
    auto s = Filled("/a/song.m4a", r);
    EXPECT_TRUE(s->IsAudioContainer());
    ISourceMediaAudioTrack* raw = nullptr;
    ASSERT_EQ(s->GetAudioTrack(0, &raw), SUCCESS);
    auto audio = Hold(raw);
    WideString name;
    audio->GetName(name);
    EXPECT_EQ(WideToUtf8(name), "AACMain");
}

TEST(SourceMediaFill, FileWithoutVideoStillHasOneEmptyVideoTrack) {
    TBS::AnalyzeResponse r;
    r.angle = 180; // not applied without a video record
    auto s = Filled("/a/song.mp3", r);
    int32_t count = 0;
    s->GetVideoTrackCount(&count);
    ASSERT_EQ(count, 1);
    ISourceMediaVideoTrack* raw = nullptr;
    ASSERT_EQ(s->GetVideoTrack(0, &raw), SUCCESS);
    auto video = Hold(raw);
    int32_t value = -1;
    video->GetCodec(&value);
    EXPECT_EQ(value, VC_Empty);
    video->GetWidth(&value);
    EXPECT_EQ(value, 0);
    EXPECT_EQ(video->GetAngle(), 0);
    WideString name;
    EXPECT_EQ(video->GetName(name), ENG_NOTIMPL_ERR);
}

TEST(SourceMediaFill, SeveralSizesLeaveTheSizeUnsetUntilTheChainIsSplit) {
    TBS::AnalyzeResponse r;
    r.duration = {10, 20};
    r.inputFileSize = {100, 200};
    auto s = Filled("/v/a.vob", r);
    uint64_t value = 1;
    s->GetFileSize(&value);
    EXPECT_EQ(value, 0u);
    s->GetDuration(&value);
    EXPECT_EQ(value, 10000u);
}

TEST(SourceMediaGetters, RefuseBadIndexesAndNullPointers) {
    nvtl::RefCountedPtr<SourceMedia> empty(new SourceMedia(W("/x/y.avi")));
    ISourceMediaAudioTrack* audio = reinterpret_cast<ISourceMediaAudioTrack*>(0x1);
    EXPECT_EQ(empty->GetAudioTrack(0, &audio), InvalidArgument);
    EXPECT_EQ(audio, reinterpret_cast<ISourceMediaAudioTrack*>(0x1)); // untouched

    auto s = Filled("/v/movie.mkv", DescribedResponse());
    EXPECT_EQ(s->GetAudioTrack(1, &audio), InvalidArgument); // index == count
    EXPECT_EQ(s->GetAudioTrack(0, nullptr), InvalidArgument);
    ISourceMediaVideoTrack* video = nullptr;
    EXPECT_EQ(s->GetVideoTrack(UINT32_MAX, &video), InvalidArgument);
    ISourceMediaSubtitleTrack* sub = nullptr;
    EXPECT_EQ(s->GetSubtitleTrack(1, &sub), InvalidArgument);
    EXPECT_EQ(s->GetDuration(nullptr), InvalidArgument);
    EXPECT_EQ(s->GetAudioTrackCount(nullptr), InvalidArgument);
    EXPECT_EQ(s->Reserved(1, 2, 3), ENG_NOTIMPL_ERR);

    bool flag = true;
    EXPECT_EQ(s->GetProfileFlag(static_cast<NorvProfile>(12), &flag), InvalidArgument);
    EXPECT_EQ(s->GetProfileFlag(static_cast<NorvProfile>(-1), &flag), InvalidArgument);
    EXPECT_TRUE(flag);
    EXPECT_EQ(s->GetProfileFlag(NP_HEVC4K, nullptr), InvalidArgument);

    ISourceMediaAudioTrack* raw = nullptr;
    ASSERT_EQ(s->GetAudioTrack(0, &raw), SUCCESS);
    EXPECT_EQ(raw->GetRefCount(), 2); // the source's and the receiver's
    raw->Release();
}

TBS::SSourceFile Entry(unsigned format, const char* path) {
    TBS::SSourceFile f;
    f.format = format;
    f.source = path;
    return f;
}

TEST(SourceMediaChain, ThreeFilesGiveThreeSourcesSharingTracks) {
    TBS::AnalyzeResponse r = DescribedResponse();
    r.duration = {100, 200}; // the third file has no entry: counts as 0
    r.inputFileSize = {1000, 2000, 3000};
    TBS::SSourceFileList chain;
    chain.fileList = {Entry(1, "/dvd/VTS_01_1.VOB"), Entry(1, "/dvd/VTS_01_2.VOB"),
                      Entry(1, "/dvd/VTS_01_3.VOB")};
    r.srcFileListList.push_back(chain);

    auto first = Filled("/dvd/VIDEO_TS.IFO", r);
    SourceList out;
    AppendAnalysedSources(*first, out);
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[0].get(), first.get());

    const char* paths[] = {"/dvd/VTS_01_1.VOB", "/dvd/VTS_01_2.VOB", "/dvd/VTS_01_3.VOB"};
    const char* titles[] = {"VTS_01_1", "VTS_01_2", "VTS_01_3"};
    const uint64_t durations[] = {100000, 200000, 0};
    const uint64_t sizes[] = {1000, 2000, 3000};
    for (size_t i = 0; i < 3; ++i) {
        WideString text;
        out[i]->GetFilePath(text);
        EXPECT_EQ(WideToUtf8(text), paths[i]);
        out[i]->GetTitle(text);
        EXPECT_EQ(WideToUtf8(text), titles[i]);
        out[i]->GetContainerFormatName(text);
        EXPECT_EQ(WideToUtf8(text), "Matroska");
        uint64_t value = 7;
        out[i]->GetDuration(&value);
        EXPECT_EQ(value, durations[i]) << i;
        out[i]->GetFileSize(&value);
        EXPECT_EQ(value, sizes[i]) << i;
    }

    for (size_t i = 1; i < 3; ++i) {
        ISourceMediaAudioTrack* a0 = nullptr;
        ISourceMediaAudioTrack* ai = nullptr;
        ASSERT_EQ(out[0]->GetAudioTrack(0, &a0), SUCCESS);
        ASSERT_EQ(out[i]->GetAudioTrack(0, &ai), SUCCESS);
        EXPECT_EQ(a0, ai); // one shared track object
        a0->Release();
        ai->Release();
        ISourceMediaVideoTrack* v0 = nullptr;
        ISourceMediaVideoTrack* vi = nullptr;
        out[0]->GetVideoTrack(0, &v0);
        out[i]->GetVideoTrack(0, &vi);
        EXPECT_EQ(v0, vi);
        v0->Release();
        vi->Release();
        ISourceMediaSubtitleTrack* s0 = nullptr;
        ISourceMediaSubtitleTrack* si = nullptr;
        out[0]->GetSubtitleTrack(0, &s0);
        out[i]->GetSubtitleTrack(0, &si);
        EXPECT_EQ(s0, si);
        s0->Release();
        si->Release();

        int32_t count = -1;
        out[i]->GetHighLevelAudioTrackCount(&count);
        EXPECT_EQ(count, 0);
        out[i]->GetUnsupportedAudioTrackCount(&count);
        EXPECT_EQ(count, 0);
        bool flag = true;
        out[i]->GetProfileFlag(NP_HD720, &flag);
        EXPECT_FALSE(flag);
        EXPECT_EQ(AsSourceMedia(out[i].get())->fileList.size(), 3u);
        // One list for the whole chain, not one copy per source.
        EXPECT_EQ(&AsSourceMedia(out[i].get())->fileList.Files(),
                  &AsSourceMedia(out[0].get())->fileList.Files());
    }
    // The shared audio track is held by the three sources.
    EXPECT_EQ(first->audioTracks[0]->GetRefCount(), 3);

    // Releasing the first source keeps the tracks alive for the others.
    first.reset();
    out.erase(out.begin());
    ISourceMediaAudioTrack* a = nullptr;
    ASSERT_EQ(out[1]->GetAudioTrack(0, &a), SUCCESS);
    EXPECT_EQ(a->GetRefCount(), 3);
    a->Release();
}

TEST(SourceMediaChain, LeadingFormatNineEntryIsSkipped) {
    TBS::AnalyzeResponse r;
    r.duration = {5, 60};
    r.inputFileSize = {10, 4000};
    TBS::SSourceFileList chain;
    chain.fileList = {Entry(9, "/dvd/VIDEO_TS.IFO"), Entry(1, "/dvd/VTS_01_1.VOB")};
    r.srcFileListList.push_back(chain);
    auto first = Filled("/dvd/VIDEO_TS.IFO", r);
    SourceList out;
    AppendAnalysedSources(*first, out);
    ASSERT_EQ(out.size(), 1u);
    WideString text;
    out[0]->GetFilePath(text);
    EXPECT_EQ(WideToUtf8(text), "/dvd/VTS_01_1.VOB");
    out[0]->GetTitle(text);
    EXPECT_EQ(WideToUtf8(text), "VTS_01_1");
    uint64_t value = 0;
    out[0]->GetDuration(&value);
    EXPECT_EQ(value, 60000u);
    out[0]->GetFileSize(&value);
    EXPECT_EQ(value, 4000u);
}

TEST(SourceMediaChain, ChainWithoutDurationsOrSizesCountsZero) {
    TBS::AnalyzeResponse r;
    TBS::SSourceFileList chain;
    chain.fileList = {Entry(1, "C:\\clips\\one.mts"), Entry(1, "C:\\clips\\two.mts"),
                      Entry(1, "C:\\clips\\three.mts")};
    r.srcFileListList.push_back(chain);
    auto first = Filled("C:\\clips\\one.mts", r);
    SourceList out;
    AppendAnalysedSources(*first, out);
    ASSERT_EQ(out.size(), 3u);
    WideString title;
    out[2]->GetTitle(title);
    EXPECT_EQ(WideToUtf8(title), "three");
    for (const auto& s : out) {
        uint64_t value = 9;
        s->GetDuration(&value);
        EXPECT_EQ(value, 0u);
        s->GetFileSize(&value);
        EXPECT_EQ(value, 0u);
    }
}

// The engine reads its analysis records with AnalysedSources; the library's
// sources made of the same records must stand for the same files, for as
// long, with the same facts. The engine picks each source as it does for a
// request: by the entry of its chain it takes, else by its path.
TEST(SourceMediaChain, AnalysedSourcesJoinAsTheLibrarySources) {
    struct Joined {
        const char* path;
        uint64_t ms;
        size_t source;
    };
    struct Case {
        const char* name;
        std::vector<TBS::SSourceFile> list;
        std::vector<unsigned> durations;
        std::vector<size_t> inputs; // the library's sources kept, in order
        std::vector<Joined> joined;
    };
    const char* one = "/dvd/VTS_01_1.VOB";
    const char* two = "/dvd/VTS_01_2.VOB";
    const char* list = "/clips/j2.ffconcat";
    const char* j2 = "/clips/j2.mkv";
    const Case cases[] = {
        {"plain file", {}, {30}, {0}, {{"/a.mkv", 30000, 0}}},
        {"no durations", {}, {}, {0}, {{"/a.mkv", 0, 0}}},
        {"chain kept whole",
         {Entry(1, one), Entry(1, two)},
         {100, 200},
         {0, 1},
         {{one, 100000, 0}, {two, 200000, 1}}},
        {"chain by its head alone",
         {Entry(1, one), Entry(1, two), Entry(1, "/dvd/VTS_01_3.VOB")},
         {100, 200},
         {0},
         {{one, 100000, 0}, {two, 200000, 0}, {"/dvd/VTS_01_3.VOB", 0, 0}}},
        {"leading entry skipped",
         {Entry(9, "/dvd/VIDEO_TS.IFO"), Entry(1, one), Entry(1, two)},
         {5, 60, 70},
         {0},
         {{one, 60000, 0}, {two, 70000, 0}}},
        {"a list naming one file twice",
         {Entry(9, list), Entry(0, j2), Entry(0, j2)},
         {4, 2, 2},
         {0, 1},
         {{j2, 2000, 0}, {j2, 2000, 1}}},
        {"a list naming one file twice, by its head alone",
         {Entry(9, list), Entry(0, j2), Entry(0, j2)},
         {4, 2, 2},
         {0},
         {{j2, 2000, 0}, {j2, 2000, 0}}},
        {"two trims of one file around another",
         {Entry(9, list), Entry(0, j2), Entry(0, one), Entry(0, j2)},
         {3, 1, 1, 1},
         {0, 1, 2},
         {{j2, 1000, 0}, {one, 1000, 1}, {j2, 1000, 2}}},
        {"the second naming without the first",
         {Entry(9, list), Entry(0, j2), Entry(0, one), Entry(0, j2)},
         {3, 1, 1, 2},
         {0, 2},
         {{j2, 1000, 0}, {one, 1000, 0}, {j2, 2000, 1}}},
    };
    for (const Case& c : cases) {
        TBS::AnalyzeResponse r = DescribedResponse();
        r.duration = c.durations;
        r.inputFileSize = {4000, 5000, 6000, 7000};
        r.srcFileListList.clear();
        if (!c.list.empty()) {
            r.srcFileListList.emplace_back();
            r.srcFileListList.back().fileList = c.list;
        }
        const std::string analysed = c.list.empty() ? "/a.mkv" : c.list.front().source;
        SourceList all;
        AppendAnalysedSources(*Filled(analysed.c_str(), r), all);
        const AnalysedSources engine(analysed, r);

        std::vector<nvtl::RefCountedPtr_STLSafe<ISourceMedia>> kept; // as a session holds them
        std::vector<SourceFiles> asked;                              // as a request names them
        for (size_t input : c.inputs) {
            kept.emplace_back();
            kept.back() = all.at(input).get();
            WideString path;
            kept.back()->GetFilePath(path);
            SourceFiles named;
            named.path = WideToUtf8(path);
            named.fileList = c.list.empty() ? nullptr : &r.srcFileListList.front().fileList;
            asked.push_back(named);
        }
        const std::vector<size_t> entries = ChainEntries(asked);
        std::vector<SourceFiles> described;
        for (size_t i = 0; i < asked.size(); ++i) {
            const size_t k = engine.SourceFor(entries[i], asked[i].path);
            described.push_back(engine.Files(k));
            const SourceFacts facts = engine.Facts(k);
            uint64_t size = 0;
            kept[i]->GetFileSize(&size);
            EXPECT_EQ(facts.fileSize, size) << c.name;
            EXPECT_EQ(facts.video.bitsPerSecond, 8000000.0) << c.name;
            EXPECT_EQ(facts.video.frameRate, 29.97) << c.name;
        }
        const std::vector<JoinedFile> joined = JoinedFiles(described);
        ASSERT_EQ(joined.size(), c.joined.size()) << c.name;
        for (size_t i = 0; i < joined.size(); ++i) {
            EXPECT_EQ(joined[i].path, c.joined[i].path) << c.name << " " << i;
            EXPECT_EQ(joined[i].durationMs, c.joined[i].ms) << c.name << " " << i;
            EXPECT_EQ(joined[i].source, c.joined[i].source) << c.name << " " << i;
        }
        EXPECT_EQ(TotalDurationMs(kept), TotalDurationMs(joined)) << c.name;
    }
}

} // namespace
} // namespace nvt
