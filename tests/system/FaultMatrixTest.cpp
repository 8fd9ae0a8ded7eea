// The fault matrix: an upload and a download of three parts' worth of bytes
// through the manager, each under one fault injected at a fixed point (from
// the progress callback, never by timing) or set before the call. Every row
// checks the outcome the reliability page lists, exactly one final
// notification agreeing with the returned value, that a successful upload
// stored exactly the source and a failed one no object, that a download
// never leaves a wrong byte unless the store sent it, and that the next call
// with the fault gone completes and verifies. Each row is also written to
// the table that system_fault_table_doc checks against docs/reliability.md.
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <functional>

#include "Crc64.h"
#include "tests/system/SystemTest.h"

#ifndef NIMBRA_FAULT_TABLE
#error "NIMBRA_FAULT_TABLE must name the results table to write"
#endif

namespace {

using namespace systest;
using Hook = std::function<void(int result, int percent)>;

constexpr long long kSize = 20 * kMiB + 300 * 1024;  // parts of 10, 10 and 0.3 MiB
const char kSourceKey[] = "matrix/source.bin";
const char kSmallKey[] = "matrix/small.bin";

// Runs `action` once, after the n-th progress notification of a part
// (upload: between 20 and 95 exclusive) or of a range (download).
Hook AfterPart(int n, std::function<void()> action) {
    auto seen = std::make_shared<int>(0);
    return [=](int result, int percent) {
        if (result == 0 && percent > 20 && percent < 95 && ++*seen == n) action();
    };
}
Hook AfterRange(int n, std::function<void()> action) {
    auto seen = std::make_shared<int>(0);
    return [=](int result, int percent) {
        if (result == 0 && percent < 100 && ++*seen == n) action();
    };
}

class FaultMatrix : public ServerSuite {
protected:
    static void SetUpTestSuite() {
        StartServer();
        data_ = RandomBytes(kSize, 40);
        small_ = RandomBytes(2 * kMiB + 5, 41);
        server_->StoreRequest("PUT", "/" + server_->bucket() + "/" + kSourceKey, data_);
        server_->StoreRequest("PUT", "/" + server_->bucket() + "/" + kSmallKey, small_);
    }

    // Whether the store holds exactly the source under `key`, or nothing.
    static std::string StoredState(const std::string& key) {
        const DevServer::Response head =
            server_->StoreExchange("HEAD", "/" + server_->bucket() + "/" + key);
        if (head.status == 404) return "absent";
        const uint64_t crc = devserver::Crc64Update(0, data_.data(), data_.size());
        return head.header("content-length") == std::to_string(kSize) &&
                       head.header("x-oss-hash-crc64ecma") == std::to_string(crc)
                   ? "exact"
                   : "different";
    }
    // The local file is the source, or a prefix of it.
    static std::string LocalState(const std::string& path) {
        const std::string got = ReadFileBytes(path);
        if (got == data_) return "exact";
        return data_.compare(0, got.size(), got) == 0 ? "prefix" : "wrong bytes";
    }
    static std::string Outcome(bool returned, const RecordingCallback& cb) {
        std::string text = returned ? "true" : "false";
        if (cb.finals() == 0) return text + ", none";
        return text + ", (" + std::to_string(cb.last().result) + ", " +
               std::to_string(cb.last().percent) + ")";
    }
    static void Record(const std::string& fault, const char* op, const std::string& outcome) {
        static bool first = true;
        std::ofstream out(NIMBRA_FAULT_TABLE, first ? std::ios::trunc : std::ios::app);
        first = false;
        out << fault << '\t' << op << '\t' << outcome << '\n';
    }
    // The last notification, if any, is the one final one and agrees with
    // the returned value.
    static void ExpectOneFinal(bool ok, const RecordingCallback& cb) {
        if (cb.events().empty() && !ok) return;
        EXPECT_EQ(cb.finals(), 1);
        EXPECT_EQ(cb.last().percent, 100);
        EXPECT_EQ(ok, cb.last().result == 0);
    }

