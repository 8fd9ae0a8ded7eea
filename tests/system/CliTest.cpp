// The nimbra command line of the tests' library copy, run as a user runs it:
// with pipes, or on a pseudo-terminal (50 columns wide) for the keys, Ctrl-C
// and the progress line.
#include <glob.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <utmp.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <future>
#include <iterator>
#include <sstream>

#include "tests/support/TestServers.h"
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

// A shell command running nimbra with `args` (no single quotes in them), in
// `home`, with HOME, TMPDIR and the log file there.
std::string Command(const TempDir& home, const std::vector<std::string>& args) {
    std::string command = "cd '" + home.path() + "' && HOME=. TMPDIR='" + home.path() +
                          "' NIMBRA_LOG=nimbra.log TERM=xterm exec '" NIMBRA_CLI "'";
    for (const std::string& arg : args) command += " '" + arg + "'";
    return command;
}

// nimbra with standard input from `in` (a file of `home`, or /dev/null), and
// its output in two files of `home`; `out` may instead name a pipe.
CliResult RunNimbra(const TempDir& home, const std::vector<std::string>& args,
                    const std::string& in = "/dev/null", const std::string& out = ">out") {
    CliResult r;
    const std::string shell = Command(home, args) + " <" + in + " 2>err " + out;
    r.status = ExitStatus(std::system(shell.c_str()));
    r.out = ReadFileBytes(home.file("out"));
    r.err = ReadFileBytes(home.file("err"));
    return r;
}

// How many files match `pattern`.
size_t Matches(const std::string& pattern) {
    glob_t found{};
    const size_t count = glob(pattern.c_str(), 0, nullptr, &found) == 0 ? found.gl_pathc : 0;
    globfree(&found);
    return count;
}

// nimbra on a 50-column pseudo-terminal that is its controlling terminal.
// The test keeps the terminal open to read the mode the program left behind.
class Pty {
public:
    Pty(const TempDir& home, const std::vector<std::string>& args) {
        const std::string command = Command(home, args);
        winsize size{};
        size.ws_col = 50;
        size.ws_row = 24;
        EXPECT_EQ(openpty(&master_, &slave_, nullptr, nullptr, &size), 0);
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

// Seconds from an interrupt to the exit of the program on `session`.
double SecondsToExitAfterCtrlC(Pty& session, int& status) {
    const auto start = std::chrono::steady_clock::now();
    session.Signal(SIGINT);
    status = session.Wait();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

const std::string kReachable =
    "Is the web API at " NIMBRA_SERVER_URL " and the store at " NIMBRA_ENDPOINT " reachable?";

TEST(CliOffline, UsageErrorsUnreachableAndSilentServers) {
    TempDir home;
    // Usage errors exit 64 with a hint at the help of the subcommand, if one was known.
    const struct {
        std::vector<std::string> args;
        std::string message;
    } usage[] = {
        {{}, "A subcommand is required"},
        {{"frob"}, "unknown command 'frob'"},
        {{"download", "/a/x.bin", "out"}, "object keys do not start with '/'; try 'a/x.bin'"},
        {{"restore", "u"}, "name the record by --id or by --pos"},
        {{"upload", "-", "k/"}, "an upload of standard input needs the object's full key"},
    };
    for (const auto& row : usage) {
        const CliResult r = RunNimbra(home, row.args);
        const std::string help = row.args.size() > 1 ? row.args[0] + " " : "";
        EXPECT_EQ(r.status, 64) << r.err;
        EXPECT_EQ(r.err, "nimbra: " + row.message + "\n  Try 'nimbra " + help + "--help'.\n");
    }
    const CliResult version = RunNimbra(home, {"--version"});
    EXPECT_EQ(version.out, "nimbra " NIMBRA_VERSION "\nweb API:  " NIMBRA_SERVER_URL
                           "\nendpoint: " NIMBRA_ENDPOINT "\nbucket:   " NIMBRA_BUCKET "\n");

    // Nothing listens: every command says so and exits 1.
    ASSERT_TRUE(WriteFileBytes(home.file("f.bin"), "data"));
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"upload", "f.bin", "k/f.bin"}, {"records", "u"}, {"usage", "u"}, {"ls"}}) {
        const CliResult r = RunNimbra(home, args);
        EXPECT_EQ(r.status, 1) << args[0] << ": " << r.err;
        EXPECT_NE(r.err.find("cannot reach the web API: could not connect"), std::string::npos);
        EXPECT_NE(r.err.find(kReachable), std::string::npos) << r.err;
    }

