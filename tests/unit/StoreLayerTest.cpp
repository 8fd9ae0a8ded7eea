// The store layer and the library's pieces on it that need no socket: signing
// against the official client's signatures, addressing and percent-encoding,
// listings and upload ids (error documents are the store tier's), the status
// classification, the result maps and listing dates. fuzz_oss_xml and
// fuzz_list_entry hold the parsers, the completion body and the listing
// entries to their properties over their corpora; CRC-64 is checked on every
// download and upload of the store and system tiers, its combination here.
#include <gtest/gtest.h>

#include <climits>

#include "Contracts/oss/aos_crc64.h"
#include "Contracts/oss/aos_curl_code.h"
#include "Contracts/oss/oss_api.h"
#include "Contracts/oss/oss_auth.h"
#include "Contracts/oss/oss_util.h"
#include "Contracts/oss/oss_xml.h"
#include "Nimbra/OssContext.h"
#include "Nimbra/OssListEntry.h"
#include "Nimbra/OssOperate.h"
#include "tests/unit/StoreBody.h"
#include "tests/unit/UnitSupport.h"

using namespace std::string_literals;
using Strings = std::vector<std::string>;
using unit::Utc;

namespace {

aos_string_t Str(const char* text) {
    aos_string_t s;
    aos_str_set(&s, text);
    return s;
}

std::string Text(const aos_string_t& s) {
    return s.data ? std::string(s.data, static_cast<size_t>(s.len)) : "-";
}

// Strings to sign from the store's official client (their signatures below).
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

class StoreLayer : public ::testing::Test {
protected:
    aos_table_t* Table(std::initializer_list<std::pair<const char*, const char*>> entries) {
        aos_table_t* t = apr_table_make(pool_.get(), 8);
        for (const auto& e : entries) apr_table_add(t, e.first, e.second);
        return t;
    }
    static oss_config_t Config(const char* id, const char* secret, const char* token) {
        oss_config_t c = {};
        c.access_key_id = Str(id);
        c.access_key_secret = Str(secret);
        if (token) c.sts_token = Str(token);
        return c;
    }
    std::string Url(const char* endpoint, const char* bucket, const char* key,
                    aos_table_t* params = nullptr, int is_cname = 0) {
        aos_string_t text = Str(endpoint), b = Str(bucket), k = Str(key);
        oss_endpoint_t ep;
        EXPECT_EQ(oss_parse_endpoint(pool_.get(), &text, &ep), AOSE_OK) << endpoint;
        return oss_build_url(pool_.get(), &ep, is_cname, &b, key ? &k : nullptr, params);
    }
    // An object listing flattened: code, truncated flag, next marker, then
    // "key size last-modified" per object and each common prefix.
    Strings Listing(const std::string& body) {
        aos_list_t objects, prefixes;
        aos_list_init(&objects);
        aos_list_init(&prefixes);
        aos_string_t next = aos_null_string;
        int truncated = -7;
        const int rc = oss_list_objects_parse_from_body(pool_.get(), pool_.Body(body), &objects,
                                                        &prefixes, &next, &truncated);
        Strings out = {std::to_string(rc), std::to_string(truncated), Text(next)};
        oss_list_object_content_t* o;
        aos_list_for_each_entry(oss_list_object_content_t, o, &objects, node) {
            out.push_back(Text(o->key) + " " + Text(o->size) + " " + Text(o->last_modified));
        }
        oss_list_object_common_prefix_t* cp;
        aos_list_for_each_entry(oss_list_object_common_prefix_t, cp, &prefixes, node) {
            out.push_back(Text(cp->prefix));
        }
        return out;
    }

