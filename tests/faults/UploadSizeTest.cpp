// Regression test: parts are read from the file as it is when each part is
// sent, so a file that shrank during the upload (or was shorter than the size
// given from the start) used to complete as a success with fewer bytes. The
// listed parts must now hold exactly the size given.
#include <gtest/gtest.h>
#include <unistd.h>

#include <random>
#include <string>

#include "Nimbra/OssOperate.h"
#include "tests/support/DevServer.h"
#include "tests/support/LogCapture.h"
#include "tests/support/RecordingCallback.h"
#include "tests/support/SharedDevServerTest.h"
#include "tests/support/TempDir.h"

namespace {

using testcb::Event;
using testcb::RecordingCallback;

constexpr long long kMiB = 1024 * 1024;

class UploadSize : public SharedDevServerTest {
protected:
    void SetUp() override {
        SharedDevServerTest::SetUp();
        testlog::Clear();
        std::mt19937 gen(11);
        data_.resize(25 * kMiB);
        for (char& c : data_) c = static_cast<char>(gen() & 0xff);
        ASSERT_TRUE(WriteFileBytes(path_, data_));
    }

    bool Upload(const char* key, long long size, RecordingCallback& cb) {
        const DevServer::Credentials c = server_->IssueCredentials();
        return ::MultiUploadFile(server_->store_endpoint().c_str(), c.access_key_id.c_str(),
                                 c.access_key_secret.c_str(), "nimbra-backup",
                                 c.security_token.c_str(), key, path_.c_str(), size, &cb);
    }
    static int Status(const std::string& key) {
        return server_->StoreExchange("HEAD", "/nimbra-backup/" + key).status;
    }

    TempDir dir_;
    std::string path_ = dir_.file("source.bin");
    std::string data_;
};

TEST_F(UploadSize, AFileThatShrinksBeforeItsLastPartFails) {
    RecordingCallback cb;
    int parts = 0;
    cb.hook = [&](int, int percent) {
        if (percent > 20 && percent < 90 && ++parts == 2) truncate(path_.c_str(), 21 * kMiB);
    };
    EXPECT_FALSE(Upload("size/shrunk.bin", 25 * kMiB, cb));
    // Three parts went out (the last with 1 MiB instead of 5), then the
    // listing showed the shortfall: no completion.
    EXPECT_EQ(
        cb.events(),
        (std::vector<Event>{
            {0, 20, false}, {0, 48, false}, {0, 76, false}, {0, 90, false}, {-1, 100, false}}));
    EXPECT_TRUE(testlog::Contains("MultiUploadFile",
                                  "uploaded parts hold 22020096 bytes, the file size is 26214400"));
    EXPECT_EQ(Status("size/shrunk.bin"), 404);
}

TEST_F(UploadSize, AFileShorterThanTheSizeGivenFails) {
    RecordingCallback cb;
    EXPECT_FALSE(Upload("size/short.bin", 30 * kMiB, cb));
    EXPECT_EQ(cb.last(), (Event{-1, 100, false}));
    EXPECT_EQ(Status("size/short.bin"), 404);
}

TEST_F(UploadSize, ASizeBelowTheFileUploadsThatPrefix) {
    RecordingCallback cb;
    ASSERT_TRUE(Upload("size/prefix.bin", 15 * kMiB + 3, cb));
    EXPECT_EQ(cb.last(), (Event{0, 100, false}));
    const auto stored = server_->StoreRequest("GET", "/nimbra-backup/size/prefix.bin");
    EXPECT_TRUE(stored.second == data_.substr(0, 15 * kMiB + 3));
}

}  // namespace
