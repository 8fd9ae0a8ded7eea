// Whole-file reads and writes, file sizes, deleting and copying files, opening
// streams.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <memory>

#include "KestLib/KestLib.h"
#include "tests/kestlib/TestUtil.h"
#include "tests/support/TempDir.h"

using namespace KestLib;

namespace {

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
using Buffer = std::unique_ptr<char, FreeDeleter>;

Buffer Read(const std::string& path, int* size) {
    return Buffer(static_cast<char*>(FileReadBufA(path, size)));
}

bool FdIsClosed(int fd) {
    return fcntl(fd, F_GETFD) == -1 && errno == EBADF;
}

std::string Binary(size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 131 + 7) % 256);
    return s;
}

TEST(WholeFileIo, ReadGivesTheBytesAndOneZeroByte) {
    TempDir tmp;
    const std::string data = std::string(
        "0123\0"
        "56789",
        10);
    ASSERT_TRUE(WriteFileBytes(tmp.file("ten"), data));
    int size = -1;
    Buffer buf = Read(tmp.path() + "\\ten", &size);  // the path is normalised
    ASSERT_TRUE(buf);
    EXPECT_EQ(size, 10);
    EXPECT_EQ(std::string(buf.get(), 10), data);
    EXPECT_EQ(buf.get()[10], '\0');
    EXPECT_TRUE(Read(tmp.file("ten"), nullptr));  // the size pointer may be null
}

TEST(WholeFileIo, ReadFailuresLeaveTheSizeAlone) {
    TempDir tmp;
    ASSERT_TRUE(WriteFileBytes(tmp.file("empty"), ""));
    int size = 77;
    EXPECT_FALSE(Read(tmp.file("empty"), &size));
    EXPECT_FALSE(Read(tmp.file("missing"), &size));
    EXPECT_EQ(FileReadBufImp(nullptr, &size), nullptr);

    // 2 GiB no longer fits the 32-bit size (a sparse file, nothing allocated).
    const int fd = open(tmp.file("huge").c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, 2147483648LL), 0);
    close(fd);
    EXPECT_FALSE(Read(tmp.file("huge"), &size));
    EXPECT_EQ(size, 77);
}

TEST(WholeFileIo, ReadTakesOverTheStream) {
    TempDir tmp;
    ASSERT_TRUE(WriteFileBytes(tmp.file("data"), "abc"));
    ASSERT_TRUE(WriteFileBytes(tmp.file("empty"), ""));
    FILE* f = std::fopen(tmp.file("data").c_str(), "rb");
    ASSERT_NE(f, nullptr);
    int fd = fileno(f);
    Buffer buf(static_cast<char*>(FileReadBufImp(f, nullptr)));
    EXPECT_STREQ(buf.get(), "abc");
    EXPECT_TRUE(FdIsClosed(fd));

    f = std::fopen(tmp.file("empty").c_str(), "rb");
    ASSERT_NE(f, nullptr);
    fd = fileno(f);
    EXPECT_EQ(FileReadBufImp(f, nullptr), nullptr);
    EXPECT_TRUE(FdIsClosed(fd));

    int fds[2];
    ASSERT_EQ(pipe(fds), 0);  // a stream without an end position
    ASSERT_EQ(write(fds[1], "xyz", 3), 3);
    close(fds[1]);
    f = fdopen(fds[0], "rb");
    EXPECT_EQ(FileReadBufImp(f, nullptr), nullptr);
    EXPECT_TRUE(FdIsClosed(fds[0]));
}

TEST(WholeFileIo, WriteCreatesOrReplaces) {
    TempDir tmp;
    const std::string data = Binary(10000);
    EXPECT_TRUE(FileWriteBufA(tmp.path() + "\\out", data.data(), static_cast<int>(data.size())));
    EXPECT_EQ(ReadFileBytes(tmp.file("out")), data);
    EXPECT_TRUE(FileWriteBufA(tmp.file("out"), "xyz", 0));  // size 0 empties it
    EXPECT_TRUE(Exists(tmp.file("out")));
    EXPECT_EQ(ReadFileBytes(tmp.file("out")), "");
}