    unit::StorePool pool_;
    const Strings failed_ = {std::to_string(AOSE_XML_PARSE_ERROR), "-7", "-"};
};

TEST_F(StoreLayer, SignaturesEqualTheOfficialClients) {
    // Header names in any case and order, values trimmed, unsigned headers left out.
    aos_table_t* h = Table({{"Content-MD5", "eB5eJF1ptWaXm4bijSPyxw=="},
                            {"Content-Type", "text/html"},
                            {"Date", "Wed, 28 Dec 2022 10:27:41 GMT"},
                            {"X-OSS-Meta-Magic", "abracadabra"},
                            {"Host", "oss-example.oss-cn-hangzhou.aliyuncs.com"},
                            {"x-oss-meta-author", "  foo@example.com "},
                            {"Content-Length", "5"}});
    aos_string_t bucket = Str("oss-example"), key = Str("nelson");
    const char* res = oss_canonicalized_resource(pool_.get(), &bucket, &key, nullptr);
    EXPECT_STREQ(oss_string_to_sign(pool_.get(), HTTP_PUT, res, h), kVector1);

    // An upload part with a security token: sub-resources sorted by name.
    h = Table({{"Content-Type", "application/octet-stream"},
               {"x-oss-date", "Sat, 05 Dec 2026 08:00:00 GMT"}});
    aos_table_t* params = Table({{"uploadId", "0004B9895DBBB6EC98E36"}, {"partNumber", "3"}});
    bucket = Str("nimbra-backup");
    key = Str("big.bin");
    oss_config_t config = Config("STS.id", "sts-secret-1", "CAIS-test-token");
    const time_t now = Utc(2026, 12, 5, 8);
    res = oss_canonicalized_resource(pool_.get(), &bucket, &key, params);
    oss_sign_request(pool_.get(), HTTP_PUT, h, res, &config, now);
    EXPECT_STREQ(oss_string_to_sign(pool_.get(), HTTP_PUT, res, h), kVector2);
    EXPECT_STREQ(apr_table_get(h, "Authorization"), "OSS STS.id:9bbcY9iCy6H1Im1pTJMcxHSfLrQ=");

    // Listing parameters are no sub-resources.
    h = Table({{"x-oss-date", "Sat, 05 Dec 2026 08:00:00 GMT"}});
    params = Table({{"prefix", "photos/"},
                    {"marker", "m"},
                    {"delimiter", "/"},
                    {"max-keys", "500"},
                    {"encoding-type", "url"}});
    res = oss_canonicalized_resource(pool_.get(), &bucket, nullptr, params);
    oss_sign_request(pool_.get(), HTTP_GET, h, res, &config, now);
    EXPECT_STREQ(oss_string_to_sign(pool_.get(), HTTP_GET, res, h), kVector3);
    EXPECT_STREQ(apr_table_get(h, "Authorization"), "OSS STS.id:w8iNyTqNeWTzzVxRnkBdv473/zM=");

    // Without a token the key pair alone signs; without a key nothing does.
    res = oss_canonicalized_resource(pool_.get(), &bucket, &key, nullptr);
    h = Table({});
    config = Config("id", "secret", nullptr);
    oss_sign_request(pool_.get(), HTTP_DELETE, h, res, &config, Utc(2022, 12, 28, 10, 27, 41));
    EXPECT_STREQ(oss_string_to_sign(pool_.get(), HTTP_DELETE, res, h),
                 "DELETE\n\n\nWed, 28 Dec 2022 10:27:41 GMT\n/nimbra-backup/big.bin");
    EXPECT_STREQ(apr_table_get(h, "Authorization"), "OSS id:eRBhQHJvPh0+18NbCUFuL7veM1I=");
    h = Table({});
    config = Config("", "", nullptr);
    oss_sign_request(pool_.get(), HTTP_GET, h, res, &config, 0);
    EXPECT_EQ(apr_table_get(h, "Authorization"), nullptr);
    EXPECT_STREQ(apr_table_get(h, "Date"), "Thu, 01 Jan 1970 00:00:00 GMT");
}

TEST_F(StoreLayer, CanonicalPartsEndpointsAndUrls) {
    aos_string_t bucket = Str("bk"), key = Str("/dir/a b+c%d/\xe4\xb8\xad.txt");  // raw
    aos_table_t* params = Table({{"uploads", ""},
                                 {"acl", ""},
                                 {"response-content-type", "text/plain"},
                                 {"max-parts", "10"}});
    EXPECT_STREQ(oss_canonicalized_resource(pool_.get(), &bucket, &key, params),
                 "/bk//dir/a b+c%d/\xe4\xb8\xad.txt?acl&response-content-type=text/plain&uploads");
    EXPECT_STREQ(oss_canonicalized_resource(pool_.get(), nullptr, nullptr, nullptr), "/");

    const Strings endpoints[] = {
        {"h.example.com", "http", "h.example.com", "", "0"},
        {"HTTPS://h.example.com:8443/", "https", "h.example.com", "8443", "0"},
        {" http://127.0.0.1:19000 ", "http", "127.0.0.1", "19000", "1"},
        {"[::1]:9000", "http", "::1", "9000", "1"}};
    for (const Strings& c : endpoints) {
        aos_string_t text = Str(c[0].c_str());
        oss_endpoint_t ep;
        ASSERT_EQ(oss_parse_endpoint(pool_.get(), &text, &ep), AOSE_OK) << c[0];
        EXPECT_EQ(
            (Strings{c[0], ep.scheme, ep.host, ep.port ? ep.port : "", std::to_string(ep.is_ip)}),
            c);
    }
    for (const char* bad : {"", "   ", "ftp://host", "http://", "http://host/path", "host:0",
                            "host:70000", "host:12a", "user@host", "[::1", "ho st", "h?x=1"}) {
        aos_string_t text = Str(bad);
        oss_endpoint_t ep;
        EXPECT_EQ(oss_parse_endpoint(pool_.get(), &text, &ep), AOSE_INVALID_ARGUMENT) << bad;
    }

    // IP addresses path-style, host names virtual-hosted, a bucket domain without bucket.
    EXPECT_EQ(Url("https://oss.example.com", "bk", "a/b"), "https://bk.oss.example.com/a/b");
    EXPECT_EQ(Url("[::1]:9000", "bk", "x"), "http://[::1]:9000/bk/x");
    EXPECT_EQ(Url("files.example.com", "bk", "x", nullptr, 1), "http://files.example.com/x");
    // Keys percent-encoded keeping '/', a leading '/' part of the key.
    EXPECT_EQ(Url("127.0.0.1:1", "bk", "/my docs/a+b%c\xc3\xa9../.~_-?#&="),
              "http://127.0.0.1:1/bk//my%20docs/a%2Bb%25c%C3%A9../.~_-%3F%23%26%3D");
    EXPECT_EQ(Url("127.0.0.1:1", "bk", "k",
                  Table({{"uploads", ""}, {"prefix", "a b/c+d&e"}, {"max-keys", "500"}})),
              "http://127.0.0.1:1/bk/k?uploads&prefix=a%20b%2Fc%2Bd%26e&max-keys=500");

    const std::string raw = "sp ace/plus+pct%\xe4\xb8\xad~";
    char* enc = oss_url_encode(pool_.get(), raw.data(), (int)raw.size(), 0);
    EXPECT_STREQ(enc, "sp%20ace%2Fplus%2Bpct%25%E4%B8%AD~");
    EXPECT_EQ(oss_url_decode(pool_.get(), enc, (int)strlen(enc)), raw);
}

TEST_F(StoreLayer, ObjectListings) {
    EXPECT_EQ(
        Listing("<?xml version=\"1.0\"?>\n<ListBucketResult><Name>b</Name><Prefix>p/</Prefix>"
                "<IsTruncated>true</IsTruncated><NextMarker>p/b &amp; c</NextMarker>\n"
                "<Contents><Key>p/a</Key><LastModified>2019-03-15T08:20:31.000Z</LastModified>"
                "<ETag>\"5B\"</ETag><Size>344606</Size><Owner><ID>0</ID></Owner></Contents>"
                "<Contents><Key>p/b &amp; c</Key><Size>9223372036854775807</Size></Contents>"
                "<CommonPrefixes><Prefix>p/2019/</Prefix></CommonPrefixes><CommonPrefixes>"
                "<Prefix>p/2020/</Prefix></CommonPrefixes></ListBucketResult>\n"),
        (Strings{"0", "1", "p/b & c", "p/a 344606 2019-03-15T08:20:31.000Z",
                 "p/b & c 9223372036854775807 ", "p/2019/", "p/2020/"}));
    EXPECT_EQ(Listing("<ListBucketResult><IsTruncated>false</IsTruncated><NextMarker/>"
                      "<Contents><Key> sp<![CDATA[ac]]>ed </Key></Contents></ListBucketResult>"),
              (Strings{"0", "0", "", " spaced   "}));
    EXPECT_EQ(Listing("<ListBucketResult><EncodingType>url</EncodingType><IsTruncated>true"
                      "</IsTruncated><NextMarker>a%01b</NextMarker><Contents><Key>a%01b</Key>"
                      "</Contents><CommonPrefixes><Prefix>d%20x/</Prefix></CommonPrefixes>"
                      "</ListBucketResult>"),
              (Strings{"0", "1",
                       "a\x01"
                       "b",
                       "a\x01"
                       "b  ",
                       "d x/"}));
    // Truncated without a next marker: continue after the last name.
    EXPECT_EQ(Listing("<ListBucketResult><IsTruncated>true</IsTruncated><Contents><Key>a/1</Key>"
                      "</Contents><Contents><Key>a/3</Key></Contents><CommonPrefixes><Prefix>"
                      "a/2/</Prefix></CommonPrefixes></ListBucketResult>")[2],
              "a/3");
    EXPECT_EQ(Listing("<ListBucketResult><Contents><Key>&lt;&gt;&amp;&quot;&apos;&#x41;&#66;"
                      "</Key></Contents></ListBucketResult>")
                  .back(),
              "<>&\"'AB  ");

    // Sizes are kept as text, whatever they hold, and read as atoll does (a
    // number beyond the range pinned to it).
    const std::pair<std::string, long long> sizes[] = {
        {"12abc", 12}, {"abc", 0}, {"", 0}, {" -7 ", -7}, {"9223372036854775808", LLONG_MAX}};
    for (const auto& c : sizes) {
        const Strings got = Listing("<ListBucketResult><Contents><Key>k</Key><Size>" + c.first +
                                    "</Size></Contents></ListBucketResult>");
        ASSERT_EQ(got.size(), 4u) << c.first;
        const std::string text = got[3].substr(2, got[3].size() - 3);  // "k <size> "
        EXPECT_EQ(ListFileEntry("", "k", text, "").llFileSize, c.second) << c.first;
    }

    // Malformed documents fail whole, leaving every output as it was (empty
    // names and truncation without a marker are refused by fuzz_oss_xml's
    // checks over its corpus).
    std::string deep;
    for (int i = 0; i < 100000; ++i) deep += "<a>";
    const auto in_root = [](const std::string& inner) {
        return "<ListBucketResult>" + inner + "</ListBucketResult>";
    };
    for (const std::string& body :
         {""s, "not xml"s, in_root("<Contents><Key>a</Key></Contents>").substr(0, 40), deep,
          "<ListBucketResult><Contents><Key>a</Key></ListBucketResult>"s,
          "<Error><Code>x</Code></Error>"s, "<ListBucketResult/><ListBucketResult/>"s,
          in_root("<IsTruncated>maybe</IsTruncated>"),
          in_root("<EncodingType>url</EncodingType><Contents><Key>bad%zz</Key></Contents>"),
          in_root("<EncodingType>url</EncodingType><Contents><Key>cut%4</Key></Contents>"),
          in_root("<Contents><Key>&unknown;</Key></Contents>"),
          in_root("<Contents><Key>a&#0;b</Key></Contents>"),
          "<!DOCTYPE r [<!ENTITY a \"aaaa\"><!ENTITY b \"&a;&a;&a;\">]>" +
              in_root("<Contents><Key>&b;</Key></Contents>"),
          "<!DOCTYPE r [<!ENTITY x SYSTEM \"file:///etc/passwd\">]>" +
              in_root("<Contents><Key>&x;</Key></Contents>")})
        EXPECT_EQ(Listing(body), failed_) << body.substr(0, 200);
}

TEST_F(StoreLayer, MultipartInitiationDocuments) {
    auto upload_id = [&](const std::string& body) {
        aos_string_t id = aos_null_string;
        const int rc = oss_upload_id_parse_from_body(pool_.get(), pool_.Body(body, 3), &id);
        return std::to_string(rc) + " " + Text(id);
    };
    EXPECT_EQ(upload_id("<?xml version=\"1.0\"?><InitiateMultipartUploadResult><Bucket>b</Bucket>"
                        "<UploadId> 0004B98 </UploadId></InitiateMultipartUploadResult>") +
                  ", " + upload_id("<Other><UploadId>x</UploadId></Other>"),
              "0 0004B98, " + failed_[0] + " -");
}

// The object's checksum from its parts': the check value, then splits
// around the 8-byte and 64-byte steps of the computation.
TEST(StoreCrc, PartChecksumsCombineIntoTheObjects) {
    EXPECT_EQ(aos_crc64(0, "123456789", 9), 0x995DC9BBDF1939FAULL);
    std::string data(70000, '\0');
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 131 + (i >> 9));
    const uint64_t whole = aos_crc64(0, data.data(), data.size());
    for (const size_t split : {0, 1, 7, 8, 63, 64, 65, 4096, 69999, 70000}) {
        const size_t rest = data.size() - split;
        EXPECT_EQ(aos_crc64_combine(aos_crc64(0, data.data(), split),
                                    aos_crc64(0, data.data() + split, rest), rest),
                  whole)
            << split;
    }
}

