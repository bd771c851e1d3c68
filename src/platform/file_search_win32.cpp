// File search and deletion with the Windows wide-character file API.
#include "platform/file_search.h"

#include <algorithm>

#include <windows.h>

#include "platform/extension_set.h"

namespace nvt {
namespace {

void SearchFolder(WideString folder, const ExtensionSet& extensions, bool recursive,
                  std::vector<WideString>& results) {
    if (folder.empty() || folder.back() != L'\\') {
        folder.push_back(L'\\');
    }
    WIN32_FIND_DATAW entry;
    HANDLE find = ::FindFirstFileW((folder + L"*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) {
        return;
    }
    do {
        const WideString path = folder + entry.cFileName;
        if (path.back() == L'.') {
            continue; // ".", ".." and names ending in a dot
        }
        if (recursive && (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            SearchFolder(path, extensions, recursive, results);
            continue;
        }
        if (HasListedExtension(path, extensions)) {
            results.push_back(path);
        }
    } while (::FindNextFileW(find, &entry));
    ::FindClose(find);
}

} // namespace

std::vector<WideString> FindFilesByExtension(const WideString& folder, const WideString& extensions,
                                             bool recursive) {
    std::vector<WideString> results;
    const ExtensionSet set = SplitExtensions(extensions);
    WideString native = folder;
    std::replace(native.begin(), native.end(), L'/', L'\\');
    SearchFolder(native, set, recursive, results);
    return results;
}

bool DeleteFileAt(const WideString& path) {
    return !path.empty() && ::DeleteFileW(path.c_str()) != FALSE;
}

} // namespace nvt
