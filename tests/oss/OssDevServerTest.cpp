// Every call against the development store: real signatures with STS
// credentials, ranges, listing pages, multipart with capped part listings,
// expiry, connection reuse, broken connections and CRC faults.
#include <memory>
#include <random>
#include <set>

#include "OssClientFixture.h"
#include "tests/support/DevServer.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestData.h"

namespace {

using testdata::RandomBytes;

// Compares large binary strings without printing them.
::testing::AssertionResult SameBytes(const std::string& got, const std::string& want) {
    if (got == want) return ::testing::AssertionSuccess();
    size_t i = 0;
    while (i < got.size() && i < want.size() && got[i] == want[i]) ++i;
    return ::testing::AssertionFailure() << "got " << got.size() << " bytes, want " << want.size()
                                         << ", first difference at " << i;
}

std::string Str(const aos_string_t& s) {
    return s.data ? std::string(s.data, (size_t)s.len) : "";
}

}  // namespace

class OssDevServerTest : public OssClientTest {
protected:
    static void SetUpTestSuite() { server_ = new DevServer(); }
    static void TearDownTestSuite() {
        delete server_;
        server_ = nullptr;
    }

    void SetUp() override {
        OssClientTest::SetUp();
        server_->Reset();
        creds_ = server_->IssueCredentials();
        bucket_name_ = server_->bucket();
        aos_str_set(&bucket_, bucket_name_.c_str());
    }

    oss_request_options_t* StoreOptions() {
        return Options(server_->store_endpoint(), creds_.access_key_id, creds_.access_key_secret,
                       creds_.security_token);
    }

    // Puts `data` under `key` through a file.
    void Put(oss_request_options_t* o, const std::string& key, const std::string& data) {
        const std::string path = dir_.file("put.bin");
        ASSERT_TRUE(WriteFileBytes(path, data));
        aos_string_t k = OssClientTest::Str(key.c_str()), f = OssClientTest::Str(path.c_str());
        aos_status_t* s = oss_put_object_from_file(o, &bucket_, &k, &f, nullptr, nullptr);
        ASSERT_TRUE(aos_status_is_ok(s)) << key << ": " << Msg(s);
    }

    // The whole object in ranges of `chunk` bytes, each request in its own
    // child pool as a download does.
    std::string GetInRanges(oss_request_options_t* o, const std::string& key, int64_t size,
                            int64_t chunk) {
        aos_string_t k = OssClientTest::Str(key.c_str());
        std::string out;
        for (int64_t start = 0; start < size; start += chunk) {
            aos_pool_t* sub = nullptr;
            apr_pool_create(&sub, pool_);
            oss_request_options_t* co = oss_request_options_copy(sub, o);
            aos_table_t* headers = apr_table_make(sub, 1);
            int64_t end = std::min(start + chunk, size) - 1;
            // APR's formatter has no %lld.
            apr_table_set(headers, "Range",
                          apr_psprintf(sub, "bytes=%" APR_INT64_T_FMT "-%" APR_INT64_T_FMT,
                                       (apr_int64_t)start, (apr_int64_t)end));
            aos_list_t body;
            aos_list_init(&body);
            aos_status_t* s = oss_get_object_to_buffer(co, &bucket_, &k, headers,
                                                       apr_table_make(sub, 0), &body, nullptr);
            EXPECT_EQ(s->code, 206) << Msg(s);
            out += Text(&body);
            apr_pool_destroy(sub);
            if (s->code != 206) break;
        }
        return out;
    }

    static DevServer* server_;
    DevServer::Credentials creds_;
    std::string bucket_name_;
    aos_string_t bucket_;
    TempDir dir_;
};

DevServer* OssDevServerTest::server_ = nullptr;

