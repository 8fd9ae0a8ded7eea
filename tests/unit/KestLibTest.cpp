// KestLib: paths, strings, files and directory trees. Normalising, the
// pieces and joins of paths, splitting at a literal delimiter, trimming and
// markers are fuzz_kestlib's: it holds them, narrow and wide, to a reference
// of their rules over its corpus (the edge cases of each are entries there).
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <numeric>
#include <regex>

#include "KestLib/KestInternal.h"
#include "KestLib/KestLib.h"
#include "tests/support/TempDir.h"
#include "tests/unit/UnitSupport.h"

using namespace KestLib;
namespace fs = std::filesystem;
using unit::LocaleGuard;
using unit::Widen;

namespace {

using Strings = std::vector<std::string>;
using WStrings = std::vector<std::wstring>;

bool IsDir(const std::string& path) {
    return fs::is_directory(fs::symlink_status(path));
}

Strings ListNames(const std::string& dir) {
    Strings names;
    for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

struct CwdGuard {
    explicit CwdGuard(const std::string& dir) : saved(fs::current_path()) { fs::current_path(dir); }
    ~CwdGuard() { fs::current_path(saved); }
    const fs::path saved;
};

TEST(KestPath, ExistenceAndPlatformStubs) {
    TempDir tmp;
    ASSERT_TRUE(WriteFileBytes(tmp.file("f"), "x"));
    ASSERT_EQ(symlink("f", tmp.file("good").c_str()), 0);
    ASSERT_EQ(symlink("missing", tmp.file("dangling").c_str()), 0);
    EXPECT_TRUE(PathExistA(tmp.path() + "\\f") && PathExistA(tmp.path() + "///f"));
    EXPECT_TRUE(PathExistA(tmp.file("good")) && PathExistW(Widen(tmp.path() + "\\f")));
    EXPECT_FALSE(PathExistA(tmp.file("dangling")) || PathExistA(tmp.file("missing")) ||
                 PathExistA(""));
    EXPECT_EQ(PathGetDefaultSeparatorA() + StrCW2A(PathGetDefaultSeparatorW()), "//");
    EXPECT_EQ(PathGetExeDirA() + StrCW2A(PathGetExeDirW()), "");  // this program is in no bundle
    // Nothing to report on this platform: 0, arguments unchanged.
    std::string path = "/p";
    Strings list = {"keep"};
    EXPECT_EQ(PathGetMaximumFreeSpaceDiskA(path) | PathGetAllDriverPathA(list) |
                  PathGetDriverByteSizeA("/"),
              0);
    EXPECT_TRUE(path == "/p" && list == Strings{"keep"});
}

TEST(KestString, FormatCompareReplaceSplitAndTest) {
    const std::string big(5000, 'x');
    EXPECT_EQ(StrFormatA(nullptr) + StrFormatA("%s%s%s", "a", "/", "b"), "a/b");
    EXPECT_EQ(StrFormatA("%s", big.c_str()), big.substr(0, 4096));  // 4096 at most
    EXPECT_EQ(StrFormatA("%s!", big.substr(0, 4095).c_str()), big.substr(0, 4095) + "!");
    EXPECT_EQ(StrFormatW(L"%ls=%d", L"n", 5) + StrFormatW(nullptr), L"n=5");

    EXPECT_EQ(StrCompareNoCaseA("abc", "ABC") | StrCompareNoCaseW(L"MiXeD", L"mixed"), 0);
    EXPECT_TRUE(StrCompareNoCaseA("ab", "ABC") < 0 && StrCompareNoCaseW(L"a", L"B") < 0);
    EXPECT_TRUE(StrCompareNoCaseA("b", "A") > 0 && StrCompareNoCaseA("\x80", "z") > 0);  // unsigned

    const char* const replaces[][4] = {{"abcabc", "b", "", "acac"},  {"aaa", "a", "aa", "aaaaaa"},
                                       {"///", "//", "/", "//"},     {"////", "//", "/", "//"},
                                       {"xyz", "xyz", "xyz", "xyz"}, {"abc", "", "-", "abc"}};
    for (const auto& c : replaces) {
        std::string text = c[0];
        StrReplaceAllA(text, c[1], c[2]);
        EXPECT_EQ(text, c[3]) << c[0] << " / " << c[1];
    }

    // The delimiter is an expression (literal ones are fuzz_kestlib's).
    Strings pieces;
    StrSplitA("a.b", ".", pieces);
    StrSplitA("a.b", "\\.", pieces);
    EXPECT_EQ(pieces, (Strings{"", "", "", "a", "b"}));
    Strings kept = {"kept"};
    EXPECT_THROW(StrSplitA("a(b", "(", kept), std::regex_error);
    EXPECT_EQ(kept, Strings{"kept"});
    StrSplitA("axxbxc", "x*", kept);  // matches empty text, and still ends
    EXPECT_EQ(std::accumulate(kept.begin(), kept.end(), std::string()), "keptabc");

    // Trimming and markers are fuzz_kestlib's; an empty end marker finds nothing.
    EXPECT_EQ(StrGetMidStrA("key=[ v ];", "[", "", 0), "");
    EXPECT_TRUE(StrIsNumA("0123") && StrIsNumW(L"0123"));
    for (const char* s : {"", "-1", "1.5", " 1", "+2", "\xd9\xa3", "12a"})
        EXPECT_FALSE(StrIsNumA(s) || StrIsNumW(Widen(s))) << s;
    std::string empty, ends = "a/", plain = "a";
    for (std::string* text : {&empty, &ends, &plain}) StrEnsureLastCharExistA(*text, '/');
    EXPECT_EQ(empty + "|" + ends + "|" + plain, "/|a/|a/");
    std::wstring w = L"x";
    for (int i = 0; i < 2; ++i) StrEnsureLastCharExistW(w, '\xe9');  // widened as unsigned
    EXPECT_EQ(w, L"x\u00e9");
}

TEST(KestString, Conversions) {
    EXPECT_EQ(StrCA2W("") + StrCA2W(std::string("ab\0cd", 5)), L"ab");
    EXPECT_EQ(StrCW2A(L"") + StrCW2A(std::wstring(L"ab\0cd", 5)), "ab");
    {
        LocaleGuard locale("C");
        EXPECT_EQ(StrCW2A(L"ab\u00e9cd") + StrCW2A(L"x"), "abx");
        EXPECT_EQ(StrCA2W("ab\xc3\xa9"), L"ab");
    }
    LocaleGuard locale("C.UTF-8");
    EXPECT_EQ(StrCW2A(L"caf\u00e9 !"), "caf\xc3\xa9 !");  // six characters, seven bytes
    const std::string mixed = "Gr\xc3\xbc\xc3\x9f \xe7\x9b\xae \xf0\x9f\x98\x80";
    EXPECT_EQ(StrCA2W(mixed), L"Gr\u00fc\u00df \u76ee \U0001F600");
    EXPECT_EQ(StrCW2A(StrCA2W(mixed)), mixed);
    EXPECT_EQ(StrCA2W("ok\xff!") + StrCA2W("ok\xe7\x9b"), L"okok");       // invalid, cut short
    EXPECT_EQ(StrCW2A(std::wstring(2000, L'\U0001F600')).size(), 8000u);  // four bytes each
    LocaleGuard c("C");  // the UTF-8 members ignore the locale
    EXPECT_EQ(StrUtf8ToStringW(mixed + "\xc0\x80"), L"Gr\u00fc\u00df \u76ee \U0001F600");
    EXPECT_EQ(StrToUtf8W(L"Gr\u00fc\u00df \u76ee \U0001F600"), mixed);
    EXPECT_EQ(StrUtf8ToStringA("\xff") + StrToUtf8A("\xfe"), "\xff\xfe");
}

TEST(KestFile, DirectoryChains) {
    TempDir tmp;
    ASSERT_TRUE(WriteFileBytes(tmp.file("file"), "x"));
    const mode_t old_mask = umask(022);
    EXPECT_TRUE(FileEnsureDirExistA(tmp.path() + "/a/b/c/"));
    umask(old_mask);
    EXPECT_EQ(fs::status(tmp.file("a/b/c")).permissions(), fs::perms(0755));
    EXPECT_TRUE(FileEnsureDirExistA(tmp.path() + "\\x\\\\y") && IsDir(tmp.file("x/y")));
    EXPECT_TRUE(FileEnsureDirExistA("/") && FileEnsureDirExistA(tmp.file("file")));
    EXPECT_FALSE(FileEnsureDirExistA("") || FileEnsureDirExistA(tmp.file("file/sub")));
    EXPECT_EQ(ListNames(tmp.path()), (Strings{"a", "file", "x"}));
}

// The walk as readdir and lstat see the tree: subdirectory contents in
// place, every entry in readdir order, links as files of their own size.
void ReferenceWalk(const std::string& dir, Strings& files, long long& total) {
    DIR* d = opendir(dir.c_str());
    while (const dirent* e = d ? readdir(d) : nullptr) {
        const std::string name = e->d_name, full = dir + "/" + name;
        struct stat st;
        if (name == "." || name == ".." || lstat(full.c_str(), &st) != 0) continue;
        if (S_ISDIR(st.st_mode)) ReferenceWalk(full, files, total);
        if (!S_ISDIR(st.st_mode)) files.push_back(full);
        if (!S_ISDIR(st.st_mode)) total += st.st_size;
    }
    if (d) closedir(d);
}

TEST(KestFile, WalksListsAndSizes) {
    TempDir tmp;
    const std::string root = tmp.file("root");
    ASSERT_TRUE(FileEnsureDirExistA(root + "/sub/empty"));
    ASSERT_TRUE(WriteFileBytes(root + "/sub/inner", "12345"));
    ASSERT_EQ(symlink("sub", (root + "/link").c_str()), 0);
    ASSERT_EQ(symlink("nowhere-at-all", (root + "/dangling").c_str()), 0);
    Strings expected;
    long long expected_total = 0;
    for (int i = 0; i < 200; ++i) {  // until readdir yields files before and after sub
        ASSERT_TRUE(WriteFileBytes(root + "/f" + std::to_string(i), std::string(i + 1, 'x')));
        expected = {"kept"};
        expected_total = 0;
        ReferenceWalk(root, expected, expected_total);
        const auto inner = std::find(expected.begin(), expected.end(), root + "/sub/inner");
        if (inner != expected.begin() + 1 && inner + 1 != expected.end()) break;
    }
    Strings files = {"kept"}, dirs, listed = {"kept"};
    long long total = 0;
    EXPECT_TRUE(FileGetDirInfoA(root + "/", files, dirs, total, true));
    EXPECT_EQ(files, expected);
    EXPECT_EQ(dirs, (Strings{root + "/sub", root + "/sub/empty"}));
    EXPECT_EQ(total, expected_total);
    EXPECT_EQ(FileGetDirSizeA(root), expected_total);
    EXPECT_TRUE(FileGetDirFileListA(root, listed));
    EXPECT_EQ(listed, expected);
    dirs.clear();
    EXPECT_TRUE(FileGetDirListA(root, dirs));
    EXPECT_EQ(dirs, Strings{root + "/sub"});  // not the link to sub
    files.clear();
    EXPECT_TRUE(FileGetDirInfoA(root, files, dirs, total, false));
    EXPECT_EQ(std::count(files.begin(), files.end(), root + "/sub/inner"), 0);
    EXPECT_FALSE(FileIsDirEmptyA(root + "/sub"));
    EXPECT_TRUE(FileIsDirEmptyA(root + "/sub/empty") && FileIsDirEmptyA(root + "/missing") &&
                FileIsDirEmptyA(root + "/f0"));

    files = dirs = {"kept"};
    total = 7;
    EXPECT_FALSE(FileGetDirInfoA(root + "/f0", files, dirs, total, true) ||
                 FileGetDirFileListA(root + "/missing", files) ||
                 FileGetDirListA(root + "/f0", dirs));
    EXPECT_TRUE(files == Strings{"kept"} && dirs == files && total == 7);
    EXPECT_EQ(FileGetDirSizeA(root + "/missing") + FileGetDirSizeA(root + "/f0"), 0);

    // A name holding a backslash is walked as found: "x\.." normalised
    // would walk the directory itself again.
    ASSERT_EQ(mkdir(tmp.file("b").c_str(), 0755) | mkdir(tmp.file("b/x\\..").c_str(), 0755), 0);
    ASSERT_TRUE(WriteFileBytes(tmp.file("b/x\\../f"), "1234"));
    files.clear();
    EXPECT_TRUE(FileGetDirFileListA(tmp.file("b"), files));
    EXPECT_EQ(files, Strings{tmp.file("b/x\\../f")});
    // '/' keeps its separator and another is added.
    dirs.clear();
    ASSERT_TRUE(FileGetDirListA("/", dirs));
    for (const auto& d : dirs) EXPECT_TRUE(d.compare(0, 2, "//") == 0 && d[2] != '/') << d;
}

TEST(KestFile, FilesWholeAndCopied) {
    TempDir tmp;
    const std::string ten = "0123" + std::string(1, '\0') + "56789";
    ASSERT_TRUE(FileWriteBufA(tmp.path() + "\\ten", ten.data(), 10));
    int size = -1;
    std::unique_ptr<char, decltype(&std::free)> buf(
        static_cast<char*>(FileReadBufA(tmp.path() + "\\ten", &size)), std::free);
    ASSERT_TRUE(buf);
    EXPECT_EQ(std::string(buf.get(), 11) + std::to_string(size), ten + '\0' + "10");
    EXPECT_EQ(FileGetFileSizeA(tmp.file("ten")) + FileGetFileSizeA(tmp.path() + "\\ten"), 10);
    ASSERT_TRUE(FileWriteBufA(tmp.file("empty"), "xyz", 0));
    size = 77;
    EXPECT_TRUE(FileReadBufA(tmp.file("empty"), &size) == nullptr &&
                FileReadBufA(tmp.file("missing"), &size) == nullptr &&
                FileReadBufImp(nullptr, &size) == nullptr && size == 77);
    for (const char* name : {"ten", "empty"}) {  // the stream is closed whatever the outcome
        FILE* f = std::fopen(tmp.file(name).c_str(), "rb");
        const int fd = fileno(f);
        std::free(FileReadBufImp(f, nullptr));
        EXPECT_TRUE(fcntl(fd, F_GETFD) == -1 && errno == EBADF) << name;
    }
    EXPECT_FALSE(FileWriteBufA(tmp.file("ten"), "x", -1) ||
                 FileWriteBufA(tmp.file("ten") + std::string("\0tail", 5), "x", 1) ||
                 FileWriteBufA(tmp.file("no/dir/f"), "x", 1));
    EXPECT_EQ(ReadFileBytes(tmp.file("ten")), ten);

    std::string data(3 * 4096 + 17, '\0');  // several copy chunks and a tail
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 131 + 7);
    ASSERT_TRUE(WriteFileBytes(tmp.file("src"), data));
    EXPECT_TRUE(FileCopyFileA(tmp.file("src"), tmp.path() + "\\ten", false));
    EXPECT_EQ(ReadFileBytes(tmp.file("ten")), data);
    ASSERT_EQ(mkdir(tmp.file("dir").c_str(), 0755), 0);
    for (const std::string& src : {tmp.file("missing"), tmp.file("dir"), tmp.path() + "//ten"})
        EXPECT_TRUE(FileCopyFileA(src, tmp.file("ten"), true)) << src;  // no readable source
    EXPECT_EQ(ReadFileBytes(tmp.file("ten")), data);

    ASSERT_TRUE(WriteFileBytes(tmp.file("dir/g"), "x"));
    EXPECT_FALSE(FileDeleteFileA(tmp.file("dir")) || FileDeleteFileA(tmp.file("missing")));
    EXPECT_TRUE(FileDeleteFileA(tmp.path() + "\\dir\\g") && FileDeleteFileA(tmp.file("dir")));
    EXPECT_EQ(FileOpenA(tmp.file("missing"), "rb"), nullptr);
    FILE* f = FileOpenA(tmp.file("new\\f"), "wb");  // not normalised: a backslash in the name
    ASSERT_NE(f, nullptr);
    std::fclose(f);
    EXPECT_EQ(ListNames(tmp.path()), (Strings{"empty", "new\\f", "src", "ten"}));
}

TEST(KestFile, TreeOperationsActOnExactlyTheNamedPaths) {
    TempDir tmp;
    const std::string work = tmp.file("work");
    ASSERT_TRUE(FileEnsureDirExistA(work + "/keep"));
    CwdGuard cwd(tmp.path());  // whatever a shell ran would land here
    // Names a shell would expand, split or run, or the tools take as options.
    for (const std::string name : {"tree", "a b", "$(touch pwned)", "`touch pwned`", "-rf", "*",
                                   "x\"; touch pwned; echo \"", "line\nbreak", "it's", "--help"}) {
        const std::string root = work + "/" + name;
        ASSERT_TRUE(FileEnsureDirExistA(root + "/inner")) << name;
        ASSERT_TRUE(WriteFileBytes(root + "/inner/file", name));
        EXPECT_EQ(FileCopyDirA(root + "/", tmp.file("copy/"), nullptr), 0) << name;
        EXPECT_EQ(FileCopyDirA(root, tmp.file("copy"), nullptr), 0);  // exists now: goes inside
        EXPECT_EQ(ReadFileBytes(tmp.file("copy/" + name + "/inner/file")), name);
        EXPECT_TRUE(FileRenameDirA("copy/", name)) << name;  // relative: may look like an option
        EXPECT_EQ(ReadFileBytes(tmp.file(name + "/inner/file")), name);
        EXPECT_TRUE(FileDeleteDirA(name) && FileDeleteDirA(work + "\\" + name)) << name;
        EXPECT_EQ(ListNames(work), Strings{"keep"}) << name;
        EXPECT_EQ(ListNames(tmp.path()), Strings{"work"}) << name;
    }
    EXPECT_TRUE(FileDeleteDirA(work + "/never-existed"));
    EXPECT_FALSE(FileRenameDirA(work + "/missing", tmp.file("nowhere")));
    EXPECT_TRUE(FileRenameDirA(work + "/missing", work + "/keep"));  // existed before
    const std::string with_nul = work + std::string("\0/keep", 6);   // would reach rm as work
    EXPECT_FALSE(FileDeleteDirA(with_nul) || FileRenameDirA(with_nul, tmp.file("moved")));
    EXPECT_EQ(FileCopyDirA(with_nul, tmp.file("copy"), nullptr), 0);
    EXPECT_TRUE(FileEnsureDirExistA("rel/sub") && IsDir(tmp.file("rel/sub")));  // from the cwd
    EXPECT_EQ(ListNames(tmp.path()), (Strings{"rel", "work"}));
    EXPECT_TRUE(IsDir(work + "/keep"));
}

TEST(KestFile, WideMembersUseTheLocalesFormOfEachPath) {
    TempDir tmp;
    LocaleGuard locale("C.UTF-8");
    const std::wstring base = StrCA2W(tmp.path()),
                       dir = base + L"/\u00dcn\u00efc\u00f8d\u00e9 \u76ee";
    const std::wstring file = dir + L"/\u0444\u0430\u0439\u043b";
    const std::string data = "donn\u00e9es", narrow_file = StrCW2A(file);
    EXPECT_TRUE(FileEnsureDirExistW(dir + L"/") && FileIsDirEmptyW(dir));
    EXPECT_TRUE(FileWriteBufW(file, data.data(), 8));
    EXPECT_EQ(ReadFileBytes(narrow_file), data);
    int size = 0;
    std::free(FileReadBufW(file, &size));
    EXPECT_EQ(FileGetFileSizeW(file) + FileGetDirSizeW(base) + size, 24);
    ASSERT_TRUE(WriteFileBytes(tmp.file("bad\xff"), "22"));  // no UTF-8: left out of lists
    WStrings files = {L"kept"}, dirs;
    EXPECT_TRUE(FileGetDirFileListW(base, files) && FileGetDirListW(base, dirs));
    EXPECT_EQ(files, (WStrings{L"kept", file}));
    EXPECT_EQ(dirs, WStrings{dir});
    EXPECT_EQ(FileGetDirSizeW(base), 10);  // every file still counts
    EXPECT_TRUE(FileCopyFileW(file, dir + L"/c", false) && FileDeleteFileW(dir + L"/c"));
    EXPECT_EQ(FileCopyDirW(dir, base + L"/\u00e7", nullptr), 0);
    EXPECT_TRUE(FileRenameDirW(base + L"/\u00e7", base + L"/m\u00f6v") &&
                FileDeleteDirW(base + L"/m\u00f6v"));

    // Under "C" a non-ASCII name does not convert; cut at it, the path would
    // name its parent. A NUL would cut it too. Neither is ever acted upon.
    LocaleGuard c("C");
    ASSERT_TRUE(WriteFileBytes(tmp.file("a"), "a"));
    for (const std::wstring& bad : {dir, base + std::wstring(L"\0/x", 3)}) {
        EXPECT_FALSE(FileDeleteDirW(bad) || FileRenameDirW(bad, base + L"2") ||
                     FileRenameDirW(base, bad) || FileDeleteFileW(bad) ||
                     FileWriteBufW(bad, "x", 1) || FileCopyFileW(base + L"/a", bad, true) ||
                     PathExistW(bad) || FileEnsureDirExistW(bad) || FileReadBufW(bad, nullptr) ||
                     FileOpenW(bad, L"rb") || FileGetDirSizeW(bad) || !FileIsDirEmptyW(bad));
        EXPECT_EQ(FileCopyDirW(base, bad, nullptr), 0);
    }
    EXPECT_EQ(ListNames(tmp.path()).size(), 3u);
    EXPECT_EQ(ReadFileBytes(narrow_file), data);
}

}  // namespace
