// Pieces of the development server and the command line that need no
// socket: signatures, CRC-64, request parsing, and the text the command line
// shows.
#include <gtest/gtest.h>

#include "Crc64.h"
#include "Signer.h"
#include "StoreServer.h"
#include "Xml.h"
#include "tests/support/TestData.h"
#include "tests/unit/UnitSupport.h"
#include "tools/nimbra/Format.h"
#include "tools/nimbra/Names.h"
#include "tools/nimbra/ProgressDisplay.h"

using namespace devserver;

namespace {

TEST(DevServer, SignaturesOfTheOfficialClient) {
    EXPECT_EQ(SignString("OtxrzxIsfpFjA7SwPzILwy8Bw21TLhquhboDYROV",
                         "PUT\neB5eJF1ptWaXm4bijSPyxw==\ntext/html\nWed, 28 Dec 2022 10:27:41 GMT\n"
                         "x-oss-meta-author:foo@example.com\nx-oss-meta-magic:abracadabra\n"
                         "/oss-example/nelson"),
              "5BVXsh0sZLdbvxjduw6BTb4d2g8=");
    // An upload part, rebuilt from the request's pieces.
    const std::string headers =
        CanonicalizedOssHeaders({{"X-OSS-Security-Token", " CAIS-test-token "},
                                 {"Content-Type", "application/octet-stream"},
                                 {"x-oss-date", "Sat, 05 Dec 2026 08:00:00 GMT"}});
    EXPECT_EQ(headers,
              "x-oss-date:Sat, 05 Dec 2026 08:00:00 GMT\nx-oss-security-token:CAIS-test-token\n");
    const std::string resource = CanonicalizedResource(
        "nimbra-backup", "big.bin", {{"uploadId", "0004B9895DBBB6EC98E36"}, {"partNumber", "3"}});
    EXPECT_EQ(resource, "/nimbra-backup/big.bin?partNumber=3&uploadId=0004B9895DBBB6EC98E36");
    EXPECT_EQ(SignString("sts-secret-1",
                         StringToSign("PUT", "", "application/octet-stream",
                                      "Sat, 05 Dec 2026 08:00:00 GMT", headers, resource)),
              "9bbcY9iCy6H1Im1pTJMcxHSfLrQ=");
    EXPECT_EQ(SignString("sts-secret-1",
                         "GET\n\n\nSat, 05 Dec 2026 08:00:00 GMT\n"
                         "x-oss-date:Sat, 05 Dec 2026 08:00:00 GMT\n"
                         "x-oss-security-token:CAIS-test-token\n/nimbra-backup/"),
              "w8iNyTqNeWTzzVxRnkBdv473/zM=");

    EXPECT_EQ(
        CanonicalizedResource("b", "", {{"prefix", "a/"}, {"marker", "m"}, {"max-keys", "5"}}),
        "/b/");
    EXPECT_EQ(CanonicalizedResource("b", "dir/a b",
                                    {{"response-content-type", "t/p"},
                                     {"acl", ""},
                                     {"part-number-marker", "2"},
                                     {"security-token", "T"}}),
              "/b/dir/a b?acl&response-content-type=t/p&security-token=T");
    EXPECT_EQ(CanonicalizedResource("", "", {}), "/");
    const unsigned char raw[] = {0x5e, 0xb6, 0x3b, 0xbb, 0xe0, 0x1e};
    EXPECT_EQ(Base64Encode(raw, sizeof raw), "XrY7u+Ae");
    EXPECT_EQ(Base64Decode("XrY7u+Ae"), std::string(reinterpret_cast<const char*>(raw), 6));
    EXPECT_EQ(Base64Decode("abc") + Base64Decode("a!!="), "");
}

TEST(DevServer, Crc64UpdateAndCombine) {
    EXPECT_EQ(Crc64Update(0, "123456789", 9), 0x995DC9BBDF1939FAULL);
    const std::string data = testdata::RandomBytes(70000, 8);
    const uint64_t whole = Crc64Update(0, data.data(), data.size());
    for (size_t cut : {0, 1, 7, 8, 9, 13, 4096, 69999, 70000}) {
        const uint64_t a = Crc64Update(0, data.data(), cut);
        const uint64_t b = Crc64Update(0, data.data() + cut, data.size() - cut);
        EXPECT_EQ(Crc64Update(a, data.data() + cut, data.size() - cut), whole) << cut;
        EXPECT_EQ(Crc64Combine(a, b, data.size() - cut), whole) << cut;
    }
}

TEST(DevServer, RequestParsing) {
    // Header, object size, the range served ("all": the whole object, "416": none).
    const struct {
        const char *header, *served;
        long long size;
    } ranges[] = {
        {"bytes=0-0", "0-0", 10},     {"bytes=8-100", "8-9", 10}, {"bytes=7-", "7-9", 10},
        {"bytes=-3", "7-9", 10},      {"bytes=-30", "0-9", 10},   {"bytes=10-", "416", 10},
        {"bytes=-0", "416", 10},      {"bytes=0-0", "416", 0},    {"bytes=5-2", "all", 10},
        {"bytes=1-2,4-5", "all", 10}, {"items=1-2", "all", 10},   {"", "all", 10}};
    for (const auto& c : ranges) {
        const ByteRange r = ParseRange(c.header, c.size);
        EXPECT_EQ(r.kind == ByteRange::kNone ? "all"
                  : r.kind == ByteRange::kUnsatisfiable
                      ? "416"
                      : std::to_string(r.first) + "-" + std::to_string(r.last),
                  c.served)
            << c.header << " of " << c.size;
    }

    const struct {
        const char *host, *path, *bucket, *key;
    } addresses[] = {{"127.0.0.1:19000", "/nimbra-backup/a/b.txt", "nimbra-backup", "a/b.txt"},
                     {"127.0.0.1", "/nimbra-backup", "nimbra-backup", ""},
                     {"LOCALHOST", "/bkt/k", "bkt", "k"},
                     {"[::1]:19000", "/bkt/k", "bkt", "k"},
                     {"nimbra-backup.oss-cn-hangzhou.aliyuncs.com", "/a/b", "nimbra-backup", "a/b"},
                     {"127.0.0.1", "/", "", ""}};
    for (const auto& c : addresses) {
        StoreAddress a;
        EXPECT_TRUE(ResolveAddress(c.host, c.path, a)) << c.host << c.path;
        EXPECT_EQ(a.bucket + "|" + a.key, std::string(c.bucket) + "|" + c.key) << c.host << c.path;
        EXPECT_EQ(a.object_level, *c.key != '\0');
    }
    StoreAddress bad;
    EXPECT_FALSE(ResolveAddress("127.0.0.1", "/Upper_Case/k", bad));

    std::string path;
    KeyValues query;
    ASSERT_TRUE(
        ParseTarget("/b/a%20b%2Bc+d%2F%25?uploadId=U%3D&partNumber=2&uploads&&x=", path, query));
    EXPECT_EQ(path, "/b/a b+c+d/%");
    EXPECT_EQ(query,
              (KeyValues{{"uploadId", "U="}, {"partNumber", "2"}, {"uploads", ""}, {"x", ""}}));
    EXPECT_FALSE(ParseTarget("/b/%zz", path, query) || ParseTarget("no-slash", path, query));
    EXPECT_EQ(PercentEncode("a b/\xc3\xbc", true) + PercentEncode("a/b", false),
              "a%20b/%C3%BCa%2Fb");

    std::vector<CompletePart> parts;
    ASSERT_TRUE(ParseCompleteMultipartUpload(
        "<?xml version=\"1.0\"?>\n<CompleteMultipartUpload><Part><PartNumber> 1 </PartNumber>"
        "<ETag>&quot;AB&quot;</ETag></Part><Part><ETag>\"CD\"</ETag><PartNumber>3</PartNumber>"
        "</Part></CompleteMultipartUpload>",
        parts));
    ASSERT_EQ(parts.size(), 2u);
    EXPECT_EQ(std::to_string(parts[0].part_number) + parts[0].etag +
                  std::to_string(parts[1].part_number) + parts[1].etag,
              "1\"AB\"3\"CD\"");
    for (const char* bad : {"", "<CompleteMultipartUpload/>",
                            "<CompleteMultipartUpload><Part><PartNumber>1</PartNumber></Part>"
                            "</CompleteMultipartUpload>",
                            "<CompleteMultipartUpload><Part><PartNumber>-1</PartNumber><ETag>a"
                            "</ETag></Part></CompleteMultipartUpload>"})
        EXPECT_FALSE(ParseCompleteMultipartUpload(bad, parts)) << bad;
    EXPECT_EQ(ErrorXml("NoSuchKey", "a<b>&\"c\"", "RID", "host", {{"Key", "k&"}}),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Error><Code>NoSuchKey</Code>"
              "<Message>a&lt;b&gt;&amp;&quot;c&quot;</Message><RequestId>RID</RequestId>"
              "<HostId>host</HostId><Key>k&amp;</Key></Error>");
}

TEST(CommandLine, SizesTimesAndNames) {
    using namespace cli;
    EXPECT_EQ(FormatBytes(1023) + "|" + FormatBytes(1024) + "|" + FormatBytes(1536) + "|" +
                  FormatBytes(64LL << 20) + "|" + FormatBytes(10485760000LL),
              "1023 B|1.0 KiB|1.5 KiB|64.0 MiB|9.8 GiB");
    EXPECT_EQ(FormatRate(2.5 * 1024 * 1024), "2.5 MiB/s");
    EXPECT_EQ(FormatDuration(5.4) + "|" + FormatDuration(754) + "|" + FormatDuration(3723) + "|" +
                  FormatDuration(-1),
              "0:05|12:34|1:02:03|--:--");
    {
        // The library reads the store's UTC fields as local standard time;
        // turned back they give the instant, in summer time too.
        unit::TimeZoneGuard zone("CET-1CEST,M3.5.0,M10.5.0/3");
        for (int month : {1, 7}) {
            struct tm fields = {};
            fields.tm_year = 2024 - 1900;
            fields.tm_mon = month - 1;
            fields.tm_mday = 15;
            fields.tm_hour = 8;
            EXPECT_EQ(ListingTimeToEpoch(mktime(&fields)), unit::Utc(2024, month, 15, 8)) << month;
        }
        EXPECT_EQ(FormatIsoLocal(1720000000), "2024-07-03T11:46:40+02:00");
    }

    EXPECT_EQ(KeyProblem("alice/default/a.bin"), "");
    for (const std::string& bad : {std::string(), std::string("/alice/a"), std::string("alice/"),
                                   std::string("a\nb"), std::string(1024, 'k')})
        EXPECT_NE(KeyProblem(bad), "") << bad;
    std::string folder, name, split;
    for (const char* key : {"a/b/c.txt", "top.txt", "a//b"}) {
        SplitKey(key, folder, name);
        split += folder + "|" + name + " ";
    }
    EXPECT_EQ(split, "a/b/|c.txt /|top.txt a//|b ");
    EXPECT_EQ(FolderPrefix("") + FolderPrefix("//") + FolderPrefix("alice") + FolderPrefix("/a/x/"),
              "//alice/a/x/");
    EXPECT_EQ(QueryEscape("Alice-1.2_3~ ann&page=2#\xc3\xa9/%"),
              "Alice-1.2_3~%20ann%26page%3D2%23%C3%A9%2F%25");
    EXPECT_EQ(NameProblem("user name", std::string(254, 'b'), 254), "");
    EXPECT_NE(NameProblem("user name", std::string(255, 'b'), 254), "");
}

TEST(CommandLine, ProgressLines) {
    cli::ProgressSnapshot s;
    s.verb = "upload";
    s.bytes = 32LL << 20;
    s.total = 64LL << 20;
    s.rate = 16.0 * (1 << 20);
    EXPECT_EQ(ProgressPlainLine(s), "upload: 50% (32.0 MiB of 64.0 MiB, 16.0 MiB/s, 0:02 left)");
    const std::string bar = ProgressBarLine(s, 100);
    EXPECT_LE(bar.size(), 99u);
    EXPECT_NE(bar.find("[####################....................]  50%  32.0 MiB/64.0 MiB  "
                       "16.0 MiB/s  0:02 left"),
              bar.npos)
        << bar;
    const std::string narrow = ProgressBarLine(s, 40);  // no room for the bar, the numbers stay
    EXPECT_TRUE(narrow.find('[') == narrow.npos && narrow.find("50%") != narrow.npos) << narrow;
    s.paused = s.keys = true;
    EXPECT_NE(ProgressBarLine(s, 100).find("paused, r resumes"), std::string::npos);
    EXPECT_EQ(ProgressBarLine(s, 100).find("MiB/s"), std::string::npos);
    cli::ProgressSnapshot empty;
    empty.verb = "download";
    EXPECT_EQ(ProgressPlainLine(empty), "download: 100% (0 B of 0 B, 0 B/s, done)");
}

}  // namespace
