// Regression test: a download whose ranges arrive complete but with wrong
// bytes used to be reported as a success. The bytes written are now checked
// against the object's CRC-64 from its metadata.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "Nimbra/OssOperate.h"
#include "tests/support/DevServer.h"
#include "tests/support/LogCapture.h"
#include "tests/support/RecordingCallback.h"
#include "tests/support/TempDir.h"

namespace {

using testcb::Event;
using testcb::RecordingCallback;

constexpr size_t kSize = 3 * 1024 * 1024 + 17;

class DownloadCrc : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        server_ = new DevServer();
        std::mt19937 gen(7);
        data_ = new std::string(kSize, '\0');
        for (char& c : *data_) c = static_cast<char>(gen() & 0xff);
        ASSERT_EQ(server_->StoreRequest("PUT", "/nimbra-backup/crc/obj", *data_).first, 200);
    }
    static void TearDownTestSuite() {
        delete server_;
        delete data_;
        server_ = nullptr;
    }
    void SetUp() override {
        server_->Reset();
        testlog::Clear();
    }

    bool Download(RecordingCallback& cb) {
        const DevServer::Credentials c = server_->IssueCredentials();
        return ::DownloadFile(server_->store_endpoint().c_str(), c.access_key_id.c_str(),
                              c.access_key_secret.c_str(), "nimbra-backup",
                              c.security_token.c_str(), "crc/obj", path_.c_str(), &cb);
    }

    static DevServer* server_;
    static std::string* data_;
    TempDir dir_;
    std::string path_ = dir_.file("out.bin");
};
DevServer* DownloadCrc::server_ = nullptr;
std::string* DownloadCrc::data_ = nullptr;

TEST_F(DownloadCrc, ARangeWithWrongBytesFailsTheDownload) {
    // The second range arrives whole, with one byte inverted.
    RecordingCallback cb;
    int ranges = 0;
    cb.hook = [&](int, int percent) {
        if (percent < 100 && ++ranges == 1)
            server_->AddFault(R"({"method":"GET","action":"corrupt_body"})");
    };
    EXPECT_FALSE(Download(cb));
    // Every range is written and reported; the check after the last one fails.
    EXPECT_EQ(
        cb.events(),
        (std::vector<Event>{
            {0, 31, false}, {0, 63, false}, {0, 94, false}, {0, 95, false}, {-1, 100, false}}));
    bool logged = false;
    for (const std::string& line : testlog::Messages("DownloadFile"))
        logged |= line.find("crc64 of " + path_ + " is ") == 0;
    EXPECT_TRUE(logged);
}

TEST_F(DownloadCrc, AWrongAnnouncedChecksumFailsToo) {
    server_->AddFault(R"({"method":"HEAD","action":"bad_crc"})");
    RecordingCallback cb;
    EXPECT_FALSE(Download(cb));
    EXPECT_EQ(cb.last(), (Event{-1, 100, false}));
    EXPECT_TRUE(ReadFileBytes(path_) == *data_) << "the bytes themselves were right";
}

TEST_F(DownloadCrc, MatchingBytesSucceed) {
    RecordingCallback cb;
    EXPECT_TRUE(Download(cb));
    EXPECT_EQ(cb.last(), (Event{0, 100, false}));
    EXPECT_TRUE(ReadFileBytes(path_) == *data_);
    EXPECT_TRUE(testlog::Messages("DownloadFile").empty());
}

}  // namespace
