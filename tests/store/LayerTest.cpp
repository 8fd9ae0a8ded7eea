// The store layer's requests against scripted peers: what goes on the wire,
// how answers, broken answers and silence become statuses, and TLS.
#include <gtest/gtest.h>
#include <openssl/pem.h>
#include <poll.h>
#include <strings.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "Contracts/oss/aos_crc64.h"
#include "Contracts/oss/oss_api.h"
#include "Contracts/oss/oss_auth.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestData.h"
#include "tests/support/TestServers.h"

namespace {

using Lines = std::vector<std::string>;

// A complete answer; the peer closes the connection after it.
std::string Answer(int status, const std::string& body, const Lines& headers = {}) {
    std::string a = "HTTP/1.1 " + std::to_string(status) + " X\r\nConnection: close\r\n";
    for (const std::string& h : headers) a += h + "\r\n";
    return a + "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

std::string Crc(const std::string& data) {
    return "x-oss-hash-crc64ecma: " + std::to_string(aos_crc64(0, data.data(), data.size()));
}

// A peer that answers each connection's request with the next scripted
// answer (the last one again when they run out): "" closes without a word,
// "stall" waits until the client leaves.
class ScriptedPeer {
public:
    explicit ScriptedPeer(Lines answers)
        : answers_(std::move(answers)), server_([this](int& fd, const std::string&) {
              const size_t n = next_++;
              const std::string a =
                  answers_.empty() ? "" : answers_[std::min(n, answers_.size() - 1)];
              pollfd p{fd, POLLIN, 0};
              if (a == "stall") poll(&p, 1, 10000);
              webtest::RawServer::send_all(fd, a == "stall" ? "" : a);
          }) {}
    std::string endpoint() const { return server_.url(""); }
    Lines requests() const { return server_.requests(); }

private:
    Lines answers_;
    std::atomic<size_t> next_{0};
    webtest::RawServer server_;
};

std::string Header(const std::string& request, const std::string& name) {
    for (const std::string& line : webtest::RequestHeaderLines(request))
        if (strncasecmp(line.c_str(), (name + ": ").c_str(), name.size() + 2) == 0)
            return line.substr(name.size() + 2);
    return "";
}

class Layer : public ::testing::Test {
protected:
    void SetUp() override {
        apr_initialize();
        ASSERT_EQ(aos_http_io_initialize(nullptr, 0), AOSE_OK);
        apr_pool_create(&pool_, nullptr);
    }
    void TearDown() override {
        apr_pool_destroy(pool_);
        aos_http_io_deinitialize();
        apr_terminate();
    }
    oss_request_options_t* Options(const std::string& endpoint) {
        oss_request_options_t* o = oss_request_options_create(pool_);
        o->config = oss_config_create(pool_);
        aos_str_set(&o->config->endpoint, apr_pstrdup(pool_, endpoint.c_str()));
        aos_str_set(&o->config->access_key_id, "test-id");
        aos_str_set(&o->config->access_key_secret, "test-secret");
        aos_str_set(&o->config->sts_token, "TOKEN");
        o->ctl = aos_http_controller_create(pool_, 0);
        o->ctl->options = aos_http_request_options_create(pool_);
        return o;
    }
    static aos_string_t S(const char* text) {
        aos_string_t s;
        aos_str_set(&s, text);
        return s;
    }
    static std::string Text(const aos_list_t* list) {
        std::string out;
        for (const aos_list_t* it = list->next; it != list; it = it->next) {
            const aos_buf_t* b = aos_list_entry(it, aos_buf_t, node);
            out.append(reinterpret_cast<const char*>(b->pos), static_cast<size_t>(aos_buf_size(b)));
        }
        return out;
    }

    apr_pool_t* pool_ = nullptr;
    aos_string_t bucket_ = S("bkt"), key_ = S("dir/a b+\xc3\xa9.bin");
    TempDir dir_;
};

TEST_F(Layer, UploadsStreamTheirFileRangeSignedWithTheToken) {
    const std::string data = testdata::RandomBytes(100000, 1), path = dir_.file("f");
    ASSERT_TRUE(WriteFileBytes(path, data));
    ScriptedPeer peer({Answer(200, "", {Crc(data)}),
                       Answer(200, "", {Crc(data.substr(30000, 40000)), "ETag: \"E2\""}),
                       Answer(200, "", {Crc(data.substr(99990))})});
    oss_request_options_t* o = Options(peer.endpoint());
    aos_string_t file = S(path.c_str()), upload_id = S("UP-1");
    ASSERT_TRUE(
        aos_status_is_ok(oss_put_object_from_file(o, &bucket_, &key_, &file, nullptr, nullptr)));
    oss_upload_file_t* part = oss_create_upload_file(pool_);
    part->filename = file;
    part->file_pos = 30000;
    part->file_last = 70000;
    aos_table_t* answer = nullptr;
    ASSERT_TRUE(aos_status_is_ok(
        oss_upload_part_from_file(o, &bucket_, &key_, &upload_id, 2, part, &answer)));
    EXPECT_STREQ(apr_table_get(answer, "etag"), "\"E2\"");
    part->file_pos = 99990;
    part->file_last = 200000;  // past the end of the file: up to its end
    ASSERT_TRUE(aos_status_is_ok(
        oss_upload_part_from_file(o, &bucket_, &key_, &upload_id, 3, part, nullptr)));

    const Lines r = peer.requests();
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(r[0].substr(0, r[0].find("\r\n")), "PUT /bkt/dir/a%20b%2B%C3%A9.bin HTTP/1.1");
    EXPECT_TRUE(r[0].substr(r[0].find("\r\n\r\n") + 4) == data);
    EXPECT_EQ(Header(r[0], "Content-Type"), "application/octet-stream");
    const std::string date = Header(r[0], "Date");
    const std::string to_sign = "PUT\n\napplication/octet-stream\n" + date +
                                "\nx-oss-security-token:TOKEN\n/bkt/dir/a b+\xc3\xa9.bin";
    char signature[64];
    const int n =
        oss_hmac_sha1_base64("test-secret", 11, to_sign.data(), to_sign.size(), signature);
    EXPECT_EQ(Header(r[0], "Authorization"), "OSS test-id:" + std::string(signature, n));
    EXPECT_EQ(r[1].substr(0, r[1].find("\r\n")),
              "PUT /bkt/dir/a%20b%2B%C3%A9.bin?partNumber=2&uploadId=UP-1 HTTP/1.1");
    EXPECT_TRUE(r[1].substr(r[1].find("\r\n\r\n") + 4) == data.substr(30000, 40000));
    EXPECT_EQ(r[2].substr(r[2].find("\r\n\r\n") + 4), data.substr(99990));
}

TEST_F(Layer, AnswersAndTheirAbsenceBecomeStatuses) {
    const std::string expired =
        "<?xml version=\"1.0\"?><Error><Code>SecurityTokenExpired</Code><Message>The security "
        "token you provided has expired.</Message><RequestId>R-XML</RequestId></Error>";
    struct Case {
        std::string answer;
        bool head;
        int code;
        const char *error_code, *message, *request_id;
    } cases[] = {
        {Answer(403, expired, {"x-oss-request-id: R-HDR"}), false, 403, "SecurityTokenExpired",
         "The security token you provided has expired.", "R-XML"},
        // A HEAD answer has no body: the request id comes from the header.
        {Answer(404, "", {"x-oss-request-id: R-404"}), true, 404, nullptr, nullptr, "R-404"},
        {Answer(502, "<html>bad gateway</html>"), false, 502, nullptr, nullptr, nullptr},
        {"", false, AOSE_CONNECTION_FAILED, "ConnectionFailed", nullptr, nullptr},
        {"this is not http\r\n\r\n", false, AOSE_SERVICE_ERROR, "ServiceError", nullptr, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        ScriptedPeer peer({c.answer});
        oss_request_options_t* o = Options(peer.endpoint());
        aos_status_t* s = c.head ? oss_get_object_meta(o, &bucket_, &key_, nullptr)
                                 : oss_delete_object(o, &bucket_, &key_, nullptr);
        EXPECT_EQ(s->code, c.code);
        EXPECT_FALSE(aos_status_is_ok(s));
        EXPECT_STREQ(s->error_code, c.error_code);
        if (c.message) {
            EXPECT_STREQ(s->error_msg, c.message);
        }
        EXPECT_STREQ(s->req_id, c.request_id);
    }
}

TEST_F(Layer, BodiesReachTheListOnlyWhenWholeAndRight) {
    const std::string data = testdata::RandomBytes(5000, 2);
    ScriptedPeer peer({Answer(206, data.substr(0, 1000), {Crc(data)}),
                       Answer(200, data, {Crc("other")}),
                       Answer(404, "<Error><Code>NoSuchKey</Code></Error>"), Answer(200, data),
                       Answer(200, "<html>not a listing</html>"), "stall"});
    oss_request_options_t* o = Options(peer.endpoint());
    aos_table_t* range = apr_table_make(pool_, 1);
    apr_table_set(range, "Range", "bytes=0-999");
    aos_list_t body;
    aos_list_init(&body);
    aos_list_add_tail(&aos_buf_pack(pool_, "head:", 5)->node, &body);
    // A range is appended to what the list holds; its checksum describes the
    // whole object, so it is not checked.
    EXPECT_TRUE(aos_status_is_ok(
        oss_get_object_to_buffer(o, &bucket_, &key_, range, nullptr, &body, nullptr)));
    EXPECT_EQ(Text(&body), "head:" + data.substr(0, 1000));
    EXPECT_EQ(Header(peer.requests()[0], "Range"), "bytes=0-999");
    aos_list_t none;
    aos_list_init(&none);
    EXPECT_EQ(oss_get_object_to_buffer(o, &bucket_, &key_, nullptr, nullptr, &none, nullptr)->code,
              AOSE_CRC_INCONSISTENT_ERROR);
    EXPECT_EQ(oss_get_object_to_buffer(o, &bucket_, &key_, nullptr, nullptr, &none, nullptr)->code,
              404);
    o->ctl->options->max_memory_size = 4096;
    EXPECT_EQ(oss_get_object_to_buffer(o, &bucket_, &key_, nullptr, nullptr, &none, nullptr)->code,
              AOSE_OUT_MEMORY);
    EXPECT_TRUE(aos_list_empty(&none));
    oss_list_object_params_t* params = oss_create_list_object_params(pool_);
    EXPECT_EQ(oss_list_object(o, &bucket_, params, nullptr)->code, AOSE_XML_PARSE_ERROR);
    o->ctl->options->speed_limit = 1;
    o->ctl->options->speed_time = 1;
    EXPECT_EQ(oss_delete_object(o, &bucket_, &key_, nullptr)->code, AOSE_REQUEST_TIMEOUT);
}

TEST_F(Layer, NothingIsSentWithoutTheLayerOrWithBadArguments) {
    ScriptedPeer peer({});
    oss_request_options_t* o = Options(peer.endpoint());
    int code = 0;
    std::thread([&] { code = oss_delete_object(o, &bucket_, &key_, nullptr)->code; }).join();
    EXPECT_EQ(code, AOSE_FAILED_INITIALIZE);
    const std::string long_key(1024, 'k');
    aos_string_t empty = S(""), bad_bucket = S("Bad_Bucket"), too_long = S(long_key.c_str());
    aos_table_t* injected = apr_table_make(pool_, 1);
    apr_table_set(injected, "x-oss-meta-a", "v\r\nInjected: 1");
    oss_upload_file_t* part = oss_create_upload_file(pool_);
    part->filename = S("/etc/hostname");
    aos_string_t upload_id = S("U");
    const int codes[] = {
        oss_delete_object(o, &bad_bucket, &key_, nullptr)->code,
        oss_delete_object(o, &bucket_, &empty, nullptr)->code,
        oss_delete_object(o, &bucket_, &too_long, nullptr)->code,
        oss_upload_part_from_file(o, &bucket_, &key_, &upload_id, 10001, part, nullptr)->code,
        oss_complete_multipart_upload(o, &bucket_, &key_, &upload_id, nullptr, nullptr, nullptr)
            ->code,
        oss_copy_object(o, &bucket_, &key_, &bucket_, &key_, injected, nullptr)->code,
        oss_delete_object(Options("ftp://127.0.0.1:1"), &bucket_, &key_, nullptr)->code,
    };
    for (int c : codes) EXPECT_EQ(c, AOSE_INVALID_ARGUMENT);
    EXPECT_TRUE(peer.requests().empty());
}

// TLS to the store: the peer and its name are verified unless switched off.
TEST_F(Layer, TlsVerifiesThePeerAndItsName) {
    struct Case {
        const char* names;
        bool trust, check_name;
        int code;
    } cases[] = {
        {"IP:127.0.0.1", false, true, AOSE_FAILED_VERIFICATION},
        {"IP:127.0.0.1", true, true, 200},
        {"DNS:elsewhere.example", true, true, AOSE_FAILED_VERIFICATION},
        {"DNS:elsewhere.example", true, false, 200},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.names) + (c.trust ? " trusted" : "") +
                     (c.check_name ? "" : " unchecked"));
        webtest::TestCertificate certificate(c.names);
        webtest::HttpServer store(certificate);
        store.get(".*", [](const httplib::Request&, httplib::Response& res) {
            res.set_header("Connection", "close");
            res.set_content("secure bytes", "application/octet-stream");
        });
        store.start();
        const std::string ca = dir_.file("ca.pem");
        FILE* f = fopen(ca.c_str(), "w");
        ASSERT_EQ(PEM_write_X509(f, certificate.cert()), 1);
        fclose(f);
        oss_request_options_t* o = Options(store.url(""));
        if (c.trust) o->ctl->options->ca_file = apr_pstrdup(pool_, ca.c_str());
        o->ctl->options->verify_host = c.check_name;
        aos_list_t body;
        aos_list_init(&body);
        EXPECT_EQ(
            oss_get_object_to_buffer(o, &bucket_, &key_, nullptr, nullptr, &body, nullptr)->code,
            c.code);
        EXPECT_EQ(Text(&body), c.code == 200 ? "secure bytes" : "");
        EXPECT_EQ(store.received().size(), c.code == 200 ? 1u : 0u);
    }
}

}  // namespace