TEST_F(OssDevServerTest, PutMetaRangedGetWholeGetDelete) {
    oss_request_options_t* o = StoreOptions();
    const std::string data = RandomBytes(2 * 1048576 + 12345, 1);
    const std::string key = "backups/user 1/file+%\xe4\xb8\xad.bin";
    Put(o, key, data);
    aos_string_t k = Str(key.c_str());

    aos_table_t* meta = nullptr;
    aos_status_t* s = oss_get_object_meta(o, &bucket_, &k, &meta);
    ASSERT_TRUE(aos_status_is_ok(s)) << Msg(s);
    ASSERT_NE(apr_table_get(meta, "Content-Length"), nullptr);
    EXPECT_EQ(atoll(apr_table_get(meta, "Content-Length")), (long long)data.size());
    EXPECT_NE(s->req_id, nullptr);

    EXPECT_TRUE(SameBytes(GetInRanges(o, key, (int64_t)data.size(), 1048576), data));

    // The whole object, CRC-checked against the store's checksum.
    aos_list_t whole;
    aos_list_init(&whole);
    s = oss_get_object_to_buffer(o, &bucket_, &k, nullptr, nullptr, &whole, nullptr);
    ASSERT_EQ(s->code, 200) << Msg(s);
    EXPECT_TRUE(SameBytes(Text(&whole), data));

    s = oss_delete_object(o, &bucket_, &k, nullptr);
    EXPECT_TRUE(aos_status_is_ok(s)) << Msg(s);
    s = oss_get_object_meta(o, &bucket_, &k, nullptr);
    EXPECT_EQ(s->code, 404);
}

TEST_F(OssDevServerTest, KeysWithAwkwardCharactersRoundTrip) {
    oss_request_options_t* o = StoreOptions();
    const std::vector<std::string> keys = {
        "a b/c d.txt", "plus+sign",     "pct%25%", "../dots/./x", "\xc3\xa9t\xc3\xa9/\xe6\x96\x87",
        "q?h#a&e=1",   "/leading-slash"};
    for (size_t i = 0; i < keys.size(); ++i) {
        Put(o, keys[i], "payload " + std::to_string(i));
        aos_string_t k = Str(keys[i].c_str());
        aos_list_t body;
        aos_list_init(&body);
        aos_status_t* s =
            oss_get_object_to_buffer(o, &bucket_, &k, nullptr, nullptr, &body, nullptr);
        ASSERT_TRUE(aos_status_is_ok(s)) << keys[i] << ": " << Msg(s);
        EXPECT_EQ(Text(&body), "payload " + std::to_string(i)) << keys[i];
    }
    // The listing gives back the same names.
    oss_list_object_params_t* params = oss_create_list_object_params(pool_);
    ASSERT_TRUE(aos_status_is_ok(oss_list_object(o, &bucket_, params, nullptr)));
    std::set<std::string> listed;
    oss_list_object_content_t* c;
    aos_list_for_each_entry(oss_list_object_content_t, c, &params->object_list, node) {
        listed.insert(::Str(c->key));
    }
    for (const std::string& key : keys) EXPECT_EQ(listed.count(key), 1u) << key;
}

