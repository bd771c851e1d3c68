// The names the session and the engine exchange records and topics under.
#pragma once

#include <cstdint>

namespace nvt {

inline constexpr char kSessionSender[] = "TranscodeSession";
inline constexpr char kExitTopic[] = "exit";
inline constexpr char kErrorTopic[] = "error";

inline constexpr char kTechnicalInfoRequestType[] = "struct TBS::TechnicalInfoRequest";
inline constexpr char kAnalyzeRequestType[] = "struct TBS::AnalyzeRequest";
inline constexpr char kTranscodeRequestType[] = "struct TBS::TranscodeRequest";
inline constexpr char kCancelRequestType[] = "struct TBS::CancelTranscodingRequest";
inline constexpr char kTechnicalInfoResponseType[] = "struct TBS::TechnicalInfoResponse";
inline constexpr char kAnalyzeResponseType[] = "struct TBS::AnalyzeResponse";
inline constexpr char kTranscodeResponseType[] = "struct TBS::TranscodeResponse";
inline constexpr char kProgressResponseType[] = "struct TBS::ProgressResponse";

} // namespace nvt
