// Loading a preset file of arbitrary contents. A file that loads holds a
// record that survives being stored and read again unchanged.
#include <string>

#include "fuzz_support.h"
#include "messages/xml.h"
#include "output/custom_preset.h"
#include "platform/text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = norv_fuzz::WorkDir::Path() + "/input.preset";
    static const nvt::WideString widePath = nvt::Utf8ToWide(path);
    norv_fuzz::WriteBytes(path, data, size);

    nvtl::RefCountedPtr<nvt::CustomPreset> preset(new nvt::CustomPreset);
    if (preset->Load(widePath) != nvt::SUCCESS) {
        NORV_FUZZ_CHECK(preset->GetFilePath().empty()); // a failed load changes nothing
        return 0;
    }
    NORV_FUZZ_CHECK(!preset->IsModified());
    nvt::CustomPresetData loaded;
    if (preset->GetData(loaded) != nvt::SUCCESS) {
        return 0; // read, but no real preset (no profile or no creation time)
    }

    // Stored as SaveAs stores it, then read as Load reads it.
    std::string text;
    NORV_FUZZ_CHECK(ToXml(loaded, text));
    nvt::CustomPresetData reread;
    NORV_FUZZ_CHECK(FromXml(nvt::StoredToText(nvt::TextToStored(text)), reread));
    std::string again;
    NORV_FUZZ_CHECK(ToXml(reread, again));
    NORV_FUZZ_CHECK(text == again);
    NORV_FUZZ_CHECK(preset->SetData(reread) == nvt::SUCCESS);
    NORV_FUZZ_CHECK(!preset->IsModified());
    return 0;
}
