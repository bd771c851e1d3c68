#include "opened_files.h"

#include <algorithm>
#include <atomic>
#include <vector>

#include "engine_log.h"
#include "timeline.h"

namespace norv_engine {

namespace {

std::atomic<unsigned long long> processOpens{0};

int64_t ReadPosition(const AVFormatContext* format) {
    return format->pb != nullptr ? avio_tell(format->pb) : 0;
}

// Puts the file back to where a fresh open would read first. Formats that
// may jump in time (MPEG-TS, MPEG-PS) go back by bytes, as their
// timestamps cannot name the start; the others by time, to their start.
// Formats without timestamps of their own are not rewound: the ones they
// are given depend on where reading began.
bool Rewind(AVFormatContext* format, const std::string& path) {
    if ((format->iformat->flags & AVFMT_NOTIMESTAMPS) != 0 || format->pb == nullptr) {
        return false;
    }
    int sought = 0;
    if (AllowsDiscontinuities(format) && (format->iformat->flags & AVFMT_NO_BYTE_SEEK) == 0) {
        sought = av_seek_frame(format, -1, 0, AVSEEK_FLAG_BYTE);
    } else {
        const int64_t start = format->start_time != AV_NOPTS_VALUE ? format->start_time : 0;
        sought = avformat_seek_file(format, -1, INT64_MIN, start, start, 0);
    }
    if (sought < 0) {
        LogLine(Severity::Info, "cannot rewind %s: %s", path.c_str(), ErrorText(sought).c_str());
        return false;
    }
    return true;
}

// A file that is not open and was never found unreadable.
bool Closed(const ProbedFile& file) {
    return !file.format && file.err == nvt::SUCCESS;
}

} // namespace

OpenedFiles::Lease::Lease(OpenedFiles* files, Kept* kept) : files_(files), kept_(kept) {
    ++kept_->leases;
}

OpenedFiles::Lease& OpenedFiles::Lease::operator=(Lease&& other) noexcept {
    if (this != &other) {
        Release();
        files_ = other.files_;
        kept_ = other.kept_;
        other.files_ = nullptr;
        other.kept_ = nullptr;
    }
    return *this;
}

ProbedFile& OpenedFiles::Lease::operator*() const {
    return kept_->file;
}

void OpenedFiles::Lease::Release() {
    if (kept_ != nullptr) {
        --kept_->leases;
        kept_ = nullptr;
        files_->Trim();
    }
}

unsigned long long OpenedFiles::OpensInProcess() {
    return processOpens.load();
}

OpenedFiles::Kept& OpenedFiles::Use(const std::string& path) {
    Kept& kept = kept_[path];
    kept.lastUse = ++uses_;
    return kept;
}

OpenedFiles::Kept& OpenedFiles::Open(const std::string& path) {
    Kept& kept = kept_[path];
    kept.file = ProbeFile(path, stop_);
    kept.probedAt = kept.file.format ? ReadPosition(kept.file.format.get()) : 0;
    kept.read = false;
    kept.handedOut = false;
    ++opens_;
    ++processOpens;
    return kept;
}

void OpenedFiles::Trim() {
    std::vector<Kept*> idle;
    for (auto& entry : kept_) {
        Kept& kept = entry.second;
        if (kept.file.format && !kept.handedOut && kept.leases == 0) {
            idle.push_back(&kept);
        }
    }
    if (idle.size() <= kIdleOpen) {
        return;
    }
    std::sort(idle.begin(), idle.end(),
              [](const Kept* a, const Kept* b) { return a->lastUse < b->lastUse; });
    for (size_t i = 0; i + kIdleOpen < idle.size(); ++i) {
        idle[i]->file.format.reset(); // opened again when it is wanted
        idle[i]->read = false;
    }
}

OpenedFiles::Lease OpenedFiles::Probe(const std::string& path) {
    Kept* kept = &Use(path);
    if (kept->handedOut || Closed(kept->file)) {
        kept = &Open(path);
    }
    Lease lease(this, kept);
    Trim();
    return lease;
}

ProbedFile OpenedFiles::Take(const std::string& path) {
    Kept* kept = &Use(path);
    if (kept->leases > 0 && kept->file.format) {
        // Whoever holds the lease keeps this one: the reader gets its own.
        LogLine(Severity::Info, "%s is in use: opening it again", path.c_str());
        ++opens_;
        ++processOpens;
        return ProbeFile(path, stop_);
    }
    if (kept->handedOut) {
        LogLine(Severity::Info, "%s is read elsewhere: opening it again", path.c_str());
        kept = &Open(path);
    } else if (Closed(kept->file)) {
        kept = &Open(path);
    } else if (AVFormatContext* format = kept->file.format.get()) {
        const bool moved = kept->read || ReadPosition(format) != kept->probedAt;
        if (moved && !Rewind(format, path)) {
            LogLine(Severity::Info, "opening %s again to read it from its start", path.c_str());
            kept = &Open(path);
        }
    }
    if (!kept->file.format) {
        ProbedFile failed; // an unreadable file stays so
        failed.err = kept->file.err;
        failed.size = kept->file.size;
        return failed;
    }
    kept->handedOut = true;
    ProbedFile taken = std::move(kept->file);
    kept->file.err = nvt::SUCCESS;
    kept->file.size = taken.size;
    Trim();
    return taken;
}

int64_t OpenedFiles::EntryDuration(const std::string& path, const EntryTrims& trims) {
    const Lease probed = Probe(path);
    if (!probed->format) {
        return 0;
    }
    Kept& kept = *probed.kept_;
    if (kept.playing < 0) {
        kept.playing = PlayingDuration(probed->format.get(), stop_);
    }
    if (!trims.Any()) {
        return kept.playing;
    }
    const int64_t start = probed->format->start_time;
    return trims.Length(start != AV_NOPTS_VALUE ? start : 0, kept.playing);
}

void OpenedFiles::Give(const std::string& path, FormatContextPtr format) {
    if (!format) {
        return;
    }
    Kept& kept = Use(path);
    if (!kept.handedOut) {
        return; // a second copy: the one kept serves
    }
    kept.file.format = std::move(format);
    kept.handedOut = false;
    kept.read = true;
    Trim();
}

} // namespace norv_engine
