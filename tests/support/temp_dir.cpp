#include "support/temp_dir.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace norv_test {

TempDir::TempDir() {
    namespace fs = std::filesystem;
    std::random_device rd;
    const fs::path base = fs::temp_directory_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
        fs::path candidate = base / ("norv-test-" + std::to_string(rd()));
        std::error_code ec;
        if (fs::create_directory(candidate, ec)) {
            path_ = candidate.string();
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary folder");
}

#if defined(_WIN32)
namespace {

// Removes what it can of a tree; false when something stays. The C++
// library's remove_all can loop without end on Windows when an entry is
// in use, so each entry is removed on its own.
bool RemoveTree(const std::filesystem::path& path) {
    namespace fs = std::filesystem;
    std::error_code ec;
    if (fs::is_directory(fs::symlink_status(path, ec))) {
        for (fs::directory_iterator it(path, ec), end; !ec && it != end; it.increment(ec)) {
            RemoveTree(it->path());
        }
    }
    return fs::remove(path, ec) || !fs::exists(fs::symlink_status(path, ec));
}

} // namespace
#endif

TempDir::~TempDir() {
#if defined(_WIN32)
    // A program the test started may hold a file a moment longer.
    for (int attempt = 0; attempt < 100 && !RemoveTree(path_); ++attempt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
#else
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
#endif
}

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace norv_test
