// The calls against a scripted loopback peer: what goes on the wire, how
// answers and broken answers become statuses.
#include <thread>

#include "Contracts/oss/aos_crc64.h"
#include "Contracts/oss/oss_auth.h"
#include "OssClientFixture.h"
#include "ScriptedServer.h"
#include "tests/support/TempDir.h"

namespace {

std::string Hmac(const std::string& secret, const std::string& data) {
    char out[64];
    int n = oss_hmac_sha1_base64(secret.data(), (int)secret.size(), data.data(), data.size(), out);
    return std::string(out, (size_t)n);
}

std::string CrcHeader(const std::string& data) {
    return "x-oss-hash-crc64ecma: " + std::to_string(aos_crc64(0, data.data(), data.size()));
}

std::string Pattern(size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = (char)(i * 131 + i / 7);
    return s;
}

}  // namespace

class OssRequestTest : public OssClientTest {
protected:
    ScriptedServer server_;
    TempDir dir_;
    aos_string_t bucket_ = Str("bkt");
};

TEST_F(OssRequestTest, PutFromFileStreamsTheFileSignedWithTheToken) {
    const std::string data = Pattern(300000);
    const std::string path = dir_.file("up.bin");
    ASSERT_TRUE(WriteFileBytes(path, data));
    server_.Push({ScriptedServer::Response(200, "", {CrcHeader(data), "x-oss-request-id: RID1"})});
    oss_request_options_t* o = Options(server_.endpoint(), "STS.id", "sec", "TOKEN");
    aos_string_t key = Str("dir/a b+\xc3\xa9.bin"), file = Str(path.c_str());
    aos_table_t* resp = nullptr;

    aos_status_t* s = oss_put_object_from_file(o, &bucket_, &key, &file, nullptr, &resp);
    ASSERT_TRUE(aos_status_is_ok(s)) << Msg(s);
    EXPECT_STREQ(s->req_id, "RID1");
    ASSERT_NE(resp, nullptr);
    EXPECT_STREQ(apr_table_get(resp, "X-OSS-REQUEST-ID"), "RID1");

    auto reqs = server_.Requests();
    ASSERT_EQ(reqs.size(), 1u);
    const auto& r = reqs[0];
    EXPECT_EQ(r.Line(), "PUT /bkt/dir/a%20b%2B%C3%A9.bin HTTP/1.1");
    EXPECT_EQ(r.body, data);
    EXPECT_EQ(r.Header("Content-Length"), "300000");
    EXPECT_EQ(r.Header("Content-Type"), "application/octet-stream");
    EXPECT_EQ(r.Header("x-oss-security-token"), "TOKEN");
    EXPECT_EQ(r.Header("Expect"), "");
    const std::string date = r.Header("Date");
    EXPECT_EQ(date.size(), 29u);
    EXPECT_EQ(date.substr(26), "GMT");
    const std::string to_sign = "PUT\n\napplication/octet-stream\n" + date +
                                "\nx-oss-security-token:TOKEN\n/bkt/dir/a b+\xc3\xa9.bin";
    EXPECT_EQ(r.Header("Authorization"), "OSS STS.id:" + Hmac("sec", to_sign));
}

TEST_F(OssRequestTest, UploadPartSendsExactlyItsRange) {
    const std::string data = Pattern(100000);
    const std::string path = dir_.file("big.bin");
    ASSERT_TRUE(WriteFileBytes(path, data));
    const std::string part = data.substr(30000, 40000);
    server_.Push({ScriptedServer::Response(200, "", {CrcHeader(part), "ETag: \"E2\""})});
    oss_request_options_t* o = Options(server_.endpoint());
    aos_string_t key = Str("big.bin"), upload_id = Str("UP-1");
    oss_upload_file_t* f = oss_create_upload_file(pool_);
    aos_str_set(&f->filename, path.c_str());
    f->file_pos = 30000;
    f->file_last = 70000;
    aos_table_t* resp = nullptr;

    aos_status_t* s = oss_upload_part_from_file(o, &bucket_, &key, &upload_id, 2, f, &resp);
    ASSERT_TRUE(aos_status_is_ok(s)) << Msg(s);
    EXPECT_STREQ(apr_table_get(resp, "etag"), "\"E2\"");
    auto reqs = server_.Requests();
    EXPECT_EQ(reqs[0].Line(), "PUT /bkt/big.bin?partNumber=2&uploadId=UP-1 HTTP/1.1");
    EXPECT_EQ(reqs[0].body, part);
}

