// The fault matrix: a 40 MiB upload and download through the manager, each
// under one fault injected at a deterministic point (from the progress
// callback, never by timing), against nimbra-devserver on the compiled-in
// addresses. For every row:
//   - the call returns, and its notifications end with exactly one nPercent
//     100 whose result agrees with the returned value;
//   - a successful upload stored exactly the source bytes (length and CRC-64
//     of the stored object), a failed one left no object behind;
//   - a successful download wrote exactly the source bytes; a failed one left
//     no wrong byte at any offset (a prefix, or all of them when only the
//     final check failed), except where the store sent wrong bytes, which
//     the download reports as a failure;
//   - the next call, with the fault gone, completes and verifies.
// Each row is also written to fault_matrix.tsv in the build directory;
// faults_matrix_doc checks that docs/reliability.md lists every row with
// the outcome observed here.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "Contracts/oss/aos_crc64.h"
#include "Nimbra/COssManager.h"
#include "Nimbra/ControlFlags.h"
#include "tests/support/CompiledInServer.h"
#include "tests/support/DevServer.h"
#include "tests/support/LogCapture.h"
#include "tests/support/RecordingCallback.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestData.h"

#ifndef NIMBRA_FAULT_TABLE
#error "NIMBRA_FAULT_TABLE must name the results table to write"
#endif