// A few rows of each class and an unmapped code; the status names.
TEST(StoreStatus, TransferFailuresAreClassifiedAndNamed) {
    const std::pair<int, int> classes[] = {
        {CURLE_OK, AOSE_OK},
        {CURLE_COULDNT_RESOLVE_HOST, AOSE_NAME_LOOKUP_ERROR},
        {CURLE_COULDNT_CONNECT, AOSE_CONNECTION_FAILED},
        {CURLE_RECV_ERROR, AOSE_CONNECTION_FAILED},
        {CURLE_OPERATION_TIMEDOUT, AOSE_REQUEST_TIMEOUT},
        {CURLE_PEER_FAILED_VERIFICATION, AOSE_FAILED_VERIFICATION},
        {CURLE_WRITE_ERROR, AOSE_WRITE_BODY_ERROR},
        {CURLE_WEIRD_SERVER_REPLY, AOSE_SERVICE_ERROR},
        {CURLE_LOGIN_DENIED, AOSE_INTERNAL_ERROR}};
    for (const auto& c : classes)
        EXPECT_EQ(aos_curl_code_to_status(CURLcode(c.first)), c.second) << c.first;
    unit::StorePool pool;
    aos_status_t* failed = aos_status_fail(pool.get(), aos_status_create(pool.get()),
                                           AOSE_CONNECTION_FAILED, "refused");
    EXPECT_EQ(std::to_string(failed->code) + " " + failed->error_code + " " + failed->error_msg,
              "-992 ConnectionFailed refused");
    EXPECT_STREQ(aos_error_code_name(AOSE_XML_PARSE_ERROR), "XmlParseError");
    EXPECT_EQ(aos_error_code_name(404), nullptr);
}