TEST_F(OssRequestTest, FileRangesPastTheEndAndMissingFiles) {
    const std::string path = dir_.file("small.bin");
    ASSERT_TRUE(WriteFileBytes(path, "0123456789"));
    server_.Push({ScriptedServer::Response(200, "")});
    oss_request_options_t* o = Options(server_.endpoint());
    aos_string_t key = Str("k"), upload_id = Str("U");
    oss_upload_file_t* f = oss_create_upload_file(pool_);
    aos_str_set(&f->filename, path.c_str());
    f->file_pos = 4;
    f->file_last = 1000;  // the file is shorter: up to its end
    ASSERT_TRUE(
        aos_status_is_ok(oss_upload_part_from_file(o, &bucket_, &key, &upload_id, 1, f, nullptr)));
    EXPECT_EQ(server_.Requests()[0].body, "456789");

    const std::string missing = dir_.file("missing.bin");
    aos_string_t file = Str(missing.c_str());
    aos_status_t* s = oss_put_object_from_file(o, &bucket_, &key, &file, nullptr, nullptr);
    EXPECT_EQ(s->code, AOSE_OPEN_FILE_ERROR) << Msg(s);
    aos_str_set(&f->filename, dir_.path().c_str());  // a directory
    s = oss_upload_part_from_file(o, &bucket_, &key, &upload_id, 1, f, nullptr);
    EXPECT_EQ(s->code, AOSE_OPEN_FILE_ERROR) << Msg(s);
    EXPECT_EQ(server_.Requests().size(), 1u);
}

TEST_F(OssRequestTest, ArgumentsAreCheckedBeforeAnythingIsSent) {
    oss_request_options_t* o = Options(server_.endpoint());
    aos_string_t key = Str("k"), empty = Str(""), bad_bucket = Str("Bad_Bucket");
    aos_string_t upload_id = Str("U"), no_id = aos_null_string;
    aos_list_t body;
    aos_list_init(&body);
    const std::string long_key_text(1024, 'k');
    aos_string_t long_key = Str(long_key_text.c_str());

    EXPECT_EQ(oss_delete_object(nullptr, &bucket_, &key, nullptr)->code, AOSE_INVALID_ARGUMENT);
    EXPECT_EQ(oss_delete_object(o, &bad_bucket, &key, nullptr)->code, AOSE_INVALID_ARGUMENT);
    EXPECT_EQ(oss_delete_object(o, &bucket_, &empty, nullptr)->code, AOSE_INVALID_ARGUMENT);
    EXPECT_EQ(oss_delete_object(o, &bucket_, &long_key, nullptr)->code, AOSE_INVALID_ARGUMENT);
    EXPECT_EQ(oss_get_object_to_buffer(o, &bucket_, &key, nullptr, nullptr, nullptr, nullptr)->code,
              AOSE_INVALID_ARGUMENT);
    oss_upload_file_t* f = oss_create_upload_file(pool_);
    aos_str_set(&f->filename, "/etc/hostname");
    EXPECT_EQ(oss_upload_part_from_file(o, &bucket_, &key, &upload_id, 0, f, nullptr)->code,
              AOSE_INVALID_ARGUMENT);
    EXPECT_EQ(oss_upload_part_from_file(o, &bucket_, &key, &upload_id, 10001, f, nullptr)->code,
              AOSE_INVALID_ARGUMENT);
    EXPECT_EQ(oss_upload_part_from_file(o, &bucket_, &key, &no_id, 1, f, nullptr)->code,
              AOSE_INVALID_ARGUMENT);
    EXPECT_EQ(
        oss_complete_multipart_upload(o, &bucket_, &key, &upload_id, nullptr, nullptr, nullptr)
            ->code,
        AOSE_INVALID_ARGUMENT);
    aos_table_t* evil = apr_table_make(pool_, 1);
    apr_table_set(evil, "x-oss-meta-a", "v\r\nInjected: 1");
    aos_table_t* resp = nullptr;
    aos_status_t* s = oss_copy_object(o, &bucket_, &key, &bucket_, &key, evil, &resp);
    EXPECT_EQ(s->code, AOSE_INVALID_ARGUMENT);
    EXPECT_NE(resp, nullptr);  // an empty table, never a dangling pointer

    oss_request_options_t* bad_endpoint = Options("ftp://127.0.0.1:1");
    EXPECT_EQ(oss_delete_object(bad_endpoint, &bucket_, &key, nullptr)->code,
              AOSE_INVALID_ARGUMENT);
    EXPECT_TRUE(server_.Requests().empty());
}

