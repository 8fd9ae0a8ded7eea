// The development server's own protocol over real sockets: objects and
// their digests, ranges, signatures, listing, multipart, the faults and
// settings of the control interface, persistence, and the web API.
#include <dirent.h>
#include <httplib.h>
#include <openssl/evp.h>

#include <chrono>
#include <ctime>

#include "JsonUtil.h"
#include "Signer.h"
#include "StoreServer.h"
#include "TimeUtil.h"
#include "tests/support/SharedDevServerTest.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestData.h"

namespace {

using Lines = std::vector<std::string>;
using testdata::RandomBytes;
const std::string kBucket = "/nimbra-backup/";

// CRC-64/XZ, bit by bit.
std::string Crc64(const std::string& data) {
    uint64_t crc = ~0ULL;
    for (unsigned char c : data) {
        crc ^= c;
        for (int k = 0; k < 8; ++k) crc = (crc & 1) ? (crc >> 1) ^ 0xC96C5795D7870F42ULL : crc >> 1;
    }
    return std::to_string(~crc);
}

std::string QuotedMd5(const std::string& data) {
    unsigned char d[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    EVP_Digest(data.data(), data.size(), d, &n, EVP_md5(), nullptr);
    std::string hex = "\"";
    for (unsigned int i = 0; i < n; ++i)
        hex += "0123456789ABCDEF"[d[i] >> 4], hex += "0123456789ABCDEF"[d[i] & 15];
    return hex + "\"";
}

// Texts of every <tag> element, entities unescaped.
Lines XmlAll(const std::string& xml, const std::string& tag) {
    Lines out;
    const std::string open = "<" + tag + ">", close = "</" + tag + ">";
    for (size_t at = xml.find(open); at != std::string::npos; at = xml.find(open, at + 1)) {
        std::string text = xml.substr(at + open.size(), xml.find(close, at) - at - open.size());
        for (size_t q; (q = text.find("&quot;")) != std::string::npos;) text.replace(q, 6, "\"");
        out.push_back(text);
    }
    return out;
}

std::string Xml(const std::string& xml, const std::string& tag) {
    Lines all = XmlAll(xml, tag);
    return all.empty() ? "" : all.front();
}

std::string HttpDate(time_t t) {
    return devserver::HttpDate(static_cast<int64_t>(t) * 1000);
}

size_t FilesIn(const std::string& dir) {
    size_t n = 0;
    if (DIR* d = opendir(dir.c_str())) {
        while (struct dirent* e = readdir(d)) n += e->d_name[0] != '.';
        closedir(d);
    }
    return n;
}

class Store : public SharedDevServerTest {
protected:
    DevServer::Response Do(const std::string& method, const std::string& target,
                           const std::string& body = "",
                           const std::map<std::string, std::string>& headers = {}) {
        return server_->StoreExchange(method, target, body, headers);
    }
    // Error code of the answer's XML document (of x-oss-err for a HEAD).
    static std::string Code(const DevServer::Response& r) {
        return Xml(r.body.empty() ? devserver::Base64Decode(r.header("x-oss-err")) : r.body,
                   "Code");
    }
};

TEST_F(Store, ObjectsCarryTheirDigests) {
    const std::string data = RandomBytes(300000, 1);
    const std::string objects = server_->data_dir() + "/objects";
    const size_t files = FilesIn(objects);
    auto put = Do("PUT", kBucket + "o/data", data, {{"x-oss-meta-owner", "ann"}});
    EXPECT_EQ(put.header("x-oss-request-id").size(), 24u);
    for (const auto& r :
         {put, Do("GET", kBucket + "o/data"), Do("HEAD", kBucket + "o/data?objectMeta")}) {
        EXPECT_EQ(r.status, 200);
        EXPECT_EQ(r.header("etag"), QuotedMd5(data));
        EXPECT_EQ(r.header("x-oss-hash-crc64ecma"), Crc64(data));
    }
    auto head = Do("HEAD", kBucket + "o/data");
    EXPECT_EQ(head.header("content-length"), "300000");
    EXPECT_EQ(head.header("x-oss-meta-owner"), "ann");
    EXPECT_NE(head.header("last-modified").find(" GMT"), std::string::npos);
    EXPECT_TRUE(Do("GET", kBucket + "o/data").body == data);
    EXPECT_EQ(Do("PUT", kBucket + "o/data", "second").status, 200);  // replaces the first file
    EXPECT_EQ(FilesIn(objects), files + 1);
    auto keep = Do("PUT", kBucket + "o/data", "third", {{"x-oss-forbid-overwrite", "true"}});
    EXPECT_EQ(Code(keep), "FileAlreadyExists");
    // base64(md5("hello")) = XUFAKrxLKna5cZ2REBfFkg==
    EXPECT_EQ(
        Do("PUT", kBucket + "o/md5", "hello", {{"Content-MD5", "XUFAKrxLKna5cZ2REBfFkg=="}}).status,
        200);
    EXPECT_EQ(
        Code(Do("PUT", kBucket + "o/md5", "hellO", {{"Content-MD5", "XUFAKrxLKna5cZ2REBfFkg=="}})),
        "BadDigest");
    EXPECT_EQ(Do("GET", kBucket + "o/md5").body, "hello");
    for (int i = 0; i < 2; ++i) EXPECT_EQ(Do("DELETE", kBucket + "o/data").status, 204);
    EXPECT_EQ(Do("DELETE", kBucket + "o/md5").status, 204);
    EXPECT_EQ(FilesIn(objects), files);
    for (const char* method : {"GET", "HEAD"}) {
        auto gone = Do(method, kBucket + "o/data");
        EXPECT_EQ(gone.status, 404);
        EXPECT_EQ(Code(gone), "NoSuchKey");
    }
}

TEST_F(Store, RangeEdges) {
    const std::string data = RandomBytes(100, 2);
    ASSERT_EQ(Do("PUT", kBucket + "range", data).status, 200);
    struct Case {
        const char* range;
        int status;
        std::string body, content_range;
    } cases[] = {
        {"bytes=0-0", 206, data.substr(0, 1), "bytes 0-0/100"},
        {"bytes=90-200", 206, data.substr(90), "bytes 90-99/100"},
        {"bytes=95-", 206, data.substr(95), "bytes 95-99/100"},
        {"bytes=-10", 206, data.substr(90), "bytes 90-99/100"},
        {"bytes=-500", 206, data, "bytes 0-99/100"},
        {"bytes=0-1,5-6", 200, data, ""},
        {"bytes=100-", 416, "", "bytes */100"},
        {"bytes=-0", 416, "", "bytes */100"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.range);
        auto r = Do("GET", kBucket + "range", "", {{"Range", c.range}});
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(c.status == 416 ? Code(r) : r.body, c.status == 416 ? "InvalidRange" : c.body);
        EXPECT_EQ(r.header("content-range"), c.content_range);
        // The checksum describes the whole object, so it comes only with it.
        EXPECT_EQ(r.header("x-oss-hash-crc64ecma").empty(), c.status != 200);
    }
}

TEST_F(Store, CopyAddressingAndUnknownRequests) {
    const std::string data = RandomBytes(4096, 3);
    ASSERT_EQ(Do("PUT", kBucket + "c/src%20a", data, {{"Content-Type", "image/png"}}).status, 200);
    auto copy = Do("PUT", kBucket + "c/dst", "", {{"x-oss-copy-source", kBucket + "c/src%20a"}});
    EXPECT_EQ(Xml(copy.body, "ETag"), QuotedMd5(data));
    ASSERT_EQ(Do("DELETE", kBucket + "c/src%20a").status, 204);
    auto got = Do("GET", kBucket + "c/dst");
    EXPECT_TRUE(got.body == data);
    EXPECT_EQ(got.header("content-type"), "image/png");
    EXPECT_EQ(Code(Do("PUT", kBucket + "c/x", "", {{"x-oss-copy-source", kBucket + "c/src%20a"}})),
              "NoSuchKey");
    // Virtual-hosted by the Host header; localhost and IP addresses are path-style.
    ASSERT_EQ(Do("PUT", "/c/v", "virtual", {{"Host", "nimbra-backup.oss.example.com"}}).status,
              200);
    EXPECT_EQ(Do("GET", kBucket + "c/v", "", {{"Host", "localhost:1"}}).body, "virtual");
    EXPECT_EQ(Xml(Do("GET", "/?prefix=c/v", "", {{"Host", "nimbra-backup.x.y:80"}}).body, "Key"),
              "c/v");
    auto acl = Do("GET", kBucket + "c/v?acl");
    EXPECT_EQ(acl.status, 501);
    EXPECT_EQ(Code(acl), "NotImplemented");
    EXPECT_EQ(Code(Do("GET", "/Bad_Bucket/key")), "InvalidBucketName");
}

TEST_F(Store, SignaturesAndCredentials) {
    const DevServer::Credentials creds = server_->IssueCredentials();
    EXPECT_EQ(creds.access_key_id.rfind("STS.", 0), 0u);
    const std::string target = kBucket + "a%20b?uploadId=U1&max-parts=5";
    auto signed_by = [&](DevServer::Credentials c, std::map<std::string, std::string> h = {}) {
        DevServer::SignRequest(c, "GET", target, h);
        return Do("GET", target, "", h);
    };
    DevServer::Credentials unknown = creds, wrong_token = creds, wrong_secret = creds;
    unknown.access_key_id = "STS.doesnotexist";
    wrong_token.security_token = "CAIS-not-the-token";
    wrong_secret.access_key_secret = "not-the-secret";
    const time_t now = time(nullptr);
    struct Case {
        DevServer::Response r;
        const char* code;
    } cases[] = {
        {signed_by(creds), "NoSuchUpload"},
        {signed_by(creds, {{"x-oss-date", HttpDate(now - 10 * 60)}}), "NoSuchUpload"},
        {Do("GET", target, "", {{"Authorization", ""}}), "AccessDenied"},
        {signed_by(unknown), "InvalidAccessKeyId"},
        {signed_by(wrong_token), "InvalidSecurityToken"},
        {signed_by(wrong_secret), "SignatureDoesNotMatch"},
        {signed_by(creds, {{"x-oss-date", HttpDate(now - 16 * 60)}}), "RequestTimeTooSkewed"},
        {signed_by(creds, {{"x-oss-date", HttpDate(now + 16 * 60)}}), "RequestTimeTooSkewed"},
        {Do("PUT", "/other-bucket/key", "v"), "AccessDenied"},
    };
    for (const Case& c : cases) EXPECT_EQ(Code(c.r), c.code);
    // The refusal shows the string the server signed, as the real store does.
    std::map<std::string, std::string> h;
    DevServer::SignRequest(wrong_secret, "GET", target, h);
    EXPECT_EQ(Xml(Do("GET", target, "", h).body, "StringToSign"),
              "GET\n\n\n" + h["Date"] + "\nx-oss-security-token:" + creds.security_token +
                  "\n/nimbra-backup/a b?uploadId=U1");

    // The token as a query parameter, and a signed URL with Expires.
    ASSERT_EQ(Do("PUT", kBucket + "q", "query").status, 200);
    const std::string token = devserver::PercentEncode(creds.security_token, false);
    const std::string expires = std::to_string(now + 300), date = HttpDate(now);
    auto signature = [&](const std::string& when) {
        return devserver::SignString(
            creds.access_key_secret,
            devserver::StringToSign(
                "GET", "", "", when, "",
                devserver::CanonicalizedResource("nimbra-backup", "q",
                                                 {{"security-token", creds.security_token}})));
    };
    auto query = Do(
        "GET", kBucket + "q?security-token=" + token, "",
        {{"Date", date}, {"Authorization", "OSS " + creds.access_key_id + ":" + signature(date)}});
    EXPECT_EQ(query.body, "query");
    const std::string url = kBucket + "q?OSSAccessKeyId=" + creds.access_key_id +
                            "&Signature=" + devserver::PercentEncode(signature(expires), false) +
                            "&security-token=" + token;
    EXPECT_EQ(Do("GET", url + "&Expires=" + expires, "", {{"Authorization", ""}}).body, "query");
    EXPECT_EQ(Do("GET", url + "&Expires=1000", "", {{"Authorization", ""}}).status, 403);

    server_->ExpireCredentials();
    auto expired = signed_by(creds);
    EXPECT_EQ(Code(expired), "SecurityTokenExpired");
    EXPECT_EQ(Xml(expired.body, "Message"), "The security token you provided has expired.");
}

TEST_F(Store, ListingFoldsByTheDelimiterAndPagesByMarker) {
    for (const char* key :
         {"ls/a.txt", "ls/b/1", "ls/b/2", "ls/b/c/3", "ls/c", "ls/d/", "ls/d/x", "ls/sp ace/k"})
        ASSERT_EQ(Do("PUT", kBucket + devserver::PercentEncode(key, true), "x").status, 200);
    auto list = [&](const std::string& query) {
        auto r = Do("GET", kBucket + "?" + (query.find("prefix=") ? "prefix=ls/&" : "") + query);
        EXPECT_EQ(r.status, 200) << query;
        Lines entries = XmlAll(r.body, "Key");
        for (const std::string& common : XmlAll(r.body, "CommonPrefixes"))
            entries.push_back(Xml(common, "Prefix"));
        if (Xml(r.body, "IsTruncated") == "true")
            entries.push_back("next " + Xml(r.body, "NextMarker"));
        return entries;
    };
    struct Case {
        std::string query;
        Lines entries;
    } cases[] = {
        {"delimiter=/", {"ls/a.txt", "ls/c", "ls/b/", "ls/d/", "ls/sp ace/"}},
        {"prefix=ls/b/&delimiter=/", {"ls/b/1", "ls/b/2", "ls/b/c/"}},
        {"prefix=ls/d/&delimiter=/", {"ls/d/", "ls/d/x"}},  // the folder's own marker object
        {"prefix=ls/b&delimiter=/", {"ls/b/"}},
        {"",
         {"ls/a.txt", "ls/b/1", "ls/b/2", "ls/b/c/3", "ls/c", "ls/d/", "ls/d/x", "ls/sp ace/k"}},
        // max-keys counts keys and common prefixes together; markers are exclusive.
        {"delimiter=/&max-keys=2", {"ls/a.txt", "ls/b/", "next ls/b/"}},
        {"delimiter=/&max-keys=2&marker=ls/b/", {"ls/c", "ls/d/", "next ls/d/"}},
        {"delimiter=/&max-keys=2&marker=ls/d/", {"ls/sp ace/"}},
        {"marker=ls/b/1zz&max-keys=1", {"ls/b/2", "next ls/b/2"}},
        {"prefix=ls/sp&encoding-type=url", {"ls/sp%20ace/k"}},
    };
    for (const Case& c : cases) EXPECT_EQ(list(c.query), c.entries) << c.query;
    server_->Settings(R"({"max_list_keys":3})");
    EXPECT_EQ(list("max-keys=500"), (Lines{"ls/a.txt", "ls/b/1", "ls/b/2", "next ls/b/2"}));
    auto doc = Do("GET", kBucket + "?prefix=ls/c&max-keys=5").body;
    EXPECT_EQ(Xml(doc, "MaxKeys"), "5");
    EXPECT_EQ(Xml(doc, "Size"), "1");
    EXPECT_EQ(Xml(doc, "ETag"), QuotedMd5("x"));
    EXPECT_EQ(Xml(doc, "LastModified").substr(10),
              "T" + Xml(doc, "LastModified").substr(11, 8) + ".000Z");
    for (const char* bad : {"max-keys=1001", "max-keys=-1", "max-keys=abc", "encoding-type=gzip"})
        EXPECT_EQ(Code(Do("GET", kBucket + "?" + bad)), "InvalidArgument") << bad;
}

TEST_F(Store, MultipartAssemblesValidatedCompletions) {
    const size_t min = 100 * 1024;
    const std::string p1 = RandomBytes(min, 11), p2 = RandomBytes(min + 7, 12), p3 = "tail";
    const std::string parts = server_->data_dir() + "/parts";
    const size_t files = FilesIn(parts);
    auto initiate = [&](const std::string& key) {
        return Xml(Do("POST", kBucket + key + "?uploads").body, "UploadId");
    };
    auto part = [&](const std::string& key, const std::string& id, int n, const std::string& data) {
        return Do("PUT", kBucket + key + "?partNumber=" + std::to_string(n) + "&uploadId=" + id,
                  data);
    };
    auto complete = [&](const std::string& key, const std::string& id,
                        const std::vector<std::pair<int, std::string>>& list) {
        std::string xml = "<CompleteMultipartUpload>";
        for (const auto& p : list)
            xml += "<Part><PartNumber>" + std::to_string(p.first) + "</PartNumber><ETag>" +
                   p.second + "</ETag></Part>";
        return Do("POST", kBucket + key + "?uploadId=" + id, xml + "</CompleteMultipartUpload>");
    };
    const std::string id = initiate("mp/obj");
    ASSERT_EQ(id.size(), 32u);
    EXPECT_EQ(part("mp/obj", id, 3, p3).header("etag"), QuotedMd5(p3));
    ASSERT_EQ(part("mp/obj", id, 1, "stale").status, 200);  // replaced below
    const std::string e1 = part("mp/obj", id, 1, p1).header("etag"),
                      e2 = part("mp/obj", id, 2, p2).header("etag");
    EXPECT_EQ(FilesIn(parts), files + 3);
    server_->Settings(R"({"max_list_parts":2})");
    auto listed = Do("GET", kBucket + "mp/obj?uploadId=" + id).body;
    EXPECT_EQ(XmlAll(listed, "PartNumber"), (Lines{"1", "2"}));
    EXPECT_EQ(XmlAll(listed, "Size"), (Lines{std::to_string(min), std::to_string(min + 7)}));
    EXPECT_EQ(Xml(listed, "NextPartNumberMarker"), "2");
    listed =
        Do("GET", kBucket + "mp/obj?uploadId=" + id + "&max-parts=1&part-number-marker=2").body;
    EXPECT_EQ(XmlAll(listed, "PartNumber"), Lines{"3"});
    EXPECT_EQ(Xml(listed, "IsTruncated"), "false");
    struct Case {
        std::vector<std::pair<int, std::string>> list;
        const char* code;
    } refused[] = {
        {{{2, e2}, {1, e1}}, "InvalidPartOrder"},
        {{{1, e1}, {1, e1}}, "InvalidPartOrder"},
        {{{1, e2}}, "InvalidPart"},
        {{{1, e1}, {4, e1}}, "InvalidPart"},
        {{{3, QuotedMd5(p3)}, {4, e1}}, "InvalidPart"},
        {{}, "MalformedXML"},
    };
    for (const Case& c : refused) EXPECT_EQ(Code(complete("mp/obj", id, c.list)), c.code);
    EXPECT_EQ(Code(complete("mp/small", initiate("mp/small"), {})), "MalformedXML");
    // A part may be left out; ETags match whatever their quoting or case.
    std::string lower = e2.substr(1, 32);
    for (char& ch : lower) ch = static_cast<char>(tolower(ch));
    auto done = complete("mp/obj", id, {{1, e1}, {2, lower}});
    ASSERT_EQ(done.status, 200) << done.body;
    EXPECT_EQ(done.header("x-oss-hash-crc64ecma"), Crc64(p1 + p2));
    auto whole = Do("GET", kBucket + "mp/obj");
    EXPECT_TRUE(whole.body == p1 + p2);
    EXPECT_EQ(whole.header("x-oss-object-type"), "Multipart");
    EXPECT_EQ(whole.header("etag").substr(33), "-2\"");
    EXPECT_EQ(FilesIn(parts), files);
    EXPECT_EQ(Code(Do("GET", kBucket + "mp/obj?uploadId=" + id)), "NoSuchUpload");
    // Part 1 below the minimum size while not the last: too small.
    const std::string small = initiate("mp/small");
    const std::string s1 = part("mp/small", small, 1, "x").header("etag"),
                      s2 = part("mp/small", small, 2, "y").header("etag");
    EXPECT_EQ(Code(complete("mp/small", small, {{1, s1}, {2, s2}})), "EntityTooSmall");
    EXPECT_EQ(Do("DELETE", kBucket + "mp/small?uploadId=" + small).status, 204);
    EXPECT_EQ(Code(part("mp/small", small, 3, "z")), "NoSuchUpload");
    for (const char* n : {"0", "10001", "x"})
        EXPECT_EQ(
            Code(Do("PUT", kBucket + "mp/o?partNumber=" + std::string(n) + "&uploadId=" + id, "x")),
            "InvalidArgument");
    EXPECT_EQ(FilesIn(parts), files);
}

TEST_F(Store, FaultRulesAndSettings) {
    const std::string data = RandomBytes(100000, 4);
    ASSERT_EQ(Do("PUT", kBucket + "f/obj", data).status, 200);
    auto inverted = [](std::string s, size_t at, size_t n) {
        for (size_t i = at; i < at + n; ++i) s[i] = static_cast<char>(~s[i]);
        return s;
    };
    // Rules match method, sub-resource ("none": no query) and key; each
    // applies `count` times, the first matching one in the order added.
    server_->AddFault(R"({"method":"GET","subresource":"none","key_contains":"obj","count":2,
                          "status":503,"code":"SlowDown","message":"busy"})");
    EXPECT_EQ(Do("GET", kBucket + "f/obj?objectMeta").status, 200);
    EXPECT_EQ(Do("HEAD", kBucket + "f/obj").status, 200);
    EXPECT_EQ(Do("GET", kBucket + "f/other").status, 404);
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(Xml(Do("GET", kBucket + "f/obj").body, "Message"), "busy");
    server_->AddFault(R"({"method":"GET","action":"truncate_body","keep_bytes":1234})");
    auto cut = Do("GET", kBucket + "f/obj");
    EXPECT_EQ(cut.header("content-length"), "1234");
    EXPECT_TRUE(cut.body == data.substr(0, 1234));
    server_->AddFault(
        R"({"method":"GET","action":"corrupt_body","corrupt_offset":7000,"corrupt_length":5})");
    EXPECT_TRUE(Do("GET", kBucket + "f/obj", "", {{"Range", "bytes=1000-9999"}}).body ==
                inverted(data.substr(1000, 9000), 7000, 5));
    server_->AddFault(R"({"method":"GET","action":"corrupt_body"})");
    EXPECT_TRUE(Do("GET", kBucket + "f/obj").body == inverted(data, 50000, 1));
    server_->AddFault(R"({"method":"GET","action":"bad_crc"})");
    auto bad = Do("GET", kBucket + "f/obj");
    EXPECT_TRUE(bad.body == data);
    EXPECT_NE(bad.header("x-oss-hash-crc64ecma"), Crc64(data));
    server_->AddFault(R"({"method":"PUT","action":"expire"})");
    EXPECT_EQ(Xml(Do("PUT", kBucket + "f/e", "x").body, "Code"), "SecurityTokenExpired");
    EXPECT_EQ(Do("PUT", kBucket + "f/e", "x").status, 200);  // nothing really expired
    // close: the headers and K bytes, then the connection drops (a client sees no answer).
    server_->AddFault(R"({"method":"GET","action":"close","close_after_bytes":10})");
    EXPECT_EQ(Do("GET", kBucket + "?prefix=f/").status, 0);
    server_->AddFault(R"({"method":"HEAD","action":"delay","delay_ms":200})");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Do("HEAD", kBucket + "f/obj").status, 200);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200));
    server_->Settings(R"({"ignore_range":true})");
    EXPECT_EQ(Do("GET", kBucket + "f/obj", "", {{"Range", "bytes=0-9"}}).body.size(), data.size());
    server_->Reset();
    EXPECT_EQ(Do("GET", kBucket + "f/obj", "", {{"Range", "bytes=0-9"}}).body.size(), 10u);
    for (const char* bad_rule :
         {"not json", R"({"action":"explode"})", R"({"method":"PATCH"})", R"({"count":0})",
          R"({"action":"corrupt_body","corrupt_length":0})",
          R"({"action":"truncate_body","keep_bytes":-1})"})
        EXPECT_THROW(server_->AddFault(bad_rule), std::runtime_error) << bad_rule;
    EXPECT_THROW(server_->Settings(R"({"max_list_keys":-2})"), std::runtime_error);
    EXPECT_THROW(server_->ScriptApi(R"({"status":500})"), std::runtime_error);
}

