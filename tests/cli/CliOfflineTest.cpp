// Nothing listens on the compiled-in addresses. A refused connection is not
// one of the library's network failures, so every command ends with status
// 2, naming the addresses to check.
#include <gtest/gtest.h>

#include "Nimbra/NimbraConfig.h"
#include "tests/cli/CliRunner.h"
#include "tests/support/TempDir.h"

namespace {

TEST(CliOfflineTest, UnreachableServerGivesStatusAndAddresses) {
    TempDir home;
    CliEnv env;
    env.home = home.path();
    ASSERT_TRUE(WriteFileBytes(home.file("f.bin"), "data"));

    const std::vector<std::vector<std::string>> commands = {
        {"upload", home.file("f.bin"), "k/f.bin"},
        {"download", "k/f.bin", home.file("g.bin")},
        {"ls"},
        {"rm", "k/f.bin"},
        {"backup", home.file("f.bin"), "--user", "u"},
        {"records", "u"},
        {"usage", "u"},
    };
    for (const auto& args : commands) {
        const CliResult r = RunCli(env, args);
        EXPECT_EQ(r.status, 2) << args[0] << ": " << r.err;
        EXPECT_NE(r.err.find("Is the web API at " NIMBRA_SERVER_URL
                             " and the store at " NIMBRA_ENDPOINT " reachable?"),
                  std::string::npos)
            << args[0] << ": " << r.err;
        EXPECT_NE(r.err.find("Library log: " + home.file("nimbra.log")), std::string::npos)
            << r.err;
        EXPECT_EQ(r.out, "");
    }
    // The library's reasons are in the log.
    EXPECT_NE(ReadFileBytes(home.file("nimbra.log")).find("GetStsKey fail!"), std::string::npos);
}

}  // namespace
