// KestLib: paths, strings, files and directory trees, narrow and wide.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <regex>

#include "KestLib/KestInternal.h"
#include "KestLib/KestLib.h"
#include "tests/support/TempDir.h"
#include "tests/unit/UnitSupport.h"

extern char** environ;

using namespace KestLib;
using unit::LocaleGuard;
using unit::Widen;

namespace {

using Strings = std::vector<std::string>;
using WStrings = std::vector<std::wstring>;

// A copy of this executable started with this variable set writes what
// PathGetExeDirA and PathGetExeDirW (as UTF-8) report to the file it names,
// and exits before any test runs.
const char kExeDirReport[] = "KESTLIB_EXEDIR_REPORT";
[[maybe_unused]] const bool kReported = [] {
    const char* out = std::getenv(kExeDirReport);
    if (out == nullptr) return false;
    std::setlocale(LC_ALL, "C.UTF-8");
    const std::string text = PathGetExeDirA() + "\n" + StrToUtf8W(PathGetExeDirW()) + "\n";
    _exit(WriteFileBytes(out, text) ? 0 : 1);
}();

bool IsDir(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool Exists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

// Names in a directory (without "." and ".."), sorted.
Strings ListNames(const std::string& dir) {
    Strings names;
    if (DIR* d = opendir(dir.c_str())) {
        while (const dirent* e = readdir(d))
            if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
                names.push_back(e->d_name);
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Changes the working directory for the scope.
class CwdGuard {
public:
    explicit CwdGuard(const std::string& dir) : saved_(getcwd(nullptr, 0), std::free) {
        if (!saved_ || chdir(dir.c_str()) != 0) throw std::runtime_error("chdir failed");
    }
    ~CwdGuard() {
        if (chdir(saved_.get()) != 0) std::abort();
    }

private:
    std::unique_ptr<char, decltype(&std::free)> saved_;
};

TEST(KestPath, NormaliseSplitAndJoin) {
    // Input, then what PathFormat, PathRemoveSlash, PathAddSlash,
    // PathGetUpFolder (null: none found) and PathGetName make of it.
    const struct {
        const char *in, *format, *remove, *add, *parent, *name;
    } cases[] = {
        {"", "", "", "", nullptr, ""},
        {"/", "/", "/", "/", "", ""},
        {"a", "a", "a", "a", nullptr, ""},
        {"ab", "ab", "ab", "ab/", nullptr, ""},
        {"a//b", "a/b", "a/b", "a/b/", "a", "b"},
        {"a///b", "a//b", "a//b", "a//b/", "a/", "b"},  // one pass halves runs
        {"a////b", "a//b", "a//b", "a//b/", "a/", "b"},
        {"a/////b", "a///b", "a///b", "a///b/", "a//", "b"},
        {"//", "/", "/", "/", "", ""},
        {"///", "//", "/", "//", "/", ""},
        {"\\", "/", "/", "/", "", ""},
        {"a\\", "a/", "a", "a/", "a", ""},
        {"a///", "a//", "a/", "a//", "a/", ""},
        {"a\\/b", "a/b", "a/b", "a/b/", "a", "b"},
        {"C:\\x\\\\y\\", "C:/x/y/", "C:/x/y", "C:/x/y/", "C:/x/y", ""},
        {"./../x/", "./../x/", "./../x", "./../x/", "./../x", ""},
        {"/a/b.txt", "/a/b.txt", "/a/b.txt", "/a/b.txt/", "/a", "b.txt"},
        {"dir\\file", "dir/file", "dir/file", "dir/file/", "dir", "file"},
    };
    for (const auto& c : cases) {
        std::string format = c.in, remove = c.in, add = c.in, parent = "kept";
        std::wstring wformat = Widen(c.in), wremove = wformat, wadd = wformat, wparent = L"kept";
        PathFormatA(format);
        PathRemoveSlashA(remove);
        PathAddSlashA(add);
        PathFormatW(wformat);
        PathRemoveSlashW(wremove);
        PathAddSlashW(wadd);
        EXPECT_EQ(format + "|" + remove + "|" + add,
                  std::string(c.format) + "|" + c.remove + "|" + c.add)
            << c.in;
        EXPECT_EQ(wformat + L"|" + wremove + L"|" + wadd, Widen(format + "|" + remove + "|" + add));
        EXPECT_EQ(PathGetUpFolderA(c.in, parent), c.parent != nullptr) << c.in;
        EXPECT_EQ(PathGetUpFolderW(Widen(c.in), wparent), c.parent != nullptr) << c.in;
        EXPECT_EQ(parent, c.parent ? c.parent : "kept") << c.in;
        EXPECT_EQ(wparent, Widen(parent));
        EXPECT_EQ(PathGetNameA(c.in), c.name) << c.in;
        EXPECT_EQ(PathGetNameW(Widen(c.in)), Widen(c.name)) << c.in;
    }
    const struct {
        const char *base, *name, *joined;
    } joins[] = {
        {"", "", "/"},   {"a", "b/c", "a/b/c"}, {"/tmp", "x", "/tmp/x"},   {"/tmp/", "x", "/tmp/x"},
        {"", "x", "/x"}, {"/tmp", "", "/tmp/"}, {"/tmp/", "/x", "/tmp//x"}};
    for (const auto& c : joins) {
        EXPECT_EQ(PathCombinedA(c.base, c.name), c.joined) << c.base << " + " << c.name;
        EXPECT_EQ(PathCombinedW(Widen(c.base), Widen(c.name)), Widen(c.joined));
    }
}

TEST(KestPath, ExistenceAndPlatformStubs) {
    TempDir tmp;
    ASSERT_TRUE(WriteFileBytes(tmp.file("f"), "x"));
    ASSERT_EQ(symlink("f", tmp.file("good").c_str()), 0);
    ASSERT_EQ(symlink("missing", tmp.file("dangling").c_str()), 0);
    EXPECT_TRUE(PathExistA(tmp.path() + "\\f") && PathExistA(tmp.path() + "///f"));
    EXPECT_TRUE(PathExistA(tmp.file("good")) && PathExistW(Widen(tmp.path() + "\\f")));
    EXPECT_FALSE(PathExistA(tmp.file("dangling")) || PathExistA(tmp.file("missing")));
    EXPECT_FALSE(PathExistA(""));
    EXPECT_STREQ(PathGetDefaultSeparatorA(), "/");
    EXPECT_EQ(std::wstring(PathGetDefaultSeparatorW()), L"/");
    // Nothing to report on this platform: 0, arguments unchanged.
    std::string path = "/p";
    std::wstring wpath = L"/w";
    Strings list = {"keep"};
    WStrings wlist = {L"keep"};
    EXPECT_EQ(PathGetMaximumFreeSpaceDiskA(path) | PathGetMaximumFreeSpaceDiskW(wpath) |
                  PathGetAllDriverPathA(list) | PathGetAllDriverPathW(wlist) |
                  PathGetDriverByteSizeA("/") | PathGetDriverByteSizeW(L"/"),
              0);
    EXPECT_TRUE(path == "/p" && wpath == L"/w" && list == Strings{"keep"} && wlist.size() == 1);
}

// A copy of this executable, hard-linked into bundle-like layouts, reports
// what it finds there (see kExeDirReport).
TEST(KestPath, ExecutableDirectoryOfABundle) {
    EXPECT_EQ(PathGetExeDirA(), "");  // this test program lies in no bundle
    EXPECT_EQ(PathGetExeDirW(), L"");
    TempDir tmp;
    const std::string copy = tmp.file("exe"), out = tmp.file("report");
    FileCopyFileA("/proc/self/exe", copy, true);
    ASSERT_EQ(chmod(copy.c_str(), 0755), 0);
    const std::string bundle = tmp.path() + "/H\xc3\xb4st App.app/Contents/MacOS";
    for (const std::string& dir :
         {bundle, tmp.path() + "/Plain/Contents/MacOS", tmp.path() + "/Host.app/Contents",
          tmp.path() + "/.app/Contents/MacOS", tmp.path() + "/Host.app/Contents/MacOS/deeper"}) {
        ASSERT_TRUE(FileEnsureDirExistA(dir));
        const std::string exe = dir + "/probe";
        ASSERT_EQ(link(copy.c_str(), exe.c_str()), 0);
        setenv(kExeDirReport, out.c_str(), 1);
        char* argv[] = {const_cast<char*>(exe.c_str()), nullptr};
        pid_t pid;
        const int spawned = posix_spawn(&pid, exe.c_str(), nullptr, nullptr, argv, environ);
        unsetenv(kExeDirReport);
        ASSERT_EQ(spawned, 0);
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        EXPECT_EQ(ReadFileBytes(out), dir == bundle ? bundle + "\n" + bundle + "\n" : "\n\n");
    }
}

TEST(KestString, FormatUpTo4096Characters) {
    EXPECT_EQ(StrFormatA(nullptr), "");
    EXPECT_EQ(StrFormatA("%s%s%s", "a", "/", "b"), "a/b");
    const std::string big(5000, 'x');
    EXPECT_EQ(StrFormatA("%s", big.c_str()), big.substr(0, 4096));
    EXPECT_EQ(StrFormatA("%s!", big.substr(0, 4095).c_str()), big.substr(0, 4095) + "!");
    EXPECT_EQ(StrFormatW(nullptr), L"");
    EXPECT_EQ(StrFormatW(L"%ls=%d", L"n", 5), L"n=5");
    const std::wstring wbig(5000, L'y');
    EXPECT_EQ(StrFormatW(L"%ls", wbig.c_str()), wbig.substr(0, 4096));

    auto format = [](const char* fmt, ...) {
        va_list args;
        va_start(args, fmt);
        std::unique_ptr<char[]> buf(StrFormatArgBufferA(fmt, args));
        va_end(args);
        return buf;
    };
    auto buf = format("%s", big.c_str());
    EXPECT_EQ(std::string(buf.get()), big.substr(0, 4096));
    EXPECT_EQ(buf[4096], '\0');
    EXPECT_STREQ(format(nullptr).get(), "");
}

TEST(KestString, CompareReplaceAndSplit) {
    EXPECT_EQ(StrCompareNoCaseA("abc", "ABC"), 0);
    EXPECT_LT(StrCompareNoCaseA("ab", "ABC"), 0);
    EXPECT_GT(StrCompareNoCaseA("b", "A"), 0);
    EXPECT_GT(StrCompareNoCaseA("\x80", "z"), 0);  // unsigned bytes
    EXPECT_EQ(StrCompareNoCaseW(L"MiXeD", L"mixed"), 0);
    EXPECT_LT(StrCompareNoCaseW(L"a", L"B"), 0);

    const struct {
        const char *text, *search, *replace, *out;
    } replaces[] = {{"abcabc", "b", "", "acac"},  {"aaa", "a", "aa", "aaaaaa"},
                    {"///", "//", "/", "//"},     {"////", "//", "/", "//"},
                    {"xyz", "xyz", "xyz", "xyz"}, {"abc", "", "-", "abc"}};
    for (const auto& c : replaces) {
        std::string text = c.text;
        StrReplaceAllA(text, c.search, c.replace);
        EXPECT_EQ(text, c.out) << c.text << " / " << c.search;
        std::wstring wtext = Widen(c.text);
        StrReplaceAllW(wtext, Widen(c.search), Widen(c.replace));
        EXPECT_EQ(wtext, Widen(c.out));
    }

    const struct {
        const char *text, *delimiter;
        Strings pieces;
    } splits[] = {
        {"", ",", {""}},
        {",a", ",", {"", "a"}},
        {"a,", ",", {"a"}},
        {"a,,", ",", {"a", ""}},
        {"a,,b", ",", {"a", "", "b"}},
        {"abc", ",", {"abc"}},
        {"a.b", ".", {"", "", ""}},
        {"a.b", "\\.", {"a", "b"}},
        {"xAx", "a", {"xAx"}},
        {"2021-05-07", "-", {"2021", "05", "07"}},
    };
    for (const auto& c : splits) {
        Strings pieces = {"before"};
        StrSplitA(c.text, c.delimiter, pieces);
        Strings expected = {"before"};
        expected.insert(expected.end(), c.pieces.begin(), c.pieces.end());
        EXPECT_EQ(pieces, expected) << c.text << " at " << c.delimiter;
    }
    WStrings wpieces;
    StrSplitW(L"12:34:", L":", wpieces);
    EXPECT_EQ(wpieces, (WStrings{L"12", L"34"}));
    for (const char* bad : {"\\", "(", "[a"}) {
        Strings pieces = {"kept"};
        EXPECT_THROW(StrSplitA("a(b", bad, pieces), std::regex_error) << bad;
        EXPECT_EQ(pieces, Strings{"kept"});
    }
    Strings pieces;
    StrSplitA("axxbxc", "x*", pieces);  // matches empty text, and still ends
    std::string joined;
    for (const auto& p : pieces) joined += p;
    EXPECT_EQ(joined, "abc");
}

TEST(KestString, LocaleAndUtf8Conversions) {
    EXPECT_EQ(StrCA2W(""), L"");
    EXPECT_EQ(StrCW2A(L""), "");
    EXPECT_EQ(StrCA2W("abc"), L"abc");
    EXPECT_EQ(StrCA2W(std::string("ab\0cd", 5)), L"ab");
    {
        LocaleGuard locale("C");
        EXPECT_EQ(StrCW2A(L"ab\u00e9cd"), "ab");
        EXPECT_EQ(StrCA2W("ab\xc3\xa9"), L"ab");
    }
    LocaleGuard locale("C.UTF-8");
    EXPECT_EQ(StrCW2A(L"caf\u00e9 !"), "caf\xc3\xa9 !");  // six characters, seven bytes
    const std::string mixed = "Gr\xc3\xbc\xc3\x9f \xe7\x9b\xae \xf0\x9f\x98\x80";
    EXPECT_EQ(StrCA2W(mixed), L"Gr\u00fc\u00df \u76ee \U0001F600");
    EXPECT_EQ(StrCW2A(StrCA2W(mixed)), mixed);
    EXPECT_EQ(StrCA2W("ok\xff!"), L"ok");
    EXPECT_EQ(StrCA2W("ok\xe7\x9b"), L"ok");                              // cut inside a sequence
    EXPECT_EQ(StrCW2A(std::wstring(2000, L'\U0001F600')).size(), 8000u);  // four bytes each

    LocaleGuard c("C");  // the UTF-8 members ignore the locale
    const std::string utf8 = "\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80z";
    EXPECT_EQ(StrUtf8ToStringW(utf8), L"\u00e9\u20ac\U0001F600z");
    EXPECT_EQ(StrToUtf8W(L"\u00e9\u20ac\U0001F600z"), utf8);
    for (const char* bad :
         {"ok\xc0\x80x", "ok\xed\xa0\x80x", "ok\xf4\x90\x80\x80x", "ok\xe2\x82", "ok\x80"})
        EXPECT_EQ(StrUtf8ToStringW(bad), L"ok") << bad;
    EXPECT_EQ(StrToUtf8W(std::wstring(L"a") + wchar_t(0xD800) + L"b"), "a");
    EXPECT_EQ(StrUtf8ToStringA("as\xffis") + StrToUtf8A("\xff"), "as\xffis\xff");
}

TEST(KestString, TrimMarkersNumbersAndLastCharacter) {
    const Strings in = {" \tx\t ", "\t x \t", "   ", "\t\t", " \t\t ", "\n x\r ", ""};
    const Strings out = {"x", " x ", "", "", "", "\n x\r", ""};
    for (size_t i = 0; i < in.size(); ++i) {
        std::string s = in[i];
        StrTrimA(s);
        EXPECT_EQ(s, out[i]) << i;
        std::wstring w = Widen(in[i]);
        StrTrimW(w);
        EXPECT_EQ(w, Widen(out[i])) << i;
    }

    const std::string src = "key=[ v ];";
    const struct {
        const char *source, *start, *end;
        int position;
        const char* mid;
    } mids[] = {{src.c_str(), "[", "]", 4, "v"},   {src.c_str(), "[", "]", 5, ""},
                {src.c_str(), "[", "]", 10, ""},   {src.c_str(), "[", "]", -1, ""},
                {src.c_str(), "", "]", 0, ""},     {src.c_str(), "[", "", 0, ""},
                {src.c_str(), "[", ">", 0, ""},    {"|a|b|", "|", "|", 0, "a"},
                {"x=\t y \t;", "=", ";", 0, " y "}};
    for (const auto& c : mids) {
        EXPECT_EQ(StrGetMidStrA(c.source, c.start, c.end, c.position), c.mid)
            << c.source << " " << c.position;
        EXPECT_EQ(StrGetMidStrW(Widen(c.source), Widen(c.start), Widen(c.end), c.position),
                  Widen(c.mid));
    }

    EXPECT_TRUE(StrIsNumA("0123"));
    EXPECT_TRUE(StrIsNumW(L"0123"));
    for (const char* s : {"", "-1", "1.5", " 1", "+2", "\xd9\xa3", "12a"}) {
        EXPECT_FALSE(StrIsNumA(s)) << s;
        EXPECT_FALSE(StrIsNumW(Widen(s))) << s;
    }
    std::string empty, ends = "a/", plain = "a";
    for (std::string* text : {&empty, &ends, &plain}) StrEnsureLastCharExistA(*text, '/');
    EXPECT_EQ(empty + "|" + ends + "|" + plain, "/|a/|a/");
    std::wstring w = L"x";
    StrEnsureLastCharExistW(w, '\xe9');
    StrEnsureLastCharExistW(w, '\xe9');
    EXPECT_EQ(w, L"x\u00e9");
}

TEST(KestFile, DirectoryChains) {
    TempDir tmp;
    ASSERT_TRUE(WriteFileBytes(tmp.file("file"), "x"));
    const mode_t old_mask = umask(022);
    EXPECT_TRUE(FileEnsureDirExistA(tmp.path() + "/a/b/c/"));
    umask(old_mask);
    struct stat st;
    ASSERT_EQ(stat(tmp.file("a/b/c").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0755u);
    EXPECT_TRUE(FileEnsureDirExistA(tmp.path() + "\\x\\\\y"));
    EXPECT_TRUE(IsDir(tmp.file("x/y")));
    {
        CwdGuard cwd(tmp.path());
        EXPECT_TRUE(FileEnsureDirExistA("r/s"));
    }
    EXPECT_TRUE(IsDir(tmp.file("r/s")));
    EXPECT_FALSE(FileEnsureDirExistA(""));
    EXPECT_TRUE(FileEnsureDirExistA("/"));
    EXPECT_TRUE(FileEnsureDirExistA(tmp.file("file")));
    EXPECT_FALSE(FileEnsureDirExistA(tmp.file("file/sub")));
    EXPECT_EQ(ListNames(tmp.path()), (Strings{"a", "file", "r", "x"}));
}

// The walk as readdir and lstat see the tree: directories before their
// contents, every entry in readdir order.
void ReferenceWalk(const std::string& dir, Strings& files, long long& total) {
    DIR* d = opendir(dir.c_str());
    ASSERT_NE(d, nullptr);
    while (const dirent* e = readdir(d)) {
        const std::string name = e->d_name, full = dir + "/" + name;
        struct stat st;
        if (name == "." || name == ".." || lstat(full.c_str(), &st) != 0) continue;
        if (S_ISDIR(st.st_mode)) {
            ReferenceWalk(full, files, total);
        } else {
            files.push_back(full);
            total += st.st_size;
        }
    }
    closedir(d);
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
    // Files until readdir yields some before and some after sub's contents.
    for (int i = 0; i < 200; ++i) {
        ASSERT_TRUE(WriteFileBytes(root + "/f" + std::to_string(i), std::string(i + 1, 'x')));
        expected.clear();
        expected_total = 0;
        ReferenceWalk(root, expected, expected_total);
        const auto inner = std::find(expected.begin(), expected.end(), root + "/sub/inner");
        if (inner != expected.begin() && inner + 1 != expected.end()) break;
    }
    // Lists are appended to; links count as files with their own size.
    Strings files = {"kept"}, dirs;
    long long total = 0;
    EXPECT_TRUE(FileGetDirInfoA(root + "/", files, dirs, total, true));
    expected.insert(expected.begin(), "kept");
    EXPECT_EQ(files, expected);
    EXPECT_EQ(dirs, (Strings{root + "/sub", root + "/sub/empty"}));
    EXPECT_EQ(total, expected_total);
    EXPECT_EQ(FileGetDirSizeA(root), expected_total);
    Strings listed = {"kept"};
    EXPECT_TRUE(FileGetDirFileListA(root, listed));
    EXPECT_EQ(listed, expected);
    dirs.clear();
    EXPECT_TRUE(FileGetDirListA(root, dirs));
    EXPECT_EQ(dirs, Strings{root + "/sub"});  // not the link to sub

    files.clear();
    dirs.clear();
    EXPECT_TRUE(FileGetDirInfoA(root, files, dirs, total, false));
    EXPECT_EQ(std::count(files.begin(), files.end(), root + "/sub/inner"), 0);
    EXPECT_FALSE(FileIsDirEmptyA(root + "/sub"));
    EXPECT_TRUE(FileIsDirEmptyA(root + "/sub/empty"));
    EXPECT_TRUE(FileIsDirEmptyA(root + "/missing"));
    EXPECT_TRUE(FileIsDirEmptyA(root + "/f0"));

    files = {"kept"};
    dirs = {"kept"};
    total = 7;
    EXPECT_FALSE(FileGetDirInfoA(root + "/missing", files, dirs, total, true));
    EXPECT_FALSE(FileGetDirInfoA(root + "/f0", files, dirs, total, true));
    EXPECT_FALSE(FileGetDirFileListA(root + "/missing", files));
    EXPECT_FALSE(FileGetDirListA(root + "/f0", dirs));
    EXPECT_EQ(files, Strings{"kept"});
    EXPECT_EQ(dirs, Strings{"kept"});
    EXPECT_EQ(total, 7);
    EXPECT_EQ(FileGetDirSizeA(root + "/missing") + FileGetDirSizeA(root + "/f0"), 0);
}

TEST(KestFile, WalkEntryKinds) {
    // A name holding a backslash is walked as found: "x\.." normalised would
    // walk the directory itself again.
    TempDir tmp;
    ASSERT_EQ(mkdir(tmp.file("x\\..").c_str(), 0755), 0);
    ASSERT_TRUE(WriteFileBytes(tmp.file("x\\../f"), "1234"));
    // A socket's type code (12) has the directory bit (4) set.
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const std::string sock = tmp.file("sock");
    ASSERT_LT(sock.size(), sizeof addr.sun_path);
    std::strcpy(addr.sun_path, sock.c_str());
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    close(fd);
    Strings files, dirs;
    long long total = 0;
    EXPECT_TRUE(FileGetDirInfoA(tmp.path(), files, dirs, total, true));
    EXPECT_EQ(files, Strings{tmp.file("x\\../f")});
    EXPECT_EQ(dirs.size(), 2u);
    EXPECT_EQ(total, 4);

    dirs.clear();
    ASSERT_TRUE(FileGetDirListA("/", dirs));  // '/' keeps its separator, another is added
    ASSERT_FALSE(dirs.empty());
    for (const auto& d : dirs) EXPECT_TRUE(d.compare(0, 2, "//") == 0 && d[2] != '/') << d;
}

TEST(KestFile, WholeFileReadsAndWrites) {
    TempDir tmp;
    const std::string ten(
        "0123\0"
        "56789",
        10);
    ASSERT_TRUE(FileWriteBufA(tmp.path() + "\\ten", ten.data(), 10));
    int size = -1;
    std::unique_ptr<char, decltype(&std::free)> buf(
        static_cast<char*>(FileReadBufA(tmp.path() + "\\ten", &size)), std::free);
    ASSERT_TRUE(buf);
    EXPECT_EQ(size, 10);
    EXPECT_EQ(std::string(buf.get(), 11), ten + '\0');
    EXPECT_EQ(FileGetFileSizeA(tmp.file("ten")), 10);

    ASSERT_TRUE(FileWriteBufA(tmp.file("empty"), "xyz", 0));
    EXPECT_TRUE(Exists(tmp.file("empty")));
    size = 77;
    EXPECT_EQ(FileReadBufA(tmp.file("empty"), &size), nullptr);
    EXPECT_EQ(FileReadBufA(tmp.file("missing"), &size), nullptr);
    EXPECT_EQ(FileReadBufImp(nullptr, &size), nullptr);
    const int huge = open(tmp.file("huge").c_str(), O_CREAT | O_WRONLY, 0644);  // sparse 2 GiB
    ASSERT_EQ(ftruncate(huge, 2147483648LL), 0);
    close(huge);
    EXPECT_EQ(FileReadBufA(tmp.file("huge"), &size), nullptr);  // beyond the 32-bit size
    EXPECT_EQ(size, 77);
    EXPECT_EQ(FileGetFileSizeA(tmp.file("huge")), 2147483648LL);
    EXPECT_EQ(FileGetFileSizeA(tmp.file("missing")), 0);

    // The stream is closed whatever the outcome.
    for (const char* name : {"ten", "empty"}) {
        FILE* f = std::fopen(tmp.file(name).c_str(), "rb");
        const int fd = fileno(f);
        std::free(FileReadBufImp(f, nullptr));
        EXPECT_TRUE(fcntl(fd, F_GETFD) == -1 && errno == EBADF) << name;
    }

    EXPECT_FALSE(FileWriteBufA(tmp.file("ten"), "x", -1));
    EXPECT_FALSE(FileWriteBufA(tmp.file("ten") + std::string("\0tail", 5), "x", 1));
    EXPECT_FALSE(FileWriteBufA(tmp.file("no/dir/f"), "x", 1));
    EXPECT_EQ(ReadFileBytes(tmp.file("ten")), ten);
}

TEST(KestFile, DeleteCopyAndOpenFiles) {
    TempDir tmp;
    std::string data(3 * 4096 + 17, '\0');  // several copy chunks and a tail
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 131 + 7);
    ASSERT_TRUE(WriteFileBytes(tmp.file("src"), data));
    ASSERT_TRUE(WriteFileBytes(tmp.file("dst"), std::string(50000, 'o')));
    EXPECT_TRUE(FileCopyFileA(tmp.file("src"), tmp.path() + "\\dst", false));
    EXPECT_EQ(ReadFileBytes(tmp.file("dst")), data);
    // Without a readable source nothing is touched.
    ASSERT_EQ(mkdir(tmp.file("dir").c_str(), 0755), 0);
    EXPECT_TRUE(FileCopyFileA(tmp.file("missing"), tmp.file("dst"), true));
    EXPECT_TRUE(FileCopyFileA(tmp.file("dir"), tmp.file("dst"), true));
    EXPECT_TRUE(FileCopyFileA(tmp.file("dst"), tmp.path() + "//dst", true));
    EXPECT_TRUE(FileCopyFileA(tmp.file("missing"), tmp.file("absent"), true));
    EXPECT_EQ(ReadFileBytes(tmp.file("dst")), data);
    EXPECT_FALSE(Exists(tmp.file("absent")));

    ASSERT_TRUE(WriteFileBytes(tmp.file("dir/g"), "x"));
    EXPECT_FALSE(FileDeleteFileA(tmp.file("dir")));  // not empty
    EXPECT_TRUE(FileDeleteFileA(tmp.path() + "\\dir\\g"));
    EXPECT_TRUE(FileDeleteFileA(tmp.file("dir")));
    EXPECT_FALSE(FileDeleteFileA(tmp.file("missing")));

    EXPECT_EQ(FileOpenA(tmp.file("missing"), "rb"), nullptr);
    FILE* f = FileOpenA(tmp.file("sub\\f"), "wb");  // not normalised: a backslash in the name
    ASSERT_NE(f, nullptr);
    std::fclose(f);
    EXPECT_EQ(ListNames(tmp.path()), (Strings{"dst", "src", "sub\\f"}));
}

// Names a shell would expand, split or run.
const Strings kHostileNames = {"a b",
                               "$(touch pwned)",
                               "`touch pwned`",
                               "x\"; touch pwned; echo \"",
                               "-rf",
                               "line\nbreak",
                               "*",
                               "it's",
                               "$HOME",
                               "--help"};

TEST(KestFile, TreeOperationsActOnExactlyTheNamedPaths) {
    TempDir tmp;
    const std::string work = tmp.file("work");
    ASSERT_TRUE(FileEnsureDirExistA(work + "/keep"));
    ASSERT_TRUE(WriteFileBytes(work + "/keep/k", "keep"));
    CwdGuard cwd(tmp.path());  // whatever a shell ran would land here
    Strings names = kHostileNames;
    names.push_back("tree");
    for (const auto& name : names) {
        const std::string root = work + "/" + name;
        ASSERT_TRUE(FileEnsureDirExistA(root + "/inner")) << name;
        ASSERT_TRUE(WriteFileBytes(root + "/inner/file", name));
        EXPECT_EQ(FileCopyDirA(root + "/", tmp.file("copy/"), nullptr), 0) << name;
        EXPECT_EQ(FileCopyDirA(root, tmp.file("copy"), nullptr), 0);  // exists now: goes inside
        EXPECT_EQ(ReadFileBytes(tmp.file("copy/" + name + "/inner/file")), name);
        EXPECT_TRUE(FileRenameDirA("copy/", name)) << name;  // relative: may look like an option
        EXPECT_EQ(ReadFileBytes(tmp.file(name + "/inner/file")), name);
        EXPECT_TRUE(FileDeleteDirA(name)) << name;
        EXPECT_TRUE(FileDeleteDirA(work + "\\" + name)) << name;
        EXPECT_EQ(ListNames(work), Strings{"keep"}) << name;
        EXPECT_EQ(ListNames(tmp.path()), Strings{"work"}) << name;
    }
    EXPECT_TRUE(FileDeleteDirA(work + "/never-existed"));
    EXPECT_FALSE(FileRenameDirA(work + "/missing", tmp.file("nowhere")));
    EXPECT_TRUE(FileRenameDirA(work + "/missing", work + "/keep"));  // existed before
    EXPECT_EQ(FileCopyDirA(work + "/missing", tmp.file("nothing"), nullptr), 0);
    const std::string with_nul = work + std::string("\0/keep", 6);  // would reach rm as work
    EXPECT_FALSE(FileDeleteDirA(with_nul));
    EXPECT_FALSE(FileRenameDirA(with_nul, tmp.file("moved")));
    EXPECT_EQ(ListNames(tmp.path()), Strings{"work"});
    EXPECT_EQ(ReadFileBytes(work + "/keep/k"), "keep");
}

TEST(KestFile, WideMembersUseTheLocalesFormOfEachPath) {
    TempDir tmp;
    LocaleGuard locale("C.UTF-8");
    const std::wstring base = StrCA2W(tmp.path());
    const std::wstring dir = base + L"/\u00dcn\u00efc\u00f8d\u00e9 \u76ee\u5f55";
    const std::wstring file = dir + L"/\u0444\u0430\u0439\u043b";
    const std::string data =
                          "donn\xc3\xa9"
                          "es",
                      narrow_file = StrCW2A(file);
    EXPECT_TRUE(FileEnsureDirExistW(dir + L"/"));
    EXPECT_TRUE(FileIsDirEmptyW(dir));
    EXPECT_TRUE(FileWriteBufW(file, data.data(), static_cast<int>(data.size())));
    EXPECT_EQ(ReadFileBytes(narrow_file), data);
    EXPECT_EQ(FileGetFileSizeW(file), 8);
    EXPECT_EQ(FileGetDirSizeW(base), 8);
    int size = 0;
    std::free(FileReadBufW(file, &size));
    EXPECT_EQ(size, 8);
    FILE* f = FileOpenW(file, L"rb");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
    WStrings files = {L"kept"}, dirs;
    EXPECT_TRUE(FileGetDirFileListW(base, files));
    EXPECT_EQ(files, (WStrings{L"kept", file}));
    EXPECT_TRUE(FileGetDirListW(base, dirs));
    EXPECT_EQ(dirs, WStrings{dir});
    EXPECT_TRUE(FileCopyFileW(file, dir + L"/c\u00f8py", false));
    EXPECT_TRUE(FileDeleteFileW(dir + L"/c\u00f8py"));
    EXPECT_EQ(FileCopyDirW(dir, base + L"/\u00e7", nullptr), 0);
    EXPECT_TRUE(FileRenameDirW(base + L"/\u00e7", base + L"/m\u00f6v"));
    EXPECT_EQ(ReadFileBytes(tmp.path() + "/m\xc3\xb6v/\xd1\x84\xd0\xb0\xd0\xb9\xd0\xbb"), data);
    EXPECT_TRUE(FileDeleteDirW(base + L"/m\u00f6v"));
    ASSERT_TRUE(WriteFileBytes(tmp.file("bad\xff"), "22"));  // no UTF-8: left out of lists
    files.clear();
    EXPECT_TRUE(FileGetDirFileListW(dir, files));
    EXPECT_TRUE(FileGetDirFileListW(base, files));
    EXPECT_EQ(files, (WStrings{file, file}));
    EXPECT_EQ(FileGetDirSizeW(base), 10);

    // Under "C" a non-ASCII name does not convert; cut at it, the path would
    // name its parent. A NUL would cut it too. Neither is ever acted upon.
    LocaleGuard c("C");
    ASSERT_TRUE(WriteFileBytes(tmp.file("a"), "a"));
    for (const std::wstring& bad : {dir, base + std::wstring(L"\0/x", 3)}) {
        EXPECT_FALSE(FileDeleteDirW(bad));
        EXPECT_FALSE(FileRenameDirW(bad, base + L"2"));
        EXPECT_FALSE(FileRenameDirW(base, bad));
        EXPECT_EQ(FileCopyDirW(base, bad, nullptr), 0);
        EXPECT_FALSE(FileDeleteFileW(bad));
        EXPECT_FALSE(FileWriteBufW(bad, "x", 1));
        EXPECT_FALSE(FileCopyFileW(base + L"/a", bad, true));
        EXPECT_FALSE(PathExistW(bad));
        EXPECT_FALSE(FileEnsureDirExistW(bad));
        EXPECT_EQ(FileReadBufW(bad, nullptr), nullptr);
        EXPECT_EQ(FileOpenW(bad, L"rb"), nullptr);
        EXPECT_EQ(FileGetDirSizeW(bad), 0);
        EXPECT_TRUE(FileIsDirEmptyW(bad));
    }
    EXPECT_EQ(ListNames(tmp.path()).size(), 3u);
    EXPECT_EQ(ReadFileBytes(narrow_file), data);
}

}  // namespace
