// Request authentication: every refusal code, the accepted variants (x-oss-date,
// token as query parameter, signed URLs), and bucket scoping.
#include <gtest/gtest.h>

#include <ctime>

#include "tests/devserver/StoreTestUtil.h"
#include "tests/support/DevServer.h"
#include "tests/support/SharedDevServerTest.h"
#include "tools/devserver/Signer.h"

using namespace storetest;

namespace {

std::string HttpDate(time_t t) {
    struct tm tm_utc;
    gmtime_r(&t, &tm_utc);
    char buf[64];
    strftime(buf, sizeof buf, "%a, %d %b %Y %H:%M:%S GMT", &tm_utc);
    return buf;
}

class StoreAuth : public SharedDevServerTest {
protected:
    void SetUp() override {
        SharedDevServerTest::SetUp();
        creds_ = server_->IssueCredentials();
    }
    DevServer::Response Signed(const std::string& method, const std::string& target,
                               std::map<std::string, std::string> headers = {},
                               const std::string& body = "") {
        if (!body.empty()) headers["Content-Type"] = "application/octet-stream";
        DevServer::SignRequest(creds_, method, target, headers);
        return server_->StoreExchange(method, target, body, headers);
    }
    DevServer::Credentials creds_;
};

}  // namespace

TEST_F(StoreAuth, SignedRequestsWithIssuedCredentialsAreServed) {
    EXPECT_EQ(creds_.access_key_id.rfind("STS.", 0), 0u);
    EXPECT_EQ(Signed("PUT", "/nimbra-backup/auth/ok", {}, "data").status, 200);
    EXPECT_EQ(Signed("GET", "/nimbra-backup/auth/ok").status, 200);
    // x-oss-date takes the place of Date in the signature.
    auto r = Signed("GET", "/nimbra-backup/auth/ok", {{"x-oss-date", HttpDate(time(nullptr))}});
    EXPECT_EQ(r.status, 200) << r.body;
}

TEST_F(StoreAuth, UnsignedRequestsAreRefused) {
    auto r = server_->StoreExchange("GET", "/nimbra-backup/auth/ok", "", {{"Authorization", ""}});
    EXPECT_EQ(r.status, 403);
    EXPECT_EQ(XmlFirst(r.body, "Code"), "AccessDenied");
    auto malformed =
        server_->StoreExchange("GET", "/nimbra-backup/x", "", {{"Authorization", "Basic abc"}});
    EXPECT_EQ(malformed.status, 400);
}

TEST_F(StoreAuth, UnknownKeyWrongTokenBadSignature) {
    DevServer::Credentials unknown = creds_;
    unknown.access_key_id = "STS.doesnotexist";
    std::map<std::string, std::string> h;
    DevServer::SignRequest(unknown, "GET", "/nimbra-backup/x", h);
    auto r = server_->StoreExchange("GET", "/nimbra-backup/x", "", h);
    EXPECT_EQ(r.status, 403);
    EXPECT_EQ(XmlFirst(r.body, "Code"), "InvalidAccessKeyId");

    DevServer::Credentials wrong_token = creds_;
    wrong_token.security_token = "CAIS-not-the-token";
    h.clear();
    DevServer::SignRequest(wrong_token, "GET", "/nimbra-backup/x", h);
    r = server_->StoreExchange("GET", "/nimbra-backup/x", "", h);
    EXPECT_EQ(r.status, 403);
    EXPECT_EQ(XmlFirst(r.body, "Code"), "InvalidSecurityToken");

    DevServer::Credentials wrong_secret = creds_;
    wrong_secret.access_key_secret = "not-the-secret";
    h.clear();
    DevServer::SignRequest(wrong_secret, "GET", "/nimbra-backup/some%20key?uploadId=U1&max-parts=5",
                           h);
    r = server_->StoreExchange("GET", "/nimbra-backup/some%20key?uploadId=U1&max-parts=5", "", h);
    EXPECT_EQ(r.status, 403);
    EXPECT_EQ(XmlFirst(r.body, "Code"), "SignatureDoesNotMatch");
    // The answer shows the string the server signed, as the real store does.
    std::string expected = "GET\n\n\n" + h["Date"] +
                           "\nx-oss-security-token:" + creds_.security_token +
                           "\n/nimbra-backup/some key?uploadId=U1";
    EXPECT_EQ(XmlText(XmlFirst(r.body, "StringToSign")), expected);
    EXPECT_NE(XmlText(XmlFirst(r.body, "Message")).find(expected), std::string::npos);
}

