// GUID text from COM: CoCreateGuid, written out by StringFromGUID2.
#include "platform/guid.h"

#include <objbase.h>
#include <windows.h>

#include "platform/text.h"

namespace NorvOS {

std::string NewGuidText() {
    GUID guid;
    HRESULT hr = ::CoCreateGuid(&guid);
    if (FAILED(hr)) {
        // Some systems want COM on the thread first; initialise it for this
        // one call only.
        const HRESULT init = ::CoInitialize(nullptr);
        hr = ::CoCreateGuid(&guid);
        if (SUCCEEDED(init)) {
            ::CoUninitialize();
        }
        if (FAILED(hr)) {
            return std::string();
        }
    }
    // "{8-4-4-4-12}" in upper-case hexadecimal, and its terminator.
    wchar_t text[39];
    if (::StringFromGUID2(guid, text, 39) != 39) {
        return std::string();
    }
    return nvt::WideToUtf8(nvt::WideString(text, 38));
}

} // namespace NorvOS
