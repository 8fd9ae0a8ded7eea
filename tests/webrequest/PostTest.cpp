// POST requests: the body as fields or streamed from a file, the extra
// options of the full option set, and the response header lines that reach
// the result text ahead of the body.
#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "Nimbra/WebRequest.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TempDir.h"
#include "tests/webrequest/SendUrlLog.h"
#include "tests/support/TestServers.h"

namespace {

using webtest::HttpServer;

const char kBinaryType[] = "Content-Type: application/octet-stream";

std::string BinaryPayload(size_t size) {
    std::string data(size, '\0');
    for (size_t i = 0; i < size; ++i) data[i] = static_cast<char>((i * 7 + i / 251) % 256);
    return data;
}

class PostTest : public ::testing::Test {
protected:
    void SetUp() override {
        server_.post("/insert", [](const httplib::Request&, httplib::Response& res) {
            res.status = 201;
            res.set_content("{\"ok\":true}", "application/octet-stream");
        });
        server_.post("/echo-size", [](const httplib::Request& req, httplib::Response& res) {
            res.set_content(std::to_string(req.body.size()), "application/octet-stream");
        });
        server_.post("/text", [](const httplib::Request&, httplib::Response& res) {
            res.set_content(text_, "text/plain");
        });
        server_.start();
        testlog::Clear();
    }

    static std::string Repeated() {
        std::string text;
        for (int i = 0; i < 400; ++i) text += "compressible line " + std::to_string(i % 4) + "\n";
        return text;
    }

    static inline const std::string text_ = Repeated();
    HttpServer server_;
};

TEST_F(PostTest, JsonBodyIsSentAndResultStartsWithTheResponseHead) {
    const std::string body = "{\"name\":\"user\",\"size\":42}";
    CWebRequest request;
    request.AddHeader("Content-Type: application/json");
    ASSERT_TRUE(request.DoPost(server_.url("/insert"), body));
    EXPECT_EQ(request.GetStatusCode(), 201);
    EXPECT_FALSE(request.IsNetError());
    webtest::ExpectSingleSendUrlLog("[Post]: SUCESS\n");

    const std::string result = request.GetResultText();
    EXPECT_EQ(result.rfind("HTTP/1.1 201 Created\r\n", 0), 0u);
    EXPECT_EQ(result, request.GetResponseHeader() + "{\"ok\":true}");
    EXPECT_NE(result.find("\r\n\r\n{\"ok\":true}"), std::string::npos);

    auto received = server_.received();
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].method, "POST");
    EXPECT_EQ(received[0].path, "/insert");
    EXPECT_EQ(received[0].body, body);
    EXPECT_EQ(received[0].header_values("Content-Type"),
              (std::vector<std::string>{"application/json"}));
    EXPECT_EQ(received[0].header("Content-Length"), std::to_string(body.size()));
    EXPECT_EQ(received[0].header("Accept-Encoding"), "GoogleAuth/1.4 ; gzip");
    EXPECT_EQ(received[0].header("User-Agent"), "curl/7.75.0");
    EXPECT_FALSE(received[0].has_header("Transfer-Encoding"));
}

TEST_F(PostTest, GzipEncodedResponseIsDecoded) {
    CWebRequest request;
    ASSERT_TRUE(request.DoPost(server_.url("/text"), "q"));
    const std::string result = request.GetResultText();
    const std::string head = request.GetResponseHeader();
    EXPECT_NE(head.find("Content-Encoding: gzip\r\n"), std::string::npos);
    // The wire carried fewer bytes than the decoded text that arrived.
    std::string length = request.SearchResponseHeader("Content-Length");
    ASSERT_FALSE(length.empty());
    EXPECT_LT(std::stoul(length), text_.size());
    EXPECT_EQ(result, head + text_);
}

TEST_F(PostTest, SimplifiedPostLeavesOutContentEncoding) {
    CWebRequest request;
    request.SetSimplify();
    ASSERT_TRUE(request.DoPost(server_.url("/text"), "q"));
    EXPECT_EQ(request.GetResultText(), request.GetResponseHeader() + text_);
    EXPECT_EQ(request.SearchResponseHeader("Content-Encoding"), "");
    auto received = server_.received();
    ASSERT_EQ(received.size(), 1u);
    EXPECT_FALSE(received[0].has_header("Accept-Encoding"));
    EXPECT_EQ(received[0].body, "q");
}

