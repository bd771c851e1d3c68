// The code pages subtitles can be converted from, by name and number, and
// the system converter's name for each.
#pragma once

#include <map>
#include <string>

namespace norv_engine {

/// Name to code page number of every code page the system's converter can
/// read ("Windows-1252" -> 1252, "UTF-8" -> 65001, ...).
std::map<std::string, unsigned> SupportedCodePages();

/// The converter's name for a code page number; empty for an unknown one.
std::string EncodingOfCodePage(unsigned number);

} // namespace norv_engine
