// One development server for a whole test process: a program registers
// DevServerEnvironment with the options it needs, or the first test starts a
// default server. SharedDevServerTest resets it (no faults, caps or scripts,
// fresh stats) before each test.
#ifndef TESTS_SUPPORT_SHAREDDEVSERVERTEST_H
#define TESTS_SUPPORT_SHAREDDEVSERVERTEST_H

#include <gtest/gtest.h>

#include <memory>
#include <utility>

#include "tests/support/DevServer.h"

class DevServerEnvironment : public ::testing::Environment {
public:
    explicit DevServerEnvironment(DevServerOptions options = {}) : options_(std::move(options)) {}
    void SetUp() override { server_ = std::make_unique<DevServer>(options_); }
    void TearDown() override { server_.reset(); }
    static inline std::unique_ptr<DevServer> server_;

private:
    DevServerOptions options_;
};

class SharedDevServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!DevServerEnvironment::server_)
            DevServerEnvironment::server_ = std::make_unique<DevServer>();
        server_ = DevServerEnvironment::server_.get();
        server_->Reset();
    }
    static inline DevServer* server_ = nullptr;  // static, so static helpers reach it too
};

#endif  // TESTS_SUPPORT_SHAREDDEVSERVERTEST_H
