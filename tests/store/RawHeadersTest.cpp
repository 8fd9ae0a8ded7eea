// The development server's handlers see request header values as sent:
// cpp-httplib would percent-decode them, and the server replaces the
// library's decoder (tools/devserver/RawHeaders.cpp). User metadata is kept
// as the handler received it and comes back with the object's metadata;
// both requests go through the store layer (libcurl), which decodes nothing.
#include <apr_general.h>
#include <gtest/gtest.h>

#include <string>

#include "Contracts/oss/oss_api.h"
#include "tests/support/DevServer.h"
#include "tests/support/TempDir.h"

namespace {

TEST(RawHeaders, PercentEncodedValuesReachTheHandlerUnchanged) {
    // Each value decodes to other bytes.
    const struct {
        const char* name;
        const char* value;
    } cases[] = {
        {"x-oss-meta-space", "a%20b"},        {"x-oss-meta-slash", "dir%2Fkey%3Fq%3D1"},
        {"x-oss-meta-percent", "100%25"},     {"x-oss-meta-plus", "a+b%2Bc"},
        {"x-oss-meta-utf8", "%C3%A9t%C3%A9"},
    };
    DevServer server;
    const DevServer::Credentials creds = server.IssueCredentials();
    const std::string endpoint = server.store_endpoint();
    TempDir dir;
    const std::string path = dir.file("object");
    ASSERT_TRUE(WriteFileBytes(path, "raw header values"));

    apr_initialize();
    ASSERT_EQ(aos_http_io_initialize(nullptr, 0), AOSE_OK);
    apr_pool_t* pool = nullptr;
    apr_pool_create(&pool, nullptr);
    oss_request_options_t* options = oss_request_options_create(pool);
    options->config = oss_config_create(pool);
    aos_str_set(&options->config->endpoint, endpoint.c_str());
    aos_str_set(&options->config->access_key_id, creds.access_key_id.c_str());
    aos_str_set(&options->config->access_key_secret, creds.access_key_secret.c_str());
    aos_str_set(&options->config->sts_token, creds.security_token.c_str());
    options->ctl = aos_http_controller_create(pool, 0);
    aos_string_t bucket, key, file;
    aos_str_set(&bucket, server.bucket().c_str());
    aos_str_set(&key, "raw/headers");
    aos_str_set(&file, path.c_str());

    // Decoded values would also break the signature, which covers them.
    aos_table_t* headers = apr_table_make(pool, 8);
    for (const auto& c : cases) apr_table_set(headers, c.name, c.value);
    aos_status_t* put = oss_put_object_from_file(options, &bucket, &key, &file, headers, nullptr);
    EXPECT_EQ(put->code, 200) << (put->error_msg ? put->error_msg : "");
    aos_table_t* meta = nullptr;
    EXPECT_EQ(oss_get_object_meta(options, &bucket, &key, &meta)->code, 200);
    for (const auto& c : cases) {
        const char* got = meta ? apr_table_get(meta, c.name) : nullptr;
        EXPECT_STREQ(got, c.value) << c.name;
    }

    apr_pool_destroy(pool);
    aos_http_io_deinitialize();
    apr_terminate();
}

}  // namespace
