// Store-module pieces that need no server: the result maps, the pause/stop
// poll, and the listing's entry rules.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <string>
#include <thread>

#include "Contracts/oss/aos_define.h"
#include "Nimbra/ControlFlags.h"
#include "Nimbra/OssListEntry.h"
#include "Nimbra/OssOperate.h"

namespace {

TEST(ResultMaps, EveryRowOfBothTables) {
    struct Row {
        int code, download, transfer;
    };
    const Row rows[] = {
        {-996, -1, 1}, {-995, 1, 1},  {-994, -1, -1}, {-993, -1, -1}, {-992, 1, 1}, {-991, -1, -1},
        {-990, 1, 1},  {-989, -1, 1}, {-988, -1, 1},  {-987, -1, 1},  {-986, 1, 1},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(DownloadResultOf(r.code), r.download) << r.code;
        EXPECT_EQ(TransferResultOf(r.code), r.transfer) << r.code;
    }
}

TEST(ResultMaps, OtherCodesAreGeneralFailures) {
    // Neighbours of the table, HTTP statuses, 0 and the layer's other codes.
    for (int code : {-997, -985, -1000, -980, -978, 0, 1, 100, 301, 403, 404, 500, 503}) {
        EXPECT_EQ(DownloadResultOf(code), -1) << code;
        EXPECT_EQ(TransferResultOf(code), -1) << code;
    }
}

class PollTest : public ::testing::Test {
protected:
    void SetUp() override { Clear(); }
    void TearDown() override { Clear(); }
    static void Clear() {
        gbIsNeedPause = false;
        gbIsNeedStopEx = false;
    }
    static double SecondsOf(const std::function<bool()>& f, bool& result) {
        auto t0 = std::chrono::steady_clock::now();
        result = f();
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    }
};

TEST_F(PollTest, NeitherFlagReturnsFalseAtOnce) {
    bool result = true;
    EXPECT_LT(SecondsOf(CheckPauseAndStop, result), 0.9);
    EXPECT_FALSE(result);
}

TEST_F(PollTest, StopWinsOverPauseAtOnceAndChangesNoFlag) {
    gbIsNeedPause = true;
    gbIsNeedStopEx = true;
    bool result = false;
    EXPECT_LT(SecondsOf(CheckPauseAndStop, result), 0.9);
    EXPECT_TRUE(result);
    EXPECT_TRUE(gbIsNeedPause);
    EXPECT_TRUE(gbIsNeedStopEx);
}

TEST_F(PollTest, StopDuringPauseEndsTheWait) {
    gbIsNeedPause = true;
    // Set the stop while the poll is (most likely) asleep; either way the
    // poll must end with true rather than wait for the pause to be lifted.
    std::thread stopper([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        gbIsNeedStopEx = true;
    });
    const bool result = CheckPauseAndStop();
    stopper.join();
    EXPECT_TRUE(result);
    EXPECT_TRUE(gbIsNeedPause);  // the poll clears nothing
    EXPECT_TRUE(gbIsNeedStopEx);
}

// The listing's entry rules.

TEST(ListRelativeName, PrefixRemovedOnlyWhenTheKeyStartsWithIt) {
    EXPECT_EQ(ListRelativeName("photos/", "photos/a.jpg"), "a.jpg");
    EXPECT_EQ(ListRelativeName("photos", "photos.txt"), ".txt");
    EXPECT_EQ(ListRelativeName("photos", "photos/"), "/");
    EXPECT_EQ(ListRelativeName("", "top.txt"), "top.txt");
    EXPECT_EQ(ListRelativeName("/", "top.txt"), "top.txt");  // "/" does not begin the key
    EXPECT_EQ(ListRelativeName("/", "/x"), "x");
    EXPECT_EQ(ListRelativeName("docs/", "photos/a"), "photos/a");
    EXPECT_EQ(ListRelativeName("photos/", "photos/"), "");
    EXPECT_EQ(ListRelativeName("longer-prefix", "long"), "long");
}

TEST(ListFolderEntry, DropsTheClosingSlashAndSkipsShortNames) {
    _ST_RemotePathInfo info;
    memset(&info, 0x5a, sizeof info);
    ASSERT_TRUE(ListFolderEntry("photos/", "photos/2019/", info));
    EXPECT_TRUE(info.bIsDir);
    EXPECT_EQ(info.llFileSize, 0);
    EXPECT_EQ(info.tLastModified, 0);
    EXPECT_STREQ(info.szPathName, "2019");
    for (size_t i = strlen("2019"); i < sizeof info.szPathName; ++i)
        ASSERT_EQ(info.szPathName[i], '\0') << i;

    memset(&info, 0x5a, sizeof info);
    EXPECT_FALSE(ListFolderEntry("photos", "photos/", info));  // relative name "/"
    EXPECT_EQ(info.szPathName[0], 0x5a);                       // untouched
    EXPECT_FALSE(ListFolderEntry("a/", "a/", info));           // relative name ""
    ASSERT_TRUE(ListFolderEntry("a/", "a/b/", info));          // two characters: kept
    EXPECT_STREQ(info.szPathName, "b");
}

TEST(ListFileEntry, SizeNameAndZeroedTail) {
    _ST_RemotePathInfo info = ListFileEntry("p/", "p/file.bin", "1234567890123", "");
    EXPECT_FALSE(info.bIsDir);
    EXPECT_EQ(info.llFileSize, 1234567890123LL);
    EXPECT_STREQ(info.szPathName, "file.bin");
    for (size_t i = strlen("file.bin"); i < sizeof info.szPathName; ++i)
        ASSERT_EQ(info.szPathName[i], '\0') << i;
    EXPECT_EQ(ListFileEntry("", "k", "not a number", "").llFileSize, 0);
}

TEST(ListFileEntry, LongNamesAreCutAtACharacterBoundary) {
    // 253 ASCII bytes, then a 3-byte character that would straddle byte 254.
    std::string name(253, 'n');
    name += "\xe2\x82\xac";  // U+20AC
    name += "tail";
    _ST_RemotePathInfo info = ListFileEntry("", name, "1", "");
    EXPECT_EQ(strlen(info.szPathName), 253u);
    EXPECT_EQ(info.szPathName[254], '\0');

    // Exactly 254 bytes fit whole.
    std::string fits(252, 'n');
    fits += "\xc3\xa9";  // U+00E9, bytes 253-254
    info = ListFileEntry("", fits, "1", "");
    EXPECT_EQ(std::string(info.szPathName), fits);
}

class LocalTimeTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* tz = getenv("TZ");
        had_tz_ = tz != nullptr;
        if (tz) old_tz_ = tz;
    }
    void TearDown() override {
        if (had_tz_)
            setenv("TZ", old_tz_.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }
    static void Zone(const char* tz) {
        setenv("TZ", tz, 1);
        tzset();
    }
    // The UTC instant of the given fields (independent of the code under test).
    static time_t Utc(int y, int mo, int d, int h, int mi, int s) {
        struct tm t = {};
        t.tm_year = y - 1900;
        t.tm_mon = mo - 1;
        t.tm_mday = d;
        t.tm_hour = h;
        t.tm_min = mi;
        t.tm_sec = s;
        return timegm(&t);
    }

private:
    bool had_tz_ = false;
    std::string old_tz_;
};

