// The multipart upload against the development server, whose web API
// listens where the tests' copy of the library fetches credentials when a
// security token expires part-way.
#include <algorithm>

#include "tests/store/StoreOpsTest.h"
#include "tests/support/TestServers.h"

namespace {

using namespace storeops;

DevServerOptions ApiOnTheCompiledInPort() {
    DevServerOptions options;
    options.api_port = NIMBRA_TEST_API_PORT;
    return options;
}
::testing::Environment* const g_pServer =
    ::testing::AddGlobalTestEnvironment(new DevServerEnvironment(ApiOnTheCompiledInPort()));

class Multipart : public OpsTest {
protected:
    bool Run(const std::string& key, const std::string& path, long long size, RecordingCallback& cb,
             const std::string& endpoint = "") {
        return MultiUploadFile(endpoint.empty() ? ep() : endpoint.c_str(), ak(), sk(), bucket(),
                               tok(), key.c_str(), path.c_str(), size, &cb);
    }
};

TEST_F(Multipart, TenMiBPartsAndARefreshedTokenMidUpload) {
    const std::string data = RandomBytes(10 * kMiB + 1, 5);
    const std::string path = Local("f", data);
    RecordingCallback one;
    EXPECT_TRUE(Run("mp/one", path, 10 * kMiB, one));
    EXPECT_EQ(one.events(),
              (Events{{0, 20, false}, {0, 90, false}, {0, 95, false}, {0, 100, false}}));
    EXPECT_TRUE(Stored("mp/one") == data.substr(0, 10 * kMiB));
    EXPECT_EQ(Requests("UploadPart"), 1);
    const Lines logs = testlog::Messages("MultiUploadFile");
    ASSERT_EQ(logs.size(), 2u);
    const size_t at = logs[0].find("upload_id:") + 10;
    const std::string id = logs[0].substr(at, logs[0].size() - at - 1);
    EXPECT_EQ(logs, (Lines{"Init multipart upload succeeded, upload_id:" + id + "\n",
                           "Complete multipart upload from file succeeded, upload_id:" + id + " " +
                               path + "\n"}));
    for (const testlog::Entry& e : testlog::Snapshot()) {
        EXPECT_EQ(e.file, "Nimbra/OssOperate");
        EXPECT_EQ(e.level, 1);
    }

    // Every credential expires once part 1 is stored: part 2 is sent again
    // with fresh ones, which the listing (continued page by page) and the
    // completion need too.
    server_->Reset();
    server_->Settings(R"({"max_list_parts":1})");
    testlog::Clear();
    RecordingCallback two;
    two.hook = [&](int, int percent) {
        if (percent == 89) server_->ExpireCredentials();
    };
    EXPECT_TRUE(Run("mp/two", path, 10 * kMiB + 1, two));
    // 20 + 70 × 10485760 ÷ 10485761 truncates to 89.
    EXPECT_EQ(
        two.events(),
        (Events{{0, 20, false}, {0, 89, false}, {0, 90, false}, {0, 95, false}, {0, 100, false}}));
    EXPECT_TRUE(Stored("mp/two") == data);
    const DevServer::Stats stats = server_->GetStats();
    EXPECT_EQ(stats.requests.at("UploadPart"), 3);
    EXPECT_EQ(stats.requests.at("ListParts"), 2);
    const Lines refreshed = testlog::Messages("MultiUploadFile");
    ASSERT_EQ(refreshed.size(), 4u);
    EXPECT_EQ(refreshed[1], "error code: SecurityTokenExpired");
    EXPECT_EQ(refreshed[2], "sts expire , try again!");
}

// Any JSON answer is a refresh (members it lacks keep their value, empty
// before the first refresh); a failed request or an answer that is not
// JSON ends the upload with -1.
TEST_F(Multipart, RefreshOutcomes) {
    const std::string path = Local("f", RandomBytes(100, 6));
    const Events failed = {{0, 20, false}, {-1, 100, false}};
    struct Case {
        int expiries;
        std::string api_script;
        Events events;
        long parts_sent;
        Lines refresh_log;
        std::string last_log;
    } cases[] = {
        {2,
         "",
         {{0, 20, false}, {0, 90, false}, {0, 95, false}, {0, 100, false}},
         3,
         {},
         "Complete multipart upload from file succeeded, "},
        {1,
         R"("status":500,"body":"{}")",
         failed,
         1,
         {"GetStsKey fail!"},
         "sts expire , try again!"},
        {1, R"("close":true)", failed, 1, {"GetStsKey fail!"}, "sts expire , try again!"},
        {1, R"("status":200,"body":"not json")", failed, 1, {}, "sts expire , try again!"},
        {1,
         R"("status":200,"body":"{\"AccessKeyId\":\"STS.partial\"}")",
         failed,
         2,
         {},
         "Multipart upload part from file failed, 10485760, "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.api_script);
        server_->Reset();
        testlog::Clear();
        server_->AddFault(
            R"({"method":"PUT","subresource":"partNumber","action":"expire","count":)" +
            std::to_string(c.expiries) + "}");
        if (!c.api_script.empty())
            server_->ScriptApi(R"({"path":"/getStsKey","count":1,)" + c.api_script + "}");
        RecordingCallback cb;
        EXPECT_EQ(Run("mp/refresh", path, 100, cb), c.events.size() > 2);
        EXPECT_EQ(cb.events(), c.events);
        EXPECT_EQ(Requests("UploadPart"), c.parts_sent);
        EXPECT_EQ(testlog::Messages("GetStsKey"), c.refresh_log);
        const Lines logs = testlog::Messages("MultiUploadFile");
        EXPECT_EQ(std::count(logs.begin(), logs.end(), "sts expire , try again!"), c.expiries);
        EXPECT_EQ(logs.back().substr(0, c.last_log.size()), c.last_log);
    }
}

// Each failing step ends the upload with its log line and one report of
// percentage 100; nothing is completed, and nothing aborted.
TEST_F(Multipart, FailuresOfEachStep) {
    webtest::RefusingPort refused;
    const std::string closed = "http://127.0.0.1:" + std::to_string(refused.port());
    const Event started{0, 20, false}, failed{-1, 100, false};
    struct Case {
        std::string endpoint, fault;
        long long file_size, size;  // file_size -1: no such file
        Events events;
        std::string last_log;
    } cases[] = {
        {closed, "", 10, 10, {{1, 100, false}}, "Init multipart upload failed, "},
        {"",
         R"({"method":"POST","subresource":"uploads","status":500,"message":"no"})",
         10,
         10,
         {failed},
         "Init multipart upload failed, no\n"},
        // The part's nominal end, not limited to the file size.
        {"",
         R"({"method":"PUT","status":500,"code":"InternalError","message":"disk full"})",
         10,
         10,
         {started, failed},
         "Multipart upload part from file failed, 10485760, disk full, 500\n"},
        {"", "", -1, 10, {started, failed}, "Multipart upload part from file failed, 10485760, "},
        {"",
         R"({"method":"GET","subresource":"uploadId","status":500,"message":"list broke"})",
         10,
         10,
         {started, {0, 90, false}, failed},
         "List multipart failed, list broke\n"},
        {"",
         R"({"method":"POST","subresource":"uploadId","status":400,"message":"part gone"})",
         10,
         10,
         {started, {0, 90, false}, {0, 95, false}, failed},
         "Complete multipart upload from file failed, part gone\n"},
        // A file shorter than the size given.
        {"",
         "",
         10,
         20,
         {started, {0, 90, false}, failed},
         "uploaded parts hold 10 bytes, the file size is 20"},
        // No part at all: the store refuses an empty completion.
        {"",
         "",
         0,
         0,
         {started, {0, 95, false}, failed},
         "Complete multipart upload from file failed, "},
        {"",
         "",
         10,
         10000 * 10 * kMiB + 1,
         {failed},
         "file size 104857600001 needs 10001 parts, more than 10000"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.last_log);
        server_->Reset();
        testlog::Clear();
        if (!c.fault.empty()) server_->AddFault(c.fault);
        const std::string path = c.file_size < 0
                                     ? dir_.file("absent")
                                     : Local("f", RandomBytes(static_cast<size_t>(c.file_size), 7));
        RecordingCallback cb;
        EXPECT_FALSE(Run("mp/failed", path, c.size, cb, c.endpoint));
        EXPECT_EQ(cb.events(), c.events);
        const Lines logs = testlog::Messages("MultiUploadFile");
        ASSERT_FALSE(logs.empty());
        EXPECT_EQ(logs.back().substr(0, c.last_log.size()), c.last_log);
        EXPECT_EQ(Stored("mp/failed"), "<status 404>");
        EXPECT_EQ(Requests("AbortMultipartUpload"), 0);
    }
}

}  // namespace
