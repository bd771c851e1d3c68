// The session's side of the settings derivation: the facts the derivation
// reads, taken from the session's sources and output settings, and the
// output properties a session previews. The engine takes the same facts from
// its analysis records (derivation/source_facts.h).
#pragma once

#include <cstdint>
#include <vector>

#include "derivation/source_facts.h"
#include "norv/records.h"
#include "session/source_refs.h"

namespace nvt {
class ITranscodeEngineInfo;
class TranscodeOutputSettings;
struct OutputPropertyValues;

/// The wishes the output settings hold.
OutputWishes WishesOf(const TranscodeOutputSettings& settings);

/// Condenses the first source, the extra sources and the output settings
/// into the derivation's inputs, bitrates the source does not report filled
/// in from its size. totalDurationMs is the session's duration over all of
/// its sources. engineInfo (may be null) tells whether AC3 can be passed
/// through. Returns SUCCESS; ENG_ERR when the first source has no readable
/// first video track.
Result PrepareSettingsDerivation(ISourceMedia& firstSource, const SourceList& extraSources,
                                 uint64_t totalDurationMs, const TranscodeOutputSettings& settings,
                                 ITranscodeEngineInfo* engineInfo, SourceSummary& summary,
                                 SettingsRequest& request);

/// The whole output-properties computation of a session that is not busy:
/// prepares the inputs, derives, and on success fills values (estimatedTime
/// included). Returns SUCCESS; ENG_ERR when the first source has no readable
/// first video track; InvalidArgument when the inputs cannot be derived.
/// values is left unchanged unless SUCCESS is returned.
Result DeriveOutputProperties(ISourceMedia& firstSource, const SourceList& extraSources,
                              uint64_t totalDurationMs, const TranscodeOutputSettings& settings,
                              ITranscodeEngineInfo* engineInfo, OutputPropertyValues& values);

} // namespace nvt
