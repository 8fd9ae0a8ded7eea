// The manager's web API requests against a scripted HTTPS server on the
// compiled-in address: what is sent, what is read, what is logged, and the
// early returns that send nothing.
#include <cjson/cJSON.h>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Nimbra/COssManager.h"
#include "Nimbra/WebApiJson.h"
#include "tests/manager/TlsRawServer.h"
#include "tests/support/CompiledIn.h"
#include "tests/support/LogCapture.h"
#include "tests/support/RecordingCallback.h"
#include "tests/support/TestServers.h"

namespace {

using testcb::Event;
using testcb::Payload;
using testcb::RecordingCallback;
using webtest::HttpServer;
using webtest::ReceivedRequest;
using webtest::TestCertificate;

const char* const kForm = "application/x-www-form-urlencoded";

// Scripted answers per path; unscripted paths answer 404.
struct Script {
    int status = 200;
    std::string body;
};

class WebApi : public ::testing::Test {
protected:
    void SetUp() override {
        if (compiled_in::ApiPort() == 0 || !compiled_in::ApiIsTls())
            GTEST_SKIP() << "the web API URL is not https on 127.0.0.1";
        cert_ = std::make_unique<TestCertificate>("IP:127.0.0.1,DNS:localhost");
        server_ = std::make_unique<HttpServer>(*cert_);
        auto handler = [this](const httplib::Request& req, httplib::Response& res) {
            std::lock_guard<std::mutex> lock(mutex_);
            auto& queue = scripts_[req.path];
            if (queue.empty()) {
                res.status = 404;
                res.set_content("no script", "text/plain");
                return;
            }
            Script s = queue.front();
            if (queue.size() > 1) queue.erase(queue.begin());
            res.status = s.status;
            res.set_content(s.body, "application/json");
        };
        server_->get(".*", handler);
        server_->post(".*", handler);
        server_->start(compiled_in::ApiPort());
        testlog::Clear();
    }

    // Answers for `path`, in order; the last one repeats.
    void Answer(const std::string& path, std::vector<Script> answers) {
        std::lock_guard<std::mutex> lock(mutex_);
        scripts_[path] = std::move(answers);
    }
    std::vector<ReceivedRequest> Received() { return server_->received(); }

    COssManager& m = *COssManager::GetInstance();
    std::unique_ptr<TestCertificate> cert_;
    std::unique_ptr<HttpServer> server_;
    std::mutex mutex_;
    std::map<std::string, std::vector<Script>> scripts_;
};

std::string PageJson(long long total, int first_id, int count) {
    std::string data;
    for (int i = 0; i < count; ++i) {
        if (i) data += ",";
        data += "{\"id\":" + std::to_string(first_id + i) + ",\"name\":\"u\"}";
    }
    return "{\"total\":" + std::to_string(total) + ",\"data\":[" + data + "]}";
}

TEST_F(WebApi, StsKeyRequestAndAnswer) {
    Answer("/getStsKey", {{200, R"({"AccessKeyId":"STS.k","AccessKeySecret":"s",
                                    "SecurityToken":"t","Expiration":"x"})"}});
    std::string id, secret, token;
    bool net = false;
    ASSERT_TRUE(m.GetStsKey(id, secret, token, net));
    EXPECT_EQ(id, "STS.k");
    EXPECT_EQ(secret, "s");
    EXPECT_EQ(token, "t");
    EXPECT_FALSE(net);

    auto got = Received();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].method, "GET");
    EXPECT_EQ(got[0].target, "/getStsKey");
    EXPECT_EQ(got[0].header("Content-Type"), kForm);
    EXPECT_EQ(got[0].header("User-Agent"), "curl/7.75.0");
    EXPECT_TRUE(got[0].body.empty());
    EXPECT_TRUE(testlog::Messages("GetStsKey").empty());
}

TEST_F(WebApi, StsKeyOnlyOneMemberLeavesTheOthers) {
    Answer("/getStsKey", {{200, R"({"AccessKeyId":"only"})"}});
    std::string id, secret = "keep", token;
    bool net = false;
    ASSERT_TRUE(m.GetStsKey(id, secret, token, net));
    EXPECT_EQ(id, "only");
    EXPECT_EQ(secret, "keep");
    EXPECT_EQ(token, "");
}

TEST_F(WebApi, StsKeyHttpFailureIsNotANetworkError) {
    Answer("/getStsKey", {{500, "{}"}});
    std::string id, secret, token;
    bool net = false;
    EXPECT_FALSE(m.GetStsKey(id, secret, token, net));
    EXPECT_FALSE(net);
    EXPECT_EQ(testlog::Messages("GetStsKey"), std::vector<std::string>{"GetStsKey fail!"});
    auto entries = testlog::Snapshot();
    bool found = false;
    for (const auto& e : entries) {
        if (e.function == "GetStsKey") {
            EXPECT_EQ(e.file, "Nimbra/COssManager");
            EXPECT_EQ(e.level, 1);
            found = true;
        }
    }
    EXPECT_TRUE(found);
}

