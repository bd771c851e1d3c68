// UTF-8 / UTF-16 conversion with the system's converters,
// MultiByteToWideChar and WideCharToMultiByte on the UTF-8 code page, giving
// the same results as the conversion of the other systems: malformed UTF-8
// gives an empty result, and a lone surrogate is written as its own
// three-byte form instead of the replacement character.
#include "platform/text.h"

#include <climits>

#include <windows.h>

namespace nvt {
namespace {

bool IsHighSurrogate(uint32_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}

bool IsLowSurrogate(uint32_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

// The length of the text up to its first 0 element.
template <class T> size_t UpToNul(const T* text, size_t length) {
    size_t n = 0;
    while (n < length && text[n] != 0) {
        ++n;
    }
    return n;
}

} // namespace

WideString Utf8ToWide(const std::string& utf8) {
    const size_t n = utf8.size();
    if (n == 0 || n >= INT_MAX) {
        return WideString();
    }
    nvtl::MemoryBuffer<WideChar> buffer;
    buffer.Resize(static_cast<uint32_t>(n + 1));
    WideChar* out = buffer.Data();
    if (out == nullptr) {
        return WideString();
    }
    // Every input byte is checked, those after an embedded NUL too.
    const int written = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(),
                                              static_cast<int>(n), out, static_cast<int>(n + 1));
    if (written <= 0) {
        return WideString();
    }
    return WideString(out, UpToNul(out, static_cast<size_t>(written)));
}

std::string WideToUtf8(const WideString& wide) {
    const size_t n = wide.size();
    if (n == 0 || n >= INT_MAX / 4) {
        return std::string();
    }
    if (IsHighSurrogate(static_cast<uint16_t>(wide[n - 1]))) {
        return std::string(); // truncated surrogate pair
    }
    const uint32_t capacity = static_cast<uint32_t>(4 * n + 1);
    nvtl::MemoryBuffer<char> buffer;
    buffer.Resize(capacity, false);
    char* out = buffer.Data();
    if (out == nullptr) {
        return std::string();
    }
    size_t written = 0;
    size_t i = 0;
    while (i < n) {
        // A run without lone surrogates goes through the system's converter.
        size_t end = i;
        while (end < n) {
            const uint32_t unit = static_cast<uint16_t>(wide[end]);
            if (IsHighSurrogate(unit) && end + 1 < n &&
                IsLowSurrogate(static_cast<uint16_t>(wide[end + 1]))) {
                end += 2;
            } else if (IsHighSurrogate(unit) || IsLowSurrogate(unit)) {
                break;
            } else {
                ++end;
            }
        }
        if (end > i) {
            const int got = ::WideCharToMultiByte(
                CP_UTF8, 0, wide.data() + i, static_cast<int>(end - i), out + written,
                static_cast<int>(capacity - written), nullptr, nullptr);
            if (got <= 0) {
                return std::string();
            }
            written += static_cast<size_t>(got);
            i = end;
        }
        if (i < n) {
            // A lone surrogate: its value in the three-byte form.
            const uint32_t unit = static_cast<uint16_t>(wide[i++]);
            out[written++] = static_cast<char>(0xE0 | (unit >> 12));
            out[written++] = static_cast<char>(0x80 | ((unit >> 6) & 0x3F));
            out[written++] = static_cast<char>(0x80 | (unit & 0x3F));
        }
    }
    return std::string(out, UpToNul(out, written));
}

} // namespace nvt
