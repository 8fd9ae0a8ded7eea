// Faults on demand and observation: scripted errors, dropped connections,
// delays, wrong checksums, ignored ranges, scripted web API answers, and the
// connection/request counters (with long keep-alive).
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

#include "tests/devserver/StoreTestUtil.h"
#include "tests/support/DevServer.h"
#include "tests/support/SharedDevServerTest.h"

using namespace storetest;

namespace {

// One raw HTTP/1.1 exchange: sends the request, reads until the server closes.
struct RawReply {
    std::string head;
    std::string body;
};

RawReply RawExchange(int port, const std::string& request) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        close(fd);
        throw std::runtime_error("connect failed");
    }
    timeval tv{10, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    send(fd, request.data(), request.size(), 0);
    std::string all;
    char buf[65536];
    ssize_t n;
    while ((n = recv(fd, buf, sizeof buf, 0)) > 0) all.append(buf, static_cast<size_t>(n));
    close(fd);
    RawReply r;
    size_t split = all.find("\r\n\r\n");
    r.head = all.substr(0, split);
    if (split != std::string::npos) r.body = all.substr(split + 4);
    return r;
}

class Faults : public SharedDevServerTest {
protected:
    // A signed GET as raw bytes (Connection: close).
    static std::string RawGet(const std::string& target) {
        std::map<std::string, std::string> h;
        DevServer::SignRequest(server_->IssueCredentials(), "GET", target, h);
        std::string req = "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n";
        for (const auto& kv : h) req += kv.first + ": " + kv.second + "\r\n";
        return req + "\r\n";
    }
};

}  // namespace

TEST_F(Faults, ErrorRulesMatchMethodSubresourceKeyAndCount) {
    server_->AddFault(R"({"method":"PUT","subresource":"partNumber","count":2,"action":"error",
                          "status":503,"code":"ServiceUnavailable","message":"busy"})");
    auto init = server_->StoreRequest("POST", "/nimbra-backup/f/mp?uploads");
    std::string part =
        "/nimbra-backup/f/mp?partNumber=1&uploadId=" + XmlFirst(init.second, "UploadId");
    // A plain PUT does not match the rule.
    EXPECT_EQ(server_->StoreRequest("PUT", "/nimbra-backup/f/plain", "x").first, 200);
    for (int i = 0; i < 2; ++i) {
        auto r = server_->StoreRequest("PUT", part, "p");
        EXPECT_EQ(r.first, 503);
        EXPECT_EQ(XmlFirst(r.second, "Code"), "ServiceUnavailable");
        EXPECT_EQ(XmlFirst(r.second, "Message"), "busy");
    }
    EXPECT_EQ(server_->StoreRequest("PUT", part, "p").first, 200);

    // "none" matches requests without a query; key_contains narrows further.
    server_->AddFault(R"({"subresource":"none","key_contains":"needle","count":-1,"status":500})");
    EXPECT_EQ(server_->StoreRequest("GET", "/nimbra-backup/f/plain").first, 200);
    EXPECT_EQ(server_->StoreRequest("GET", "/nimbra-backup/f/needle").first, 500);
    EXPECT_EQ(server_->StoreRequest("GET", "/nimbra-backup/f/needle").first, 500);
    EXPECT_EQ(server_->StoreRequest("GET", "/nimbra-backup/f/needle?uploadId=x").first, 404);
    auto head = server_->StoreExchange("HEAD", "/nimbra-backup/f/needle");
    EXPECT_EQ(head.status, 500);
    EXPECT_TRUE(head.body.empty());
    server_->Reset();
    EXPECT_EQ(server_->StoreRequest("GET", "/nimbra-backup/f/needle").first, 404);
}

TEST_F(Faults, ExpireRuleAnswersTokenExpiredWithoutExpiringAnything) {
    server_->AddFault(R"({"method":"PUT","action":"expire"})");
    auto r = server_->StoreRequest("PUT", "/nimbra-backup/f/e", "x");
    EXPECT_EQ(r.first, 403);
    EXPECT_EQ(XmlFirst(r.second, "Code"), "SecurityTokenExpired");
    EXPECT_EQ(XmlFirst(r.second, "Message"), "The security token you provided has expired.");
    EXPECT_EQ(server_->StoreRequest("PUT", "/nimbra-backup/f/e", "x").first, 200);
}

TEST_F(Faults, CloseCutsTheBodyAfterKBytes) {
    std::string data = RandomBytes(100000, 51);
    ASSERT_EQ(server_->StoreRequest("PUT", "/nimbra-backup/f/cut", data).first, 200);
    server_->AddFault(R"({"method":"GET","action":"close","close_after_bytes":1000})");
    RawReply cut = RawExchange(server_->store_port(), RawGet("/nimbra-backup/f/cut"));
    EXPECT_NE(cut.head.find("Content-Length: 100000"), std::string::npos) << cut.head;
    EXPECT_TRUE(cut.body == data.substr(0, 1000)) << cut.body.size();
    // Count 1: the next download is whole.
    RawReply whole = RawExchange(server_->store_port(), RawGet("/nimbra-backup/f/cut"));
    EXPECT_TRUE(whole.body == data);

    // Also for XML answers, and a client sees a failed transfer.
    server_->AddFault(R"({"method":"GET","action":"close","close_after_bytes":10})");
    auto list = server_->StoreExchange("GET", "/nimbra-backup/?prefix=f/");
    EXPECT_EQ(list.status, 0);
}

