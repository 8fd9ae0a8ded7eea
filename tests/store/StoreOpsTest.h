// Base of the store-operation suites: the process's development server,
// fresh credentials and an empty log for each test, and after each test the
// check that the operation released the store layer.
#ifndef TESTS_STORE_STOREOPSTEST_H
#define TESTS_STORE_STOREOPSTEST_H

#include <string>
#include <vector>

#include "Contracts/oss/oss_api.h"
#include "Nimbra/OssOperate.h"
#include "tests/support/LogCapture.h"
#include "tests/support/RecordingCallback.h"
#include "tests/support/SharedDevServerTest.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestData.h"

namespace storeops {

using testcb::Event;
using testcb::RecordingCallback;
using Events = std::vector<Event>;
using Lines = std::vector<std::string>;
using testdata::RandomBytes;
constexpr long long kMiB = 1048576;

// True when this thread holds the store layer no longer: a request then
// fails before it is sent.
inline bool LayerReleased() {
    apr_initialize();
    apr_pool_t* pool = nullptr;
    apr_pool_create(&pool, nullptr);
    oss_request_options_t* options = oss_request_options_create(pool);
    options->config = oss_config_create(pool);
    aos_str_set(&options->config->endpoint, "http://127.0.0.1:9");
    aos_string_t bucket, key;
    aos_str_set(&bucket, "nimbra-backup");
    aos_str_set(&key, "probe");
    const int code = oss_delete_object(options, &bucket, &key, nullptr)->code;
    apr_pool_destroy(pool);
    apr_terminate();
    return code == AOSE_FAILED_INITIALIZE;
}

class OpsTest : public SharedDevServerTest {
protected:
    void SetUp() override {
        SharedDevServerTest::SetUp();
        creds_ = server_->IssueCredentials();
        endpoint_ = server_->store_endpoint();
        testlog::Clear();
    }
    void TearDown() override { EXPECT_TRUE(LayerReleased()) << "the store layer is still held"; }

    const char* ep() const { return endpoint_.c_str(); }
    const char* ak() const { return creds_.access_key_id.c_str(); }
    const char* sk() const { return creds_.access_key_secret.c_str(); }
    const char* tok() const { return creds_.security_token.c_str(); }
    const char* bucket() const { return server_->bucket().c_str(); }

    void Put(const std::string& key, const std::string& data) {
        ASSERT_EQ(server_->StoreRequest("PUT", "/nimbra-backup/" + key, data).first, 200) << key;
    }
    // The object's bytes, or "<status N>" when it cannot be read.
    std::string Stored(const std::string& key) {
        auto r = server_->StoreRequest("GET", "/nimbra-backup/" + key);
        return r.first == 200 ? r.second : "<status " + std::to_string(r.first) + ">";
    }
    long Requests(const std::string& operation) { return server_->GetStats().requests[operation]; }
    // A local file holding `data`; its path.
    std::string Local(const std::string& name, const std::string& data) {
        EXPECT_TRUE(WriteFileBytes(dir_.file(name), data));
        return dir_.file(name);
    }

    DevServer::Credentials creds_;
    std::string endpoint_;
    TempDir dir_;
};

}  // namespace storeops

#endif  // TESTS_STORE_STOREOPSTEST_H
