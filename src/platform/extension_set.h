// The extension list of a file search: comma-separated items, compared
// without regard to the case of ASCII letters. The same on every system.
#pragma once

#include <set>

#include "norv/types.h"

namespace nvt {

/// Case-insensitive order for extensions (ASCII letters fold).
struct CaseInsensitiveLess {
    bool operator()(const WideString& a, const WideString& b) const;
};

using ExtensionSet = std::set<WideString, CaseInsensitiveLess>;

/// Splits at each ',': an empty item before a comma is dropped, the last
/// item is kept even when empty ("a,,b" gives a and b; "a," gives a and "").
ExtensionSet SplitExtensions(const WideString& extensions);

/// True when path has a '.' and the text after the last one is in the set.
bool HasListedExtension(const WideString& path, const ExtensionSet& extensions);

} // namespace nvt