    // One upload row of `source_`; `after_call` runs before the checks.
    void Upload(const char* fault, const char* outcome, const Hook& hook,
                const std::function<void()>& after_call = nullptr) {
        const std::string key = std::string("matrix/") + fault + ".bin";
        RecordingCallback cb;
        cb.hook = hook;
        bool ok = false;
        {
            Watchdog watchdog(m, 30);
            ok = m->UploadFile(source_.c_str(), kSize, key.c_str(), &cb);
        }
        if (after_call) after_call();
        EXPECT_EQ(Outcome(ok, cb), outcome);
        ExpectOneFinal(ok, cb);
        EXPECT_EQ(StoredState(key), ok ? "exact" : "absent");
        server_->Reset();
        const std::string small = MakeFile("recovery.bin", small_);
        EXPECT_TRUE(m->UploadFile(small.c_str(), static_cast<long long>(small_.size()),
                                  "matrix/recovered.bin", nullptr))
            << "the next upload fails";
        Record(fault, "upload", Outcome(ok, cb));
    }
    // One download row. `wrong_bytes_sent`: the store itself sent wrong bytes.
    void Download(const char* fault, const char* outcome, const Hook& hook,
                  const std::function<void()>& after_call = nullptr,
                  bool wrong_bytes_sent = false) {
        RecordingCallback cb;
        cb.hook = hook;
        bool ok = false;
        {
            Watchdog watchdog(m, 30);
            ok = m->DownloadFile(kSourceKey, target_.c_str(), &cb);
        }
        if (after_call) after_call();
        EXPECT_EQ(Outcome(ok, cb), outcome);
        ExpectOneFinal(ok, cb);
        if (ok) {
            EXPECT_EQ(LocalState(target_), "exact");
        } else if (!wrong_bytes_sent && target_ != "/dev/full") {
            EXPECT_NE(LocalState(target_), "wrong bytes");
        }
        server_->Reset();
        const std::string again = dir_.file("recovered.bin");
        EXPECT_TRUE(m->DownloadFile(kSmallKey, again.c_str(), nullptr))
            << "the next download fails";
        EXPECT_TRUE(ReadFileBytes(again) == small_);
        Record(fault, "download", Outcome(ok, cb));
    }

    void SetUp() override {
        ServerSuite::SetUp();
        source_ = MakeFile("source.bin", data_);
        target_ = dir_.file("download.bin");
    }

    static Hook FaultAfterPart(int n, const char* rule) {
        return AfterPart(n, [rule] { server_->AddFault(rule); });
    }
    static Hook FaultAfterRange(int n, const char* rule) {
        return AfterRange(n, [rule] { server_->AddFault(rule); });
    }