TEST_F(OssRequestTest, RequestsOnAnUninitialisedThreadFail) {
    oss_request_options_t* o = Options(server_.endpoint());
    aos_string_t key = Str("k");
    int code = 0;
    std::thread([&] { code = oss_delete_object(o, &bucket_, &key, nullptr)->code; }).join();
    EXPECT_EQ(code, AOSE_FAILED_INITIALIZE);
    EXPECT_TRUE(server_.Requests().empty());
}

TEST_F(OssRequestTest, ErrorDocumentsAndBareErrors) {
    server_.Push({ScriptedServer::Response(
        403,
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?><Error><Code>SecurityTokenExpired</Code>"
        "<Message>The security token you provided has expired.</Message>"
        "<RequestId>R-XML</RequestId></Error>",
        {"x-oss-request-id: R-HDR", "Content-Type: application/xml"})});
    // HEAD answers carry no body: the request id comes from the header.
    server_.Push(
        {"HTTP/1.1 404 Not Found\r\nx-oss-request-id: R-404\r\nContent-Length: 0\r\n\r\n"});
    server_.Push({ScriptedServer::Response(502, "<html>bad gateway</html>")});
    oss_request_options_t* o = Options(server_.endpoint());
    aos_string_t key = Str("k");

    aos_status_t* s = oss_delete_object(o, &bucket_, &key, nullptr);
    EXPECT_EQ(s->code, 403);
    EXPECT_STREQ(s->error_code, "SecurityTokenExpired");
    EXPECT_STREQ(s->error_msg, "The security token you provided has expired.");
    EXPECT_STREQ(s->req_id, "R-XML");

    aos_table_t* resp = nullptr;
    s = oss_get_object_meta(o, &bucket_, &key, &resp);
    EXPECT_EQ(s->code, 404);
    EXPECT_STREQ(s->req_id, "R-404");
    EXPECT_EQ(s->error_code, nullptr);

    s = oss_delete_object(o, &bucket_, &key, nullptr);
    EXPECT_EQ(s->code, 502);
    EXPECT_FALSE(aos_status_is_ok(s));
}

