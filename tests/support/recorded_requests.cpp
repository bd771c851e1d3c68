#include "support/recorded_requests.h"

#include <fstream>
#include <iterator>

namespace norv_test {

std::vector<RecordedRequest> ReadRecordedRequests(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<RecordedRequest> requests;
    size_t pos = 0;
    // Each entry: "@@ <record> <length>\n" followed by length bytes and "\n".
    while (pos < text.size() && text.compare(pos, 3, "@@ ") == 0) {
        const size_t lineEnd = text.find('\n', pos);
        const size_t space = text.rfind(' ', lineEnd);
        if (lineEnd == std::string::npos || space == std::string::npos || space < pos + 3) {
            break;
        }
        RecordedRequest request;
        request.record = text.substr(pos + 3, space - pos - 3);
        const size_t length = std::stoul(text.substr(space + 1, lineEnd - space - 1));
        if (lineEnd + 1 + length > text.size()) {
            break;
        }
        request.payload = text.substr(lineEnd + 1, length);
        requests.push_back(request);
        pos = lineEnd + 1 + length + 1;
    }
    return requests;
}

} // namespace norv_test
