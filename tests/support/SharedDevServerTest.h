// Test base that runs one development server (free ports, own data
// directory) for every test of a suite and resets it before each test.
#ifndef TESTS_SUPPORT_SHAREDDEVSERVERTEST_H
#define TESTS_SUPPORT_SHAREDDEVSERVERTEST_H

#include <gtest/gtest.h>

#include "tests/support/DevServer.h"

class SharedDevServerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { server_ = new DevServer(); }
    static void TearDownTestSuite() {
        delete server_;
        server_ = nullptr;
    }
    // No faults, caps or scripts, fresh stats.
    void SetUp() override { server_->Reset(); }

    // Suites run one after another, so one pointer serves them all.
    static inline DevServer* server_ = nullptr;
};

#endif  // TESTS_SUPPORT_SHAREDDEVSERVERTEST_H
