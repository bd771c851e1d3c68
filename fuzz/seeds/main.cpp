// Writes the seed corpora of the library's fuzz targets from the project's
// own valid outputs: records as ToXml writes them (with a value in every
// field), presets as they are stored, and frames as the engine sends them.
//
// usage: fuzz-seeds FOLDER   (writes FOLDER/<target>/<seed>)
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "ipc/crc.h"
#include "ipc/norv_ipc.h"
#include "messages/records_sample.h"
#include "messages/xml.h"
#include "output/custom_preset.h"

namespace {

namespace fs = std::filesystem;

void Write(const fs::path& folder, const std::string& name, const std::string& bytes) {
    fs::create_directories(folder);
    std::ofstream(folder / name, std::ios::binary | std::ios::trunc) << bytes;
}

template <class Record> std::string Xml(const Record& record) {
    std::string xml;
    if (!ToXml(record, xml)) {
        std::fprintf(stderr, "fuzz-seeds: a record does not serialise\n");
        std::exit(1);
    }
    return xml;
}

std::string Value(uint32_t v) {
    return std::string{static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
                       static_cast<char>(v >> 24)};
}

std::string Frame(const std::string& sender, const std::string& topic, const std::string& payload) {
    return "Norv" + Value(static_cast<uint32_t>(payload.size())) +
           Value(nvds::FrameCrc(payload.data(), static_cast<uint32_t>(payload.size()))) +
           Value(static_cast<uint32_t>(sender.size())) + sender +
           Value(static_cast<uint32_t>(topic.size())) + topic + payload;
}

/// One record of every type, numbered as records_xml_fuzz.cpp selects them.
std::vector<std::string> RecordTexts() {
    TBS::TechnicalInfoRequest infoRequest;
    infoRequest.loggerParam = nvtest::SampleLogger();
    infoRequest.technicalDetailsFile = nvtest::Text("details.txt");
    TBS::TechnicalInfoResponse info;
    info.sVersion = "1.2.3.4";
    info.vecSupportedProfiles = {true, false, true};
    info.vecSupportedFormats = {"mp4", nvtest::Text("mkv")};
    info.vecSupportedAudio = {"aac"};
    info.vecSupportedSubtitles = {"srt"};
    info.vecAcceleration = {nvt::NO_ACCELERATION, nvt::CUDA};
    info.mapSupportedOutputCodecs[nvt::NP_HD720] = {nvt::AC_AAC, nvt::AC_AC3};
    info.mapLocalSystemCodePages["WINDOWS-1252"] = 1252;
    TBS::AnalyzeRequest analyze;
    analyze.inputFile = nvtest::Text("/in/movie.mkv");
    analyze.screenshotFilename = "/tmp/thumb.jpg";
    analyze.widthThumbnailMax = 160;
    analyze.heightThumbnailMax = 90;
    analyze.loggerParam = nvtest::SampleLogger();
    TBS::TranscodeResponse done;
    done.resultID = static_cast<unsigned>(nvt::Aborted);
    done.resultDescription = nvtest::Text("cancelled");
    TBS::ProgressResponse progress;
    progress.countOfStages = 2;
    progress.stage = 1;
    progress.stageID = 3;
    progress.progress = 42.5;
    progress.timeElapsed = 10;
    progress.timeRemaining = 20;
    progress.passStepNum = 1;
    progress.passCount = 2;
    progress.fileNum = 1;
    progress.fileCount = 2;
    progress.currentVideoFrame = 250;
    progress.currentAudioSample = 48000;
    progress.videoRenderingRate = 60;
    progress.sFilename = nvtest::Text("/in/a.avi");
    progress.details = nvtest::Text("encoding");
    TBS::CancelTranscodingRequest cancel;
    cancel.err = 2;
    TBS::CmdLineParams commandLine;
    return {Xml(infoRequest),
            Xml(info),
            Xml(analyze),
            Xml(nvtest::SampleAnalyzeResponse()),
            Xml(nvtest::SampleTranscodeRequest()),
            Xml(done),
            Xml(progress),
            Xml(cancel),
            Xml(commandLine),
            Xml(nvtest::SamplePreset())};
}

const char* const kRecordNames[] = {
    "TechnicalInfoRequest", "TechnicalInfoResponse", "AnalyzeRequest",   "AnalyzeResponse",
    "TranscodeRequest",     "TranscodeResponse",     "ProgressResponse", "CancelTranscodingRequest",
    "CmdLineParams",        "CustomPresetData"};

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz-seeds FOLDER\n");
        return 2;
    }
    const fs::path out(argv[1]);
    const std::vector<std::string> texts = RecordTexts();
    std::string replies;
    for (size_t i = 0; i < texts.size(); ++i) {
        const std::string name = kRecordNames[i];
        Write(out / "records_xml", name, std::string(1, static_cast<char>(i)) + texts[i]);
        Write(out / "records_xml", name + "-default",
              std::string(1, static_cast<char>(i)) + texts[i].substr(0, texts[i].size() / 2));
        const std::string frame =
            Frame("NorvEngine", std::string(nvds::kResponseTopicPrefix) + "struct TBS::" + name,
                  texts[i]);
        for (const char* target : {"frame_receiver", "frame_channel"}) {
            Write(out / target, name, frame);
        }
        replies += frame;
    }
    for (const char* target : {"frame_receiver", "frame_channel"}) {
        Write(out / target, "replies", replies);
        Write(out / target, "exit",
              Frame("NorvEngine", std::string(nvds::kResponseTopicPrefix) + "exit", std::string()));
    }

    Write(out / "preset_load", "sample.preset", nvt::TextToStored(texts[9]));
    Write(out / "preset_load", "default.preset",
          nvt::TextToStored(Xml(nvt::CustomPresetData(nvt::NP_HD720))));

    Write(out / "utf", "ascii", "C:\\Users\\norv\\Videos\\movie.mkv");
    Write(out / "utf", "mixed",
          nvtest::Text("\xe2\x82\xac \xf0\x9f\x8e\xac \xe6\x97\xa5\xe6\x9c\xac"));
    const std::u16string wide = u"film \u00e9\u20ac \U0001F3AC";
    Write(out / "utf", "utf16",
          std::string(reinterpret_cast<const char*>(wide.data()), wide.size() * 2));
    return 0;
}
