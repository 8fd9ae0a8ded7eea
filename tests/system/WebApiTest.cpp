// The web API as the library uses it, against scripted servers on the
// compiled-in address: what each request sends, what is read from the answers,
// what is logged, and how each outcome of a request reaches the host.
#include <sys/socket.h>
#include <unistd.h>

#include <mutex>

#include "tests/support/TestServers.h"
#include "tests/system/SystemTest.h"

namespace {

using namespace systest;
using webtest::HttpServer;
using webtest::TestCertificate;

const int kApiPort = PortOf(NIMBRA_SERVER_URL);

using Answer = std::pair<int, std::string>;  // status, body (with 302: the target)

class WebApi : public ServerSuite {
protected:
    static void SetUpTestSuite() {
        StartServer(false);
        cert_ = std::make_unique<TestCertificate>("IP:127.0.0.1,DNS:localhost");
    }
    void SetUp() override {
        ServerSuite::SetUp();
        api_ = std::make_unique<HttpServer>(*cert_);
        auto handler = [this](const httplib::Request&, httplib::Response& res) {
            std::lock_guard<std::mutex> lock(mutex_);
            const Answer a = answers_.empty() ? Answer{404, ""} : answers_.front();
            if (answers_.size() > 1) answers_.erase(answers_.begin());
            res.status = a.first;
            if (a.first == 302) {
                res.set_header("Location", a.second);
                res.set_header("Set-Cookie", "hop=1");  // sent back on the way
            }
            res.set_content(a.second, "application/json");
        };
        api_->get(".*", handler);
        api_->post(".*", handler);
        api_->start(kApiPort);
    }

    // The answers to the next requests, in order; the last one repeats.
    void Script(std::vector<Answer> answers) {
        std::lock_guard<std::mutex> lock(mutex_);
        answers_ = std::move(answers);
    }
    // The requests received were form GETs of `targets`, without a body.
    void ExpectFormGets(const std::vector<std::string>& targets) {
        std::vector<std::string> got, want;
        for (const auto& r : api_->received())
            got.push_back(r.method + " " + r.target + " " + r.body + "| " +
                          std::to_string(r.headers.count("Content-Type")) + " " +
                          r.header("Content-Type") + " " + r.header("User-Agent"));
        for (const auto& target : targets)
            want.push_back("GET " + target + " | 1 application/x-www-form-urlencoded curl/7.75.0");
        EXPECT_EQ(got, want);
    }
    // Every line logged since the last Clear(), "module function level: message|".
    static std::string Logged() {
        std::string text;
        for (const auto& e : testlog::Snapshot())
            text +=
                e.file + " " + e.function + " " + std::to_string(e.level) + ": " + e.message + "|";
        return text;
    }

    static inline std::unique_ptr<TestCertificate> cert_;
    std::unique_ptr<HttpServer> api_;
    std::mutex mutex_;
    std::vector<Answer> answers_;
};

std::string Page(long long total, int first_id, int count) {
    std::string data;
    for (int i = 0; i < count; ++i)
        data += (i ? ",{\"id\":" : "{\"id\":") + std::to_string(first_id + i) + "}";
    return "{\"total\":" + std::to_string(total) + ",\"data\":[" + data + "]}";
}

TEST_F(WebApi, InsertUserInfoPostsTheRecordAsJson) {
    Script({{200, "{}"}});
    // The id is never sent.
    const _ST_UserInfo info{
        12,      "alice",      "",          "2026-12-05 10:00:00", "/home/alice/x.bin",
        "x.bin", 3000000000LL, 1700000000LL};
    ASSERT_TRUE(m->InsertUserInfo(info));
    EXPECT_EQ(testlog::Messages("InsertUserInfo"),
              std::vector<std::string>{"InsertUserInfo success!"});
    const auto got = api_->received();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].method + " " + got[0].target + " " +
                  std::to_string(got[0].headers.count("Content-Type")) + " " +
                  got[0].header("Content-Type") + ", " + got[0].header("Accept-Encoding"),
              "POST /uploadUserInfo 1 application/json, GoogleAuth/1.4 ; gzip");
    EXPECT_EQ(
        got[0].body,
        "{\n\t\"name\":\t\"alice\",\n\t\"backup_name\":\t\"\",\n"
        "\t\"date_time\":\t\"2026-12-05 10:00:00\",\n\t\"file_path\":\t\"/home/alice/x.bin\",\n"
        "\t\"file_name\":\t\"x.bin\",\n\t\"file_size\":\t3000000000,\n"
        "\t\"expire_time\":\t1700000000\n}");
}

