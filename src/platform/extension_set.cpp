#include "platform/extension_set.h"

#include <algorithm>

namespace nvt {

namespace {

WideChar FoldAscii(WideChar c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<WideChar>(c - 'A' + 'a') : c;
}

} // namespace

bool CaseInsensitiveLess::operator()(const WideString& a, const WideString& b) const {
    return std::lexicographical_compare(
        a.begin(), a.end(), b.begin(), b.end(),
        [](WideChar x, WideChar y) { return FoldAscii(x) < FoldAscii(y); });
}

ExtensionSet SplitExtensions(const WideString& extensions) {
    ExtensionSet set;
    WideString rest = extensions;
    for (;;) {
        const size_t comma = rest.find(WideChar(','));
        if (comma == WideString::npos) {
            set.insert(rest); // the last item, even when empty
            break;
        }
        if (comma != 0) {
            set.insert(rest.substr(0, comma));
        }
        rest = rest.substr(comma + 1);
    }
    return set;
}

bool HasListedExtension(const WideString& path, const ExtensionSet& extensions) {
    const size_t dot = path.rfind(WideChar('.'));
    return dot != WideString::npos && extensions.count(path.substr(dot + 1)) != 0;
}

} // namespace nvt
