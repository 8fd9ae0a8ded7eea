// How a GET's outcome is classified: status and result code, the network
// failure flag, the result text kept or emptied, and the one log line.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "Nimbra/WebRequest.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TempDir.h"
#include "tests/webrequest/SendUrlLog.h"
#include "tests/support/TestServers.h"

namespace {

using webtest::ExpectSingleSendUrlLog;
using webtest::HttpServer;
using webtest::RawServer;

class OutcomeTest : public ::testing::Test {
protected:
    void SetUp() override {
        server_.get("/ok", [](const httplib::Request&, httplib::Response& res) {
            res.set_content(std::string("{\"a\":1}\0tail", 12), "application/json");
        });
        server_.get("/created", [](const httplib::Request&, httplib::Response& res) {
            res.status = 201;
            res.set_content("made it", "text/plain");
        });
        server_.get("/empty",
                    [](const httplib::Request&, httplib::Response& res) { res.status = 204; });
        server_.get("/missing", [](const httplib::Request&, httplib::Response& res) {
            res.status = 404;
            res.set_content("<h1>no such page</h1>", "text/html");
        });
        server_.get("/broken", [](const httplib::Request&, httplib::Response& res) {
            res.status = 500;
            res.set_content("server trouble", "text/plain");
        });
        server_.start();
        testlog::Clear();
    }

    HttpServer server_;
};

TEST_F(OutcomeTest, Status200IsSuccessWithWholeBody) {
    CWebRequest request;
    EXPECT_TRUE(request.DoGet(server_.url("/ok")));
    EXPECT_EQ(request.GetStatusCode(), 200);
    EXPECT_EQ(request.GetCurlCode(), 0);
    EXPECT_FALSE(request.IsNetError());
    EXPECT_EQ(request.GetResultText(), std::string("{\"a\":1}\0tail", 12));  // NUL kept
    ExpectSingleSendUrlLog("[Post]: SUCESS\n");

    auto received = server_.received();
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].method, "GET");
    EXPECT_EQ(received[0].path, "/ok");
    EXPECT_EQ(received[0].header("User-Agent"), "curl/7.75.0");
    EXPECT_TRUE(received[0].body.empty());
}

TEST_F(OutcomeTest, Status201IsSuccessWithBody) {
    CWebRequest request;
    EXPECT_TRUE(request.DoGet(server_.url("/created")));
    EXPECT_EQ(request.GetStatusCode(), 201);
    EXPECT_EQ(request.GetResultText(), "made it");
    EXPECT_FALSE(request.IsNetError());
    ExpectSingleSendUrlLog("[Post]: SUCESS\n");
}

TEST_F(OutcomeTest, OtherStatusesFailWithoutNetworkErrorAndKeepTheBody) {
    {
        CWebRequest request;
        EXPECT_FALSE(request.DoGet(server_.url("/empty")));
        EXPECT_EQ(request.GetStatusCode(), 204);
        EXPECT_EQ(request.GetCurlCode(), 0);
        EXPECT_FALSE(request.IsNetError());
        EXPECT_EQ(request.GetResultText(), "");
        ExpectSingleSendUrlLog("ERR:res = 0,rescode = 204\n");
    }
    testlog::Clear();
    {
        CWebRequest request;
        EXPECT_FALSE(request.DoGet(server_.url("/missing")));
        EXPECT_EQ(request.GetStatusCode(), 404);
        EXPECT_FALSE(request.IsNetError());
        EXPECT_EQ(request.GetResultText(), "<h1>no such page</h1>");
        ExpectSingleSendUrlLog("ERR:res = 0,rescode = 404\n");
    }
    testlog::Clear();
    {
        CWebRequest request;
        EXPECT_FALSE(request.DoGet(server_.url("/broken")));
        EXPECT_EQ(request.GetStatusCode(), 500);
        EXPECT_FALSE(request.IsNetError());
        EXPECT_EQ(request.GetResultText(), "server trouble");
        ExpectSingleSendUrlLog("ERR:res = 0,rescode = 500\n");
    }
}

TEST_F(OutcomeTest, RedirectChainEndsWithTheFinalStatusAndCarriesCookies) {
    HttpServer redirects;
    redirects.get("/first", [](const httplib::Request&, httplib::Response& res) {
        res.set_header("Set-Cookie", "session=abc");
        res.set_redirect("/second", 302);
    });
    redirects.get("/second", [](const httplib::Request&, httplib::Response& res) {
        res.set_redirect("/final", 301);
    });
    redirects.get("/final", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("arrived", "text/plain");
    });
    redirects.start();

    CWebRequest request;
    EXPECT_TRUE(request.DoGet(redirects.url("/first")));
    EXPECT_EQ(request.GetStatusCode(), 200);
    EXPECT_EQ(request.GetResultText(), "arrived");

    auto received = redirects.received();
    ASSERT_EQ(received.size(), 3u);
    EXPECT_EQ(received[0].path, "/first");
    EXPECT_EQ(received[1].path, "/second");
    EXPECT_EQ(received[2].path, "/final");
    for (const auto& r : received) EXPECT_EQ(r.method, "GET");
    // The in-memory cookie engine is on: the cookie comes back on the way.
    EXPECT_FALSE(received[0].has_header("Cookie"));
    EXPECT_EQ(received[1].header("Cookie"), "session=abc");
    EXPECT_EQ(received[2].header("Cookie"), "session=abc");
}

