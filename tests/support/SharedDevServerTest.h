// One development server for a whole test process. A test program registers
// DevServerEnvironment (with the options it needs) or lets the first test
// start a default server; SharedDevServerTest resets it before each test.
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

    static DevServer& Server() {
        if (!server_) server_ = std::make_unique<DevServer>();
        return *server_;
    }

private:
    DevServerOptions options_;
    static inline std::unique_ptr<DevServer> server_;
};

class SharedDevServerTest : public ::testing::Test {
protected:
    // No faults, caps or scripts, fresh stats.
    void SetUp() override {
        server_ = &DevServerEnvironment::Server();
        server_->Reset();
    }

    // The process's one server; static, so static helpers reach it too.
    static inline DevServer* server_ = nullptr;
};

#endif  // TESTS_SUPPORT_SHAREDDEVSERVERTEST_H
