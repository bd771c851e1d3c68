// Building the one TranscodeRequest a session sends when it starts a
// transcode.
#pragma once

#include "messages/records.h"
#include "norv/records.h"
#include "output/output_settings.h"
#include "session/source_refs.h"

namespace nvt {

/// Builds the transcode request into out: a copy of the settings' request
/// template with the input files, per-source lists, the first source's audio
/// facts, the audio and subtitle selections resolved against the sources and
/// the extra sources, and the extra audio files. Bitrates, kept in bits per
/// second by the settings, are sent in units of 1024 bits per second.
///
/// A subtitle selection value that names nothing (a missing track or file)
/// adds nothing, so the four subtitle lists stay parallel; a position
/// without a code page in the settings sends code page 0.
///
/// Returns false, out unchanged, when there is no first source or the
/// request cannot be made.
bool BuildTranscodeRequest(const TranscodeOutputSettings& settings, const SourceList& sources,
                           const SourceList& extraSources, const WideString& outputFile,
                           const SLoggerParam& logger, TBS::TranscodeRequest& out);

} // namespace nvt
