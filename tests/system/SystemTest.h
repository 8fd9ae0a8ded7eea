// What every system test shares: the manager of the tests' copy of libNimbra
// and a suite base that runs nimbra-devserver where that copy looks for it.
#ifndef TESTS_SYSTEM_SYSTEMTEST_H
#define TESTS_SYSTEM_SYSTEMTEST_H

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "Nimbra/Nimbra.h"
#include "Nimbra/NimbraConfig.h"
#include "tests/support/DevServer.h"
#include "tests/support/LogCapture.h"
#include "tests/support/RecordingCallback.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestData.h"

namespace systest {

using testcb::Payload;
using testcb::RecordingCallback;
using testdata::RandomBytes;

constexpr long long kMiB = 1024 * 1024;

inline IOssManager* Manager() {
    IOssManager* manager = nullptr;
    InitOssManager(&manager);
    return manager;
}

// One development server per suite on the compiled-in store port and (unless a
// suite scripts the web API itself) web API port; reset before every test.
class ServerSuite : public ::testing::Test {
protected:
    static void StartServer(bool own_api = true) {
        DevServerOptions options;
        options.api_port = own_api ? PortOf(NIMBRA_SERVER_URL) : 0;
        options.store_port = PortOf(NIMBRA_ENDPOINT);
        options.bucket = NIMBRA_BUCKET;
        server_ = std::make_unique<DevServer>(options);
    }
    static void SetUpTestSuite() { StartServer(); }
    static void TearDownTestSuite() { server_.reset(); }
    void SetUp() override {
        server_->Reset();
        testlog::Clear();
    }

    std::string MakeFile(const std::string& name, const std::string& data) {
        const std::string path = dir_.file(name);
        EXPECT_TRUE(WriteFileBytes(path, data));
        return path;
    }
    static void PutObject(const std::string& key, const std::string& data) {
        ASSERT_EQ(server_->StoreExchange("PUT", "/" + server_->bucket() + "/" + key, data).status,
                  200);
    }
    // Every entry of every page of a listing that must succeed.
    std::vector<_ST_RemotePathInfo> ListAll(const char* prefix) {
        RecordingCallback cb(Payload::kPages);
        EXPECT_TRUE(m->ListRemotePath(prefix, &cb, nullptr));
        const std::string trace = cb.trace();
        EXPECT_EQ(trace.substr(trace.rfind(' ') + 1), "0:100");
        std::vector<_ST_RemotePathInfo> all;
        for (const auto& page : cb.pages()) all.insert(all.end(), page.begin(), page.end());
        return all;
    }

    static inline std::unique_ptr<DevServer> server_;
    IOssManager* m = Manager();
    TempDir dir_;
};

}  // namespace systest

#endif  // TESTS_SYSTEM_SYSTEMTEST_H
