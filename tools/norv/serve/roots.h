// The folders the page may look into and the one it writes to. Every path is
// resolved to its real path (symbolic links followed, "." and ".." gone) and
// then compared with the roots component by component, so that /media2 is
// not taken for a part of /media and a link that leads out of a root is
// refused. The page names files by opaque identifiers handed out here; it
// never sends a path to open.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "common/json_output.h"

namespace norv {

namespace fs = std::filesystem;

/// Why a path was not given out: the HTTP status to answer with and a text.
struct PathRefusal {
    unsigned status = 403;
    std::string why;
};

class Roots {
public:
    /// Throws Failure for a root that is not an existing folder, or an
    /// output folder that cannot be made.
    Roots(const std::vector<std::string>& roots, const std::string& output);

    size_t count() const { return roots_.size(); }
    const fs::path& root(size_t i) const { return roots_[i]; }
    const fs::path& output() const { return output_; }

    /// Whether path lies in base or is base, by whole components. Both are
    /// real paths.
    static bool Within(const fs::path& base, const fs::path& path);

    /// The real path of the folder or file that relative (as the page sends
    /// it, '/'-separated, already percent-decoded) names inside root i.
    /// Refuses an absolute path, a ".." component, and anything whose real
    /// path is outside the root.
    fs::path Resolve(size_t root, const std::string& relative, PathRefusal& refusal) const;

    /// The folder's entries as JSON: folders first, then files with the
    /// identifiers that name them; hidden entries and links that lead out of
    /// the roots are left out.
    Json List(size_t root, const std::string& relative, PathRefusal& refusal);

    /// The identifier for a file (a real path inside a root).
    std::string IdFor(const fs::path& file);
    /// The file an identifier names, checked again: still a regular file
    /// whose real path lies inside a root.
    std::optional<fs::path> FileOf(const std::string& id) const;

    /// The root-relative name shown for a real path: "root/sub/file.mp4".
    std::string DisplayName(const fs::path& path) const;

private:
    bool InsideARoot(const fs::path& real) const;

    std::vector<fs::path> roots_;
    fs::path output_;
    mutable std::mutex lock_;
    std::map<std::string, fs::path> files_; ///< identifier -> real path
    std::map<fs::path, std::string> ids_;
};

/// The UTF-8 text of a path, and the path of a UTF-8 text, on every system.
std::string PathText(const fs::path& path);
fs::path TextPath(const std::string& text);

} // namespace norv
