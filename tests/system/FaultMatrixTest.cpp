// The fault matrix: an upload and a download of three parts through the
// manager under one fault each, injected at a fixed point (from the progress
// callback, never by timing) or set before the call. Every row checks the
// outcome the reliability page lists (written to the table that
// system_fault_table_doc compares with docs/reliability.md), that an upload
// stored exactly the source or nothing, that a download never leaves a wrong
// byte unless the store sent it, and that the next transfers complete.
#include <unistd.h>

#include <algorithm>
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
using Action = std::function<void()>;

constexpr long long kSize = 20 * kMiB + 300 * 1024;  // parts of 10, 10 and 0.3 MiB
const char kSourceKey[] = "matrix/source.bin";

// Runs `action` once, after the n-th progress step above `low` percent and
// below 95: a part of an upload (above 20) or a range of a download.
Hook AfterStep(int low, int n, Action action) {
    auto seen = std::make_shared<int>(0);
    return [=](int result, int percent) {
        if (result == 0 && percent > low && percent < 95 && ++*seen == n) action();
    };
}
const auto AfterPart = [](int n, Action action) { return AfterStep(20, n, std::move(action)); };
const auto AfterRange = [](int n, Action action) { return AfterStep(-1, n, std::move(action)); };

class FaultMatrix : public ServerSuite {
protected:
    static Action Fault(const char* rule) {
        return [rule] { server_->AddFault(rule); };
    }
    // Whether the store holds exactly the source under `key`, or nothing.
    std::string StoredState(const std::string& key) {
        const DevServer::Response head =
            server_->StoreExchange("HEAD", "/" + server_->bucket() + "/" + key);
        if (head.status == 404) return "absent";
        const uint64_t crc = devserver::Crc64Update(0, data_.data(), data_.size());
        return head.header("x-oss-hash-crc64ecma") == std::to_string(crc) ? "exact" : "different";
    }
    // The local file is the source, or a prefix of it.
    std::string LocalState(const std::string& path) {
        const std::string got = ReadFileBytes(path);
        if (got == data_) return "exact";
        return data_.compare(0, got.size(), got) == 0 ? "prefix" : "wrong bytes";
    }
    // The returned value and the final notification ("none" without one),
    // which must be the only one with 100 percent and the last.
    static std::string Outcome(bool ok, const RecordingCallback& cb) {
        const std::string trace = cb.trace(), text = ok ? "true, " : "false, ";
        const size_t end = trace.find(":100");
        if (end == std::string::npos) return text + "none";
        if (end + 4 != trace.size()) return text + "notified after the end: " + trace;
        const size_t start = trace.rfind(' ', end) + 1;
        return text + "(" + trace.substr(start, end - start) + ", 100)";
    }

    const std::string data_ = RandomBytes(kSize, 40);
    std::string source_, target_;
};