TEST(WholeFileIo, WriteRefusalsTouchNothing) {
    TempDir tmp;
    ASSERT_TRUE(WriteFileBytes(tmp.file("keep"), "precious"));
    EXPECT_FALSE(FileWriteBufA(tmp.file("keep"), "x", -1));
    EXPECT_FALSE(FileWriteBufA(tmp.file("keep"), nullptr, 5));
    EXPECT_FALSE(FileWriteBufA(std::string(tmp.file("keep")) + '\0' + "tail", "x", 1));
    EXPECT_EQ(ReadFileBytes(tmp.file("keep")), "precious");
    EXPECT_FALSE(FileWriteBufA(tmp.file("no/such/dir/f"), "x", 1));
}

TEST(WholeFileIo, FileSizeUsesThePathUnchanged) {
    TempDir tmp;
    ASSERT_TRUE(WriteFileBytes(tmp.file("a\\b"), "12345"));  // a name holding a backslash
    ASSERT_EQ(mkdir(tmp.file("a").c_str(), 0755), 0);
    ASSERT_TRUE(WriteFileBytes(tmp.file("a/b"), "12"));
    EXPECT_EQ(FileGetFileSizeA(tmp.file("a\\b")), 5);
    EXPECT_EQ(FileGetFileSizeA(tmp.file("a/b")), 2);
    EXPECT_EQ(FileGetFileSizeA(tmp.file("missing")), 0);
}

TEST(FileDeleteAndCopy, DeleteRemovesFilesAndEmptyDirectories) {
    TempDir tmp;
    ASSERT_TRUE(WriteFileBytes(tmp.file("f"), "x"));
    ASSERT_EQ(mkdir(tmp.file("empty").c_str(), 0755), 0);
    ASSERT_EQ(mkdir(tmp.file("full").c_str(), 0755), 0);
    ASSERT_TRUE(WriteFileBytes(tmp.file("full/g"), "x"));
    EXPECT_TRUE(FileDeleteFileA(tmp.path() + "\\f"));
    EXPECT_TRUE(FileDeleteFileA(tmp.file("empty")));
    EXPECT_FALSE(FileDeleteFileA(tmp.file("full")));
    EXPECT_FALSE(FileDeleteFileA(tmp.file("missing")));
    EXPECT_EQ(ListNames(tmp.path()), std::vector<std::string>{"full"});
    EXPECT_EQ(ListNames(tmp.file("full")), std::vector<std::string>{"g"});
}

TEST(FileDeleteAndCopy, CopyReplacesTheDestinationWhatever) {
    TempDir tmp;
    const std::string data = Binary(3 * 4096 + 17);  // several chunks and a tail
    ASSERT_TRUE(WriteFileBytes(tmp.file("src"), data));
    ASSERT_TRUE(WriteFileBytes(tmp.file("dst"), std::string(50000, 'o')));
    EXPECT_TRUE(FileCopyFileA(tmp.file("src"), tmp.path() + "\\dst", false));
    EXPECT_EQ(ReadFileBytes(tmp.file("dst")), data);
    EXPECT_TRUE(FileCopyFileA(tmp.file("src"), tmp.file("new"), true));
    EXPECT_EQ(ReadFileBytes(tmp.file("new")), data);
}

TEST(FileDeleteAndCopy, CopyWithoutAReadableSourceTouchesNothing) {
    TempDir tmp;
    ASSERT_TRUE(WriteFileBytes(tmp.file("dst"), "precious"));
    ASSERT_EQ(mkdir(tmp.file("dir").c_str(), 0755), 0);
    EXPECT_TRUE(FileCopyFileA(tmp.file("missing"), tmp.file("dst"), true));
    EXPECT_TRUE(FileCopyFileA(tmp.file("dir"), tmp.file("dst"), true));
    EXPECT_TRUE(FileCopyFileA(tmp.file("dst"), tmp.path() + "//dst", true));  // itself
    EXPECT_EQ(ReadFileBytes(tmp.file("dst")), "precious");
    EXPECT_TRUE(FileCopyFileA(tmp.file("missing"), tmp.file("absent"), true));
    EXPECT_FALSE(Exists(tmp.file("absent")));
}

TEST(FileOpen, NarrowOpensThePathAsGiven) {
    TempDir tmp;
    EXPECT_EQ(FileOpenA(tmp.file("missing"), "rb"), nullptr);
    ASSERT_EQ(mkdir(tmp.file("sub").c_str(), 0755), 0);
    FILE* f = FileOpenA(tmp.file("sub\\f"), "wb");  // not normalised: a name with a backslash
    ASSERT_NE(f, nullptr);
    std::fclose(f);
    EXPECT_TRUE(Exists(tmp.file("sub\\f")));
    EXPECT_FALSE(Exists(tmp.file("sub/f")));
}

}  // namespace
