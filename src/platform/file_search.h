// File search and deletion for the preset store.
#pragma once

#include <vector>

#include "norv/types.h"

namespace nvt {

/// Lists the files of folder whose extension (after the last '.') is one of
/// the comma-separated extensions, compared case-insensitively. Each result is
/// the folder, a separator and the entry name, in the system's enumeration
/// order; depth first when recursive. The separator is the system's: '/' on
/// POSIX (where '\\' in folder is read as '/'), '\\' on Windows (where '/' in
/// folder is read as '\\'). Without recursion a directory is matched like a
/// file. Entries whose name ends in '.' and, on POSIX, entries whose name is
/// not valid UTF-8 are skipped. A folder that cannot be listed gives an empty
/// list.
std::vector<WideString> FindFilesByExtension(const WideString& folder, const WideString& extensions,
                                             bool recursive);

/// Removes the file at path. Returns true when it was removed.
bool DeleteFileAt(const WideString& path);

} // namespace nvt
