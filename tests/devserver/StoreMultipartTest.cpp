// Multipart uploads: initiate, parts, listing with continuation, validated
// completion, abort, and the error codes of each step.
#include <dirent.h>
#include <gtest/gtest.h>

#include "tests/devserver/StoreTestUtil.h"
#include "tests/support/DevServer.h"
#include "tests/support/SharedDevServerTest.h"

using namespace storetest;

namespace {

const size_t kMinPart = 100 * 1024;

class StoreMultipart : public SharedDevServerTest {
protected:
    static std::string Initiate(const std::string& key) {
        auto r = server_->StoreRequest("POST", "/nimbra-backup/" + key + "?uploads");
        EXPECT_EQ(r.first, 200) << r.second;
        EXPECT_EQ(XmlFirst(r.second, "Key"), key);
        EXPECT_EQ(XmlFirst(r.second, "Bucket"), "nimbra-backup");
        return XmlFirst(r.second, "UploadId");
    }
    static DevServer::Response Part(const std::string& key, const std::string& id, int n,
                                    const std::string& data) {
        return server_->StoreExchange(
            "PUT", "/nimbra-backup/" + key + "?partNumber=" + std::to_string(n) + "&uploadId=" + id,
            data);
    }
    static std::string CompleteBody(const std::vector<std::pair<int, std::string>>& parts) {
        std::string xml = "<CompleteMultipartUpload>";
        for (const auto& p : parts)
            xml += "<Part><PartNumber>" + std::to_string(p.first) + "</PartNumber><ETag>" +
                   p.second + "</ETag></Part>";
        return xml + "</CompleteMultipartUpload>";
    }
    static DevServer::Response Complete(const std::string& key, const std::string& id,
                                        const std::string& body) {
        return server_->StoreExchange("POST", "/nimbra-backup/" + key + "?uploadId=" + id, body,
                                      {{"Content-Type", "application/xml"}});
    }
    static size_t PartFiles() {
        size_t n = 0;
        if (DIR* d = opendir((server_->data_dir() + "/parts").c_str())) {
            while (struct dirent* e = readdir(d))
                if (e->d_name[0] != '.') ++n;
            closedir(d);
        }
        return n;
    }
};

}  // namespace

TEST_F(StoreMultipart, PartsInAnyOrderAssembleIntoOneObject) {
    size_t before = PartFiles();
    std::string p1 = RandomBytes(kMinPart, 11), p2 = RandomBytes(kMinPart + 7, 12),
                p3 = RandomBytes(10, 13);
    std::string id = Initiate("mp/one.bin");
    ASSERT_EQ(id.size(), 32u);
    auto r3 = Part("mp/one.bin", id, 3, p3);
    ASSERT_EQ(r3.status, 200) << r3.body;
    EXPECT_EQ(r3.header("etag"), QuotedMd5(p3));
    EXPECT_EQ(r3.header("x-oss-hash-crc64ecma"), std::to_string(ReferenceCrc64(p3)));
    // A part sent again replaces the earlier one.
    ASSERT_EQ(Part("mp/one.bin", id, 1, "stale").status, 200);
    ASSERT_EQ(Part("mp/one.bin", id, 1, p1).status, 200);
    ASSERT_EQ(Part("mp/one.bin", id, 2, p2).status, 200);
    EXPECT_EQ(PartFiles(), before + 3);

    auto list = server_->StoreRequest("GET", "/nimbra-backup/mp/one.bin?uploadId=" + id);
    ASSERT_EQ(list.first, 200) << list.second;
    auto parts = XmlAll(list.second, "Part");
    ASSERT_EQ(parts.size(), 3u);
    std::vector<std::pair<int, std::string>> done;
    const std::string* datas[] = {&p1, &p2, &p3};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(XmlFirst(parts[i], "PartNumber"), std::to_string(i + 1));
        EXPECT_EQ(XmlFirst(parts[i], "Size"), std::to_string(datas[i]->size()));
        EXPECT_EQ(XmlText(XmlFirst(parts[i], "ETag")), QuotedMd5(*datas[i]));
        EXPECT_NE(XmlFirst(parts[i], "LastModified").find(".000Z"), std::string::npos);
        done.emplace_back(static_cast<int>(i + 1), XmlText(XmlFirst(parts[i], "ETag")));
    }
    EXPECT_EQ(XmlFirst(list.second, "IsTruncated"), "false");

    auto c = Complete("mp/one.bin", id, CompleteBody(done));
    ASSERT_EQ(c.status, 200) << c.body;
    std::string whole = p1 + p2 + p3;
    EXPECT_EQ(c.header("x-oss-hash-crc64ecma"), std::to_string(ReferenceCrc64(whole)));
    std::string etag = XmlText(XmlFirst(c.body, "ETag"));
    EXPECT_EQ(etag.substr(etag.size() - 3), "-3\"");
    EXPECT_EQ(XmlFirst(c.body, "Key"), "mp/one.bin");

    auto get = server_->StoreExchange("GET", "/nimbra-backup/mp/one.bin");
    EXPECT_TRUE(get.body == whole);
    EXPECT_EQ(get.header("x-oss-object-type"), "Multipart");
    EXPECT_EQ(get.header("etag"), etag);
    EXPECT_EQ(get.header("x-oss-hash-crc64ecma"), std::to_string(ReferenceCrc64(whole)));
    EXPECT_EQ(PartFiles(), before);
    // The upload is gone once completed.
    auto again = server_->StoreRequest("GET", "/nimbra-backup/mp/one.bin?uploadId=" + id);
    EXPECT_EQ(again.first, 404);
    EXPECT_EQ(XmlFirst(again.second, "Code"), "NoSuchUpload");
}

