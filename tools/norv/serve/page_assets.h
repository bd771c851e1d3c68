// The page norv serve shows: its files, embedded in the binary at build
// time from the page/ folder beside this header (see embed_page.cmake).
#pragma once

#include <cstddef>
#include <string>

namespace norv {

struct PageAsset {
    const char* path; ///< the URL path it answers: "/" for index.html, "/app.js", ...
    const char* type; ///< its Content-Type
    const unsigned char* data;
    size_t size;
};

/// The asset served at path, or null.
const PageAsset* FindPageAsset(const std::string& path);

/// The bytes of every asset together: what a browser loads for the page.
size_t PageWeight();

} // namespace norv
