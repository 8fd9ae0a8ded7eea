// MultiUploadFile's credential refresh. The refresh goes to the web API
// address compiled into the library, so this suite's server listens there.
#include <algorithm>
#include <chrono>
#include <stdexcept>
#include <thread>

#include "Nimbra/NimbraConfig.h"
#include "Nimbra/OssOperate.h"
#include "tests/ops/OpsTestUtil.h"

namespace {

using opstest::Event;
using opstest::RecordingCallback;
using opstest::ServerTest;

const long long kPart = 10485760;

// The port of the compiled-in "https://127.0.0.1:<port>".
int CompiledInApiPort() {
    const std::string url = NIMBRA_SERVER_URL;
    return std::stoi(url.substr(url.rfind(':') + 1));
}

class Refresh : public ServerTest {
protected:
    static void SetUpTestSuite() {
        DevServerOptions opts;
        opts.api_port = CompiledInApiPort();
        // The port is shared with other suites, possibly run by another
        // process at the same moment: wait for it a while if it is taken.
        for (int attempt = 1;; ++attempt) {
            try {
                server_ = new DevServer(opts);
                return;
            } catch (const std::exception&) {
                if (attempt == 30) throw;
                std::this_thread::sleep_for(std::chrono::seconds(1));
            }
        }
    }
    // Once the upload is initiated, every credential issued so far expires.
    void ExpireAfterInitiation(RecordingCallback& cb) {
        cb.hook = [this](int, int percent) {
            if (percent == 20) server().ExpireCredentials();
        };
    }
    bool Run(const std::string& key, long long size, RecordingCallback& cb) {
        std::string data = opstest::RandomBytes(static_cast<size_t>(size), 5);
        EXPECT_TRUE(WriteFileBytes(dir_.file("f"), data));
        return MultiUploadFile(ep(), ak(), sk(), bucket(), tok(), key.c_str(),
                               dir_.file("f").c_str(), size, &cb);
    }
};

TEST_F(Refresh, ExpiryOnPartThreeRefreshesAndResendsThePart) {
    RecordingCallback cb;
    // Once two parts are stored, every credential issued so far expires.
    cb.hook = [&](int, int percent) {
        if (percent == 20 + 70 * 2 * kPart / (2 * kPart + 1)) server().ExpireCredentials();
    };
    EXPECT_TRUE(Run("rf/three", 2 * kPart + 1, cb));
    EXPECT_EQ(cb.events, (std::vector<Event>{{0, 20, false},
                                             {0, 54, false},
                                             {0, 89, false},
                                             {0, 90, false},
                                             {0, 95, false},
                                             {0, 100, false}}));
    // Part 3 twice; listing and completion only succeed with the new credentials.
    EXPECT_EQ(Requests("UploadPart"), 4);
    auto got = GetObject("rf/three");
    EXPECT_EQ(got.first, 200);
    EXPECT_TRUE(got.second == opstest::RandomBytes(2 * kPart + 1, 5));
    auto msgs = testlog::Messages("MultiUploadFile");
    ASSERT_EQ(msgs.size(), 4u);
    EXPECT_EQ(msgs[1], "error code: SecurityTokenExpired");
    EXPECT_EQ(msgs[2], "sts expire , try again!");
    EXPECT_EQ(msgs[3].rfind("Complete multipart upload from file succeeded", 0), 0u);
}

TEST_F(Refresh, ExpiryAnsweredByAFaultRuleIsRecognisedByItsMessage) {
    server().AddFault(R"({"method":"PUT","subresource":"partNumber","action":"expire","count":2})");
    RecordingCallback cb;
    EXPECT_TRUE(Run("rf/rule", 100, cb));
    EXPECT_EQ(cb.events, (std::vector<Event>{
                             {0, 20, false}, {0, 90, false}, {0, 95, false}, {0, 100, false}}));
    EXPECT_EQ(Requests("UploadPart"), 3);  // refreshed twice, no limit
    auto msgs = testlog::Messages("MultiUploadFile");
    EXPECT_EQ(std::count(msgs.begin(), msgs.end(), "sts expire , try again!"), 2);
}

TEST_F(Refresh, FailedRefreshEndsTheUpload) {
    server().ScriptApi(R"({"path":"/getStsKey","status":500,"body":"{}","count":1})");
    RecordingCallback cb;
    ExpireAfterInitiation(cb);
    EXPECT_FALSE(Run("rf/fail", 100, cb));
    EXPECT_EQ(cb.events, (std::vector<Event>{{0, 20, false}, {-1, 100, false}}));
    EXPECT_EQ(testlog::Messages("GetStsKey"), std::vector<std::string>{"GetStsKey fail!"});
    EXPECT_EQ(Requests("UploadPart"), 1);
}

TEST_F(Refresh, DroppedRefreshConnectionIsAGeneralFailure) {
    server().ScriptApi(R"({"path":"/getStsKey","close":true,"count":1})");
    RecordingCallback cb;
    ExpireAfterInitiation(cb);
    EXPECT_FALSE(Run("rf/drop", 100, cb));
    // A network failure of the refresh is not told apart: -1.
    EXPECT_EQ(cb.events, (std::vector<Event>{{0, 20, false}, {-1, 100, false}}));
    EXPECT_EQ(testlog::Messages("GetStsKey"), std::vector<std::string>{"GetStsKey fail!"});
}

TEST_F(Refresh, AnswerThatIsNotJsonFailsWithoutALogLine) {
    server().ScriptApi(R"({"path":"/getStsKey","status":200,"body":"not json","count":1})");
    RecordingCallback cb;
    ExpireAfterInitiation(cb);
    EXPECT_FALSE(Run("rf/text", 100, cb));
    EXPECT_EQ(cb.events, (std::vector<Event>{{0, 20, false}, {-1, 100, false}}));
    EXPECT_TRUE(testlog::Messages("GetStsKey").empty());
    auto msgs = testlog::Messages("MultiUploadFile");
    ASSERT_FALSE(msgs.empty());
    EXPECT_EQ(msgs.back(), "sts expire , try again!");
}

TEST_F(Refresh, MissingMembersStillCountAsARefresh) {
    // Only the key id arrives: the secret and token are sent empty.
    server().ScriptApi(
        R"({"path":"/getStsKey","status":200,"body":"{\"AccessKeyId\":\"STS.partial\"}","count":1})");
    RecordingCallback cb;
    ExpireAfterInitiation(cb);
    EXPECT_FALSE(Run("rf/partial", 100, cb));
    EXPECT_EQ(cb.events, (std::vector<Event>{{0, 20, false}, {-1, 100, false}}));
    EXPECT_EQ(Requests("UploadPart"), 2);  // the part was sent again
    auto msgs = testlog::Messages("MultiUploadFile");
    ASSERT_GE(msgs.size(), 3u);
    EXPECT_EQ(msgs[msgs.size() - 3], "sts expire , try again!");
    EXPECT_EQ(msgs[msgs.size() - 2], "error code: InvalidAccessKeyId");
    EXPECT_EQ(msgs.back().rfind("Multipart upload part from file failed, 10485760, ", 0), 0u)
        << msgs.back();
}

}  // namespace
