// The store layer on its own: request signing against the official client's
// signatures, addressing and percent-encoding, the XML documents, CRC-64,
// and the status and libcurl result classification.
#include <gtest/gtest.h>

#include <random>

#include "Contracts/oss/aos_crc64.h"
#include "Contracts/oss/aos_curl_code.h"
#include "Contracts/oss/oss_api.h"
#include "Contracts/oss/oss_auth.h"
#include "Contracts/oss/oss_util.h"
#include "Contracts/oss/oss_xml.h"
#include "tests/support/TestData.h"
#include "tests/unit/StoreBody.h"
#include "tests/unit/UnitSupport.h"

using namespace std::string_literals;
using Strings = std::vector<std::string>;

namespace {

std::string Hmac(const std::string& secret, const std::string& data) {
    char out[64];
    const int n =
        oss_hmac_sha1_base64(secret.data(), (int)secret.size(), data.data(), data.size(), out);
    return std::string(out, static_cast<size_t>(n));
}

aos_string_t Str(const char* text) {
    aos_string_t s;
    aos_str_set(&s, text);
    return s;
}

// Strings to sign and their signatures from the store's official client.
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
        c.endpoint = Str("http://127.0.0.1:1");
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

    unit::StorePool pool_;
};

TEST_F(StoreLayer, SignaturesEqualTheOfficialClients) {
    EXPECT_EQ(Hmac("OtxrzxIsfpFjA7SwPzILwy8Bw21TLhquhboDYROV", kVector1),
              "5BVXsh0sZLdbvxjduw6BTb4d2g8=");

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
    const time_t now = unit::Utc(2026, 12, 5, 8);
    res = oss_canonicalized_resource(pool_.get(), &bucket, &key, params);
    oss_sign_request(pool_.get(), HTTP_PUT, h, res, &config, now);
    EXPECT_STREQ(apr_table_get(h, "Date"), "Sat, 05 Dec 2026 08:00:00 GMT");
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
}

TEST_F(StoreLayer, SigningWithoutTokenOrKeyAndCanonicalParts) {
    aos_string_t bucket = Str("b-1"), key = Str("k");
    const char* res = oss_canonicalized_resource(pool_.get(), &bucket, &key, nullptr);
    aos_table_t* h = Table({});
    oss_config_t config = Config("id", "secret", nullptr);
    oss_sign_request(pool_.get(), HTTP_DELETE, h, res, &config,
                     unit::Utc(2022, 12, 28, 10, 27, 41));
    EXPECT_EQ(apr_table_get(h, "x-oss-security-token"), nullptr);
    const std::string expected = "DELETE\n\n\nWed, 28 Dec 2022 10:27:41 GMT\n/b-1/k";
    EXPECT_STREQ(oss_string_to_sign(pool_.get(), HTTP_DELETE, res, h), expected.c_str());
    EXPECT_EQ(apr_table_get(h, "Authorization"), "OSS id:" + Hmac("secret", expected));
    aos_table_t* anonymous = Table({});
    config = Config("", "", nullptr);
    oss_sign_request(pool_.get(), HTTP_GET, anonymous, res, &config, 0);
    EXPECT_EQ(apr_table_get(anonymous, "Authorization"), nullptr);
    EXPECT_STREQ(apr_table_get(anonymous, "Date"), "Thu, 01 Jan 1970 00:00:00 GMT");

    bucket = Str("bk");
    key = Str("/dir/a b+c%d/\xe4\xb8\xad.txt");  // raw, not encoded
    aos_table_t* params = Table({{"uploads", ""},
                                 {"acl", ""},
                                 {"response-content-type", "text/plain"},
                                 {"max-parts", "10"}});
    EXPECT_STREQ(oss_canonicalized_resource(pool_.get(), &bucket, &key, params),
                 "/bk//dir/a b+c%d/\xe4\xb8\xad.txt?acl&response-content-type=text/plain&uploads");
    EXPECT_STREQ(oss_canonicalized_resource(pool_.get(), nullptr, nullptr, nullptr), "/");
    EXPECT_TRUE(oss_is_signed_sub_resource("uploadId") &&
                oss_is_signed_sub_resource("x-oss-process"));
    EXPECT_FALSE(oss_is_signed_sub_resource("uploadid") || oss_is_signed_sub_resource(nullptr));
    EXPECT_STREQ(oss_canonicalized_headers(
                     pool_.get(),
                     Table({{"x-oss-meta-b", "2"}, {"X-Oss-Meta-A", "1"}, {"x-oss-meta-b", "3"}})),
                 "x-oss-meta-a:1\nx-oss-meta-b:2,3\n");
    EXPECT_STREQ(oss_content_md5_base64(pool_.get(), pool_.Body("")), "1B2M2Y8AsgTpgAmY7PhCfg==");
    EXPECT_STREQ(oss_content_md5_base64(
                     pool_.get(), pool_.Body("The quick brown fox jumps over the lazy dog", 5)),
                 "nhB9nTcrtoJr2B01QqQZ1g==");
}