    // A web API that takes the connection and never answers: Ctrl-C still
    // ends a command outside a transfer or listing at once.
    int port = PortOf(NIMBRA_SERVER_URL);
    const int listener = webtest::BindLoopback(port);
    ASSERT_EQ(listen(listener, 4), 0);
    Pty session(home, {"records", "u"});
    pollfd waiting{listener, POLLIN, 0};
    ASSERT_EQ(poll(&waiting, 1, 30000), 1);
    const int connection = accept(listener, nullptr, nullptr);
    int status = 0;
    EXPECT_LT(SecondsToExitAfterCtrlC(session, status), 2.5);
    EXPECT_EQ(status, 130) << session.output();
    close(connection);
    close(listener);
}

class Cli : public ServerSuite {
protected:
    CliResult Nimbra(const std::vector<std::string>& args, const std::string& in = "/dev/null") {
        return RunNimbra(dir_, args, in);
    }
    // The key a backup's output names ("... as KEY").
    static std::string KeyOf(const CliResult& backup) {
        const size_t as = backup.out.rfind(" as ");
        return as == std::string::npos ? "" : backup.out.substr(as + 4, backup.out.size() - as - 5);
    }
    void PostRecord(const std::string& json) {
        EXPECT_EQ(server_->ApiRequest("POST", "/uploadUserInfo", json).first, 200) << json;
    }
};

// Backing up a changed file, or another file of the same name, keeps every
// version; restore gets any of them back by id or position.
TEST_F(Cli, BackupsKeepEveryVersion) {
    const std::string a = MakeFile("report.txt", "first");
    ASSERT_EQ(mkdir(dir_.file("b").c_str(), 0755), 0);
    const std::string other = MakeFile("b/report.txt", "other file");
    std::vector<std::string> keys;
    for (const std::string& local : {a, other, std::string()}) {
        if (local.empty()) {
            ASSERT_TRUE(WriteFileBytes(a, "second"));
        }
        const CliResult backup = Nimbra({"backup", local.empty() ? a : local, "--user", "dave"});
        ASSERT_EQ(backup.status, 0) << backup.err;
        keys.push_back(KeyOf(backup));
        EXPECT_EQ(keys.back().rfind("dave/default/", 0), 0u) << backup.out;
    }
    EXPECT_TRUE(keys[0] != keys[1] && keys[1] != keys[2] && keys[0] != keys[2]);
    ASSERT_TRUE(WriteFileBytes(a, "newest, not backed up"));

    const CliResult records = Nimbra({"records", "dave"});
    EXPECT_EQ(std::count(records.out.begin(), records.out.end(), '\n'), 4) << records.out;
    EXPECT_EQ(records.out.rfind("#  ID  DATE", 0), 0u) << records.out;
    std::remove(a.c_str());
    EXPECT_EQ(Nimbra({"restore", "dave", "--pos", "3"}).status, 0);  // the oldest
    EXPECT_EQ(ReadFileBytes(a), "first");
    EXPECT_EQ(Nimbra({"restore", "dave", "--pos", "2", "copy.txt"}).status, 0);
    EXPECT_EQ(ReadFileBytes(dir_.file("copy.txt")), "other file");
    EXPECT_EQ(Nimbra({"restore", "dave", "--pos", "1", "-"}).out, "second");

    // rm says what it deletes: the bytes of which backup, and which records.
    const CliResult rm = Nimbra({"rm", keys[0]});
    EXPECT_EQ(rm.status, 0) << rm.err;
    EXPECT_NE(rm.out.find(", the bytes of the backup 'default' of dave from "), std::string::npos);
    EXPECT_NE(rm.out.find("), whose record stays\n"), std::string::npos) << rm.out;
    const CliResult gone = Nimbra({"restore", "dave", "--pos", "3", "x"});
    EXPECT_EQ(gone.status, 2);
    EXPECT_NE(gone.err.find("are gone: no object " + keys[0]), std::string::npos) << gone.err;
    const CliResult all = Nimbra({"rm", keys[1], "--user", "dave"});
    EXPECT_EQ(all.status, 0) << all.err;
    EXPECT_NE(all.out.find("\ndeleted all 3 backup records of dave (ids "), std::string::npos)
        << all.out;
}

