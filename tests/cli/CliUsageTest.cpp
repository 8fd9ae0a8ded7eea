// Command-line mistakes: status 64 with one line saying what is wrong and one
// pointing at the help, before anything reaches the network. Also --help and
// --version.
#include <gtest/gtest.h>

#include <sstream>

#include "Nimbra/NimbraConfig.h"
#include "tests/cli/CliRunner.h"
#include "tests/support/TempDir.h"

namespace {

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

class CliUsageTest : public ::testing::Test {
protected:
    void SetUp() override { env_.home = home_.path(); }

    // Runs a command that must be refused as a usage error; returns its
    // first stderr line and checks the hint line.
    std::string Refused(const std::vector<std::string>& args, const std::string& help_command) {
        const CliResult r = RunCli(env_, args);
        EXPECT_EQ(r.status, 64) << r.err;
        EXPECT_EQ(r.out, "");
        const std::vector<std::string> lines = Lines(r.err);
        EXPECT_EQ(lines.size(), 2u) << r.err;
        if (lines.size() != 2) return "";
        EXPECT_EQ(lines[1], "  Try '" + help_command + " --help'.");
        return lines[0];
    }

    TempDir home_;
    CliEnv env_;
};

TEST_F(CliUsageTest, MalformedCommandLinesExitWith64AndAHint) {
    EXPECT_EQ(Refused({}, "nimbra"), "nimbra: A subcommand is required");
    EXPECT_EQ(Refused({"frob", "x"}, "nimbra"), "nimbra: unknown command 'frob'");
    EXPECT_NE(Refused({"upload", "only-one"}, "nimbra upload").find("KEY is required"),
              std::string::npos);
    EXPECT_NE(Refused({"ls", "--frob"}, "nimbra ls").find("--frob"), std::string::npos);
    EXPECT_NE(Refused({"backup", "file"}, "nimbra backup").find("--user is required"),
              std::string::npos);
    EXPECT_NE(Refused({"records", "a", "b"}, "nimbra records").find("b"), std::string::npos);
    EXPECT_NE(Refused({"backup", "f", "--user", "u", "--expire-days", "soon"}, "nimbra backup")
                  .find("soon"),
              std::string::npos);
}

TEST_F(CliUsageTest, UnusableNamesAreRefusedBeforeAnyRequest) {
    EXPECT_EQ(Refused({"download", "/alice/x.bin", "out"}, "nimbra download"),
              "nimbra: object keys do not start with '/'; try 'alice/x.bin'");
    EXPECT_EQ(Refused({"download", "alice/", "out"}, "nimbra download"),
              "nimbra: 'alice/' names a folder, not an object");
    EXPECT_EQ(Refused({"rm", ""}, "nimbra rm"), "nimbra: the object key is empty");
    EXPECT_EQ(Refused({"records", "a/b"}, "nimbra records"), "nimbra: the user name contains '/'");
    EXPECT_EQ(Refused({"usage", std::string(255, 'u')}, "nimbra usage"),
              "nimbra: the user name is longer than 254 bytes");
    EXPECT_EQ(Refused({"backup", "f", "--user", "u", "--name", "a\tb"}, "nimbra backup"),
              "nimbra: the backup name contains control characters");
    EXPECT_EQ(Refused({"backup", "f", "--user", "u", "--expire-days", "-1"}, "nimbra backup"),
              "nimbra: --expire-days must be from 0 to 365000");
}

TEST_F(CliUsageTest, HelpAndVersion) {
    CliResult help = RunCli(env_, {"--help"});
    EXPECT_EQ(help.status, 0);
    for (const char* command : {"upload", "download", "ls", "rm", "records", "usage", "backup"})
        EXPECT_NE(help.out.find(std::string("  ") + command + " "), std::string::npos) << command;
    EXPECT_NE(help.out.find("64 usage error"), std::string::npos);

    CliResult sub = RunCli(env_, {"backup", "--help"});
    EXPECT_EQ(sub.status, 0);
    EXPECT_NE(sub.out.find("--expire-days"), std::string::npos) << sub.out;

    CliResult version = RunCli(env_, {"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out,
              std::string("nimbra ") + NIMBRA_VERSION + "\nweb API:  " + NIMBRA_SERVER_URL +
                  "\nendpoint: " + NIMBRA_ENDPOINT + "\nbucket:   " + NIMBRA_BUCKET + "\n");
}

}  // namespace