TEST_F(OssRequestTest, GetAppendsTheBodyAndChecksWholeObjectCrc) {
    const std::string data = Pattern(200000);
    server_.Push({ScriptedServer::Response(
        206, data.substr(0, 1000), {CrcHeader(data), "Content-Range: bytes 0-999/200000"})});
    server_.Push({ScriptedServer::Response(200, data, {CrcHeader(data)})});
    oss_request_options_t* o = Options(server_.endpoint());
    aos_string_t key = Str("k");
    aos_table_t* range = apr_table_make(pool_, 1);
    apr_table_set(range, "Range", "bytes=0-999");
    aos_table_t* params = apr_table_make(pool_, 0);

    // Appended after what the list already holds.
    aos_list_t* body = Body("head:");
    aos_status_t* s = oss_get_object_to_buffer(o, &bucket_, &key, range, params, body, nullptr);
    ASSERT_TRUE(aos_status_is_ok(s)) << Msg(s);
    EXPECT_EQ(Text(body), "head:" + data.substr(0, 1000));
    EXPECT_EQ(server_.Requests()[0].Header("Range"), "bytes=0-999");

    aos_list_t whole;
    aos_list_init(&whole);
    s = oss_get_object_to_buffer(o, &bucket_, &key, nullptr, nullptr, &whole, nullptr);
    ASSERT_TRUE(aos_status_is_ok(s)) << Msg(s);
    EXPECT_EQ(Text(&whole), data);
}

TEST_F(OssRequestTest, ErrorBodiesNeverReachTheCallersList) {
    server_.Push({ScriptedServer::Response(
        404, "<Error><Code>NoSuchKey</Code><Message>gone</Message></Error>")});
    oss_request_options_t* o = Options(server_.endpoint());
    aos_string_t key = Str("k");
    aos_list_t body;
    aos_list_init(&body);
    aos_status_t* s = oss_get_object_to_buffer(o, &bucket_, &key, nullptr, nullptr, &body, nullptr);
    EXPECT_EQ(s->code, 404);
    EXPECT_STREQ(s->error_code, "NoSuchKey");
    EXPECT_TRUE(aos_list_empty(&body));
}

TEST_F(OssRequestTest, SilenceAndGarbageAreNetworkTypeFailures) {
    server_.Push({"", true});                          // closes without a word
    server_.Push({"this is not http\r\n\r\n", true});  // no HTTP at all
    oss_request_options_t* o = Options(server_.endpoint());
    aos_string_t key = Str("k");
    aos_status_t* s = oss_delete_object(o, &bucket_, &key, nullptr);
    EXPECT_EQ(s->code, AOSE_CONNECTION_FAILED) << Msg(s);
    s = oss_delete_object(o, &bucket_, &key, nullptr);
    EXPECT_EQ(s->code, AOSE_SERVICE_ERROR) << Msg(s);
}

TEST_F(OssRequestTest, StalledAnswerTimesOut) {
    server_.Push({ScriptedServer::Response(200, ""), false, 5000});
    oss_request_options_t* o = Options(server_.endpoint());
    o->ctl->options->speed_limit = 1;
    o->ctl->options->speed_time = 1;
    aos_string_t key = Str("k");
    aos_status_t* s = oss_delete_object(o, &bucket_, &key, nullptr);
    EXPECT_EQ(s->code, AOSE_REQUEST_TIMEOUT) << Msg(s);
}

TEST_F(OssRequestTest, BodiesLargerThanTheMemoryCapFail) {
    server_.Push({ScriptedServer::Response(200, Pattern(5000)), true});
    oss_request_options_t* o = Options(server_.endpoint());
    o->ctl->options->max_memory_size = 4096;
    aos_string_t key = Str("k");
    aos_list_t body;
    aos_list_init(&body);
    aos_status_t* s = oss_get_object_to_buffer(o, &bucket_, &key, nullptr, nullptr, &body, nullptr);
    EXPECT_EQ(s->code, AOSE_OUT_MEMORY) << Msg(s);
}

