// The UTF-8 / UTF-16 conversions. The input is read both as UTF-8 and as
// UTF-16 (little-endian pairs of bytes):
// - well-formed UTF-8 converts to UTF-16 and back unchanged (up to its first
//   NUL); malformed UTF-8 converts to nothing;
// - well-formed UTF-16 converts to UTF-8 and back unchanged (up to its first
//   NUL); a lone surrogate comes back as nothing.
#include <string>

#include "fuzz_support.h"
#include "platform/text.h"

namespace {

std::string UpToNul(const std::string& s) {
    return s.substr(0, s.find('\0'));
}

nvt::WideString UpToNul(const nvt::WideString& s) {
    return s.substr(0, s.find(nvt::WideChar(0)));
}

bool IsHigh(nvt::WideChar c) {
    return c >= 0xD800 && c <= 0xDBFF;
}

bool IsLow(nvt::WideChar c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}

bool WellFormedUtf16(const nvt::WideString& s) {
    for (size_t i = 0; i < s.size(); ++i) {
        if (IsHigh(s[i])) {
            if (i + 1 == s.size() || !IsLow(s[i + 1])) {
                return false;
            }
            ++i;
        } else if (IsLow(s[i])) {
            return false;
        }
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);

    const nvt::WideString wide = nvt::Utf8ToWide(bytes);
    if (!wide.empty()) {
        NORV_FUZZ_CHECK(nvt::WideToUtf8(wide) == UpToNul(bytes));
        NORV_FUZZ_CHECK(WellFormedUtf16(wide));
    }

    nvt::WideString units;
    for (size_t i = 0; i + 1 < size; i += 2) {
        units += static_cast<nvt::WideChar>(data[i] | (data[i + 1] << 8));
    }
    const nvt::WideString text = UpToNul(units);
    const std::string utf8 = nvt::WideToUtf8(text);
    if (WellFormedUtf16(text)) {
        NORV_FUZZ_CHECK(nvt::Utf8ToWide(utf8) == text);
    } else {
        NORV_FUZZ_CHECK(nvt::Utf8ToWide(utf8).empty());
    }
    return 0;
}
