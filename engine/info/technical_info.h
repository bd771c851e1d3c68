// The engine's technical information: its version and what it can read and
// write here, and the readable report of the same for a details file.
#pragma once

#include <string>

#include "messages/records.h"

namespace norv_engine {

/// The engine's version followed by the FFmpeg libraries' versions.
std::string EngineVersion();

/// The answer to a TechnicalInfoRequest. Probes the hardware encoders.
TBS::TechnicalInfoResponse TechnicalInfo();

/// Writes the readable report of info and of FFmpeg's build to path.
/// False when the file cannot be written.
bool WriteTechnicalDetails(const std::string& path, const TBS::TechnicalInfoResponse& info);

} // namespace norv_engine