TEST_F(OssDevServerTest, ListingFollowsNextMarkerAcrossCappedPages) {
    oss_request_options_t* o = StoreOptions();
    std::set<std::string> files, dirs;
    for (int i = 0; i < 9; ++i) {
        std::string key = "photos/img" + std::to_string(i) + ".jpg";
        Put(o, key, std::string((size_t)i + 1, 'x'));
        files.insert(key);
    }
    for (int i = 0; i < 4; ++i) {
        Put(o, "photos/y" + std::to_string(2016 + i) + "/a.jpg", "deep");
        dirs.insert("photos/y" + std::to_string(2016 + i) + "/");
    }
    Put(o, "other/z", "outside the prefix");
    server_->Settings("{\"max_list_keys\": 4}");

    oss_list_object_params_t* params = oss_create_list_object_params(pool_);
    aos_str_set(&params->prefix, "photos/");
    aos_str_set(&params->delimiter, "/");
    params->max_ret = 500;
    std::set<std::string> got_files, got_dirs;
    int pages = 0;
    for (;;) {
        aos_status_t* s = oss_list_object(o, &bucket_, params, nullptr);
        ASSERT_TRUE(aos_status_is_ok(s)) << Msg(s);
        ++pages;
        oss_list_object_content_t* c;
        aos_list_for_each_entry(oss_list_object_content_t, c, &params->object_list, node) {
            EXPECT_TRUE(got_files.insert(::Str(c->key)).second) << "twice: " << ::Str(c->key);
            EXPECT_FALSE(::Str(c->last_modified).empty());
            EXPECT_FALSE(::Str(c->etag).empty());
            if (::Str(c->key) == "photos/img4.jpg") {
                EXPECT_EQ(::Str(c->size), "5");
            }
        }
        oss_list_object_common_prefix_t* cp;
        aos_list_for_each_entry(oss_list_object_common_prefix_t, cp, &params->common_prefix_list,
                                node) {
            EXPECT_TRUE(got_dirs.insert(::Str(cp->prefix)).second);
        }
        if (!params->truncated) break;
        ASSERT_LT(pages, 20) << "listing does not end";
        params->marker.data =
            apr_psprintf(pool_, "%.*s", params->next_marker.len, params->next_marker.data);
        params->marker.len = params->next_marker.len;
        aos_list_init(&params->object_list);
        aos_list_init(&params->common_prefix_list);
    }
    EXPECT_EQ(got_files, files);
    EXPECT_EQ(got_dirs, dirs);
    EXPECT_EQ(pages, 4);  // 13 entries, 4 a page
}

TEST_F(OssDevServerTest, MultipartUploadWithCappedPartListing) {
    oss_request_options_t* o = StoreOptions();
    const int64_t part = 200 * 1024;
    const std::string data = RandomBytes((size_t)(part * 4 + 777), 2);
    const std::string path = dir_.file("multi.bin");
    ASSERT_TRUE(WriteFileBytes(path, data));
    const std::string key = "multi/big.bin";
    aos_string_t k = Str(key.c_str()), upload_id = aos_null_string;

    aos_table_t* headers = apr_table_make(pool_, 1);
    aos_status_t* s = oss_init_multipart_upload(o, &bucket_, &k, &upload_id, headers, nullptr);
    ASSERT_TRUE(aos_status_is_ok(s)) << Msg(s);
    ASSERT_FALSE(aos_is_null_string(&upload_id));

    int number = 1;
    for (int64_t off = 0; off < (int64_t)data.size(); off += part, ++number) {
        oss_upload_file_t* f = oss_create_upload_file(pool_);
        aos_str_set(&f->filename, path.c_str());
        f->file_pos = off;
        f->file_last = std::min(off + part, (int64_t)data.size());
        s = oss_upload_part_from_file(o, &bucket_, &k, &upload_id, number, f, nullptr);
        ASSERT_TRUE(aos_status_is_ok(s)) << number << ": " << Msg(s);
    }
    EXPECT_EQ(number - 1, 5);

    server_->Settings("{\"max_list_parts\": 2}");
    aos_list_t complete;
    aos_list_init(&complete);
    oss_list_upload_part_params_t* lp = oss_create_list_upload_part_params(pool_);
    lp->max_ret = 1000;
    std::vector<std::string> numbers;
    for (int pages = 1;; ++pages) {
        s = oss_list_upload_part(o, &bucket_, &k, &upload_id, lp, nullptr);
        ASSERT_TRUE(aos_status_is_ok(s)) << Msg(s);
        oss_list_part_content_t* p;
        aos_list_for_each_entry(oss_list_part_content_t, p, &lp->part_list, node) {
            numbers.push_back(::Str(p->part_number));
            oss_complete_part_content_t* c = oss_create_complete_part_content(pool_);
            aos_str_set(&c->part_number, p->part_number.data);
            aos_str_set(&c->etag, p->etag.data);
            aos_list_add_tail(&c->node, &complete);
        }
        if (!lp->truncated) break;
        ASSERT_LT(pages, 10);
        EXPECT_EQ(::Str(lp->next_part_number_marker), numbers.back());
        lp->part_number_marker = lp->next_part_number_marker;
        aos_list_init(&lp->part_list);
    }
    EXPECT_EQ(numbers, (std::vector<std::string>{"1", "2", "3", "4", "5"}));

    aos_table_t* headers2 = apr_table_make(pool_, 1);
    s = oss_complete_multipart_upload(o, &bucket_, &k, &upload_id, &complete, headers2, nullptr);
    ASSERT_TRUE(aos_status_is_ok(s)) << Msg(s);

    aos_list_t whole;
    aos_list_init(&whole);
    s = oss_get_object_to_buffer(o, &bucket_, &k, nullptr, nullptr, &whole, nullptr);
    ASSERT_TRUE(aos_status_is_ok(s)) << Msg(s);
    EXPECT_TRUE(SameBytes(Text(&whole), data));
}