namespace {

using testcb::Event;
using testcb::Payload;
using testcb::RecordingCallback;

constexpr long long kMiB = 1024 * 1024;
constexpr long long kFileSize = 40 * kMiB;
const char kSourceKey[] = "matrix/source.bin";

using testdata::RandomBytes;

std::string Outcome(bool returned, const RecordingCallback& cb) {
    std::string text = returned ? "true" : "false";
    if (cb.finals() == 0) return text + ", none";
    const Event last = cb.last();
    return text + ", (" + std::to_string(last.result) + ", " + std::to_string(last.percent) + ")";
}

// One line of the results table.
void Record(const std::string& fault, const std::string& op, const std::string& outcome,
            const std::string& proof) {
    static bool first = true;
    std::ofstream out(NIMBRA_FAULT_TABLE, first ? std::ios::trunc : std::ios::app);
    first = false;
    out << fault << '\t' << op << '\t' << outcome << '\t' << proof << '\n';
}

class FaultMatrix : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        server_ = compiled_in::StartServer();
        if (server_ == nullptr) return;
        dir_ = new TempDir();
        data_ = new std::string(RandomBytes(kFileSize, 40));
        source_ = new std::string(dir_->file("source.bin"));
        ASSERT_TRUE(WriteFileBytes(*source_, *data_));
        crc_ = aos_crc64(0, data_->data(), data_->size());
        ASSERT_TRUE(COssManager::GetInstance()->UploadFile(source_->c_str(), kFileSize, kSourceKey,
                                                           nullptr));
    }
    static void TearDownTestSuite() {
        delete server_;
        delete dir_;
        delete data_;
        delete source_;
        server_ = nullptr;
    }
    void SetUp() override {
        if (server_ == nullptr) GTEST_SKIP() << "the compiled-in addresses are not on 127.0.0.1";
        server_->Reset();
        testlog::Clear();
        gbIsNeedPause = false;
        gbIsNeedStopEx = false;
    }

    COssManager* m = COssManager::GetInstance();

    // Every operation ends with exactly one final notification, the last one,
    // whose result agrees with the returned value.
    static void ExpectOneFinal(bool returned, const RecordingCallback& cb) {
        EXPECT_EQ(cb.finals(), 1);
        EXPECT_EQ(cb.last().percent, 100);
        EXPECT_EQ(returned, cb.last().result == 0);
    }

    // The stored object holds exactly the source bytes, or is absent.
    static std::string StoredState(const std::string& key) {
        DevServer::Response head =
            server_->StoreExchange("HEAD", "/" + server_->bucket() + "/" + key);
        if (head.status == 404) return "absent";
        if (head.status != 200) return "HEAD " + std::to_string(head.status);
        const bool same = head.header("content-length") == std::to_string(kFileSize) &&
                          head.header("x-oss-hash-crc64ecma") == std::to_string(crc_);
        return same ? "exact" : "different";
    }

    // The local file is the source (whole) or a strict prefix of it.
    static std::string LocalState(const std::string& path) {
        const std::string got = ReadFileBytes(path);
        if (got.size() == data_->size() && got == *data_) return "exact";
        if (got.size() < data_->size() && data_->compare(0, got.size(), got) == 0) return "prefix";
        return "wrong bytes";
    }

    // Upload of the source (or `path`) to `key` with `hook` on its
    // notifications; checks the notifications and (unless the row checks it
    // itself later) the stored object.
    bool Upload(const std::string& key, const std::function<void(int, int)>& hook,
                RecordingCallback& cb, const std::string& path = "", bool check_store = true) {
        cb.hook = hook;
        const bool ok = m->UploadFile(path.empty() ? source_->c_str() : path.c_str(), kFileSize,
                                      key.c_str(), &cb);
        ExpectOneFinal(ok, cb);
        if (check_store) ExpectStored(key, ok);
        return ok;
    }
    static void ExpectStored(const std::string& key, bool uploaded) {
        EXPECT_EQ(StoredState(key), uploaded ? "exact" : "absent") << "after the faulty upload";
    }

    bool Download(const std::string& path, const std::function<void(int, int)>& hook,
                  RecordingCallback& cb) {
        cb.hook = hook;
        const bool ok = m->DownloadFile(kSourceKey, path.c_str(), &cb);
        if (cb.finals() > 0 || ok) ExpectOneFinal(ok, cb);
        // A failed download may have written everything before its final
        // check failed, but never a wrong byte.
        if (path != "/dev/full") {
            if (ok) {
                EXPECT_EQ(LocalState(path), "exact");
            } else {
                EXPECT_NE(LocalState(path), "wrong bytes");
            }
        }
        return ok;
    }

    // With the fault gone, the same call completes and verifies.
    void ExpectUploadRecovers(const std::string& key) {
        server_->Reset();
        RecordingCallback cb;
        EXPECT_TRUE(Upload(key, nullptr, cb));
        EXPECT_EQ(StoredState(key), "exact");
    }
    void ExpectDownloadRecovers() {
        server_->Reset();
        RecordingCallback cb;
        const std::string path = dir_->file("recovered.bin");
        EXPECT_TRUE(Download(path, nullptr, cb));
        EXPECT_EQ(LocalState(path), "exact");
    }

    // Runs `action` once, after the n-th progress notification of a part
    // (upload: percent between 20 and 95 exclusive) or a range (download).
    static std::function<void(int, int)> AfterPart(int n, std::function<void()> action) {
        auto seen = std::make_shared<int>(0);
        return [=](int result, int percent) {
            if (result == 0 && percent > 20 && percent < 95 && ++*seen == n) action();
        };
    }
    static std::function<void(int, int)> AfterRange(int n, std::function<void()> action) {
        auto seen = std::make_shared<int>(0);
        return [=](int result, int percent) {
            if (result == 0 && percent < 100 && ++*seen == n) action();
        };
    }

    void RecordUpload(const char* fault, bool ok, const RecordingCallback& cb, const char* proof) {
        Record(fault, "upload", Outcome(ok, cb), proof);
    }
    void RecordDownload(const char* fault, bool ok, const RecordingCallback& cb,
                        const char* proof) {
        Record(fault, "download", Outcome(ok, cb), proof);
    }

    static DevServer* server_;
    static TempDir* dir_;
    static std::string* data_;
    static std::string* source_;
    static uint64_t crc_;
};

DevServer* FaultMatrix::server_ = nullptr;
TempDir* FaultMatrix::dir_ = nullptr;
std::string* FaultMatrix::data_ = nullptr;
std::string* FaultMatrix::source_ = nullptr;
uint64_t FaultMatrix::crc_ = 0;

TEST_F(FaultMatrix, ServerKilledAndRestarted) {
    RecordingCallback up;
    const bool ok =
        Upload("matrix/killed.bin", AfterPart(2, [] { server_->Kill(); }), up, "", false);
    EXPECT_FALSE(ok);
    server_->Restart();
    ExpectStored("matrix/killed.bin", ok);
    ExpectUploadRecovers("matrix/killed.bin");
    RecordUpload("server-killed", ok, up, "no object; next upload exact");

    RecordingCallback down;
    const bool got =
        Download(dir_->file("killed.bin"), AfterRange(10, [] { server_->Kill(); }), down);
    EXPECT_FALSE(got);
    server_->Restart();
    ExpectDownloadRecovers();
    RecordDownload("server-killed", got, down, "partial file is a prefix; next download exact");
}

