// The JSON form of what norv reports. Each command builds these objects
// first; --json prints them, and the readable tables are drawn from them,
// so both forms always carry the same facts.
#pragma once

#include <nlohmann/json.hpp>

#include <cstdio>
#include <string>

#include "common/library.h"
#include "common/transcode_run.h"

namespace norv {

using Json = nlohmann::ordered_json;

/// Version, formats, codecs, acceleration and per-profile support.
Json EngineInfoJson(nvt::ITranscodeEngineInfo& info, const std::string& location);

/// A profile's names, description, limits and bitrate ranges (video in
/// bits per second at the profile's largest picture, audio in kbps).
Json ProfileJson(nvt::NorvProfile profile, nvt::ITranscodeEngineInfo* info, double frameRate);

/// An analysed source with its tracks.
Json SourceJson(nvt::ISourceMedia& source);

/// What a session derived for its output.
Json PropertiesJson(nvt::ITranscodeOutputProperties& properties);

/// A stored preset's settings.
Json PresetJson(const std::string& path, const nvt::CustomPresetData& data);

/// The presets of a folder, oldest first, each as PresetJson gives it.
/// Throws Failure when the folder cannot be listed.
Json PresetListJson(nvt::ICustomPresetFactory& factory, const std::string& folder);

/// One progress event of a run.
Json RunEventJson(RunEvent event, const RunStatus& status, nvt::Result result);

/// Writes one object on one line of the JSON stream (standard output unless
/// set) and flushes it. Safe to call from several threads.
void PrintJson(const Json& value);

/// Sends what PrintJson writes to stream from now on.
void SetJsonStream(std::FILE* stream);

} // namespace norv
