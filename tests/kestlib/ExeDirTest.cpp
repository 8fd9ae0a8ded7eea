// The executable directory of a host laid out as an application bundle.
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include "KestLib/KestLib.h"
#include "tests/kestlib/TestUtil.h"
#include "tests/support/TempDir.h"

extern char** environ;

namespace {

// Copies the probe to `dir`/probe, runs it there and returns its two lines.
std::string RunProbeIn(const TempDir& tmp, const std::string& dir) {
    EXPECT_TRUE(KestLib::FileEnsureDirExistA(dir));
    const std::string probe = dir + "/probe";
    KestLib::FileCopyFileA(KESTLIB_EXEDIR_PROBE, probe, true);
    EXPECT_EQ(chmod(probe.c_str(), 0755), 0);
    const std::string out = tmp.file("probe.out");
    std::vector<char*> argv = {const_cast<char*>(probe.c_str()), const_cast<char*>(out.c_str()),
                               nullptr};
    pid_t pid;
    if (posix_spawn(&pid, probe.c_str(), nullptr, nullptr, argv.data(), environ) != 0) {
        ADD_FAILURE() << "cannot run " << probe;
        return "";
    }
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    return ReadFileBytes(out);
}

TEST(ExeDir, ExecutableOutsideABundleGivesEmpty) {
    EXPECT_EQ(KestLib::PathGetExeDirA(), "");
    EXPECT_EQ(KestLib::PathGetExeDirW(), L"");
}

TEST(ExeDir, ExecutableInsideABundleGivesItsMacOSDirectory) {
    TempDir tmp;
    const std::string macos = tmp.path() + "/Hôst App.app/Contents/MacOS";
    EXPECT_EQ(RunProbeIn(tmp, macos), macos + "\n" + macos + "\n");
}

TEST(ExeDir, OtherLayoutsAreNoBundle) {
    TempDir tmp;
    for (const char* dir : {"/Plain/Contents/MacOS", "/Host.app/Contents", "/Host.app/MacOS",
                            "/.app/Contents/MacOS", "/Host.app/Contents/MacOS/deeper"}) {
        EXPECT_EQ(RunProbeIn(tmp, tmp.path() + dir), "\n\n") << dir;
    }
}

}  // namespace
