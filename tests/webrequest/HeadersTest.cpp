// Request header lines as the server receives them, and the response header
// store: the raw text, the name-to-value fields and their lookups.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "Nimbra/WebRequest.h"
#include "tests/support/TestServers.h"

namespace {

using webtest::HttpServer;
using webtest::RawServer;
using webtest::RequestHeaderLines;

const char kResponseHead[] =
    "HTTP/1.1 200 OK\r\n"
    "Content-Type: application/json\r\n"
    "Set-Cookie: first=1\r\n"
    "X-Clock:12:30:45\r\n"
    "Set-Cookie: second=2\r\n"
    "X-Empty:\r\n"
    "Content-Length: 2\r\n"
    "Connection: close\r\n"  // the server closes after each response
    "\r\n";

RawServer CannedServer() {
    return RawServer([](int& fd, const std::string&) {
        RawServer::send_all(fd, std::string(kResponseHead) + "{}");
    });
}

TEST(ResponseHeaderStore, KeepsRawTextAndFieldsExactlyAsReceived) {
    RawServer raw = CannedServer();
    CWebRequest request;
    ASSERT_TRUE(request.DoGet(raw.url("/h")));
    EXPECT_EQ(request.GetResultText(), "{}");
    EXPECT_EQ(request.GetResponseHeader(), kResponseHead);

    EXPECT_EQ(request.SearchResponseHeader("Content-Type"), " application/json\r\n");
    EXPECT_EQ(request.SearchResponseHeader("content-type"), "");         // names are exact
    EXPECT_EQ(request.SearchResponseHeader("X-Clock"), "12:30:45\r\n");  // split at first colon
    EXPECT_EQ(request.SearchResponseHeader("X-Empty"), "\r\n");
    EXPECT_EQ(request.SearchResponseHeader("X-Absent"), "");

    EXPECT_EQ(request.SearchResponseHeader("Set-Cookie"), " first=1\r\n");
    EXPECT_EQ(request.SearchResponseHeaders("Set-Cookie"),
              (std::vector<std::string>{" first=1\r\n", " second=2\r\n"}));
    EXPECT_TRUE(request.SearchResponseHeaders("set-cookie").empty());

    // Status line and the closing blank line are text only, not fields.
    auto fields = request.GetResponseHeaders();
    EXPECT_EQ(fields.size(), 7u);
    EXPECT_EQ(fields.count("Content-Length"), 1u);
    for (const auto& field : fields) EXPECT_EQ(field.first.find("HTTP/"), std::string::npos);
}

TEST(ResponseHeaderStore, RedirectResponsesAreStoredTooInArrivalOrder) {
    HttpServer server;
    server.get("/from", [](const httplib::Request&, httplib::Response& res) {
        res.set_header("X-Hop", "one");
        res.set_redirect("/to", 302);
    });
    server.get("/to", [](const httplib::Request&, httplib::Response& res) {
        res.set_header("X-Hop", "two");
        res.set_content("done", "text/plain");
    });
    server.start();

    CWebRequest request;
    ASSERT_TRUE(request.DoGet(server.url("/from")));
    EXPECT_EQ(request.GetStatusCode(), 200);
    EXPECT_EQ(request.SearchResponseHeaders("X-Hop"),
              (std::vector<std::string>{" one\r\n", " two\r\n"}));
    EXPECT_EQ(request.SearchResponseHeader("Location"), " /to\r\n");
    const std::string text = request.GetResponseHeader();
    size_t redirect = text.find("HTTP/1.1 302 Found\r\n");
    size_t final_status = text.find("HTTP/1.1 200 OK\r\n");
    ASSERT_NE(redirect, std::string::npos);
    ASSERT_NE(final_status, std::string::npos);
    EXPECT_LT(redirect, final_status);
}

TEST(ResponseHeaderStore, OnWriteHeaderReportsEveryByteHandled) {
    CWebRequest request;
    const std::string line = "Name: value\r\n";
    EXPECT_EQ(request.OnWriteHeader(line.data(), 1, line.size()), line.size());
    const std::string blank = "\r\n";
    EXPECT_EQ(request.OnWriteHeader(blank.data(), 1, blank.size()), blank.size());
    EXPECT_EQ(request.GetResponseHeader(), line + blank);
    EXPECT_EQ(request.GetResponseHeaders().size(), 1u);
}

TEST(RequestHeaderLines, NoCustomLinesWhenNoneWereAdded) {
    RawServer raw = CannedServer();
    CWebRequest request;
    ASSERT_TRUE(request.DoGet(raw.url("/plain")));
    ASSERT_EQ(raw.requests().size(), 1u);
    const std::string sent = raw.requests()[0];
    EXPECT_EQ(sent.rfind("GET /plain HTTP/1.1\r\n", 0), 0u);
    EXPECT_EQ(RequestHeaderLines(sent),
              (std::vector<std::string>{"Host: 127.0.0.1:" + std::to_string(raw.port()),
                                        "User-Agent: curl/7.75.0", "Accept: */*"}));
}

TEST(RequestHeaderLines, AddedLinesAreSentUnchangedInOrder) {
    RawServer raw = CannedServer();
    CWebRequest request;
    CWebRequest& same = request.AddHeader("Content-Type: application/x-www-form-urlencoded")
                            .AddHeader("X-Trace: a:b:c")
                            .AddHeader("X-Mixed-Case:  two  spaces");
    EXPECT_EQ(&same, &request);
    ASSERT_TRUE(request.DoGet(raw.url("/with")));
    ASSERT_EQ(raw.requests().size(), 1u);
    std::vector<std::string> lines = RequestHeaderLines(raw.requests()[0]);
    std::vector<std::string> expected = {"Content-Type: application/x-www-form-urlencoded",
                                         "X-Trace: a:b:c", "X-Mixed-Case:  two  spaces"};
    auto start = std::find(lines.begin(), lines.end(), expected[0]);
    ASSERT_NE(start, lines.end());
    ASSERT_GE(static_cast<size_t>(lines.end() - start), expected.size());
    EXPECT_EQ(std::vector<std::string>(start, start + 3), expected);
    EXPECT_EQ(lines.size(), 6u);  // Host, User-Agent, Accept and the three added
}

TEST(RequestHeaderLines, SecondRequestOnOneObjectResendsAndAccumulates) {
    RawServer raw = CannedServer();
    CWebRequest request;
    request.AddHeader("X-First: 1");
    ASSERT_TRUE(request.DoGet(raw.url("/one")));
    request.AddHeader("X-Second: 2");
    ASSERT_TRUE(request.DoGet(raw.url("/two")));

    ASSERT_EQ(raw.requests().size(), 2u);
    std::vector<std::string> second = RequestHeaderLines(raw.requests()[1]);
    auto first_at = std::find(second.begin(), second.end(), "X-First: 1");
    auto second_at = std::find(second.begin(), second.end(), "X-Second: 2");
    ASSERT_NE(first_at, second.end());
    ASSERT_NE(second_at, second.end());
    EXPECT_LT(first_at, second_at);
    // Both responses' header lines stay in the store.
    EXPECT_EQ(request.GetResponseHeader(), std::string(kResponseHead) + kResponseHead);
    EXPECT_EQ(request.SearchResponseHeaders("Set-Cookie").size(), 4u);
}

}  // namespace
