// Small helpers shared by the fuzz targets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

#include "platform/process.h"

namespace norv_fuzz {

/// A folder of this process's own for the files a target writes, under the
/// system's temporary folder (TMPDIR); removed with its contents when the
/// process ends normally.
class WorkDir {
public:
    static const std::string& Path() {
        static WorkDir dir;
        return dir.path_;
    }

private:
    WorkDir() {
        const auto base = std::filesystem::temp_directory_path();
        path_ = (base / ("norv-fuzz-" + std::to_string(NorvOS::CurrentProcessId()))).string();
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
        if (!std::filesystem::create_directories(path_, ignored)) {
            std::abort();
        }
    }
    ~WorkDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }

    std::string path_;
};

/// Writes size bytes to path, replacing it; aborts when it cannot.
inline void WriteBytes(const std::string& path, const uint8_t* data, size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (!out) {
        std::abort();
    }
}

/// A finding of a property check: libFuzzer reports the abort with the input.
#define NORV_FUZZ_CHECK(condition)                                                                 \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::abort();                                                                          \
        }                                                                                          \
    } while (false)

} // namespace norv_fuzz
