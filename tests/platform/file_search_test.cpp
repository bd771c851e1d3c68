#include "platform/file_search.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "platform/text.h"
#include "support/temp_dir.h"

namespace {

using norv_test::TempDir;
using norv_test::WriteFile;
using nvt::FindFilesByExtension;
using nvt::Utf8ToWide;
using nvt::WideString;

// Paths with '/' as their only separator, sorted: results and expectations
// compare alike on every system.
std::vector<std::string> Slashed(std::vector<std::string> paths) {
    for (std::string& path : paths) {
        std::replace(path.begin(), path.end(), '\\', '/');
    }
    std::sort(paths.begin(), paths.end());
    return paths;
}

std::vector<std::string> Sorted(const std::vector<WideString>& found) {
    std::vector<std::string> names;
    for (const WideString& w : found) {
        names.push_back(nvt::WideToUtf8(w));
    }
    return Slashed(names);
}

TEST(FindFilesByExtension, MatchesExtensionCaseInsensitively) {
    TempDir dir;
    for (const char* name : {"a.preset", "b.PRESET", "c.txt", "d", "e.Preset.bak"}) {
        WriteFile(dir.file(name), "x");
    }
    const auto found = FindFilesByExtension(Utf8ToWide(dir.path()), NORV_WTEXT("preset"), false);
    EXPECT_EQ(Sorted(found), Slashed({dir.file("a.preset"), dir.file("b.PRESET")}));
}

TEST(FindFilesByExtension, NonRecursiveTreatsFoldersLikeFiles) {
    TempDir dir;
    std::filesystem::create_directory(dir.file("x.preset"));
    std::filesystem::create_directory(dir.file("sub"));
    WriteFile(dir.file("sub/inner.preset"), "x");
    WriteFile(dir.file("top.preset"), "x");

    EXPECT_EQ(Sorted(FindFilesByExtension(Utf8ToWide(dir.path()), NORV_WTEXT("preset"), false)),
              Slashed({dir.file("top.preset"), dir.file("x.preset")}));
    EXPECT_EQ(Sorted(FindFilesByExtension(Utf8ToWide(dir.path()), NORV_WTEXT("preset"), true)),
              Slashed({dir.file("sub/inner.preset"), dir.file("top.preset")}));
}

TEST(FindFilesByExtension, BackslashesAndMissingSeparatorAreNormalised) {
    TempDir dir;
    WriteFile(dir.file("one.preset"), "x");
    std::string backslashed = dir.path();
    std::replace(backslashed.begin(), backslashed.end(), '/', '\\');
    const auto found = FindFilesByExtension(Utf8ToWide(backslashed), NORV_WTEXT("preset"), false);
    EXPECT_EQ(Sorted(found), Slashed({dir.file("one.preset")}));
    const auto withSlash =
        FindFilesByExtension(Utf8ToWide(dir.path() + "/"), NORV_WTEXT("preset"), false);
    EXPECT_EQ(Sorted(withSlash), Slashed({dir.file("one.preset")}));
}

TEST(FindFilesByExtension, ExtensionListSplitting) {
    TempDir dir;
    for (const char* name : {"a.x", "b.y", "c.z", "d."}) {
        WriteFile(dir.file(name), "x");
    }
    const WideString folder = Utf8ToWide(dir.path());
    EXPECT_EQ(Sorted(FindFilesByExtension(folder, NORV_WTEXT("x,,y"), false)),
              Slashed({dir.file("a.x"), dir.file("b.y")}));
    // An empty item matches nothing: names ending in a dot are skipped.
    EXPECT_EQ(Sorted(FindFilesByExtension(folder, NORV_WTEXT("z,"), false)),
              Slashed({dir.file("c.z")}));
    EXPECT_TRUE(FindFilesByExtension(folder, NORV_WTEXT(""), false).empty());
}

TEST(FindFilesByExtension, SkipsNamesThatAreNotUtf8AndMissingFolders) {
    TempDir dir;
#if !defined(_WIN32) // Windows names are always wide text
    WriteFile(dir.file("bad\xff.preset"), "x");
#endif
    WriteFile(dir.file("good.preset"), "x");
    EXPECT_EQ(Sorted(FindFilesByExtension(Utf8ToWide(dir.path()), NORV_WTEXT("preset"), false)),
              Slashed({dir.file("good.preset")}));
    EXPECT_TRUE(
        FindFilesByExtension(Utf8ToWide(dir.file("missing")), NORV_WTEXT("preset"), false).empty());
}

TEST(DeleteFileAt, RemovesFilesOnly) {
    TempDir dir;
    WriteFile(dir.file("gone.preset"), "x");
    EXPECT_TRUE(nvt::DeleteFileAt(Utf8ToWide(dir.file("gone.preset"))));
    EXPECT_FALSE(std::filesystem::exists(dir.file("gone.preset")));
    EXPECT_FALSE(nvt::DeleteFileAt(Utf8ToWide(dir.file("gone.preset"))));
    EXPECT_FALSE(nvt::DeleteFileAt(NORV_WTEXT("")));
}

} // namespace
