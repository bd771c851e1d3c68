// The input files of one transcode, each opened and probed once: the
// analysis the plan is made from, the stream plan and every pass read the
// same opened file. A pass takes a file while it reads it and gives it
// back; the next reader gets it rewound to its start. Only a file that
// cannot be rewound safely, or one a reader still holds, is opened again
// (and the log says so).
#pragma once

#include <map>
#include <string>

#include "media_probe.h"
#include "playlist.h"
#include "stop_token.h"

namespace norv_engine {

class OpenedFiles {
public:
    explicit OpenedFiles(const StopToken& stop) : stop_(stop) {}
    OpenedFiles(const OpenedFiles&) = delete;
    OpenedFiles& operator=(const OpenedFiles&) = delete;

    /// The file at path, opened and probed on first use, and kept here
    /// (its err tells why it cannot be read; format is null then). It
    /// stays valid until the file is taken. A reader that moves through
    /// the file may use it; the next one gets it rewound.
    ProbedFile& Probe(const std::string& path);

    /// Hands the file at path over, ready to be read from its start.
    ProbedFile Take(const std::string& path);
    /// Takes a file back from its reader.
    void Give(const std::string& path, FormatContextPtr format);

    const StopToken& stop() const { return stop_; }

    /// How long the part of the file at path that trims leave plays,
    /// microseconds (0 when unknown). The file's own playing time is worked
    /// out once: for a recording whose timestamps jump it takes reading the
    /// file through, which the analysis and the plan would otherwise each do.
    int64_t EntryDuration(const std::string& path, const EntryTrims& trims);

    /// How often a file was opened, in this job and in the whole process.
    unsigned Opens() const { return opens_; }
    static unsigned long long OpensInProcess();

private:
    struct Kept {
        ProbedFile file;
        int64_t probedAt = 0;   ///< the read position the probe left
        bool read = false;      ///< a reader had it since
        bool handedOut = false; ///< a reader has it now
        int64_t playing = -1;   ///< microseconds; below 0 until worked out
    };

    Kept& Open(const std::string& path);

    const StopToken& stop_;
    std::map<std::string, Kept> kept_;
    unsigned opens_ = 0;
};

} // namespace norv_engine
