// Request parsing and decisions that need no socket: ranges, addressing,
// targets, the completion document, fault matching, stats document.
#include <gtest/gtest.h>

#include "Faults.h"
#include "Stats.h"
#include "StoreServer.h"
#include "Xml.h"

using namespace devserver;

TEST(ParseRange, InclusiveSuffixOpenAndUnsatisfiable) {
    struct Case {
        const char* header;
        long long size;
        ByteRange::Kind kind;
        long long first, last;
    } cases[] = {
        {"bytes=0-0", 10, ByteRange::kPartial, 0, 0},
        {"bytes=2-5", 10, ByteRange::kPartial, 2, 5},
        {"bytes=8-100", 10, ByteRange::kPartial, 8, 9},
        {"bytes=7-", 10, ByteRange::kPartial, 7, 9},
        {"bytes=-3", 10, ByteRange::kPartial, 7, 9},
        {"bytes=-30", 10, ByteRange::kPartial, 0, 9},
        {"bytes=10-", 10, ByteRange::kUnsatisfiable, 0, 0},
        {"bytes=10-12", 10, ByteRange::kUnsatisfiable, 0, 0},
        {"bytes=-0", 10, ByteRange::kUnsatisfiable, 0, 0},
        {"bytes=0-0", 0, ByteRange::kUnsatisfiable, 0, 0},
        {"bytes=5-2", 10, ByteRange::kNone, 0, 0},
        {"bytes=1-2,4-5", 10, ByteRange::kNone, 0, 0},
        {"items=1-2", 10, ByteRange::kNone, 0, 0},
        {"bytes=a-b", 10, ByteRange::kNone, 0, 0},
        {"", 10, ByteRange::kNone, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.header);
        ByteRange r = ParseRange(c.header, c.size);
        EXPECT_EQ(r.kind, c.kind);
        if (c.kind == ByteRange::kPartial) {
            EXPECT_EQ(r.first, c.first);
            EXPECT_EQ(r.last, c.last);
        }
    }
}

TEST(ResolveAddress, HostDecidesBetweenPathAndVirtualHostedStyle) {
    struct Case {
        const char* host;
        const char* path;
        const char* bucket;
        const char* key;
    } cases[] = {
        {"127.0.0.1:19000", "/nimbra-backup/a/b.txt", "nimbra-backup", "a/b.txt"},
        {"127.0.0.1", "/nimbra-backup/", "nimbra-backup", ""},
        {"127.0.0.1", "/nimbra-backup", "nimbra-backup", ""},
        {"localhost:8080", "/bkt/k", "bkt", "k"},
        {"LOCALHOST", "/bkt/k", "bkt", "k"},
        {"[::1]:19000", "/bkt/k", "bkt", "k"},
        {"nimbra-backup.oss-cn-hangzhou.aliyuncs.com", "/a/b.txt", "nimbra-backup", "a/b.txt"},
        {"bkt.localhost:19000", "/", "bkt", ""},
        {"127.0.0.1", "/", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.host) + c.path);
        StoreAddress a;
        EXPECT_TRUE(ResolveAddress(c.host, c.path, a));
        EXPECT_EQ(a.bucket, c.bucket);
        EXPECT_EQ(a.key, c.key);
        EXPECT_EQ(a.object_level, *c.key != '\0');
    }
    StoreAddress bad;
    EXPECT_FALSE(ResolveAddress("127.0.0.1", "/Upper_Case/k", bad));
    EXPECT_FALSE(ResolveAddress("127.0.0.1", "/ab/k", bad));
}

TEST(ParseTarget, DecodesPathAndQueryKeepingOrderAndPlus) {
    std::string path;
    KeyValues q;
    ASSERT_TRUE(
        ParseTarget("/b/a%20b%2Bc+d%2F%25?uploadId=U%3D&partNumber=2&uploads&&x=", path, q));
    EXPECT_EQ(path, "/b/a b+c+d/%");
    ASSERT_EQ(q.size(), 4u);
    EXPECT_EQ(q[0], (std::pair<std::string, std::string>{"uploadId", "U="}));
    EXPECT_EQ(q[1], (std::pair<std::string, std::string>{"partNumber", "2"}));
    EXPECT_EQ(q[2], (std::pair<std::string, std::string>{"uploads", ""}));
    EXPECT_EQ(q[3], (std::pair<std::string, std::string>{"x", ""}));
    EXPECT_FALSE(ParseTarget("/b/%zz", path, q));
    EXPECT_FALSE(ParseTarget("/b/%2", path, q));
    EXPECT_FALSE(ParseTarget("no-slash", path, q));
    EXPECT_EQ(PercentEncode("a b/ü", true), "a%20b/%C3%BC");
    EXPECT_EQ(PercentEncode("a/b", false), "a%2Fb");
}