TEST_F(WebApi, StsKeyNotJsonFailsWithoutLog) {
    Answer("/getStsKey", {{200, "<html>ok</html>"}});
    std::string id, secret, token;
    bool net = false;
    EXPECT_FALSE(m.GetStsKey(id, secret, token, net));
    EXPECT_FALSE(net);
    EXPECT_TRUE(testlog::Messages("GetStsKey").empty());
}

TEST_F(WebApi, InsertUserInfoSendsTheRecordAsJson) {
    Answer("/uploadUserInfo", {{200, "{}"}});
    _ST_UserInfo info;
    std::memset(&info, 0, sizeof info);
    info.nId = 12;
    std::strcpy(info.szName, "alice");
    std::strcpy(info.szBackupName, "nightly");
    std::strcpy(info.szDateTime, "2026-12-05 10:00:00");
    std::strcpy(info.szFilePath, "/home/alice/x.bin");
    std::strcpy(info.szFileName, "x.bin");
    info.llFileSize = 3000000000LL;
    info.llExpireTime = 1700000000LL;
    ASSERT_TRUE(m.InsertUserInfo(info));

    auto got = Received();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].method, "POST");
    EXPECT_EQ(got[0].target, "/uploadUserInfo");
    EXPECT_EQ(got[0].header_values("Content-Type"), std::vector<std::string>{"application/json"});
    EXPECT_EQ(got[0].body, BuildUserInfoJson(info));
    cJSON* doc = cJSON_Parse(got[0].body.c_str());
    ASSERT_NE(doc, nullptr);
    EXPECT_EQ(cJSON_GetObjectItem(doc, "file_size")->valuedouble, 3000000000.0);
    EXPECT_STREQ(cJSON_GetObjectItem(doc, "name")->valuestring, "alice");
    EXPECT_EQ(cJSON_GetObjectItem(doc, "id"), nullptr);
    cJSON_Delete(doc);
    EXPECT_EQ(testlog::Messages("InsertUserInfo"),
              std::vector<std::string>{"InsertUserInfo success!"});
}

TEST_F(WebApi, InsertUserInfoRejected) {
    Answer("/uploadUserInfo", {{400, R"({"error":"bad"})"}});
    _ST_UserInfo info;
    std::memset(&info, 0, sizeof info);
    EXPECT_FALSE(m.InsertUserInfo(info));
    EXPECT_EQ(testlog::Messages("InsertUserInfo"),
              std::vector<std::string>{"InsertUserInfo fail!"});
}

TEST_F(WebApi, UsedSize) {
    Answer("/getUserSpace", {{200, R"({"size":1900.7})"}});
    EXPECT_EQ(m.GetUserUsedSize("alice"), 1900);
    auto got = Received();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].target, "/getUserSpace?name=alice");
    EXPECT_EQ(got[0].header("Content-Type"), kForm);

    Answer("/getUserSpace", {{200, R"({"size":"1900"})"}});
    EXPECT_EQ(m.GetUserUsedSize("alice"), 0);
    Answer("/getUserSpace", {{200, R"({"other":5})"}});
    EXPECT_EQ(m.GetUserUsedSize("alice"), 0);
    Answer("/getUserSpace", {{200, "not json"}});
    EXPECT_EQ(m.GetUserUsedSize("alice"), 0);
    EXPECT_TRUE(testlog::Messages("GetUserUsedSize").empty());

    Answer("/getUserSpace", {{503, R"({"size":5})"}});
    EXPECT_EQ(m.GetUserUsedSize("alice"), 0);
    EXPECT_EQ(testlog::Messages("GetUserUsedSize"), std::vector<std::string>{"getUserSpace fail!"});
}

TEST_F(WebApi, NullUserNamesSendNothing) {
    RecordingCallback cb;
    EXPECT_EQ(m.GetUserUsedSize(nullptr), 0);
    EXPECT_FALSE(m.GetUserUploadInfo(nullptr, &cb));
    EXPECT_FALSE(m.DeleteRemoteFile("alice", nullptr));
    EXPECT_FALSE(m.UploadFile(nullptr, 1, "k", &cb));
    EXPECT_FALSE(m.UploadFile("/tmp/x", 1, nullptr, &cb));
    EXPECT_FALSE(m.DownloadFile(nullptr, "/tmp/x", &cb));
    EXPECT_FALSE(m.DownloadFile("k", nullptr, &cb));
    EXPECT_FALSE(m.ListRemotePath(nullptr, &cb, nullptr));
    EXPECT_FALSE(m.ListRemotePath("/", nullptr, nullptr));
    EXPECT_TRUE(Received().empty());
    EXPECT_TRUE(cb.events().empty());
    EXPECT_TRUE(testlog::Snapshot().empty());
}