TEST_F(FaultMatrix, ConnectionClosedMidBody) {
    // The part listing's answer is cut after 20 bytes.
    server_->AddFault(
        R"({"method":"GET","subresource":"uploadId","action":"close","close_after_bytes":20})");
    RecordingCallback up;
    const bool ok = Upload("matrix/closed.bin", nullptr, up);
    EXPECT_FALSE(ok);
    ExpectUploadRecovers("matrix/closed.bin");
    RecordUpload("connection-closed", ok, up, "no object; next upload exact");

    RecordingCallback down;
    const bool got = Download(
        dir_->file("closed.bin"),
        AfterRange(10,
                   [] {
                       server_->AddFault(
                           R"({"method":"GET","action":"close","close_after_bytes":1000})");
                   }),
        down);
    EXPECT_FALSE(got);
    ExpectDownloadRecovers();
    RecordDownload("connection-closed", got, down, "partial file is a prefix; next download exact");
}

TEST_F(FaultMatrix, ServerErrorOnOnePartOrRange) {
    RecordingCallback up;
    const bool ok =
        Upload("matrix/500.bin",
               AfterPart(2,
                         [] {
                             server_->AddFault(
                                 R"({"method":"PUT","subresource":"partNumber","status":500})");
                         }),
               up);
    EXPECT_FALSE(ok);
    ExpectUploadRecovers("matrix/500.bin");
    RecordUpload("error-500", ok, up, "no object; next upload exact");

    RecordingCallback down;
    const bool got = Download(
        dir_->file("500.bin"),
        AfterRange(10, [] { server_->AddFault(R"({"method":"GET","status":500})"); }), down);
    EXPECT_FALSE(got);
    ExpectDownloadRecovers();
    RecordDownload("error-500", got, down, "partial file is a prefix; next download exact");
}

TEST_F(FaultMatrix, EveryCredentialExpiresBetweenParts) {
    // After every part the credentials expire: each following part meets an
    // expired token, refreshes, and is sent again.
    RecordingCallback up;
    up.hook = [](int result, int percent) {
        if (result == 0 && percent > 20 && percent < 90) server_->ExpireCredentials();
    };
    const bool ok = m->UploadFile(source_->c_str(), kFileSize, "matrix/expiring.bin", &up);
    ExpectOneFinal(ok, up);
    EXPECT_TRUE(ok);
    EXPECT_EQ(StoredState("matrix/expiring.bin"), "exact");
    int refreshes = 0;
    for (const std::string& line : testlog::Messages("MultiUploadFile"))
        refreshes += line == "sts expire , try again!";
    EXPECT_EQ(refreshes, 3);
    RecordUpload("credentials-expire", ok, up, "3 refreshes; object exact");

    // A download does not refresh: the range after the expiry fails.
    RecordingCallback down;
    const bool got = Download(dir_->file("expired.bin"),
                              AfterRange(10, [] { server_->ExpireCredentials(); }), down);
    EXPECT_FALSE(got);
    ExpectDownloadRecovers();
    RecordDownload("credentials-expire", got, down,
                   "partial file is a prefix; next download exact");
}

TEST_F(FaultMatrix, WebApiDownDuringRefresh) {
    RecordingCallback up;
    const bool ok =
        Upload("matrix/api-down.bin",
               AfterPart(1,
                         [] {
                             // The one refresh that follows finds the web API gone.
                             server_->ScriptApi(R"({"path":"/getStsKey","close":true})");
                             server_->ExpireCredentials();
                         }),
               up);
    EXPECT_FALSE(ok);
    EXPECT_TRUE(testlog::Contains("GetStsKey", "GetStsKey fail!"));
    ExpectUploadRecovers("matrix/api-down.bin");
    RecordUpload("api-down", ok, up, "no object; next upload exact");

    // A download needs the web API only for its first credentials.
    server_->ScriptApi(R"({"path":"/getStsKey","close":true})");
    RecordingCallback down;
    const std::string path = dir_->file("api-down.bin");
    const bool got = m->DownloadFile(kSourceKey, path.c_str(), &down);
    EXPECT_FALSE(got);
    EXPECT_LE(down.finals(), 1);
    EXPECT_EQ(access(path.c_str(), F_OK), -1) << "no file is created without credentials";
    ExpectDownloadRecovers();
    RecordDownload("api-down", got, down, "no file; next download exact");
}

