// Runs the backup cycle host (CycleHost.cpp, linked with libNimbra.so) under
// valgrind memcheck against nimbra-devserver on the compiled-in addresses
// (the server itself is not under valgrind). Fails on any memcheck error or
// definite leak; suppressions (tests/valgrind.supp) cover only one-time
// allocations of third-party libraries.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support/CompiledIn.h"
#include "tests/support/DevServer.h"
#include "tests/support/TempDir.h"

namespace {

TEST(Valgrind, BackupCycleHasNoMemoryErrorsOrDefiniteLeaks) {
    if (compiled_in::ApiPort() == 0 || compiled_in::StorePort() == 0)
        GTEST_SKIP() << "the compiled-in addresses are not on 127.0.0.1";
    DevServerOptions opts;
    opts.api_port = compiled_in::ApiPort();
    opts.store_port = compiled_in::StorePort();
    opts.bucket = compiled_in::Bucket();
    DevServer server(opts);
    TempDir dir;
    const std::string log = dir.file("memcheck.log");

    std::vector<std::string> args = {VALGRIND,
                                     "--tool=memcheck",
                                     "--leak-check=full",
                                     "--errors-for-leak-kinds=definite",
                                     "--error-exitcode=1",
                                     "--suppressions=" VALGRIND_SUPP,
                                     "--log-file=" + log,
                                     CYCLE_HOST,
                                     dir.path()};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    std::ifstream in(log);
    const std::string report((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
    // The summaries, for the test log.
    for (const char* heading : {"HEAP SUMMARY:", "LEAK SUMMARY:", "ERROR SUMMARY:"}) {
        const size_t at = report.find(heading);
        if (at != std::string::npos) {
            const size_t end = report.find("\n==", report.find('\n', at) + 1);
            std::cout << report.substr(at,
                                       heading[0] == 'E' ? report.find('\n', at) - at : end - at)
                      << "\n";
        }
    }
    ASSERT_TRUE(WIFEXITED(status)) << report;
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: memcheck errors, 2: a cycle step failed\n" << report;
    EXPECT_NE(report.find("ERROR SUMMARY: 0 errors"), std::string::npos) << report;
}

}  // namespace