TEST_F(StoreAuth, ClockSkewBeyondFifteenMinutesIsRefused) {
    auto late =
        Signed("GET", "/nimbra-backup/x", {{"x-oss-date", HttpDate(time(nullptr) - 16 * 60)}});
    EXPECT_EQ(late.status, 403);
    EXPECT_EQ(XmlFirst(late.body, "Code"), "RequestTimeTooSkewed");
    auto early =
        Signed("GET", "/nimbra-backup/x", {{"x-oss-date", HttpDate(time(nullptr) + 16 * 60)}});
    EXPECT_EQ(XmlFirst(early.body, "Code"), "RequestTimeTooSkewed");
    auto within =
        Signed("GET", "/nimbra-backup/x", {{"x-oss-date", HttpDate(time(nullptr) - 10 * 60)}});
    EXPECT_EQ(within.status, 404);  // authenticated; the key just does not exist
    auto garbage = Signed("GET", "/nimbra-backup/x", {{"x-oss-date", "yesterday"}});
    EXPECT_EQ(garbage.status, 403);
    EXPECT_EQ(XmlFirst(garbage.body, "Code"), "AccessDenied");
}

TEST_F(StoreAuth, ExpiredCredentialsSayTheTokenExpired) {
    ASSERT_EQ(Signed("PUT", "/nimbra-backup/exp", {}, "v").status, 200);
    server_->ExpireCredentials();
    auto r = Signed("GET", "/nimbra-backup/exp");
    EXPECT_EQ(r.status, 403);
    EXPECT_EQ(XmlFirst(r.body, "Code"), "SecurityTokenExpired");
    EXPECT_EQ(XmlFirst(r.body, "Message"), "The security token you provided has expired.");
    // A fresh credential works again.
    creds_ = server_->IssueCredentials();
    EXPECT_EQ(Signed("GET", "/nimbra-backup/exp").status, 200);
}

TEST_F(StoreAuth, CredentialsAreScopedToTheConfiguredBucket) {
    auto r = Signed("PUT", "/other-bucket/key", {}, "v");
    EXPECT_EQ(r.status, 403);
    EXPECT_EQ(XmlFirst(r.body, "Code"), "AccessDenied");
    ASSERT_EQ(Signed("PUT", "/nimbra-backup/scoped", {}, "v").status, 200);
    auto copy =
        Signed("PUT", "/nimbra-backup/scoped2", {{"x-oss-copy-source", "/other-bucket/scoped"}});
    EXPECT_EQ(copy.status, 403);
    EXPECT_EQ(XmlFirst(copy.body, "Code"), "AccessDenied");
}

TEST_F(StoreAuth, TokenAsQueryParameterAndSignedUrls) {
    ASSERT_EQ(Signed("PUT", "/nimbra-backup/q/obj", {}, "query").status, 200);
    std::string token = UrlEncode(creds_.security_token, false);
    std::string date = HttpDate(time(nullptr));
    std::string sts = devserver::StringToSign(
        "GET", "", "", date, "",
        devserver::CanonicalizedResource("nimbra-backup", "q/obj",
                                         {{"security-token", creds_.security_token}}));
    std::map<std::string, std::string> h = {
        {"Date", date},
        {"Authorization", "OSS " + creds_.access_key_id + ":" +
                              devserver::SignString(creds_.access_key_secret, sts)}};
    auto r = server_->StoreExchange("GET", "/nimbra-backup/q/obj?security-token=" + token, "", h);
    EXPECT_EQ(r.status, 200) << r.body;
    EXPECT_EQ(r.body, "query");

    // Signed URL: Expires in place of the date, credentials in the query.
    std::string expires = std::to_string(time(nullptr) + 300);
    std::string url_sts = devserver::StringToSign(
        "GET", "", "", expires, "",
        devserver::CanonicalizedResource("nimbra-backup", "q/obj",
                                         {{"security-token", creds_.security_token}}));
    std::string sig = devserver::SignString(creds_.access_key_secret, url_sts);
    std::string target = "/nimbra-backup/q/obj?OSSAccessKeyId=" + creds_.access_key_id +
                         "&Expires=" + expires + "&Signature=" + UrlEncode(sig, false) +
                         "&security-token=" + token;
    auto url = server_->StoreExchange("GET", target, "", {{"Authorization", ""}});
    EXPECT_EQ(url.status, 200) << url.body;
    std::string stale = "/nimbra-backup/q/obj?OSSAccessKeyId=" + creds_.access_key_id +
                        "&Expires=1000&Signature=" + UrlEncode(sig, false) +
                        "&security-token=" + token;
    EXPECT_EQ(server_->StoreExchange("GET", stale, "", {{"Authorization", ""}}).status, 403);
}
