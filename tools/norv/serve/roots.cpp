#include "serve/roots.h"

#include <algorithm>

#include "serve/access.h"

namespace norv {

namespace {

// A folder with more entries than this is shown cut short.
constexpr size_t kMostEntries = 5000;

fs::path RealFolder(const std::string& text, const char* what) {
    std::error_code error;
    const fs::path real = fs::canonical(TextPath(text), error);
    if (error || !fs::is_directory(real, error)) {
        throw Failure(std::string(what) + " " + text + " is not a folder",
                      nvt::CRTL_FILE_DOES_NOT_EXIST);
    }
    return real;
}

} // namespace

std::string PathText(const fs::path& path) {
    return path.u8string();
}

fs::path TextPath(const std::string& text) {
    return fs::u8path(text);
}

Roots::Roots(const std::vector<std::string>& roots, const std::string& output) {
    for (const std::string& root : roots) {
        roots_.push_back(RealFolder(root, "root"));
    }
    std::error_code error;
    fs::create_directories(TextPath(output), error);
    output_ = RealFolder(output, "output folder");
}

bool Roots::Within(const fs::path& base, const fs::path& path) {
    auto p = path.begin();
    for (auto b = base.begin(); b != base.end(); ++b, ++p) {
        // A root written with a trailing separator ends in an empty part.
        if (b->empty() && std::next(b) == base.end()) {
            break;
        }
        if (p == path.end() || *p != *b) {
            return false;
        }
    }
    return true;
}

bool Roots::InsideARoot(const fs::path& real) const {
    return std::any_of(roots_.begin(), roots_.end(),
                       [&](const fs::path& root) { return Within(root, real); });
}

fs::path Roots::Resolve(size_t root, const std::string& relative, PathRefusal& refusal) const {
    if (root >= roots_.size()) {
        refusal = {404, "no such root"};
        return fs::path();
    }
    if (relative.find('\0') != std::string::npos) {
        refusal = {400, "a path with a NUL in it"};
        return fs::path();
    }
    const fs::path rel = TextPath(relative);
    if (rel.has_root_name() || rel.has_root_directory() ||
        (!relative.empty() && (relative[0] == '/' || relative[0] == '\\'))) {
        refusal = {400, "an absolute path; paths are relative to a root"};
        return fs::path();
    }
    for (const fs::path& part : rel) {
        if (part == "..") {
            refusal = {403, "'..' is not followed"};
            return fs::path();
        }
    }
    std::error_code error;
    const fs::path real = fs::canonical(roots_[root] / rel, error);
    if (error) {
        refusal = {404, "no such file or folder"};
        return fs::path();
    }
    if (!Within(roots_[root], real)) {
        refusal = {403, "outside the root"};
        return fs::path();
    }
    return real;
}

Json Roots::List(size_t root, const std::string& relative, PathRefusal& refusal) {
    const fs::path folder = Resolve(root, relative, refusal);
    if (folder.empty()) {
        return Json();
    }
    std::error_code error;
    if (!fs::is_directory(folder, error)) {
        refusal = {400, "not a folder"};
        return Json();
    }
    std::vector<Json> folders, files;
    bool truncated = false;
    fs::directory_iterator it(folder, fs::directory_options::skip_permission_denied, error);
    for (; !error && it != fs::directory_iterator(); it.increment(error)) {
        if (folders.size() + files.size() >= kMostEntries) {
            truncated = true;
            break;
        }
        const std::string name = PathText(it->path().filename());
        // Hidden entries, the engine's unfinished outputs among them.
        if (name.empty() || name[0] == '.') {
            continue;
        }
        std::error_code entryError;
        fs::path real = it->path();
        if (it->is_symlink(entryError)) {
            real = fs::canonical(it->path(), entryError);
            if (entryError || !InsideARoot(real)) {
                continue;
            }
        }
        if (fs::is_directory(real, entryError)) {
            folders.push_back(Json{{"name", name}, {"kind", "folder"}});
        } else if (fs::is_regular_file(real, entryError)) {
            const uintmax_t size = fs::file_size(real, entryError);
            files.push_back(Json{{"name", name},
                                 {"kind", "file"},
                                 {"id", IdFor(real)},
                                 {"size", entryError ? 0 : size}});
        }
    }
    auto byName = [](const Json& a, const Json& b) {
        return a["name"].get<std::string>() < b["name"].get<std::string>();
    };
    std::sort(folders.begin(), folders.end(), byName);
    std::sort(files.begin(), files.end(), byName);
    Json entries = Json::array();
    for (Json& entry : folders) {
        entries.push_back(std::move(entry));
    }
    for (Json& entry : files) {
        entries.push_back(std::move(entry));
    }
    const fs::path inside = folder.lexically_relative(roots_[root]);
    return Json{{"root", root},
                {"path", inside == "." ? std::string() : inside.generic_u8string()},
                {"entries", entries},
                {"truncated", truncated}};
}

std::string Roots::IdFor(const fs::path& file) {
    std::lock_guard<std::mutex> hold(lock_);
    const auto known = ids_.find(file);
    if (known != ids_.end()) {
        return known->second;
    }
    std::string id;
    do {
        id = RandomHex(8);
    } while (files_.count(id) != 0);
    files_.emplace(id, file);
    ids_.emplace(file, id);
    return id;
}

std::optional<fs::path> Roots::FileOf(const std::string& id) const {
    fs::path file;
    {
        std::lock_guard<std::mutex> hold(lock_);
        const auto found = files_.find(id);
        if (found == files_.end()) {
            return std::nullopt;
        }
        file = found->second;
    }
    // The file may have been replaced by a link since it was listed.
    std::error_code error;
    const fs::path real = fs::canonical(file, error);
    if (error || !InsideARoot(real) || !fs::is_regular_file(real, error)) {
        return std::nullopt;
    }
    return real;
}

std::string Roots::DisplayName(const fs::path& path) const {
    for (const fs::path& root : roots_) {
        if (Within(root, path)) {
            return PathText(root.filename()) + "/" +
                   path.lexically_relative(root).generic_u8string();
        }
    }
    return PathText(path.filename());
}

} // namespace norv
