// Interactive control on a terminal: the progress bar, the p/r/s keys and
// Ctrl-C, and the terminal mode left behind on every way out. The store's
// delay fault slows the transfer so each key lands while it runs.
#include <dirent.h>
#include <signal.h>

#include <thread>

#include "tests/cli/CliServerFixture.h"

namespace {

class CliControlTest : public CliServerTest {
protected:
    void SetUp() override {
        CliServerTest::SetUp();
        env_.vars["TERM"] = "xterm";
    }

    // The terminal is back in the mode it had before nimbra started.
    static void ExpectTerminalRestored(const PtySession& session) {
        const termios now = session.Mode();
        EXPECT_EQ(now.c_lflag & (ICANON | ECHO | ISIG),
                  session.initial_mode().c_lflag & (ICANON | ECHO | ISIG));
        EXPECT_EQ(now.c_lflag & (ICANON | ECHO), static_cast<tcflag_t>(ICANON | ECHO));
    }

    // Names in the test's HOME that start with `prefix`.
    std::vector<std::string> FilesStartingWith(const std::string& prefix) {
        std::vector<std::string> names;
        DIR* dir = opendir(home_.path().c_str());
        while (dirent* e = dir ? readdir(dir) : nullptr) {
            if (std::string(e->d_name).rfind(prefix, 0) == 0) names.push_back(e->d_name);
        }
        if (dir) closedir(dir);
        return names;
    }

    long Requests(const char* operation) { return server_->GetStats().requests[operation]; }

    bool ObjectExists(const std::string& folder, const std::string& name) {
        const CliResult r = Run({"ls", folder, "--json"});
        return r.out.find("\"name\":\"" + name + "\"") != std::string::npos;
    }
};

TEST_F(CliControlTest, KeysPauseResumeAndStopADownload) {
    ASSERT_EQ(Run({"upload", MakeFile("movie.bin", 8 * 1024 * 1024), "keys/movie.bin"}).status, 0);
    server_->AddFault(
        R"({"method":"GET","subresource":"none","count":-1,"action":"delay","delay_ms":300})");

    PtySession session(env_, {"download", "keys/movie.bin", home_.file("movie.copy")});
    ASSERT_TRUE(session.WaitForText("keys: p pause, r resume, s stop")) << session.output();
    // The bar, redrawn in place, after the first 1 MiB range.
    ASSERT_TRUE(session.WaitForText("1.0 MiB/8.0 MiB")) << session.output();
    EXPECT_NE(session.output().find("\rdownload ["), std::string::npos) << session.output();
    EXPECT_NE(session.output().find(" left"), std::string::npos);

    session.Type("p");
    ASSERT_TRUE(session.WaitForText("paused, r resumes")) << session.output();
    // The range in flight finishes; then no further range is requested.
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    const long held = Requests("GetObject");
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    EXPECT_EQ(Requests("GetObject"), held);

    session.Type("r");
    ASSERT_TRUE(session.WaitFor([&](const std::string&) { return Requests("GetObject") > held; }))
        << session.output();
    session.Type("s");
    EXPECT_EQ(session.Wait(), 3) << session.output();
    EXPECT_LT(Requests("GetObject"), 9);  // it did not run to the end
    EXPECT_NE(session.output().find("stopping..."), std::string::npos);
    EXPECT_NE(session.output().find("download of keys/movie.bin stopped; " +
                                    home_.file("movie.copy") + " was left as it was"),
              std::string::npos)
        << session.output();
    // Neither the target nor a partial file remains.
    EXPECT_TRUE(FilesStartingWith("movie.copy").empty());
    ExpectTerminalRestored(session);
}

TEST_F(CliControlTest, SKeyStopsAnUpload) {
    const std::string local = MakeFile("big.bin", 25 * 1024 * 1024);  // three parts
    server_->AddFault(
        R"({"method":"PUT","subresource":"partNumber","count":-1,"action":"delay","delay_ms":1000})");

    PtySession session(env_, {"upload", local, "keys/big.bin"});
    ASSERT_TRUE(session.WaitForText("\rupload [")) << session.output();
    session.Type("s");
    EXPECT_EQ(session.Wait(), 3) << session.output();
    EXPECT_NE(session.output().find("upload of " + local + " to keys/big.bin stopped"),
              std::string::npos)
        << session.output();
    EXPECT_LT(Requests("UploadPart"), 3);
    EXPECT_EQ(Requests("CompleteMultipartUpload"), 0);
    EXPECT_FALSE(ObjectExists("keys", "big.bin"));
    ExpectTerminalRestored(session);
}

TEST_F(CliControlTest, CtrlCStopsAnUploadThroughTheLibrary) {
    const std::string local = MakeFile("int.bin", 25 * 1024 * 1024);
    server_->AddFault(
        R"({"method":"PUT","subresource":"partNumber","count":-1,"action":"delay","delay_ms":1000})");

    PtySession session(env_, {"backup", local, "--user", "ivy"});
    ASSERT_TRUE(session.WaitForText("\rupload [")) << session.output();
    session.Signal(SIGINT);
    EXPECT_EQ(session.Wait(), 3) << session.output();
    EXPECT_NE(session.output().find("stopping (Ctrl-C again to exit at once)..."),
              std::string::npos)
        << session.output();
    EXPECT_NE(session.output().find("stopped; the object was not created"), std::string::npos);
    EXPECT_EQ(Requests("CompleteMultipartUpload"), 0);
    // A stopped backup registers nothing.
    EXPECT_EQ(Run({"records", "ivy"}).out, "ivy has no backup records\n");
    ExpectTerminalRestored(session);
}

TEST_F(CliControlTest, SecondCtrlCExitsAtOnce) {
    const std::string local = MakeFile("slow.bin", 11 * 1024 * 1024);
    // Long enough that only the immediate exit can end the test in time.
    server_->AddFault(
        R"({"method":"PUT","subresource":"partNumber","count":-1,"action":"delay","delay_ms":20000})");

    PtySession session(env_, {"upload", local, "keys/slow.bin"});
    ASSERT_TRUE(session.WaitForText("\rupload [")) << session.output();
    session.Signal(SIGINT);
    ASSERT_TRUE(session.WaitForText("stopping (Ctrl-C again")) << session.output();
    session.Signal(SIGINT);
    EXPECT_EQ(session.Wait(std::chrono::seconds(10)), 130) << session.output();
    EXPECT_NE(session.output().find("interrupted, exiting at once"), std::string::npos);
    ExpectTerminalRestored(session);
    // Do not let the server's shutdown wait for the delayed request.
    server_->Kill();
    server_->Restart();
    // One answer from each listener before anything may stop the server:
    // a stop right after the start can miss listeners not yet accepting.
    server_->IssueCredentials();
    server_->GetStats();
}

}  // namespace
