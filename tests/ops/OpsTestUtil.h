// Helpers shared by the store-operation tests: a recording callback, a
// test base that runs one dev server per suite, object and file set-up.
#ifndef TESTS_OPS_OPSTESTUTIL_H
#define TESTS_OPS_OPSTESTUTIL_H

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <memory>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "Contracts/oss/oss_api.h"
#include "Nimbra/ControlFlags.h"
#include "Nimbra/Nimbra.h"
#include "tests/support/DevServer.h"
#include "tests/support/LogCapture.h"
#include "tests/support/SharedDevServerTest.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestData.h"

namespace opstest {

struct Event {
    int result;
    int percent;
    bool has_data;
    bool operator==(const Event& o) const {
        return result == o.result && percent == o.percent && has_data == o.has_data;
    }
};

inline std::ostream& operator<<(std::ostream& os, const Event& e) {
    return os << "(" << e.result << ", " << e.percent << (e.has_data ? ", data)" : ", null)");
}

// Records every notification; listing pages are copied when copy_pages is
// set. `hook` runs after each notification is recorded.
class RecordingCallback : public IOssCallback {
public:
    explicit RecordingCallback(bool copy_pages = false) : copy_pages_(copy_pages) {}
    void OnProgress(int nResult, int nPercent, void* pData) override {
        events.push_back({nResult, nPercent, pData != nullptr});
        if (copy_pages_ && pData)
            pages.push_back(*static_cast<std::vector<_ST_RemotePathInfo>*>(pData));
        if (hook) hook(nResult, nPercent);
    }

    std::vector<Event> events;
    std::vector<std::vector<_ST_RemotePathInfo>> pages;
    std::function<void(int, int)> hook;

private:
    bool copy_pages_;
};

using testdata::RandomBytes;

// A loopback port with nothing listening on it.
inline int ClosedPort() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = 0;
    socklen_t len = sizeof a;
    int port = -1;
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    close(fd);
    return port;
}

// True when the store layer is not initialised on this thread any more: a
// request then fails with AOSE_FAILED_INITIALIZE before it is sent. After
// every operation, whatever way it ended, this must hold.
inline bool LayerReleased() {
    if (apr_initialize() != APR_SUCCESS) return false;
    apr_pool_t* pool = nullptr;
    apr_pool_create(&pool, nullptr);
    oss_request_options_t* options = oss_request_options_create(pool);
    options->config = oss_config_create(pool);
    aos_str_set(&options->config->endpoint, "http://127.0.0.1:9");
    aos_string_t bucket, key;
    aos_str_set(&bucket, "nimbra-backup");
    aos_str_set(&key, "probe");
    const bool released =
        oss_delete_object(options, &bucket, &key, nullptr)->code == AOSE_FAILED_INITIALIZE;
    apr_pool_destroy(pool);
    apr_terminate();
    return released;
}

inline void ClearFlags() {
    gbIsNeedPause = false;
    gbIsNeedStopEx = false;
}

// One dev server for every test of a suite; each test starts from a reset
// server (no faults, no caps), fresh credentials, empty log and clear flags.
class ServerTest : public SharedDevServerTest {
protected:
    void SetUp() override {
        SharedDevServerTest::SetUp();
        creds_ = server_->IssueCredentials();
        endpoint_ = server_->store_endpoint();
        ClearFlags();
        testlog::Clear();
    }
    void TearDown() override {
        ClearFlags();
        EXPECT_TRUE(LayerReleased()) << "the store layer is still initialised";
    }

    DevServer& server() { return *server_; }
    const char* ep() const { return endpoint_.c_str(); }
    const char* ak() const { return creds_.access_key_id.c_str(); }
    const char* sk() const { return creds_.access_key_secret.c_str(); }
    const char* tok() const { return creds_.security_token.c_str(); }
    const char* bucket() const { return server_->bucket().c_str(); }

    void PutObject(const std::string& key, const std::string& data) {
        auto r = server_->StoreRequest("PUT", "/" + server_->bucket() + "/" + key, data);
        ASSERT_EQ(r.first, 200) << key << ": " << r.second;
    }
    // (status, body) of a plain GET of the object.
    std::pair<int, std::string> GetObject(const std::string& key) {
        return server_->StoreRequest("GET", "/" + server_->bucket() + "/" + key);
    }
    long Requests(const std::string& op) {
        auto stats = server_->GetStats();
        auto it = stats.requests.find(op);
        return it == stats.requests.end() ? 0 : it->second;
    }

    DevServer::Credentials creds_;
    std::string endpoint_;
    TempDir dir_;
};

}  // namespace opstest

#endif  // TESTS_OPS_OPSTESTUTIL_H
