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

namespace norv {

namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;

constexpr int kFormat = 1;
// A new measurement counts at least this much against the ones before: the
// machine's load changes, so recent runs say most.
constexpr double kLeastWeight = 0.5;

std::string Name(const RateKey& key) {
    return key.encoder + "/" + std::to_string(key.passes) + "/" + key.sizeClass;
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

// The file's rates, or an empty table for a missing or damaged file.
Json Load(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        return Json::object();
    }
    std::stringstream text;
    text << in.rdbuf();
    const Json root = Json::parse(text.str(), nullptr, false);
    if (root.is_discarded() || !root.is_object() || root.value("format", 0) != kFormat ||
        !root.contains("rates") || !root["rates"].is_object()) {
        return Json::object();
    }
    Json rates = Json::object();
    for (const auto& entry : root["rates"].items()) {
        const Json& value = entry.value();
        if (value.is_object() && value.contains("pixels_per_second") &&
            value["pixels_per_second"].is_number() &&
            value["pixels_per_second"].get<double>() > 0) {
            rates[entry.key()] = value;
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

std::mutex& FileLock() {
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
    const Json rates = Load(file_);
    KnownRate known;
    const auto exact = rates.find(Name(key));
    if (exact != rates.end()) {
        known.pixelsPerSecond = (*exact)["pixels_per_second"].get<double>();
        known.exact = true;
        return known;
    }
    // Pixels per second change little between neighbouring size classes,
    // but a small picture costs more per pixel (each frame has costs of its
    // own, and the encoder's threads find less to share): rates measured two
    // classes away or more are off by several times, and are not borrowed.
    double sum = 0;
    int count = 0;
    const int rank = SizeClassRank(key.sizeClass);
    for (const int neighbour : {rank - 1, rank + 1}) {
        if (rank < 0 || neighbour < 0 || neighbour >= static_cast<int>(std::size(kSizeClasses))) {
            continue;
        }
        const auto entry =
            rates.find(Name(RateKey{key.encoder, key.passes, kSizeClasses[neighbour]}));
        if (entry != rates.end()) {
            sum += (*entry)["pixels_per_second"].get<double>();
            ++count;
        }
    }
    known.pixelsPerSecond = count > 0 ? sum / count : 0;
    return known;
}

bool RateCache::Record(const RateKey& key, double pixelsPerSecond) const {
    if (file_.empty() || !(pixelsPerSecond > 0)) {
        return false;
    }
    std::lock_guard<std::mutex> guard(FileLock());
    Json rates = Load(file_);
    Json& entry = rates[Name(key)];
    const int runs = entry.is_object() ? entry.value("runs", 0) : 0;
    double rate = pixelsPerSecond;
    if (runs > 0) {
        const double weight = std::max(kLeastWeight, 1.0 / (runs + 1));
        const double before = entry["pixels_per_second"].get<double>();
        rate = before + weight * (pixelsPerSecond - before);
    }
    entry = Json{{"pixels_per_second", rate}, {"runs", runs + 1}};
    const Json root{{"format", kFormat}, {"rates", rates}};
    return ReplaceFile(file_, root.dump(1) + "\n");
}

} // namespace norv
