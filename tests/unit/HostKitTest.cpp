// The kit's pure pieces: names, what is shown of server texts, backup keys
// and record selection, and the progress meter. How transfers end, from
// their notifications, is the runner's test.
#include <gtest/gtest.h>

#include "hostkit/Backups.h"
#include "hostkit/Names.h"
#include "hostkit/ProgressMeter.h"
#include "hostkit/Records.h"
#include "hostkit/SafeText.h"
#include "tests/unit/UnitSupport.h"

namespace {

using namespace hostkit;

TEST(HostKitNames, WhatNamesAreRefused) {
    const std::string long_name(kFileNameMax + 1, 'n');
    const struct {
        std::string name, file_problem, key_problem;
    } cases[] = {
        {"notes.txt", "", ""},
        {"..", "it names a folder", ""},
        {".", "it names a folder", ""},
        {"", "it is empty", "the object key is empty"},
        {"../victim", "it contains '/'", ""},
        {"a\x01"
         "b",
         "it contains control characters", "the object key contains control characters"},
        {"del\x7f", "it contains control characters", "the object key contains control characters"},
        {long_name, "it is longer than 99 bytes", ""},
        {"/a", "it contains '/'", "object keys do not start with '/'; try 'a'"},
        {"a/", "it contains '/'", "'a/' names a folder, not an object"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FileNameProblem(c.name), c.file_problem) << c.name;
        EXPECT_EQ(KeyProblem(c.name), c.key_problem) << c.name;
    }
    EXPECT_EQ(NameProblem("user name", "a/b", kUserNameMax), "the user name contains '/'");
    EXPECT_EQ(NameProblem("user name", std::string(kUserNameMax, 'u'), kUserNameMax), "");
    EXPECT_EQ(QueryEscape("ann&x=1 ~a-b_c.d#%+?/"), "ann%26x%3D1%20~a-b_c.d%23%25%2B%3F%2F");
}

TEST(HostKitText, WhatCameFromAServerIsShownEscaped) {
    const struct {
        std::string text, shown;
    } cases[] = {
        {"caf\xc3\xa9 \xe5\x90\x8d \xf0\x9f\x93\xa6", "caf\xc3\xa9 \xe5\x90\x8d \xf0\x9f\x93\xa6"},
        {"\x1b]0;title\x07\x1b[2J", "\\x1B]0;title\\x07\\x1B[2J"},
        {"tab\tnl\ncr\rdel\x7f", "tab\\x09nl\\x0Acr\\x0Ddel\\x7F"},
        {"c1 \xc2\x9b csi", "c1 \\u009B csi"},
        {"bidi \xe2\x80\xae \xe2\x81\xa6", "bidi \\u202E \\u2066"},
        {"raw \x9b \xff \xc3", "raw \\x9B \\xFF \\xC3"},
        {"overlong \xc0\xaf surrogate \xed\xa0\x80",
         "overlong \\xC0\\xAF surrogate \\xED\\xA0\\x80"},
        {"back\\slash", "back\\\\slash"},
    };
    for (const auto& c : cases) EXPECT_EQ(SafeText(c.text), c.shown) << c.shown;
}

TEST(HostKitBackups, EveryBackupHasAKeyItsRecordNames) {
    unit::TimeZoneGuard zone("UTC0");
    EXPECT_EQ(BackupDateTime(std::chrono::system_clock::from_time_t(1733413202) +
                             std::chrono::milliseconds(7)),
              "2024-12-05 15:40:02.007");
    const struct {
        const char *date_time, *key;
    } keys[] = {{"2024-12-05 15:40:02.007", "dave/weekly/20241205T154002.007/a b.txt"},
                {"2024-12-05 15:40:02", "dave/weekly/20241205T154002/a b.txt"},
                {"../x/ y", "dave/weekly/..xTy/a b.txt"},
                {"", ""},
                {":/-", ""}};
    for (const auto& k : keys) {
        _ST_UserInfo record{0, "dave", "weekly", "", "", "a b.txt", 0, 0};
        std::snprintf(record.szDateTime, sizeof record.szDateTime, "%s", k.date_time);
        EXPECT_EQ(BackupKey(record), k.key) << k.date_time;
        // A restore takes the key, or refuses a record that names none.
        std::string key = "?";
        EXPECT_EQ(RestoreProblem(record, key),
                  *k.key
                      ? ""
                      : "the " + DescribeRecord(record) + " names no object it could be stored at");
        EXPECT_EQ(key, k.key);
    }
    _ST_UserInfo escape{0, "dave", "weekly", "2024-12-05 15:40:02", "", "../x", 0, 0};
    std::string key;
    EXPECT_NE(RestoreProblem(escape, key).find(" has the file name '../x', which is not a plain"),
              std::string::npos);

    std::vector<_ST_UserInfo> records(3);
    records[0].nId = 30, records[1].nId = 20, records[2].nId = 10;  // newest first
    const struct {
        long long id, position;
        int chosen;  // index, -1: none
    } choices[] = {{20, 0, 1}, {0, 3, 2}, {0, 1, 0}, {99, 0, -1}, {0, 4, -1}, {0, 0, -1}};
    for (const auto& c : choices) {
        const _ST_UserInfo* record = SelectRecord(records, c.id, c.position);
        EXPECT_EQ(record == nullptr ? -1 : static_cast<int>(record - records.data()), c.chosen)
            << c.id << " " << c.position;
    }
}

// 10 MiB in the first second, a minute's pause, 10 MiB in the next second:
// the speed and the time left leave the pause out, and a stall decays them.
TEST(HostKitProgress, PausesDoNotCount) {
    ProgressMeter::Clock::time_point now{};
    ProgressMeter meter(40LL << 20, [&] { return now; });
    now += std::chrono::seconds(1);
    meter.Update(10LL << 20);
    meter.SetPaused(true);
    now += std::chrono::seconds(60);
    EXPECT_TRUE(meter.Read().paused);
    EXPECT_EQ(meter.Read().seconds_left, -1);
    meter.SetPaused(false);
    now += std::chrono::seconds(1);
    meter.Update(20LL << 20);
    ProgressReading r = meter.Read();
    EXPECT_DOUBLE_EQ(r.active_seconds, 2.0);
    EXPECT_DOUBLE_EQ(r.rate, 10.0 * (1 << 20));
    EXPECT_DOUBLE_EQ(r.seconds_left, 2.0);
    EXPECT_EQ(r.percent, 50);
    now += std::chrono::seconds(8);  // nothing arrives
    r = meter.Read();
    EXPECT_LT(r.rate, 3.0 * (1 << 20));
    meter.Update(40LL << 20);
    EXPECT_EQ(meter.Read().seconds_left, 0);
}

}  // namespace
