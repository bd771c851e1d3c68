// A temporary folder for one test, removed with everything in it.
#pragma once

#include <string>

namespace norv_test {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    /// path(), the system's separator ('/', on Windows '\\') and name.
    std::string file(const std::string& name) const { return path_ + kSeparator + name; }

#if defined(_WIN32)
    static constexpr char kSeparator = '\\';
#else
    static constexpr char kSeparator = '/';
#endif

private:
    std::string path_;
};

/// Writes text to a file, replacing it.
void WriteFile(const std::string& path, const std::string& text);
/// Reads a whole file; empty when it cannot be read.
std::string ReadFile(const std::string& path);

} // namespace norv_test
