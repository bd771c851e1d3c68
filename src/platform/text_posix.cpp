// UTF-8 / UTF-16 conversion. The library's own code: no locale or code-page
// service of the system is involved. The Windows build converts with the
// system's converters instead (text_win32.cpp), to the same results.
#include "platform/text.h"

#include <limits>

namespace nvt {
namespace {

// Number of trailing bytes announced by a lead byte.
int TrailingBytes(unsigned char lead) {
    if (lead < 0xC0) {
        return 0;
    }
    if (lead < 0xE0) {
        return 1;
    }
    if (lead < 0xF0) {
        return 2;
    }
    if (lead < 0xF8) {
        return 3;
    }
    if (lead < 0xFC) {
        return 4;
    }
    return 5;
}

// Well-formedness of one sequence of length 1 + trailing, as the Unicode
// standard's table of well-formed UTF-8 byte sequences gives it.
bool WellFormed(const unsigned char* s, int trailing) {
    const unsigned char lead = s[0];
    if ((lead >= 0x80 && lead <= 0xC1) || lead > 0xF4 || trailing > 3) {
        return false;
    }
    for (int i = 1; i <= trailing; ++i) {
        if (s[i] < 0x80 || s[i] > 0xBF) {
            return false;
        }
    }
    if (trailing >= 1) {
        const unsigned char second = s[1];
        if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second > 0x9F) ||
            (lead == 0xF0 && second < 0x90) || (lead == 0xF4 && second > 0x8F)) {
            return false;
        }
    }
    return true;
}

const uint32_t kLeadMarks[] = {0x00, 0x00, 0xC0, 0xE0, 0xF0};

} // namespace

WideString Utf8ToWide(const std::string& utf8) {
    const size_t n = utf8.size();
    if (n == 0 || n >= std::numeric_limits<uint32_t>::max()) {
        return WideString();
    }
    nvtl::MemoryBuffer<WideChar> buffer;
    buffer.Resize(static_cast<uint32_t>(n + 1));
    WideChar* out = buffer.Data();
    if (out == nullptr) {
        return WideString();
    }
    const unsigned char* in = reinterpret_cast<const unsigned char*>(utf8.data());
    size_t pos = 0;
    size_t written = 0;
    while (pos < n) {
        const int trailing = TrailingBytes(in[pos]);
        if (pos + static_cast<size_t>(trailing) >= n) {
            return WideString(); // the sequence runs past the end
        }
        if (!WellFormed(in + pos, trailing)) {
            return WideString();
        }
        uint32_t value = in[pos] & (trailing == 0 ? 0x7F : (0x3F >> trailing));
        for (int i = 1; i <= trailing; ++i) {
            value = (value << 6) | (in[pos + i] & 0x3F);
        }
        pos += static_cast<size_t>(trailing) + 1;
        if (value <= 0xFFFF) {
            out[written++] =
                static_cast<WideChar>((value >= 0xD800 && value <= 0xDFFF) ? 0xFFFD : value);
        } else if (value <= 0x10FFFF) {
            out[written++] = static_cast<WideChar>((value >> 10) + 0xD7C0);
            out[written++] = static_cast<WideChar>((value & 0x3FF) | 0xDC00);
        } else {
            out[written++] = static_cast<WideChar>(0xFFFD);
        }
    }
    out[written] = 0;
    size_t length = 0;
    while (length < written && out[length] != 0) {
        ++length;
    }
    return WideString(out, length);
}

std::string WideToUtf8(const WideString& wide) {
    const size_t n = wide.size();
    if (n == 0 || n >= std::numeric_limits<uint32_t>::max() / 4) {
        return std::string();
    }
    nvtl::MemoryBuffer<char> buffer;
    buffer.Resize(static_cast<uint32_t>(4 * n + 1), false);
    char* out = buffer.Data();
    if (out == nullptr) {
        return std::string();
    }
    size_t written = 0;
    for (size_t i = 0; i < n; ++i) {
        uint32_t value = static_cast<uint16_t>(wide[i]);
        if (value >= 0xD800 && value <= 0xDBFF) {
            if (i + 1 == n) {
                return std::string(); // truncated surrogate pair
            }
            const uint32_t low = static_cast<uint16_t>(wide[i + 1]);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                value = value * 1024 + low - 0x35FDC00;
                ++i;
            }
        }
        int length = 4;
        if (value < 0x80) {
            length = 1;
        } else if (value < 0x800) {
            length = 2;
        } else if (value < 0x10000) {
            length = 3;
        }
        for (int k = length - 1; k > 0; --k) {
            out[written + k] = static_cast<char>((value & 0x3F) | 0x80);
            value >>= 6;
        }
        out[written] = static_cast<char>(value | kLeadMarks[length]);
        written += static_cast<size_t>(length);
    }
    out[written] = 0;
    size_t length = 0;
    while (length < written && out[length] != 0) {
        ++length;
    }
    return std::string(out, length);
}

} // namespace nvt
