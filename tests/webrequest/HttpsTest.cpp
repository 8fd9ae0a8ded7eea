// Requests over TLS: a self-signed certificate is accepted as long as it
// names the host, and a POST with the full option set offers only its own
// cipher list.
#include <gtest/gtest.h>
#include <openssl/ssl.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "Nimbra/WebRequest.h"
#include "tests/support/LogCapture.h"
#include "tests/webrequest/SendUrlLog.h"
#include "tests/support/TestServers.h"

namespace {

using webtest::HttpServer;
using webtest::TestCertificate;

void AddRoutes(HttpServer& server) {
    server.get("/get", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("secure get", "application/octet-stream");
    });
    server.post("/post", [](const httplib::Request& req, httplib::Response& res) {
        res.set_content("secure post " + req.body, "application/octet-stream");
    });
}

TEST(Https, SelfSignedCertificateNamingTheHostIsAccepted) {
    TestCertificate cert("IP:127.0.0.1,DNS:localhost");
    HttpServer server(cert);
    AddRoutes(server);
    server.start();

    CWebRequest get;
    ASSERT_TRUE(get.DoGet(server.url("/get")));
    EXPECT_EQ(get.GetResultText(), "secure get");

    CWebRequest by_name;
    ASSERT_TRUE(by_name.DoGet("https://localhost:" + std::to_string(server.port()) + "/get"));

    CWebRequest post;
    post.AddHeader("Content-Type: application/json");
    ASSERT_TRUE(post.DoPost(server.url("/post"), "{}"));
    EXPECT_EQ(post.GetResultText().rfind("HTTP/1.1 200 OK\r\n", 0), 0u);
    EXPECT_EQ(post.GetResultText(), post.GetResponseHeader() + "secure post {}");
    EXPECT_EQ(server.received().size(), 3u);
}

TEST(Https, CertificateForAnotherHostIsRejectedWithoutNetworkError) {
    TestCertificate cert("DNS:elsewhere.example");
    HttpServer server(cert);
    AddRoutes(server);
    server.start();
    testlog::Clear();

    CWebRequest request;
    EXPECT_FALSE(request.DoGet(server.url("/get")));
    EXPECT_EQ(request.GetCurlCode(), CURLE_PEER_FAILED_VERIFICATION);
    EXPECT_FALSE(request.IsNetError());
    webtest::ExpectSingleSendUrlLog("ERR:res = 60,rescode = 0\n");
    EXPECT_TRUE(server.received().empty());
}

// The cipher suites of every ClientHello a server receives, in offered
// order, without the renegotiation signalling value.
struct HelloRecorder {
    std::mutex mutex;
    std::vector<std::vector<uint16_t>> offers;
    std::vector<bool> alpn;  // whether each hello offered ALPN

    static int Callback(SSL* ssl, int*, void* arg) {
        const unsigned char* bytes = nullptr;
        size_t size = SSL_client_hello_get0_ciphers(ssl, &bytes);
        std::vector<uint16_t> ids;
        for (size_t i = 0; i + 1 < size; i += 2) {
            uint16_t id = static_cast<uint16_t>(bytes[i] << 8 | bytes[i + 1]);
            if (id != 0x00ff) ids.push_back(id);
        }
        auto* self = static_cast<HelloRecorder*>(arg);
        std::lock_guard<std::mutex> lock(self->mutex);
        self->offers.push_back(ids);
        const unsigned char* ext = nullptr;
        size_t ext_size = 0;
        self->alpn.push_back(
            SSL_client_hello_get0_ext(ssl, TLSEXT_TYPE_application_layer_protocol_negotiation, &ext,
                                      &ext_size) == 1);
        return SSL_CLIENT_HELLO_SUCCESS;
    }
};

// What an OpenSSL client configured with `cipher_list` offers.
std::vector<uint16_t> OfferFor(const char* cipher_list) {
    std::vector<uint16_t> ids;
    SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
    if (ctx == nullptr) return ids;
    SSL* ssl = nullptr;
    if (SSL_CTX_set_cipher_list(ctx, cipher_list) == 1) ssl = SSL_new(ctx);
    if (ssl != nullptr) {
        STACK_OF(SSL_CIPHER)* ciphers = SSL_get1_supported_ciphers(ssl);
        for (int i = 0; i < sk_SSL_CIPHER_num(ciphers); ++i) {
            ids.push_back(SSL_CIPHER_get_protocol_id(sk_SSL_CIPHER_value(ciphers, i)));
        }
        sk_SSL_CIPHER_free(ciphers);
        SSL_free(ssl);
    }
    SSL_CTX_free(ctx);
    return ids;
}

TEST(Https, PostOffersItsCipherListAndNoAlpn) {
    TestCertificate cert("IP:127.0.0.1,DNS:localhost");
    HelloRecorder hellos;
    HttpServer server([&](SSL_CTX& ctx) {
        SSL_CTX_set_client_hello_cb(&ctx, &HelloRecorder::Callback, &hellos);
        return SSL_CTX_use_certificate(&ctx, cert.cert()) == 1 &&
               SSL_CTX_use_PrivateKey(&ctx, cert.key()) == 1;
    });
    AddRoutes(server);
    server.start();

    CWebRequest full;
    EXPECT_TRUE(full.DoPost(server.url("/post"), "x"));
    CWebRequest simplified;
    simplified.SetSimplify();
    EXPECT_TRUE(simplified.DoPost(server.url("/post"), "y"));
    CWebRequest get;
    EXPECT_TRUE(get.DoGet(server.url("/get")));

    const std::vector<uint16_t> expected = OfferFor(
        "ECDHE+AESGCM:ECDHE+CHACHA20:DHE+AESGCM:DHE+CHACHA20:ECDH+AES:DH+AES:RSA+AESGCM:RSA+AES:"
        "!aNULL:!eNULL:!MD5:!DSS");
    ASSERT_FALSE(expected.empty());
    std::lock_guard<std::mutex> lock(hellos.mutex);
    ASSERT_EQ(hellos.offers.size(), 3u);
    EXPECT_EQ(hellos.offers[0], expected);
    // Without the full option set the library's default list is offered.
    EXPECT_NE(hellos.offers[1], expected);
    EXPECT_EQ(hellos.offers[1], hellos.offers[2]);
    // Every POST turns ALPN off; a GET leaves libcurl's default (on).
    EXPECT_EQ(hellos.alpn, (std::vector<bool>{false, false, true}));
}

}  // namespace
