// norv transcode --parts N: one film encoded in parts by separate tasks
// (the tasks of a Slurm job array or a Kubernetes indexed Job, or local
// threads each driving an engine of its own), then joined into the output
// as though one job had made it.
//
// Every task works out the same plan on its own: the split (part_plan.h)
// from a scan of the sources, and each part's share of the video budget
// from the whole job's derived bitrate and how hard the part is. A part is
// the real engine's transcode of a one-entry playlist of the source
// trimmed to the part, its video only, in two passes at its share, into
// OUT.parts/ beside the output. The engine writes it whole or not at all,
// and a completion record beside it proves it a finished part of this job:
// its task run again skips it. The join checks every part's record, makes
// the whole film's audio, subtitles, chapters and titles with one engine
// transcode of the whole film whose video is left tiny, and joins the
// parts' video to them without coding it again (stitch.h).
#pragma once

#include "commands/commands.h"

namespace norv {

/// Runs transcode with --parts: one part (--part), the join (--join), or
/// every part on local engines and then the join. Throws Failure.
int CommandFilmParts(const Invocation& in);

} // namespace norv