TEST_F(FaultMatrix, EveryFaultOfTheReliabilityPage) {
    PutObject(kSourceKey, data_);
    const Action kill = [] { server_->Kill(); }, restart = [] { server_->Restart(); },
                 expire = [] { server_->ExpireCredentials(); },
                 api_gone = [] { server_->ScriptApi(R"({"path":"/getStsKey","close":true})"); },
                 api_gone_then_expire = [=] {
                     api_gone();
                     expire();
                 };
    auto truncated_to = [this](long long size) {
        return [this, size] { ASSERT_EQ(truncate(source_.c_str(), size), 0); };
    };
    const struct {
        const char* op;
        const char* fault;
        const char* outcome;
        Action before;
        Hook hook = nullptr;
        Action after = nullptr;         // runs before the checks
        bool wrong_bytes_sent = false;  // by the store itself
    } rows[] = {
        {"upload", "server-killed", "false, (1, 100)", nullptr, AfterPart(2, kill), restart},
        {"download", "server-killed", "false, (1, 100)", nullptr, AfterRange(10, kill), restart},
        {"upload", "connection-closed", "false, (1, 100)",
         Fault(
             R"({"method":"GET","subresource":"uploadId","action":"close","close_after_bytes":20})")},
        {"download", "connection-closed", "false, (1, 100)", nullptr,
         AfterRange(10, Fault(R"({"method":"GET","action":"close","close_after_bytes":1000})"))},
        {"upload", "error-500", "false, (-1, 100)", nullptr,
         AfterPart(2, Fault(R"({"method":"PUT","subresource":"partNumber","status":500})"))},
        {"download", "error-500", "false, (-1, 100)", nullptr,
         AfterRange(10, Fault(R"({"method":"GET","status":500})"))},
        // The credentials expire after every part: each following part meets
        // an expired token, the upload fetches new credentials and sends it again.
        {"upload", "credentials-expire", "true, (0, 100)", nullptr,
         [](int result, int percent) {
             if (result == 0 && percent > 20 && percent < 90) server_->ExpireCredentials();
         }},
        {"download", "credentials-expire", "false, (-1, 100)", nullptr, AfterRange(10, expire)},
        // The one refresh that follows part 1 finds the web API gone.
        {"upload", "api-down", "false, (-1, 100)", nullptr, AfterPart(1, api_gone_then_expire)},
        {"download", "api-down", "false, none", api_gone},
        {"upload", "slow-server", "true, (0, 100)",
         Fault(R"({"action":"delay","delay_ms":50,"count":-1})")},
        {"download", "slow-server", "true, (0, 100)",
         Fault(R"({"action":"delay","delay_ms":50,"count":-1})")},
        {"download", "range-ignored", "false, (-1, 100)",
         [] { server_->Settings(R"({"ignore_range":true})"); }, nullptr,
         [this] { EXPECT_EQ(ReadFileBytes(target_), ""); }},
        {"upload", "bad-crc", "false, (-1, 100)", nullptr,
         AfterPart(2, Fault(R"({"method":"PUT","subresource":"partNumber","action":"bad_crc"})"))},
        {"download", "bad-crc", "false, (-1, 100)",
         Fault(R"({"method":"HEAD","action":"bad_crc"})")},
        // The download fetches the half that the metadata announces: no success.
        {"download", "metadata-short", "false, (-1, 100)",
         Fault(R"({"method":"HEAD","action":"truncate_body","keep_bytes":10485760})"), nullptr,
         [this] { EXPECT_EQ(ReadFileBytes(target_).size(), static_cast<size_t>(10 * kMiB)); }},
        {"download", "disk-full", "false, (-1, 100)", [this] { target_ = "/dev/full"; },
         [](int, int percent) { EXPECT_EQ(percent, 100) << "progress for unwritten bytes"; }},
        {"upload", "local-file-truncated", "false, (-1, 100)", nullptr,
         AfterPart(1, truncated_to(15 * kMiB))},
        {"upload", "local-file-shrunk", "false, (-1, 100)", nullptr,
         AfterPart(2, truncated_to(20 * kMiB + 100 * 1024))},
        {"upload", "local-file-deleted", "false, (-1, 100)", nullptr,
         AfterPart(1, [this] { ASSERT_EQ(unlink(source_.c_str()), 0); })},
        {"upload", "body-corrupt", "false, (-1, 100)",
         Fault(R"({"method":"GET","subresource":"uploadId","action":"corrupt_body"})")},
        {"upload", "body-truncated", "false, (-1, 100)",
         Fault(R"({"method":"GET","subresource":"uploadId","action":"truncate_body"})")},
        {"download", "body-corrupt", "false, (-1, 100)", nullptr,
         AfterRange(10, Fault(R"({"method":"GET","action":"corrupt_body"})")), nullptr, true},
        {"download", "body-truncated", "false, (-1, 100)", nullptr,
         AfterRange(10, Fault(R"({"method":"GET","action":"truncate_body"})"))},
    };
    const std::string small = RandomBytes(2 * kMiB + 5, 41);
    std::ofstream table(NIMBRA_FAULT_TABLE);
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.fault) + " " + row.op);
        testlog::Clear();
        const bool upload = row.op[0] == 'u';
        const std::string key = std::string("matrix/") + row.fault + ".bin";
        source_ = MakeFile("source.bin", data_);
        target_ = dir_.file(std::string(row.fault) + ".download");
        if (row.before) row.before();
        RecordingCallback cb;
        cb.hook = row.hook;
        const bool ok = upload ? m->UploadFile(source_.c_str(), kSize, key.c_str(), &cb)
                               : m->DownloadFile(kSourceKey, target_.c_str(), &cb);
        if (row.after) row.after();
        EXPECT_EQ(Outcome(ok, cb), row.outcome);
        if (upload || ok) {
            EXPECT_EQ(upload ? StoredState(key) : LocalState(target_), ok ? "exact" : "absent");
        } else if (!row.wrong_bytes_sent && target_ != "/dev/full") {
            EXPECT_NE(LocalState(target_), "wrong bytes");
        }
        // With the fault gone, a small upload and its download complete.
        server_->Reset();
        const std::string local = MakeFile("small.bin", small), back = dir_.file("back.bin");
        EXPECT_TRUE(m->UploadFile(local.c_str(), 2 * kMiB + 5, "matrix/small.bin", nullptr));
        EXPECT_TRUE(m->DownloadFile("matrix/small.bin", back.c_str(), nullptr));
        EXPECT_TRUE(ReadFileBytes(back) == small) << "the next transfers fail";
        table << row.fault << '\t' << row.op << '\t' << Outcome(ok, cb) << '\n';
    }

    // A listing of two pages whose second page is broken fails after the first.
    for (const char* name : {"a", "b", "c"}) PutObject(std::string("matrix/list/") + name, name);
    for (const char* fault : {"body-corrupt", "body-truncated"}) {
        const std::string rule = std::string(R"({"method":"GET","action":")") +
                                 (fault[5] == 'c' ? "corrupt_body" : "truncate_body") + "\"}";
        server_->Reset();
        server_->Settings(R"({"max_list_keys":2})");
        RecordingCallback cb(Payload::kPages);
        cb.hook = [&rule](int result, int percent) {
            if (result == 0 && percent == 0) server_->AddFault(rule);
        };
        const bool ok = m->ListRemotePath("matrix/list/", &cb, nullptr);
        ASSERT_EQ(cb.trace(), "0:0+ -1:100") << fault;
        EXPECT_EQ(cb.pages()[0].size(), 2u);
        server_->Reset();
        server_->Settings(R"({"max_list_keys":2})");
        EXPECT_EQ(ListAll("matrix/list/").size(), 3u) << "the next listing is incomplete";
        table << fault << "\tlist\t" << Outcome(ok, cb) << '\n';
    }
}

}  // namespace
