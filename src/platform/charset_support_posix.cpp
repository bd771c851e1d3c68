#include "platform/charset_support.h"

#include <iconv.h>

namespace NorvOS {

bool CanConvertToUtf8(const std::string& encoding) {
    if (encoding.empty()) {
        return false;
    }
    const iconv_t cd = ::iconv_open("UTF-8", encoding.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        return false;
    }
    ::iconv_close(cd);
    return true;
}

} // namespace NorvOS
