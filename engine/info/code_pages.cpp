#include "code_pages.h"

#include "platform/charset_support.h"

namespace norv_engine {

namespace {

struct CodePage {
    const char* name;
    unsigned number;
    const char* encoding; ///< the converter's name for it
};

const CodePage kCodePages[] = {
    {"IBM437", 437, "CP437"},
    {"IBM850", 850, "CP850"},
    {"IBM852", 852, "CP852"},
    {"IBM866", 866, "CP866"},
    {"Windows-874", 874, "CP874"},
    {"Shift_JIS", 932, "CP932"},
    {"GBK", 936, "CP936"},
    {"EUC-KR", 949, "CP949"},
    {"Big5", 950, "CP950"},
    {"UTF-16LE", 1200, "UTF-16LE"},
    {"UTF-16BE", 1201, "UTF-16BE"},
    {"Windows-1250", 1250, "CP1250"},
    {"Windows-1251", 1251, "CP1251"},
    {"Windows-1252", 1252, "CP1252"},
    {"Windows-1253", 1253, "CP1253"},
    {"Windows-1254", 1254, "CP1254"},
    {"Windows-1255", 1255, "CP1255"},
    {"Windows-1256", 1256, "CP1256"},
    {"Windows-1257", 1257, "CP1257"},
    {"Windows-1258", 1258, "CP1258"},
    {"Macintosh", 10000, "MACINTOSH"},
    {"KOI8-R", 20866, "KOI8-R"},
    {"KOI8-U", 21866, "KOI8-U"},
    {"ISO-8859-1", 28591, "ISO-8859-1"},
    {"ISO-8859-2", 28592, "ISO-8859-2"},
    {"ISO-8859-3", 28593, "ISO-8859-3"},
    {"ISO-8859-4", 28594, "ISO-8859-4"},
    {"ISO-8859-5", 28595, "ISO-8859-5"},
    {"ISO-8859-6", 28596, "ISO-8859-6"},
    {"ISO-8859-7", 28597, "ISO-8859-7"},
    {"ISO-8859-8", 28598, "ISO-8859-8"},
    {"ISO-8859-9", 28599, "ISO-8859-9"},
    {"ISO-8859-13", 28603, "ISO-8859-13"},
    {"ISO-8859-15", 28605, "ISO-8859-15"},
    {"ISO-2022-JP", 50220, "ISO-2022-JP"},
    {"EUC-JP", 51932, "EUC-JP"},
    {"GB18030", 54936, "GB18030"},
    {"UTF-8", 65001, "UTF-8"},
};

} // namespace

std::map<std::string, unsigned> SupportedCodePages() {
    std::map<std::string, unsigned> pages;
    for (const CodePage& page : kCodePages) {
        if (NorvOS::CanConvertToUtf8(page.encoding)) {
            pages[page.name] = page.number;
        }
    }
    return pages;
}

std::string EncodingOfCodePage(unsigned number) {
    for (const CodePage& page : kCodePages) {
        if (page.number == number) {
            return page.encoding;
        }
    }
    return std::string();
}

} // namespace norv_engine