TEST_F(Store, StatsCountRequestsOverOneKeptAliveConnection) {
    ASSERT_EQ(Do("PUT", kBucket + "s", "v").status, 200);
    const DevServer::Credentials creds = server_->IssueCredentials();
    server_->Reset();
    EXPECT_TRUE(server_->GetStats().requests.empty());
    httplib::Client cli("127.0.0.1", server_->store_port());
    cli.set_keep_alive(true);
    for (int i = 0; i < 300; ++i) {  // far beyond httplib's default of 5 a connection
        std::map<std::string, std::string> h;
        DevServer::SignRequest(creds, i % 2 ? "HEAD" : "GET", kBucket + "s", h);
        httplib::Headers headers(h.begin(), h.end());
        auto r = i % 2 ? cli.Head((kBucket + "s").c_str(), headers)
                       : cli.Get((kBucket + "s").c_str(), headers);
        ASSERT_TRUE(r && r->status == 200);
    }
    Do("DELETE", kBucket + "none");
    DevServer::Stats stats = server_->GetStats();
    EXPECT_EQ(stats.connections_accepted, 2);
    EXPECT_EQ(stats.requests, (std::map<std::string, long>{
                                  {"DeleteObject", 1}, {"GetObject", 150}, {"HeadObject", 150}}));
}

