// Custom presets on real files in a temporary folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "messages/xml.h"
#include "norv/transcoder.h"
#include "output/custom_preset.h"
#include "platform/file_search.h"
#include "platform/text.h"
#if !defined(_WIN32)
#include "support/forked_child.h"
#endif
#include "support/temp_dir.h"

namespace nvt {
namespace {

namespace fs = std::filesystem;
using norv_test::ReadFile;
using norv_test::TempDir;
using norv_test::WriteFile;

CustomPresetData Sample(int64_t creationTime, NorvProfile profile = NP_HD1080) {
    CustomPresetData d(profile);
    d.profileName = "Living room <TV> & \"more\"";
    d.creationTime = creationTime;
    d.fileSizeLimit = 4ull << 30;
    d.enableAspectRatio = false;
    d.resWidth = 1280;
    d.resHeight = 720;
    d.videoBitrate = 3500000;
    d.audioBitrates = {128000, 192000};
    d.enableVideo2passEncoding = true;
    d.audioPassthrough = true;
    d.m_bEnableTrickplayTrack = true;
    d.trickWidth = 320;
    d.trickHeight = 240;
    d.trickVideoBitrate = 100000;
    d.enableHWAcceleration = true;
    d.hwAcceleration = CUDA;
    d.externalSubtitleIndex = 3;
    d.rect = CropRect{1, 2, 3, 4};
    d.prio = prioFilesize;
    d.trackCodecs = {AC_AAC, AC_AC3};
    d.hevcQualityLevel = hevc_ql_better;
    d.wppEnabled = false;
    d.calcQualityMetrics = 2;
    return d;
}

// Owns one reference to a new preset.
nvtl::RefCountedPtr<CustomPreset> NewPreset() {
    return nvtl::RefCountedPtr<CustomPreset>(new CustomPreset());
}

nvtl::RefCountedPtr<ICustomPresetFactory> Factory() {
    ICustomPresetFactory* raw = nullptr;
    EXPECT_EQ(CreateCustomPresetFactory(&raw), SUCCESS);
    nvtl::RefCountedPtr<ICustomPresetFactory> held(raw);
    if (raw != nullptr) {
        raw->Release();
    }
    return held;
}

void ExpectSameRecord(const CustomPresetData& a, const CustomPresetData& b) {
    EXPECT_TRUE(EqualAsSettings(a, b));
    EXPECT_EQ(a.profileID, b.profileID);
    EXPECT_EQ(a.profileName, b.profileName);
}

std::vector<std::string> FolderEntries(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

TEST(CustomPreset, DataMustHoldAProfileAndACreationTime) {
    auto p = NewPreset();
    CustomPresetData out = Sample(5);
    EXPECT_EQ(p->GetData(out), ENG_ERR);
    EXPECT_EQ(out.creationTime, 5); // untouched
    EXPECT_EQ(p->SetData(Sample(0)), InvalidArgument);
    EXPECT_EQ(p->SetData(Sample(1, _NP_count_)), InvalidArgument);
    EXPECT_EQ(p->SetData(Sample(1, static_cast<NorvProfile>(-1))), InvalidArgument);
    EXPECT_EQ(p->Revert(), ENG_ERR);
    EXPECT_FALSE(p->IsModified());

    EXPECT_EQ(p->SetData(Sample(-7, NP_HEVC4K)), SUCCESS); // any non-zero time
    EXPECT_EQ(p->GetData(out), SUCCESS);
    ExpectSameRecord(out, Sample(-7, NP_HEVC4K));
    EXPECT_TRUE(p->IsModified());
}

TEST(CustomPreset, SaveAndLoadRoundTripWithCrLfOnDisk) {
    TempDir dir;
    const std::string file = dir.file("one.preset");
    auto p = NewPreset();
    EXPECT_EQ(p->SaveAs(W(file.c_str())), ENG_ERR); // nothing to save yet
    EXPECT_FALSE(fs::exists(file));

    ASSERT_EQ(p->SetData(Sample(1700000000)), SUCCESS);
    EXPECT_EQ(p->SaveAs(NORV_WTEXT("")), ENG_ERR);
    EXPECT_EQ(p->SaveAs(WideString(1, 0) + NORV_WTEXT("x")), ENG_ERR);
    ASSERT_EQ(p->SaveAs(W(file.c_str())), SUCCESS);
    EXPECT_EQ(p->GetFilePath(), W(file.c_str()));
    EXPECT_FALSE(p->IsModified());

    const std::string onDisk = ReadFile(file);
    std::string xml;
    ASSERT_TRUE(ToXml(Sample(1700000000), xml));
    std::string expected;
    for (char c : xml) {
        if (c == '\n') {
            expected += '\r';
        }
        expected += c;
    }
    EXPECT_EQ(onDisk, expected);
    EXPECT_EQ(onDisk.compare(0, 5, "<?xml"), 0); // no byte-order mark
    for (size_t i = 0; i < onDisk.size(); ++i) {
        if (onDisk[i] == '\n') {
            ASSERT_TRUE(i > 0 && onDisk[i - 1] == '\r') << "bare line feed at " << i;
        }
    }
    EXPECT_EQ(FolderEntries(dir.path()), std::vector<std::string>{"one.preset"});

    auto loaded = NewPreset();
    ASSERT_EQ(loaded->Load(W(file.c_str())), SUCCESS);
    CustomPresetData back;
    ASSERT_EQ(loaded->GetData(back), SUCCESS);
    ExpectSameRecord(back, Sample(1700000000));
    EXPECT_FALSE(loaded->IsModified());
    EXPECT_EQ(loaded->GetFilePath(), W(file.c_str()));
}

TEST(CustomPreset, LineBreaksInsideValuesSurviveTheFileForm) {
    const std::string text = "a\nb\r\nc\rd\r\r\n";
    EXPECT_EQ(TextToStored(text), "a\r\nb\r\r\nc\rd\r\r\r\n");
    EXPECT_EQ(StoredToText(TextToStored(text)), text);

    TempDir dir;
    auto p = NewPreset();
    CustomPresetData d = Sample(9);
    d.profileName = text;
    ASSERT_EQ(p->SetData(d), SUCCESS);
    ASSERT_EQ(p->SaveAs(W(dir.file("n.preset").c_str())), SUCCESS);
    auto loaded = NewPreset();
    ASSERT_EQ(loaded->Load(W(dir.file("n.preset").c_str())), SUCCESS);
    CustomPresetData back;
    ASSERT_EQ(loaded->GetData(back), SUCCESS);
    EXPECT_EQ(back.profileName, text);
}

TEST(CustomPreset, ModifiedIgnoresTheNameAndRevertRestoresTheSavedData) {
    TempDir dir;
    auto p = NewPreset();
    ASSERT_EQ(p->SetData(Sample(100)), SUCCESS);
    ASSERT_EQ(p->SaveAs(W(dir.file("p.preset").c_str())), SUCCESS);

    CustomPresetData renamed = Sample(100);
    renamed.profileName = "Another name";
    ASSERT_EQ(p->SetData(renamed), SUCCESS);
    EXPECT_FALSE(p->IsModified());

    CustomPresetData changed = Sample(100);
    changed.rect.bottom = 99;
    ASSERT_EQ(p->SetData(changed), SUCCESS);
    EXPECT_TRUE(p->IsModified());
    changed = Sample(100);
    changed.trackCodecs.push_back(AC_MP3);
    ASSERT_EQ(p->SetData(changed), SUCCESS);
    EXPECT_TRUE(p->IsModified());

    EXPECT_EQ(p->Revert(), SUCCESS);
    EXPECT_FALSE(p->IsModified());
    CustomPresetData out;
    ASSERT_EQ(p->GetData(out), SUCCESS);
    ExpectSameRecord(out, Sample(100));
}

TEST(CustomPreset, LoadFailuresLeaveThePresetAsItWas) {
    TempDir dir;
    auto p = NewPreset();
    ASSERT_EQ(p->SetData(Sample(42)), SUCCESS);
    ASSERT_EQ(p->SaveAs(W(dir.file("good.preset").c_str())), SUCCESS);
    CustomPresetData changed = Sample(43);
    ASSERT_EQ(p->SetData(changed), SUCCESS);

    WriteFile(dir.file("empty.preset"), "");
    WriteFile(dir.file("zero.preset"), std::string("\0<?xml", 6));
    WriteFile(dir.file("junk.preset"), "not a preset\r\n");
    std::string otherRecord;
    ASSERT_TRUE(TBS::ToXml(TBS::TranscodeResponse(), otherRecord));
    WriteFile(dir.file("other.preset"), otherRecord);
    fs::create_directory(dir.file("folder.preset"));

    EXPECT_EQ(p->Load(NORV_WTEXT("")), InvalidArgument);
    EXPECT_EQ(p->Load(W(dir.file("missing.preset").c_str())), CRTL_FILE_DOES_NOT_EXIST);
    EXPECT_EQ(p->Load(W(dir.file("folder.preset").c_str())), CRTL_FILE_DOES_NOT_EXIST);
    EXPECT_EQ(p->Load(W(dir.file("empty.preset").c_str())), ENG_ERR);
    EXPECT_EQ(p->Load(W(dir.file("zero.preset").c_str())), ENG_ERR);
    EXPECT_EQ(p->Load(W(dir.file("junk.preset").c_str())), ENG_ERR);
    EXPECT_EQ(p->Load(W(dir.file("other.preset").c_str())), ENG_ERR);

    EXPECT_EQ(p->GetFilePath(), W(dir.file("good.preset").c_str()));
    EXPECT_TRUE(p->IsModified());
    CustomPresetData out;
    ASSERT_EQ(p->GetData(out), SUCCESS);
    EXPECT_EQ(out.creationTime, 43);
    EXPECT_EQ(p->Revert(), SUCCESS);
    ASSERT_EQ(p->GetData(out), SUCCESS);
    EXPECT_EQ(out.creationTime, 42);
}

TEST(CustomPreset, AFileWithoutCreationTimeLoadsButHoldsNoData) {
    TempDir dir;
    CustomPresetData d = Sample(0);
    std::string xml;
    ASSERT_TRUE(ToXml(d, xml));
    WriteFile(dir.file("zero.preset"), TextToStored(xml));

    auto p = NewPreset();
    EXPECT_EQ(p->Load(W(dir.file("zero.preset").c_str())), SUCCESS);
    CustomPresetData out;
    EXPECT_EQ(p->GetData(out), ENG_ERR);
    EXPECT_EQ(p->Revert(), ENG_ERR);
    EXPECT_EQ(p->SaveAs(W(dir.file("again.preset").c_str())), ENG_ERR);
}

TEST(CustomPreset, DeleteRemovesTheFileAndKeepsTheData) {
    TempDir dir;
    auto p = NewPreset();
    EXPECT_EQ(p->Delete(), CRTL_FILE_DOES_NOT_EXIST);

    ASSERT_EQ(p->SetData(Sample(5)), SUCCESS);
    const std::string file = dir.file("d.preset");
    ASSERT_EQ(p->SaveAs(W(file.c_str())), SUCCESS);
    EXPECT_EQ(p->Delete(), SUCCESS);
    EXPECT_FALSE(fs::exists(file));
    EXPECT_TRUE(p->GetFilePath().empty());
    EXPECT_EQ(p->Delete(), CRTL_FILE_DOES_NOT_EXIST);
    CustomPresetData out;
    EXPECT_EQ(p->GetData(out), SUCCESS);
    EXPECT_EQ(p->Revert(), SUCCESS);

    // Saved again, then removed behind the preset's back: the path stays.
    ASSERT_EQ(p->SaveAs(W(file.c_str())), SUCCESS);
    fs::remove(file);
    EXPECT_EQ(p->Delete(), ENG_ERR);
    EXPECT_EQ(p->GetFilePath(), W(file.c_str()));
}

TEST(CustomPresetFactory, ListsLoadablePresetsOldestFirst) {
    TempDir dir;
    auto save = [&](const std::string& name, int64_t time) {
        auto p = NewPreset();
        CustomPresetData d = Sample(time);
        d.profileName = name;
        ASSERT_EQ(p->SetData(d), SUCCESS);
        ASSERT_EQ(p->SaveAs(W(dir.file(name).c_str())), SUCCESS);
    };
    save("newest.preset", 3000);
    save("oldest.PRESET", -5);
    save("middle.preset", 2000);
    WriteFile(dir.file("empty.preset"), "");
    WriteFile(dir.file("notes.txt"), "text");
    WriteFile(dir.file("one.preset.12.0.tmp"), "left behind by a crash");
    fs::create_directory(dir.file("sub"));
    save("sub/nested.preset", 1);

    auto factory = Factory();
    ICustomPresetEnum* raw = nullptr;
    ASSERT_EQ(factory->EnumeratePresets(W(dir.path().c_str()), &raw), SUCCESS);
    nvtl::RefCountedPtr<ICustomPresetEnum> list(raw);
    raw->Release();
    ASSERT_EQ(list->GetCount(), 3u);
    const char* order[] = {"oldest.PRESET", "middle.preset", "newest.preset"};
    for (uint32_t i = 0; i < 3; ++i) {
        ICustomPreset* item = nullptr;
        ASSERT_EQ(list->GetItem(i, &item), SUCCESS);
        nvtl::RefCountedPtr<ICustomPreset> held(item);
        item->Release();
        CustomPresetData d;
        ASSERT_EQ(held->GetData(d), SUCCESS);
        EXPECT_EQ(d.profileName, order[i]);
        EXPECT_EQ(held->GetFilePath(), W(dir.file(order[i]).c_str()));
    }
    ICustomPreset* item = reinterpret_cast<ICustomPreset*>(0x1);
    EXPECT_EQ(list->GetItem(3, &item), InvalidArgument);
    EXPECT_EQ(item, nullptr);
    EXPECT_EQ(list->GetItem(0, nullptr), InvalidArgument);

    // The list is a snapshot.
    save("later.preset", 1);
    EXPECT_EQ(list->GetCount(), 3u);
}

TEST(CustomPresetFactory, EqualTimesKeepTheFolderListingOrder) {
    TempDir dir;
    for (int i = 0; i < 8; ++i) {
        auto p = NewPreset();
        CustomPresetData d = Sample(i % 2 == 0 ? 10 : 20);
        d.profileName = std::to_string(i);
        ASSERT_EQ(p->SetData(d), SUCCESS);
        ASSERT_EQ(p->SaveAs(W(dir.file("p" + std::to_string(i) + ".preset").c_str())), SUCCESS);
    }
    std::vector<WideString> listing10, listing20;
    for (const WideString& path :
         FindFilesByExtension(W(dir.path().c_str()), NORV_WTEXT("preset"), false)) {
        const std::string name = fs::path(WideToUtf8(path)).stem().string();
        (std::stoi(name.substr(1)) % 2 == 0 ? listing10 : listing20).push_back(path);
    }
    std::vector<WideString> expected = listing10;
    expected.insert(expected.end(), listing20.begin(), listing20.end());

    ICustomPresetEnum* raw = nullptr;
    ASSERT_EQ(Factory()->EnumeratePresets(W(dir.path().c_str()), &raw), SUCCESS);
    nvtl::RefCountedPtr<ICustomPresetEnum> list(raw);
    raw->Release();
    ASSERT_EQ(list->GetCount(), expected.size());
    for (uint32_t i = 0; i < list->GetCount(); ++i) {
        ICustomPreset* item = nullptr;
        ASSERT_EQ(list->GetItem(i, &item), SUCCESS);
        EXPECT_EQ(item->GetFilePath(), expected[i]) << i;
        item->Release();
    }
}

TEST(CustomPresetFactory, ArgumentChecks) {
    auto factory = Factory();
    ICustomPresetEnum* list = nullptr;
    EXPECT_EQ(factory->EnumeratePresets(NORV_WTEXT(""), &list), InvalidArgument);
    EXPECT_EQ(factory->EnumeratePresets(WideString(1, 0), &list), InvalidArgument);
    EXPECT_EQ(factory->EnumeratePresets(NORV_WTEXT("/tmp"), nullptr), InvalidArgument);
    EXPECT_EQ(factory->CreatePreset(nullptr), InvalidArgument);
    EXPECT_EQ(CreateCustomPresetFactory(nullptr), InvalidArgument);

    ASSERT_EQ(factory->EnumeratePresets(NORV_WTEXT("/nonexistent/folder"), &list), SUCCESS);
    EXPECT_EQ(list->GetCount(), 0u);
    EXPECT_EQ(list->Release(), 0);

    ICustomPreset* preset = nullptr;
    ASSERT_EQ(factory->CreatePreset(&preset), SUCCESS);
    EXPECT_EQ(preset->GetRefCount(), 1);
    EXPECT_TRUE(preset->GetFilePath().empty());
    CustomPresetData d;
    EXPECT_EQ(preset->GetData(d), ENG_ERR);
    EXPECT_EQ(preset->Release(), 0);
}

// A save replaces the contents of the file the path names and nothing else:
// the file keeps its permission bits, a link to it stays a link, and a name
// near the system's length limit can be saved like any other.
TEST(CustomPreset, SaveReplacesOnlyTheContents) {
    TempDir dir;
    auto p = NewPreset();
    ASSERT_EQ(p->SetData(Sample(10)), SUCCESS);

#if !defined(_WIN32) // permission bits and symbolic links are POSIX matters
    const std::string privateFile = dir.file("private.preset");
    ASSERT_EQ(p->SaveAs(W(privateFile.c_str())), SUCCESS);
    fs::permissions(privateFile, fs::perms::owner_read | fs::perms::owner_write);
    ASSERT_EQ(p->SetData(Sample(11)), SUCCESS);
    ASSERT_EQ(p->SaveAs(W(privateFile.c_str())), SUCCESS);
    EXPECT_EQ(fs::status(privateFile).permissions(),
              fs::perms::owner_read | fs::perms::owner_write);

    fs::create_directory(dir.file("store"));
    const std::string real = dir.file("store/real.preset");
    const std::string link = dir.file("link.preset");
    ASSERT_EQ(p->SaveAs(W(real.c_str())), SUCCESS);
    fs::create_symlink(real, link);
    ASSERT_EQ(p->SetData(Sample(12)), SUCCESS);
    ASSERT_EQ(p->SaveAs(W(link.c_str())), SUCCESS);
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(p->GetFilePath(), W(link.c_str()));
    auto viaReal = NewPreset();
    ASSERT_EQ(viaReal->Load(W(real.c_str())), SUCCESS);
    CustomPresetData d;
    ASSERT_EQ(viaReal->GetData(d), SUCCESS);
    EXPECT_EQ(d.creationTime, 12);
    EXPECT_EQ(FolderEntries(dir.file("store")), std::vector<std::string>{"real.preset"});
#endif

    const std::string longName = std::string(248, 'n') + ".preset"; // 255 bytes
    const std::string longFile = dir.file(longName);
    ASSERT_EQ(p->SaveAs(W(longFile.c_str())), SUCCESS);
    auto viaLong = NewPreset();
    ASSERT_EQ(viaLong->Load(W(longFile.c_str())), SUCCESS);
#if defined(_WIN32)
    EXPECT_EQ(FolderEntries(dir.path()), (std::vector<std::string>{longName}));
#else
    EXPECT_EQ(FolderEntries(dir.path()),
              (std::vector<std::string>{"link.preset", longName, "private.preset", "store"}));
#endif
}

// A save that cannot complete must not touch the stored preset or the object.
class FailedSave : public ::testing::Test {
protected:
    void SetUp() override {
        file = dir.file("keep.preset");
        ASSERT_EQ(preset->SetData(Sample(111)), SUCCESS);
        ASSERT_EQ(preset->SaveAs(W(file.c_str())), SUCCESS);
        before = ReadFile(file);
        CustomPresetData next = Sample(222);
        next.profileName = std::string(256 * 1024, 'x'); // large enough to need many writes
        ASSERT_EQ(preset->SetData(next), SUCCESS);
    }

    // The object still points at the old file and still differs from it.
    bool ObjectUnchanged() {
        CustomPresetData current;
        return preset->GetFilePath() == W(file.c_str()) && preset->IsModified() &&
               preset->GetData(current) == SUCCESS && current.creationTime == 222;
    }

    void ExpectOldFileLoadable() {
        EXPECT_EQ(ReadFile(file), before);
        auto check = NewPreset();
        ASSERT_EQ(check->Load(W(file.c_str())), SUCCESS);
        CustomPresetData d;
        ASSERT_EQ(check->GetData(d), SUCCESS);
        EXPECT_EQ(d.creationTime, 111);
    }

    TempDir dir;
    std::string file;
    std::string before;
    nvtl::RefCountedPtr<CustomPreset> preset{new CustomPreset()};
};

TEST_F(FailedSave, IntoAPathWhoseFolderIsAFile) {
    EXPECT_EQ(preset->SaveAs(W((file + "/inner.preset").c_str())), ENG_WRITING_ERROR);
    EXPECT_TRUE(ObjectUnchanged());
    ExpectOldFileLoadable();
}

TEST_F(FailedSave, OverADirectoryLeavesNoTemporaryFile) {
    fs::create_directory(dir.file("taken.preset"));
    WriteFile(dir.file("taken.preset/x"), "occupied");
    EXPECT_EQ(preset->SaveAs(W(dir.file("taken.preset").c_str())), ENG_WRITING_ERROR);
    EXPECT_TRUE(ObjectUnchanged());
    EXPECT_EQ(FolderEntries(dir.path()), (std::vector<std::string>{"keep.preset", "taken.preset"}));
    ExpectOldFileLoadable();
}

#if defined(_WIN32)
// A read-only preset file is not replaced.
TEST_F(FailedSave, OverAReadOnlyFile) {
    fs::permissions(file, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    EXPECT_EQ(preset->SaveAs(W(file.c_str())), ENG_WRITING_ERROR);
    EXPECT_TRUE(ObjectUnchanged());
    fs::permissions(file, fs::perms::owner_write, fs::perm_options::add);
    EXPECT_EQ(FolderEntries(dir.path()), std::vector<std::string>{"keep.preset"});
    ExpectOldFileLoadable();
}
#else
TEST_F(FailedSave, IntoAReadOnlyFolder) {
    fs::permissions(dir.path(), fs::perms::owner_all | fs::perms::group_read |
                                    fs::perms::group_exec | fs::perms::others_read |
                                    fs::perms::others_exec);
    fs::permissions(dir.path(), fs::perms::owner_write, fs::perm_options::remove);
    norv_test::ChildOptions options;
    options.dropRights = true; // root would ignore the folder's permission bits
    const auto outcome = norv_test::RunInChild(
        [&] {
            if (preset->SaveAs(W(file.c_str())) != ENG_WRITING_ERROR) {
                return 1;
            }
            return ObjectUnchanged() ? 0 : 2;
        },
        options);
    fs::permissions(dir.path(), fs::perms::owner_all, fs::perm_options::add);
    ASSERT_TRUE(outcome.exited);
    if (outcome.exitCode == norv_test::kChildCannotDropRights) {
        GTEST_SKIP() << "cannot run as an unprivileged user here";
    }
    EXPECT_EQ(outcome.exitCode, 0);
    EXPECT_EQ(FolderEntries(dir.path()), std::vector<std::string>{"keep.preset"});
    ExpectOldFileLoadable();
}

// A preset file the user may not write is not replaced, even in a folder
// the user may write.
TEST_F(FailedSave, OverAFileTheUserMayNotWrite) {
    fs::permissions(dir.path(), fs::perms::all);
    fs::permissions(file, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    norv_test::ChildOptions options;
    options.dropRights = true; // root would ignore the file's permission bits
    const auto outcome = norv_test::RunInChild(
        [&] {
            if (preset->SaveAs(W(file.c_str())) != ENG_WRITING_ERROR) {
                return 1;
            }
            return ObjectUnchanged() ? 0 : 2;
        },
        options);
    ASSERT_TRUE(outcome.exited);
    if (outcome.exitCode == norv_test::kChildCannotDropRights) {
        GTEST_SKIP() << "cannot run as an unprivileged user here";
    }
    EXPECT_EQ(outcome.exitCode, 0);
    EXPECT_EQ(FolderEntries(dir.path()), std::vector<std::string>{"keep.preset"});
    ExpectOldFileLoadable();
}

TEST_F(FailedSave, KilledMidWriteLeavesTheOldFileLoadable) {
    norv_test::ChildOptions options;
    options.fileSizeLimit = 4096; // the system kills the writer past this size
    const auto outcome = norv_test::RunInChild(
        [&] { return preset->SaveAs(W(file.c_str())) == SUCCESS ? 0 : 1; }, options);
    ASSERT_TRUE(outcome.killedForFileSize)
        << "exited: " << outcome.exited << " code " << outcome.exitCode;
    ExpectOldFileLoadable();
    // The half-written temporary file is never taken for a preset.
    const auto entries = FolderEntries(dir.path());
    EXPECT_EQ(entries.size(), 2u);
    ICustomPresetEnum* raw = nullptr;
    ASSERT_EQ(Factory()->EnumeratePresets(W(dir.path().c_str()), &raw), SUCCESS);
    EXPECT_EQ(raw->GetCount(), 1u);
    raw->Release();

    // The object in this process is untouched and can still save.
    EXPECT_TRUE(ObjectUnchanged());
    EXPECT_EQ(preset->SaveAs(W(file.c_str())), SUCCESS);
    EXPECT_FALSE(preset->IsModified());
}
#endif

} // namespace

} // namespace nvt