    static inline std::string data_, small_;
    std::string source_, target_;
};

TEST_F(FaultMatrix, ServerKilledAndRestarted) {
    Upload("server-killed", "false, (1, 100)", AfterPart(2, [] { server_->Kill(); }),
           [] { server_->Restart(); });
    Download("server-killed", "false, (1, 100)", AfterRange(10, [] { server_->Kill(); }),
             [] { server_->Restart(); });
}

TEST_F(FaultMatrix, ConnectionClosedMidBody) {
    // The part listing's answer is cut after 20 bytes.
    server_->AddFault(
        R"({"method":"GET","subresource":"uploadId","action":"close","close_after_bytes":20})");
    Upload("connection-closed", "false, (1, 100)", nullptr);
    Download("connection-closed", "false, (1, 100)",
             FaultAfterRange(10, R"({"method":"GET","action":"close","close_after_bytes":1000})"));
}

TEST_F(FaultMatrix, ServerErrorOnOnePartOrRange) {
    Upload("error-500", "false, (-1, 100)",
           FaultAfterPart(2, R"({"method":"PUT","subresource":"partNumber","status":500})"));
    Download("error-500", "false, (-1, 100)",
             FaultAfterRange(10, R"({"method":"GET","status":500})"));
}

// The credentials expire after every part: each following part meets an
// expired token, the upload fetches new credentials and sends it again.
TEST_F(FaultMatrix, CredentialsExpireMidTransfer) {
    Upload("credentials-expire", "true, (0, 100)", [](int result, int percent) {
        if (result == 0 && percent > 20 && percent < 90) server_->ExpireCredentials();
    });
    int refreshes = 0;
    for (const std::string& line : testlog::Messages("MultiUploadFile"))
        refreshes += line == "sts expire , try again!";
    EXPECT_EQ(refreshes, 2);
    EXPECT_TRUE(testlog::Contains("MultiUploadFile", "error code: SecurityTokenExpired"));
    EXPECT_TRUE(testlog::Messages("GetStsKey").empty());

    // A download does not refresh: the range after the expiry fails.
    Download("credentials-expire", "false, (-1, 100)",
             AfterRange(10, [] { server_->ExpireCredentials(); }));
}

TEST_F(FaultMatrix, WebApiDownWhenCredentialsAreNeeded) {
    Upload("api-down", "false, (-1, 100)", AfterPart(1, [] {
               // The one refresh that follows finds the web API gone.
               server_->ScriptApi(R"({"path":"/getStsKey","close":true})");
               server_->ExpireCredentials();
           }));
    EXPECT_TRUE(testlog::Contains("GetStsKey", "GetStsKey fail!"));

    server_->ScriptApi(R"({"path":"/getStsKey","close":true})");
    Download("api-down", "false, none", nullptr);
    EXPECT_EQ(access(target_.c_str(), F_OK), -1) << "no file is created without credentials";
}

TEST_F(FaultMatrix, SlowServer) {
    server_->AddFault(R"({"action":"delay","delay_ms":50,"count":-1})");
    Upload("slow-server", "true, (0, 100)", nullptr);
    server_->AddFault(R"({"action":"delay","delay_ms":50,"count":-1})");
    Download("slow-server", "true, (0, 100)", nullptr);
}

TEST_F(FaultMatrix, StoreIgnoresRange) {
    server_->Settings(R"({"ignore_range":true})");
    Download("range-ignored", "false, (-1, 100)", nullptr);
    EXPECT_EQ(ReadFileBytes(target_), "");
}

TEST_F(FaultMatrix, WrongCrcFromTheStore) {
    Upload("bad-crc", "false, (-1, 100)",
           FaultAfterPart(2, R"({"method":"PUT","subresource":"partNumber","action":"bad_crc"})"));
    // The metadata announces a CRC-64 that the bytes do not have.
    server_->AddFault(R"({"method":"HEAD","action":"bad_crc"})");
    Download("bad-crc", "false, (-1, 100)", nullptr);
}

// The metadata announces half the object: the download fetches what it was
// told and must not call half an object a success.
TEST_F(FaultMatrix, MetadataAnnouncesAShorterObject) {
    server_->AddFault(R"({"method":"HEAD","action":"truncate_body","keep_bytes":10485760})");
    Download("metadata-short", "false, (-1, 100)", nullptr);
    EXPECT_EQ(ReadFileBytes(target_).size(), static_cast<size_t>(10 * kMiB));
}

TEST_F(FaultMatrix, LocalDiskFullDuringDownload) {
    target_ = "/dev/full";
    Download("disk-full", "false, (-1, 100)",
             [](int, int percent) { EXPECT_EQ(percent, 100) << "progress for unwritten bytes"; });
}

TEST_F(FaultMatrix, LocalFileChangesDuringUpload) {
    const std::string path = source_;
    Upload("local-file-truncated", "false, (-1, 100)",
           AfterPart(1, [path] { ASSERT_EQ(truncate(path.c_str(), 15 * kMiB), 0); }));
    // Only the last part finds fewer bytes than the size given.
    source_ = MakeFile("source.bin", data_);
    Upload("local-file-shrunk", "false, (-1, 100)",
           AfterPart(2, [path] { ASSERT_EQ(truncate(path.c_str(), 20 * kMiB + 100 * 1024), 0); }));
    source_ = MakeFile("source.bin", data_);
    Upload("local-file-deleted", "false, (-1, 100)",
           AfterPart(1, [path] { ASSERT_EQ(unlink(path.c_str()), 0); }));
}

TEST_F(FaultMatrix, CorruptedOrTruncatedAnswerBody) {
    // The part listing's XML with a byte inverted, or cut to half.
    server_->AddFault(R"({"method":"GET","subresource":"uploadId","action":"corrupt_body"})");
    Upload("body-corrupt", "false, (-1, 100)", nullptr);
    server_->AddFault(R"({"method":"GET","subresource":"uploadId","action":"truncate_body"})");
    Upload("body-truncated", "false, (-1, 100)", nullptr);

    // One range arrives whole but with a byte inverted, or cut to half.
    Download("body-corrupt", "false, (-1, 100)",
             FaultAfterRange(10, R"({"method":"GET","action":"corrupt_body"})"), nullptr, true);
    Download("body-truncated", "false, (-1, 100)",
             FaultAfterRange(10, R"({"method":"GET","action":"truncate_body"})"));

    // A listing of two pages whose second page is broken: the first page was
    // delivered, the second is not, and the listing fails.
    for (const char* name : {"a", "b", "c"}) PutObject(std::string("matrix/list/") + name, name);
    for (const char* action : {"corrupt_body", "truncate_body"}) {
        const std::string fault =
            std::string("body-") + (action[0] == 'c' ? "corrupt" : "truncated");
        server_->Reset();
        server_->Settings(R"({"max_list_keys":2})");
        RecordingCallback cb(Payload::kPages);
        cb.hook = [action](int result, int percent) {
            if (result == 0 && percent == 0)
                server_->AddFault(std::string(R"({"method":"GET","action":")") + action + "\"}");
        };
        const bool ok = m->ListRemotePath("matrix/list/", &cb, nullptr);
        EXPECT_EQ(Outcome(ok, cb), "false, (-1, 100)") << fault;
        ExpectOneFinal(ok, cb);
        ASSERT_EQ(cb.pages().size(), 1u) << fault;
        EXPECT_EQ(cb.pages()[0].size(), 2u);
        server_->Reset();
        server_->Settings(R"({"max_list_keys":2})");
        EXPECT_EQ(ListAll("matrix/list/").size(), 3u) << "the next listing is incomplete";
        Record(fault, "list", Outcome(ok, cb));
    }
}

}  // namespace