TEST(Persistence, WhatWasAcknowledgedSurvivesAKill) {
    DevServer server;
    const std::string data = RandomBytes(200000, 41), p1 = RandomBytes(100 * 1024, 42);
    ASSERT_EQ(server.StoreRequest("PUT", kBucket + "keep", data).first, 200);
    ASSERT_EQ(server.ApiRequest("POST", "/uploadUserInfo", R"({"name":"carol","file_size":200000})")
                  .first,
              200);
    const std::string id =
        Xml(server.StoreRequest("POST", kBucket + "mp?uploads").second, "UploadId");
    const std::string e1 =
        server.StoreExchange("PUT", kBucket + "mp?partNumber=1&uploadId=" + id, p1).header("etag");
    const DevServer::Credentials creds = server.IssueCredentials();
    const std::string certificate = ReadFileBytes(server.data_dir() + "/api-cert.pem");
    server.Kill();
    ASSERT_TRUE(WriteFileBytes(server.data_dir() + "/tmp/interrupted", "half"));
    server.Restart();
    EXPECT_TRUE(server.StoreRequest("GET", kBucket + "keep").second == data);
    EXPECT_EQ(server.ApiRequest("GET", "/getUserSpace?name=carol").second, R"({"size":200000})");
    std::map<std::string, std::string> h;
    DevServer::SignRequest(creds, "HEAD", kBucket + "keep", h);
    EXPECT_EQ(server.StoreExchange("HEAD", kBucket + "keep", "", h).status, 200);
    const std::string e2 =
        server.StoreExchange("PUT", kBucket + "mp?partNumber=2&uploadId=" + id, "end")
            .header("etag");
    EXPECT_EQ(server
                  .StoreRequest("POST", kBucket + "mp?uploadId=" + id,
                                "<CompleteMultipartUpload><Part><PartNumber>1</PartNumber><ETag>" +
                                    e1 + "</ETag></Part><Part><PartNumber>2</PartNumber><ETag>" +
                                    e2 + "</ETag></Part></CompleteMultipartUpload>")
                  .first,
              200);
    EXPECT_TRUE(server.StoreRequest("GET", kBucket + "mp").second == p1 + "end");
    // Unfinished writes are dropped at start; the certificate stays.
    EXPECT_EQ(ReadFileBytes(server.data_dir() + "/tmp/interrupted"), "");
    EXPECT_EQ(ReadFileBytes(server.data_dir() + "/api-cert.pem"), certificate);
    // A clean shutdown, also with an idle kept-alive connection open.
    httplib::Client idle("127.0.0.1", server.store_port());
    idle.set_keep_alive(true);
    ASSERT_TRUE(idle.Get("/__dev/health"));
    EXPECT_EQ(server.Stop(), 0);
}

