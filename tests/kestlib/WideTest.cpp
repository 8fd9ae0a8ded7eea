// Wide file members: the narrow twins on the locale's form of each path, and
// never on a path the locale cannot represent.
#include <gtest/gtest.h>

#include <cstdlib>

#include "KestLib/KestInternal.h"
#include "KestLib/KestLib.h"
#include "tests/kestlib/TestUtil.h"
#include "tests/support/TempDir.h"

using namespace KestLib;

namespace {

using WPaths = std::vector<std::wstring>;

TEST(WideMembers, NonAsciiNamesUnderUtf8) {
    TempDir tmp;
    LocaleGuard locale("C.UTF-8");
    const std::wstring base = StrCA2W(tmp.path());
    const std::wstring dir = base + L"/Ünïcødé 目录";
    const std::wstring file = dir + L"/файл.txt";

    EXPECT_TRUE(FileEnsureDirExistW(dir + L"/"));
    EXPECT_TRUE(IsDir(tmp.path() + "/Ünïcødé 目录"));
    EXPECT_TRUE(PathExistW(dir));
    EXPECT_TRUE(FileIsDirEmptyW(dir));

    const std::string data = "données";
    EXPECT_TRUE(FileWriteBufW(file, data.data(), static_cast<int>(data.size())));
    EXPECT_EQ(ReadFileBytes(tmp.path() + "/Ünïcødé 目录/файл.txt"), data);
    EXPECT_EQ(FileGetFileSizeW(file), static_cast<long long>(data.size()));
    EXPECT_EQ(FileGetDirSizeW(dir), static_cast<long long>(data.size()));
    EXPECT_FALSE(FileIsDirEmptyW(dir));
    int size = 0;
    char* buf = static_cast<char*>(FileReadBufW(file, &size));
    ASSERT_NE(buf, nullptr);
    EXPECT_EQ(std::string(buf, static_cast<size_t>(size)), data);
    std::free(buf);
    FILE* f = FileOpenW(file, L"rb");
    ASSERT_NE(f, nullptr);
    std::fclose(f);

    WPaths files = {L"already"}, dirs;
    EXPECT_TRUE(FileGetDirFileListW(dir, files));
    EXPECT_EQ(files, (WPaths{L"already", file}));
    EXPECT_TRUE(FileGetDirListW(base, dirs));
    EXPECT_EQ(dirs, WPaths{dir});
    WPaths walkFiles, walkDirs;
    long long total = 0;
    EXPECT_TRUE(FileGetDirInfoW(base, walkFiles, walkDirs, total, true));
    EXPECT_EQ(walkFiles, WPaths{file});
    EXPECT_EQ(walkDirs, WPaths{dir});

    EXPECT_TRUE(FileCopyFileW(file, dir + L"/копия", false));
    EXPECT_EQ(ReadFileBytes(tmp.path() + "/Ünïcødé 目录/копия"), data);
    EXPECT_TRUE(FileDeleteFileW(dir + L"/копия"));
    EXPECT_EQ(FileCopyDirW(dir, base + L"/çopy", nullptr), 0);
    EXPECT_EQ(ReadFileBytes(tmp.path() + "/çopy/файл.txt"), data);
    EXPECT_TRUE(FileRenameDirW(base + L"/çopy", base + L"/mövéd"));
    EXPECT_EQ(ReadFileBytes(tmp.path() + "/mövéd/файл.txt"), data);
    EXPECT_TRUE(FileDeleteDirW(base + L"/mövéd"));
    EXPECT_TRUE(FileDeleteDirW(dir));
    EXPECT_TRUE(ListNames(tmp.path()).empty());
}

TEST(WideMembers, UnrepresentablePathsAreNeverActedOn) {
    // Under "C" the non-ASCII name does not convert; a conversion cut at it
    // would name the parent directory.
    TempDir tmp;
    ASSERT_TRUE(FileEnsureDirExistA(tmp.path() + "/keep/é"));
    ASSERT_TRUE(WriteFileBytes(tmp.path() + "/keep/file", "keep"));
    LocaleGuard locale("C");
    const std::wstring keep = StrCA2W(tmp.path()) + L"/keep";
    const std::wstring bad = keep + L"/é";
    const std::wstring withNul = keep + std::wstring(L"\0/x", 3);
    for (const auto& path : {bad, withNul}) {
        EXPECT_FALSE(FileDeleteDirW(path));
        EXPECT_FALSE(FileRenameDirW(path, keep + L"2"));
        EXPECT_FALSE(FileRenameDirW(keep, path));
        EXPECT_EQ(FileCopyDirW(keep, path, nullptr), 0);
        EXPECT_FALSE(FileDeleteFileW(path));
        EXPECT_FALSE(FileWriteBufW(path, "x", 1));
        EXPECT_FALSE(FileCopyFileW(keep + L"/file", path, true));
        EXPECT_FALSE(PathExistW(path));
        EXPECT_FALSE(FileEnsureDirExistW(path));
        EXPECT_EQ(FileReadBufW(path, nullptr), nullptr);
        EXPECT_EQ(FileOpenW(path, L"rb"), nullptr);
        EXPECT_EQ(FileGetDirSizeW(path), 0);
        EXPECT_TRUE(FileIsDirEmptyW(path));
    }
    EXPECT_EQ(ListNames(tmp.path()), std::vector<std::string>{"keep"});
    EXPECT_EQ(ListNames(tmp.path() + "/keep"), (std::vector<std::string>{"file", "é"}));
    EXPECT_EQ(ReadFileBytes(tmp.path() + "/keep/file"), "keep");
}

TEST(WideMembers, ListedNamesTheLocaleCannotReadAreLeftOut) {
    TempDir tmp;
    ASSERT_TRUE(WriteFileBytes(tmp.file("ok"), "1"));
    ASSERT_TRUE(WriteFileBytes(tmp.file("bad\xff"), "22"));  // not UTF-8
    LocaleGuard locale("C.UTF-8");
    WPaths files;
    EXPECT_TRUE(FileGetDirFileListW(StrCA2W(tmp.path()), files));
    EXPECT_EQ(files, WPaths{StrCA2W(tmp.file("ok"))});
    EXPECT_EQ(FileGetDirSizeW(StrCA2W(tmp.path())), 3);  // every file still counts
}

}  // namespace