// A record's file name is one plain name, and a restore into a folder (or
// the current one) puts a new file there or nothing: never over a file or
// through a symlink, not even one that appears while the bytes come.
TEST_F(Cli, RestoreWritesOnlyWhatTheUserNamed) {
    ASSERT_EQ(mkdir(dir_.file("dl").c_str(), 0755), 0);
    for (const char* name : {"victim", "outside.txt", "dl/notes.txt"}) MakeFile(name, "mine");
    ASSERT_EQ(symlink("../outside.txt", dir_.file("dl/link").c_str()), 0);
    ASSERT_EQ(symlink("../made.txt", dir_.file("dl/dangling").c_str()), 0);
    const auto untouched = [&] {
        return ReadFileBytes(dir_.file("victim")) + ReadFileBytes(dir_.file("outside.txt")) +
                       ReadFileBytes(dir_.file("dl/notes.txt")) ==
                   "mineminemine" &&
               access(dir_.file("made.txt").c_str(), F_OK) != 0 &&
               Matches(dir_.file("*/*nimbra-*")) == 0;
    };
    // Each row: the record's file name as JSON has it (its object is stored
    // unless it holds an escape: a listing cannot carry a control character),
    // where to restore and what the output says. Only the last row restores.
    const struct {
        std::string json, local, says;
    } cases[] = {
        {"../victim", "dl", "the file name '../victim', which is not a plain file name"},
        {"a\\u0001b", "dl", "the file name 'a\\x01b', which is not a plain file name"},
        {"notes.txt", "dl",
         "dl/notes.txt exists; nothing was restored\n  To overwrite it, name it: nimbra restore "
         "alice dl/notes.txt --pos 1"},
        {"link", "dl", "dl/link exists; nothing was restored"},
        {"dangling", "dl/", "dl/dangling exists; nothing was restored"},
        {"new.txt", "dl", "restoring the backup 'b' of alice"},
    };
    for (const auto& c : cases) {
        PostRecord(R"({"name":"alice","backup_name":"b","date_time":"2024-12-05 15:40:02",)"
                   R"("file_size":6,"file_name":")" +
                   c.json + "\"}");
        if (c.json.find('\\') == std::string::npos)
            PutObject("alice/b/20241205T154002/" + c.json, "server");
        const CliResult r = Nimbra({"restore", "alice", "--pos", "1", c.local});
        EXPECT_EQ(r.status, &c == std::end(cases) - 1 ? 0 : 2) << c.json << "\n" << r.err;
        EXPECT_NE((r.err + r.out).find(c.says), std::string::npos) << r.err;
        EXPECT_TRUE(untouched()) << c.json;
    }
    EXPECT_EQ(ReadFileBytes(dir_.file("dl/new.txt")), "server");
    EXPECT_EQ(Nimbra({"restore", "alice", "--pos", "1", "dl/notes.txt"}).status, 0);
    EXPECT_EQ(ReadFileBytes(dir_.file("dl/notes.txt")), "server");

    // A file that appears while the download runs is not replaced either.
    server_->AddFault(R"({"method":"GET","subresource":"none","action":"delay","delay_ms":1000})");
    const long gets = server_->GetStats().requests["GetObject"];
    auto restore = std::async(std::launch::async, [&] {
        return Nimbra({"restore", "alice", "--pos", "1"});
    });
    while (server_->GetStats().requests["GetObject"] == gets) usleep(10000);
    MakeFile("new.txt", "mine");
    const CliResult late = restore.get();
    EXPECT_EQ(late.status, 2);
    EXPECT_NE(late.err.find("new.txt exists; nothing was restored"), std::string::npos) << late.err;
    EXPECT_EQ(ReadFileBytes(dir_.file("new.txt")), "mine");
    EXPECT_EQ(Matches(dir_.file("*nimbra-*")), 0u);
}

