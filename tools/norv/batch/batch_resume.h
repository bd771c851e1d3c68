// A batch run again over the same files (a shard re-queued after a time
// limit or a preemption) carries on where the last run stopped. The engine
// writes each output under a hidden temporary name and gives it its name
// only when it is finished, so an output that is there is complete: it is
// skipped. What a run that was killed outright left behind (the hidden
// temporary files) is removed before the file is transcoded again.
#pragma once

#include <string>

namespace norv {

/// Whether output is there and, unless overwrite, so to be skipped. An
/// output that is the input itself is left to the output checks.
bool OutputComplete(const std::string& output, const std::string& input, bool overwrite);

/// Tells that input is skipped: a line on standard error, or a
/// "file_skipped" event with --json.
void AnnounceSkipped(bool json, const std::string& input, const std::string& output);

} // namespace norv