// Requests made for a total: 0 -> 1, 50 -> 2, 51 -> 2, 100 -> 3, none -> 1.
TEST_F(WebApi, RecordPagingFollowsTheRememberedTotal) {
    struct Case {
        const char* total;
        size_t requests;
    };
    for (Case c : {Case{"0", 1}, Case{"50", 2}, Case{"51", 2}, Case{"100", 3}, Case{nullptr, 1}}) {
        server_ = nullptr;  // a fresh server per case, so the request log starts empty
        SetUp();
        std::string body = c.total ? std::string("{\"total\":") + c.total + ",\"data\":[]}"
                                   : std::string("{\"data\":[]}");
        Answer("/getUser", {{200, body}});
        RecordingCallback cb(Payload::kRecords);
        EXPECT_TRUE(m.GetUserUploadInfo("bob", &cb)) << (c.total ? c.total : "absent");
        auto got = Received();
        ASSERT_EQ(got.size(), c.requests) << (c.total ? c.total : "absent");
        for (size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(got[i].target, "/getUser?name=bob&per_page=50&page=" + std::to_string(i + 1));
            EXPECT_EQ(got[i].header("Content-Type"), kForm);
        }
        EXPECT_TRUE(cb.events().empty());
    }
}

TEST_F(WebApi, RecordsArriveInOrderAcrossPages) {
    Answer("/getUser", {{200, PageJson(70, 1, 50)}, {200, PageJson(70, 51, 20)}});
    RecordingCallback cb(Payload::kRecords);
    ASSERT_TRUE(m.GetUserUploadInfo("carol", &cb));
    auto records = cb.records();
    ASSERT_EQ(records.size(), 70u);
    for (size_t i = 0; i < records.size(); ++i) EXPECT_EQ(records[i].nId, static_cast<int>(i + 1));
    for (const Event& e : cb.events()) EXPECT_EQ(e, (Event{0, 0, true}));
    EXPECT_EQ(Received().size(), 2u);
}

TEST_F(WebApi, PageWithoutUsableDataStillPagesByTotal) {
    // Page 1's data is not an array; pages 2 and 3 are JSON arrays, which
    // carry no total, so the 120 remembered from page 1 asks for page 3 and
    // ends after it (120 < 150).
    Answer("/getUser", {{200, R"({"total":120,"data":{"id":1}})"}, {200, R"([{"id":2}])"}});
    RecordingCallback cb(Payload::kRecords);
    ASSERT_TRUE(m.GetUserUploadInfo("dave", &cb));
    EXPECT_EQ(Received().size(), 3u);
    EXPECT_TRUE(cb.records().empty());
}

TEST_F(WebApi, FailureOnSecondPageAfterFirstWasDelivered) {
    Answer("/getUser", {{200, PageJson(80, 1, 50)}, {500, "oops"}});
    RecordingCallback cb(Payload::kRecords);
    EXPECT_FALSE(m.GetUserUploadInfo("erin", &cb));
    EXPECT_EQ(cb.records().size(), 50u);
    EXPECT_EQ(testlog::Messages("GetUserUploadInfo"),
              std::vector<std::string>{"GetUserUploadSize fail!"});
    for (const Event& e : cb.events()) EXPECT_NE(e.percent, 100);
}

TEST_F(WebApi, NotJsonPageFailsWithoutLog) {
    Answer("/getUser", {{200, "<xml/>"}});
    RecordingCallback cb(Payload::kRecords);
    EXPECT_FALSE(m.GetUserUploadInfo("fred", &cb));
    EXPECT_TRUE(testlog::Messages("GetUserUploadInfo").empty());
    EXPECT_EQ(testlog::Messages("SendUrl"), std::vector<std::string>{"[Post]: SUCESS\n"});
}

TEST_F(WebApi, NullCallbackPagesThroughSilently) {
    Answer("/getUser", {{200, PageJson(51, 1, 50)}, {200, PageJson(51, 51, 1)}});
    EXPECT_TRUE(m.GetUserUploadInfo("gina", nullptr));
    EXPECT_EQ(Received().size(), 2u);
}

