// Each store operation of the library against the process's one development
// server (its web API on the port compiled into the tests' library copy, so
// the upload's credential refresh reaches it), and against scripted peers
// for what must be seen on the wire. After every test the operation must
// have released the store layer.
#include <algorithm>

#include "Contracts/oss/oss_api.h"
#include "Nimbra/OssOperate.h"
#include "RequestText.h"
#include "tests/support/LogCapture.h"
#include "tests/support/RecordingCallback.h"
#include "tests/support/SharedDevServerTest.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestData.h"
#include "tests/support/TestServers.h"

namespace {

using testcb::RecordingCallback;
using testdata::RandomBytes;
using Lines = std::vector<std::string>;
constexpr long long kMiB = 1048576;

// The notifications in order: "result:percent" (the result left out when 0),
// and a listing page as "[name size, folder/]". A folder with a size or a
// time shows as "folder/?".
std::string Trace(const RecordingCallback& cb) {
    std::string trace;
    const std::vector<std::vector<_ST_RemotePathInfo>> pages = cb.pages();
    size_t page = 0;
    for (const testcb::Event& e : cb.events()) {
        trace += trace.empty() ? "" : " ";
        if (!e.has_data) {
            trace += (e.result ? std::to_string(e.result) + ":" : "") + std::to_string(e.percent);
            continue;
        }
        std::string entries;
        for (const _ST_RemotePathInfo& i : pages.at(page++))
            entries += (entries.empty() ? "" : ", ") + std::string(i.szPathName) +
                       (!i.bIsDir                         ? " " + std::to_string(i.llFileSize)
                        : i.llFileSize || i.tLastModified ? "/?"
                                                          : "/");
        trace += (e.result || e.percent ? "data?[" : "[") + entries + "]";
    }
    return trace;
}

std::string Refused(const webtest::RefusingPort& port) {
    return "http://127.0.0.1:" + std::to_string(port.port());
}

// True when this thread holds the store layer no longer: a request then
// fails before it is sent.
bool LayerReleased() {
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

class Ops : public SharedDevServerTest {
protected:
    // The web API where the tests' library copy fetches fresh credentials.
    DevServerOptions Options() const override {
        return {false, false, "nimbra-backup", NIMBRA_TEST_API_PORT};
    }
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
    // The operations against endpoint_ (the server's, unless a test points it elsewhere).
    bool Download(const std::string& key, const std::string& path, RecordingCallback* cb) {
        return DownloadFile(ep(), ak(), sk(), bucket(), tok(), key.c_str(), path.c_str(), cb);
    }
    bool List(const char* prefix, RecordingCallback& cb, bool* stop = nullptr) {
        return ListObject(ep(), ak(), sk(), bucket(), tok(), prefix, &cb, stop);
    }
    bool Upload(const std::string& key, const std::string& path, long long size,
                RecordingCallback& cb) {
        return MultiUploadFile(ep(), ak(), sk(), bucket(), tok(), key.c_str(), path.c_str(), size,
                               &cb);
    }
    // The id of the upload whose initiation was logged last.
    static std::string UploadId() {
        const Lines logs = testlog::Messages("MultiUploadFile");
        for (auto it = logs.rbegin(); it != logs.rend(); ++it)
            if (it->rfind("Init multipart upload succeeded, upload_id:", 0) == 0)
                return it->substr(43, it->size() - 44);
        return "";
    }
    // The last log line of `function`, cut to the length of `prefix`.
    static std::string LastLog(const std::string& function, const std::string& prefix) {
        const Lines logs = testlog::Messages(function);
        return logs.empty() ? "<none>" : logs.back().substr(0, prefix.size());
    }

    DevServer::Credentials creds_;
    std::string endpoint_;
    TempDir dir_;
};

using SimpleOps = Ops;

TEST_F(SimpleOps, PutCopyDeleteCreateBucketAndNullArguments) {
    const std::string data = RandomBytes(300000, 1), key = "keys/a b+c%d\xc3\xa9?#&=.bin";
    EXPECT_TRUE(
        UploadFile(ep(), ak(), sk(), bucket(), tok(), key.c_str(), Local("up", data).c_str()));
    EXPECT_TRUE(Stored(devserver::PercentEncode(key, true)) == data);
    // The store wants the credential's token: a null token is not sent.
    EXPECT_FALSE(UploadFile(ep(), ak(), sk(), bucket(), nullptr, "s/t", Local("t", "x").c_str()));
    EXPECT_FALSE(UploadFile(ep(), ak(), sk(), bucket(), tok(), "s/t", "/no/such/file"));
    // The store's checksum of what it received must match what was sent.
    server_->AddFault(R"({"method":"PUT","action":"bad_crc"})");
    EXPECT_FALSE(UploadFile(ep(), ak(), sk(), bucket(), tok(), "s/t", dir_.file("t").c_str()));
    EXPECT_EQ(Requests("PutObject"), 3);

    Put("s/src", "payload");
    EXPECT_TRUE(CopyObject(ep(), ak(), sk(), tok(), bucket(), bucket(), "s/src", "s/a"));
    EXPECT_EQ(Stored("s/a") + Stored("s/src"), "payload<status 404>");
    // A missing source: nothing is deleted.
    EXPECT_FALSE(CopyObject(ep(), ak(), sk(), tok(), bucket(), bucket(), "s/src", "s/b"));
    EXPECT_EQ(Requests("DeleteObject"), 1);
    // The delete fails: the copy stays and so does the source.
    server_->AddFault(R"({"method":"DELETE","status":500,"message":"disk on fire"})");
    EXPECT_FALSE(CopyObject(ep(), ak(), sk(), tok(), bucket(), bucket(), "s/a", "s/c"));
    EXPECT_EQ(Stored("s/a") + Stored("s/c"), "payloadpayload");

    EXPECT_TRUE(DeleteObject(ep(), ak(), sk(), bucket(), tok(), "s/c"));  // 204
    EXPECT_EQ(Stored("s/c"), "<status 404>");
    server_->AddFault(R"({"method":"DELETE","status":503,"message":"busy"})");
    EXPECT_FALSE(DeleteObject(ep(), ak(), sk(), bucket(), tok(), "s/a"));
    EXPECT_TRUE(CreateBucket(ep(), ak(), sk(), tok(), bucket()));
    webtest::RefusingPort refused;
    endpoint_ = Refused(refused);
    EXPECT_FALSE(DeleteObject(ep(), ak(), sk(), bucket(), tok(), "s/a"));
    EXPECT_FALSE(CreateBucket(ep(), ak(), sk(), tok(), bucket()));
    // Every failure but CreateBucket's is logged, once.
    Lines logs = testlog::Messages();
    ASSERT_EQ(logs.size(), 7u);
    logs[2].resize(57);
    logs[6].resize(20);
    EXPECT_EQ(logs,
              (Lines{"oss_put_object_from_file fail, The security token you provided is invalid.",
                     "oss_put_object_from_file fail, cannot open /no/such/file: No such file or "
                     "directory",
                     "oss_put_object_from_file fail, CRC-64 of the 1 bytes sent",
                     "oss_copy_object nimbra-backup s/src fail, The specified key does not exist.",
                     "oss_delete_object nimbra-backup s/a fail, disk on fire",
                     "delete object fail, busy", "delete object fail, "}));

    // Null arguments fail without a request.
    server_->Reset();
    endpoint_ = server_->store_endpoint();
    EXPECT_FALSE(UploadFile(ep(), ak(), sk(), bucket(), tok(), "n", nullptr));
    EXPECT_FALSE(CopyObject(ep(), ak(), sk(), tok(), bucket(), bucket(), nullptr, "n"));
    EXPECT_FALSE(DeleteObject(nullptr, ak(), sk(), bucket(), tok(), "n"));
    EXPECT_FALSE(DownloadFile(ep(), ak(), sk(), bucket(), tok(), nullptr, nullptr, nullptr));
    EXPECT_FALSE(ListObject(ep(), ak(), sk(), nullptr, tok(), nullptr, nullptr, nullptr));
    EXPECT_FALSE(MultiUploadFile(ep(), ak(), sk(), bucket(), tok(), nullptr, nullptr, 5, nullptr));
    EXPECT_TRUE(server_->GetStats().requests.empty());
}

using RangedDownload = Ops;

// The Range values on the wire, then the notifications, against a peer that
// serves ranges itself; the local file is truncated first.
TEST_F(RangedDownload, RangesCoverTheObjectOnceInOrder) {
    const std::pair<long long, const char*> cases[] = {
        {0, "| 100"},
        {1, "bytes=0-0 | 95 100"},
        {kMiB, "bytes=0-1048575 | 95 100"},
        // 95 × 1048576 ÷ 1048577 is 94 in integer division.
        {kMiB + 1, "bytes=0-1048575 bytes=1048576-1048576 | 94 95 100"},
    };
    for (const auto& c : cases) {
        const std::string data = RandomBytes(c.first, 2), path = Local("out", std::string(99, 'z'));
        webtest::HttpServer peer;
        peer.get("/nimbra-backup/obj", [&](const httplib::Request&, httplib::Response& res) {
            res.set_content(data, "application/octet-stream");
        });
        peer.start();
        RecordingCallback cb;
        endpoint_ = peer.url("");
        EXPECT_TRUE(Download("obj", path, &cb));
        std::string ranges;
        for (const auto& r : peer.received())
            if (r.method == "GET") ranges += r.header("Range") + " ";
        EXPECT_EQ(ranges + "| " + Trace(cb), c.second);
        EXPECT_TRUE(ReadFileBytes(path) == data) << c.first;
    }
    EXPECT_EQ(testlog::Messages(), Lines{});
    // Metadata without a length: an empty object.
    webtest::RawServer bare([](int& fd, const std::string&) {
        webtest::RawServer::send_all(fd, "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n");
    });
    RecordingCallback cb;
    endpoint_ = bare.url("");
    EXPECT_TRUE(Download("obj", Local("out", "old"), &cb));
    EXPECT_EQ(Trace(cb) + ReadFileBytes(dir_.file("out")), "100");
    EXPECT_EQ(bare.requests().size(), 1u);
}

// Every failure ends with one log line and one report of percentage 100; the
// local file keeps the ranges written before it.
TEST_F(RangedDownload, FailuresKeepTheRangesWrittenBefore) {
    const std::string data = RandomBytes(2 * kMiB + 5, 4), out = dir_.file("out");
    Put("dl/obj", data);
    const struct {
        std::string fault;  // added once the first range is in when it starts with '+'
        long kept;          // bytes of the object in the local file; -1: not checked
        std::string outcome, log, path = "";  // outcome: trace, then the GET requests
    } cases[] = {
        {R"(+{"method":"GET","status":500,"message":"boom"})", kMiB, "47 -1:100 2",
         "oss_get_object_to_file fail, boom"},
        {R"({"method":"GET","action":"close","close_after_bytes":1000})", 0, "1:100 1",
         "oss_get_object_to_file fail, "},
        {R"({"method":"GET","action":"truncate_body","keep_bytes":10})", 0, "-1:100 1",
         "range 0-1048575 returned 10 bytes"},
        {R"({"ignore_range":true})", 0, "-1:100 1", "range 0-1048575 returned 2097157 bytes"},
        {R"(+{"method":"GET","action":"corrupt_body"})", -1, "47 94 95 -1:100 3",
         "crc64 of " + out},
        {R"({"method":"HEAD","action":"bad_crc"})", static_cast<long>(data.size()),
         "47 94 95 -1:100 3", "crc64 of " + out},
        // A HEAD answer has no body, so there is no store message to log.
        {R"({"method":"HEAD","action":"expire"})", 0, "-1:100 0", "oss_get_object_meta fail, "},
        {"", -1, "-1:100 0", "open " + dir_.file("no/dir") + " fail", dir_.file("no/dir")},
        // Writes to /dev/full fail with "no space left".
        {"", -1, "-1:100 1", "write /dev/full fail", "/dev/full"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault + c.path);
        server_->Reset();
        testlog::Clear();
        std::remove(out.c_str());
        const bool later = !c.fault.empty() && c.fault[0] == '+';
        auto add = [&] {
            if (c.fault.find("ignore_range") != std::string::npos)
                server_->Settings(c.fault);
            else if (!c.fault.empty())
                server_->AddFault(c.fault.substr(later));
        };
        if (!later) add();
        RecordingCallback cb;
        cb.hook = [&](int, int percent) {
            if (later && percent == 47) add();
        };
        EXPECT_FALSE(Download("dl/obj", c.path.empty() ? out : c.path, &cb));
        DevServer::Stats stats = server_->GetStats();
        EXPECT_EQ(Trace(cb) + " " + std::to_string(stats.requests["GetObject"]) + " " +
                      LastLog("DownloadFile", c.log),
                  c.outcome + " " + c.log);
        EXPECT_EQ(stats.connections_accepted, 1);  // the ranges follow on the same connection
        EXPECT_EQ(testlog::Messages("DownloadFile").size(), 1u);
        EXPECT_TRUE(c.kept < 0 || ReadFileBytes(out) == data.substr(0, c.kept));
    }
}

// A store listing answer: objects (key, size) and common prefixes.
std::string ListingXml(bool truncated, const std::string& next_marker,
                       const std::vector<std::pair<std::string, std::string>>& objects,
                       const Lines& prefixes) {
    std::string xml = std::string("<ListBucketResult><IsTruncated>") +
                      (truncated ? "true" : "false") + "</IsTruncated><NextMarker>" + next_marker +
                      "</NextMarker>";
    for (const auto& o : objects)
        xml += "<Contents><Key>" + o.first + "</Key><Size>" + o.second + "</Size></Contents>";
    for (const std::string& p : prefixes)
        xml += "<CommonPrefixes><Prefix>" + p + "</Prefix></CommonPrefixes>";
    return xml + "</ListBucketResult>";
}

using Listing = Ops;

// Against a scripted store: the pages and the query of each, the host's stop
// request before, between and during pages, and a failing page.
TEST_F(Listing, PagesQueriesStopsAndFailures) {
    Lines answers;  // in turn, the last one again; "500" answers that status
    size_t served = 0;
    bool stop = false, stop_while_serving = false;
    webtest::HttpServer peer;
    peer.get(".*", [&](const httplib::Request&, httplib::Response& res) {
        if (stop_while_serving) __atomic_store_n(&stop, true, __ATOMIC_RELAXED);
        const std::string& answer = answers[std::min(served++, answers.size() - 1)];
        if (answer == "500")
            res.status = 500;
        else
            res.set_content(answer, "application/xml");
    });
    peer.start();
    endpoint_ = peer.url("");
    // The outcome, the notifications and the number of requests made.
    auto list = [&](const char* prefix, const Lines& pages, RecordingCallback& cb) {
        answers = pages;
        served = 0;
        const size_t before = peer.received().size();
        const bool ok = List(prefix, cb, &stop);
        return (ok ? "" : "failed ") + Trace(cb) + " (" +
               std::to_string(peer.received().size() - before) + ")";
    };
    const std::string first =
        ListingXml(true, "p/b", {{"p/", "0"}, {"p/a", "12"}}, {"p/d/", "p//"});
    RecordingCallback paged(testcb::Payload::kPages), empty(testcb::Payload::kPages), before,
        within(testcb::Payload::kPages), failed(testcb::Payload::kPages);
    EXPECT_EQ(list("p/", {first, ListingXml(false, "", {{"p/c", "3"}}, {"p/e/"})}, paged),
              "[a 12, d/] [c 3, e/] 100 (2)");
    EXPECT_EQ(peer.received()[0].target + " " + peer.received()[1].target,
              "/nimbra-backup/?prefix=p%2F&delimiter=%2F&max-keys=500 "
              "/nimbra-backup/?prefix=p%2F&marker=p%2Fb&delimiter=%2F&max-keys=500");
    EXPECT_EQ(list("empty/", {ListingXml(false, "", {}, {})}, empty), "[] 100 (1)");
    stop = true;
    EXPECT_EQ(list("p/", {first}, before), "100 (0)");
    EXPECT_TRUE(stop);  // read, never written
    stop = false;
    within.hook = [&](int, int percent) { stop = percent == 0; };
    EXPECT_EQ(list("p/", {first}, within), "[a 12, d/] 100 (1)");
    stop = false;
    // Pages delivered before a failure stay delivered.
    EXPECT_EQ(list("p/", {first, "500"}, failed), "failed [a 12, d/] -1:100 (2)");
    EXPECT_EQ(testlog::Messages(), Lines{});

    // "/" lists the top level: no prefix is sent, and neither the key "/"
    // nor the common prefix "/" gives an entry. A null token is not sent.
    answers = {ListingXml(false, "", {{"/", "5"}, {"top.txt", "3"}}, {"/", "dir1/"})};
    RecordingCallback top(testcb::Payload::kPages);
    EXPECT_TRUE(ListObject(ep(), ak(), sk(), bucket(), nullptr, "/", &top, &stop));
    EXPECT_EQ(Trace(top), "[top.txt 3, dir1/] 100");
    EXPECT_EQ(peer.received().back().target, "/nimbra-backup/?delimiter=%2F&max-keys=500");
    EXPECT_FALSE(peer.received().back().has_header("x-oss-security-token"));
    EXPECT_EQ(peer.received().front().header("x-oss-security-token"), creds_.security_token);

    // A stop that arrives while a page is on its way, before its first file
    // or folder entry: the page is not delivered.
    stop_while_serving = true;
    for (const std::string& answer :
         {ListingXml(false, "", {{"a", "1"}}, {}), ListingXml(false, "", {}, {"d/"})}) {
        stop = false;
        RecordingCallback stopped;
        EXPECT_EQ(list("/", {answer}, stopped), "100 (1)");
    }
}

using Multipart = Ops;

// Every credential expires once part 1 is stored: part 2 is sent again, as
// part 2, with fresh ones, which the listing (continued page by page) and the
// completion need too.
TEST_F(Multipart, TenMiBPartsAndARefreshedTokenMidUpload) {
    const std::string data = RandomBytes(10 * kMiB + 1, 5), path = Local("f", data);
    server_->Settings(R"({"max_list_parts":1})");
    RecordingCallback cb;
    std::string second_part;
    cb.hook = [&](int, int percent) {
        if (percent == 89) server_->ExpireCredentials();
        if (percent == 90)
            second_part = Stored("mp/two?part-number-marker=1&uploadId=" + UploadId());
    };
    EXPECT_TRUE(Upload("mp/two", path, 10 * kMiB + 1, cb));
    // 20 + 70 × 10485760 ÷ 10485761 truncates to 89.
    EXPECT_EQ(Trace(cb), "20 89 90 95 100");
    EXPECT_TRUE(Stored("mp/two") == data);
    EXPECT_NE(second_part.find("<PartNumber>2</PartNumber><LastModified>"), std::string::npos)
        << second_part;
    EXPECT_EQ(Requests("UploadPart"), 3);
    const std::string id = UploadId();
    EXPECT_EQ(testlog::Messages("MultiUploadFile"),
              (Lines{"Init multipart upload succeeded, upload_id:" + id + "\n",
                     "error code: SecurityTokenExpired", "sts expire , try again!",
                     "Complete multipart upload from file succeeded, upload_id:" + id + " " + path +
                         "\n"}));
    for (const testlog::Entry& e : testlog::Snapshot())
        if (e.function == "MultiUploadFile")
            EXPECT_EQ(e.file + " " + std::to_string(e.level), "Nimbra/OssOperate 1");
}

// Each row: where the upload goes, a fault and the web API's scripted answer
// to a refresh, the file's and the given size; then the notifications, the
// parts sent, the refreshes, the refresh's log and what was stored, and the
// upload's last log line. Any JSON answer is a refresh (members it lacks keep
// their value, empty before the first refresh); a failed request or an
// answer that is not JSON ends the upload with -1, as does each failing
// step. Nothing is ever aborted.
TEST_F(Multipart, Outcomes) {
    webtest::RefusingPort refused;
    const std::string expire = R"({"method":"PUT","subresource":"partNumber","action":"expire")";
    const struct {
        std::string endpoint, fault, api_script;
        long long file_size, size;  // file_size -1: no such file
        std::string outcome, last_log;
    } cases[] = {
        {"", "", "", 10 * kMiB + 1, 10 * kMiB, "20 90 95 100 | 1 0 | | 10485760",
         "Complete multipart upload from file succeeded, "},
        {"", expire + R"(,"count":2})", "", 100, 100, "20 90 95 100 | 3 2 | | 100",
         "Complete multipart upload from file succeeded, "},
        {"", expire + "}", R"("status":500,"body":"{}")", 100, 100,
         "20 -1:100 | 1 1 | GetStsKey fail! | <status 404>", "sts expire , try again!"},
        {"", expire + "}", R"("status":200,"body":"not json")", 100, 100,
         "20 -1:100 | 1 1 | | <status 404>", "sts expire , try again!"},
        {"", expire + "}", R"("status":200,"body":"{\"AccessKeyId\":\"STS.partial\"}")", 100, 100,
         "20 -1:100 | 2 1 | | <status 404>", "Multipart upload part from file failed, 10485760, "},
        {Refused(refused), "", "", 10, 10, "1:100 | 0 0 | | <status 404>",
         "Init multipart upload failed, "},
        {"", R"({"method":"POST","subresource":"uploads","status":500,"message":"no"})", "", 10, 10,
         "-1:100 | 0 0 | | <status 404>", "Init multipart upload failed, no\n"},
        // The part's nominal end, not limited to the file size.
        {"", R"({"method":"PUT","status":500,"code":"InternalError","message":"disk full"})", "",
         10, 10, "20 -1:100 | 1 0 | | <status 404>",
         "Multipart upload part from file failed, 10485760, disk full, 500\n"},
        {"", "", "", -1, 10, "20 -1:100 | 0 0 | | <status 404>",
         "Multipart upload part from file failed, 10485760, "},
        {"", R"({"method":"GET","subresource":"uploadId","status":500,"message":"list broke"})", "",
         10, 10, "20 90 -1:100 | 1 0 | | <status 404>", "List multipart failed, list broke\n"},
        {"", R"({"method":"POST","subresource":"uploadId","status":400,"message":"part gone"})", "",
         10, 10, "20 90 95 -1:100 | 1 0 | | <status 404>",
         "Complete multipart upload from file failed, part gone\n"},
        // A file shorter than the size given.
        {"", "", "", 10, 20, "20 90 -1:100 | 1 0 | | <status 404>",
         "uploaded parts hold 10 bytes, the file size is 20"},
        // No part at all: the store refuses an empty completion.
        {"", "", "", 0, 0, "20 95 -1:100 | 0 0 | | <status 404>",
         "Complete multipart upload from file failed, "},
        {"", "", "", 10, 10000 * 10 * kMiB + 1, "-1:100 | 0 0 | | <status 404>",
         "file size 104857600001 needs 10001 parts, more than 10000"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault + c.api_script + c.last_log);
        server_->Reset();
        testlog::Clear();
        if (!c.fault.empty()) server_->AddFault(c.fault);
        if (!c.api_script.empty())
            server_->ScriptApi(R"({"path":"/getStsKey","count":1,)" + c.api_script + "}");
        const std::string path =
            c.file_size < 0 ? dir_.file("absent") : Local("f", RandomBytes(c.file_size, 7));
        RecordingCallback cb;
        const std::string key = "mp/" + std::to_string(&c - cases);
        endpoint_ = c.endpoint.empty() ? server_->store_endpoint() : c.endpoint;
        EXPECT_EQ(Upload(key, path, c.size, cb),
                  c.last_log.rfind("Complete multipart upload from file succeeded", 0) == 0);
        const Lines logs = testlog::Messages("MultiUploadFile");
        std::string outcome =
            Trace(cb) + " | " + std::to_string(Requests("UploadPart")) + " " +
            std::to_string(std::count(logs.begin(), logs.end(), "sts expire , try again!")) + " | ";
        for (const std::string& line : testlog::Messages("GetStsKey")) outcome += line + " ";
        const std::string stored = Stored(key);
        outcome += "| " + (stored[0] == '<' ? stored : std::to_string(stored.size()));
        EXPECT_EQ(outcome + " " + LastLog("MultiUploadFile", c.last_log),
                  c.outcome + " " + c.last_log);
        EXPECT_EQ(Requests("AbortMultipartUpload"), 0);
    }
}

// A failed status becomes 1 or -1 by the download map for downloads and by
// the transfer map for listings and uploads.
TEST_F(Ops, TransportFailuresFollowEachOperationsMap) {
    webtest::RefusingPort refused;
    webtest::TestCertificate certificate("IP:127.0.0.1");
    webtest::HttpServer untrusted(certificate);
    untrusted.get(".*", [](const httplib::Request&, httplib::Response&) {});
    untrusted.start();
    // A refused connection (-992) is a network failure in both maps; a peer
    // that fails verification (-989) only in the transfer map.
    for (const auto& c : {std::make_pair(Refused(refused), "1:100 1:100 1:100"),
                          std::make_pair(untrusted.url(""), "-1:100 1:100 1:100")}) {
        RecordingCallback download, list, upload;
        endpoint_ = c.first;
        EXPECT_FALSE(Download("k", dir_.file("f"), &download));
        EXPECT_FALSE(List("k", list));
        EXPECT_FALSE(Upload("k", "/dev/null", 1, upload));
        EXPECT_EQ(Trace(download) + " " + Trace(list) + " " + Trace(upload), c.second) << c.first;
    }
    EXPECT_TRUE(untrusted.received().empty());
}

}  // namespace
