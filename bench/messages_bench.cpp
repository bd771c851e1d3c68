// Cost of turning the two largest engine messages into archive text and
// back: the transcode order the library sends and the analysis it reads.
#include <benchmark/benchmark.h>

#include <string>

#include "messages/xml.h"

namespace {

TBS::TranscodeRequest FullTranscodeRequest() {
    TBS::TranscodeRequest r;
    nvt::CustomPresetData& p = r.CustomPresetData;
    p = nvt::CustomPresetData(nvt::NP_HEVC1080);
    p.profileName = "Living room HEVC";
    p.fileSizeLimit = 4700000000ULL;
    p.resWidth = 1920;
    p.resHeight = 1080;
    p.videoBitrate = 5859;
    p.audioBitrates = {125, 187};
    p.enableVideo2passEncoding = true;
    p.m_bEnableTrickplayTrack = true;
    p.trickWidth = 320;
    p.trickHeight = 180;
    p.trickVideoBitrate = 146;
    p.enableHWAcceleration = true;
    p.hwAcceleration = nvt::IQSV;
    p.externalSubtitleIndex = 0;
    p.rect = {8, 8, 0, 0};
    p.prio = nvt::prioVideoBitrate;
    p.creationTime = 1700000000;
    p.trackCodecs = {nvt::AC_AAC, nvt::AC_AC3};
    p.hevcQualityLevel = nvt::hevc_ql_balanced;
    p.calcQualityMetrics = 1;
    r.inputFiles = {"/home/user/Videos/holiday part 1.mkv", "/home/user/Videos/holiday part 2.mkv"};
    r.extraFiles = {"/home/user/Videos/commentary.mp3"};
    r.outputFile = "/home/user/Videos/holiday.mp4";
    r.srcVideoCodecs = {nvt::VC_H264, nvt::VC_H264};
    r.srcAudioCodecs = {nvt::AC_AC3, nvt::AC_DTS, nvt::AC_MP3};
    r.srcAudioCodecsHighLevel = {nvt::AC_DTS};
    r.dstAudioCodecs = {nvt::AC_AAC, nvt::AC_AC3};
    r.dstAudioCodecsHighLevel = {nvt::AC_AC3};
    r.audioTracks = {0, 1};
    r.audioTracksHighLevel = {0, 1};
    r.audioLangCodes = {"eng", "deu", "fra"};
    r.audioIDs = {1, 2, 3};
    r.subtitleTracks = {0, 2, 1001};
    r.subtitleLangCodes = {"eng", "deu", "fra"};
    r.subtitleIDs = {0, 0, 1};
    r.subtitleTrackNames = {"", "/home/user/Videos/holiday.de.srt", "/home/user/Videos/a.smi"};
    r.subtitleCodePages = {0, 1252, 949};
    r.subtitleBurnFirstTrack = true;
    r.tempDir = "/tmp/norv";
    r.useTempDir = true;
    r.needTranscode = true;
    for (const std::string& file : r.inputFiles) {
        TBS::SSourceFileList list;
        list.fileList.push_back({1, file});
        r.srcFileListList.push_back(list);
    }
    r.loggerParam = {true, nvt::NORV_ERROR_MSG, "/home/user/.norv/engine.log"};
    r.angle = 90;
    r.flip = nvt::flipHorizontal;
    r.title = "Holiday 2026";
    return r;
}

TBS::AnalyzeResponse AnalysisOfThreeFiles() {
    TBS::AnalyzeResponse r;
    r.duration = {1800000, 1750000, 1200000};
    r.inputFileSize = {1500000000ULL, 1450000000ULL, 990000000ULL};
    r.inputFile = "/home/user/Videos/holiday part 1.vob";
    r.containerFormatName = "MPEG-PS";
    TBS::SVideoTrack v;
    v.trackName = "Video";
    v.bitsPerSecond = 6000000.0;
    v.ID = 224;
    v.videoWidth = 720;
    v.videoHeight = 576;
    v.videoFrameRate = 25;
    v.videoBitrate = 6000000;
    v.videoCodecName = "MPEG-2 Video";
    v.videoCodec = nvt::VC_MPEG2;
    v.DAR = 16.0 / 9.0;
    r.videoTracks = {v};
    const char* const languages[] = {"eng", "deu", "fra", "spa"};
    for (unsigned i = 0; i < 4; ++i) {
        TBS::SAudioTrack a;
        a.trackName = std::string("Audio ") + languages[i];
        a.bitsPerSecond = 448000.0;
        a.ID = static_cast<int>(128 + i);
        a.audioChannelCount = 6;
        a.audioSampleRate = 48000;
        a.audioBitsPerSample = 16;
        a.audioFormat = nvt::AC_AC3;
        a.audioLangCode = languages[i];
        a.audioCodecName = "AC-3";
        for (unsigned profile = 0; profile < 12; ++profile) {
            a.audioTranscodeRequires[profile] = {profile % 2 == 0, true};
        }
        r.audioTracks.push_back(a);
    }
    for (unsigned i = 0; i < 3; ++i) {
        TBS::SSubtitleTrack s;
        s.trackName = std::string("Subtitle ") + languages[i];
        s.ID = static_cast<int>(32 + i);
        s.subtitleEmbedded = true;
        s.subType = nvt::ST_VOBSUB;
        s.subtitleLangCode = languages[i];
        r.subtitleTracks.push_back(s);
    }
    TBS::SSourceFileList chain;
    for (int i = 1; i <= 3; ++i) {
        chain.fileList.push_back(
            {2, "/home/user/Videos/holiday part " + std::to_string(i) + ".vob"});
    }
    r.srcFileListList = {chain};
    r.thumbWidth = 160;
    r.thumbHeight = 90;
    for (bool& supported : r.profiles) {
        supported = true;
    }
    return r;
}

template <class T> void WriteRecord(benchmark::State& state, const T& record) {
    std::string text;
    for (auto _ : state) {
        if (!ToXml(record, text)) {
            state.SkipWithError("ToXml failed");
            break;
        }
        benchmark::DoNotOptimize(text.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
    state.counters["text_bytes"] = static_cast<double>(text.size());
}

template <class T> void ReadRecord(benchmark::State& state, const T& record) {
    std::string text;
    if (!ToXml(record, text)) {
        state.SkipWithError("ToXml failed");
        return;
    }
    T out;
    for (auto _ : state) {
        if (!FromXml(text, out)) {
            state.SkipWithError("FromXml failed");
            break;
        }
        benchmark::DoNotOptimize(&out);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
    state.counters["text_bytes"] = static_cast<double>(text.size());
}

void BM_TranscodeRequest_ToXml(benchmark::State& state) {
    WriteRecord(state, FullTranscodeRequest());
}
void BM_TranscodeRequest_FromXml(benchmark::State& state) {
    ReadRecord(state, FullTranscodeRequest());
}
void BM_AnalyzeResponse_ToXml(benchmark::State& state) {
    WriteRecord(state, AnalysisOfThreeFiles());
}
void BM_AnalyzeResponse_FromXml(benchmark::State& state) {
    ReadRecord(state, AnalysisOfThreeFiles());
}

BENCHMARK(BM_TranscodeRequest_ToXml);
BENCHMARK(BM_TranscodeRequest_FromXml);
BENCHMARK(BM_AnalyzeResponse_ToXml);
BENCHMARK(BM_AnalyzeResponse_FromXml);

} // namespace
