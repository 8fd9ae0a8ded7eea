// Addressing: endpoint parsing, path-style vs virtual-hosted URLs, key and
// query encoding, bucket names.
#include "Contracts/oss/oss_util.h"
#include "OssTestPool.h"

class OssUrlTest : public PoolTest {
protected:
    oss_endpoint_t Endpoint(const char* text, int expect = AOSE_OK) {
        aos_string_t s;
        aos_str_set(&s, text);
        oss_endpoint_t ep;
        EXPECT_EQ(oss_parse_endpoint(pool_, &s, &ep), expect) << text;
        return ep;
    }
    std::string Url(const char* endpoint, const char* bucket, const char* key,
                    aos_table_t* params = nullptr, int is_cname = 0) {
        oss_endpoint_t ep = Endpoint(endpoint);
        aos_string_t b, k;
        aos_str_set(&b, bucket);
        aos_str_set(&k, key);
        return oss_build_url(pool_, &ep, is_cname, &b, key ? &k : nullptr, params);
    }
};

TEST_F(OssUrlTest, EndpointForms) {
    oss_endpoint_t ep = Endpoint("oss-cn-hangzhou.aliyuncs.com");
    EXPECT_STREQ(ep.scheme, "http");
    EXPECT_STREQ(ep.host, "oss-cn-hangzhou.aliyuncs.com");
    EXPECT_EQ(ep.port, nullptr);
    EXPECT_FALSE(ep.is_ip);

    ep = Endpoint("HTTPS://oss-cn-hangzhou.aliyuncs.com:8443/");
    EXPECT_STREQ(ep.scheme, "https");
    EXPECT_STREQ(ep.port, "8443");

    ep = Endpoint(" http://127.0.0.1:19000 ");
    EXPECT_STREQ(ep.host, "127.0.0.1");
    EXPECT_STREQ(ep.port, "19000");
    EXPECT_TRUE(ep.is_ip);

    ep = Endpoint("[::1]:9000");
    EXPECT_STREQ(ep.host, "::1");
    EXPECT_TRUE(ep.is_ip);

    // Looks numeric but is no IPv4 address: a host name.
    EXPECT_FALSE(Endpoint("1.2.3").is_ip);
    EXPECT_FALSE(Endpoint("localhost:80").is_ip);
}

TEST_F(OssUrlTest, MalformedEndpointsAreRejected) {
    for (const char* bad :
         {"", "   ", "ftp://host", "http://", "http://host/path", "host:0", "host:70000",
          "host:12a", "host:", "user@host", "[::1", "[nope]:80", "ho st", "http://host?x=1"}) {
        Endpoint(bad, AOSE_INVALID_ARGUMENT);
    }
    aos_string_t null_str = aos_null_string;
    oss_endpoint_t ep;
    EXPECT_EQ(oss_parse_endpoint(pool_, &null_str, &ep), AOSE_INVALID_ARGUMENT);
}

TEST_F(OssUrlTest, IpEndpointsArePathStyleHostNamesVirtualHosted) {
    EXPECT_EQ(Url("http://127.0.0.1:19000", "nimbra-backup", "a/b.txt"),
              "http://127.0.0.1:19000/nimbra-backup/a/b.txt");
    EXPECT_EQ(Url("https://oss-cn-hangzhou.aliyuncs.com", "nimbra-backup", "a/b.txt"),
              "https://nimbra-backup.oss-cn-hangzhou.aliyuncs.com/a/b.txt");
    EXPECT_EQ(Url("oss.example.com:8080", "bk1", "x"), "http://bk1.oss.example.com:8080/x");
    EXPECT_EQ(Url("[::1]:9000", "bk1", "x"), "http://[::1]:9000/bk1/x");
    // The bucket itself.
    EXPECT_EQ(Url("127.0.0.1", "bk1", nullptr), "http://127.0.0.1/bk1/");
    EXPECT_EQ(Url("oss.example.com", "bk1", nullptr), "http://bk1.oss.example.com/");
    // A bucket domain (CNAME) carries no bucket in the URL.
    EXPECT_EQ(Url("files.example.com", "bk1", "x", nullptr, 1), "http://files.example.com/x");
}

TEST_F(OssUrlTest, KeysArePercentEncodedKeepingSlashes) {
    EXPECT_EQ(Url("127.0.0.1:1", "bk1", "my docs/a+b%c.txt"),
              "http://127.0.0.1:1/bk1/my%20docs/a%2Bb%25c.txt");
    EXPECT_EQ(Url("127.0.0.1:1", "bk1", "\xe4\xb8\xad\xe6\x96\x87/\xc3\xa9"),
              "http://127.0.0.1:1/bk1/%E4%B8%AD%E6%96%87/%C3%A9");
    // A leading slash is part of the key.
    EXPECT_EQ(Url("127.0.0.1:1", "bk1", "/abs/x"), "http://127.0.0.1:1/bk1//abs/x");
    EXPECT_EQ(Url("h.example.com", "bk1", "/abs/x"), "http://bk1.h.example.com//abs/x");
    // Dot segments, reserved and unreserved characters.
    EXPECT_EQ(Url("127.0.0.1:1", "bk1", "../a/./b~_-.?#&="),
              "http://127.0.0.1:1/bk1/../a/./b~_-.%3F%23%26%3D");
}

TEST_F(OssUrlTest, QueryParametersAreEncodedValuelessOnesBare) {
    aos_table_t* params = apr_table_make(pool_, 4);
    apr_table_set(params, "uploads", "");
    apr_table_set(params, "prefix", "a b/c+d&e");
    apr_table_set(params, "max-keys", "500");
    EXPECT_EQ(Url("127.0.0.1:1", "bk1", "k", params),
              "http://127.0.0.1:1/bk1/k?uploads&prefix=a%20b%2Fc%2Bd%26e&max-keys=500");
}

TEST_F(OssUrlTest, EncodeDecodeRoundTrip) {
    const std::string raw = "sp ace/plus+pct%\xe4\xb8\xad~";
    char* enc = oss_url_encode(pool_, raw.data(), (int)raw.size(), 0);
    EXPECT_STREQ(enc, "sp%20ace%2Fplus%2Bpct%25%E4%B8%AD~");
    EXPECT_EQ(std::string(oss_url_decode(pool_, enc, (int)strlen(enc))), raw);
    // '+' is not a space in this encoding.
    EXPECT_STREQ(oss_url_decode(pool_, "a+b", 3), "a+b");
    for (const char* bad : {"%", "%4", "%G0", "abc%2", "%00"}) {
        EXPECT_EQ(oss_url_decode(pool_, bad, (int)strlen(bad)), nullptr) << bad;
    }
}

TEST(OssBucketName, Rules) {
    auto valid = [](const char* name) {
        aos_string_t s;
        aos_str_set(&s, name);
        return oss_is_valid_bucket_name(&s) != 0;
    };
    EXPECT_TRUE(valid("nimbra-backup"));
    EXPECT_TRUE(valid("abc"));
    EXPECT_TRUE(valid(std::string(63, 'a').c_str()));
    EXPECT_FALSE(valid(std::string(64, 'a').c_str()));
    EXPECT_FALSE(valid("ab"));
    EXPECT_FALSE(valid("-abc"));
    EXPECT_FALSE(valid("abc-"));
    EXPECT_FALSE(valid("Abc"));
    EXPECT_FALSE(valid("a.b.c"));
    EXPECT_FALSE(valid("evil.com/x"));
    EXPECT_FALSE(oss_is_valid_bucket_name(nullptr));
}
