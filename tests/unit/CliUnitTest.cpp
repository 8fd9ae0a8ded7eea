// The command line's pure pieces: what it shows of server texts, backup keys
// and record selection, and the progress line's width and speed.
#include <gtest/gtest.h>

#include "tests/unit/UnitSupport.h"
#include "tools/nimbra/Backups.h"
#include "tools/nimbra/Format.h"
#include "tools/nimbra/ProgressDisplay.h"

namespace {

using namespace cli;

TEST(CliText, WhatCameFromAServerIsShownEscaped) {
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

TEST(CliBackups, EveryBackupHasAKeyItsRecordNames) {
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
        _ST_UserInfo record{};
        std::snprintf(record.szName, sizeof record.szName, "dave");
        std::snprintf(record.szBackupName, sizeof record.szBackupName, "weekly");
        std::snprintf(record.szDateTime, sizeof record.szDateTime, "%s", k.date_time);
        std::snprintf(record.szFileName, sizeof record.szFileName, "a b.txt");
        EXPECT_EQ(BackupKey(record), k.key) << k.date_time;
    }

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

TEST(CliProgress, LinesFitTheTerminalAndPausesDoNotCount) {
    ProgressSnapshot s;
    s.verb = "download";
    s.bytes = 33LL << 20;
    s.total = 6LL << 30;
    s.rate = 120.3 * (1 << 20);
    for (bool paused : {false, true}) {
        s.paused = s.keys = paused;
        for (int columns : {8, 20, 30, 40, 50, 60, 80, 132}) {
            const std::string line = ProgressBarLine(s, columns);
            EXPECT_LT(line.size(), static_cast<size_t>(columns)) << line;
            EXPECT_EQ(line.rfind("downloa", 0), 0u) << line;
        }
    }

    // 10 MiB in the first second, a minute's pause, 10 MiB in the next second.
    ProgressDisplay::Clock::time_point now{};
    ProgressDisplay display("download", 40LL << 20, ProgressMode::kOff, stderr,
                            [&] { return now; });
    now += std::chrono::seconds(1);
    display.Update(10LL << 20);
    display.SetPaused(true);
    now += std::chrono::seconds(60);
    display.SetPaused(false);
    now += std::chrono::seconds(1);
    display.Update(20LL << 20);
    EXPECT_DOUBLE_EQ(display.ActiveSeconds(), 2.0);
    const ProgressSnapshot snapshot = display.Snapshot();
    EXPECT_DOUBLE_EQ(snapshot.rate, 10.0 * (1 << 20));
    EXPECT_NE(ProgressBarLine(snapshot, 100).find("10.0 MiB/s  0:02 left"), std::string::npos);
}

}  // namespace
