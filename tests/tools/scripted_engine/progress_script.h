// Progress records spelt out one by one on the command line, for runs whose
// file numbers, stage kinds or remaining times a test needs to choose.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "messages/records.h"

namespace scripted {

/// One record of --progress-script.
struct ScriptedProgress {
    bool unreadable = false; ///< a payload that is no progress record at all
    bool named = true;       ///< sFilename is set
    uint32_t fileNum = 1;
    int stageID = 0;
    uint32_t timeRemaining = 0;
};

/// Parses "ENTRY,ENTRY,...". An entry is "bad" (an unreadable record) or
/// "[-]FILE[:STAGE[:REMAINING]]": the file number, the stage kind (0) and
/// the remaining time (0); a leading '-' leaves sFilename empty. False with
/// a message in error when the text does not follow that form.
bool ParseProgressScript(const std::string& text, std::vector<ScriptedProgress>& out,
                         std::string& error);

/// Record index of script as sent for request: countOfStages is the number
/// of records and stage counts them from 1, progress grows evenly to 100,
/// and sFilename names the input file of fileNum when there is one.
TBS::ProgressResponse MakeScriptedProgress(const std::vector<ScriptedProgress>& script,
                                           const TBS::TranscodeRequest& request, uint32_t index);

} // namespace scripted
