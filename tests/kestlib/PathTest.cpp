// Path normalisation, joins and splits, existence.
#include <gtest/gtest.h>

#include <cwchar>

#include "KestLib/KestLib.h"
#include "tests/kestlib/TestUtil.h"
#include "tests/support/TempDir.h"

using namespace KestLib;

namespace {

struct Case {
    const char* in;
    const char* out;
};

// Every case runs through the narrow member and, widened, the wide one.
template <typename NarrowFn, typename WideFn>
void ExpectInPlace(const std::vector<Case>& cases, NarrowFn narrow, WideFn wide) {
    for (const auto& c : cases) {
        std::string s = c.in;
        narrow(s);
        EXPECT_EQ(s, c.out) << "input '" << c.in << "'";
        std::wstring w = Widen(c.in);
        wide(w);
        EXPECT_EQ(w, Widen(c.out)) << "wide input '" << c.in << "'";
    }
}

TEST(Normalisation, BackslashesBecomeSeparatorsAndRunsAreHalved) {
    ExpectInPlace(
        {
            {"", ""},
            {"/", "/"},
            {"a/b", "a/b"},
            {"a//b", "a/b"},
            {"a///b", "a//b"},
            {"a////b", "a//b"},
            {"a/////b", "a///b"},
            {"//", "/"},
            {"///", "//"},
            {"\\", "/"},
            {"C:\\x\\\\y\\", "C:/x/y/"},
            {"a\\/b", "a/b"},  // a backslash merges with the separator after it
            {"a\\\\b", "a/b"},
            {"./../x/", "./../x/"},  // dot components and trailing separator stay
        },
        PathFormatA, PathFormatW);
}

TEST(Normalisation, TrailingSeparatorRemoval) {
    ExpectInPlace(
        {{"", ""}, {"/", "/"}, {"a\\", "a"}, {"a/", "a"}, {"a//", "a"}, {"a///", "a/"}, {"a", "a"}},
        PathRemoveSlashA, PathRemoveSlashW);
}

TEST(Normalisation, TrailingSeparatorAddition) {
    ExpectInPlace({{"", ""},
                   {"a", "a"},  // shorter than two characters: unchanged
                   {"\\", "/"},
                   {"a///", "a//"},
                   {"ab", "ab/"},
                   {"ab/", "ab/"},
                   {"a\\b", "a/b/"}},
                  PathAddSlashA, PathAddSlashW);
}

TEST(JoinsAndSplits, ParentFolder) {
    const struct {
        const char* in;
        bool found;
        const char* parent;
    } cases[] = {
        {"", false, "untouched"}, {"a", false, "untouched"}, {"/", true, ""},
        {"/a", true, ""},         {"/a/b", true, "/a"},      {"a/b/", true, "a/b"},
        {"a\\b\\c", true, "a/b"}, {"x//y", true, "x"},
    };
    for (const auto& c : cases) {
        std::string parent = "untouched";
        EXPECT_EQ(PathGetUpFolderA(c.in, parent), c.found) << c.in;
        EXPECT_EQ(parent, c.parent) << c.in;
        std::wstring wparent = L"untouched";
        EXPECT_EQ(PathGetUpFolderW(Widen(c.in), wparent), c.found) << c.in;
        EXPECT_EQ(wparent, Widen(c.parent)) << c.in;
    }
}

TEST(JoinsAndSplits, LastComponent) {
    const Case cases[] = {{"", ""},
                          {"name", ""},  // no separator: empty, not the name
                          {"dir\\file", "file"},
                          {"/a/b.txt", "b.txt"},
                          {"a/", ""},
                          {"/", ""}};
    for (const auto& c : cases) {
        EXPECT_EQ(PathGetNameA(c.in), c.out) << c.in;
        EXPECT_EQ(PathGetNameW(Widen(c.in)), Widen(c.out)) << c.in;
    }
}

TEST(JoinsAndSplits, CombineJoinsWithOneSeparatorThenNormalises) {
    const struct {
        const char* base;
        const char* name;
        const char* out;
    } cases[] = {
        {"", "", "/"},
        {"a", "b/c", "a/b/c"},
        {"/tmp", "x", "/tmp/x"},
        {"/tmp/", "x", "/tmp/x"},
        {"", "x", "/x"},
        {"/tmp", "", "/tmp/"},
        {"/tmp/", "/x", "/tmp//x"},  // three separators halve to two
        {"a\\", "b", "a/b"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(PathCombinedA(c.base, c.name), c.out) << c.base << " + " << c.name;
        EXPECT_EQ(PathCombinedW(Widen(c.base), Widen(c.name)), Widen(c.out));
    }
}

TEST(JoinsAndSplits, ByValueArgumentsAreLeftUnchanged) {
    const std::string path = "a\\\\b";
    std::string parent;
    PathGetUpFolderA(path, parent);
    PathGetNameA(path);
    PathCombinedA(path, path);
    PathExistA(path);
    EXPECT_EQ(path, "a\\\\b");
}

TEST(Existence, NormalisedPathAndLinkTargetsDecide) {
    TempDir tmp;
    ASSERT_TRUE(WriteFileBytes(tmp.file("f"), "x"));
    ASSERT_EQ(symlink("f", tmp.file("good").c_str()), 0);
    ASSERT_EQ(symlink("missing", tmp.file("dangling").c_str()), 0);

    EXPECT_TRUE(PathExistA(tmp.path()));
    EXPECT_TRUE(PathExistA(tmp.file("f")));
    EXPECT_TRUE(PathExistA(tmp.path() + "\\f"));   // backslash taken as separator
    EXPECT_TRUE(PathExistA(tmp.path() + "///f"));  // halved to '//', still the file
    EXPECT_TRUE(PathExistA(tmp.file("good")));
    EXPECT_FALSE(PathExistA(tmp.file("dangling")));
    EXPECT_FALSE(PathExistA(tmp.file("missing")));
    EXPECT_FALSE(PathExistA(""));
    EXPECT_TRUE(PathExistW(Widen(tmp.path() + "\\f")));
    EXPECT_FALSE(PathExistW(Widen(tmp.file("missing"))));
}

TEST(Existence, SeparatorsAndPlatformStubs) {
    EXPECT_STREQ(PathGetDefaultSeparatorA(), "/");
    EXPECT_EQ(std::wcscmp(PathGetDefaultSeparatorW(), L"/"), 0);

    std::string path = "/some/where";
    std::wstring wpath = L"/some/where";
    std::vector<std::string> list = {"keep"};
    std::vector<std::wstring> wlist = {L"keep"};
    EXPECT_EQ(PathGetMaximumFreeSpaceDiskA(path), 0);
    EXPECT_EQ(PathGetMaximumFreeSpaceDiskW(wpath), 0);
    EXPECT_EQ(PathGetAllDriverPathA(list), 0);
    EXPECT_EQ(PathGetAllDriverPathW(wlist), 0);
    EXPECT_EQ(PathGetDriverByteSizeA("/"), 0);
    EXPECT_EQ(PathGetDriverByteSizeW(L"/"), 0);
    EXPECT_EQ(path, "/some/where");
    EXPECT_EQ(wpath, L"/some/where");
    EXPECT_EQ(list, std::vector<std::string>{"keep"});
    EXPECT_EQ(wlist, std::vector<std::wstring>{L"keep"});
}

}  // namespace
