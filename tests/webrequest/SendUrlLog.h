// Assertion on the log lines a single request leaves behind.
#ifndef TESTS_WEBREQUEST_SENDURLLOG_H
#define TESTS_WEBREQUEST_SENDURLLOG_H

#include <gtest/gtest.h>

#include <string>

#include "tests/support/LogCapture.h"

namespace webtest {

// Exactly one log call since the last testlog::Clear(), made by SendUrl of the
// request module at level 1, with the given formatted message.
inline void ExpectSingleSendUrlLog(const std::string& message) {
    std::vector<testlog::Entry> entries = testlog::Snapshot();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].function, "SendUrl");
    EXPECT_EQ(entries[0].file, "Nimbra/WebRequest");
    EXPECT_GT(entries[0].line, 0);
    EXPECT_EQ(entries[0].level, 1);
    EXPECT_EQ(entries[0].message, message);
}

}  // namespace webtest

#endif  // TESTS_WEBREQUEST_SENDURLLOG_H
