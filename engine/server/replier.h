// Sends the engine's replies to the library: records under the topic
// "TRANS->CONV" followed by the record's type name, and the bare topics
// "error" and "exit". Safe to use from any thread.
#pragma once

#include <string>

#include "ipc/norv_ipc.h"
#include "messages/records.h"

namespace norv_engine {

/// The type name a record travels under ("struct TBS::AnalyzeResponse").
std::string TypeName(const char* record);

class Replier {
public:
    explicit Replier(nvds::INorvIPC* channel) : channel_(channel) {}

    bool Send(const TBS::TechnicalInfoResponse& record);
    bool Send(const TBS::AnalyzeResponse& record);
    bool Send(const TBS::ProgressResponse& record);
    bool Send(const TBS::TranscodeResponse& record);
    /// "error": the request could not be read or is unknown.
    bool SendError();
    /// "exit": the engine ends without a further answer.
    bool SendExit();

private:
    template <class Record> bool SendRecord(const Record& record, const char* name);
    bool SendText(const std::string& topicRest, const std::string& payload);

    nvds::INorvIPC* const channel_;
};

} // namespace norv_engine
