// Reads what the scripted engine recorded with --record=FILE.
#pragma once

#include <string>
#include <vector>

namespace norv_test {

struct RecordedRequest {
    std::string record;  ///< the record's name, e.g. "TechnicalInfoRequest"
    std::string payload; ///< the raw XML as received
};

/// Every request in the file, in arrival order; empty when there is none.
std::vector<RecordedRequest> ReadRecordedRequests(const std::string& path);

} // namespace norv_test
