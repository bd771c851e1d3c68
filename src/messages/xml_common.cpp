// Text-level parts of the message archives: the header's library number,
// the root element's name and the end of the document.
#include <cctype>
#include <charconv>
#include <cstring>
#include <locale>
#include <stdexcept>
#include <system_error>

#include "messages/archive.h"

namespace nvmsg {

char kInputLimitKey = 0;

namespace {

// The archive library number engines expect in the header. Texts written
// by the packaged Boost carry its own, higher number, which the engine's
// older archive code refuses; the content is the same.
const char kLibraryVersion[] = "9";

const char kHeaderStart[] = "<boost_serialization";
const char kVersionAttribute[] = "version=\"";
const char kArchiveEnd[] = "</boost_serialization>";

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool IsNameChar(char c) {
    const unsigned char u = static_cast<unsigned char>(c);
    return std::isalnum(u) != 0 || c == '_' || c == '-' || c == '.' || c == ':' || u >= 0x80;
}

// Position of the '>' that ends the archive's start tag, or npos.
std::size_t HeaderEnd(const std::string& text) {
    const std::size_t start = text.find(kHeaderStart);
    if (start == std::string::npos) {
        return std::string::npos;
    }
    return text.find('>', start);
}

} // namespace

std::ptrdiff_t UnreadBytes(const InputLimit& limit) {
    if (limit.stream == nullptr || limit.stream->rdbuf() == nullptr) {
        return -1;
    }
    const std::streamsize avail = limit.stream->rdbuf()->in_avail();
    return avail > 0 ? static_cast<std::ptrdiff_t>(avail) : 0;
}

bool SetArchiveLibraryVersion(std::string& text) {
    const std::size_t start = text.find(kHeaderStart);
    const std::size_t end = HeaderEnd(text);
    if (end == std::string::npos) {
        return false;
    }
    const std::size_t attr = text.find(kVersionAttribute, start);
    if (attr == std::string::npos || attr > end) {
        return false;
    }
    const std::size_t digits = attr + std::strlen(kVersionAttribute);
    const std::size_t close = text.find('"', digits);
    if (close == std::string::npos || close > end) {
        return false;
    }
    text.replace(digits, close - digits, kLibraryVersion);
    return true;
}

bool RootElementIs(const std::string& text, const char* root) {
    std::size_t pos = HeaderEnd(text);
    if (pos == std::string::npos) {
        return false;
    }
    ++pos;
    while (pos < text.size() && IsSpace(text[pos])) {
        ++pos;
    }
    const std::size_t length = std::strlen(root);
    if (text.compare(pos, 1, "<") != 0 || text.compare(pos + 1, length, root) != 0) {
        return false;
    }
    const std::size_t after = pos + 1 + length;
    return after < text.size() && !IsNameChar(text[after]);
}

bool ArchiveEndsAfterRoot(std::istream& is, const std::string& text, const char* root) {
    std::streambuf* buf = is.rdbuf();
    if (buf == nullptr) {
        return false;
    }
    const std::streamoff position = buf->pubseekoff(0, std::ios::cur, std::ios::in);
    if (position < 0 || static_cast<std::size_t>(position) > text.size()) {
        return false;
    }
    const std::size_t split = static_cast<std::size_t>(position);

    // Before the position: the root's end tag, "</" root [white space] ">",
    // then at most the one character the archive reads past every tag.
    std::size_t end = split;
    while (end > 0 && IsSpace(text[end - 1])) {
        --end;
    }
    if (end == 0 || text[end - 1] != '>') {
        return false;
    }
    --end;
    while (end > 0 && IsSpace(text[end - 1])) {
        --end;
    }
    const std::size_t length = std::strlen(root);
    if (end < length + 2 || text.compare(end - length, length, root) != 0 ||
        text.compare(end - length - 2, 2, "</") != 0) {
        return false;
    }

    // After it: the archive's end tag and white space only.
    std::size_t pos = split;
    while (pos < text.size() && IsSpace(text[pos])) {
        ++pos;
    }
    const std::size_t endLength = std::strlen(kArchiveEnd);
    if (text.compare(pos, endLength, kArchiveEnd) != 0) {
        return false;
    }
    pos += endLength;
    while (pos < text.size() && IsSpace(text[pos])) {
        ++pos;
    }
    return pos == text.size();
}

double ParseDouble(const std::string& text) {
    const char* first = text.data();
    const char* last = first + text.size();
    while (first < last && IsSpace(*first)) {
        ++first;
    }
    while (last > first && IsSpace(last[-1])) {
        --last;
    }
    if (last - first > 1 && *first == '+' && first[1] != '-') {
        ++first;
    }
    double value = 0.0;
    const std::from_chars_result result = std::from_chars(first, last, value);
    if (first == last || result.ec != std::errc() || result.ptr != last) {
        throw std::invalid_argument("not a number");
    }
    return value;
}

void UseClassicLocale(std::ios& stream) {
    stream.imbue(std::locale::classic());
}

} // namespace nvmsg
