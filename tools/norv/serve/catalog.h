// What the engine found in the files the page picked: each file is analysed
// once (with a thumbnail) and kept for the preview and the jobs, until the
// file changes or newer ones push it out.
#pragma once

#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "common/json_output.h"
#include "common/media.h"

namespace norv {

struct FileAnalysis {
    nvt::Result result = nvt::SUCCESS;
    std::string error;
    Sources sources;
    Json json = Json::array(); ///< SourceJson of each source
    std::string thumbnail;     ///< a JPEG picture; empty when the engine made none
    int32_t thumbnailWidth = 0;
    int32_t thumbnailHeight = 0;
};

class Catalog {
public:
    explicit Catalog(size_t keep = 256) : keep_(keep) {}

    /// The analysis of a file (a real path), made now or earlier. Several
    /// callers asking for the same file wait for one analysis.
    std::shared_ptr<const FileAnalysis> Analyse(const std::string& path);

private:
    using Pending = std::shared_future<std::shared_ptr<const FileAnalysis>>;
    struct Entry {
        std::string stamp; ///< size and modification time when analysed
        Pending analysis;
        uint64_t made = 0; ///< tells this analysis from a later one of the file
        uint64_t used = 0;
    };

    size_t keep_;
    std::mutex lock_;
    std::map<std::string, Entry> entries_;
    uint64_t clock_ = 0;
};

} // namespace norv