// Pages fetched by the remembered total, also without a callback; records in
// order, an element without "id" skipped; a failed or unreadable page ends them.
TEST_F(WebApi, RecordPagesFollowTheRememberedTotal) {
    std::string second = Page(70, 51, 20);
    second.insert(second.find('[') + 1, R"({"name":"no id"},)");
    const struct {
        std::vector<Answer> pages;
        size_t requests;
        int records;          // ids 1 to `records`, in order
        const char* failure;  // null: succeeds; else what is logged
    } cases[] = {
        {{{200, R"({"data":[]})"}}, 1, 0, nullptr},
        {{{200, R"({"total":0,"data":[]})"}}, 1, 0, nullptr},
        {{{200, R"({"total":49})"}}, 1, 0, nullptr},
        {{{200, R"({"total":50,"data":[]})"}}, 2, 0, nullptr},
        {{{200, R"({"total":51,"data":{"id":1}})"}}, 2, 0, nullptr},
        {{{200, R"({"total":100,"data":[]})"}}, 3, 0, nullptr},
        // Pages 2 and 3 are arrays, which carry no total: 120 from page 1 asks for page 3.
        {{{200, R"({"total":120,"data":"x"})"}, {200, R"([{"id":2}])"}}, 3, 0, nullptr},
        {{{200, Page(70, 1, 50)}, {200, second}}, 2, 70, nullptr},
        {{{200, Page(80, 1, 50)}, {500, "oops"}}, 2, 50, "GetUserUploadSize fail!"},
        {{{200, "<xml/>"}}, 1, 0, ""},
    };
    for (const auto& c : cases) {
        SetUp();  // a fresh server: the request log starts empty
        SCOPED_TRACE(c.pages[0].second);
        RecordingCallback cb(Payload::kRecords);
        Script(c.pages);
        EXPECT_EQ(m->GetUserUploadInfo("bob", &cb), c.failure == nullptr);
        Script(c.pages);
        EXPECT_EQ(m->GetUserUploadInfo("bob", nullptr), c.failure == nullptr);
        std::vector<std::string> targets;
        for (size_t page = 1; page <= 2 * c.requests; ++page)
            targets.push_back("/getUser?name=bob&per_page=50&page=" +
                              std::to_string((page - 1) % c.requests + 1));
        ExpectFormGets(targets);
        std::string ids, want, trace;
        for (const _ST_UserInfo& r : cb.records()) ids += std::to_string(r.nId) + " ";
        for (int id = 1; id <= c.records; ++id) {
            want += std::to_string(id) + " ";
            trace += id > 1 ? " 0:0+" : "0:0+";
        }
        EXPECT_EQ(ids, want);
        EXPECT_EQ(cb.trace(), trace);
        EXPECT_EQ(
            testlog::Messages("GetUserUploadInfo"),
            std::vector<std::string>(c.failure && *c.failure ? 2 : 0, c.failure ? c.failure : ""));
    }
}

TEST_F(WebApi, NullArgumentsSendNothing) {
    RecordingCallback cb;
    bool stop = false;
    EXPECT_EQ(m->GetUserUsedSize(nullptr), 0);
    EXPECT_FALSE(m->GetUserUploadInfo(nullptr, &cb));
    EXPECT_FALSE(m->DeleteRemoteFile("alice", nullptr));
    EXPECT_FALSE(m->UploadFile(nullptr, 1, "k", &cb));
    EXPECT_FALSE(m->UploadFile("/tmp/x", 1, nullptr, &cb));
    EXPECT_FALSE(m->DownloadFile(nullptr, "/tmp/x", &cb));
    EXPECT_FALSE(m->DownloadFile("k", nullptr, &cb));
    EXPECT_FALSE(m->ListRemotePath(nullptr, &cb, &stop));
    EXPECT_FALSE(m->ListRemotePath("/", nullptr, &stop));
    EXPECT_TRUE(api_->received().empty());
    EXPECT_EQ(cb.trace() + Logged(), "");
}

