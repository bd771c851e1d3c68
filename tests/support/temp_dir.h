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
    /// path() + "/" + name
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

/// Writes text to a file, replacing it.
void WriteFile(const std::string& path, const std::string& text);
/// Reads a whole file; empty when it cannot be read.
std::string ReadFile(const std::string& path);

} // namespace norv_test
