// The media files a session's sources stand for (media/joined_files.h), as
// far as the session needs them: their total duration.
#pragma once

#include <cstdint>

#include "media/joined_files.h"
#include "session/source_refs.h"

namespace nvt {

/// The sum of the durations of the files the sources stand for, in
/// milliseconds.
uint64_t TotalDurationMs(const SourceList& sources);

} // namespace nvt
