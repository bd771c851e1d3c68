#include "parts/stream_headers.h"

namespace norv {

bool HeadersAgree(int levelByte, const std::vector<uint8_t>& a, const std::vector<uint8_t>& b,
                  int& keep) {
    keep = 0;
    if (a == b) {
        return true;
    }
    if (levelByte < 0 || a.size() != b.size() || a.size() <= static_cast<size_t>(levelByte)) {
        return false;
    }
    // Encoders choose the lowest level a stream's rates fit, so parts at
    // different bitrates may name different levels; the parameter sets
    // inside repeat it. Any other difference is a different stream.
    const uint8_t la = a[static_cast<size_t>(levelByte)];
    const uint8_t lb = b[static_cast<size_t>(levelByte)];
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i] != b[i] && (a[i] != la || b[i] != lb)) {
            return false;
        }
    }
    keep = lb > la ? 1 : 0;
    return true;
}

} // namespace norv
