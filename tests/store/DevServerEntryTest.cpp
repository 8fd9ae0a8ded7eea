// The development server's checks on requests as they arrive, over real
// sockets: control routes that answer at once, and only loopback hosts and
// JSON requests; request framing and header limits; object names and sizes
// the real store refuses; header values kept as sent; a storm of new
// connections; the web API's records, strict JSON and integers written in full.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <map>
#include <memory>
#include <thread>

#include "JsonUtil.h"
#include "tests/support/DevServer.h"

namespace {

// Sends `request` on a fresh connection; returns what came back until the
// server closed it, or "<open>" appended when it stayed open for 5 s; or
// "100 Continue" alone, as soon as it comes.
std::string Exchange(int port, const std::string& request) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return "";
    EXPECT_EQ(send(fd, request.data(), request.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(request.size()));
    std::string answer;
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        char buf[4096];
        if (poll(&p, 1, 5000) != 1) {
            answer += "<open>";
            break;
        }
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0) break;
        answer.append(buf, static_cast<size_t>(n));
        if (answer == "HTTP/1.1 100 Continue\r\n\r\n") break;
    }
    close(fd);
    return answer;
}

std::string Lines(const std::string& prefix, int count, size_t length) {
    std::string lines;
    for (int i = 0; i < count; ++i)
        lines += prefix + std::to_string(i) + ": " + std::string(length, 'v') + "\r\n";
    return lines;
}

// A server of its own, its web API in plain HTTP so that raw requests can
// be written to it.
class DevServerEntry : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        DevServerOptions options;
        options.api_plain_http = true;
        server_ = std::make_unique<DevServer>(options);
    }
    static void TearDownTestSuite() { server_.reset(); }
    static inline std::unique_ptr<DevServer> server_;
};

// A request: its start line, header lines, the blank line and `body`.
std::string Request(const std::string& start, const std::string& headers,
                    const std::string& body = "") {
    return start + " HTTP/1.1\r\n" + headers + "\r\n" + body;
}

// The header lines of a request signed with `creds`, `headers` among them.
std::string SignedHead(const DevServer::Credentials& creds, const std::string& method,
                       const std::string& target, std::map<std::string, std::string> headers = {}) {
    DevServer::SignRequest(creds, method, target, headers);
    std::string lines;
    for (const auto& kv : headers) lines += kv.first + ": " + kv.second + "\r\n";
    return lines;
}

