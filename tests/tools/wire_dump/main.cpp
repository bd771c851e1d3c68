// Writes, to the file named by its one argument, the frames the library
// sends for a fixed set of requests (built the way a session builds them,
// from wide-text paths) and the stored text of a preset. Every build must
// write the same bytes: the Windows build's test compares its output with
// the Linux build's.
#include <cstdio>
#include <string>

#include "api/ref_counted_impl.h"
#include "ipc/norv_ipc.h"
#include "ipc/pipe_protocol.h"
#include "messages/xml.h"
#include "output/output_settings.h"
#include "platform/text.h"
#include "session/request_builder.h"
#include "support/source_builder.h"

namespace {

// A transport that keeps what is written.
class MemoryTransport : public nvtl::RefCountedImpl<nvds::ITransportIPC> {
public:
    bool Open() override { return true; }
    void Close() override {}
    bool IsConnected() override { return true; }
    bool Write(const void* buffer, uint32_t count) override {
        bytes.append(static_cast<const char*>(buffer), count);
        return true;
    }
    bool Read(void*, uint32_t) override { return false; }
    bool SetCallback(nvds::ITransportIPCCallback*) override { return true; }

    std::string bytes;
};

// Paths with characters beyond ASCII, so that the text conversion of each
// system is part of what is compared.
const nvt::WideString kSource = NORV_WTEXT("D:\\Vid\u00e9os/\u00e9t\u00e9 \U0001F600.mkv");
const nvt::WideString kOutput = NORV_WTEXT("E:\\Sortie\\\u00e9t\u00e9 720p.mp4");

class Dump {
public:
    Dump() : transport_(new MemoryTransport), protocol_(new nvds::CPipeProtocol(transport_)) {}

    template <class Record> bool Send(const Record& record, const char* typeName) {
        std::string xml;
        return TBS::ToXml(record, xml) &&
               protocol_->SendFrame("TranscodeSession",
                                    std::string(nvds::kRequestTopicPrefix) + typeName,
                                    static_cast<uint32_t>(xml.size()), xml.data());
    }

    bool Append(const std::string& text) {
        transport_->bytes += text;
        return true;
    }

    const std::string& Bytes() const { return transport_->bytes; }

private:
    MemoryTransport* transport_;
    nvtl::RefCountedPtr<nvds::IProtocolIPC> protocol_;
};

nvt::SLoggerParam Logger() {
    nvt::SLoggerParam logger;
    logger.enableLogs = true;
    logger.logLevel = 3;
    logger.logPath = nvt::WideToUtf8(NORV_WTEXT("C:\\Logs\\norv \u00fc.log"));
    return logger;
}

bool BuildAll(Dump& dump) {
    TBS::TechnicalInfoRequest info;
    info.technicalDetailsFile = nvt::WideToUtf8(NORV_WTEXT("C:\\Temp\\d\u00e9tails.xml"));

    TBS::AnalyzeRequest analyze;
    analyze.inputFile = nvt::WideToUtf8(kSource);
    analyze.screenshotFilename = nvt::WideToUtf8(NORV_WTEXT("C:\\Temp\\vignette.png"));
    analyze.widthThumbnailMax = 160;
    analyze.heightThumbnailMax = 90;
    analyze.loggerParam = Logger();

    const std::string source = nvt::WideToUtf8(kSource);
    nvt::SourceList sources{norv_test::SourceBuilder(source)
                                .Video(nvt::VC_H264, 1920, 1080, 29.97, 16.0 / 9.0, 8000000)
                                .Audio(11, nvt::AC_AC3, "eng", 448000)
                                .Audio(12, nvt::AC_AAC, "fra", 160000)
                                .Subtitle("eng", "Main", nvt::ST_SRT_INTERNAL)
                                .File(1, source.c_str())
                                .FileSize(734003200)
                                .Get()};
    bool ok = dump.Send(info, "struct TBS::TechnicalInfoRequest") &&
              dump.Send(analyze, "struct TBS::AnalyzeRequest");
    for (nvt::NorvProfile profile : {nvt::NP_HD720, nvt::NP_HEVC4K}) {
        nvtl::RefCountedPtr<nvt::TranscodeOutputSettings> settings(
            new nvt::TranscodeOutputSettings(profile));
        TBS::TranscodeRequest request;
        ok = ok && nvt::BuildTranscodeRequest(*settings, sources, {}, kOutput, Logger(), request) &&
             dump.Send(request, "struct TBS::TranscodeRequest");
    }
    TBS::CancelTranscodingRequest cancel;
    ok = ok && dump.Send(cancel, "struct TBS::CancelTranscodingRequest");

    nvt::CustomPresetData preset(nvt::NP_HD1080);
    preset.profileName = nvt::WideToUtf8(NORV_WTEXT("Salon \u00e9cran <TV> & \"plus\""));
    preset.videoBitrate = 6000000;
    preset.audioBitrates = {192000, 128000};
    std::string presetText;
    return ok && nvt::ToXml(preset, presetText) && dump.Append(presetText);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: wire-dump OUTPUT\n");
        return 2;
    }
    Dump dump;
    if (!BuildAll(dump)) {
        std::fprintf(stderr, "wire-dump: a request could not be built\n");
        return 1;
    }
    std::FILE* out = std::fopen(argv[1], "wb");
    if (out == nullptr) {
        std::fprintf(stderr, "wire-dump: cannot write %s\n", argv[1]);
        return 1;
    }
    const bool written =
        std::fwrite(dump.Bytes().data(), 1, dump.Bytes().size(), out) == dump.Bytes().size();
    return std::fclose(out) == 0 && written ? 0 : 1;
}