TEST_F(OssDevServerTest, ExpiredTokenIsReportedWithTheStoresMessage) {
    oss_request_options_t* o = StoreOptions();
    const std::string path = dir_.file("part.bin");
    ASSERT_TRUE(WriteFileBytes(path, RandomBytes(150 * 1024, 3)));
    aos_string_t k = Str("exp/part.bin"), upload_id = aos_null_string;
    ASSERT_TRUE(
        aos_status_is_ok(oss_init_multipart_upload(o, &bucket_, &k, &upload_id, nullptr, nullptr)));
    oss_upload_file_t* f = oss_create_upload_file(pool_);
    aos_str_set(&f->filename, path.c_str());

    // The store's answer to an expired token, injected.
    server_->AddFault(R"({"method":"PUT","subresource":"partNumber","action":"expire"})");
    aos_status_t* s = oss_upload_part_from_file(o, &bucket_, &k, &upload_id, 1, f, nullptr);
    EXPECT_EQ(s->code, 403);
    EXPECT_STREQ(s->error_code, "SecurityTokenExpired");
    EXPECT_STREQ(s->error_msg, "The security token you provided has expired.");

    // Really expired credentials give the same answer; fresh ones work.
    server_->ExpireCredentials();
    s = oss_upload_part_from_file(o, &bucket_, &k, &upload_id, 1, f, nullptr);
    EXPECT_EQ(s->code, 403) << Msg(s);
    ASSERT_NE(s->error_msg, nullptr);
    EXPECT_NE(strstr(s->error_msg, "you provided has expired"), nullptr) << s->error_msg;
    DevServer::Credentials fresh = server_->IssueCredentials();
    oss_request_options_t* o2 = Options(server_->store_endpoint(), fresh.access_key_id,
                                        fresh.access_key_secret, fresh.security_token);
    s = oss_upload_part_from_file(o2, &bucket_, &k, &upload_id, 1, f, nullptr);
    EXPECT_TRUE(aos_status_is_ok(s)) << Msg(s);
}

TEST_F(OssDevServerTest, AbortedUploadIsGone) {
    oss_request_options_t* o = StoreOptions();
    aos_string_t k = Str("abort/obj"), upload_id = aos_null_string;
    ASSERT_TRUE(
        aos_status_is_ok(oss_init_multipart_upload(o, &bucket_, &k, &upload_id, nullptr, nullptr)));
    aos_status_t* s = oss_abort_multipart_upload(o, &bucket_, &k, &upload_id, nullptr);
    ASSERT_TRUE(aos_status_is_ok(s)) << Msg(s);
    oss_list_upload_part_params_t* lp = oss_create_list_upload_part_params(pool_);
    s = oss_list_upload_part(o, &bucket_, &k, &upload_id, lp, nullptr);
    EXPECT_EQ(s->code, 404) << Msg(s);
    EXPECT_STREQ(s->error_code, "NoSuchUpload");
}