TEST_F(Faults, DelayBadCrcAndIgnoredRange) {
    std::string data = RandomBytes(5000, 52);
    ASSERT_EQ(server_->StoreRequest("PUT", "/nimbra-backup/f/crc", data).first, 200);

    server_->AddFault(R"({"method":"HEAD","action":"delay","delay_ms":300})");
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(server_->StoreExchange("HEAD", "/nimbra-backup/f/crc").status, 200);
    EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(300));

    server_->AddFault(R"({"method":"GET","action":"bad_crc"})");
    auto bad = server_->StoreExchange("GET", "/nimbra-backup/f/crc");
    EXPECT_TRUE(bad.body == data);
    EXPECT_NE(bad.header("x-oss-hash-crc64ecma"), std::to_string(ReferenceCrc64(data)));
    EXPECT_FALSE(bad.header("x-oss-hash-crc64ecma").empty());
    auto good = server_->StoreExchange("GET", "/nimbra-backup/f/crc");
    EXPECT_EQ(good.header("x-oss-hash-crc64ecma"), std::to_string(ReferenceCrc64(data)));

    server_->Settings(R"({"ignore_range": true})");
    auto whole =
        server_->StoreExchange("GET", "/nimbra-backup/f/crc", "", {{"Range", "bytes=0-9"}});
    EXPECT_EQ(whole.status, 200);
    EXPECT_EQ(whole.body.size(), data.size());
    server_->Settings(R"({"ignore_range": false})");
    EXPECT_EQ(server_->StoreExchange("GET", "/nimbra-backup/f/crc", "", {{"Range", "bytes=0-9"}})
                  .body.size(),
              10u);
}

TEST_F(Faults, ScriptedWebApiAnswers) {
    server_->ScriptApi(R"({"path":"/getStsKey","status":500,"body":"{\"oops\":1}","count":2})");
    for (int i = 0; i < 2; ++i) {
        auto r = server_->ApiRequest("GET", "/getStsKey");
        EXPECT_EQ(r.first, 500);
        EXPECT_EQ(r.second, "{\"oops\":1}");
    }
    EXPECT_EQ(server_->ApiRequest("GET", "/getStsKey").first, 200);

    server_->ScriptApi(R"({"path":"/getUserSpace","status":200,"body":"not json"})");
    EXPECT_EQ(server_->ApiRequest("GET", "/getUserSpace?name=x").second, "not json");

    server_->ScriptApi(R"({"path":"/uploadUserInfo","close":true})");
    auto dropped = server_->ApiRequest("POST", "/uploadUserInfo", R"({"name":"u"})");
    EXPECT_EQ(dropped.first, 0);
    EXPECT_EQ(server_->ApiRequest("POST", "/uploadUserInfo", R"({"name":"u"})").first, 200);
}

TEST_F(Faults, InvalidControlInputIsRefused) {
    EXPECT_THROW(server_->AddFault("not json"), std::runtime_error);
    EXPECT_THROW(server_->AddFault(R"({"action":"explode"})"), std::runtime_error);
    EXPECT_THROW(server_->AddFault(R"({"method":"PATCH"})"), std::runtime_error);
    EXPECT_THROW(server_->AddFault(R"({"count":0})"), std::runtime_error);
    EXPECT_THROW(server_->Settings(R"({"max_list_keys":-2})"), std::runtime_error);
    EXPECT_THROW(server_->Settings(R"({"ignore_range":"yes"})"), std::runtime_error);
    EXPECT_THROW(server_->ScriptApi(R"({"status":500})"), std::runtime_error);
}

TEST_F(Faults, StatsCountConnectionsAndOperationsOverLongKeepAlive) {
    ASSERT_EQ(server_->StoreRequest("PUT", "/nimbra-backup/f/s", "v").first, 200);
    DevServer::Credentials creds = server_->IssueCredentials();
    server_->Reset();
    DevServer::Stats zero = server_->GetStats();
    EXPECT_EQ(zero.connections_accepted, 0);
    EXPECT_TRUE(zero.requests.empty());

    httplib::Client cli("127.0.0.1", server_->store_port());
    cli.set_keep_alive(true);
    const int kRequests = 300;  // far beyond httplib's default of 5 per connection
    for (int i = 0; i < kRequests; ++i) {
        std::map<std::string, std::string> h;
        DevServer::SignRequest(creds, i % 2 ? "HEAD" : "GET", "/nimbra-backup/f/s", h);
        httplib::Headers hh(h.begin(), h.end());
        auto r = i % 2 ? cli.Head("/nimbra-backup/f/s", hh) : cli.Get("/nimbra-backup/f/s", hh);
        ASSERT_TRUE(r);
        ASSERT_EQ(r->status, 200);
    }
    DevServer::Stats s = server_->GetStats();
    EXPECT_EQ(s.connections_accepted, 1);
    EXPECT_EQ(s.requests["GetObject"], kRequests / 2);
    EXPECT_EQ(s.requests["HeadObject"], kRequests / 2);

    // Each fixture request opens its own connection.
    for (int i = 0; i < 3; ++i) server_->StoreRequest("DELETE", "/nimbra-backup/f/none");
    s = server_->GetStats();
    EXPECT_EQ(s.connections_accepted, 4);
    EXPECT_EQ(s.requests["DeleteObject"], 3);
}