TEST_F(DevServerEntry, RequestsAreCheckedAsTheyArrive) {
    const std::string json = "Content-Type: application/json\r\n", ok = "{\"ok\":true}";
    const std::string host = "Host: 127.0.0.1\r\n", put = "PUT /nimbra-backup/k";
    // Requests that pass the entry checks ask to close; those refused there
    // are closed by the server.
    const std::string last = host + "Connection: close\r\n";
    // A signed head that announces a body and waits for "100 Continue".
    const DevServer::Credentials creds = server_->IssueCredentials();
    auto announce = [&](const std::string& target, long long length) {
        return Request("PUT " + target,
                       host + SignedHead(creds, "PUT", target, {{"Expect", "100-continue"}}) +
                           "Content-Length: " + std::to_string(length) + "\r\n");
    };
    const std::string initiated = server_->StoreExchange("POST", "/nimbra-backup/k?uploads").body;
    const std::string part = "/nimbra-backup/k?partNumber=1&uploadId=" +
                             initiated.substr(initiated.find("<UploadId>") + 10, 32);
    const struct {
        std::string request;
        std::string answer;  // the status line after "HTTP/1.1 ", and a part of the body
        std::string body;
        bool next_served = false;  // a request sent after it is answered too
    } cases[] = {
        // Control routes: an empty body is {} (or a clear error), at once.
        {Request("POST /__dev/reset", last + json), "200", ok},
        {Request("POST /__dev/settings",
                 "Host: localhost:9\r\nConnection: close\r\n" + json + "Content-Length: 0\r\n"),
         "200", ok},
        {Request("POST /__dev/faults", last + json), "400", "the body must be one fault rule"},
        {Request("POST /__dev/settings", last + json + "Content-Length: 4\r\n", "{} x"), "400",
         "bytes follow the JSON document"},
        {Request("POST /__dev/settings", host + json + "Content-Length: abc\r\n"), "400",
         "Content-Length"},
        // Only JSON requests for a loopback host: a web page cannot send them.
        {Request("POST /__dev/reset", host + "Content-Type: text/plain\r\nContent-Length: 2\r\n",
                 "{}" + Request("GET /__dev/health", host)),
         "415", "as Content-Type: application/json\"}"},
        {Request("POST /__dev/reset", "Host: evil.example\r\n" + json), "403",
         "a loopback host only"},
        // The store: framing, and object names starting with / or \.
        {Request(put, host + "Content-Length: 1\r\nContent-Length: 2\r\n", "x"), "400",
         "<Code>InvalidArgument</Code>"},
        {Request(put, host), "411", "<Code>MissingContentLength</Code>"},
        {Request("GET /nimbra-backup//k", last), "400", "<Code>InvalidObjectName</Code>"},
        {Request("GET /nimbra-backup/%5Ck", last), "400", "<Code>InvalidObjectName</Code>"},
        // An object, or a part, of at most 5 GiB: refused from the length
        // announced, before any byte of the body.
        {announce("/nimbra-backup/big", 5LL << 30), "100 Continue", ""},
        {announce("/nimbra-backup/big", (5LL << 30) + 1), "400", "<Code>EntityTooLarge</Code>"},
        {announce(part, 5LL << 30), "100 Continue", ""},
        {announce(part, (5LL << 30) + 1), "400", "<Code>EntityTooLarge</Code>"},
        // At most 100 header lines, 64 KiB in all.
        {Request("GET /__dev/health", last + Lines("X-A", 97, 1)), "200", ok},
        {Request("GET /__dev/health", host + Lines("X-A", 101, 1)), "400", ""},
        {Request("GET /__dev/health", host + Lines("X-B", 9, 8000)), "400", ""},
        // A body the answer does not need: read and dropped (this one looks
        // like a request), and the connection goes on; refused with it when
        // long; dropped from where a chunked document gets too long, and
        // answered after it.
        {Request(put, host + "Content-Length: 5\r\n", "GET /" + Request("GET /__dev/health", last)),
         "403", ok, true},
        {Request(put, host + "Content-Length: 100000000\r\n"), "403", "<Code>AccessDenied</Code>"},
        {Request("POST /__dev/settings", last + json + "Transfer-Encoding: chunked\r\n",
                 "100001\r\n" + std::string(0x100001, ' ') + "\r\n0\r\n\r\n"),
         "413", "one small JSON object"},
    };
    for (const auto& c : cases) {
        const std::string answer = Exchange(server_->store_port(), c.request);
        EXPECT_EQ(answer.substr(0, 9 + c.answer.size()), "HTTP/1.1 " + c.answer)
            << c.request.substr(0, 60);
        EXPECT_NE(answer.find(c.body), std::string::npos) << answer;
        EXPECT_EQ(answer.find("<open>"), std::string::npos) << answer;
        EXPECT_EQ(answer.find("HTTP/1.1 200", 1) != std::string::npos, c.next_served) << answer;
    }
}

// Header values reach the handlers as sent, not decoded: user metadata comes
// back as it went (a decoded value would also break the signature).
TEST_F(DevServerEntry, HeaderValuesAreKeptAsSent) {
    const std::map<std::string, std::string> meta = {{"x-oss-meta-space", "a%20b"},
                                                     {"x-oss-meta-slash", "dir%2Fkey%3Fq%3D1"},
                                                     {"x-oss-meta-percent", "100%25"},
                                                     {"x-oss-meta-plus", "a+b%2Bc"},
                                                     {"x-oss-meta-utf8", "%C3%A9t%C3%A9"}};
    ASSERT_EQ(server_->StoreExchange("PUT", "/nimbra-backup/meta", "raw", meta).status, 200);
    const std::string head = "Host: 127.0.0.1\r\nConnection: close\r\n" +
                             SignedHead(server_->IssueCredentials(), "HEAD", "/nimbra-backup/meta");
    const std::string answer =
        Exchange(server_->store_port(), Request("HEAD /nimbra-backup/meta", head));
    for (const auto& m : meta)
        EXPECT_NE(answer.find(m.first + ": " + m.second + "\r\n"), std::string::npos) << answer;
}