TEST_F(OssDevServerTest, CallerHeadersAreSignedAndKept) {
    oss_request_options_t* o = StoreOptions();
    const std::string path = dir_.file("typed.txt");
    ASSERT_TRUE(WriteFileBytes(path, "text"));
    aos_string_t k = Str("typed.txt"), f = Str(path.c_str());
    aos_table_t* headers = apr_table_make(pool_, 2);
    apr_table_set(headers, "Content-Type", "text/plain");
    apr_table_set(headers, "X-OSS-Meta-Owner", "  backup user ");
    aos_status_t* s = oss_put_object_from_file(o, &bucket_, &k, &f, headers, nullptr);
    ASSERT_TRUE(aos_status_is_ok(s)) << Msg(s);
    aos_table_t* meta = nullptr;
    ASSERT_TRUE(aos_status_is_ok(oss_get_object_meta(o, &bucket_, &k, &meta)));
    EXPECT_STREQ(apr_table_get(meta, "Content-Type"), "text/plain");
    // The caller's table is not changed by the call.
    EXPECT_EQ(apr_table_get(headers, "Authorization"), nullptr);
    EXPECT_EQ(apr_table_get(headers, "Date"), nullptr);
}

TEST_F(OssDevServerTest, WrongSecretIsRejected) {
    oss_request_options_t* o = Options(server_->store_endpoint(), creds_.access_key_id,
                                       "not-the-secret", creds_.security_token);
    aos_string_t k = Str("any");
    aos_status_t* s = oss_get_object_meta(o, &bucket_, &k, nullptr);
    EXPECT_EQ(s->code, 403) << Msg(s);
}

TEST_F(OssDevServerTest, OneOperationUsesOneConnection) {
    // A download's requests: metadata, then 300 ranges, on one connection.
    oss_request_options_t* o = StoreOptions();
    o->ctl->options->dns_cache_timeout = 0;
    const std::string data = RandomBytes(300 * 1024, 4);
    Put(o, "reuse/obj", data);
    aos_http_io_deinitialize();  // the operation ends; its connection with it

    server_->Reset();
    ASSERT_EQ(aos_http_io_initialize(nullptr, 0), AOSE_OK);
    aos_string_t k = Str("reuse/obj");
    ASSERT_TRUE(aos_status_is_ok(oss_get_object_meta(o, &bucket_, &k, nullptr)));
    EXPECT_TRUE(SameBytes(GetInRanges(o, "reuse/obj", (int64_t)data.size(), 1024), data));
    DevServer::Stats stats = server_->GetStats();
    EXPECT_EQ(stats.requests["GetObject"], 300);
    EXPECT_EQ(stats.requests["HeadObject"], 1);
    EXPECT_EQ(stats.connections_accepted, 1);
}

TEST_F(OssDevServerTest, ServerClosingMidBodyIsAConnectionFailure) {
    oss_request_options_t* o = StoreOptions();
    const std::string data = RandomBytes(100000, 5);
    Put(o, "cut/obj", data);
    server_->AddFault(R"({"method":"GET","action":"close","close_after_bytes":1000})");
    aos_string_t k = Str("cut/obj");
    aos_list_t body;
    aos_list_init(&body);
    aos_status_t* s = oss_get_object_to_buffer(o, &bucket_, &k, nullptr, nullptr, &body, nullptr);
    EXPECT_EQ(s->code, AOSE_CONNECTION_FAILED) << Msg(s);
    EXPECT_TRUE(aos_list_empty(&body));  // no partial body
    // The next request of the operation connects again.
    aos_list_t again;
    aos_list_init(&again);
    s = oss_get_object_to_buffer(o, &bucket_, &k, nullptr, nullptr, &again, nullptr);
    ASSERT_TRUE(aos_status_is_ok(s)) << Msg(s);
    EXPECT_TRUE(SameBytes(Text(&again), data));
}

