// The real engine and the media corpus its tests analyse: made once per
// build tree by make_corpus.sh (a CTest fixture), with ffprobe's JSON
// description beside each media file.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

namespace norv_test {

/// The engine location that starts the real engine.
std::string RealEngine();

/// The path of a corpus file.
std::string CorpusFile(const std::string& name);

/// ffprobe's description of a corpus media file (-show_format -show_streams).
nlohmann::json Ffprobe(const std::string& name);

/// A rational ffprobe writes as "num/den" (or a plain number), as a number;
/// 0 for "0/0" or anything unreadable.
double Rational(const nlohmann::json& text);

/// A number ffprobe writes as text ("2.016000", "128000"); 0 when absent.
double Number(const nlohmann::json& object, const char* key);

} // namespace norv_test
