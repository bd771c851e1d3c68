// Whether the system's character-set converter can read a named encoding,
// for the engine's list of subtitle code pages.
#pragma once

#include <string>

namespace NorvOS {

/// True when text in the encoding (a name such as "WINDOWS-1252") can be
/// converted to UTF-8 on this system.
bool CanConvertToUtf8(const std::string& encoding);

} // namespace NorvOS