class WebApi : public SharedDevServerTest {
protected:
    devserver::JsonPtr Get(const std::string& target) {
        auto r = server_->ApiRequest("GET", target);
        EXPECT_EQ(r.first, 200) << target;
        return devserver::ParseJson(r.second);
    }
    static double Number(const devserver::JsonPtr& json, const char* name) {
        const cJSON* item = cJSON_GetObjectItemCaseSensitive(json.get(), name);
        return cJSON_IsNumber(item) ? item->valuedouble : -1;
    }
};

TEST_F(WebApi, CredentialsExpireWithinTheHourOverVerifiedTls) {
    for (const char* host : {"127.0.0.1", "localhost"}) {
        httplib::SSLClient cli(host, server_->api_port());
        cli.set_ca_cert_path((server_->data_dir() + "/api-cert.pem").c_str());
        cli.enable_server_certificate_verification(true);
        auto r = cli.Get("/getStsKey");
        ASSERT_TRUE(r) << host;
        devserver::JsonPtr j = devserver::ParseJson(r->body);
        struct tm expiry = {};
        ASSERT_TRUE(strptime(cJSON_GetObjectItem(j.get(), "Expiration")->valuestring,
                             "%Y-%m-%dT%H:%M:%SZ", &expiry));
        EXPECT_NEAR(static_cast<double>(timegm(&expiry) - time(nullptr)), 3600, 10);
    }
    EXPECT_NE(server_->IssueCredentials().access_key_id, server_->IssueCredentials().access_key_id);
}

