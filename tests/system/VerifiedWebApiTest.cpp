// The library copy built with NIMBRA_WEBAPI_CA_FILE (a path in the build tree
// that these tests write): its web API requests trust only the certificate in
// that file, and follow redirects only within the requested https origin.
#include <openssl/pem.h>

#include <cstdio>

#include "tests/support/TestServers.h"
#include "tests/system/SystemTest.h"

namespace {

using namespace systest;

class Verified : public ServerSuite {};

TEST_F(Verified, TrustsOnlyTheServerItsCaFileHolds) {
    ASSERT_TRUE(WriteFileBytes(NIMBRA_WEBAPI_CA_FILE,
                               ReadFileBytes(server_->data_dir() + "/api-cert.pem")));
    PutObject("verified/object.bin", "verified");
    const std::string out = dir_.file("object.bin");
    RecordingCallback trusted;
    EXPECT_TRUE(m->DownloadFile("verified/object.bin", out.c_str(), &trusted));
    EXPECT_EQ(trusted.trace(), "0:95 0:100");
    EXPECT_EQ(ReadFileBytes(out), "verified");

    // A server with a certificate of its own: the credentials request fails
    // verification (not a network failure), so the download sends nothing.
    server_.reset();
    StartServer();
    RecordingCallback refused;
    EXPECT_FALSE(m->DownloadFile("verified/object.bin", out.c_str(), &refused));
    EXPECT_EQ(refused.trace(), "");
    EXPECT_EQ(testlog::Messages("SendUrl"),
              (std::vector<std::string>{"[Post]: SUCESS\n", "ERR:res = 60,rescode = 0\n"}));
    EXPECT_FALSE(m->InsertUserInfo({}));
}

TEST(VerifiedRedirects, StayOnTheRequestedHttpsOrigin) {
    const webtest::TestCertificate cert("IP:127.0.0.1,DNS:localhost");
    FILE* ca = fopen(NIMBRA_WEBAPI_CA_FILE, "w");
    ASSERT_TRUE(ca != nullptr);
    ASSERT_EQ(PEM_write_X509(ca, cert.cert()), 1);
    fclose(ca);
    const auto stored = [](const httplib::Request&, httplib::Response& res) {
        res.set_content("{}", "application/json");
    };
    std::string location;
    webtest::HttpServer api(cert), plain;
    api.post("/uploadUserInfo", [&location](const httplib::Request&, httplib::Response& res) {
        res.status = 307;
        res.set_header("Location", location);
    });
    api.post("/stored", stored);
    plain.post("/stored", stored);
    api.start(PortOf(NIMBRA_SERVER_URL));
    plain.start();
    const std::string port = std::to_string(PortOf(NIMBRA_SERVER_URL));
    const struct {
        std::string location;
        bool followed;
    } cases[] = {{"/stored", true},
                 {"https://localhost:" + port + "/stored", false},
                 {plain.url("/stored"), false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.location);
        location = c.location;
        EXPECT_EQ(Manager()->InsertUserInfo({}), c.followed);
    }
    EXPECT_EQ(plain.received().size(), 0u);
}

}  // namespace
