#include "platform/path_info.h"

#include <sys/stat.h>

#include <cerrno>

namespace NorvOS {

PathInfo InspectPath(const std::string& path) {
    PathInfo info;
    struct stat st;
    if (path.empty() || ::stat(path.c_str(), &st) != 0) {
        info.kind = (errno == EACCES) ? PathKind::NoAccess : PathKind::Missing;
        return info;
    }
    if (S_ISREG(st.st_mode)) {
        info.kind = PathKind::RegularFile;
        info.size = static_cast<uint64_t>(st.st_size);
    } else if (S_ISDIR(st.st_mode)) {
        info.kind = PathKind::Directory;
    } else {
        info.kind = PathKind::Other;
    }
    return info;
}

} // namespace NorvOS
