// Where a transcode's output is written while it is made, and how it gets
// its name: the file is written under a hidden temporary name beside the
// target (or in the request's temporary folder) and renamed at the end, so
// that no half-written file ever carries the requested name. Scratch files
// (the encoders' two-pass statistics) live beside the temporary file. Every
// name the job makes comes from a GUID alone: whatever the target's name
// holds (':', quotes, '%', non-ASCII, a length at the system's limit), the
// names handed to encoders are plain, and they all go when the job does.
// The temporary file beside the target is held locked for as long as the
// job lives, so that a later run can tell the files of a live job from
// those a killed engine left behind. The data reaches the disk before the
// file gets its name, and the name before the job reports success.
#pragma once

#include <string>
#include <vector>

#include "norv/enums.h"
#include "platform/file_claim.h"
#include "status.h"

namespace norv_engine {

class OutputFile {
public:
    OutputFile() = default;
    /// Removes the temporary file and every scratch file, unless committed.
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    /// Chooses the temporary names for target and checks that the target's
    /// folder can take the output. With useTempDir and an existing folder
    /// tempDir, the work file is written there. ENG_WRITING_ERROR
    /// when the target cannot be written.
    Status Prepare(const std::string& target, const std::string& tempDir, bool useTempDir);

    /// The file the muxer writes.
    const std::string& WorkPath() const { return work_; }
    /// A scratch path in the work folder, named from this output's GUID and
    /// kind (a plain word), removed (with the files an encoder derives from
    /// it by appending suffixes) when this object goes.
    std::string ScratchPath(const std::string& kind);

    /// The size of the work file in bytes; 0 when it cannot be read.
    uint64_t WorkSize() const;
    /// Empties the work file (before it is written again).
    void DiscardWork();

    /// Writes the work file to disk and moves it to the target name.
    /// ENG_WRITING_ERROR when it cannot be placed there.
    Status Commit();

    /// For an engine that ends before its job could clean up after itself:
    /// removes the temporary and scratch files of every output still being
    /// made, and keeps the lock that guards their list, so that no output
    /// names a further file before the process ends. Call it only just
    /// before ending the process.
    static void RemoveUnfinishedBeforeExit();

private:
    void RemoveScratch();

    std::string target_;
    std::string work_;
    std::string beside_; ///< temporary name beside the target
    std::string temp_;   ///< temporary name in the temporary folder, if used
    std::string unique_; ///< a GUID's digits, unique to this output
    std::vector<std::string> scratch_;
    NorvOS::FileClaim claim_; ///< the lock on beside_
    bool committed_ = false;
};

} // namespace norv_engine