TEST_F(LocalTimeTest, StoreTimesAreReadAsLocalTime) {
    Zone("Asia/Shanghai");  // UTC+8 all year
    const time_t utc = Utc(2019, 3, 15, 8, 20, 31);
    EXPECT_EQ(ListLastModifiedTime("2019-03-15T08:20:31.000Z"), utc - 8 * 3600);
    EXPECT_EQ(ListFileEntry("", "k", "0", "2019-03-15T08:20:31.000Z").tLastModified,
              utc - 8 * 3600);
    Zone("UTC0");
    EXPECT_EQ(ListLastModifiedTime("2019-03-15T08:20:31.000Z"), utc);
}

TEST_F(LocalTimeTest, DaylightSavingIsNotApplied) {
    Zone("EST5EDT,M3.2.0,M11.1.0");
    // July is in daylight saving time, but the fields are read as standard time.
    EXPECT_EQ(ListLastModifiedTime("2019-07-01T12:00:00.000Z"), Utc(2019, 7, 1, 17, 0, 0));
}

TEST_F(LocalTimeTest, TextsWithoutDotOrT) {
    Zone("UTC0");
    EXPECT_EQ(ListLastModifiedTime("2019-03-15T08:20:31Z"), Utc(2019, 3, 15, 8, 20, 31));
    // No "T": date and time are both the whole text; "h:m:s" fails, the date holds.
    EXPECT_EQ(ListLastModifiedTime("2019-03-15"), Utc(2019, 3, 15, 0, 0, 0));
    // Only a time: the date fields stay 0 (tm_mday 0 is the last day of the month before).
    struct tm zero = {};
    zero.tm_hour = 8;
    zero.tm_min = 20;
    zero.tm_sec = 31;
    EXPECT_EQ(ListLastModifiedTime("08:20:31"), timegm(&zero));
    // The cut is at the last ".": fractional seconds vanish, other dots too.
    EXPECT_EQ(ListLastModifiedTime("2019-03-15T08:20:31.5.9"), Utc(2019, 3, 15, 8, 20, 31));
}

TEST_F(LocalTimeTest, DateWithOtherThanThreeFieldsStaysZero) {
    Zone("UTC0");
    struct tm only_time = {};
    only_time.tm_hour = 8;
    only_time.tm_min = 20;
    only_time.tm_sec = 31;
    const time_t no_date = timegm(&only_time);
    EXPECT_EQ(ListLastModifiedTime("2019-03T08:20:31.000Z"), no_date);
    EXPECT_EQ(ListLastModifiedTime("2019-03-15-01T08:20:31.000Z"), no_date);
    // And a time with two fields leaves the time at midnight.
    EXPECT_EQ(ListLastModifiedTime("2019-03-15T08:20.000Z"), Utc(2019, 3, 15, 0, 0, 0));
}

}  // namespace
