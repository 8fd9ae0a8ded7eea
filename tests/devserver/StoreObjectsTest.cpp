// Single-object operations over real sockets: put/get/head/delete/copy,
// addressing styles, key encoding, ranges, digests.
#include <dirent.h>
#include <gtest/gtest.h>

#include <memory>

#include "tests/devserver/StoreTestUtil.h"
#include "tests/support/DevServer.h"
#include "tests/support/SharedDevServerTest.h"
#include "tools/devserver/Signer.h"

using namespace storetest;

namespace {

class StoreObjects : public SharedDevServerTest {
protected:
    static std::string Obj(const std::string& key) { return "/nimbra-backup/" + UrlEncode(key); }
};

size_t CountFiles(const std::string& dir) {
    size_t n = 0;
    if (DIR* d = opendir(dir.c_str())) {
        while (struct dirent* e = readdir(d))
            if (e->d_name[0] != '.') ++n;
        closedir(d);
    }
    return n;
}

}  // namespace

TEST_F(StoreObjects, PutGetHeadRoundTripWithDigests) {
    std::string data = RandomBytes(300000, 1);
    auto put = server_->StoreExchange("PUT", Obj("round/trip.bin"), data);
    ASSERT_EQ(put.status, 200) << put.body;
    EXPECT_EQ(put.header("etag"), QuotedMd5(data));
    EXPECT_EQ(put.header("x-oss-hash-crc64ecma"), std::to_string(ReferenceCrc64(data)));
    EXPECT_EQ(put.header("x-oss-request-id").size(), 24u);

    auto get = server_->StoreExchange("GET", Obj("round/trip.bin"));
    ASSERT_EQ(get.status, 200);
    EXPECT_TRUE(get.body == data);
    EXPECT_EQ(get.header("etag"), QuotedMd5(data));
    EXPECT_EQ(get.header("x-oss-hash-crc64ecma"), std::to_string(ReferenceCrc64(data)));
    EXPECT_EQ(get.header("content-type"), "application/octet-stream");

    auto head = server_->StoreExchange("HEAD", Obj("round/trip.bin"));
    ASSERT_EQ(head.status, 200);
    EXPECT_EQ(head.header("content-length"), "300000");
    EXPECT_EQ(head.header("etag"), QuotedMd5(data));
    EXPECT_EQ(head.header("x-oss-hash-crc64ecma"), std::to_string(ReferenceCrc64(data)));
    EXPECT_NE(head.header("last-modified").find(" GMT"), std::string::npos);
    EXPECT_TRUE(head.body.empty());

    // The metadata request of the C SDK: HEAD with ?objectMeta.
    auto meta = server_->StoreExchange("HEAD", Obj("round/trip.bin") + "?objectMeta");
    ASSERT_EQ(meta.status, 200);
    EXPECT_EQ(meta.header("content-length"), "300000");
}

TEST_F(StoreObjects, EmptyObjectAndContentTypeAndUserMetadata) {
    auto put = server_->StoreExchange(
        "PUT", Obj("empty"), "", {{"Content-Type", "text/plain"}, {"x-oss-meta-owner", "ann"}});
    ASSERT_EQ(put.status, 200) << put.body;
    EXPECT_EQ(put.header("x-oss-hash-crc64ecma"), "0");
    auto head = server_->StoreExchange("HEAD", Obj("empty"));
    EXPECT_EQ(head.header("content-length"), "0");
    EXPECT_EQ(head.header("content-type"), "text/plain");
    EXPECT_EQ(head.header("x-oss-meta-owner"), "ann");
    auto get = server_->StoreExchange("GET", Obj("empty"));
    EXPECT_EQ(get.status, 200);
    EXPECT_EQ(get.body, "");
}

