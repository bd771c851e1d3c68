// What kind of file system entry a path names, for the engine, which reads
// only regular files: a pipe or a device could block a reader without end.
#pragma once

#include <cstdint>
#include <string>

namespace NorvOS {

enum class PathKind {
    Missing,     ///< nothing exists under the path
    NoAccess,    ///< a folder on the way may not be searched
    RegularFile, ///< a regular file (after following links)
    Directory,   ///< a folder
    Other,       ///< a pipe, socket or device
};

struct PathInfo {
    PathKind kind = PathKind::Missing;
    uint64_t size = 0; ///< bytes, for a regular file
};

/// Looks at the entry a UTF-8 path names, following symbolic links.
PathInfo InspectPath(const std::string& path);

} // namespace NorvOS