TEST(ResultMaps, EveryRowOfBothTablesAndTheStatusTest) {
    const struct {
        int code, download, transfer;
    } rows[] = {{-996, -1, 1},  {-995, 1, 1},   {-994, -1, -1}, {-993, -1, -1}, {-992, 1, 1},
                {-991, -1, -1}, {-990, 1, 1},   {-989, -1, 1},  {-988, -1, 1},  {-987, -1, 1},
                {-986, 1, 1},   {-997, -1, -1}, {-985, -1, -1}, {0, -1, -1},    {404, -1, -1}};
    for (const auto& r : rows) {
        EXPECT_EQ(DownloadResultOf(r.code), r.download) << r.code;
        EXPECT_EQ(TransferResultOf(r.code), r.transfer) << r.code;
    }
    aos_status_t status = {};
    for (int code : {200, 299, 0, -992, 199, 300, 404}) {
        status.code = code;
        EXPECT_EQ(StatusOk(&status), code >= 200 && code <= 299) << code;
    }
    EXPECT_FALSE(StatusOk(nullptr));
    EXPECT_STREQ(StatusMessage(&status), "");  // no message: logged as empty
}

// The date rule and its edge cases (numbers beyond int included, found by
// fuzzing) are fuzz_list_entry's; here the local standard time it reads in.
TEST(ListingEntries, LastModifiedReadAsLocalStandardTime) {
    unit::TimeZoneGuard new_york(
        "EST5EDT,M3.2.0,M11.1.0");  // July is summer time, read as standard
    EXPECT_EQ(ListLastModifiedTime("2019-07-01T12:00:00.000Z"), Utc(2019, 7, 1, 17));
}

}  // namespace