TEST_F(OutcomeTest, ServerClosingMidBodyFailsWithoutNetworkErrorAndKeepsWhatArrived) {
    RawServer raw([](int& fd, const std::string&) {
        RawServer::send_all(fd, "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nonly part");
    });
    CWebRequest request;
    EXPECT_FALSE(request.DoGet(raw.url("/partial")));
    EXPECT_EQ(request.GetCurlCode(), CURLE_PARTIAL_FILE);
    EXPECT_EQ(request.GetStatusCode(), 200);
    EXPECT_FALSE(request.IsNetError());
    EXPECT_EQ(request.GetResultText(), "only part");
    ExpectSingleSendUrlLog("ERR:res = 18,rescode = 200\n");
}

TEST_F(OutcomeTest, ConnectionResetIsNetworkFailure) {
    RawServer raw([](int& fd, const std::string&) { RawServer::reset(fd); });
    CWebRequest request;
    EXPECT_FALSE(request.DoGet(raw.url("/reset")));
    EXPECT_EQ(request.GetCurlCode(), CURLE_RECV_ERROR);
    EXPECT_EQ(request.GetStatusCode(), 0);
    EXPECT_TRUE(request.IsNetError());
    ExpectSingleSendUrlLog("ERR:res = 56,rescode = 0\n");
    ASSERT_EQ(raw.requests().size(), 1u);
    EXPECT_EQ(raw.requests()[0].rfind("GET /reset HTTP/1.1\r\n", 0), 0u);
}

TEST_F(OutcomeTest, UnresolvableHostIsNetworkFailure) {
    CWebRequest request;
    EXPECT_FALSE(request.DoGet("http://nimbra-webrequest-test.invalid/x"));
    EXPECT_EQ(request.GetCurlCode(), CURLE_COULDNT_RESOLVE_HOST);
    EXPECT_EQ(request.GetStatusCode(), 0);
    EXPECT_TRUE(request.IsNetError());
    ExpectSingleSendUrlLog("ERR:res = 6,rescode = 0\n");
}

TEST_F(OutcomeTest, TlsHandshakeFailureIsNetworkFailure) {
    // A TLS client talking to a plain HTTP server fails in the handshake.
    CWebRequest request;
    EXPECT_FALSE(request.DoGet("https://127.0.0.1:" + std::to_string(server_.port()) + "/ok"));
    EXPECT_EQ(request.GetCurlCode(), CURLE_SSL_CONNECT_ERROR);
    EXPECT_TRUE(request.IsNetError());
    ExpectSingleSendUrlLog("ERR:res = 35,rescode = 0\n");
}

TEST_F(OutcomeTest, RefusedConnectionIsNotNetworkFailure) {
    webtest::RefusingPort refusing;
    CWebRequest request;
    EXPECT_FALSE(request.DoGet("http://127.0.0.1:" + std::to_string(refusing.port()) + "/"));
    EXPECT_EQ(request.GetCurlCode(), CURLE_COULDNT_CONNECT);
    EXPECT_EQ(request.GetStatusCode(), 0);
    EXPECT_FALSE(request.IsNetError());
    ExpectSingleSendUrlLog("ERR:res = 7,rescode = 0\n");
}

TEST_F(OutcomeTest, CompletedTransferWithoutStatusIsNetworkFailureWithEmptyResult) {
    // A file URL completes without any HTTP status.
    TempDir dir;
    ASSERT_TRUE(WriteFileBytes(dir.file("body.txt"), "local bytes"));
    CWebRequest request;
    ASSERT_TRUE(request.DoGet(server_.url("/created")));  // leaves a result behind
    testlog::Clear();
    EXPECT_FALSE(request.DoGet("file://" + dir.file("body.txt")));
    EXPECT_EQ(request.GetCurlCode(), 0);
    EXPECT_EQ(request.GetStatusCode(), 0);
    EXPECT_TRUE(request.IsNetError());
    EXPECT_EQ(request.GetResultText(), "");
    ExpectSingleSendUrlLog("ERR:m_nCurlCode = 0,m_nStatusCode = 0\n");
}

TEST_F(OutcomeTest, EachOutcomeLogsFromItsOwnCallSite) {
    std::set<int> lines;
    auto record = [&lines](const std::string& url) {
        testlog::Clear();
        CWebRequest request;
        request.DoGet(url);
        auto entries = testlog::Snapshot();
        ASSERT_EQ(entries.size(), 1u);
        lines.insert(entries[0].line);
    };
    TempDir dir;
    ASSERT_TRUE(WriteFileBytes(dir.file("f"), "x"));
    record(server_.url("/ok"));
    record(server_.url("/missing"));
    record("file://" + dir.file("f"));
    testlog::Clear();
    CWebRequest closed;
    closed.CloseConn();
    EXPECT_FALSE(closed.DoGet(server_.url("/ok")));
    ExpectSingleSendUrlLog("ERR:curl_easy_init");
    lines.insert(testlog::Snapshot()[0].line);
    EXPECT_EQ(lines.size(), 4u);
}

}  // namespace
