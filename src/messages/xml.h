// XML archive text of the engine messages and of stored presets.
//
// ToXml writes one record as a complete archive document whose root element
// is named after the record's type. On failure it returns false and leaves
// out empty.
//
// FromXml first resets out to the record's default (a CustomPresetData to
// the "no profile" default), then reads the text up to its first NUL
// character. It returns false when the text is not a well-formed archive of
// exactly that record type; out then holds whatever was read before the
// failure. Counts in the text are checked against what the text can hold,
// so hostile input cannot make it allocate far beyond the text's size.
//
// Neither function throws or keeps state; calls may run concurrently on
// different records. Call them unqualified: argument-dependent lookup finds
// the overload in the record's namespace.
#pragma once

#include <string>

#include "messages/records.h"
#include "norv/records.h"

namespace TBS {

bool ToXml(const TechnicalInfoRequest& in, std::string& out);
bool FromXml(const std::string& in, TechnicalInfoRequest& out);

bool ToXml(const TechnicalInfoResponse& in, std::string& out);
bool FromXml(const std::string& in, TechnicalInfoResponse& out);

bool ToXml(const AnalyzeRequest& in, std::string& out);
bool FromXml(const std::string& in, AnalyzeRequest& out);

bool ToXml(const AnalyzeResponse& in, std::string& out);
bool FromXml(const std::string& in, AnalyzeResponse& out);

bool ToXml(const TranscodeRequest& in, std::string& out);
bool FromXml(const std::string& in, TranscodeRequest& out);

bool ToXml(const TranscodeResponse& in, std::string& out);
bool FromXml(const std::string& in, TranscodeResponse& out);

bool ToXml(const ProgressResponse& in, std::string& out);
bool FromXml(const std::string& in, ProgressResponse& out);

bool ToXml(const CancelTranscodingRequest& in, std::string& out);
bool FromXml(const std::string& in, CancelTranscodingRequest& out);

bool ToXml(const CmdLineParams& in, std::string& out);
bool FromXml(const std::string& in, CmdLineParams& out);

} // namespace TBS

namespace nvt {

/// A stored preset: root element "CustomPresetData", class version 1.
bool ToXml(const CustomPresetData& in, std::string& out);
bool FromXml(const std::string& in, CustomPresetData& out);

} // namespace nvt
