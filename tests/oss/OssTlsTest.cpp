// TLS towards the store: the peer and its name are verified unless the
// options switch a check off explicitly.
#include <openssl/pem.h>
#include <stdio.h>

#include "OssClientFixture.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestServers.h"

class OssTlsTest : public OssClientTest {
protected:
    // A TLS store answering every GET, with a certificate for `names`.
    void Start(const std::string& names) {
        cert_ = std::make_unique<webtest::TestCertificate>(names);
        server_ = std::make_unique<webtest::HttpServer>(*cert_);
        server_->get(".*", [](const httplib::Request&, httplib::Response& res) {
            res.set_content("secure bytes", "application/octet-stream");
        });
        server_->start();
        ca_file_ = dir_.file("ca.pem");
        FILE* f = fopen(ca_file_.c_str(), "w");
        ASSERT_NE(f, nullptr);
        ASSERT_EQ(PEM_write_X509(f, cert_->cert()), 1);
        fclose(f);
    }
    oss_request_options_t* TlsOptions() {
        return Options("https://127.0.0.1:" + std::to_string(server_->port()));
    }
    aos_status_t* Get(oss_request_options_t* o, std::string* body = nullptr) {
        aos_string_t bucket = Str("bkt"), key = Str("obj");
        aos_list_t list;
        aos_list_init(&list);
        aos_status_t* s =
            oss_get_object_to_buffer(o, &bucket, &key, nullptr, nullptr, &list, nullptr);
        if (body) *body = Text(&list);
        return s;
    }

    TempDir dir_;
    std::string ca_file_;
    std::unique_ptr<webtest::TestCertificate> cert_;
    std::unique_ptr<webtest::HttpServer> server_;
};

TEST_F(OssTlsTest, UnknownIssuerFailsVerificationByDefault) {
    Start("IP:127.0.0.1");
    oss_request_options_t* o = TlsOptions();
    // The integer option the store operations set to 0 leaves TLS checks alone.
    o->ctl->options->dns_cache_timeout = 0;
    aos_status_t* s = Get(o);
    EXPECT_EQ(s->code, AOSE_FAILED_VERIFICATION) << Msg(s);
    EXPECT_STREQ(s->error_code, "FailedVerification");
    EXPECT_TRUE(server_->received().empty());

    // Without any controller options the defaults verify too.
    o->ctl->options = nullptr;
    EXPECT_EQ(Get(o)->code, AOSE_FAILED_VERIFICATION);
}

TEST_F(OssTlsTest, TrustedCertificateForTheHostIsAccepted) {
    Start("IP:127.0.0.1");
    oss_request_options_t* o = TlsOptions();
    o->ctl->options->ca_file = apr_pstrdup(pool_, ca_file_.c_str());
    std::string body;
    aos_status_t* s = Get(o, &body);
    ASSERT_TRUE(aos_status_is_ok(s)) << Msg(s);
    EXPECT_EQ(body, "secure bytes");
    ASSERT_EQ(server_->received().size(), 1u);
    EXPECT_EQ(server_->received()[0].path, "/bkt/obj");
}

TEST_F(OssTlsTest, CertificateForAnotherNameFailsUnlessTheHostCheckIsOff) {
    Start("DNS:elsewhere.example");
    oss_request_options_t* o = TlsOptions();
    o->ctl->options->ca_file = apr_pstrdup(pool_, ca_file_.c_str());
    aos_status_t* s = Get(o);
    EXPECT_EQ(s->code, AOSE_FAILED_VERIFICATION) << Msg(s);

    o->ctl->options->verify_host = 0;
    s = Get(o);
    EXPECT_TRUE(aos_status_is_ok(s)) << Msg(s);
}
