// Regression tests for what fuzzing found, in the ordinary suites (normal
// and sanitizer builds). Each input that crashed a fuzz target is also kept
// in its corpus under corpus/<target>/.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <ctime>

#include "Nimbra/OssListEntry.h"

namespace {

time_t LocalTime(int year_since_1900, int month, int day, int hour, int minute, int second) {
    struct tm fields;
    std::memset(&fields, 0, sizeof fields);
    fields.tm_year = year_since_1900;
    fields.tm_mon = month;
    fields.tm_mday = day;
    fields.tm_hour = hour;
    fields.tm_min = minute;
    fields.tm_sec = second;
    return mktime(&fields);
}

// A listed object's LastModified with numbers just past the int range used
// to wrap to the lowest int and overflow when the year and month offsets
// were taken off (undefined behaviour; UBSan stops the sanitizer build). The
// numbers are now pinned to the int range first.
TEST(ListingDateFields, NumbersBeyondIntArePinnedWithoutOverflow) {
    EXPECT_EQ(ListLastModifiedTime("2147483648-2147483648-1T1:1:1.000Z"),
              LocalTime(INT_MAX - 1900, INT_MAX - 1, 1, 1, 1, 1));
    EXPECT_EQ(ListLastModifiedTime("2147485000-1-1T0:0:0"),
              LocalTime(INT_MAX - 1900, 0, 1, 0, 0, 0));
    // Beyond even 64 bits.
    EXPECT_EQ(ListLastModifiedTime("99999999999999999999999-1-1T00:00:99999999999999999999"),
              LocalTime(INT_MAX - 1900, 0, 1, 0, 0, INT_MAX));
}

TEST(ListingDateFields, OrdinaryTimestampsConvertAsBefore) {
    EXPECT_EQ(ListLastModifiedTime("2019-03-15T08:20:31.000Z"), LocalTime(119, 2, 15, 8, 20, 31));
    // Leading zeros, signs and trailing text read as atoi reads them.
    EXPECT_EQ(ListLastModifiedTime("2019-003-+15T08x:20:31z"), LocalTime(119, 2, 15, 8, 20, 31));
    EXPECT_EQ(ListLastModifiedTime("2019-03-15T08:20"), LocalTime(119, 2, 15, 0, 0, 0));
}

}  // namespace
