// Request signing: the HMAC step, the canonical headers and resource, and
// whole requests whose signatures must equal those of the official client.
#include <string.h>
#include <time.h>

#include "Contracts/oss/oss_auth.h"
#include "OssTestPool.h"

namespace {

std::string Hmac(const std::string& secret, const std::string& data) {
    char out[64];
    int n = oss_hmac_sha1_base64(secret.data(), (int)secret.size(), data.data(), data.size(), out);
    return std::string(out, (size_t)n);
}

time_t Utc(int year, int mon, int day, int h, int m, int s) {
    struct tm tm = {};
    tm.tm_year = year - 1900;
    tm.tm_mon = mon - 1;
    tm.tm_mday = day;
    tm.tm_hour = h;
    tm.tm_min = m;
    tm.tm_sec = s;
    return timegm(&tm);
}

const char kVector1[] =
    "PUT\neB5eJF1ptWaXm4bijSPyxw==\ntext/html\nWed, 28 Dec 2022 10:27:41 GMT\n"
    "x-oss-meta-author:foo@example.com\nx-oss-meta-magic:abracadabra\n/oss-example/nelson";
const char kVector2[] =
    "PUT\n\napplication/octet-stream\nSat, 05 Dec 2026 08:00:00 GMT\n"
    "x-oss-date:Sat, 05 Dec 2026 08:00:00 GMT\nx-oss-security-token:CAIS-test-token\n"
    "/nimbra-backup/big.bin?partNumber=3&uploadId=0004B9895DBBB6EC98E36";
const char kVector3[] =
    "GET\n\n\nSat, 05 Dec 2026 08:00:00 GMT\nx-oss-date:Sat, 05 Dec 2026 08:00:00 GMT\n"
    "x-oss-security-token:CAIS-test-token\n/nimbra-backup/";

}  // namespace

TEST(OssHmac, ReproducesTheOfficialClientsSignatures) {
    EXPECT_EQ(Hmac("OtxrzxIsfpFjA7SwPzILwy8Bw21TLhquhboDYROV", kVector1),
              "5BVXsh0sZLdbvxjduw6BTb4d2g8=");
    EXPECT_EQ(Hmac("sts-secret-1", kVector2), "9bbcY9iCy6H1Im1pTJMcxHSfLrQ=");
    EXPECT_EQ(Hmac("sts-secret-1", kVector3), "w8iNyTqNeWTzzVxRnkBdv473/zM=");
    // A one-byte change gives another signature.
    EXPECT_NE(Hmac("sts-secret-2", kVector3), "w8iNyTqNeWTzzVxRnkBdv473/zM=");
}

class OssSignTest : public PoolTest {
protected:
    oss_config_t Config(const char* id, const char* secret, const char* token) {
        oss_config_t c = {};
        aos_str_set(&c.endpoint, "http://127.0.0.1:1");
        aos_str_set(&c.access_key_id, id);
        aos_str_set(&c.access_key_secret, secret);
        if (token) aos_str_set(&c.sts_token, token);
        return c;
    }
};

TEST_F(OssSignTest, StringToSignFromARequestWithMetadataHeaders) {
    aos_table_t* h = apr_table_make(pool_, 8);
    apr_table_set(h, "Content-MD5", "eB5eJF1ptWaXm4bijSPyxw==");
    apr_table_set(h, "Content-Type", "text/html");
    apr_table_set(h, "Date", "Wed, 28 Dec 2022 10:27:41 GMT");
    // Names in any case, unsorted, with headers that are not signed around them.
    apr_table_set(h, "X-OSS-Meta-Magic", "abracadabra");
    apr_table_set(h, "Host", "oss-example.oss-cn-hangzhou.aliyuncs.com");
    apr_table_set(h, "x-oss-meta-author", "  foo@example.com ");
    apr_table_set(h, "Content-Length", "5");
    aos_string_t bucket, key;
    aos_str_set(&bucket, "oss-example");
    aos_str_set(&key, "nelson");
    const char* res = oss_canonicalized_resource(pool_, &bucket, &key, nullptr);
    const char* to_sign = oss_string_to_sign(pool_, HTTP_PUT, res, h);
    EXPECT_STREQ(to_sign, kVector1);
    EXPECT_EQ(Hmac("OtxrzxIsfpFjA7SwPzILwy8Bw21TLhquhboDYROV", to_sign),
              "5BVXsh0sZLdbvxjduw6BTb4d2g8=");
}

TEST_F(OssSignTest, UploadPartRequestWithSecurityToken) {
    aos_table_t* h = apr_table_make(pool_, 8);
    apr_table_set(h, "Content-Type", "application/octet-stream");
    apr_table_set(h, "x-oss-date", "Sat, 05 Dec 2026 08:00:00 GMT");
    aos_table_t* params = apr_table_make(pool_, 2);
    // Insertion order is not the signed order.
    apr_table_set(params, "uploadId", "0004B9895DBBB6EC98E36");
    apr_table_set(params, "partNumber", "3");
    aos_string_t bucket, key;
    aos_str_set(&bucket, "nimbra-backup");
    aos_str_set(&key, "big.bin");
    oss_config_t c = Config("STS.id", "sts-secret-1", "CAIS-test-token");

    const char* res = oss_canonicalized_resource(pool_, &bucket, &key, params);
    oss_sign_request(pool_, HTTP_PUT, h, res, &c, Utc(2026, 12, 5, 8, 0, 0));

    EXPECT_STREQ(apr_table_get(h, "Date"), "Sat, 05 Dec 2026 08:00:00 GMT");
    EXPECT_STREQ(apr_table_get(h, "x-oss-security-token"), "CAIS-test-token");
    EXPECT_STREQ(oss_string_to_sign(pool_, HTTP_PUT, res, h), kVector2);
    EXPECT_STREQ(apr_table_get(h, "Authorization"), "OSS STS.id:9bbcY9iCy6H1Im1pTJMcxHSfLrQ=");
}

