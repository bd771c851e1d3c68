#include "support/session_run.h"

#include <gtest/gtest.h>

#include "platform/text.h"
#include "support/engine_session.h"

namespace norv_test {

nvtl::RefCountedPtr<nvt::TranscodeSession> NewSession(const std::string& location) {
    return nvtl::RefCountedPtr<nvt::TranscodeSession>(
        new nvt::TranscodeSession(nvt::W(location.c_str())));
}

nvt::TranscodeState StateOf(nvt::ITranscodeSession& session) {
    nvt::TranscodeState state = nvt::TS_Pending;
    EXPECT_EQ(session.GetState(&state), nvt::SUCCESS);
    return state;
}

bool WaitForState(nvt::ITranscodeSession& session, nvt::TranscodeState state) {
    return WaitUntil([&] { return StateOf(session) == state; });
}

} // namespace norv_test
