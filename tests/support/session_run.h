// Helpers for tests that run whole sessions against the scripted engine:
// making sessions, following their state and reading back, parsed, the
// requests the engine received.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "messages/xml.h"
#include "session/transcode_session.h"
#include "support/recorded_requests.h"

namespace norv_test {

/// A session for an engine location (a command line, or ":" and a name).
nvtl::RefCountedPtr<nvt::TranscodeSession> NewSession(const std::string& location);

/// The session's state as GetState reports it.
nvt::TranscodeState StateOf(nvt::ITranscodeSession& session);

/// Waits (generously) until the session reaches state.
bool WaitForState(nvt::ITranscodeSession& session, nvt::TranscodeState state);

/// Every record of one kind ("TranscodeRequest", ...) that the engine wrote
/// to its --record file, parsed back from the XML it received. A record that
/// does not parse fails the calling test.
template <class Record>
std::vector<Record> ReceivedRecords(const std::string& recordFile, const std::string& name) {
    std::vector<Record> out;
    for (const RecordedRequest& r : ReadRecordedRequests(recordFile)) {
        if (r.record == name) {
            Record record;
            EXPECT_TRUE(TBS::FromXml(r.payload, record)) << r.payload;
            out.push_back(record);
        }
    }
    return out;
}

} // namespace norv_test
