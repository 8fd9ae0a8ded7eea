// One development server for a whole test process, started by the first test
// with the options its fixture gives, and reset (no faults, caps or scripts,
// fresh stats) before each test.
#ifndef TESTS_SUPPORT_SHAREDDEVSERVERTEST_H
#define TESTS_SUPPORT_SHAREDDEVSERVERTEST_H

#include <gtest/gtest.h>

#include <memory>

#include "tests/support/DevServer.h"

class SharedDevServerTest : public ::testing::Test {
protected:
    virtual DevServerOptions Options() const { return {}; }
    void SetUp() override {
        static const std::unique_ptr<DevServer> server = std::make_unique<DevServer>(Options());
        server_ = server.get();
        server_->Reset();
    }
    static inline DevServer* server_ = nullptr;  // static, so static helpers reach it too
};

#endif  // TESTS_SUPPORT_SHAREDDEVSERVERTEST_H
