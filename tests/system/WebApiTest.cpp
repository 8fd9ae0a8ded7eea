// The web API as the library uses it, against scripted servers on the
// compiled-in web API address (the store is the development server): what
// each request sends, what is read from the answers, what is logged, and how
// each outcome of a request reaches the host.
#include <unistd.h>

#include <cstring>
#include <map>
#include <mutex>

#include "tests/support/TestServers.h"
#include "tests/system/SystemTest.h"

namespace {

using namespace systest;
using webtest::HttpServer;
using webtest::ReceivedRequest;
using webtest::TestCertificate;

const char kForm[] = "application/x-www-form-urlencoded";

struct Answer {
    int status;
    std::string body;
    std::string location = "";  // a redirect target
};

class WebApi : public ServerSuite {
protected:
    static void SetUpTestSuite() {
        StartServer(false);
        cert_ = std::make_unique<TestCertificate>("IP:127.0.0.1,DNS:localhost");
    }
    void SetUp() override {
        ServerSuite::SetUp();
        api_ = std::make_unique<HttpServer>(*cert_);
        auto handler = [this](const httplib::Request& req, httplib::Response& res) {
            std::lock_guard<std::mutex> lock(mutex_);
            auto& queue = answers_[req.path];
            if (queue.empty()) {
                res.status = 404;
                return;
            }
            const Answer a = queue.front();
            if (queue.size() > 1) queue.erase(queue.begin());
            res.status = a.status;
            if (!a.location.empty()) {
                res.set_header("Location", a.location);
                res.set_header("Set-Cookie", "hop=1");  // sent back on the way
            }
            res.set_content(a.body, "application/json");
        };
        api_->get(".*", handler);
        api_->post(".*", handler);
        api_->start(ApiPort());
    }

    // Answers for `path`, in order; the last one repeats.
    void Script(const std::string& path, std::vector<Answer> answers) {
        std::lock_guard<std::mutex> lock(mutex_);
        answers_[path] = std::move(answers);
    }
    std::vector<ReceivedRequest> Received() { return api_->received(); }
    // The requests received were form GETs of `targets`, without a body.
    void ExpectFormGets(const std::vector<std::string>& targets) {
        const auto got = Received();
        ASSERT_EQ(got.size(), targets.size());
        for (size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(got[i].method + " " + got[i].target + " " + got[i].body,
                      "GET " + targets[i] + " ");
            EXPECT_EQ(got[i].header_values("Content-Type"), std::vector<std::string>{kForm});
            EXPECT_EQ(got[i].header("User-Agent"), "curl/7.75.0");
        }
    }

    static inline std::unique_ptr<TestCertificate> cert_;
    std::unique_ptr<HttpServer> api_;
    std::mutex mutex_;
    std::map<std::string, std::vector<Answer>> answers_;
};

std::string Page(long long total, int first_id, int count) {
    std::string data;
    for (int i = 0; i < count; ++i)
        data += (i ? ",{\"id\":" : "{\"id\":") + std::to_string(first_id + i) + "}";
    return "{\"total\":" + std::to_string(total) + ",\"data\":[" + data + "]}";
}

TEST_F(WebApi, CredentialsAreAFormGetWhoseMembersSignTheStoreRequests) {
    // Credentials the store accepts, as the development server's web API sends them.
    Script("/getStsKey", {{200, server_->ApiRequest("GET", "/getStsKey").second}});
    const std::string local = MakeFile("c.bin", "credentials");
    EXPECT_TRUE(m->UploadFile(local.c_str(), 11, "webapi/c.bin", nullptr));
    ExpectFormGets({"/getStsKey"});

    // JSON without the three members: the store refuses the empty credentials.
    Script("/getStsKey", {{200, R"({"Expiration":"x"})"}});
    RecordingCallback cb;
    EXPECT_FALSE(m->UploadFile(local.c_str(), 11, "webapi/c.bin", &cb));
    EXPECT_EQ(cb.events(), (std::vector<Event>{{-1, 100, false}}));
}

TEST_F(WebApi, InsertUserInfoPostsTheRecordAsJson) {
    Script("/uploadUserInfo", {{200, "{}"}, {400, R"({"error":"bad"})"}});
    _ST_UserInfo info;
    std::memset(&info, 0, sizeof info);
    info.nId = 12;  // never sent
    std::strcpy(info.szName, "alice");
    std::strcpy(info.szDateTime, "2026-12-05 10:00:00");
    std::strcpy(info.szFilePath, "/home/alice/x.bin");
    std::strcpy(info.szFileName, "x.bin");
    info.llFileSize = 3000000000LL;
    info.llExpireTime = 1700000000LL;
    ASSERT_TRUE(m->InsertUserInfo(info));
    EXPECT_FALSE(m->InsertUserInfo(info));

    const auto got = Received();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].method, "POST");
    EXPECT_EQ(got[0].target, "/uploadUserInfo");
    EXPECT_EQ(got[0].header_values("Content-Type"), std::vector<std::string>{"application/json"});
    EXPECT_EQ(got[0].header("Accept-Encoding"), "GoogleAuth/1.4 ; gzip");
    EXPECT_EQ(got[0].header("Content-Length"), std::to_string(got[0].body.size()));
    EXPECT_EQ(
        got[0].body,
        "{\n\t\"name\":\t\"alice\",\n\t\"backup_name\":\t\"\",\n"
        "\t\"date_time\":\t\"2026-12-05 10:00:00\",\n\t\"file_path\":\t\"/home/alice/x.bin\",\n"
        "\t\"file_name\":\t\"x.bin\",\n\t\"file_size\":\t3000000000,\n"
        "\t\"expire_time\":\t1700000000\n}");
    EXPECT_EQ(testlog::Messages("InsertUserInfo"),
              (std::vector<std::string>{"InsertUserInfo success!", "InsertUserInfo fail!"}));
}