TEST_F(PostTest, EmptyBodySendsZeroBytes) {
    CWebRequest request;
    ASSERT_TRUE(request.DoPost(server_.url("/echo-size"), ""));
    auto received = server_.received();
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].method, "POST");
    EXPECT_EQ(received[0].header("Content-Length"), "0");
    EXPECT_EQ(received[0].body, "");
    const std::string result = request.GetResultText();
    EXPECT_EQ(result.substr(result.size() - 5), "\r\n\r\n0");
}

TEST_F(PostTest, BinaryBodyIsSentWhole) {
    const std::string body = BinaryPayload(300 * 1024);
    CWebRequest request;
    request.AddHeader(kBinaryType);  // the server caps form bodies
    ASSERT_TRUE(request.DoPost(server_.url("/echo-size"), body));
    auto received = server_.received();
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].body, body);
}

TEST_F(PostTest, UploadAddressStreamsTheFileChunked) {
    TempDir dir;
    const std::string content = BinaryPayload(700 * 1024);
    ASSERT_TRUE(WriteFileBytes(dir.file("upload.bin"), content));
    CWebRequest request;
    request.AddHeader(kBinaryType);
    ASSERT_TRUE(request.SetUploadAddress(dir.file("upload.bin")));
    ASSERT_TRUE(request.DoPost(server_.url("/echo-size"), "body argument is not sent"));
    auto received = server_.received();
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].header("Transfer-Encoding"), "chunked");
    EXPECT_FALSE(received[0].has_header("Content-Length"));
    EXPECT_EQ(received[0].body.size(), content.size());
    EXPECT_EQ(received[0].body, content);
}

TEST_F(PostTest, UnopenableUploadAddressFallsBackToTheBody) {
    TempDir dir;
    CWebRequest request;
    EXPECT_FALSE(request.SetUploadAddress(dir.file("missing.bin")));
    ASSERT_TRUE(request.DoPost(server_.url("/echo-size"), "fallback"));
    auto received = server_.received();
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].body, "fallback");
    EXPECT_EQ(received[0].header("Content-Length"), "8");
}

TEST_F(PostTest, StreamAfterFieldsOnOneObjectSendsTheStream) {
    TempDir dir;
    ASSERT_TRUE(WriteFileBytes(dir.file("second.bin"), "streamed second body"));
    CWebRequest request;
    {
        std::string first = "first body";
        ASSERT_TRUE(request.DoPost(server_.url("/echo-size"), first));
    }  // the first body is gone before the second request
    ASSERT_TRUE(request.SetUploadAddress(dir.file("second.bin")));
    ASSERT_TRUE(request.DoPost(server_.url("/echo-size"), std::string()));
    auto received = server_.received();
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(received[0].body, "first body");
    EXPECT_EQ(received[1].body, "streamed second body");
    EXPECT_EQ(received[1].header("Transfer-Encoding"), "chunked");
}

TEST(PostRedirects, FollowsAtMostFiftyRedirects) {
    // /hop/N redirects to /hop/N+1 until N reaches the chain length.
    std::atomic<int> chain_length{50};
    webtest::RawServer raw([&chain_length](int& fd, const std::string& request) {
        size_t start = request.find("/hop/") + 5;
        int hop = std::stoi(request.substr(start, request.find(' ', start) - start));
        if (hop < chain_length) {
            webtest::RawServer::send_all(fd, "HTTP/1.1 302 Found\r\nLocation: /hop/" +
                                                 std::to_string(hop + 1) +
                                                 "\r\nContent-Length: 0\r\nConnection: "
                                                 "close\r\n\r\n");
        } else {
            webtest::RawServer::send_all(
                fd, "HTTP/1.1 200 OK\r\nContent-Length: 3\r\nConnection: close\r\n\r\nend");
        }
    });

    CWebRequest within;
    EXPECT_TRUE(within.DoPost(raw.url("/hop/0"), "x"));
    EXPECT_EQ(within.GetResultText().substr(within.GetResultText().size() - 3), "end");
    EXPECT_EQ(raw.requests().size(), 51u);
    EXPECT_EQ(raw.requests()[0].rfind("POST /hop/0 ", 0), 0u);

    chain_length = 51;
    CWebRequest beyond;
    EXPECT_FALSE(beyond.DoPost(raw.url("/hop/0"), "x"));
    EXPECT_EQ(beyond.GetCurlCode(), CURLE_TOO_MANY_REDIRECTS);
    EXPECT_FALSE(beyond.IsNetError());
    EXPECT_EQ(raw.requests().size(), 51u + 51u);  // the 52nd hop is never requested
}

}  // namespace
