// FromXml for every record type. The first byte picks the record, the rest is
// the archive text. A text that reads must also write, and what it writes
// must read back into a record that writes the very same text.
#include <string>

#include "fuzz_support.h"
#include "messages/xml.h"

namespace {

template <class Record> void Check(const std::string& text) {
    Record parsed;
    if (!FromXml(text, parsed)) {
        return;
    }
    std::string written;
    NORV_FUZZ_CHECK(ToXml(parsed, written));
    Record again;
    NORV_FUZZ_CHECK(FromXml(written, again));
    std::string rewritten;
    NORV_FUZZ_CHECK(ToXml(again, rewritten));
    NORV_FUZZ_CHECK(written == rewritten);
}

} // namespace

// The record each value of the first byte selects; fuzz-seeds writes the
// seeds with the same numbering.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
    switch (data[0] % 10) {
    case 0:
        Check<TBS::TechnicalInfoRequest>(text);
        break;
    case 1:
        Check<TBS::TechnicalInfoResponse>(text);
        break;
    case 2:
        Check<TBS::AnalyzeRequest>(text);
        break;
    case 3:
        Check<TBS::AnalyzeResponse>(text);
        break;
    case 4:
        Check<TBS::TranscodeRequest>(text);
        break;
    case 5:
        Check<TBS::TranscodeResponse>(text);
        break;
    case 6:
        Check<TBS::ProgressResponse>(text);
        break;
    case 7:
        Check<TBS::CancelTranscodingRequest>(text);
        break;
    case 8:
        Check<TBS::CmdLineParams>(text);
        break;
    default:
        Check<nvt::CustomPresetData>(text);
        break;
    }
    return 0;
}
