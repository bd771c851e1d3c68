// File search and deletion on POSIX directories.
#include "platform/file_search.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include "platform/extension_set.h"
#include "platform/text.h"

namespace nvt {
namespace {

bool IsDirectory(const std::string& path, unsigned char type) {
    if (type == DT_DIR) {
        return true;
    }
    if (type != DT_UNKNOWN) {
        return false;
    }
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void SearchFolder(WideString folder, const ExtensionSet& extensions, bool recursive,
                  std::vector<WideString>& results) {
    if (folder.empty() || folder.back() != u'/') {
        folder.push_back(u'/');
    }
    const std::string narrowFolder = WideToUtf8(folder);
    if (narrowFolder.empty()) {
        return;
    }
    DIR* dir = ::opendir(narrowFolder.c_str());
    if (dir == nullptr) {
        return;
    }
    while (struct dirent* entry = ::readdir(dir)) {
        const std::string name(entry->d_name);
        const WideString wideName = Utf8ToWide(name);
        if (wideName.empty()) {
            continue; // not valid UTF-8: no wide name can stand for it
        }
        const WideString path = folder + wideName;
        if (path.back() == u'.') {
            continue;
        }
        if (recursive && IsDirectory(narrowFolder + name, entry->d_type)) {
            SearchFolder(path, extensions, recursive, results);
            continue;
        }
        if (HasListedExtension(path, extensions)) {
            results.push_back(path);
        }
    }
    ::closedir(dir);
}

} // namespace

std::vector<WideString> FindFilesByExtension(const WideString& folder, const WideString& extensions,
                                             bool recursive) {
    std::vector<WideString> results;
    const ExtensionSet set = SplitExtensions(extensions);
    WideString native = folder;
    std::replace(native.begin(), native.end(), u'\\', u'/');
    SearchFolder(native, set, recursive, results);
    return results;
}

bool DeleteFileAt(const WideString& path) {
    const std::string narrow = WideToUtf8(path);
    return !narrow.empty() && ::unlink(narrow.c_str()) == 0;
}

} // namespace nvt