TEST_F(WebApi, RecordsPagesSpaceAndDeletion) {
    const long long sizes[] = {100, 3000000000LL, 7, 42, 5};
    for (long long size : sizes)
        ASSERT_EQ(
            server_
                ->ApiRequest(
                    "POST", "/uploadUserInfo",
                    R"({"name":"alice","backup_name":"nightly","date_time":"2026-12-05 08:00",)"
                    R"("file_path":"/b/f","file_name":"f","expire_time":1767225600,"file_size":)" +
                        std::to_string(size) + "}")
                .first,
            200);
    ASSERT_EQ(
        server_->ApiRequest("POST", "/uploadUserInfo", R"({"name":"bob","file_size":11})").first,
        200);
    EXPECT_EQ(Number(Get("/getUserSpace?name=alice"), "size"), 3000000154.0);
    Lines seen;
    for (int page = 1; page <= 3; ++page) {
        devserver::JsonPtr j = Get("/getUser?name=alice&per_page=2&page=" + std::to_string(page));
        EXPECT_EQ(Number(j, "total"), 5);
        for (const cJSON* r = cJSON_GetObjectItem(j.get(), "data")->child; r; r = r->next)
            seen.push_back(std::to_string(static_cast<long long>(
                               cJSON_GetObjectItem(r, "file_size")->valuedouble)) +
                           " " + cJSON_GetObjectItem(r, "backup_name")->valuestring);
    }
    EXPECT_EQ(seen, (Lines{"5 nightly", "42 nightly", "7 nightly", "3000000000 nightly",
                           "100 nightly"}));  // newest first
    EXPECT_EQ(Number(Get("/deleteUser?name=alice"), "deleted"), 5);
    EXPECT_EQ(Number(Get("/getUserSpace?name=alice"), "size"), 0);
    EXPECT_EQ(Number(Get("/getUserSpace?name=bob"), "size"), 11);
}

