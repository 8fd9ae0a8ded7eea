// What the server acknowledged survives a crash (SIGKILL) and a restart:
// records, credentials, objects, uploads in progress. Shutdown is clean.
#include <gtest/gtest.h>
#include <httplib.h>
#include <unistd.h>

#include "tests/devserver/StoreTestUtil.h"
#include "tests/support/DevServer.h"

using namespace storetest;

TEST(Persistence, EverythingAcknowledgedSurvivesAKill) {
    DevServer server;
    std::string data = RandomBytes(200000, 41);
    ASSERT_EQ(server.StoreRequest("PUT", "/nimbra-backup/keep/me.bin", data).first, 200);
    ASSERT_EQ(server
                  .ApiRequest("POST", "/uploadUserInfo",
                              R"({"name":"carol","file_name":"me.bin","file_size":200000})")
                  .first,
              200);
    auto init = server.StoreRequest("POST", "/nimbra-backup/keep/mp?uploads");
    std::string id = XmlFirst(init.second, "UploadId");
    std::string p1 = RandomBytes(100 * 1024, 42);
    auto part1 =
        server.StoreExchange("PUT", "/nimbra-backup/keep/mp?partNumber=1&uploadId=" + id, p1);
    ASSERT_EQ(part1.status, 200);
    DevServer::Credentials creds = server.IssueCredentials();
    int api_port = server.api_port(), store_port = server.store_port();

    server.Kill();
    server.Restart();
    EXPECT_EQ(server.api_port(), api_port);
    EXPECT_EQ(server.store_port(), store_port);

    EXPECT_TRUE(server.StoreRequest("GET", "/nimbra-backup/keep/me.bin").second == data);
    auto space = server.ApiRequest("GET", "/getUserSpace?name=carol");
    EXPECT_EQ(space.second, "{\"size\":200000}");
    // The credential issued before the crash is still valid.
    std::map<std::string, std::string> h;
    DevServer::SignRequest(creds, "HEAD", "/nimbra-backup/keep/me.bin", h);
    EXPECT_EQ(server.StoreExchange("HEAD", "/nimbra-backup/keep/me.bin", "", h).status, 200);
    // The upload continues where it was.
    auto part2 =
        server.StoreExchange("PUT", "/nimbra-backup/keep/mp?partNumber=2&uploadId=" + id, "end");
    ASSERT_EQ(part2.status, 200);
    std::string body = "<CompleteMultipartUpload><Part><PartNumber>1</PartNumber><ETag>" +
                       part1.header("etag") +
                       "</ETag></Part><Part><PartNumber>2</PartNumber><ETag>" +
                       part2.header("etag") + "</ETag></Part></CompleteMultipartUpload>";
    EXPECT_EQ(server.StoreRequest("POST", "/nimbra-backup/keep/mp?uploadId=" + id, body).first,
              200);
    EXPECT_TRUE(server.StoreRequest("GET", "/nimbra-backup/keep/mp").second == p1 + "end");
}

TEST(Persistence, RestartKeepsTheCertificateAndDropsUnfinishedWrites) {
    DevServer server;
    std::string cert = ReadFile(server.data_dir() + "/api-cert.pem");
    ASSERT_FALSE(cert.empty());
    EXPECT_EQ(server.Stop(), 0);  // clean shutdown on SIGTERM
    // A temporary file left by an interrupted write is removed at start.
    std::string leftover = server.data_dir() + "/tmp/interrupted";
    {
        FILE* f = fopen(leftover.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        fputs("half", f);
        fclose(f);
    }
    server.Restart();
    EXPECT_EQ(ReadFile(server.data_dir() + "/api-cert.pem"), cert);
    EXPECT_NE(access(leftover.c_str(), F_OK), 0);
    EXPECT_EQ(server.IssueCredentials().access_key_id.rfind("STS.", 0), 0u);
}

TEST(Persistence, ShutdownIsCleanWithIdleKeepAliveConnectionsOpen) {
    DevServer server;
    httplib::Client idle("127.0.0.1", server.store_port());
    idle.set_keep_alive(true);
    ASSERT_TRUE(idle.Get("/__dev/stats"));
    EXPECT_EQ(server.Stop(), 0);
}
