// Deleting, copying and moving directory trees, with names a shell would
// misread.
#include <gtest/gtest.h>

#include "KestLib/KestLib.h"
#include "tests/kestlib/TestUtil.h"
#include "tests/support/TempDir.h"

using namespace KestLib;

namespace {

using Names = std::vector<std::string>;

// Names that a shell command line would expand, split or run.
const Names kHostileNames = {
    "a b",           "$(touch pwned)",
    "`touch pwned`", "x\"; touch pwned; echo \"",
    "; touch pwned", "-rf",
    "line\nbreak",   "*",
    "it's",          "$HOME",
    "--help",
};

// A tree "<tmp>/work/<name>/inner/file" beside "<tmp>/work/keep", with the
// working directory in <tmp> so anything a shell ran would land there.
struct Workspace {
    TempDir tmp;
    std::string work = tmp.file("work");

    Workspace() {
        EXPECT_TRUE(FileEnsureDirExistA(work + "/keep"));
        EXPECT_TRUE(WriteFileBytes(work + "/keep/k", "keep"));
    }
    std::string MakeTree(const std::string& name) {
        const std::string root = work + "/" + name;
        EXPECT_EQ(mkdir(root.c_str(), 0755), 0) << name;
        EXPECT_EQ(mkdir((root + "/inner").c_str(), 0755), 0);
        EXPECT_TRUE(WriteFileBytes(root + "/inner/file", "payload " + name));
        return root;
    }
};

TEST(TreeOperations, DeleteRemovesTheWholeTree) {
    Workspace ws;
    const std::string root = ws.MakeTree("tree");
    EXPECT_TRUE(FileDeleteDirA(root + "/"));
    EXPECT_FALSE(Exists(root));
    EXPECT_TRUE(FileDeleteDirA(ws.work + "\\never-existed"));
    ws.MakeTree("other");
    EXPECT_TRUE(FileDeleteDirA(ws.work + "\\other"));  // backslashes separate
    EXPECT_EQ(ListNames(ws.work), Names{"keep"});
}

TEST(TreeOperations, CopyIsRecursiveAndIntoAnExistingDirectory) {
    Workspace ws;
    const std::string root = ws.MakeTree("tree");
    EXPECT_EQ(FileCopyDirA(root + "/", ws.tmp.file("copy/"), nullptr), 0);
    EXPECT_EQ(ReadFileBytes(ws.tmp.file("copy/inner/file")), "payload tree");
    EXPECT_EQ(FileCopyDirA(root, ws.tmp.file("copy"), nullptr), 0);  // now exists: goes inside
    EXPECT_EQ(ReadFileBytes(ws.tmp.file("copy/tree/inner/file")), "payload tree");
    EXPECT_EQ(ReadFileBytes(root + "/inner/file"), "payload tree");
    EXPECT_EQ(FileCopyDirA(ws.work + "/missing", ws.tmp.file("nothing"), nullptr), 0);
    EXPECT_FALSE(Exists(ws.tmp.file("nothing")));
}

TEST(TreeOperations, RenameMovesAndExistenceOfTheDestinationDecides) {
    Workspace ws;
    const std::string root = ws.MakeTree("tree");
    EXPECT_TRUE(FileRenameDirA(root + "/", ws.tmp.file("moved/")));
    EXPECT_FALSE(Exists(root));
    EXPECT_EQ(ReadFileBytes(ws.tmp.file("moved/inner/file")), "payload tree");
    EXPECT_TRUE(FileRenameDirA(ws.tmp.file("moved"), ws.work + "/keep"));  // goes inside keep
    EXPECT_EQ(ReadFileBytes(ws.work + "/keep/moved/inner/file"), "payload tree");
    EXPECT_FALSE(FileRenameDirA(ws.work + "/missing", ws.tmp.file("nowhere")));
    EXPECT_TRUE(FileRenameDirA(ws.work + "/missing", ws.work + "/keep"));  // existed before
}

TEST(TreeOperations, HostileNamesActOnExactlyThatPath) {
    Workspace ws;
    CwdGuard cwd(ws.tmp.path());
    for (const auto& name : kHostileNames) {
        const std::string root = ws.MakeTree(name);
        EXPECT_EQ(FileCopyDirA(root, ws.tmp.file("copy"), nullptr), 0) << name;
        EXPECT_EQ(ReadFileBytes(ws.tmp.file("copy/inner/file")), "payload " + name);

        EXPECT_TRUE(FileRenameDirA(ws.tmp.file("copy"), ws.tmp.file("moved"))) << name;
        EXPECT_EQ(ReadFileBytes(ws.tmp.file("moved/inner/file")), "payload " + name);

        EXPECT_TRUE(FileDeleteDirA(ws.tmp.file("moved"))) << name;
        EXPECT_TRUE(FileDeleteDirA(root)) << name;
        EXPECT_EQ(ListNames(ws.work), Names{"keep"}) << name;
        EXPECT_EQ(ReadFileBytes(ws.work + "/keep/k"), "keep");
        // Nothing was created anywhere else: no command of the name ran.
        EXPECT_EQ(ListNames(ws.tmp.path()), Names{"work"}) << name;
    }
}

TEST(TreeOperations, RelativeNamesThatLookLikeOptions) {
    Workspace ws;
    CwdGuard cwd(ws.work);
    ws.MakeTree("-rf");
    EXPECT_EQ(FileCopyDirA("-rf", "--version", nullptr), 0);
    EXPECT_EQ(ReadFileBytes(ws.work + "/--version/inner/file"), "payload -rf");
    EXPECT_TRUE(FileRenameDirA("--version", "-i"));
    EXPECT_TRUE(FileDeleteDirA("-i"));
    EXPECT_TRUE(FileDeleteDirA("-rf"));
    EXPECT_EQ(ListNames(ws.work), Names{"keep"});
}

TEST(TreeOperations, PathsCutByANulAreNotActedOn) {
    Workspace ws;
    const std::string withNul = ws.work + std::string("\0/keep", 6);
    EXPECT_FALSE(FileDeleteDirA(withNul));
    EXPECT_FALSE(FileRenameDirA(withNul, ws.tmp.file("moved")));
    EXPECT_EQ(FileCopyDirA(withNul, ws.tmp.file("copy"), nullptr), 0);
    EXPECT_EQ(ListNames(ws.tmp.path()), Names{"work"});
    EXPECT_EQ(ReadFileBytes(ws.work + "/keep/k"), "keep");
}

}  // namespace
