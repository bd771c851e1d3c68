// Finding the engine and starting the library on it.
#pragma once

#include <string>

#include "common/library.h"

namespace norv {

/// The engine location handed to the library: the --engine value, else the
/// NORV_ENGINE environment variable, else the NorvEngine installed beside
/// norv. A value that names an existing file is quoted when it holds spaces;
/// anything else passes as the command line it is (an engine path followed
/// by options, or ":" and the pipe name of a running engine). Throws Failure
/// (ENG_ERR) when none of the three gives an engine.
std::string LocateEngine(const std::string& engineOption);

/// Stores the engine location in the library. With wantInfo, also asks the
/// engine for its technical information and returns it (and has it write its
/// technical details to detailsFile, when given). Throws Failure when the
/// engine cannot be started or does not answer.
Ptr<nvt::ITranscodeEngineInfo> StartEngine(const std::string& location, bool wantInfo,
                                           const std::string& detailsFile = std::string());

} // namespace norv