// Requests made for a total: none -> 1, 0 -> 1, 49 -> 1, 50 -> 2, 51 -> 2,
// 100 -> 3; a page without usable data still pages by the remembered total.
TEST_F(WebApi, RecordPagesFollowTheRememberedTotal) {
    const struct {
        std::vector<Answer> pages;
        size_t requests;
    } cases[] = {
        {{{200, R"({"data":[]})"}}, 1},
        {{{200, R"({"total":0,"data":[]})"}}, 1},
        {{{200, R"({"total":49})"}}, 1},
        {{{200, R"({"total":50,"data":[]})"}}, 2},
        {{{200, R"({"total":51,"data":{"id":1}})"}}, 2},
        {{{200, R"({"total":100,"data":[]})"}}, 3},
        // Pages 2 and 3 are arrays, which carry no total: 120 from page 1 asks for page 3.
        {{{200, R"({"total":120,"data":"x"})"}, {200, R"([{"id":2}])"}}, 3},
    };
    for (const auto& c : cases) {
        SetUp();  // a fresh server: the request log starts empty
        Script("/getUser", c.pages);
        SCOPED_TRACE(c.pages[0].body);
        RecordingCallback cb(Payload::kRecords);
        EXPECT_TRUE(m->GetUserUploadInfo("bob", &cb));
        EXPECT_TRUE(cb.events().empty());
        std::vector<std::string> targets;
        for (size_t page = 1; page <= c.requests; ++page)
            targets.push_back("/getUser?name=bob&per_page=50&page=" + std::to_string(page));
        ExpectFormGets(targets);
    }
}

// Each record reaches the host as it is read, page after page; an element
// without "id" is skipped.
TEST_F(WebApi, RecordsArriveInOrderAcrossPages) {
    std::string second = Page(70, 51, 20);
    second.insert(second.find('[') + 1, R"({"name":"no id"},)");
    Script("/getUser", {{200, Page(70, 1, 50)}, {200, second}});
    RecordingCallback cb(Payload::kRecords);
    ASSERT_TRUE(m->GetUserUploadInfo("carol", &cb));
    const auto records = cb.records();
    ASSERT_EQ(records.size(), 70u);
    for (size_t i = 0; i < records.size(); ++i) EXPECT_EQ(records[i].nId, static_cast<int>(i + 1));
    for (const Event& e : cb.events()) EXPECT_EQ(e, (Event{0, 0, true}));
}

TEST_F(WebApi, AFailedOrUnreadablePageEndsTheRecords) {
    Script("/getUser", {{200, Page(80, 1, 50)}, {500, "oops"}});
    RecordingCallback cb(Payload::kRecords);
    EXPECT_FALSE(m->GetUserUploadInfo("erin", &cb));
    EXPECT_EQ(cb.records().size(), 50u);
    EXPECT_EQ(cb.finals(), 0);
    EXPECT_EQ(testlog::Messages("GetUserUploadInfo"),
              std::vector<std::string>{"GetUserUploadSize fail!"});

    testlog::Clear();
    Script("/getUser", {{200, "<xml/>"}});
    EXPECT_FALSE(m->GetUserUploadInfo("fred", &cb));
    EXPECT_TRUE(testlog::Messages("GetUserUploadInfo").empty());

    // Without a callback the pages are still fetched.
    Script("/getUser", {{200, Page(51, 1, 50)}, {200, Page(51, 51, 1)}});
    const size_t before = Received().size();
    EXPECT_TRUE(m->GetUserUploadInfo("gina", nullptr));
    EXPECT_EQ(Received().size(), before + 2);
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
    EXPECT_TRUE(Received().empty());
    EXPECT_TRUE(cb.events().empty());
    EXPECT_TRUE(testlog::Snapshot().empty());
}

