#include "common/library.h"

#include <codecvt>
#include <locale>

namespace norv {

namespace {

using Converter = std::wstring_convert<std::codecvt_utf8_utf16<nvt::WideChar>, nvt::WideChar>;

} // namespace

nvt::WideString Widen(const std::string& text) {
    Converter converter("?", nvt::WideString(1, u'?'));
    return converter.from_bytes(text);
}

std::string Narrow(const nvt::WideString& text) {
    Converter converter("?", nvt::WideString(1, u'?'));
    return converter.to_bytes(text);
}

std::string Describe(nvt::Result result) {
    return std::string(nvt::EnumName<nvt::Result>(result)) + " (" +
           std::to_string(static_cast<int>(result)) + ")";
}

void Check(nvt::Result result, const std::string& what) {
    if (result != nvt::SUCCESS) {
        throw Failure(what, result);
    }
}

std::string ShortName(const char* enumName) {
    const std::string name(enumName);
    const size_t underscore = name.find('_');
    return underscore == std::string::npos || underscore + 1 == name.size()
               ? name
               : name.substr(underscore + 1);
}

} // namespace norv
