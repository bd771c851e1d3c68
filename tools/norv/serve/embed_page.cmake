# Writes OUTPUT, a C++ source holding every file of PAGE_DIR as a byte array
# and a table of them by URL path, so that norv serve carries its page in the
# binary. Run at build time:
#   cmake -DPAGE_DIR=dir -DOUTPUT=file.cpp -P embed_page.cmake
file(GLOB names RELATIVE ${PAGE_DIR} ${PAGE_DIR}/*)
list(SORT names)

set(arrays "")
set(table "")
set(index 0)
foreach(name IN LISTS names)
    if(IS_DIRECTORY ${PAGE_DIR}/${name})
        continue()
    endif()
    get_filename_component(extension ${name} LAST_EXT)
    if(extension STREQUAL ".html")
        set(type "text/html; charset=utf-8")
    elseif(extension STREQUAL ".css")
        set(type "text/css; charset=utf-8")
    elseif(extension STREQUAL ".js")
        set(type "text/javascript; charset=utf-8")
    elseif(extension STREQUAL ".svg")
        set(type "image/svg+xml")
    else()
        message(FATAL_ERROR "embed_page: no content type for ${name}")
    endif()
    file(READ ${PAGE_DIR}/${name} hex HEX)
    string(LENGTH "${hex}" digits)
    math(EXPR size "${digits} / 2")
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
    string(REGEX REPLACE "((0x..,){20})" "\\1\n    " bytes "${bytes}")
    string(APPEND arrays "// ${name}\nconst unsigned char kFile${index}[] = {\n    ${bytes}0x00};\n\n")
    # The page itself answers at "/".
    set(url "/${name}")
    if(name STREQUAL "index.html")
        set(url "/")
    endif()
    string(APPEND table "    {\"${url}\", \"${type}\", kFile${index}, ${size}},\n")
    math(EXPR index "${index} + 1")
endforeach()

set(text "// Made at build time from tools/norv/serve/page by embed_page.cmake.
#include \"serve/page_assets.h\"

namespace norv {

namespace {

${arrays}const PageAsset kAssets[] = {
${table}};

} // namespace

const PageAsset* FindPageAsset(const std::string& path) {
    for (const PageAsset& asset : kAssets) {
        if (path == asset.path) {
            return &asset;
        }
    }
    return nullptr;
}

size_t PageWeight() {
    size_t total = 0;
    for (const PageAsset& asset : kAssets) {
        total += asset.size;
    }
    return total;
}

} // namespace norv
")
# Rewritten only when it changes, so that an unchanged page compiles nothing.
if(EXISTS ${OUTPUT})
    file(READ ${OUTPUT} previous)
    if(previous STREQUAL text)
        return()
    endif()
endif()
file(WRITE ${OUTPUT} "${text}")