// The used space, and how the HTTP status decides success: 200 and 201 only,
// after redirects.
TEST_F(WebApi, UsedSizeAndTheStatusesThatSucceed) {
    const struct {
        Answer answer;
        long long size;
        const char* log;
    } rows[] = {
        {{200, R"({"size":1900.7})"}, 1900, "[Post]: SUCESS\n"},
        {{200, "not json"}, 0, "[Post]: SUCESS\n"},
        {{201, R"({"size":6})"}, 6, "[Post]: SUCESS\n"},
        {{302, "", "/moved"}, 7, "[Post]: SUCESS\n"},
        {{204, ""}, 0, "ERR:res = 0,rescode = 204\n"},
        {{404, R"({"size":8})"}, 0, "ERR:res = 0,rescode = 404\n"},
        {{503, R"({"size":8})"}, 0, "ERR:res = 0,rescode = 503\n"},
    };
    Script("/moved", {{200, R"({"size":7})"}});
    std::vector<std::string> targets;
    for (const auto& row : rows) {
        testlog::Clear();
        Script("/getUserSpace", {row.answer});
        EXPECT_EQ(m->GetUserUsedSize("u"), row.size) << row.answer.body;
        targets.push_back("/getUserSpace?name=u");
        if (row.answer.status == 302) targets.push_back("/moved");
        const auto entries = testlog::Snapshot();
        ASSERT_FALSE(entries.empty());
        EXPECT_EQ(entries[0].file + " " + entries[0].message,
                  std::string("Nimbra/WebRequest ") + row.log);
        const bool failed = row.log[0] == 'E';
        EXPECT_EQ(testlog::Messages("GetUserUsedSize"),
                  std::vector<std::string>(failed ? 1 : 0, "getUserSpace fail!"));
        EXPECT_EQ(entries.back().file, failed ? "Nimbra/COssManager" : "Nimbra/WebRequest");
        EXPECT_EQ(entries.back().level, 1);
    }
    ExpectFormGets(targets);
    for (const auto& r : Received())
        EXPECT_EQ(r.header("Cookie"), r.path == "/moved" ? "hop=1" : "");
}

// A failed credentials request ends a store operation with (1, 100) only for
// the network-failure codes; otherwise with false and no notification.
TEST_F(WebApi, OnlyNetworkFailuresOfTheCredentialsReachTheHost) {
    const std::string local = MakeFile("n.bin", "n");
    const std::string out = dir_.file("never-written.bin");
    enum Server { kStatus500, kPlainHttp, kReset, kNothing };
    const struct {
        Server server;
        bool network;
        const char* log;
    } rows[] = {
        {kStatus500, false, "ERR:res = 0,rescode = 500\n"},
        {kPlainHttp, true, "ERR:res = 35,rescode = 0\n"},  // the TLS handshake fails
        {kReset, true, "ERR:res = 56,rescode = 0\n"},
        {kNothing, false, "ERR:res = 7,rescode = 0\n"},  // connection refused
    };
    for (const auto& row : rows) {
        api_.reset();
        if (row.server == kStatus500) api_ = std::make_unique<HttpServer>(*cert_);
        if (row.server == kPlainHttp) api_ = std::make_unique<HttpServer>();
        if (api_) {
            api_->get(".*",
                      [](const httplib::Request&, httplib::Response& res) { res.status = 500; });
            api_->start(ApiPort());
        }
        std::unique_ptr<webtest::TlsResetServer> reset;
        if (row.server == kReset)
            reset = std::make_unique<webtest::TlsResetServer>(*cert_, ApiPort());
        testlog::Clear();
        RecordingCallback up, down, list;
        EXPECT_FALSE(m->UploadFile(local.c_str(), 1, "webapi/n.bin", &up));
        EXPECT_EQ(testlog::Messages("SendUrl"), std::vector<std::string>{row.log});
        EXPECT_FALSE(m->DownloadFile("webapi/c.bin", out.c_str(), &down));
        EXPECT_FALSE(m->ListRemotePath("webapi/", &list, nullptr));
        const std::vector<Event> expected =
            row.network ? std::vector<Event>{{1, 100, false}} : std::vector<Event>{};
        EXPECT_EQ(up.events(), expected) << row.log;
        EXPECT_EQ(down.events(), expected) << row.log;
        EXPECT_EQ(list.events(), expected) << row.log;
        // Without a callback nobody hears anything.
        EXPECT_FALSE(m->UploadFile(local.c_str(), 1, "webapi/n.bin", nullptr));
        EXPECT_FALSE(m->DownloadFile("webapi/c.bin", out.c_str(), nullptr));
        EXPECT_FALSE(m->DeleteRemoteFile("u", "webapi/c.bin"));
        EXPECT_EQ(testlog::Messages("GetStsKey"), std::vector<std::string>(6, "GetStsKey fail!"));
        EXPECT_EQ(access(out.c_str(), F_OK), -1) << "nothing is written without credentials";
    }
    EXPECT_TRUE(server_->GetStats().requests.empty()) << "no store request was made";
}

}  // namespace