// Failures exit 1 when nothing could be reached, else 2, with the cause.
TEST_F(Cli, FailuresSayWhy) {
    MakeFile("notes.db", RandomBytes(1234, 3));
    PostRecord(R"({"name":"dora","file_size":1234})");
    const struct {
        std::string setup;    // a fault rule (method first) or an API script (path first)
        std::string command;  // nimbra's arguments, separated by spaces
        int status;
        std::string says;
    } cases[] = {
        {R"({"path":"/getUserSpace","status":500,"body":"{}"})", "usage dora", 2,
         "cannot read the used space of dora: the web API answered HTTP 500"},
        {R"({"path":"/getUserSpace","status":200,"body":"<html>"})", "usage dora", 2,
         "the web API's answer held no size"},
        {R"({"path":"/getUser","status":200,"body":"<html>"})", "records dora", 2,
         "cannot read the backup records of dora: the web API's answer could not be read"},
        {R"({"path":"/getStsKey","status":503,"body":"{}"})", "upload notes.db k/n.db", 2,
         "upload of notes.db to k/n.db failed: the web API answered HTTP 503"},
        {R"({"method":"GET","subresource":"none","action":"close"})", "download k/n.db copy.db", 1,
         "download of k/n.db failed: "},
        {"", "ls empty", 0, "nimbra: nothing under empty/ in bucket " NIMBRA_BUCKET},
    };
    for (const auto& c : cases) {
        if (c.setup.rfind("{\"path\"", 0) == 0) server_->ScriptApi(c.setup);
        if (c.setup.rfind("{\"method\"", 0) == 0) server_->AddFault(c.setup);
        std::istringstream words(c.command);
        const std::vector<std::string> args{std::istream_iterator<std::string>(words), {}};
        const CliResult r = Nimbra(args);
        EXPECT_EQ(r.status, c.status) << c.says << "\n" << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        ASSERT_TRUE(args[0] != "upload" || Nimbra(args).status == 0);  // for the download
    }

    // ls prints each page as it arrives, and Ctrl-C ends a listing whose
    // next page does not come.
    for (const char* key : {"many/a", "many/b", "many/c"}) PutObject(key, "1");
    server_->Settings(R"({"max_list_keys":1})");
    server_->AddFault(
        R"({"method":"GET","subresource":"marker","count":-1,"action":"delay","delay_ms":5000})");
    // The count includes the listings above: the Ctrl-C must wait for this
    // listing's second page, not only its first.
    const long listed_before = server_->GetStats().requests["ListObjects"];
    Pty session(dir_, {"ls", "many"});
    ASSERT_TRUE(session.WaitFor("  a\r\n")) << session.output();
    ASSERT_TRUE(session.WaitFor(
        [&] { return server_->GetStats().requests["ListObjects"] > listed_before + 1; }));
    int status = 0;
    EXPECT_LT(SecondsToExitAfterCtrlC(session, status), 2.5);
    EXPECT_EQ(status, 130) << session.output();
}

// A completion the store answers with a bare "200, Content-Length: 0" is no
// proof of the object: the backup fails and registers no record.
TEST_F(Cli, BackupWithoutACompletedObjectRegistersNothing) {
    const std::string local = MakeFile("doc.txt", "bytes of a backup");
    server_->AddFault(
        R"({"method":"POST","subresource":"uploadId","action":"truncate_body","keep_bytes":0})");
    const CliResult backup = Nimbra({"backup", local, "--user", "finn"});
    EXPECT_EQ(backup.status, 2) << backup.err;
    EXPECT_NE(backup.err.find("the answer is no CompleteMultipartUploadResult"), std::string::npos)
        << backup.err;
    EXPECT_EQ(server_->ApiRequest("GET", "/getUser?name=finn").second, R"({"total":0,"data":[]})");
}

// What came from a server is shown escaped; user names reach the web API
// percent-encoded, so they cannot change its query.
TEST_F(Cli, ServerTextsEscapedAndNamesEncoded) {
    PostRecord(
        R"({"name":"eve","backup_name":"\u001b]0;pwned\u0007\u001b[2J","file_name":"a\u009bb"})");
    const CliResult records = Nimbra({"records", "eve"});
    EXPECT_NE(records.out.find("\\x1B]0;pwned\\x07\\x1B[2J"), std::string::npos) << records.out;
    EXPECT_NE(records.out.find("a\\u009Bb"), std::string::npos) << records.out;
    PutObject("esc/a%0Ab%C2%9Bc", "1");  // XML carries no ESC, but these
    EXPECT_NE(Nimbra({"ls", "esc"}).out.find("  a\\x0Ab\\u009Bc\n"), std::string::npos);

    for (const std::string name : {"ann", "ann&x=1"})
        PostRecord(R"({"name":")" + name + R"(","file_name":"of )" + name + R"("})");
    EXPECT_NE(Nimbra({"records", "ann&x=1"}).out.find("of ann&x=1 "), std::string::npos);
    PutObject("k/x", "1");
    EXPECT_EQ(Nimbra({"rm", "k/x", "--user", "ann&x=1"}).status, 0);
    EXPECT_NE(Nimbra({"records", "ann"}).out.find("of ann "), std::string::npos);
}

