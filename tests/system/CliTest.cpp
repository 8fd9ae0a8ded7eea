// The nimbra command line of the tests' library copy, run as a user runs it:
// with pipes, or on a pseudo-terminal for the interactive stop. Only its exit
// statuses, one line of each main command's output and one control path.
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <utmp.h>

#include <cstdlib>
#include <functional>

#include "tests/system/SystemTest.h"

#ifndef NIMBRA_CLI
#error "NIMBRA_CLI must name the nimbra binary of the tests' library copy"
#endif

namespace {

using namespace systest;

struct CliResult {
    int status = -1;
    std::string out, err;
};

int ExitStatus(int status) {
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// A shell command running nimbra with `args` (no single quotes in them),
// with HOME and the log file in `home`.
std::string Command(const TempDir& home, const std::vector<std::string>& args) {
    std::string command = "cd '" + home.path() + "' && HOME='" + home.path() + "' NIMBRA_LOG='" +
                          home.file("nimbra.log") + "' TERM=xterm exec '" NIMBRA_CLI "'";
    for (const std::string& arg : args) command += " '" + arg + "'";
    return command;
}

// nimbra with its output in two files of `home`.
CliResult RunNimbra(const TempDir& home, const std::vector<std::string>& args) {
    CliResult r;
    r.status = ExitStatus(std::system((Command(home, args) + " </dev/null >out 2>err").c_str()));
    r.out = ReadFileBytes(home.file("out"));
    r.err = ReadFileBytes(home.file("err"));
    return r;
}

// nimbra on a pseudo-terminal that is its controlling terminal. The test
// keeps the terminal open to read the mode the program left behind.
class Pty {
public:
    Pty(const TempDir& home, const std::vector<std::string>& args) {
        const std::string command = Command(home, args);
        EXPECT_EQ(openpty(&master_, &slave_, nullptr, nullptr, nullptr), 0);
        pid_ = fork();
        if (pid_ == 0) {
            close(master_);
            if (login_tty(slave_) == 0) execl("/bin/sh", "sh", "-c", command.c_str(), nullptr);
            _exit(127);
        }
    }
    ~Pty() {
        if (!exited_) kill(pid_, SIGKILL), waitpid(pid_, nullptr, 0);
        close(master_);
        close(slave_);
    }
    // Reads output for at most a minute, until `done` holds.
    bool WaitFor(const std::function<bool()>& done) {
        for (int i = 0; i < 600 && !done(); ++i) Read(100);
        return done();
    }
    bool WaitFor(const std::string& text) {
        return WaitFor([&] { return output_.find(text) != std::string::npos; });
    }
    void Type(const std::string& keys) { EXPECT_EQ(write(master_, keys.data(), keys.size()), 1); }
    void Signal(int sig) { kill(pid_, sig); }
    // The exit status, with the output read to its end; -1 if still running.
    int Wait() {
        int status = 0;
        WaitFor([&] { return exited_ || (exited_ = waitpid(pid_, &status, WNOHANG) == pid_); });
        while (Read(0)) {
        }
        return exited_ ? ExitStatus(status) : -1;
    }
    termios Mode() const {
        termios mode{};
        tcgetattr(slave_, &mode);
        return mode;
    }
    const std::string& output() const { return output_; }

private:
    bool Read(int timeout_ms) {
        pollfd fd{master_, POLLIN, 0};
        char buf[4096];
        const ssize_t n = poll(&fd, 1, timeout_ms) > 0 ? read(master_, buf, sizeof buf) : 0;
        if (n > 0) output_.append(buf, static_cast<size_t>(n));
        return n > 0;
    }

    int master_ = -1, slave_ = -1;
    pid_t pid_ = -1;
    bool exited_ = false;
    std::string output_;
};

const std::string kReachable =
    "Is the web API at " NIMBRA_SERVER_URL " and the store at " NIMBRA_ENDPOINT " reachable?";

TEST(CliOffline, UsageErrorsAndUnreachableServers) {
    TempDir home;
    const struct {
        std::vector<std::string> args;
        std::string message;
    } usage[] = {
        {{}, "nimbra: A subcommand is required\n  Try 'nimbra --help'.\n"},
        {{"frob"}, "nimbra: unknown command 'frob'\n  Try 'nimbra --help'.\n"},
        {{"download", "/a/x.bin", "out"},
         "nimbra: object keys do not start with '/'; try 'a/x.bin'\n  Try 'nimbra download "
         "--help'.\n"},
    };
    for (const auto& row : usage) {
        const CliResult r = RunNimbra(home, row.args);
        EXPECT_EQ(r.status, 64) << r.err;
        EXPECT_EQ(r.err, row.message);
    }
    const CliResult help = RunNimbra(home, {"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("  backup "), std::string::npos) << help.out;
    const CliResult version = RunNimbra(home, {"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "nimbra " NIMBRA_VERSION "\nweb API:  " NIMBRA_SERVER_URL
                           "\nendpoint: " NIMBRA_ENDPOINT "\nbucket:   " NIMBRA_BUCKET "\n");

    ASSERT_TRUE(WriteFileBytes(home.file("f.bin"), "data"));
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"upload", home.file("f.bin"), "k/f.bin"}, {"records", "u"}}) {
        const CliResult r = RunNimbra(home, args);
        EXPECT_EQ(r.status, 2) << r.err;
        EXPECT_NE(r.err.find(kReachable), std::string::npos) << r.err;
    }
    EXPECT_NE(ReadFileBytes(home.file("nimbra.log")).find("GetStsKey fail!"), std::string::npos);
}

class Cli : public ServerSuite {
protected:
    CliResult Nimbra(const std::vector<std::string>& args) { return RunNimbra(dir_, args); }
};

TEST_F(Cli, MainCommandsAndTheirExitStatuses) {
    const std::string local = MakeFile("notes.db", RandomBytes(1234, 3));
    const CliResult backup =
        Nimbra({"backup", local, "--user", "dora", "--name", "weekly", "--expire-days", "30"});
    EXPECT_EQ(backup.status, 0) << backup.err;
    EXPECT_NE(backup.out.find("\nregistered backup 'weekly' of dora: notes.db, 1.2 KiB, "),
              std::string::npos)
        << backup.out;
    const CliResult ls = Nimbra({"ls", "dora/weekly"});
    EXPECT_EQ(ls.status, 0) << ls.err;
    EXPECT_EQ(ls.out.substr(0, 8) + ls.out.substr(ls.out.size() - 11), "- 1234    notes.db\n")
        << ls.out;
    const CliResult records = Nimbra({"records", "dora"});
    EXPECT_EQ(records.status, 0) << records.err;
    EXPECT_NE(records.out.find("weekly"), std::string::npos) << records.out;
    EXPECT_EQ(Nimbra({"usage", "dora"}).out, "dora uses 1234 bytes (1.2 KiB)\n");
    const CliResult down = Nimbra({"download", "dora/weekly/notes.db", dir_.file("copy.db")});
    EXPECT_EQ(down.status, 0) << down.err;
    EXPECT_EQ(ReadFileBytes(dir_.file("copy.db")), ReadFileBytes(local));
    const CliResult rm = Nimbra({"rm", "dora/weekly/notes.db", "--user", "dora"});
    EXPECT_EQ(rm.status, 0) << rm.err;
    EXPECT_EQ(rm.out, "removed dora/weekly/notes.db\ndeleted the backup records of dora\n");

    const CliResult missing = Nimbra({"download", "dora/weekly/notes.db", dir_.file("x")});
    EXPECT_EQ(missing.status, 2);
    EXPECT_NE(missing.err.find("no object dora/weekly/notes.db"), std::string::npos);
    server_->ScriptApi(R"({"path":"/getStsKey","status":500,"body":"{}","count":1})");
    const CliResult refused = Nimbra({"upload", local, "k/notes.db"});
    EXPECT_EQ(refused.status, 2);
    EXPECT_NE(refused.err.find("no credentials from the web API"), std::string::npos);
    ASSERT_EQ(Nimbra({"upload", local, "k/notes.db"}).status, 0);
    server_->AddFault(R"({"method":"GET","subresource":"none","action":"close"})");
    const CliResult dropped = Nimbra({"download", "k/notes.db", dir_.file("y")});
    EXPECT_EQ(dropped.status, 1) << dropped.err;
    EXPECT_NE(dropped.err.find("(network failure)"), std::string::npos) << dropped.err;
}

// A key pauses the upload and Ctrl-C stops it through the library.
TEST_F(Cli, KeysAndCtrlCOnATerminal) {
    const std::string local = MakeFile("big.bin", RandomBytes(10 * kMiB + 1, 4));  // two parts
    server_->AddFault(
        R"({"method":"PUT","subresource":"partNumber","count":-1,"action":"delay","delay_ms":1000})");
    Pty session(dir_, {"upload", local, "keys/big.bin"});
    ASSERT_TRUE(session.WaitFor("\rupload [")) << session.output();
    session.Type("p");
    ASSERT_TRUE(session.WaitFor("paused, r resumes")) << session.output();
    session.Signal(SIGINT);
    EXPECT_EQ(session.Wait(), 3) << session.output();
    EXPECT_NE(session.output().find("stopping (Ctrl-C again to exit at once)..."),
              std::string::npos);
    EXPECT_NE(session.output().find("stopped; the object was not created"), std::string::npos);
    EXPECT_EQ(server_->GetStats().requests["CompleteMultipartUpload"], 0);
    const termios mode = session.Mode();
    EXPECT_EQ(mode.c_lflag & (ICANON | ECHO), static_cast<tcflag_t>(ICANON | ECHO))
        << "the terminal is left in line mode with echo";
}

}  // namespace
