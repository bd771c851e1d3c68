// The input files of one transcode, each opened and probed when first
// needed: the analysis the plan is made from, the stream plan and every
// pass read the same opened file while it stays open. A pass takes a file
// while it reads it and gives it back; the next reader gets it rewound to
// its start. Only a file that cannot be rewound safely, or one a reader
// still holds, is opened again (and the log says so).
//
// Only a few files are kept open besides those in use: a list of
// thousands of files would otherwise hold a descriptor and the probe's
// buffers for each until the job ends. A file closed for room is opened
// again when its turn comes; what was worked out of it (its playing time)
// is kept.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "media_probe.h"
#include "playlist.h"
#include "stop_token.h"

namespace norv_engine {

class OpenedFiles {
    struct Kept;

public:
    /// The most files kept open while no reader uses them.
    static constexpr size_t kIdleOpen = 4;

    explicit OpenedFiles(const StopToken& stop) : stop_(stop) {}
    OpenedFiles(const OpenedFiles&) = delete;
    OpenedFiles& operator=(const OpenedFiles&) = delete;

    /// A probed file, kept open while the lease lives. A reader that moves
    /// through it may do so; the next one gets it rewound.
    class Lease {
    public:
        Lease() = default;
        Lease(Lease&& other) noexcept { *this = std::move(other); }
        Lease& operator=(Lease&& other) noexcept;
        Lease(const Lease&) = delete;
        Lease& operator=(const Lease&) = delete;
        ~Lease() { Release(); }

        /// The file; its err tells why it cannot be read (format is null
        /// then).
        ProbedFile& operator*() const;
        ProbedFile* operator->() const { return &**this; }

    private:
        friend class OpenedFiles;
        Lease(OpenedFiles* files, Kept* kept);
        void Release();

        OpenedFiles* files_ = nullptr;
        Kept* kept_ = nullptr;
    };

    /// The file at path, opened and probed when it is not open.
    Lease Probe(const std::string& path);

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
        unsigned leases = 0;    ///< leases held on it
        uint64_t lastUse = 0;   ///< when it was last wanted, in uses
        int64_t playing = -1;   ///< microseconds; below 0 until worked out
    };

    /// Opens and probes the file at path into its entry, counted.
    Kept& Open(const std::string& path);
    /// The entry of path, marked as just used.
    Kept& Use(const std::string& path);
    /// Closes the files no reader uses beyond kIdleOpen, the longest
    /// unused first.
    void Trim();

    const StopToken& stop_;
    std::map<std::string, Kept> kept_; ///< nodes stay put: leases point at them
    unsigned opens_ = 0;
    uint64_t uses_ = 0;
};

} // namespace norv_engine
