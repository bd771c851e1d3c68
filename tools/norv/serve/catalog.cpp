#include "serve/catalog.h"

#include <filesystem>
#include <fstream>
#include <sstream>

#include "serve/access.h"
#include "serve/roots.h"

namespace norv {

namespace {

// The largest thumbnail asked of the engine.
constexpr int32_t kThumbnailWidth = 320;
constexpr int32_t kThumbnailHeight = 180;

std::string Stamp(const std::string& path) {
    std::error_code error;
    const fs::path file = TextPath(path);
    const uintmax_t size = fs::file_size(file, error);
    const auto time = fs::last_write_time(file, error).time_since_epoch().count();
    return std::to_string(size) + "@" + std::to_string(time);
}

std::shared_ptr<const FileAnalysis> Run(const std::string& path) {
    auto analysis = std::make_shared<FileAnalysis>();
    // The engine writes the thumbnail to a scratch file named by a random
    // identifier; it is read back and removed at once.
    std::error_code error;
    const fs::path picture = fs::temp_directory_path(error) / ("norv-" + RandomHex(16) + ".jpg");
    int32_t width = kThumbnailWidth;
    int32_t height = kThumbnailHeight;
    try {
        analysis->result = CreateMediaSourceEx(Widen(path), &width, &height,
                                               Widen(PathText(picture)), analysis->sources);
    } catch (const std::exception& e) {
        analysis->result = nvt::ENG_ERR;
        analysis->error = e.what();
    }
    {
        std::ifstream in(picture, std::ios::binary);
        std::ostringstream bytes;
        bytes << in.rdbuf();
        analysis->thumbnail = bytes.str();
    }
    fs::remove(picture, error);
    if (!analysis->thumbnail.empty()) {
        analysis->thumbnailWidth = width;
        analysis->thumbnailHeight = height;
    }
    if (analysis->result == nvt::SUCCESS && analysis->sources.empty()) {
        analysis->result = nvt::ENG_ANALYSIS;
        analysis->error = "the engine found nothing to transcode";
    }
    if (analysis->result != nvt::SUCCESS) {
        analysis->sources.clear();
        if (analysis->error.empty()) {
            analysis->error = "analysis failed: " + Describe(analysis->result);
        }
        return analysis;
    }
    for (const Ptr<nvt::ISourceMedia>& source : analysis->sources) {
        analysis->json.push_back(SourceJson(*source));
    }
    return analysis;
}

} // namespace

std::shared_ptr<const FileAnalysis> Catalog::Analyse(const std::string& path) {
    const std::string stamp = Stamp(path);
    std::promise<std::shared_ptr<const FileAnalysis>> promise;
    Pending pending;
    bool mine = false;
    uint64_t made = 0;
    {
        std::lock_guard<std::mutex> hold(lock_);
        Entry& entry = entries_[path];
        if (entry.stamp != stamp || !entry.analysis.valid()) {
            entry.stamp = stamp;
            entry.analysis = promise.get_future().share();
            entry.made = made = ++clock_;
            mine = true;
        }
        entry.used = ++clock_;
        pending = entry.analysis;
        // The least recently used analysis goes when there are too many.
        while (entries_.size() > keep_) {
            auto oldest = entries_.begin();
            for (auto it = entries_.begin(); it != entries_.end(); ++it) {
                if (it->second.used < oldest->second.used) {
                    oldest = it;
                }
            }
            entries_.erase(oldest);
        }
    }
    if (mine) {
        const std::shared_ptr<const FileAnalysis> analysis = Run(path);
        promise.set_value(analysis);
        // A failure is not kept: the next request tries again.
        if (analysis->result != nvt::SUCCESS) {
            std::lock_guard<std::mutex> hold(lock_);
            const auto entry = entries_.find(path);
            if (entry != entries_.end() && entry->second.made == made) {
                entries_.erase(entry);
            }
        }
    }
    return pending.get();
}

} // namespace norv