TEST_F(StoreObjects, KeysArePercentDecodedAndKeptByteExact) {
    const std::string key = "dir one/sp ace+plus%25 \xc3\xbc?&=.bin";
    auto put = server_->StoreExchange("PUT", Obj(key), "odd key");
    ASSERT_EQ(put.status, 200) << put.body;
    auto list =
        server_->StoreExchange("GET", "/nimbra-backup/?prefix=" + UrlEncode("dir one/", false));
    ASSERT_EQ(list.status, 200);
    EXPECT_EQ(XmlText(XmlFirst(list.body, "Key")), key);
    EXPECT_EQ(server_->StoreExchange("GET", Obj(key)).body, "odd key");
}

TEST_F(StoreObjects, VirtualHostedAndPathStyleAddressTheSameObject) {
    auto put = server_->StoreExchange("PUT", "/vhost/key.txt", "virtual",
                                      {{"Host", "nimbra-backup.oss.example.com"}});
    ASSERT_EQ(put.status, 200) << put.body;
    EXPECT_EQ(server_->StoreExchange("GET", Obj("vhost/key.txt")).body, "virtual");
    // localhost (with a port) is path-style.
    auto local =
        server_->StoreExchange("GET", Obj("vhost/key.txt"), "",
                               {{"Host", "localhost:" + std::to_string(server_->store_port())}});
    EXPECT_EQ(local.status, 200);
    EXPECT_EQ(local.body, "virtual");
    // Virtual-hosted bucket listing: path "/".
    auto list = server_->StoreExchange("GET", "/?prefix=vhost/", "",
                                       {{"Host", "nimbra-backup.oss.example.com:80"}});
    ASSERT_EQ(list.status, 200) << list.body;
    EXPECT_EQ(XmlFirst(list.body, "Key"), "vhost/key.txt");
}

TEST_F(StoreObjects, RangeEdges) {
    std::string data = RandomBytes(100, 2);
    ASSERT_EQ(server_->StoreExchange("PUT", Obj("range.bin"), data).status, 200);
    struct Case {
        const char* range;
        int status;
        std::string body;
        const char* content_range;
    } cases[] = {
        {"bytes=0-0", 206, data.substr(0, 1), "bytes 0-0/100"},
        {"bytes=10-19", 206, data.substr(10, 10), "bytes 10-19/100"},
        {"bytes=90-200", 206, data.substr(90), "bytes 90-99/100"},
        {"bytes=99-99", 206, data.substr(99), "bytes 99-99/100"},
        {"bytes=95-", 206, data.substr(95), "bytes 95-99/100"},
        {"bytes=-10", 206, data.substr(90), "bytes 90-99/100"},
        {"bytes=-500", 206, data, "bytes 0-99/100"},
        {"bytes=0-", 206, data, "bytes 0-99/100"},
        {"bytes=0-1,5-6", 200, data, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.range);
        auto r = server_->StoreExchange("GET", Obj("range.bin"), "", {{"Range", c.range}});
        EXPECT_EQ(r.status, c.status);
        EXPECT_TRUE(r.body == c.body);
        EXPECT_EQ(r.header("content-range"), c.content_range);
        // The checksum describes the whole object, so it is only sent with it.
        EXPECT_EQ(r.header("x-oss-hash-crc64ecma").empty(), c.status == 206);
    }
    for (const char* bad : {"bytes=100-100", "bytes=100-", "bytes=5000-6000", "bytes=-0"}) {
        SCOPED_TRACE(bad);
        auto r = server_->StoreExchange("GET", Obj("range.bin"), "", {{"Range", bad}});
        EXPECT_EQ(r.status, 416);
        EXPECT_EQ(XmlFirst(r.body, "Code"), "InvalidRange");
        EXPECT_EQ(r.header("content-range"), "bytes */100");
    }
}

TEST_F(StoreObjects, RangesOfALargeObjectStreamExactly) {
    const size_t mib = 1 << 20;
    std::string data = RandomBytes(5 * mib + 123, 3);
    ASSERT_EQ(server_->StoreExchange("PUT", Obj("large.bin"), data).status, 200);
    for (size_t start = 0; start < data.size(); start += mib) {
        size_t end = std::min(start + mib, data.size()) - 1;
        auto r = server_->StoreExchange(
            "GET", Obj("large.bin"), "",
            {{"Range", "bytes=" + std::to_string(start) + "-" + std::to_string(end)}});
        ASSERT_EQ(r.status, 206);
        ASSERT_TRUE(r.body == data.substr(start, end - start + 1)) << "chunk at " << start;
    }
}