TEST_F(OssDevServerTest, CrcMismatchIsDetected) {
    oss_request_options_t* o = StoreOptions();
    const std::string data = RandomBytes(50000, 6);
    server_->AddFault(R"({"method":"PUT","action":"bad_crc"})");
    const std::string path = dir_.file("crc.bin");
    ASSERT_TRUE(WriteFileBytes(path, data));
    aos_string_t k = Str("crc/obj"), f = Str(path.c_str());
    aos_status_t* s = oss_put_object_from_file(o, &bucket_, &k, &f, nullptr, nullptr);
    EXPECT_EQ(s->code, AOSE_CRC_INCONSISTENT_ERROR) << Msg(s);

    // A whole-object read whose checksum does not match its bytes.
    Put(o, "crc/obj", data);
    server_->AddFault(R"({"method":"GET","action":"bad_crc"})");
    aos_list_t body;
    aos_list_init(&body);
    s = oss_get_object_to_buffer(o, &bucket_, &k, nullptr, nullptr, &body, nullptr);
    EXPECT_EQ(s->code, AOSE_CRC_INCONSISTENT_ERROR) << Msg(s);
    EXPECT_TRUE(aos_list_empty(&body));
}

TEST_F(OssDevServerTest, InjectedErrorsCarryCodeMessageAndRequestId) {
    oss_request_options_t* o = StoreOptions();
    server_->AddFault(
        R"({"method":"DELETE","action":"error","status":503,"code":"ServiceUnavailable","message":"try later"})");
    aos_string_t k = Str("err/obj");
    aos_status_t* s = oss_delete_object(o, &bucket_, &k, nullptr);
    EXPECT_EQ(s->code, 503);
    EXPECT_STREQ(s->error_code, "ServiceUnavailable");
    EXPECT_STREQ(s->error_msg, "try later");
    ASSERT_NE(s->req_id, nullptr);
    EXPECT_GT(strlen(s->req_id), 0u);
}

TEST_F(OssDevServerTest, CreateBucketAndCopy) {
    oss_request_options_t* o = StoreOptions();
    aos_status_t* s = oss_create_bucket(o, &bucket_, OSS_ACL_PRIVATE, nullptr);
    ASSERT_TRUE(aos_status_is_ok(s)) << Msg(s);
    Put(o, "copy/src name", "copied bytes");
    aos_string_t src = Str("copy/src name"), dst = Str("copy/dst name+x");
    s = oss_copy_object(o, &bucket_, &src, &bucket_, &dst, apr_table_make(pool_, 0), nullptr);
    ASSERT_TRUE(aos_status_is_ok(s)) << Msg(s);
    aos_list_t body;
    aos_list_init(&body);
    s = oss_get_object_to_buffer(o, &bucket_, &dst, nullptr, nullptr, &body, nullptr);
    ASSERT_TRUE(aos_status_is_ok(s)) << Msg(s);
    EXPECT_EQ(Text(&body), "copied bytes");
    // A missing source, and a bucket these credentials do not cover.
    aos_string_t missing = Str("copy/missing"), other = Str("nimbra-other");
    s = oss_copy_object(o, &bucket_, &missing, &bucket_, &dst, nullptr, nullptr);
    EXPECT_EQ(s->code, 404) << Msg(s);
    s = oss_copy_object(o, &bucket_, &src, &other, &dst, nullptr, nullptr);
    EXPECT_EQ(s->code, 403) << Msg(s);
    EXPECT_STREQ(s->error_code, "AccessDenied");
}

TEST_F(OssDevServerTest, StoppedServerRefusesConnections) {
    DevServer doomed;
    DevServer::Credentials c = doomed.IssueCredentials();
    oss_request_options_t* o =
        Options(doomed.store_endpoint(), c.access_key_id, c.access_key_secret, c.security_token);
    doomed.Kill();
    aos_string_t k = Str("any");
    aos_status_t* s = oss_get_object_meta(o, &bucket_, &k, nullptr);
    EXPECT_EQ(s->code, AOSE_CONNECTION_FAILED) << Msg(s);
}
