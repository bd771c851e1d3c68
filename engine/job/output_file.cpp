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

// Names tried before giving up on a folder where each made name is taken
// away at once (a cleaner of another run racing this one).
constexpr int kClaimAttempts = 3;

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
    // The file beside the target is made and locked at once, and kept
    // until the job ends: it is the work file, or the place the work file
    // from the temporary folder is moved to.
    for (int attempt = 0; attempt < kClaimAttempts && !claim_.held(); ++attempt) {
        const std::string guid = NorvOS::NewGuidText(); // in braces
        if (guid.size() < 3) {
            return {nvt::ENG_WRITING_ERROR,
                    "cannot make a unique name for the output of " + target};
        }
        unique_ = guid.substr(1, guid.size() - 2);
        beside_ = (fs::path(Folder(targetPath)) / ("." + unique_ + ".part")).string();
        Track(beside_);
        if (!claim_.Make(beside_)) {
            Untrack(beside_);
            beside_.clear();
        }
    }
    if (!claim_.held()) {
        return {nvt::ENG_WRITING_ERROR, "cannot write in the folder of " + target};
    }
    const std::string hidden = "." + unique_ + ".part";
    work_ = beside_;
    // A temporary folder that is the target's own holds the locked file
    // already: the work goes there.
    if (useTempDir && !tempDir.empty() && !fs::equivalent(tempDir, Folder(targetPath), ec)) {
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
    if (work_ == beside_) {
        fs::resize_file(work_, 0, ignored); // the same file, still locked
    } else {
        fs::remove(work_, ignored);
    }
}

Status OutputFile::Commit() {
    std::error_code ec;
    const std::string folder = Folder(fs::path(target_));
    if (!NorvOS::SyncFileToDisk(work_)) {
        return {nvt::ENG_WRITING_ERROR, "cannot write the output of " + target_ + " to disk"};
    }
    if (work_ != beside_) {
        // From the temporary folder: straight to the target where a rename
        // can, else copied into the locked file beside the target.
        fs::rename(work_, target_, ec);
        if (!ec) {
            fs::remove(beside_, ec);
            committed_ = true;
            NorvOS::SyncFolderToDisk(folder);
            return {};
        }
        {
            std::ifstream from(work_, std::ios::binary);
            std::ofstream to(beside_, std::ios::binary | std::ios::trunc);
            to << from.rdbuf();
            to.close();
            if (!from || !to || !NorvOS::SyncFileToDisk(beside_)) {
                return {nvt::ENG_WRITING_ERROR, "cannot move the output next to " + target_};
            }
        }
        fs::remove(work_, ec);
        ec.clear();
        work_ = beside_;
    }
    fs::rename(beside_, target_, ec);
    if (ec) {
        return {nvt::ENG_WRITING_ERROR, "cannot name the output " + target_ + ": " + ec.message()};
    }
    committed_ = true;
    NorvOS::SyncFolderToDisk(folder);
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