TEST_F(StoreLayer, EndpointsAndUrls) {
    const Strings endpoints[] = {
        {"h.example.com", "http", "h.example.com", "", "0"},
        {"HTTPS://h.example.com:8443/", "https", "h.example.com", "8443", "0"},
        {" http://127.0.0.1:19000 ", "http", "127.0.0.1", "19000", "1"},
        {"[::1]:9000", "http", "::1", "9000", "1"},
        {"1.2.3", "http", "1.2.3", "", "0"}};
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
    EXPECT_EQ(Url("http://127.0.0.1:19000", "bk", "a/b.txt"), "http://127.0.0.1:19000/bk/a/b.txt");
    EXPECT_EQ(Url("https://oss.example.com", "bk", "a/b"), "https://bk.oss.example.com/a/b");
    EXPECT_EQ(Url("[::1]:9000", "bk", "x"), "http://[::1]:9000/bk/x");
    EXPECT_EQ(Url("127.0.0.1", "bk", nullptr), "http://127.0.0.1/bk/");
    EXPECT_EQ(Url("oss.example.com", "bk", nullptr), "http://bk.oss.example.com/");
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
    EXPECT_STREQ(oss_url_decode(pool_.get(), "a+b", 3), "a+b");
    for (const char* bad : {"%", "%4", "%G0", "abc%2", "%00"})
        EXPECT_EQ(oss_url_decode(pool_.get(), bad, (int)strlen(bad)), nullptr) << bad;

    const Strings names = {
        "nimbra-backup", "abc",   std::string(63, 'a'), std::string(64, 'a'), "ab", "-abc", "abc-",
        "Abc",           "a.b.c", "evil.com/x"};
    for (size_t i = 0; i < names.size(); ++i) {
        aos_string_t s = Str(names[i].c_str());
        EXPECT_EQ(oss_is_valid_bucket_name(&s) != 0, i < 3) << names[i];
    }
}

// One object listing page as the parser hands it out.
struct Listing {
    int rc = 0, truncated = -7;
    Strings keys, sizes, modified, prefixes;
    std::string next_marker;
};

Listing ParseListing(const unit::StorePool& pool, const std::string& body, size_t piece = 0) {
    aos_list_t objects, prefixes;
    aos_list_init(&objects);
    aos_list_init(&prefixes);
    aos_string_t next = aos_null_string;
    Listing l;
    l.rc = oss_list_objects_parse_from_body(pool.get(), pool.Body(body, piece), &objects, &prefixes,
                                            &next, &l.truncated);
    oss_list_object_content_t* o;
    aos_list_for_each_entry(oss_list_object_content_t, o, &objects, node) {
        l.keys.emplace_back(o->key.data, o->key.len);
        l.sizes.emplace_back(o->size.data, o->size.len);
        l.modified.emplace_back(o->last_modified.data, o->last_modified.len);
    }
    oss_list_object_common_prefix_t* cp;
    aos_list_for_each_entry(oss_list_object_common_prefix_t, cp, &prefixes, node) {
        l.prefixes.emplace_back(cp->prefix.data, cp->prefix.len);
    }
    if (next.data) l.next_marker.assign(next.data, next.len);
    return l;
}

