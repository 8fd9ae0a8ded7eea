// Pieces of the development server and the command line that need no
// socket: the server's request parsing and error document, and the text the
// command line shows. The server's signatures and checksums are checked over
// sockets by the store tier.
#include <gtest/gtest.h>

#include "Signer.h"
#include "StoreServer.h"
#include "Xml.h"
#include "tests/unit/UnitSupport.h"
#include "tools/nimbra/Format.h"
#include "tools/nimbra/Names.h"
#include "tools/nimbra/ProgressDisplay.h"

using namespace devserver;

namespace {

TEST(DevServer, RequestParsing) {
    EXPECT_EQ(CanonicalizedResource("b", "", {{"prefix", "a/"}, {"marker", "m"}}) + " " +
                  CanonicalizedResource("b", "dir/a b",
                                        {{"response-content-type", "t/p"},
                                         {"acl", ""},
                                         {"part-number-marker", "2"},
                                         {"security-token", "T"}}),
              "/b/ /b/dir/a b?acl&response-content-type=t/p&security-token=T");

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

    std::string resolved;
    for (const auto& c :
         {std::make_pair("127.0.0.1:19000", "/nimbra-backup/a/b.txt"),
          std::make_pair("LOCALHOST", "/bkt"), std::make_pair("[::1]:1", "/bkt/k"),
          std::make_pair("nimbra-backup.oss.example.com", "/a/b"), std::make_pair("127.0.0.1", "/"),
          std::make_pair("127.0.0.1", "/Up_per/k")}) {
        StoreAddress a;
        resolved += ResolveAddress(c.first, c.second, a)
                        ? a.bucket + "|" + a.key + "|" + std::to_string(a.object_level) + " "
                        : "refused ";
    }
    EXPECT_EQ(resolved, "nimbra-backup|a/b.txt|1 bkt||0 bkt|k|1 nimbra-backup|a/b|1 ||0 refused ");

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
    for (const char* bad : {"",
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

TEST(CommandLine, SizesTimesNamesAndProgress) {
    using namespace cli;
    EXPECT_EQ(FormatBytes(1023) + "|" + FormatBytes(1024) + "|" + FormatBytes(1536) + "|" +
                  FormatBytes(10485760000LL) + "|" + FormatRate(2.5 * 1024 * 1024),
              "1023 B|1.0 KiB|1.5 KiB|9.8 GiB|2.5 MiB/s");
    EXPECT_EQ(FormatDuration(5.4) + "|" + FormatDuration(754) + "|" + FormatDuration(3723) + "|" +
                  FormatDuration(-1),
              "0:05|12:34|1:02:03|--:--");
    {
        // The library reads the store's UTC fields as local standard time;
        // turned back they give the instant, in summer time too.
        unit::TimeZoneGuard zone("CET-1CEST,M3.5.0,M10.5.0/3");
        for (int month : {1, 7}) {
            struct tm fields = unit::Fields(2024, month, 15, 8);
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

    ProgressSnapshot s;
    s.verb = "upload";
    s.bytes = 32LL << 20;
    s.total = 64LL << 20;
    s.rate = 16.0 * (1 << 20);
    EXPECT_EQ(ProgressPlainLine(s), "upload: 50% (32.0 MiB of 64.0 MiB, 16.0 MiB/s, 0:02 left)");
    const std::string bar = ProgressBarLine(s, 100), narrow = ProgressBarLine(s, 40);
    EXPECT_LE(bar.size(), 99u);
    EXPECT_NE(bar.find("[####################....................]  50%  32.0 MiB/64.0 MiB  "
                       "16.0 MiB/s  0:02 left"),
              bar.npos)
        << bar;
    // No room for the bar: the numbers stay.
    EXPECT_TRUE(narrow.find('[') == narrow.npos && narrow.find("50%") != narrow.npos) << narrow;
    s.paused = s.keys = true;
    const std::string paused = ProgressBarLine(s, 100);
    EXPECT_TRUE(paused.find("paused, r resumes") != paused.npos &&
                paused.find("MiB/s") == paused.npos);
    ProgressSnapshot empty;
    empty.verb = "download";
    EXPECT_EQ(ProgressPlainLine(empty), "download: 100% (0 B of 0 B, 0 B/s, done)");
}

}  // namespace