TEST_F(OssRequestTest, OneConnectionServesSuccessiveRequests) {
    for (int i = 0; i < 5; ++i) server_.Push({ScriptedServer::Response(204, "")});
    server_.Push({ScriptedServer::Response(404, "<Error><Code>NoSuchKey</Code></Error>")});
    server_.Push({ScriptedServer::Response(204, "")});
    oss_request_options_t* o = Options(server_.endpoint());
    // The option the store operations may set to 0 does not cost the reuse.
    o->ctl->options->dns_cache_timeout = 0;
    aos_string_t key = Str("k");
    for (int i = 0; i < 7; ++i) oss_delete_object(o, &bucket_, &key, nullptr);
    EXPECT_EQ(server_.Requests().size(), 7u);
    EXPECT_EQ(server_.connections(), 1);
}

TEST_F(OssRequestTest, ListObjectQueryAndPages) {
    server_.Push({ScriptedServer::Response(
        200,
        "<ListBucketResult><IsTruncated>true</IsTruncated><NextMarker>p/b</NextMarker>"
        "<Contents><Key>p/a</Key><Size>3</Size><LastModified>2019-03-15T08:20:31.000Z</"
        "LastModified>"
        "<ETag>\"x\"</ETag></Contents><CommonPrefixes><Prefix>p/d/</Prefix></CommonPrefixes>"
        "</ListBucketResult>")});
    server_.Push({ScriptedServer::Response(200, "<html>not a listing</html>")});
    oss_request_options_t* o = Options(server_.endpoint(), "id", "secret", "TOK");
    oss_list_object_params_t* params = oss_create_list_object_params(pool_);
    aos_str_set(&params->prefix, "p/ x+");
    aos_str_set(&params->delimiter, "/");
    params->max_ret = 500;

    aos_status_t* s = oss_list_object(o, &bucket_, params, nullptr);
    ASSERT_TRUE(aos_status_is_ok(s)) << Msg(s);
    EXPECT_EQ(params->truncated, 1);
    EXPECT_TRUE(aos_string_equals(&params->next_marker, "p/b"));
    oss_list_object_content_t* c =
        aos_list_entry(params->object_list.next, oss_list_object_content_t, node);
    EXPECT_TRUE(aos_string_equals(&c->key, "p/a"));
    EXPECT_TRUE(aos_string_equals(&c->size, "3"));
    auto r = server_.Requests()[0];
    EXPECT_EQ(r.Line(), "GET /bkt/?prefix=p%2F%20x%2B&delimiter=%2F&max-keys=500 HTTP/1.1");
    const std::string to_sign =
        "GET\n\n\n" + r.Header("Date") + "\nx-oss-security-token:TOK\n/bkt/";
    EXPECT_EQ(r.Header("Authorization"), "OSS id:" + Hmac("secret", to_sign));

    s = oss_list_object(o, &bucket_, params, nullptr);
    EXPECT_EQ(s->code, AOSE_XML_PARSE_ERROR) << Msg(s);
}