// 64 clients that open a new connection for every request all get an
// answer, none a 5xx, and every store connection is counted. The run lasts
// NIMBRA_STORM_SECONDS (default 2; 20 makes the longer check).
TEST_F(DevServerEntry, ConnectionStormGetsEveryRequestAnswered) {
    const char* seconds = std::getenv("NIMBRA_STORM_SECONDS");
    const auto end =
        std::chrono::steady_clock::now() + std::chrono::seconds(seconds ? std::atoi(seconds) : 2);
    server_->Reset();
    std::atomic<long> to_store{0}, failed{0};
    std::vector<std::thread> clients;
    for (int i = 0; i < 64; ++i)
        clients.emplace_back([&, i] {
            for (int n = i; std::chrono::steady_clock::now() < end; ++n) {
                const std::string path = n % 2 ? "/__dev/health" : "/nimbra-backup/k";
                const std::string answer =
                    Exchange(server_->store_port(),
                             Request("GET " + path, "Host: 127.0.0.1\r\nConnection: close\r\n"));
                to_store += n % 2 == 0;
                if (answer.rfind("HTTP/1.1 ", 0) != 0 || answer[9] == '5' ||
                    answer.find("<open>") != std::string::npos)
                    ++failed;
            }
        });
    for (std::thread& t : clients) t.join();
    EXPECT_EQ(failed, 0);
    EXPECT_EQ(server_->GetStats().connections_accepted, to_store);
}

TEST_F(DevServerEntry, WebApiRecordsSpaceDeletionAndStrictInput) {
    httplib::Client api("127.0.0.1", server_->api_port());
    api.set_keep_alive(true);
    api.set_tcp_nodelay(true);
    auto call = [&](const std::string& target, const std::string& body = "") {
        auto r = body.empty() ? api.Get(target.c_str())
                              : api.Post(target.c_str(), body, "application/json");
        return r ? std::to_string(r->status) + " " + r->body : "no answer";
    };
    for (const char* size : {"100", "3000000000", "7", "42", "5"})
        call("/uploadUserInfo", std::string(R"({"name":"alice","file_size":)") + size + "}");
    call("/uploadUserInfo", R"({"name":"bob","file_size":11})");
    // Newest first, per_page at a time, with the total.
    devserver::JsonPtr page =
        devserver::ParseJson(call("/getUser?name=alice&per_page=2&page=2").substr(4));
    std::string seen = std::to_string(cJSON_GetObjectItem(page.get(), "total")->valueint) + ":";
    for (const cJSON* rec = cJSON_GetObjectItem(page.get(), "data")->child; rec; rec = rec->next)
        seen += " " + std::to_string(static_cast<long long>(
                          cJSON_GetObjectItem(rec, "file_size")->valuedouble));
    EXPECT_EQ(seen, "5: 7 3000000000");
    EXPECT_EQ((std::vector<std::string>{
                  call("/getUserSpace?name=alice"), call("/deleteUser?name=alice"),
                  call("/getUserSpace?name=alice"), call("/getUserSpace?name=bob")}),
              (std::vector<std::string>{R"(200 {"size":3000000154})", R"(200 {"deleted":5})",
                                        R"(200 {"size":0})", R"(200 {"size":11})"}));
    // Bad input gets a JSON error; a name holds at most 254 bytes; a JSON
    // escape of a backslash is no NUL.
    for (const std::string& body :
         {"{\"name\":\"" + std::string(254, 'n') + "\"}", std::string(R"({"name":"a\\u0000"})")})
        EXPECT_EQ(call("/uploadUserInfo", body).substr(0, 3), "200") << body;
    for (const std::string& body :
         {"{\"name\":\"" + std::string(255, 'n') + "\"}",
          std::string(R"({"name":"u","file_size":-1})"), std::string(R"({"name":"a\u0000b"})")})
        EXPECT_EQ(call("/uploadUserInfo", body).substr(0, 13), "400 {\"error\":") << body;
    EXPECT_EQ(call("/getUser?name=u&per_page=0").substr(0, 13) + call("/no/such/path").substr(0, 3),
              "400 {\"error\":404");
    const std::string unsent =
        Request("POST /uploadUserInfo", "Host: 127.0.0.1\r\nConnection: close\r\n");
    EXPECT_EQ(Exchange(server_->api_port(), unsent).substr(0, 12), "HTTP/1.1 400");

    // Integers are written in full; 1025 records of 2^53 bytes pass 2^63:
    // the sum stops there.
    const std::string big = R"("file_size":9007199254740992)";
    EXPECT_NE(call("/uploadUserInfo", R"({"name":"huge",)" + big + "}").find(big),
              std::string::npos);
    EXPECT_NE(call("/getUser?name=huge").find(big), std::string::npos);
    for (int i = 0; i < 1024; ++i)
        ASSERT_EQ(call("/uploadUserInfo", R"({"name":"huge",)" + big + "}").substr(0, 4), "200 ");
    EXPECT_EQ(call("/getUserSpace?name=huge"), R"(200 {"size":9223372036854775807})");
}

}  // namespace