// The used space, and how the HTTP status decides success: 200 and 201 only,
// after redirects.
TEST_F(WebApi, UsedSizeAndTheStatusesThatSucceed) {
    const struct {
        std::vector<Answer> answers;
        long long size;
        const char* log;
    } rows[] = {
        {{{200, R"({"size":1900.7})"}}, 1900, "[Post]: SUCESS\n"},
        {{{200, "not json"}}, 0, "[Post]: SUCESS\n"},
        {{{201, R"({"size":6})"}}, 6, "[Post]: SUCESS\n"},
        {{{302, "/moved"}, {200, R"({"size":7})"}}, 7, "[Post]: SUCESS\n"},
        {{{204, ""}}, 0, "ERR:res = 0,rescode = 204\n"},
        {{{404, R"({"size":8})"}}, 0, "ERR:res = 0,rescode = 404\n"},
    };
    std::vector<std::string> targets;
    for (const auto& row : rows) {
        testlog::Clear();
        Script(row.answers);
        EXPECT_EQ(m->GetUserUsedSize("u"), row.size) << row.answers[0].second;
        EXPECT_EQ(Logged(), "Nimbra/WebRequest SendUrl 1: " + std::string(row.log) + "|" +
                                (row.log[0] == 'E'
                                     ? "Nimbra/COssManager GetUserUsedSize 1: getUserSpace fail!|"
                                     : ""));
        targets.push_back("/getUserSpace?name=u");
        if (row.answers.size() > 1) targets.push_back("/moved");
    }
    ExpectFormGets(targets);
    for (const auto& r : api_->received())
        EXPECT_EQ(r.header("Cookie"), r.target == "/moved" ? "hop=1" : "");
}

// A failed credentials request ends a store operation with (1, 100) only for
// the network-failure codes; otherwise with false and no notification.
// Credentials without their members go to the store, which refuses them.
TEST_F(WebApi, CredentialsRequestOutcomes) {
    const std::string local = MakeFile("n.bin", "n");
    const std::string out = dir_.file("never-written.bin");
    enum Server { kStatus500, kPlainHttp, kReset, kNothing };
    const struct {
        Server server;
        const char* log;
        const char* trace;  // of an upload, a download and a listing
    } rows[] = {
        {kStatus500, "ERR:res = 0,rescode = 500\n", "||"},
        {kPlainHttp, "ERR:res = 35,rescode = 0\n", "1:100|1:100|1:100"},  // no TLS handshake
        {kReset, "ERR:res = 56,rescode = 0\n", "1:100|1:100|1:100"},
        {kNothing, "ERR:res = 7,rescode = 0\n", "||"},  // connection refused
    };
    for (const auto& row : rows) {
        Script({{500, "{}"}});
        if (row.server != kStatus500) api_.reset();
        if (row.server == kPlainHttp) {
            api_ = std::make_unique<HttpServer>();
            api_->start(kApiPort);
        }
        std::unique_ptr<webtest::RawServer> reset;
        if (row.server == kReset) {
            auto on_request = [](int& fd, const std::string&) {
                linger lin{1, 0};  // close sends a reset
                ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &lin, sizeof lin);
            };
            reset = std::make_unique<webtest::RawServer>(on_request, cert_.get(), kApiPort);
        }
        testlog::Clear();
        RecordingCallback up, down, list;
        EXPECT_FALSE(m->UploadFile(local.c_str(), 1, "webapi/n.bin", &up));
        EXPECT_FALSE(m->DownloadFile("webapi/c.bin", out.c_str(), &down));
        EXPECT_FALSE(m->ListRemotePath("webapi/", &list, nullptr));
        EXPECT_EQ(up.trace() + "|" + down.trace() + "|" + list.trace(), row.trace) << row.log;
        // Without a callback nobody hears anything.
        EXPECT_FALSE(m->UploadFile(local.c_str(), 1, "webapi/n.bin", nullptr));
        EXPECT_FALSE(m->DownloadFile("webapi/c.bin", out.c_str(), nullptr));
        EXPECT_FALSE(m->DeleteRemoteFile("u", "webapi/c.bin"));
        std::string log;
        for (int i = 0; i < 6; ++i)
            log += "Nimbra/WebRequest SendUrl 1: " + std::string(row.log) +
                   "|Nimbra/COssManager GetStsKey 1: GetStsKey fail!|";
        EXPECT_EQ(Logged(), log);
        EXPECT_EQ(access(out.c_str(), F_OK), -1) << "nothing is written without credentials";
    }
    EXPECT_TRUE(server_->GetStats().requests.empty()) << "no store request was made";

    SetUp();
    Script({{200, R"({"Expiration":"x"})"}});
    RecordingCallback cb;
    EXPECT_FALSE(m->UploadFile(local.c_str(), 1, "webapi/n.bin", &cb));
    EXPECT_EQ(cb.trace(), "-1:100");
    ExpectFormGets({"/getStsKey"});
}

}  // namespace