TEST_F(WebApi, ScriptsAndBadInput) {
    server_->ScriptApi(R"({"path":"/getStsKey","status":500,"body":"{\"oops\":1}","count":2})");
    server_->ScriptApi(R"({"path":"/getUserSpace","close":true})");
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(server_->ApiRequest("GET", "/getStsKey"),
                  std::make_pair(500, std::string("{\"oops\":1}")));
    EXPECT_EQ(server_->ApiRequest("GET", "/getStsKey").first, 200);
    EXPECT_EQ(server_->ApiRequest("GET", "/getUserSpace?name=x").first, 0);
    struct Case {
        std::string body;
        int status;
    } records[] = {
        {"not json", 400},
        {"[1]", 400},
        {"{}", 400},
        {R"({"name":""})", 400},
        {R"({"name":5})", 400},
        {R"({"name":"u","file_size":"12"})", 400},
        {R"({"name":"u","file_size":1.5})", 400},
        {R"({"name":"u","expire_time":null})", 400},
        {R"({"name":"u","backup_name":[]})", 400},
        {R"({"name":")" + std::string(255, 'n') + "\"}", 400},
        {R"({"name":")" + std::string(254, 'n') + "\"}", 200},
        {R"({"name":"u","file_path":")" + std::string(256, 'p') + "\"}", 400},
        {R"({"name":"u","file_path":")" + std::string(255, 'p') + "\"}", 200},
        {R"({"name":"u","file_name":")" + std::string(100, 'f') + "\"}", 400},
        {R"({"name":"u","file_name":")" + std::string(99, 'f') + "\"}", 200},
    };
    for (const Case& c : records) {
        auto r = server_->ApiRequest("POST", "/uploadUserInfo", c.body);
        EXPECT_EQ(r.first, c.status) << c.body.substr(0, 40);
        devserver::JsonPtr answer = devserver::ParseJson(r.second);
        EXPECT_EQ(c.status == 400, answer && cJSON_GetObjectItem(answer.get(), "error") != nullptr);
    }
    for (const char* target : {"/getUser", "/getUser?name=u&per_page=0", "/getUser?name=u&page=x",
                               "/getUserSpace", "/deleteUser?name="})
        EXPECT_EQ(server_->ApiRequest("GET", target).first, 400) << target;
    EXPECT_EQ(server_->ApiRequest("GET", "/no/such/path").first, 404);
}

TEST(WebApiPlain, PlainHttpAndAnonymousModes) {
    DevServerOptions options;
    options.api_plain_http = true;
    options.allow_anonymous = true;
    DevServer server(options);
    EXPECT_EQ(server.api_url().rfind("http://", 0), 0u);
    EXPECT_EQ(server.IssueCredentials().access_key_id.rfind("STS.", 0), 0u);
    const std::map<std::string, std::string> unsigned_request = {{"Authorization", ""}};
    EXPECT_EQ(server.StoreRequest("PUT", "/other-bucket", "", unsigned_request).first, 200);
    EXPECT_EQ(server.StoreRequest("PUT", "/other-bucket/key", "v", unsigned_request).first, 200);
    EXPECT_EQ(server.StoreRequest("GET", "/other-bucket/key", "", unsigned_request).second, "v");
    EXPECT_EQ(
        Xml(server.StoreRequest("GET", "/no-bucket/key", "", unsigned_request).second, "Code"),
        "NoSuchBucket");
}

}  // namespace
