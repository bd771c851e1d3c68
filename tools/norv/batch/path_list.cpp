#include "batch/path_list.h"

#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>

#include "batch/shard.h"
#include "common/library.h"
#include "common/os_files.h"

namespace norv {

namespace {

constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";

uint64_t Fnv1a(uint64_t hash, const std::string& text) {
    for (const unsigned char c : text) {
        hash ^= c;
        hash *= 0x100000001b3ULL;
    }
    return hash;
}

std::string Hex(uint64_t value) {
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(value));
    return text;
}

constexpr uint64_t kFnvStart = 0xcbf29ce484222325ULL;

} // namespace

std::vector<std::string> ReadPathList(const std::string& file, ListForm form) {
    std::string text;
    if (file == "-") {
        StandardInputAsBytes();
        text.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
        if (std::cin.bad()) {
            throw ShardError("standard input: cannot read the list");
        }
    } else {
        std::ifstream in(file, std::ios::binary);
        if (!in) {
            throw ShardError(file + ": cannot read the list");
        }
        text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (in.bad()) {
            throw ShardError(file + ": cannot read the list");
        }
    }
    if (text.compare(0, 3, kByteOrderMark) == 0) {
        text.erase(0, 3);
    }
    const char separator = form == ListForm::Nul ? '\0' : '\n';
    std::vector<std::string> paths;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(separator, start);
        if (end == std::string::npos) {
            end = text.size();
        }
        std::string path = text.substr(start, end - start);
        if (form == ListForm::Lines && !path.empty() && path.back() == '\r') {
            path.pop_back();
        }
        if (!path.empty()) {
            paths.push_back(std::move(path));
        }
        start = end + 1;
    }
    return paths;
}

bool FitsList(const std::string& path, ListForm form) {
    return form == ListForm::Nul ? path.find('\0') == std::string::npos
                                 : path.find_first_of("\r\n") == std::string::npos;
}

void WritePathList(const std::string& file, const std::vector<std::string>& paths, ListForm form) {
    std::ofstream list(file, std::ios::binary | std::ios::trunc);
    for (const std::string& path : paths) {
        list << path << (form == ListForm::Nul ? '\0' : '\n');
    }
    list.close();
    if (!list) {
        throw Failure(file + ": cannot write the list", nvt::ENG_WRITING_ERROR);
    }
}

std::string ListDigest(const std::vector<std::string>& paths) {
    uint64_t hash = kFnvStart;
    for (const std::string& path : paths) {
        hash = Fnv1a(hash, path);
        hash = Fnv1a(hash, std::string(1, '\0'));
    }
    return Hex(hash);
}

std::string TextDigest(const std::string& text) {
    return Hex(Fnv1a(kFnvStart, text));
}

} // namespace norv