TEST_F(StoreObjects, MissingKeyErrorsCarryTheRequestId) {
    auto get = server_->StoreExchange("GET", Obj("no/such/key"));
    EXPECT_EQ(get.status, 404);
    EXPECT_EQ(XmlFirst(get.body, "Code"), "NoSuchKey");
    EXPECT_EQ(XmlFirst(get.body, "RequestId"), get.header("x-oss-request-id"));
    EXPECT_EQ(get.body.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>", 0), 0u);
    EXPECT_FALSE(XmlFirst(get.body, "HostId").empty());
    EXPECT_EQ(get.header("content-type"), "application/xml");

    auto head = server_->StoreExchange("HEAD", Obj("no/such/key"));
    EXPECT_EQ(head.status, 404);
    EXPECT_TRUE(head.body.empty());
    EXPECT_FALSE(head.header("x-oss-request-id").empty());
    // The error document of a HEAD travels base64-encoded in x-oss-err.
    std::string err = devserver::Base64Decode(head.header("x-oss-err"));
    EXPECT_EQ(XmlFirst(err, "Code"), "NoSuchKey");
    EXPECT_EQ(XmlFirst(err, "RequestId"), head.header("x-oss-request-id"));

    // Also answers that the HTTP layer makes itself (a malformed Range).
    auto odd = server_->StoreExchange("GET", Obj("no/such/key"), "", {{"Range", "bytes=5-2"}});
    EXPECT_NE(odd.status, 0);
    EXPECT_EQ(odd.header("x-oss-request-id").size(), 24u);
}

TEST_F(StoreObjects, DeleteIsIdempotentAndReleasesTheFile) {
    size_t before = CountFiles(server_->data_dir() + "/objects");
    ASSERT_EQ(server_->StoreExchange("PUT", Obj("gone"), "x").status, 200);
    EXPECT_EQ(CountFiles(server_->data_dir() + "/objects"), before + 1);
    EXPECT_EQ(server_->StoreExchange("DELETE", Obj("gone")).status, 204);
    EXPECT_EQ(server_->StoreExchange("GET", Obj("gone")).status, 404);
    EXPECT_EQ(server_->StoreExchange("DELETE", Obj("gone")).status, 204);
    EXPECT_EQ(server_->StoreExchange("DELETE", Obj("never-existed")).status, 204);
    EXPECT_EQ(CountFiles(server_->data_dir() + "/objects"), before);
}

TEST_F(StoreObjects, OverwriteReplacesContentAndFreesTheOldFile) {
    size_t before = CountFiles(server_->data_dir() + "/objects");
    ASSERT_EQ(server_->StoreExchange("PUT", Obj("over"), "first").status, 200);
    ASSERT_EQ(server_->StoreExchange("PUT", Obj("over"), "second!").status, 200);
    EXPECT_EQ(server_->StoreExchange("GET", Obj("over")).body, "second!");
    EXPECT_EQ(CountFiles(server_->data_dir() + "/objects"), before + 1);
    // x-oss-forbid-overwrite protects an existing object.
    auto r =
        server_->StoreExchange("PUT", Obj("over"), "third", {{"x-oss-forbid-overwrite", "true"}});
    EXPECT_EQ(r.status, 409);
    EXPECT_EQ(XmlFirst(r.body, "Code"), "FileAlreadyExists");
    EXPECT_EQ(server_->StoreExchange("GET", Obj("over")).body, "second!");
}

TEST_F(StoreObjects, ContentMd5IsVerified) {
    // base64(md5("hello")) = XUFAKrxLKna5cZ2REBfFkg==
    auto ok = server_->StoreExchange("PUT", Obj("md5"), "hello",
                                     {{"Content-MD5", "XUFAKrxLKna5cZ2REBfFkg=="}});
    EXPECT_EQ(ok.status, 200) << ok.body;
    auto bad = server_->StoreExchange("PUT", Obj("md5-bad"), "hellO",
                                      {{"Content-MD5", "XUFAKrxLKna5cZ2REBfFkg=="}});
    EXPECT_EQ(bad.status, 400);
    EXPECT_EQ(XmlFirst(bad.body, "Code"), "BadDigest");
    EXPECT_EQ(server_->StoreExchange("HEAD", Obj("md5-bad")).status, 404);
    auto invalid = server_->StoreExchange("PUT", Obj("md5-bad"), "x", {{"Content-MD5", "nope"}});
    EXPECT_EQ(XmlFirst(invalid.body, "Code"), "InvalidDigest");
}

TEST_F(StoreObjects, CopyObjectCopiesBytesAndMetadata) {
    std::string data = RandomBytes(4096, 4);
    const std::string src = "copy/src file+1.bin";
    ASSERT_EQ(server_->StoreExchange("PUT", Obj(src), data, {{"Content-Type", "image/png"}}).status,
              200);
    auto copy =
        server_->StoreExchange("PUT", Obj("copy/dst.bin"), "",
                               {{"x-oss-copy-source", "/nimbra-backup/" + UrlEncode(src, false)}});
    ASSERT_EQ(copy.status, 200) << copy.body;
    EXPECT_EQ(XmlText(XmlFirst(copy.body, "ETag")), QuotedMd5(data));
    EXPECT_NE(XmlFirst(copy.body, "LastModified").find(".000Z"), std::string::npos);
    // The copy outlives its source.
    ASSERT_EQ(server_->StoreExchange("DELETE", Obj(src)).status, 204);
    auto get = server_->StoreExchange("GET", Obj("copy/dst.bin"));
    EXPECT_TRUE(get.body == data);
    EXPECT_EQ(get.header("content-type"), "image/png");
    EXPECT_EQ(get.header("x-oss-hash-crc64ecma"), std::to_string(ReferenceCrc64(data)));

    auto missing = server_->StoreExchange("PUT", Obj("copy/none"), "",
                                          {{"x-oss-copy-source", "/nimbra-backup/copy/absent"}});
    EXPECT_EQ(missing.status, 404);
    EXPECT_EQ(XmlFirst(missing.body, "Code"), "NoSuchKey");
    auto malformed = server_->StoreExchange("PUT", Obj("copy/none"), "",
                                            {{"x-oss-copy-source", "nimbra-backup"}});
    EXPECT_EQ(malformed.status, 400);
}

TEST_F(StoreObjects, UnknownBucketsAndOperations) {
    DevServerOptions o;
    o.allow_anonymous = true;
    DevServer anon(o);
    auto r = anon.StoreExchange("GET", "/other-bucket/key", "", {{"Authorization", ""}});
    EXPECT_EQ(r.status, 404);
    EXPECT_EQ(XmlFirst(r.body, "Code"), "NoSuchBucket");
    EXPECT_EQ(anon.StoreExchange("PUT", "/other-bucket", "", {{"Authorization", ""}}).status, 200);
    EXPECT_EQ(anon.StoreExchange("PUT", "/other-bucket/key", "v", {{"Authorization", ""}}).status,
              200);
    EXPECT_EQ(anon.StoreExchange("GET", "/other-bucket/key", "", {{"Authorization", ""}}).body,
              "v");

    auto acl = server_->StoreExchange("GET", Obj("x") + "?acl");
    EXPECT_EQ(acl.status, 501);
    EXPECT_EQ(XmlFirst(acl.body, "Code"), "NotImplemented");
    auto bad_name = server_->StoreExchange("GET", "/Bad_Bucket/key");
    EXPECT_EQ(bad_name.status, 400);
    EXPECT_EQ(XmlFirst(bad_name.body, "Code"), "InvalidBucketName");
}