TEST_F(OssRequestTest, MultipartRequestsOnTheWire) {
    server_.Push({ScriptedServer::Response(200,
                                           "<InitiateMultipartUploadResult><UploadId>UPID</"
                                           "UploadId></InitiateMultipartUploadResult>")});
    server_.Push({ScriptedServer::Response(
        200,
        "<ListPartsResult><IsTruncated>false</IsTruncated>"
        "<Part><PartNumber>1</PartNumber><ETag>\"E1\"</ETag></Part></ListPartsResult>")});
    server_.Push({ScriptedServer::Response(200, "<CompleteMultipartUploadResult/>")});
    server_.Push({ScriptedServer::Response(204, "")});
    oss_request_options_t* o = Options(server_.endpoint());
    aos_string_t key = Str("m.bin"), upload_id = aos_null_string;

    ASSERT_TRUE(aos_status_is_ok(
        oss_init_multipart_upload(o, &bucket_, &key, &upload_id, nullptr, nullptr)));
    EXPECT_TRUE(aos_string_equals(&upload_id, "UPID"));

    oss_list_upload_part_params_t* lp = oss_create_list_upload_part_params(pool_);
    lp->max_ret = 1000;
    aos_str_set(&lp->part_number_marker, "0");
    ASSERT_TRUE(aos_status_is_ok(oss_list_upload_part(o, &bucket_, &key, &upload_id, lp, nullptr)));
    aos_list_t complete;
    aos_list_init(&complete);
    oss_list_part_content_t* part;
    aos_list_for_each_entry(oss_list_part_content_t, part, &lp->part_list, node) {
        oss_complete_part_content_t* c = oss_create_complete_part_content(pool_);
        aos_str_set(&c->part_number, part->part_number.data);
        aos_str_set(&c->etag, part->etag.data);
        aos_list_add_tail(&c->node, &complete);
    }
    aos_table_t* headers = apr_table_make(pool_, 1);
    ASSERT_TRUE(aos_status_is_ok(
        oss_complete_multipart_upload(o, &bucket_, &key, &upload_id, &complete, headers, nullptr)));
    ASSERT_TRUE(
        aos_status_is_ok(oss_abort_multipart_upload(o, &bucket_, &key, &upload_id, nullptr)));

    auto reqs = server_.Requests();
    ASSERT_EQ(reqs.size(), 4u);
    EXPECT_EQ(reqs[0].Line(), "POST /bkt/m.bin?uploads HTTP/1.1");
    EXPECT_EQ(reqs[0].Header("Content-Length"), "0");
    EXPECT_EQ(reqs[1].Line(),
              "GET /bkt/m.bin?max-parts=1000&part-number-marker=0&uploadId=UPID HTTP/1.1");
    EXPECT_EQ(reqs[2].Line(), "POST /bkt/m.bin?uploadId=UPID HTTP/1.1");
    EXPECT_EQ(reqs[2].Header("Content-Type"), "application/xml");
    EXPECT_NE(reqs[2].body.find("<Part><PartNumber>1</PartNumber><ETag>"), std::string::npos)
        << reqs[2].body;
    aos_list_t* sent = Body(reqs[2].body);
    EXPECT_EQ(reqs[2].Header("Content-MD5"), oss_content_md5_base64(pool_, sent));
    EXPECT_EQ(reqs[3].Line(), "DELETE /bkt/m.bin?uploadId=UPID HTTP/1.1");
}

TEST_F(OssRequestTest, BucketCopyAndMetaRequests) {
    server_.Push({ScriptedServer::Response(200, "")});
    server_.Push({ScriptedServer::Response(200, "<CopyObjectResult/>")});
    server_.Push({"HTTP/1.1 200 OK\r\nContent-Length: 123456\r\nETag: \"M\"\r\n\r\n"});
    oss_request_options_t* o = Options(server_.endpoint());
    aos_string_t src_bucket = Str("src-bkt"), src = Str("a b/c"), dst = Str("d");

    ASSERT_TRUE(aos_status_is_ok(oss_create_bucket(o, &bucket_, OSS_ACL_PRIVATE, nullptr)));
    aos_table_t* empty = apr_table_make(pool_, 0);
    ASSERT_TRUE(
        aos_status_is_ok(oss_copy_object(o, &src_bucket, &src, &bucket_, &dst, empty, nullptr)));
    aos_table_t* meta = nullptr;
    ASSERT_TRUE(aos_status_is_ok(oss_get_object_meta(o, &bucket_, &dst, &meta)));
    EXPECT_STREQ(apr_table_get(meta, "content-length"), "123456");

    auto reqs = server_.Requests();
    EXPECT_EQ(reqs[0].Line(), "PUT /bkt/ HTTP/1.1");
    EXPECT_EQ(reqs[0].Header("x-oss-acl"), "private");
    EXPECT_EQ(reqs[1].Line(), "PUT /bkt/d HTTP/1.1");
    EXPECT_EQ(reqs[1].Header("x-oss-copy-source"), "/src-bkt/a%20b/c");
    EXPECT_EQ(reqs[2].Line(), "HEAD /bkt/d HTTP/1.1");
}
