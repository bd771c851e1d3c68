// Whole-file reading and crash-safe whole-file replacement, for the preset
// store.
#pragma once

#include <cstddef>
#include <string>

#include "norv/types.h"

namespace nvt {

enum class FileReadStatus {
    Ok,
    CannotOpen, ///< missing, not a regular file, or not readable
    ReadFailed, ///< opened, but reading failed
    TooLarge,   ///< larger than the caller's limit
};

/// Reads the regular file at path (UTF-16, converted to the system's form)
/// into out. Other programs may read and write the file meanwhile. Never
/// blocks on special files. out is replaced only when the result is Ok.
FileReadStatus ReadWholeFile(const WideString& path, std::string& out, std::size_t maxBytes);

/// Replaces the file at path with bytes so that the old contents survive
/// any failure or crash: the bytes go to a new temporary file in the same
/// folder (its name is path's name, shortened if need be, followed by a
/// process- and call-unique suffix ending in ".tmp"), which is flushed to
/// disk and then renamed over path; finally the folder itself is flushed.
/// As for a write in place, an existing file must be a regular file this
/// process may open for writing; it keeps its permission bits, and a
/// symbolic link to it stays a link. On failure the temporary file is
/// removed and path is left as it was. Returns true on success.
bool ReplaceFileContents(const WideString& path, const std::string& bytes);

} // namespace nvt