TEST_F(StoreMultipart, CompletionMayLeaveOutPartsAndAcceptsAnyEtagQuoting) {
    size_t before = PartFiles();
    std::string p1 = RandomBytes(kMinPart, 21), p2 = RandomBytes(kMinPart, 22), p3 = "tail";
    std::string id = Initiate("mp/subset");
    std::string e1 = Part("mp/subset", id, 1, p1).header("etag");
    Part("mp/subset", id, 2, p2);
    std::string e3 = Part("mp/subset", id, 3, p3).header("etag");
    std::string lower = e3.substr(1, e3.size() - 2);
    for (auto& ch : lower) ch = static_cast<char>(tolower(ch));
    auto c = Complete("mp/subset", id,
                      CompleteBody({{1, "&quot;" + e1.substr(1, 32) + "&quot;"}, {3, lower}}));
    ASSERT_EQ(c.status, 200) << c.body;
    EXPECT_TRUE(server_->StoreRequest("GET", "/nimbra-backup/mp/subset").second == p1 + p3);
    EXPECT_EQ(PartFiles(), before);
}

TEST_F(StoreMultipart, CompletionIsValidated) {
    std::string small = RandomBytes(1000, 31), big = RandomBytes(kMinPart, 32);
    std::string id = Initiate("mp/bad");
    std::string es = Part("mp/bad", id, 1, small).header("etag");
    std::string eb = Part("mp/bad", id, 2, big).header("etag");
    std::string eb3 = Part("mp/bad", id, 3, big).header("etag");
    struct Case {
        std::string body;
        const char* code;
    } cases[] = {
        {CompleteBody({{2, eb}, {1, es}}), "InvalidPartOrder"},
        {CompleteBody({{2, eb}, {2, eb}}), "InvalidPartOrder"},
        {CompleteBody({{2, es}}), "InvalidPart"},           // wrong ETag
        {CompleteBody({{2, eb}, {4, eb}}), "InvalidPart"},  // never uploaded
        {CompleteBody({{1, es}, {2, eb}}), "EntityTooSmall"},
        {"not xml at all", "MalformedXML"},
        {"<CompleteMultipartUpload></CompleteMultipartUpload>", "MalformedXML"},
        {"<CompleteMultipartUpload><Part><PartNumber>x</PartNumber><ETag>a</ETag></Part>"
         "</CompleteMultipartUpload>",
         "MalformedXML"},
        {"<Other><Part><PartNumber>1</PartNumber><ETag>a</ETag></Part></Other>", "MalformedXML"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.body);
        auto r = Complete("mp/bad", id, c.body);
        EXPECT_EQ(r.status, 400);
        EXPECT_EQ(XmlFirst(r.body, "Code"), c.code);
    }
    // Nothing was assembled; a valid completion (small last part) still works.
    EXPECT_EQ(server_->StoreRequest("HEAD", "/nimbra-backup/mp/bad").first, 404);
    auto ok = Complete(
        "mp/bad", id,
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" + CompleteBody({{2, eb}, {3, eb3}}));
    EXPECT_EQ(ok.status, 200) << ok.body;
}

TEST_F(StoreMultipart, ListPartsPagesAndHonoursTheServerCap) {
    std::string id = Initiate("mp/list");
    for (int n = 1; n <= 5; ++n)
        ASSERT_EQ(Part("mp/list", id, n, "p" + std::to_string(n)).status, 200);
    std::vector<std::string> seen;
    std::string marker = "0";
    int pages = 0;
    for (;;) {
        auto r = server_->StoreRequest("GET", "/nimbra-backup/mp/list?uploadId=" + id +
                                                  "&max-parts=2&part-number-marker=" + marker);
        ASSERT_EQ(r.first, 200);
        ++pages;
        for (const auto& p : XmlAll(r.second, "Part")) seen.push_back(XmlFirst(p, "PartNumber"));
        EXPECT_EQ(XmlFirst(r.second, "MaxParts"), "2");
        if (XmlFirst(r.second, "IsTruncated") != "true") break;
        marker = XmlFirst(r.second, "NextPartNumberMarker");
        ASSERT_LT(pages, 10);
    }
    EXPECT_EQ(pages, 3);
    EXPECT_EQ(seen, (std::vector<std::string>{"1", "2", "3", "4", "5"}));

    server_->Settings(R"({"max_list_parts": 3})");
    auto capped = server_->StoreRequest("GET", "/nimbra-backup/mp/list?uploadId=" + id);
    EXPECT_EQ(XmlAll(capped.second, "Part").size(), 3u);
    EXPECT_EQ(XmlFirst(capped.second, "IsTruncated"), "true");
    EXPECT_EQ(XmlFirst(capped.second, "NextPartNumberMarker"), "3");
    auto bad =
        server_->StoreRequest("GET", "/nimbra-backup/mp/list?uploadId=" + id + "&max-parts=0");
    EXPECT_EQ(bad.first, 400);
}

TEST_F(StoreMultipart, AbortDropsThePartsAndUnknownUploadsAreRefused) {
    size_t before = PartFiles();
    std::string id = Initiate("mp/abort");
    ASSERT_EQ(Part("mp/abort", id, 1, "data").status, 200);
    EXPECT_EQ(PartFiles(), before + 1);
    EXPECT_EQ(server_->StoreRequest("DELETE", "/nimbra-backup/mp/abort?uploadId=" + id).first, 204);
    EXPECT_EQ(PartFiles(), before);
    for (auto r : {Part("mp/abort", id, 2, "more"),
                   server_->StoreExchange("DELETE", "/nimbra-backup/mp/abort?uploadId=" + id),
                   server_->StoreExchange("GET", "/nimbra-backup/mp/abort?uploadId=" + id),
                   Complete("mp/abort", id, CompleteBody({{1, "\"x\""}}))}) {
        EXPECT_EQ(r.status, 404);
        EXPECT_EQ(XmlFirst(r.body, "Code"), "NoSuchUpload");
    }
    // An upload id only works for its own key.
    std::string other = Initiate("mp/other");
    EXPECT_EQ(Part("mp/not-other", other, 1, "x").status, 404);
    for (const char* n : {"0", "10001", "x"}) {
        auto r = server_->StoreExchange(
            "PUT", "/nimbra-backup/mp/other?partNumber=" + std::string(n) + "&uploadId=" + other,
            "x");
        EXPECT_EQ(r.status, 400) << n;
        EXPECT_EQ(XmlFirst(r.body, "Code"), "InvalidArgument");
    }
    EXPECT_EQ(Part("mp/other", other, 10000, "x").status, 200);
    EXPECT_EQ(PartFiles(), before + 1);
}
