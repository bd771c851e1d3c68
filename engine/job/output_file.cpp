#include "output_file.h"

#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
#include <system_error>

#include "engine_log.h"
#include "platform/guid.h"

namespace norv_engine {

namespace fs = std::filesystem;

namespace {

// Suffixes libx264 and libx265 append to a statistics file's name.
const char* const kScratchSuffixes[] = {"",        ".temp",        ".mbtree",
                                        ".cutree", ".mbtree.temp", ".cutree.temp"};

// True when a file can be created (and is then removed) at path.
bool CanCreate(const std::string& path) {
    {
        std::ofstream probe(path, std::ios::binary | std::ios::trunc);
        if (!probe) {
            return false;
        }
    }
    std::error_code ignored;
    fs::remove(path, ignored);
    return true;
}

// The files of the outputs being made, which an engine ending before its
// job removes itself.
struct Unfinished {
    std::mutex lock;
    std::multiset<std::string> paths;
};

Unfinished& UnfinishedFiles() {
    static Unfinished* files = new Unfinished; // outlives every job thread
    return *files;
}

void Track(const std::string& path) {
    Unfinished& files = UnfinishedFiles();
    std::lock_guard<std::mutex> guard(files.lock);
    files.paths.insert(path);
}

void Untrack(const std::string& path) {
    Unfinished& files = UnfinishedFiles();
    std::lock_guard<std::mutex> guard(files.lock);
    const auto at = files.paths.find(path);
    if (at != files.paths.end()) {
        files.paths.erase(at);
    }
}

std::string Folder(const fs::path& path) {
    const fs::path parent = path.parent_path();
    return parent.empty() ? std::string(".") : parent.string();
}

} // namespace

OutputFile::~OutputFile() {
    std::error_code ignored;
    if (!committed_) {
        if (!work_.empty()) {
            fs::remove(work_, ignored);
        }
        if (!beside_.empty()) {
            fs::remove(beside_, ignored);
        }
    }
    RemoveScratch();
    if (!beside_.empty()) {
        Untrack(beside_);
    }
    if (!temp_.empty()) {
        Untrack(temp_);
    }
}

void OutputFile::RemoveUnfinishedBeforeExit() {
    Unfinished& files = UnfinishedFiles();
    files.lock.lock(); // kept: the process ends next
    std::error_code ignored;
    for (const std::string& path : files.paths) {
        fs::remove(path, ignored);
    }
}

Status OutputFile::Prepare(const std::string& target, const std::string& tempDir, bool useTempDir) {
    target_ = target;
    const fs::path targetPath(target);
    std::error_code ec;
    if (target.empty() || !targetPath.has_filename()) {
        return {nvt::ENG_WRITING_ERROR, "the output has no file name"};
    }
    if (fs::is_directory(targetPath, ec)) {
        return {nvt::ENG_WRITING_ERROR, "the output " + target + " is a folder"};
    }
    const std::string guid = NorvOS::NewGuidText(); // in braces
    if (guid.size() < 3) {
        return {nvt::ENG_WRITING_ERROR, "cannot make a unique name for the output of " + target};
    }
    unique_ = guid.substr(1, guid.size() - 2);
    const std::string hidden = "." + unique_ + ".part";
    beside_ = (fs::path(Folder(targetPath)) / hidden).string();
    Track(beside_);
    if (!CanCreate(beside_)) {
        Untrack(beside_);
        beside_.clear();
        return {nvt::ENG_WRITING_ERROR, "cannot write in the folder of " + target};
    }
    work_ = beside_;
    if (useTempDir && !tempDir.empty()) {
        const std::string inTemp = (fs::path(tempDir) / hidden).string();
        Track(inTemp);
        if (fs::is_directory(tempDir, ec) && CanCreate(inTemp)) {
            work_ = inTemp;
            temp_ = inTemp;
        } else {
            Untrack(inTemp);
            LogLine(Severity::Warning, "cannot write in the temporary folder %s; writing beside %s",
                    tempDir.c_str(), target.c_str());
        }
    }
    return {};
}

std::string OutputFile::ScratchPath(const std::string& kind) {
    const std::string path =
        (fs::path(Folder(fs::path(work_))) / ("." + unique_ + "." + kind)).string();
    for (const char* suffix : kScratchSuffixes) {
        Track(path + suffix);
    }
    scratch_.push_back(path);
    return path;
}

uint64_t OutputFile::WorkSize() const {
    std::error_code ec;
    const uintmax_t size = fs::file_size(work_, ec);
    return ec ? 0 : static_cast<uint64_t>(size);
}

void OutputFile::DiscardWork() {
    std::error_code ignored;
    fs::remove(work_, ignored);
}

Status OutputFile::Commit() {
    std::error_code ec;
    if (work_ != beside_) {
        // From the temporary folder: a rename where it can, else a copy to
        // the temporary name beside the target, which is then renamed.
        fs::rename(work_, beside_, ec);
        if (ec) {
            ec.clear();
            fs::copy_file(work_, beside_, fs::copy_options::overwrite_existing, ec);
            if (ec) {
                return {nvt::ENG_WRITING_ERROR,
                        "cannot move the output next to " + target_ + ": " + ec.message()};
            }
            fs::remove(work_, ec);
            ec.clear();
        }
        work_ = beside_;
    }
    fs::rename(beside_, target_, ec);
    if (ec) {
        return {nvt::ENG_WRITING_ERROR, "cannot name the output " + target_ + ": " + ec.message()};
    }
    committed_ = true;
    return {};
}

void OutputFile::RemoveScratch() {
    std::error_code ignored;
    for (const std::string& base : scratch_) {
        for (const char* suffix : kScratchSuffixes) {
            fs::remove(base + suffix, ignored);
            Untrack(base + suffix);
        }
    }
    scratch_.clear();
}

} // namespace norv_engine
