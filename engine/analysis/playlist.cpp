#include "playlist.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>
#include <sstream>

#include "ffmpeg.h"

extern "C" {
#include <libavutil/parseutils.h>
}

namespace norv_engine {

namespace {

constexpr char kFfconcatHeader[] = "ffconcat version 1.0";
constexpr size_t kMaxPlaylistBytes = 4 * 1024 * 1024;
constexpr char kBlanks[] = " \t\r";

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string Extension(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) {
        return std::string();
    }
    return Lower(path.substr(dot + 1));
}

std::string Trim(const std::string& text) {
    const size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string::npos) {
        return std::string();
    }
    const size_t last = text.find_last_not_of(kBlanks);
    return text.substr(first, last - first + 1);
}

// A listed name as a local path: relative names are taken from the
// playlist's folder; "file:" URLs give their path; other URLs are refused.
bool ResolveEntry(const std::string& playlist, std::string entry, std::string& path) {
    if (entry.compare(0, 7, "file://") == 0) {
        entry.erase(0, 7);
    } else if (entry.compare(0, 5, "file:") == 0) {
        entry.erase(0, 5);
    } else if (entry.find("://") != std::string::npos) {
        return false;
    }
    if (entry.empty()) {
        return false;
    }
    if (entry[0] == '/') {
        path = entry;
        return true;
    }
    const size_t slash = playlist.find_last_of('/');
    path = slash == std::string::npos ? entry : playlist.substr(0, slash + 1) + entry;
    return true;
}

// Splits the text of an ffconcat line into tokens as FFmpeg's concat reader
// does (quotes and backslash escapes).
std::vector<std::string> Tokens(const std::string& line) {
    std::vector<std::string> tokens;
    const char* cursor = line.c_str();
    for (;;) {
        cursor += std::strspn(cursor, kBlanks);
        if (*cursor == '\0' || *cursor == '#') {
            break;
        }
        FfmpegText token(av_get_token(&cursor, kBlanks));
        if (!token) {
            break;
        }
        tokens.emplace_back(token.get());
    }
    return tokens;
}

// The directives of an ffconcat list other than "file"; they do not change
// which files the list names.
bool IsOtherDirective(const std::string& keyword) {
    static const char* const kDirectives[] = {
        "ffconcat",    "duration",         "inpoint",
        "outpoint",    "file_packet_meta", "file_packet_metadata",
        "option",      "stream",           "exact_stream_id",
        "stream_meta", "stream_codec",     "stream_extradata",
        "chapter"};
    for (const char* directive : kDirectives) {
        if (keyword == directive) {
            return true;
        }
    }
    return false;
}

// The value of an inpoint, outpoint or duration directive, microseconds.
bool TimeOf(const std::vector<std::string>& tokens, int64_t& value) {
    return tokens.size() >= 2 && av_parse_time(&value, tokens[1].c_str(), 1) >= 0;
}

// Reads a directive of the file named last; false when it is malformed.
bool ReadTrim(const std::vector<std::string>& tokens, Playlist& list) {
    int64_t* field = nullptr;
    if (list.trims.empty()) {
        return tokens[0] != "inpoint" && tokens[0] != "outpoint" && tokens[0] != "duration";
    }
    EntryTrims& trims = list.trims.back();
    if (tokens[0] == "inpoint") {
        field = &trims.inpoint;
    } else if (tokens[0] == "outpoint") {
        field = &trims.outpoint;
    } else if (tokens[0] == "duration") {
        field = &trims.duration;
    } else {
        return true;
    }
    return TimeOf(tokens, *field) && (tokens[0] != "duration" || *field > 0);
}

Playlist ParseFfconcat(const std::string& path, const std::string& text) {
    Playlist list;
    list.isPlaylist = true;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        const std::vector<std::string> tokens = Tokens(line);
        if (tokens.empty()) {
            continue;
        }
        std::string file;
        if (tokens[0] == "file") {
            if (tokens.size() < 2 || !ResolveEntry(path, tokens[1], file)) {
                list.err = nvt::ENG_INVALID_INPUT_ERR;
                return list;
            }
            list.files.push_back(file);
            list.trims.emplace_back();
        } else if (!IsOtherDirective(tokens[0]) || !ReadTrim(tokens, list)) {
            list.err = nvt::ENG_INVALID_INPUT_ERR;
            return list;
        }
    }
    return list;
}

Playlist ParseM3u(const std::string& path, const std::string& text) {
    Playlist list;
    list.isPlaylist = true;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        line = Trim(line);
        if (line.empty() || line[0] == '#') {
            continue;
        }
        std::string file;
        if (!ResolveEntry(path, line, file)) {
            list.err = nvt::ENG_UNSUPPORTED_FILE_TYPE;
            return list;
        }
        list.files.push_back(file);
        list.trims.emplace_back();
    }
    return list;
}

} // namespace

int64_t EntryTrims::Start(int64_t fileStart) const {
    return inpoint != AV_NOPTS_VALUE ? inpoint : fileStart;
}

int64_t EntryTrims::End(int64_t fileStart) const {
    if (outpoint != AV_NOPTS_VALUE) {
        return outpoint;
    }
    return duration != AV_NOPTS_VALUE ? Start(fileStart) + duration : AV_NOPTS_VALUE;
}

int64_t EntryTrims::Length(int64_t fileStart, int64_t fileDuration) const {
    if (duration != AV_NOPTS_VALUE) {
        return duration;
    }
    const int64_t fileEnd = fileStart + std::max<int64_t>(0, fileDuration);
    const int64_t end = outpoint != AV_NOPTS_VALUE ? std::min(outpoint, fileEnd) : fileEnd;
    return std::max<int64_t>(0, end - std::max(Start(fileStart), fileStart));
}

Playlist ReadPlaylist(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return Playlist();
    }
    std::string head(sizeof kFfconcatHeader - 1, '\0');
    in.read(&head[0], static_cast<std::streamsize>(head.size()));
    head.resize(static_cast<size_t>(in.gcount()));
    const std::string extension = Extension(path);
    const bool ffconcat = head == kFfconcatHeader;
    if (!ffconcat && extension != "m3u" && extension != "m3u8") {
        return Playlist();
    }
    // Read one byte past the limit, to tell a list that is too long.
    std::string text(kMaxPlaylistBytes + 1, '\0');
    std::copy(head.begin(), head.end(), text.begin());
    in.read(&text[head.size()], static_cast<std::streamsize>(text.size() - head.size()));
    text.resize(head.size() + static_cast<size_t>(in.gcount()));
    Playlist list;
    if (text.size() > kMaxPlaylistBytes) {
        list.isPlaylist = true;
        list.err = nvt::ENG_OUTOFRANGE_ERR;
        return list;
    }
    if (!ffconcat && text.find("#EXT-X-") != std::string::npos) {
        return Playlist(); // a live streaming playlist: FFmpeg reads it as one media
    }
    list = ffconcat ? ParseFfconcat(path, text) : ParseM3u(path, text);
    if (list.err == nvt::SUCCESS && list.files.empty()) {
        list.err = nvt::ENG_INVALID_INPUT_ERR;
    } else if (list.files.size() > kMaxPlaylistFiles) {
        list.err = nvt::ENG_OUTOFRANGE_ERR;
    }
    return list;
}

} // namespace norv_engine