TEST_F(FaultMatrix, SlowServer) {
    server_->AddFault(R"({"action":"delay","delay_ms":100,"count":-1})");
    RecordingCallback up;
    const bool ok = Upload("matrix/slow.bin", nullptr, up);
    EXPECT_TRUE(ok);
    RecordUpload("slow-server", ok, up, "object exact");

    RecordingCallback down;
    const bool got = Download(dir_->file("slow.bin"), nullptr, down);
    EXPECT_TRUE(got);
    RecordDownload("slow-server", got, down, "file exact");
}

TEST_F(FaultMatrix, StoreIgnoresRange) {
    server_->Settings(R"({"ignore_range":true})");
    RecordingCallback down;
    const bool got = Download(dir_->file("norange.bin"), nullptr, down);
    EXPECT_FALSE(got);
    ExpectDownloadRecovers();
    RecordDownload("range-ignored", got, down, "nothing written; next download exact");
}

TEST_F(FaultMatrix, WrongCrcFromTheStore) {
    RecordingCallback up;
    const bool ok = Upload(
        "matrix/crc.bin",
        AfterPart(2,
                  [] {
                      server_->AddFault(
                          R"({"method":"PUT","subresource":"partNumber","action":"bad_crc"})");
                  }),
        up);
    EXPECT_FALSE(ok);
    ExpectUploadRecovers("matrix/crc.bin");
    RecordUpload("bad-crc", ok, up, "no object; next upload exact");

    // The metadata announces a CRC-64 that the bytes do not have.
    server_->AddFault(R"({"method":"HEAD","action":"bad_crc"})");
    RecordingCallback down;
    const bool got = Download(dir_->file("crc.bin"), nullptr, down);
    EXPECT_FALSE(got);
    ExpectDownloadRecovers();
    RecordDownload("bad-crc", got, down, "reported as failed; next download exact");
}

// The metadata announces 20 MiB of the 40: the download fetches what it was
// told, and must not call half an object a success.
TEST_F(FaultMatrix, MetadataAnnouncesAShorterObject) {
    server_->AddFault(R"({"method":"HEAD","action":"truncate_body","keep_bytes":20971520})");
    RecordingCallback down;
    const bool got = Download(dir_->file("short-meta.bin"), nullptr, down);
    EXPECT_FALSE(got);
    EXPECT_EQ(ReadFileBytes(dir_->file("short-meta.bin")).size(), static_cast<size_t>(20 * kMiB));
    ExpectDownloadRecovers();
    RecordDownload("metadata-short", got, down, "partial file is a prefix; next download exact");
}

TEST_F(FaultMatrix, LocalDiskFullDuringDownload) {
    RecordingCallback down;
    const bool got = Download("/dev/full", nullptr, down);
    EXPECT_FALSE(got);
    EXPECT_EQ(down.events().size(), 1u) << "no progress is reported for unwritten bytes";
    ExpectDownloadRecovers();
    RecordDownload("disk-full", got, down, "no progress reported; next download exact");
}

TEST_F(FaultMatrix, LocalFileTruncatedDuringUpload) {
    const std::string path = dir_->file("shrinking.bin");
    ASSERT_TRUE(WriteFileBytes(path, *data_));
    RecordingCallback up;
    const bool ok =
        Upload("matrix/truncated.bin",
               AfterPart(1, [path] { ASSERT_EQ(truncate(path.c_str(), 15 * kMiB), 0); }), up, path);
    EXPECT_FALSE(ok);
    ExpectUploadRecovers("matrix/truncated.bin");
    RecordUpload("local-file-truncated", ok, up, "no object; next upload exact");
}

// The file shrinks to 35 MiB after the third part: the last part finds only
// half of its bytes. The upload must not complete with fewer bytes than the
// size it was given.
TEST_F(FaultMatrix, LocalFileShrinksBeforeTheLastPart) {
    const std::string path = dir_->file("shrinking-tail.bin");
    ASSERT_TRUE(WriteFileBytes(path, *data_));
    RecordingCallback up;
    const bool ok =
        Upload("matrix/shrunk-tail.bin",
               AfterPart(3, [path] { ASSERT_EQ(truncate(path.c_str(), 35 * kMiB), 0); }), up, path);
    EXPECT_FALSE(ok);
    ExpectUploadRecovers("matrix/shrunk-tail.bin");
    RecordUpload("local-file-shrunk", ok, up, "no object; next upload exact");
}

