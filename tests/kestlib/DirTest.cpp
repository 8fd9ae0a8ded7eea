// Directory chains, walks (order, totals, links) and directory listings.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>

#include "KestLib/KestInternal.h"
#include "KestLib/KestLib.h"
#include "tests/kestlib/TestUtil.h"
#include "tests/support/TempDir.h"

using namespace KestLib;

namespace {

using Paths = std::vector<std::string>;

TEST(DirectoryChains, CreatesEveryMissingLevel) {
    TempDir tmp;
    const mode_t oldMask = umask(022);
    EXPECT_TRUE(FileEnsureDirExistA(tmp.path() + "/a/b/c/"));
    umask(oldMask);
    struct stat st;
    ASSERT_EQ(stat(tmp.file("a/b/c").c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0755u);

    EXPECT_TRUE(FileEnsureDirExistA(tmp.path() + "\\x\\\\y"));  // backslashes separate
    EXPECT_TRUE(IsDir(tmp.file("x/y")));
    {
        CwdGuard cwd(tmp.path());  // relative paths grow from the working directory
        EXPECT_TRUE(FileEnsureDirExistA("r/s/t"));
    }
    EXPECT_TRUE(IsDir(tmp.file("r/s/t")));
}

TEST(DirectoryChains, ExistenceDecides) {
    TempDir tmp;
    ASSERT_TRUE(WriteFileBytes(tmp.file("file"), "x"));
    EXPECT_FALSE(FileEnsureDirExistA(""));
    EXPECT_TRUE(FileEnsureDirExistA("/"));
    EXPECT_TRUE(FileEnsureDirExistA(tmp.file("file")));  // a file there also counts
    EXPECT_FALSE(FileEnsureDirExistA(tmp.file("file/sub/deeper")));
    EXPECT_EQ(ListNames(tmp.path()), Paths{"file"});
}

// The walk a correct implementation must produce, computed with readdir and
// lstat: directories before their contents, everything in readdir order.
void ExpectedWalk(const std::string& dir, Paths& files, Paths& dirs, long long& total) {
    DIR* d = opendir(dir.c_str());
    ASSERT_NE(d, nullptr);
    while (const dirent* e = readdir(d)) {
        const std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        struct stat st;
        ASSERT_EQ(lstat((dir + "/" + name).c_str(), &st), 0);
        if (S_ISDIR(st.st_mode)) {
            dirs.push_back(dir + "/" + name);
            ExpectedWalk(dir + "/" + name, files, dirs, total);
        } else {
            files.push_back(dir + "/" + name);
            total += st.st_size;
        }
    }
    closedir(d);
}

// root/sub holds a file; root holds files listed both before and after sub,
// a link to sub and a dangling link.
struct WalkTree {
    TempDir tmp;
    std::string root = tmp.file("root");

    WalkTree() {
        EXPECT_EQ(mkdir(root.c_str(), 0755), 0);
        EXPECT_EQ(mkdir((root + "/sub").c_str(), 0755), 0);
        EXPECT_TRUE(WriteFileBytes(root + "/sub/inner", "12345"));
        EXPECT_EQ(symlink("sub", (root + "/link").c_str()), 0);
        EXPECT_EQ(symlink("nowhere-at-all", (root + "/dangling").c_str()), 0);
        // Add files until readdir yields some before and some after sub.
        for (int i = 0; i < 200 && !SubIsInTheMiddle(); ++i) {
            EXPECT_TRUE(WriteFileBytes(root + "/f" + std::to_string(i), std::string(i + 1, 'x')));
        }
        EXPECT_TRUE(SubIsInTheMiddle());
    }

    bool SubIsInTheMiddle() const {
        Paths files, dirs;
        long long total = 0;
        ExpectedWalk(root, files, dirs, total);
        const auto inner = std::find(files.begin(), files.end(), root + "/sub/inner");
        return inner != files.end() && inner != files.begin() && inner + 1 != files.end();
    }
};

TEST(Walks, ReaddirOrderWithSubdirectoryContentsInPlace) {
    WalkTree t;
    Paths files, dirs, expectFiles, expectDirs;
    long long total = 0, expectTotal = 0;
    ExpectedWalk(t.root, expectFiles, expectDirs, expectTotal);

    EXPECT_TRUE(FileGetDirInfoA(t.root + "/", files, dirs, total, true));
    EXPECT_EQ(files, expectFiles);
    EXPECT_EQ(dirs, Paths{t.root + "/sub"});
    EXPECT_EQ(total, expectTotal);

    Paths listed = {"already there"};
    EXPECT_TRUE(FileGetDirFileListA(t.root, listed));
    expectFiles.insert(expectFiles.begin(), "already there");
    EXPECT_EQ(listed, expectFiles);
}

TEST(Walks, LinksCountWithTheirOwnSizeAndAreNotFollowed) {
    WalkTree t;
    long long fileBytes = 5;  // sub/inner
    for (const auto& name : ListNames(t.root)) {
        if (name[0] == 'f')
            fileBytes += static_cast<long long>(ReadFileBytes(t.root + "/" + name).size());
    }
    // A link's own size is the length of its target text.
    const long long linkBytes = std::string("sub").size() + std::string("nowhere-at-all").size();
    EXPECT_EQ(FileGetDirSizeA(t.root), fileBytes + linkBytes);

    Paths files;
    FileGetDirFileListA(t.root, files);
    EXPECT_NE(std::find(files.begin(), files.end(), t.root + "/link"), files.end());
    EXPECT_NE(std::find(files.begin(), files.end(), t.root + "/dangling"), files.end());
    EXPECT_EQ(std::find(files.begin(), files.end(), t.root + "/link/inner"), files.end());

    Paths dirs;
    EXPECT_TRUE(FileGetDirListA(t.root, dirs));
    EXPECT_EQ(dirs, Paths{t.root + "/sub"});  // neither files nor the link to sub
}

TEST(Walks, NonRecursiveWalkAndEmptiness) {
    WalkTree t;
    Paths files, dirs;
    long long total = 0;
    EXPECT_TRUE(FileGetDirInfoA(t.root, files, dirs, total, false));
    EXPECT_EQ(std::find(files.begin(), files.end(), t.root + "/sub/inner"), files.end());
    EXPECT_EQ(dirs, Paths{t.root + "/sub"});

    TempDir tmp;
    ASSERT_EQ(mkdir(tmp.file("empty").c_str(), 0755), 0);
    ASSERT_EQ(mkdir(tmp.file("holder").c_str(), 0755), 0);
    ASSERT_EQ(mkdir(tmp.file("holder/empty").c_str(), 0755), 0);
    ASSERT_TRUE(WriteFileBytes(tmp.file("plain"), "x"));
    EXPECT_TRUE(FileIsDirEmptyA(tmp.file("empty")));
    EXPECT_FALSE(FileIsDirEmptyA(tmp.file("holder")));  // an empty subdirectory is an entry
    EXPECT_TRUE(FileIsDirEmptyA(tmp.file("missing")));
    EXPECT_TRUE(FileIsDirEmptyA(tmp.file("plain")));
}

TEST(Walks, MissingOrUnreadablePathsAddNothing) {
    TempDir tmp;
    ASSERT_TRUE(WriteFileBytes(tmp.file("plain"), "abc"));
    Paths files = {"kept"}, dirs = {"kept"};
    long long total = 7;
    EXPECT_FALSE(FileGetDirInfoA(tmp.file("missing"), files, dirs, total, true));
    EXPECT_FALSE(FileGetDirInfoA(tmp.file("plain"), files, dirs, total, true));
    EXPECT_EQ(files, Paths{"kept"});
    EXPECT_EQ(dirs, Paths{"kept"});
    EXPECT_EQ(total, 7);
    EXPECT_FALSE(FileGetDirFileListA(tmp.file("missing"), files));
    EXPECT_FALSE(FileGetDirListA(tmp.file("plain"), dirs));
    EXPECT_EQ(FileGetDirSizeA(tmp.file("missing")), 0);
    EXPECT_EQ(FileGetDirSizeA(tmp.file("plain")), 0);
}

TEST(Walks, BackslashNamesOnDiskAreWalkedAsTheyAre) {
    // "x\.." normalised would name the walked directory itself again.
    TempDir tmp;
    const std::string root = tmp.file("root");
    ASSERT_EQ(mkdir(root.c_str(), 0755), 0);
    ASSERT_EQ(mkdir((root + "/x").c_str(), 0755), 0);
    ASSERT_EQ(mkdir((root + "/x\\..").c_str(), 0755), 0);
    ASSERT_EQ(mkdir((root + "/y\\..\\..").c_str(), 0755), 0);
    ASSERT_TRUE(WriteFileBytes(root + "/x\\../f", "1234"));
    ASSERT_TRUE(WriteFileBytes(tmp.file("outside"), "outside the tree"));

    Paths files, dirs;
    long long total = 0;
    EXPECT_TRUE(FileGetDirInfoA(root, files, dirs, total, true));
    EXPECT_EQ(files, Paths{root + "/x\\../f"});
    EXPECT_EQ(dirs.size(), 3u);
    EXPECT_EQ(total, 4);
}

TEST(Walks, SocketTypeCountsAsDirectory) {
    // d_type 12 (socket) has the directory bit 4 set.
    TempDir tmp;
    const std::string sock = tmp.file("sock");
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    ASSERT_LT(sock.size(), sizeof addr.sun_path);
    std::strcpy(addr.sun_path, sock.c_str());
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    close(fd);
    Paths dirs, files;
    EXPECT_TRUE(FileGetDirListA(tmp.path(), dirs));
    EXPECT_EQ(dirs, Paths{sock});
    EXPECT_TRUE(FileGetDirFileListA(tmp.path(), files));
    EXPECT_TRUE(files.empty());
}

TEST(Walks, ListingRootRepeatsTheSeparator) {
    Paths dirs;
    ASSERT_TRUE(FileGetDirListA("/", dirs));
    ASSERT_FALSE(dirs.empty());
    for (const auto& d : dirs) {
        EXPECT_EQ(d.compare(0, 2, "//"), 0) << d;
        EXPECT_NE(d[2], '/') << d;
    }
}

}  // namespace