// Downloads write through symlinks and keep a file's mode; "-" is standard
// output and input; no temporary file outlives the command, not even after
// a second Ctrl-C.
TEST_F(Cli, FilesAsUsersExpect) {
    PutObject("f/data.bin", "payload");
    const std::string real = MakeFile("real.txt", "old");
    ASSERT_EQ(chmod(real.c_str(), 0640), 0);
    ASSERT_EQ(symlink("real.txt", dir_.file("link.txt").c_str()), 0);
    ASSERT_EQ(symlink("made.txt", dir_.file("dangling.txt").c_str()), 0);
    for (const char* target : {"link.txt", "dangling.txt"})
        EXPECT_EQ(Nimbra({"download", "f/data.bin", target}).status, 0) << target;
    struct stat info {};
    ASSERT_EQ(lstat(dir_.file("link.txt").c_str(), &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode));
    ASSERT_EQ(stat(real.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    EXPECT_EQ(ReadFileBytes(real) + ReadFileBytes(dir_.file("made.txt")), "payloadpayload");

    EXPECT_EQ(RunNimbra(dir_, {"download", "f/data.bin", "-"}, "/dev/null", "| cat >out").out,
              "payload");
    MakeFile("in.bin", "from a pipe");
    EXPECT_EQ(Nimbra({"upload", "-", "f/in.bin"}, "in.bin").status, 0);
    EXPECT_EQ(Nimbra({"download", "f/in.bin", "-"}).out, "from a pipe");

    // An object emptied after it was listed: no stop was asked for, and
    // none is reported; nothing is put in place.
    server_->AddFault(R"({"method":"HEAD","action":"delay","delay_ms":1000})");
    const long heads = server_->GetStats().requests["HeadObject"];
    auto emptied = std::async(std::launch::async, [&] {
        return Nimbra({"download", "f/data.bin", "emptied.bin"});
    });
    while (server_->GetStats().requests["HeadObject"] == heads) usleep(10000);
    PutObject("f/data.bin", "");
    const CliResult short_download = emptied.get();
    EXPECT_EQ(short_download.status, 2);
    EXPECT_NE(short_download.err.find("download of f/data.bin ended after 0 of 7 bytes"),
              std::string::npos)
        << short_download.err;
    EXPECT_NE(access(dir_.file("emptied.bin").c_str(), F_OK), 0);

    PutObject("f/big.bin", RandomBytes(3 * kMiB, 6));
    server_->AddFault(
        R"({"method":"GET","subresource":"none","count":-1,"action":"delay","delay_ms":5000})");
    const long gets = server_->GetStats().requests["GetObject"];
    Pty session(dir_, {"download", "f/big.bin", "big.copy"});
    ASSERT_TRUE(session.WaitFor([&] { return server_->GetStats().requests["GetObject"] > gets; }));
    session.Signal(SIGINT);
    ASSERT_TRUE(session.WaitFor("Ctrl-C again")) << session.output();
    session.Signal(SIGINT);
    EXPECT_EQ(session.Wait(), 130) << session.output();
    EXPECT_EQ(Matches(dir_.file("*nimbra-*")) + Matches(dir_.file("big.copy*")), 0u);
}

// Keys pause and stop an upload; the progress line fits the 50 columns.
TEST_F(Cli, KeysOnANarrowTerminal) {
    const std::string local = MakeFile("big.bin", RandomBytes(10 * kMiB + 1, 4));  // two parts
    server_->AddFault(
        R"({"method":"PUT","subresource":"partNumber","count":-1,"action":"delay","delay_ms":1000})");
    Pty session(dir_, {"upload", local, "keys/big.bin"});
    ASSERT_TRUE(session.WaitFor("\rupload ")) << session.output();
    session.Type("p");
    ASSERT_TRUE(session.WaitFor("paused, r resumes")) << session.output();
    session.Type("s");
    EXPECT_EQ(session.Wait(), 3) << session.output();
    EXPECT_NE(session.output().find("stopped; the object was not created"), std::string::npos);
    EXPECT_EQ(server_->GetStats().requests["CompleteMultipartUpload"], 0);
    std::istringstream pieces(session.output());
    for (std::string piece; std::getline(pieces, piece, '\r');) {
        if (piece.rfind("upload ", 0) == 0) {
            EXPECT_LT(piece.substr(0, piece.find('\x1b')).size(), 50u) << piece;
        }
    }
    const termios mode = session.Mode();
    EXPECT_EQ(mode.c_lflag & (ICANON | ECHO), static_cast<tcflag_t>(ICANON | ECHO))
        << "the terminal is left in line mode with echo";
}

// Every upload the library accepts gets past nimbra's own checks: a sparse
// 50 GiB file (5,120 parts) starts, and fails with its first part.
TEST_F(Cli, UploadsAsLargeAsTheLibraryTakesStart) {
    ASSERT_TRUE(WriteFileBytes(dir_.file("big.img"), ""));
    ASSERT_EQ(truncate(dir_.file("big.img").c_str(), 50 * 1024 * kMiB), 0);
    server_->AddFault(R"({"method":"PUT","subresource":"partNumber","status":500})");
    const CliResult r = Nimbra({"upload", "big.img", "big/big.img"});
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_EQ(server_->GetStats().requests["UploadPart"], 1);
}

}  // namespace