TEST_F(OssSignTest, ListingParametersAreNotSigned) {
    aos_table_t* h = apr_table_make(pool_, 8);
    apr_table_set(h, "x-oss-date", "Sat, 05 Dec 2026 08:00:00 GMT");
    aos_table_t* params = apr_table_make(pool_, 5);
    apr_table_set(params, "prefix", "photos/");
    apr_table_set(params, "marker", "photos/a.jpg");
    apr_table_set(params, "delimiter", "/");
    apr_table_set(params, "max-keys", "500");
    apr_table_set(params, "encoding-type", "url");
    aos_string_t bucket;
    aos_str_set(&bucket, "nimbra-backup");
    oss_config_t c = Config("STS.id", "sts-secret-1", "CAIS-test-token");

    const char* res = oss_canonicalized_resource(pool_, &bucket, nullptr, params);
    EXPECT_STREQ(res, "/nimbra-backup/");
    oss_sign_request(pool_, HTTP_GET, h, res, &c, Utc(2026, 12, 5, 8, 0, 0));
    EXPECT_STREQ(oss_string_to_sign(pool_, HTTP_GET, res, h), kVector3);
    EXPECT_STREQ(apr_table_get(h, "Authorization"), "OSS STS.id:w8iNyTqNeWTzzVxRnkBdv473/zM=");
}

TEST_F(OssSignTest, WithoutTokenNoTokenHeaderAndWithoutKeyNoAuthorization) {
    aos_string_t bucket, key;
    aos_str_set(&bucket, "b-1");
    aos_str_set(&key, "k");
    const char* res = oss_canonicalized_resource(pool_, &bucket, &key, nullptr);

    aos_table_t* h = apr_table_make(pool_, 4);
    oss_config_t c = Config("id", "secret", nullptr);
    oss_sign_request(pool_, HTTP_DELETE, h, res, &c, Utc(2022, 12, 28, 10, 27, 41));
    EXPECT_EQ(apr_table_get(h, "x-oss-security-token"), nullptr);
    std::string expected = "DELETE\n\n\nWed, 28 Dec 2022 10:27:41 GMT\n/b-1/k";
    EXPECT_STREQ(oss_string_to_sign(pool_, HTTP_DELETE, res, h), expected.c_str());
    EXPECT_EQ(std::string(apr_table_get(h, "Authorization")), "OSS id:" + Hmac("secret", expected));

    aos_table_t* anon = apr_table_make(pool_, 4);
    oss_config_t a = Config("", "", nullptr);
    oss_sign_request(pool_, HTTP_GET, anon, res, &a, Utc(2022, 12, 28, 10, 27, 41));
    EXPECT_EQ(apr_table_get(anon, "Authorization"), nullptr);
    EXPECT_NE(apr_table_get(anon, "Date"), nullptr);
}

TEST_F(OssSignTest, CanonicalResourceKeepsTheKeyRawAndSortsSubResources) {
    aos_string_t bucket, key;
    aos_str_set(&bucket, "bk");
    aos_str_set(&key, "/dir/a b+c%d/\xe4\xb8\xad.txt");
    aos_table_t* params = apr_table_make(pool_, 4);
    apr_table_set(params, "uploads", "");
    apr_table_set(params, "acl", "");
    apr_table_set(params, "response-content-type", "text/plain");
    apr_table_set(params, "max-parts", "10");
    EXPECT_STREQ(oss_canonicalized_resource(pool_, &bucket, &key, params),
                 "/bk//dir/a b+c%d/\xe4\xb8\xad.txt?acl&response-content-type=text/plain&uploads");
    EXPECT_STREQ(oss_canonicalized_resource(pool_, nullptr, nullptr, nullptr), "/");

    EXPECT_TRUE(oss_is_signed_sub_resource("uploadId"));
    EXPECT_TRUE(oss_is_signed_sub_resource("x-oss-process"));
    EXPECT_TRUE(oss_is_signed_sub_resource("acl"));
    EXPECT_FALSE(oss_is_signed_sub_resource("uploadid"));
    EXPECT_FALSE(oss_is_signed_sub_resource("part-number-marker"));
    EXPECT_FALSE(oss_is_signed_sub_resource(nullptr));
}

TEST_F(OssSignTest, RepeatedOssHeadersAreJoined) {
    aos_table_t* h = apr_table_make(pool_, 4);
    apr_table_add(h, "x-oss-meta-b", "2");
    apr_table_add(h, "X-Oss-Meta-A", "1");
    apr_table_add(h, "x-oss-meta-b", "3");
    EXPECT_STREQ(oss_canonicalized_headers(pool_, h), "x-oss-meta-a:1\nx-oss-meta-b:2,3\n");
}

TEST_F(OssSignTest, GmtDateAndContentMd5) {
    EXPECT_STREQ(oss_gmt_date(pool_, 0), "Thu, 01 Jan 1970 00:00:00 GMT");
    EXPECT_STREQ(oss_gmt_date(pool_, Utc(2024, 2, 29, 23, 59, 59)),
                 "Thu, 29 Feb 2024 23:59:59 GMT");
    EXPECT_STREQ(oss_content_md5_base64(pool_, Body("")), "1B2M2Y8AsgTpgAmY7PhCfg==");
    // The digest runs over every buffer of the list.
    EXPECT_STREQ(
        oss_content_md5_base64(pool_, Body("The quick brown fox jumps over the lazy dog", 5)),
        "nhB9nTcrtoJr2B01QqQZ1g==");
}
