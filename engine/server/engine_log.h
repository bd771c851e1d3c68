// The engine's log: written only when a request's logger parameters ask for
// it, appended to the file they name, at the level they give. FFmpeg's own
// messages go to the same file at the matching level; without a log the
// engine writes nothing anywhere.
#pragma once

#include "norv/records.h"

namespace norv_engine {

/// Kinds of message, most severe first, as the logger parameters' level bits
/// name them.
enum class Severity { Critical, Error, Warning, Info, Header, Debug, Progress };

/// Routes FFmpeg's messages into the log (and away from standard error).
/// Call once before any other FFmpeg call.
void InstallLog();

/// Applies a request's logger parameters: opens the file they name (in
/// append mode), or stops logging when they do not ask for a log. The level
/// is a combination of LogLevel bits: NORV_ALL_MSG logs everything; otherwise
/// the least severe of the critical, error, warning, info, header and debug
/// bits set is the threshold, and NORV_PROGRESS_MSG adds progress messages.
void ConfigureLog(const nvt::SLoggerParam& param);

/// True when a message of this kind would be written.
bool LogEnabled(Severity severity);

/// Writes one line, formatted as printf does, when its kind is enabled.
void LogLine(Severity severity, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;

} // namespace norv_engine