TEST_F(WebApi, CredentialFailureWithoutNetworkCauseSendsNoNotification) {
    Answer("/getStsKey", {{500, "down"}});
    RecordingCallback cb;
    EXPECT_FALSE(m.UploadFile("/nonexistent", 10, "k", &cb));
    EXPECT_FALSE(m.DownloadFile("k", "/tmp/nimbra-never-written", &cb));
    EXPECT_FALSE(m.ListRemotePath("/", &cb, nullptr));
    EXPECT_FALSE(m.DeleteRemoteFile("u", "k"));
    EXPECT_TRUE(cb.events().empty());
    EXPECT_EQ(Received().size(), 4u);  // one credentials request each, nothing else
}

TEST_F(WebApi, FailedObjectDeletionLeavesRecordsAlone) {
    // The credentials are accepted but name no store the test runs, so the
    // object deletion fails and the records are never touched.
    Answer("/getStsKey",
           {{200, R"({"AccessKeyId":"a","AccessKeySecret":"b","SecurityToken":"c"})"}});
    EXPECT_FALSE(m.DeleteRemoteFile("user", "key-that-cannot-be-deleted"));
    for (const auto& r : Received()) EXPECT_NE(r.path, "/deleteUser");
}

// Transport failures of the credentials request: the network-failure codes
// of the HTTP client end a store operation with exactly one (1, 100); other
// failures end it with false and no notification.
class CredentialTransport : public ::testing::Test {
protected:
    void SetUp() override {
        if (compiled_in::ApiPort() == 0 || !compiled_in::ApiIsTls())
            GTEST_SKIP() << "the web API URL is not https on 127.0.0.1";
        testlog::Clear();
    }

    // The curl result code the credentials request ended with, from its log line.
    static std::string SendUrlLog() {
        auto messages = testlog::Messages("SendUrl");
        return messages.empty() ? std::string() : messages.back();
    }

    void ExpectOutcome(bool network, const std::string& log) {
        COssManager& m = *COssManager::GetInstance();
        std::string id, secret, token;
        bool net = false;
        EXPECT_FALSE(m.GetStsKey(id, secret, token, net));
        EXPECT_EQ(net, network);
        EXPECT_EQ(SendUrlLog(), log);

        const std::vector<Event> expected =
            network ? std::vector<Event>{{1, 100, false}} : std::vector<Event>{};
        RecordingCallback up, down, list;
        EXPECT_FALSE(m.UploadFile("/nonexistent", 1, "k", &up));
        EXPECT_FALSE(m.DownloadFile("k", "/tmp/nimbra-never-written", &down));
        EXPECT_FALSE(m.ListRemotePath("/", &list, nullptr));
        EXPECT_EQ(up.events(), expected);
        EXPECT_EQ(down.events(), expected);
        EXPECT_EQ(list.events(), expected);
        // Without a callback nobody hears anything, and nothing breaks.
        EXPECT_FALSE(m.UploadFile("/nonexistent", 1, "k", nullptr));
        EXPECT_FALSE(m.DownloadFile("k", "/tmp/nimbra-never-written", nullptr));
        EXPECT_FALSE(m.DeleteRemoteFile("u", "k"));
    }
};

TEST_F(CredentialTransport, HandshakeCutOffIsANetworkFailure) {
    HttpServer plain;  // answers the TLS hello in plain text
    plain.get(".*", [](const httplib::Request&, httplib::Response& res) { res.status = 200; });
    plain.start(compiled_in::ApiPort());
    ExpectOutcome(true, "ERR:res = 35,rescode = 0\n");
}

TEST_F(CredentialTransport, AbruptCloseWithoutAnswerIsAnEmptyReply) {
    // Without close_notify libcurl still sees a connection that ended before
    // any answer: 52, which is not one of the network-failure codes.
    TlsRawServer server(compiled_in::ApiPort(), TlsRawServer::Ending::kAbruptClose);
    ExpectOutcome(false, "ERR:res = 52,rescode = 0\n");
    EXPECT_GT(server.requests(), 0);
}

TEST_F(CredentialTransport, ResetIsANetworkFailure) {
    TlsRawServer server(compiled_in::ApiPort(), TlsRawServer::Ending::kReset);
    ExpectOutcome(true, "ERR:res = 56,rescode = 0\n");
}

TEST_F(CredentialTransport, EmptyReplyIsNotANetworkFailure) {
    TlsRawServer server(compiled_in::ApiPort(), TlsRawServer::Ending::kCloseNotify);
    ExpectOutcome(false, "ERR:res = 52,rescode = 0\n");
}

TEST_F(CredentialTransport, RefusedConnectionIsNotANetworkFailure) {
    // Nothing listens on the compiled-in port while this suite runs.
    ExpectOutcome(false, "ERR:res = 7,rescode = 0\n");
}

}  // namespace