TEST_F(FaultMatrix, LocalFileDeletedDuringUpload) {
    const std::string path = dir_->file("vanishing.bin");
    ASSERT_TRUE(WriteFileBytes(path, *data_));
    RecordingCallback up;
    const bool ok = Upload("matrix/deleted.bin",
                           AfterPart(1, [path] { ASSERT_EQ(unlink(path.c_str()), 0); }), up, path);
    EXPECT_FALSE(ok);
    ExpectUploadRecovers("matrix/deleted.bin");
    RecordUpload("local-file-deleted", ok, up, "no object; next upload exact");
}

TEST_F(FaultMatrix, CorruptedAnswerBody) {
    // The part listing's XML has a byte inverted.
    server_->AddFault(R"({"method":"GET","subresource":"uploadId","action":"corrupt_body"})");
    RecordingCallback up;
    const bool ok = Upload("matrix/corrupt.bin", nullptr, up);
    EXPECT_FALSE(ok);
    ExpectUploadRecovers("matrix/corrupt.bin");
    RecordUpload("body-corrupt", ok, up, "no object; next upload exact");

    // One range arrives whole but with a byte inverted.
    RecordingCallback down;
    const std::string path = dir_->file("corrupt.bin");
    down.hook =
        AfterRange(10, [] { server_->AddFault(R"({"method":"GET","action":"corrupt_body"})"); });
    const bool got = m->DownloadFile(kSourceKey, path.c_str(), &down);
    ExpectOneFinal(got, down);
    EXPECT_FALSE(got) << "a download with a corrupted range is never reported as a success";
    ExpectDownloadRecovers();
    RecordDownload("body-corrupt", got, down, "reported as failed; next download exact");
}

TEST_F(FaultMatrix, TruncatedAnswerBody) {
    server_->AddFault(R"({"method":"GET","subresource":"uploadId","action":"truncate_body"})");
    RecordingCallback up;
    const bool ok = Upload("matrix/short.bin", nullptr, up);
    EXPECT_FALSE(ok);
    ExpectUploadRecovers("matrix/short.bin");
    RecordUpload("body-truncated", ok, up, "no object; next upload exact");

    RecordingCallback down;
    const bool got = Download(
        dir_->file("short.bin"),
        AfterRange(10, [] { server_->AddFault(R"({"method":"GET","action":"truncate_body"})"); }),
        down);
    EXPECT_FALSE(got);
    ExpectDownloadRecovers();
    RecordDownload("body-truncated", got, down, "partial file is a prefix; next download exact");
}

// A listing of two pages whose second page is broken: the first page was
// delivered, the second is not, and the listing fails.
TEST_F(FaultMatrix, MalformedOrTruncatedListing) {
    for (const char* name : {"a", "b", "c"}) {
        ASSERT_EQ(
            server_->StoreRequest("PUT", "/" + server_->bucket() + "/matrix/list/" + name, name)
                .first,
            200);
    }
    const struct {
        const char* fault;
        const char* rule;
    } rows[] = {{"body-corrupt", R"({"method":"GET","action":"corrupt_body"})"},
                {"body-truncated", R"({"method":"GET","action":"truncate_body"})"}};
    for (const auto& row : rows) {
        server_->Reset();
        server_->Settings(R"({"max_list_keys":2})");
        RecordingCallback cb(Payload::kPages);
        cb.hook = [&](int result, int percent) {
            if (result == 0 && percent == 0) server_->AddFault(row.rule);
        };
        const bool ok = m->ListRemotePath("matrix/list/", &cb, nullptr);
        ExpectOneFinal(ok, cb);
        EXPECT_FALSE(ok) << row.fault;
        ASSERT_EQ(cb.pages().size(), 1u) << row.fault;
        EXPECT_EQ(cb.pages()[0].size(), 2u);
        Record(row.fault, "list", Outcome(ok, cb), "first page only; next listing complete");

        server_->Reset();
        server_->Settings(R"({"max_list_keys":2})");
        RecordingCallback again(Payload::kPages);
        EXPECT_TRUE(m->ListRemotePath("matrix/list/", &again, nullptr));
        size_t entries = 0;
        for (const auto& page : again.pages()) entries += page.size();
        EXPECT_EQ(entries, 3u);
    }
}

}  // namespace