TEST(CompleteMultipartXml, ParsesPartsAndRejectsAnythingElse) {
    std::vector<CompletePart> parts;
    ASSERT_TRUE(ParseCompleteMultipartUpload(
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<CompleteMultipartUpload>\n"
        "  <Part><PartNumber> 1 </PartNumber><ETag>&quot;AB&quot;</ETag></Part>\n"
        "  <Part><ETag>\"CD\"</ETag><PartNumber>3</PartNumber></Part>\n"
        "</CompleteMultipartUpload>",
        parts));
    ASSERT_EQ(parts.size(), 2u);
    EXPECT_EQ(parts[0].part_number, 1);
    EXPECT_EQ(parts[0].etag, "\"AB\"");
    EXPECT_EQ(parts[1].part_number, 3);
    EXPECT_EQ(parts[1].etag, "\"CD\"");
    for (const char* bad :
         {"", "garbage", "<CompleteMultipartUpload/>",
          "<CompleteMultipartUpload><Part><PartNumber>1</PartNumber></Part></"
          "CompleteMultipartUpload>",
          "<CompleteMultipartUpload><Part><PartNumber>-1</PartNumber><ETag>a</ETag></Part>"
          "</CompleteMultipartUpload>",
          "<CompleteMultipartUpload><Other/></CompleteMultipartUpload>",
          "<CompleteMultipartUpload><Part><PartNumber>1</PartNumber><ETag>a</ETag>"}) {
        EXPECT_FALSE(ParseCompleteMultipartUpload(bad, parts)) << bad;
    }
}

TEST(Xml, ErrorDocumentEscapesText) {
    std::string doc = ErrorXml("NoSuchKey", "a<b>&\"c\"", "RID", "host", {{"Key", "k&"}});
    EXPECT_EQ(doc,
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Error><Code>NoSuchKey</Code>"
              "<Message>a&lt;b&gt;&amp;&quot;c&quot;</Message><RequestId>RID</RequestId>"
              "<HostId>host</HostId><Key>k&amp;</Key></Error>");
}

TEST(FaultBook, RulesMatchAndConsumeTheirCount) {
    FaultBook book;
    std::string err;
    ASSERT_TRUE(book.AddRule(R"({"method":"PUT","subresource":"partNumber","count":2,
                                 "status":500,"code":"InternalError","message":"m"})",
                             err))
        << err;
    ASSERT_TRUE(book.AddRule(R"({"action":"delay","delay_ms":5,"count":-1})", err)) << err;
    std::set<std::string> part = {"partNumber", "uploadId"};
    EXPECT_FALSE(book.Match("GET", part, "k").error);
    EXPECT_EQ(book.Match("GET", part, "k").delay_ms, 5);
    FaultDecision d = book.Match("PUT", part, "k");
    EXPECT_TRUE(d.error);
    EXPECT_EQ(d.status, 500);
    EXPECT_EQ(d.delay_ms, 5);
    EXPECT_FALSE(book.Match("PUT", {}, "k").error);
    EXPECT_TRUE(book.Match("PUT", part, "k").error);
    EXPECT_FALSE(book.Match("PUT", part, "k").error);     // used up
    EXPECT_EQ(book.Match("PUT", part, "k").delay_ms, 5);  // forever

    ASSERT_TRUE(
        book.AddRule(R"({"subresource":"none","action":"close","close_after_bytes":3})", err));
    EXPECT_EQ(book.Match("GET", {"uploads"}, "k").close_after_bytes, -1);
    EXPECT_EQ(book.Match("GET", {}, "k").close_after_bytes, 3);
    book.Reset();
    EXPECT_EQ(book.Match("PUT", part, "k").delay_ms, 0);

    ApiScript s;
    ASSERT_TRUE(
        book.AddApiScript(R"({"path":"/getStsKey","status":503,"body":"x","count":1})", err));
    EXPECT_FALSE(book.TakeApiScript("/getUser", s));
    ASSERT_TRUE(book.TakeApiScript("/getStsKey", s));
    EXPECT_EQ(s.status, 503);
    EXPECT_FALSE(book.TakeApiScript("/getStsKey", s));
}

TEST(Stats, DocumentCountsConnectionsAndOperations) {
    Stats stats;
    stats.CountConnection();
    stats.CountRequest("GetObject");
    stats.CountRequest("GetObject");
    stats.CountRequest("PutObject");
    EXPECT_EQ(stats.Json(),
              "{\"connections_accepted\":1,\"requests\":{\"GetObject\":2,\"PutObject\":1}}");
    stats.Reset();
    EXPECT_EQ(stats.Json(), "{\"connections_accepted\":0,\"requests\":{}}");
}
