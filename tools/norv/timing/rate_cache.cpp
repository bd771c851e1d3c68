#include "timing/rate_cache.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <random>
#include <sstream>

#include "common/os_files.h"

namespace norv {

namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;

constexpr int kFormat = 1;
// A new measurement counts at least this much against the ones before: the
// machine's load changes, so recent runs say most.
constexpr double kLeastWeight = 0.5;

// "h264/1/fhd" for a transcode run alone, "h264/1/fhd/j2" for one of two
// side by side: each of them runs slower than it would alone.
std::string Name(const RateKey& key) {
    return key.encoder + "/" + std::to_string(key.passes) + "/" + key.sizeClass +
           (key.jobs > 1 ? "/j" + std::to_string(key.jobs) : std::string());
}

// The size classes from small to large.
constexpr const char* kSizeClasses[] = {"sd", "hd", "fhd", "uhd"};

int SizeClassRank(const std::string& sizeClass) {
    for (int i = 0; i < static_cast<int>(std::size(kSizeClasses)); ++i) {
        if (sizeClass == kSizeClasses[i]) {
            return i;
        }
    }
    return -1;
}

// An entry as norv writes it, its count of runs (one when not given)
// made explicit; null when its values are not of their types.
Json WellFormed(const Json& entry) {
    if (!entry.is_object()) {
        return Json();
    }
    const auto rate = entry.find("pixels_per_second");
    const auto runs = entry.find("runs");
    if (rate == entry.end() || !rate->is_number() || !(rate->get<double>() > 0) ||
        !(rate->get<double>() < 1e300)) {
        return Json();
    }
    if (runs != entry.end() && (!runs->is_number_unsigned() || runs->get<uint64_t>() == 0 ||
                                runs->get<uint64_t>() > (1u << 30))) {
        return Json();
    }
    return Json{{"pixels_per_second", rate->get<double>()},
                {"runs", runs == entry.end() ? uint64_t{1} : runs->get<uint64_t>()}};
}

// The file's well-formed rates, or an empty table for a missing or damaged
// file.
Json Load(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        return Json::object();
    }
    std::stringstream text;
    text << in.rdbuf();
    const Json root = Json::parse(text.str(), nullptr, false);
    if (root.is_discarded() || !root.is_object()) {
        return Json::object();
    }
    const auto format = root.find("format");
    const auto table = root.find("rates");
    if (format == root.end() || !format->is_number_integer() || format->get<int>() != kFormat ||
        table == root.end() || !table->is_object()) {
        return Json::object();
    }
    Json rates = Json::object();
    for (const auto& entry : table->items()) {
        Json kept = WellFormed(entry.value());
        if (!kept.is_null()) {
            rates[entry.key()] = std::move(kept);
        }
    }
    return rates;
}

std::string RandomSuffix() {
    std::random_device device;
    char text[24];
    std::snprintf(text, sizeof text, "%08x%08x", device(), device());
    return text;
}

// Writes text beside file and renames it over file.
bool ReplaceFile(const std::string& file, const std::string& text) {
    std::error_code error;
    const fs::path target(file);
    if (target.has_parent_path()) {
        fs::create_directories(target.parent_path(), error);
    }
    const fs::path temporary = target.string() + "." + RandomSuffix() + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << text;
        out.flush();
        if (!out) {
            out.close();
            fs::remove(temporary, error);
            return false;
        }
    }
    fs::rename(temporary, target, error);
    if (error) {
        fs::remove(temporary, error);
        return false;
    }
    return true;
}

// Threads of one process wait here; processes wait for the lock on the
// file beside the rate file.
std::mutex& ProcessLock() {
    static std::mutex lock;
    return lock;
}

} // namespace

std::string SizeClass(uint32_t width, uint32_t height) {
    const uint64_t pixels = static_cast<uint64_t>(width) * height;
    if (pixels <= 720u * 576u) {
        return "sd";
    }
    if (pixels <= 1280u * 720u) {
        return "hd";
    }
    return pixels <= 1920u * 1080u ? "fhd" : "uhd";
}

std::string DefaultRateFile() {
#if defined(_WIN32)
    const char* local = std::getenv("LOCALAPPDATA");
    if (local != nullptr && *local != '\0') {
        return (fs::path(local) / "norv" / "rates.json").string();
    }
    return std::string();
#else
    const char* cache = std::getenv("XDG_CACHE_HOME");
    if (cache != nullptr && *cache == '/') {
        return (fs::path(cache) / "norv" / "rates.json").string();
    }
    const char* home = std::getenv("HOME");
    if (home != nullptr && *home != '\0') {
        return (fs::path(home) / ".cache" / "norv" / "rates.json").string();
    }
    return std::string();
#endif
}

KnownRate RateCache::Rate(const RateKey& key) const {
    if (file_.empty()) {
        return KnownRate();
    }
    try {
        const Json rates = Load(file_);
        KnownRate known;
        const auto exact = rates.find(Name(key));
        if (exact != rates.end()) {
            known.pixelsPerSecond = (*exact)["pixels_per_second"].get<double>();
            known.exact = true;
            return known;
        }
        // Pixels per second change little between neighbouring size
        // classes, but a small picture costs more per pixel (each frame has
        // costs of its own, and the encoder's threads find less to share):
        // rates measured two classes away or more are off by several
        // times, and are not borrowed.
        double sum = 0;
        int count = 0;
        const int rank = SizeClassRank(key.sizeClass);
        for (const int neighbour : {rank - 1, rank + 1}) {
            if (rank < 0 || neighbour < 0 ||
                neighbour >= static_cast<int>(std::size(kSizeClasses))) {
                continue;
            }
            RateKey near = key;
            near.sizeClass = kSizeClasses[neighbour];
            const auto entry = rates.find(Name(near));
            if (entry != rates.end()) {
                sum += (*entry)["pixels_per_second"].get<double>();
                ++count;
            }
        }
        known.pixelsPerSecond = count > 0 ? sum / count : 0;
        return known;
    } catch (const std::exception&) {
        return KnownRate();
    }
}

bool RateCache::Record(const RateKey& key, double pixelsPerSecond) const {
    if (file_.empty() || !(pixelsPerSecond > 0) || !(pixelsPerSecond < 1e300)) {
        return false;
    }
    try {
        std::lock_guard<std::mutex> guard(ProcessLock());
        const fs::path target(file_);
        std::error_code error;
        if (target.has_parent_path()) {
            fs::create_directories(target.parent_path(), error);
        }
        const FileLock held = FileLock::Wait(file_ + ".lock");
        if (!held.held()) {
            return false;
        }
        Json rates = Load(file_);
        Json& entry = rates[Name(key)];
        const uint64_t runs = entry.is_object() ? entry["runs"].get<uint64_t>() : 0;
        double rate = pixelsPerSecond;
        if (runs > 0) {
            const double weight = std::max(kLeastWeight, 1.0 / static_cast<double>(runs + 1));
            const double before = entry["pixels_per_second"].get<double>();
            rate = before + weight * (pixelsPerSecond - before);
        }
        entry = Json{{"pixels_per_second", rate}, {"runs", runs + 1}};
        const Json root{{"format", kFormat}, {"rates", rates}};
        return ReplaceFile(file_, root.dump(1) + "\n");
    } catch (const std::exception&) {
        return false;
    }
}

} // namespace norv