const char kListPage[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<ListBucketResult>\n"
    "  <Name>nimbra-backup</Name><Prefix>photos/</Prefix><Marker></Marker>\n"
    "  <MaxKeys>500</MaxKeys><Delimiter>/</Delimiter><IsTruncated>true</IsTruncated>\n"
    "  <NextMarker>photos/b &amp; c.jpg</NextMarker>\n"
    "  <Contents><Key>photos/a.jpg</Key><LastModified>2019-03-15T08:20:31.000Z</LastModified>\n"
    "    <ETag>\"5B3C1A2E053D763E1B002CC607C5A0FE\"</ETag><Type>Normal</Type><Size>344606</Size>\n"
    "    <StorageClass>Standard</StorageClass><Owner><ID>0022012</ID></Owner></Contents>\n"
    "  <Contents><Key>photos/b &amp; c.jpg</Key><Size>9223372036854775807</Size></Contents>\n"
    "  <CommonPrefixes><Prefix>photos/2019/</Prefix></CommonPrefixes>\n"
    "  <CommonPrefixes><Prefix>photos/2020/</Prefix></CommonPrefixes>\n</ListBucketResult>\n";

TEST_F(StoreLayer, ObjectListings) {
    for (size_t piece : {0, 1, 7, 64}) {  // however the body is split into buffers
        Listing l = ParseListing(pool_, kListPage, piece);
        ASSERT_EQ(l.rc, AOSE_OK) << piece;
        EXPECT_EQ(l.keys, (Strings{"photos/a.jpg", "photos/b & c.jpg"}));
        EXPECT_EQ(l.sizes, (Strings{"344606", "9223372036854775807"}));
        EXPECT_EQ(l.modified, (Strings{"2019-03-15T08:20:31.000Z", ""}));
        EXPECT_EQ(l.prefixes, (Strings{"photos/2019/", "photos/2020/"}));
        EXPECT_EQ(l.truncated, 1);
        EXPECT_EQ(l.next_marker, "photos/b & c.jpg");
    }
    Listing l = ParseListing(pool_,
                             "<ListBucketResult><IsTruncated>false</IsTruncated><NextMarker/>"
                             "<Contents><Key> spaced </Key></Contents></ListBucketResult>");
    EXPECT_TRUE(l.rc == AOSE_OK && l.truncated == 0);
    EXPECT_EQ(l.keys, Strings{" spaced "});
    EXPECT_EQ(l.next_marker, "");
    l = ParseListing(pool_,
                     "<ListBucketResult><EncodingType>url</EncodingType><IsTruncated>true"
                     "</IsTruncated><NextMarker>a%01b</NextMarker><Contents><Key>a%01b</Key>"
                     "</Contents><CommonPrefixes><Prefix>d%20x/</Prefix></CommonPrefixes>"
                     "</ListBucketResult>");
    EXPECT_EQ(l.keys, Strings{"a\x01"
                              "b"});
    EXPECT_EQ(l.prefixes, Strings{"d x/"});
    EXPECT_EQ(l.next_marker,
              "a\x01"
              "b");
    // Truncated without a next marker: continue after the last name.
    l = ParseListing(pool_,
                     "<ListBucketResult><IsTruncated>true</IsTruncated><Contents><Key>a/1</Key>"
                     "</Contents><Contents><Key>a/3</Key></Contents><CommonPrefixes><Prefix>"
                     "a/2/</Prefix></CommonPrefixes></ListBucketResult>");
    EXPECT_EQ(l.next_marker, "a/3");
    l = ParseListing(pool_,
                     "<ListBucketResult><Contents><Key>&lt;&gt;&amp;&quot;&apos;&#x41;&#66;</Key>"
                     "</Contents></ListBucketResult>");
    EXPECT_EQ(l.keys, Strings{"<>&\"'AB"});
}

TEST_F(StoreLayer, MalformedListingsFailWithoutPartialResults) {
    const std::string page = kListPage;
    std::string deep;
    for (int i = 0; i < 100000; ++i) deep += "<a>";
    const auto in_root = [](const std::string& inner) {
        return "<ListBucketResult>" + inner + "</ListBucketResult>";
    };
    for (const std::string& body :
         {""s,
          "not xml"s,
          page.substr(0, page.size() / 2),
          deep,
          "<ListBucketResult><Contents><Key>a</Key></ListBucketResult>"s,
          "<ListAllMyBucketsResult/>"s,
          "<Error><Code>x</Code></Error>"s,
          "<ListBucketResult/><ListBucketResult/>"s,
          in_root("<IsTruncated>maybe</IsTruncated>"),
          in_root("<IsTruncated>true</IsTruncated>"),
          in_root("<Contents><Key>ok</Key></Contents><Contents><Size>1</Size></Contents>"),
          in_root("<Contents><Key>k</Key><Size>-1</Size></Contents>"),
          in_root("<Contents><Key>k</Key><Size>9223372036854775808</Size></Contents>"),
          in_root("<Contents><Key>k</Key><Size>1e9</Size></Contents>"),
          in_root("<CommonPrefixes><Prefix></Prefix></CommonPrefixes>"),
          in_root("<Contents><Key>a\0b</Key></Contents>"s),
          in_root("<EncodingType>url</EncodingType><Contents><Key>bad%zz</Key></Contents>"),
          in_root("<Contents><Key>&unknown;</Key></Contents>"),
          in_root("<Contents><Key>a&#0;b</Key></Contents>"),
          "<!DOCTYPE r [<!ENTITY a \"aaaa\"><!ENTITY b \"&a;&a;&a;\">]>" +
              in_root("<Contents><Key>&b;</Key></Contents>"),
          "<!DOCTYPE r [<!ENTITY x SYSTEM \"file:///etc/passwd\">]>" +
              in_root("<Contents><Key>&x;</Key></Contents>")}) {
        Listing l = ParseListing(pool_, body);
        EXPECT_EQ(l.rc, AOSE_XML_PARSE_ERROR) << body.substr(0, 200);
        EXPECT_TRUE(l.keys.empty() && l.prefixes.empty() && l.truncated == -7) << body;
    }
}

// A part listing flattened: code, truncated flag, next marker, "number ETag" per part.
Strings ParseParts(const unit::StorePool& pool, const std::string& body) {
    aos_list_t list;
    aos_list_init(&list);
    aos_string_t marker = aos_null_string;
    int truncated = -7;
    const int rc =
        oss_list_parts_parse_from_body(pool.get(), pool.Body(body), &list, &marker, &truncated);
    Strings out = {std::to_string(rc), std::to_string(truncated), marker.data ? marker.data : "-"};
    oss_list_part_content_t* part;
    aos_list_for_each_entry(oss_list_part_content_t, part, &list, node) {
        out.push_back(std::string(part->part_number.data) + " " + part->etag.data);
    }
    return out;
}

TEST_F(StoreLayer, MultipartDocuments) {
    aos_string_t id = aos_null_string;
    EXPECT_EQ(
        oss_upload_id_parse_from_body(
            pool_.get(),
            pool_.Body("<?xml version=\"1.0\"?><InitiateMultipartUploadResult><Bucket>b</Bucket>"
                       "<UploadId> 0004B98 </UploadId></InitiateMultipartUploadResult>",
                       3),
            &id),
        AOSE_OK);
    EXPECT_TRUE(aos_string_equals(&id, "0004B98"));
    id = aos_null_string;
    EXPECT_EQ(oss_upload_id_parse_from_body(
                  pool_.get(), pool_.Body("<Other><UploadId>x</UploadId></Other>"), &id),
              AOSE_XML_PARSE_ERROR);
    EXPECT_EQ(id.data, nullptr);

    EXPECT_EQ(ParseParts(pool_,
                         "<ListPartsResult><NextPartNumberMarker>2</NextPartNumberMarker>"
                         "<IsTruncated>true</IsTruncated><Part><PartNumber>1</PartNumber>"
                         "<ETag>\"33A\"</ETag><Size>10485760</Size></Part><Part><PartNumber>2"
                         "</PartNumber><ETag>\"AB\"</ETag></Part></ListPartsResult>"),
              (Strings{"0", "1", "2", "1 \"33A\"", "2 \"AB\""}));
    const Strings failed = {std::to_string(AOSE_XML_PARSE_ERROR), "-7", "-"};
    for (const char* inner :
         {"<Part><PartNumber>0</PartNumber><ETag>e</ETag></Part>",
          "<Part><PartNumber>10001</PartNumber><ETag>e</ETag></Part>",
          "<Part><PartNumber>-3</PartNumber><ETag>e</ETag></Part>",
          "<Part><PartNumber>18446744073709551617</PartNumber><ETag>e</ETag></Part>",
          "<Part><PartNumber>1</PartNumber></Part>", "<Part><ETag>e</ETag></Part>",
          "<IsTruncated>true</IsTruncated>"})
        EXPECT_EQ(ParseParts(pool_, "<ListPartsResult>"s + inner + "</ListPartsResult>"), failed)
            << inner;

    // The completion body escapes markup and reads back as the listed parts.
    aos_list_t list, body;
    aos_list_init(&list);
    aos_list_init(&body);
    for (const char* etag : {"\"A1\"", "\"B&<2>\"", "e"}) {
        oss_complete_part_content_t* c = oss_create_complete_part_content(pool_.get());
        c->part_number = Str(etag[0] == 'e' ? "x" : etag[1] == 'A' ? "1" : "2");
        c->etag = Str(etag);
        aos_list_add_tail(&c->node, &list);
    }
    aos_list_t* broken = list.prev;  // the part number "x", kept for later
    list.prev = broken->prev;        // unlinked from the list's end
    broken->prev->next = &list;
    ASSERT_EQ(oss_build_complete_multipart_upload_body(pool_.get(), &list, &body), AOSE_OK);
    std::string xml = unit::BodyText(&body);
    EXPECT_NE(xml.find("<CompleteMultipartUpload><Part><PartNumber>1</PartNumber>"), xml.npos)
        << xml;
    xml.replace(xml.find("<CompleteMultipartUpload>"), 25, "<ListPartsResult>");
    xml.replace(xml.find("</CompleteMultipartUpload>"), 26, "</ListPartsResult>");
    EXPECT_EQ(ParseParts(pool_, xml), (Strings{"0", "0", "", "1 \"A1\"", "2 \"B&<2>\""}));
    aos_list_add_tail(broken, &list);
    aos_list_init(&body);
    EXPECT_EQ(oss_build_complete_multipart_upload_body(pool_.get(), &list, &body),
              AOSE_INVALID_ARGUMENT);

    aos_status_t* s = aos_status_create(pool_.get());
    EXPECT_EQ(
        oss_error_parse_from_body(pool_.get(),
                                  pool_.Body("<?xml version=\"1.0\"?>\n<Error>\n <Code>"
                                             "SecurityTokenExpired</Code>\n <Message>Expired."
                                             "</Message>\n <RequestId>5C3D</RequestId>\n</Error>"),
                                  s),
        AOSE_OK);
    EXPECT_EQ(std::string(s->error_code) + "|" + s->error_msg + "|" + s->req_id,
              "SecurityTokenExpired|Expired.|5C3D");
    s = aos_status_create(pool_.get());
    EXPECT_EQ(oss_error_parse_from_body(pool_.get(), pool_.Body("<html>Bad Gateway</html>"), s),
              AOSE_XML_PARSE_ERROR);
    EXPECT_EQ(s->error_code, nullptr);
}

uint64_t BitwiseCrc64(const std::string& data, uint64_t start = 0) {
    uint64_t crc = ~start;
    for (unsigned char c : data) {
        crc ^= c;
        for (int k = 0; k < 8; ++k) crc = (crc & 1) ? (crc >> 1) ^ 0xC96C5795D7870F42ULL : crc >> 1;
    }
    return ~crc;
}

TEST(StoreCrc64, AgreesWithTheBitwiseDefinition) {
    EXPECT_EQ(aos_crc64(0, "123456789", 9), 0x995DC9BBDF1939FAULL);  // the published check value
    EXPECT_EQ(aos_crc64(0x1234, "", 0), 0x1234u);
    // Every length and alignment around the table and folding steps.
    const std::string data = testdata::RandomBytes(300001, 4);
    for (size_t off = 0; off < 8; ++off) {
        for (size_t len = 0; len <= 300; len += (len < 80 ? 1 : 37)) {
            ASSERT_EQ(aos_crc64(0x0123456789abcdefULL, data.data() + off, len),
                      BitwiseCrc64(data.substr(off, len), 0x0123456789abcdefULL))
                << off << " " << len;
        }
    }
    const uint64_t whole = aos_crc64(0, data.data() + 1, data.size() - 1);
    EXPECT_EQ(whole, BitwiseCrc64(data.substr(1)));
    std::mt19937 gen(3);  // in pieces of varying size, as a transfer delivers them
    uint64_t crc = 0;
    for (size_t off = 1, n; off < data.size(); off += n) {
        n = std::min<size_t>(gen() % 7000, data.size() - off);
        crc = aos_crc64(crc, data.data() + off, n);
    }
    EXPECT_EQ(crc, whole);
}

TEST(StoreStatus, TransferFailuresAreClassifiedAndNamed) {
    const std::pair<int, std::vector<int>> classes[] = {
        // CURLcode values as int
        {AOSE_OK, {CURLE_OK}},
        {AOSE_NAME_LOOKUP_ERROR, {CURLE_COULDNT_RESOLVE_HOST, CURLE_COULDNT_RESOLVE_PROXY}},
        {AOSE_CONNECTION_FAILED,
         {CURLE_COULDNT_CONNECT, CURLE_SEND_ERROR, CURLE_RECV_ERROR, CURLE_PARTIAL_FILE,
          CURLE_GOT_NOTHING, CURLE_SSL_CONNECT_ERROR}},
        {AOSE_REQUEST_TIMEOUT, {CURLE_OPERATION_TIMEDOUT}},
        {AOSE_FAILED_VERIFICATION, {CURLE_PEER_FAILED_VERIFICATION, CURLE_SSL_CACERT_BADFILE}},
        {AOSE_READ_BODY_ERROR, {CURLE_READ_ERROR}},
        {AOSE_OPEN_FILE_ERROR, {CURLE_FILE_COULDNT_READ_FILE}},
        {AOSE_WRITE_BODY_ERROR, {CURLE_WRITE_ERROR}},
        {AOSE_OUT_MEMORY, {CURLE_OUT_OF_MEMORY}},
        {AOSE_INVALID_ARGUMENT, {CURLE_URL_MALFORMAT}},
        {AOSE_FAILED_INITIALIZE, {CURLE_FAILED_INIT}},
        {AOSE_SERVICE_ERROR, {CURLE_WEIRD_SERVER_REPLY, CURLE_UNSUPPORTED_PROTOCOL}},
        {AOSE_INTERNAL_ERROR, {CURLE_TOO_MANY_REDIRECTS, CURLE_LOGIN_DENIED}}};
    for (const auto& c : classes)
        for (int code : c.second)
            EXPECT_EQ(aos_curl_code_to_status(CURLcode(code)), c.first) << code;

    unit::StorePool pool;
    aos_status_t* failed = aos_status_fail(pool.get(), aos_status_create(pool.get()),
                                           AOSE_CONNECTION_FAILED, "refused");
    EXPECT_EQ(failed->code, -992);
    EXPECT_STREQ(failed->error_code, "ConnectionFailed");
    EXPECT_STREQ(failed->error_msg, "refused");
    EXPECT_STREQ(aos_error_code_name(AOSE_XML_PARSE_ERROR), "XmlParseError");
    EXPECT_EQ(aos_error_code_name(404), nullptr);
}

}  // namespace
