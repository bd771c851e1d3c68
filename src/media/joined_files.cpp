#include "media/joined_files.h"

#include <algorithm>

namespace nvt {

namespace {

using FileList = std::vector<TBS::SSourceFile>;

bool InChain(const SourceFiles& source) {
    return source.fileList != nullptr && source.fileList->size() > 1;
}

bool HasDurations(const SourceFiles& source) {
    return source.durations != nullptr && !source.durations->empty();
}

bool SameList(const FileList& a, const FileList& b) {
    if (&a == &b) {
        return true;
    }
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i].format != b[i].format || a[i].source != b[i].source) {
            return false;
        }
    }
    return true;
}

// One copy of a chain, and which of its entries sources took.
struct ChainCopy {
    const FileList* list;
    std::vector<bool> taken;

    // The first entry naming path that no source took.
    std::size_t Free(const std::string& path) const {
        for (std::size_t i = FirstFileOf(*list); i < list->size(); ++i) {
            if (!taken[i] && (*list)[i].source == path) {
                return i;
            }
        }
        return kNoEntry;
    }
};

struct Claims {
    std::vector<ChainCopy> copies;
    std::vector<std::size_t> entry; ///< per source: the entry it takes
    std::vector<std::size_t> copy;  ///< per source: the copy it takes it from
};

Claims Claim(const std::vector<SourceFiles>& sources) {
    Claims claims;
    claims.entry.assign(sources.size(), kNoEntry);
    claims.copy.assign(sources.size(), kNoEntry);
    std::vector<ChainCopy>& copies = claims.copies;
    const auto take = [&](std::size_t s, std::size_t copy, std::size_t entry) {
        copies[copy].taken[entry] = true;
        claims.entry[s] = entry;
        claims.copy[s] = copy;
    };
    for (std::size_t s = 0; s < sources.size(); ++s) {
        if (!InChain(sources[s])) {
            continue;
        }
        const FileList& list = *sources[s].fileList;
        const std::string& path = sources[s].path;
        std::size_t copy = copies.size();
        while (copy > 0 && !SameList(*copies[copy - 1].list, list)) {
            --copy;
        }
        std::size_t entry = copy > 0 ? copies[copy - 1].Free(path) : kNoEntry;
        if (entry != kNoEntry) {
            take(s, copy - 1, entry);
            continue;
        }
        ChainCopy fresh{&list, std::vector<bool>(list.size(), false)};
        entry = fresh.Free(path);
        if (entry != kNoEntry) {
            copies.push_back(std::move(fresh));
            take(s, copies.size() - 1, entry);
        }
    }
    // Files given on their own take what the chains left.
    for (std::size_t s = 0; s < sources.size(); ++s) {
        if (InChain(sources[s])) {
            continue;
        }
        for (std::size_t copy = 0; copy < copies.size(); ++copy) {
            const std::size_t entry = copies[copy].Free(sources[s].path);
            if (entry != kNoEntry) {
                take(s, copy, entry);
                break;
            }
        }
    }
    return claims;
}

// The files of a source of no chain of several files: each entry of its
// durations (a leading playlist entry left out).
std::vector<JoinedFile> OwnFiles(const SourceFiles& source, std::size_t s, uint64_t& sum) {
    std::vector<JoinedFile> own;
    const std::size_t durationCount = source.durations ? source.durations->size() : 0;
    const std::size_t listCount = source.fileList ? source.fileList->size() : 0;
    for (std::size_t i = 0; i < durationCount; ++i) {
        const bool listed = i < listCount;
        if (listed && (*source.fileList)[i].format == kChainHeadFormat) {
            continue;
        }
        const std::string& path = listed ? (*source.fileList)[i].source : source.path;
        const uint64_t ms = static_cast<uint64_t>((*source.durations)[i]) * 1000;
        own.push_back(JoinedFile{path, ms, s, kNoEntry});
        sum += ms;
    }
    return own;
}

// The entries of a chain's copy its leading source stands for: its own,
// and those no source takes.
std::vector<JoinedFile> LeadFiles(const SourceFiles& source, std::size_t s, const ChainCopy& copy,
                                  std::size_t entry, uint64_t& sum) {
    std::vector<JoinedFile> own;
    const FileList& list = *source.fileList;
    const std::size_t count = std::min(source.durations->size(), list.size());
    for (std::size_t i = FirstFileOf(list); i < count; ++i) {
        if (i != entry && copy.taken[i]) {
            continue;
        }
        const uint64_t ms = static_cast<uint64_t>((*source.durations)[i]) * 1000;
        own.push_back(JoinedFile{list[i].source, ms, s, i});
        sum += ms;
    }
    return own;
}

} // namespace

std::size_t FirstFileOf(const std::vector<TBS::SSourceFile>& list) {
    return !list.empty() && list.front().format == kChainHeadFormat ? 1 : 0;
}

std::vector<std::size_t> ChainEntries(const std::vector<SourceFiles>& sources) {
    std::vector<std::size_t> entries = Claim(sources).entry;
    for (std::size_t s = 0; s < sources.size(); ++s) {
        if (!InChain(sources[s])) {
            entries[s] = kNoEntry;
        }
    }
    return entries;
}

std::vector<JoinedFile> JoinedFiles(const std::vector<SourceFiles>& sources) {
    const Claims claims = Claim(sources);
    std::vector<JoinedFile> files;
    for (std::size_t s = 0; s < sources.size(); ++s) {
        const SourceFiles& source = sources[s];
        const std::size_t entry = InChain(source) ? claims.entry[s] : kNoEntry;
        std::vector<JoinedFile> own;
        uint64_t sum = 0;
        if (!InChain(source)) {
            own = OwnFiles(source, s, sum);
        } else if (entry != kNoEntry && entry == FirstFileOf(*source.fileList) &&
                   HasDurations(source)) {
            own = LeadFiles(source, s, claims.copies[claims.copy[s]], entry, sum);
        } else {
            own.push_back(JoinedFile{source.path, source.durationMs, s, entry});
            sum = source.durationMs;
        }
        if (sum == 0) {
            // Nothing counted from the file list: the source's own duration.
            own.clear();
            own.push_back(JoinedFile{source.path, source.durationMs, s, entry});
        }
        files.insert(files.end(), own.begin(), own.end());
    }
    return files;
}

uint64_t TotalDurationMs(const std::vector<JoinedFile>& files) {
    uint64_t total = 0;
    for (const JoinedFile& file : files) {
        total += file.durationMs;
    }
    return total;
}

} // namespace nvt
