// The command line's text helpers: sizes, durations, listing times, names
// and the progress lines.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "tools/nimbra/Format.h"
#include "tools/nimbra/Names.h"
#include "tools/nimbra/ProgressDisplay.h"

namespace {

using namespace cli;

TEST(CliFormatTest, SizesAndDurations) {
    EXPECT_EQ(FormatBytes(0), "0 B");
    EXPECT_EQ(FormatBytes(1023), "1023 B");
    EXPECT_EQ(FormatBytes(1024), "1.0 KiB");
    EXPECT_EQ(FormatBytes(1536), "1.5 KiB");
    EXPECT_EQ(FormatBytes(64LL << 20), "64.0 MiB");
    EXPECT_EQ(FormatBytes(10485760000LL), "9.8 GiB");
    EXPECT_EQ(FormatRate(2.5 * 1024 * 1024), "2.5 MiB/s");
    EXPECT_EQ(FormatDuration(0), "0:00");
    EXPECT_EQ(FormatDuration(5.4), "0:05");
    EXPECT_EQ(FormatDuration(754), "12:34");
    EXPECT_EQ(FormatDuration(3723), "1:02:03");
    EXPECT_EQ(FormatDuration(-1), "--:--");
}

// The library reads the store's UTC fields as local standard time; the
// conversion back must give the instant, also in summer time.
TEST(CliFormatTest, ListingTimesBecomeInstants) {
    const char* old = std::getenv("TZ");
    const std::string saved = old ? old : "";
    setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
    tzset();
    for (int month : {0, 6}) {  // January and July
        tm fields{};
        fields.tm_year = 2024 - 1900;
        fields.tm_mon = month;
        fields.tm_mday = 15;
        fields.tm_hour = 8;
        fields.tm_min = 20;
        fields.tm_sec = 31;
        tm utc = fields;
        const time_t instant = timegm(&utc);
        fields.tm_isdst = 0;
        const time_t listing = mktime(&fields);
        EXPECT_EQ(ListingTimeToEpoch(listing), instant) << "month " << month;
    }
    EXPECT_EQ(FormatIsoLocal(1720000000), "2024-07-03T11:46:40+02:00");
    if (old) {
        setenv("TZ", saved.c_str(), 1);
    } else {
        unsetenv("TZ");
    }
    tzset();
}

TEST(CliNamesTest, KeysPrefixesAndQueryValues) {
    EXPECT_EQ(KeyProblem("alice/default/a.bin"), "");
    EXPECT_NE(KeyProblem(""), "");
    EXPECT_NE(KeyProblem("/alice/a"), "");
    EXPECT_NE(KeyProblem("alice/"), "");
    EXPECT_NE(KeyProblem("a\nb"), "");
    EXPECT_NE(KeyProblem(std::string(1024, 'k')), "");

    std::string folder, name;
    SplitKey("a/b/c.txt", folder, name);
    EXPECT_EQ(folder + "|" + name, "a/b/|c.txt");
    SplitKey("top.txt", folder, name);
    EXPECT_EQ(folder + "|" + name, "/|top.txt");
    SplitKey("a//b", folder, name);
    EXPECT_EQ(folder + "|" + name, "a//|b");

    EXPECT_EQ(FolderPrefix(""), "/");
    EXPECT_EQ(FolderPrefix("/"), "/");
    EXPECT_EQ(FolderPrefix("//"), "/");
    EXPECT_EQ(FolderPrefix("alice"), "alice/");
    EXPECT_EQ(FolderPrefix("/alice/x/"), "alice/x/");

    EXPECT_EQ(QueryEscape("Alice-1.2_3~"), "Alice-1.2_3~");
    EXPECT_EQ(QueryEscape("ann smith&page=2#"), "ann%20smith%26page%3D2%23");
    EXPECT_EQ(QueryEscape("\xc3\xa9/%"), "%C3%A9%2F%25");

    EXPECT_EQ(NameProblem("user name", "bob", 254), "");
    EXPECT_EQ(NameProblem("user name", std::string(254, 'b'), 254), "");
    EXPECT_NE(NameProblem("user name", std::string(255, 'b'), 254), "");
}

TEST(CliProgressTest, LinesShowPercentBytesRateAndTimeLeft) {
    ProgressSnapshot s;
    s.verb = "upload";
    s.bytes = 32LL << 20;
    s.total = 64LL << 20;
    s.rate = 16.0 * (1 << 20);
    EXPECT_EQ(ProgressPlainLine(s), "upload: 50% (32.0 MiB of 64.0 MiB, 16.0 MiB/s, 0:02 left)");

    const std::string bar = ProgressBarLine(s, 100);
    EXPECT_LE(bar.size(), 99u);
    EXPECT_NE(bar.find("[####################....................]"), std::string::npos) << bar;
    EXPECT_NE(bar.find(" 50%  32.0 MiB/64.0 MiB  16.0 MiB/s  0:02 left"), std::string::npos) << bar;
    // Narrow terminals drop the bar, never the numbers.
    const std::string narrow = ProgressBarLine(s, 40);
    EXPECT_EQ(narrow.find('['), std::string::npos);
    EXPECT_NE(narrow.find("50%"), std::string::npos);

    s.paused = true;
    s.keys = true;
    EXPECT_NE(ProgressBarLine(s, 100).find("paused, r resumes"), std::string::npos);
    EXPECT_EQ(ProgressBarLine(s, 100).find("MiB/s"), std::string::npos);

    ProgressSnapshot empty;
    empty.verb = "download";
    EXPECT_EQ(ProgressPlainLine(empty), "download: 100% (0 B of 0 B, 0 B/s, done)");
}

}  // namespace
