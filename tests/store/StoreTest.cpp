// Each store operation of the library against the development server and,
// for what must be seen on the wire, scripted peers; the store layer itself
// against scripted peers; the development server's protocol over sockets.
#include <dirent.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <poll.h>
#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <condition_variable>
#include <functional>
#include <memory>
#include <thread>
#include <unordered_set>

#include "Contracts/oss/aos_crc64.h"
#include "Contracts/oss/oss_api.h"
#include "Database.h"
#include "Nimbra/OssOperate.h"
#include "RequestText.h"
#include "Signer.h"
#include "TimeUtil.h"
#include "tests/support/DevServer.h"
#include "tests/support/LogCapture.h"
#include "tests/support/RecordingCallback.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestData.h"
#include "tests/support/TestServers.h"
#include "tests/unit/StoreBody.h"

namespace {

using Lines = std::vector<std::string>;
using Response = DevServer::Response;
using testcb::RecordingCallback;
using testdata::RandomBytes;
const std::string kBucket = "/nimbra-backup/";
constexpr size_t kMiB = 1u << 20, kMinPart = 100 * 1024;

// "Name: value" lines as headers.
std::map<std::string, std::string> HeaderLines(const std::string& lines) {
    std::map<std::string, std::string> headers;
    for (size_t at = 0, end; at < lines.size(); at = end + 1) {
        end = std::min(lines.find('\n', at), lines.size());
        const size_t colon = lines.find(": ", at);
        headers[lines.substr(at, colon - at)] = lines.substr(colon + 2, end - colon - 2);
    }
    return headers;
}

// A store request: `target` below the bucket unless it starts with '/'.
Response Send(DevServer& server, const std::string& method, const std::string& target,
              const std::string& body = "", const std::string& header_lines = "") {
    return server.StoreExchange(method, target[0] == '/' ? target : kBucket + target, body,
                                HeaderLines(header_lines));
}

// The process's one development server (its web API where the tests' library
// copy fetches credentials), reset to no faults and fresh stats for each test.
class OnServer : public ::testing::Test {
protected:
    void SetUp() override {
        static const std::unique_ptr<DevServer> server = std::make_unique<DevServer>(
            DevServerOptions{false, "nimbra-backup", NIMBRA_TEST_API_PORT, 0});
        server_ = server.get();
        server_->Reset();
    }
    static Response Do(const std::string& method, const std::string& target,
                       const std::string& body = "", const std::string& headers = "") {
        return Send(*server_, method, target, body, headers);
    }
    static inline DevServer* server_ = nullptr;
};

// The layer's CRC-64 (checked against the standard vectors elsewhere) as text.
std::string Crc64(const std::string& data) {
    return std::to_string(aos_crc64(0, data.data(), data.size()));
}

std::string Md5(const std::string& data) {
    unsigned char d[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    EVP_Digest(data.data(), data.size(), d, &n, EVP_md5(), nullptr);
    return std::string(reinterpret_cast<char*>(d), n);
}
std::string QuotedMd5(const std::string& data) {
    std::string hex = "\"";
    for (unsigned char ch : Md5(data))
        hex += "0123456789ABCDEF"[ch >> 4], hex += "0123456789ABCDEF"[ch & 15];
    return hex + "\"";
}
std::string Base64Md5(const std::string& data) {
    const std::string md5 = Md5(data);
    return devserver::Base64Encode(reinterpret_cast<const unsigned char*>(md5.data()), md5.size());
}

// Texts of every <tag> element, entities unescaped.
Lines XmlAll(const std::string& xml, const std::string& tag) {
    Lines out;
    const std::string open = "<" + tag + ">", close = "</" + tag + ">";
    for (size_t at = xml.find(open); at != std::string::npos; at = xml.find(open, at + 1)) {
        std::string text = xml.substr(at + open.size(), xml.find(close, at) - at - open.size());
        for (size_t q; (q = text.find("&quot;")) != std::string::npos;) text.replace(q, 6, "\"");
        out.push_back(text);
    }
    return out;
}

std::string Xml(const std::string& xml, const std::string& tag) {
    Lines all = XmlAll(xml, tag);
    return all.empty() ? "" : all.front();
}

// The answer's error document (a HEAD answer carries it base64-encoded in
// x-oss-err) and its code.
std::string Error(const Response& r) {
    return r.body.empty() ? devserver::Base64Decode(r.header("x-oss-err")) : r.body;
}
std::string Code(const Response& r) {
    return Xml(Error(r), "Code");
}
// The status, then the error code if there is one.
std::string Outcome(const Response& r) {
    return std::to_string(r.status) + (Code(r).empty() ? "" : " " + Code(r));
}

std::unordered_set<std::string> FileNames(const std::string& dir) {
    std::unordered_set<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (struct dirent* e = readdir(d))
            if (e->d_name[0] != '.') names.insert(e->d_name);
        closedir(d);
    }
    return names;
}

// Multipart steps against `server`: initiation (the upload id), a part, a
// completion with the given (number, ETag) list.
std::string Initiate(DevServer& server, const std::string& key) {
    return Xml(Send(server, "POST", key + "?uploads").body, "UploadId");
}
Response PutPart(DevServer& server, const std::string& key, const std::string& id, int n,
                 const std::string& data) {
    return Send(server, "PUT", key + "?partNumber=" + std::to_string(n) + "&uploadId=" + id, data);
}
std::string CompleteXml(const std::vector<std::pair<int, std::string>>& parts) {
    std::string xml = "<CompleteMultipartUpload>";
    for (const auto& p : parts)
        xml += "<Part><PartNumber>" + std::to_string(p.first) + "</PartNumber><ETag>" + p.second +
               "</ETag></Part>";
    return xml + "</CompleteMultipartUpload>";
}
Response Complete(DevServer& server, const std::string& key, const std::string& id,
                  const std::vector<std::pair<int, std::string>>& parts) {
    return Send(server, "POST", key + "?uploadId=" + id, CompleteXml(parts));
}
// `a` and `b` uploaded as parts 1 and 2: the completion's answer, or the
// first failed part's.
Response UploadParts(DevServer& server, const std::string& key, const std::string& a,
                     const std::string& b) {
    const std::string id = Initiate(server, key);
    const Response one = PutPart(server, key, id, 1, a), two = PutPart(server, key, id, 2, b);
    if (one.status != 200 || two.status != 200) return one.status != 200 ? one : two;
    return Complete(server, key, id, {{1, one.header("etag")}, {2, two.header("etag")}});
}
// The object's bytes, or "<status N>" when it cannot be read.
std::string Stored(DevServer& server, const std::string& key) {
    const Response r = Send(server, "GET", key);
    return r.status == 200 ? r.body : "<status " + std::to_string(r.status) + ">";
}

// A complete answer; the peer closes the connection after it.
std::string Answer(int status, const std::string& body, const Lines& headers = {}) {
    std::string a = "HTTP/1.1 " + std::to_string(status) + " X\r\nConnection: close\r\n";
    for (const std::string& h : headers) a += h + "\r\n";
    return a + "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

// A peer answering each connection's request with the next scripted answer
// (the last one again when they run out); "" closes without a word, "stall"
// waits until the client leaves.
std::unique_ptr<webtest::RawServer> ScriptedPeer(const Lines& answers) {
    auto next = std::make_shared<size_t>(0);
    return std::make_unique<webtest::RawServer>([answers, next](int& fd, const std::string&) {
        const std::string a = answers[std::min((*next)++, answers.size() - 1)];
        pollfd p{fd, POLLIN, 0};
        if (a == "stall") poll(&p, 1, 10000);
        webtest::RawServer::send_all(fd, a == "stall" ? "" : a);
    });
}

// The notifications in order: "result:percent" (the result left out when 0),
// and a listing page as "[name size, folder/]".
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
                       (i.bIsDir ? "/" : " " + std::to_string(i.llFileSize));
        trace += (e.result || e.percent ? "data?[" : "[") + entries + "]";
    }
    return trace;
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

class Ops : public OnServer {
protected:
    void SetUp() override {
        OnServer::SetUp();
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

    static std::string Stored(const std::string& key) { return ::Stored(*server_, key); }
    long Requests(const std::string& operation) { return server_->GetStats().requests[operation]; }
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

TEST_F(Ops, PutCopyDeleteCreateBucketAndNullArguments) {
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

    ASSERT_EQ(Do("PUT", "s/src", "payload").status, 200);
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
    EXPECT_TRUE(CreateBucket(ep(), ak(), sk(), tok(), bucket()));
    webtest::RefusingPort refused;
    endpoint_ = "http://127.0.0.1:" + std::to_string(refused.port());
    EXPECT_FALSE(DeleteObject(ep(), ak(), sk(), bucket(), tok(), "s/a"));
    EXPECT_FALSE(CreateBucket(ep(), ak(), sk(), tok(), bucket()));
    // Every failure but CreateBucket's is logged, once.
    Lines logs = testlog::Messages();
    ASSERT_EQ(logs.size(), 6u);
    logs[2].resize(57);
    logs[5].resize(20);
    EXPECT_EQ(
        logs,
        (Lines{"oss_put_object_from_file fail, The security token you provided is invalid.",
               "oss_put_object_from_file fail, cannot open /no/such/file: No such file or "
               "directory",
               "oss_put_object_from_file fail, CRC-64 of the 1 bytes sent",
               "oss_copy_object nimbra-backup s/src fail, The specified key does not exist.",
               "oss_delete_object nimbra-backup s/a fail, disk on fire", "delete object fail, "}));

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

// The Range values on the wire, then the notifications, against a peer that
// serves ranges itself; the local file is truncated first.
TEST_F(Ops, DownloadRangesCoverTheObjectOnceInOrder) {
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
TEST_F(Ops, DownloadFailuresKeepTheRangesWrittenBefore) {
    const std::string data = RandomBytes(2 * kMiB + 5, 4), out = dir_.file("out");
    ASSERT_EQ(Do("PUT", "dl/obj", data).status, 200);
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
        {R"({"method":"HEAD","action":"bad_crc"})", static_cast<long>(data.size()),
         "47 94 95 -1:100 3", "crc64 of " + out},
        // A HEAD answer's error document comes in its x-oss-err header.
        {R"({"method":"HEAD","action":"expire"})", 0, "-1:100 0",
         "oss_get_object_meta fail, The security token you provided has expired."},
        {"", -1, "-1:100 0", "open " + dir_.file("no/dir") + " fail", dir_.file("no/dir")},
        // Writes to /dev/full fail with "no space left".
        {"", -1, "-1:100 1", "write /dev/full fail", "/dev/full"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault + c.path);
        server_->Reset();
        testlog::Clear();
        std::remove(out.c_str());
        const bool later = c.fault[0] == '+';
        if (!later && !c.fault.empty()) server_->AddFault(c.fault);
        RecordingCallback cb;
        cb.hook = [&](int, int percent) {
            if (later && percent == 47) server_->AddFault(c.fault.substr(1));
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

// Against a scripted store: the pages and the query of each, the host's stop
// request before and during pages (between pages: the control tests').
TEST_F(Ops, ListPagesQueriesAndStops) {
    Lines answers;  // in turn, the last one again
    size_t served = 0;
    bool stop = false, stop_while_serving = false;
    webtest::HttpServer peer;
    peer.get(".*", [&](const httplib::Request&, httplib::Response& res) {
        if (stop_while_serving) __atomic_store_n(&stop, true, __ATOMIC_RELAXED);
        res.set_content(answers[std::min(served++, answers.size() - 1)], "application/xml");
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
    RecordingCallback paged(testcb::Payload::kPages), empty(testcb::Payload::kPages), before;
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
    EXPECT_EQ(testlog::Messages(), Lines{});

    // "/" lists the top level: no prefix is sent, and neither the key "/"
    // nor the common prefix "/" gives an entry. A null token is not sent.
    answers = {ListingXml(false, "", {{"/", "5"}, {"top.txt", "3"}}, {"/", "dir1/"})};
    RecordingCallback top(testcb::Payload::kPages);
    EXPECT_TRUE(ListObject(ep(), ak(), sk(), bucket(), nullptr, "/", &top, &stop));
    EXPECT_EQ(Trace(top), "[top.txt 3, dir1/] 100");
    EXPECT_EQ(peer.received().back().target, "/nimbra-backup/?delimiter=%2F&max-keys=500");
    EXPECT_EQ(peer.received().back().headers.count("x-oss-security-token"), 0u);
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

// Every credential expires once part 1 is stored: part 2 is sent again, as part
// 2, with fresh ones, which the listing (page by page) and completion need too.
TEST_F(Ops, UploadTenMiBPartsAndARefreshedTokenMidUpload) {
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
        EXPECT_TRUE(e.function != "MultiUploadFile" ||
                    e.file + " " + std::to_string(e.level) == "Nimbra/OssOperate 1")
            << e.file << " " << e.level;
}

// Rows: endpoint, fault, scripted refresh answer, file and given size; then
// notifications | parts sent, refreshes | refresh log | what was stored, and
// the last log line. Any JSON answer is a refresh (missing members keep their
// value); a failed or non-JSON one ends the upload. Nothing is ever aborted.
TEST_F(Ops, UploadOutcomes) {
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
        {"http://127.0.0.1:" + std::to_string(refused.port()), "", "", 10, 10,
         "1:100 | 0 0 | | <status 404>", "Init multipart upload failed, "},
        {"", R"({"method":"POST","subresource":"uploads","status":500,"message":"no"})", "", 10, 10,
         "-1:100 | 0 0 | | <status 404>", "Init multipart upload failed, no\n"},
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
        // No part at all (a size of 0 or less): the store refuses an empty
        // completion.
        {"", "", "", 0, 0, "20 95 -1:100 | 0 0 | | <status 404>",
         "Complete multipart upload from file failed, "},
        {"", "", "", 0, -5, "20 95 -1:100 | 0 0 | | <status 404>",
         "Complete multipart upload from file failed, "},
        {"", "", "", 10, 10000 * 10 * kMiB + 1, "-1:100 | 0 0 | | <status 404>",
         "file size 104857600001 needs 10001 parts, more than 10000"},
        {"", "", "", 10, LLONG_MAX, "-1:100 | 0 0 | | <status 404>",
         "file size 9223372036854775807 needs 879609302221 parts, more than 10000"},
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
    webtest::TestCertificate certificate("IP:127.0.0.1");
    webtest::HttpServer untrusted(certificate);
    untrusted.get(".*", [](const httplib::Request&, httplib::Response&) {});
    untrusted.start();
    // A peer that fails verification (-989) is a network failure only in the
    // transfer map.
    RecordingCallback download, list, upload;
    endpoint_ = untrusted.url("");
    EXPECT_FALSE(Download("k", dir_.file("f"), &download));
    EXPECT_FALSE(List("k", list));
    EXPECT_FALSE(Upload("k", "/dev/null", 1, upload));
    EXPECT_EQ(Trace(download) + " " + Trace(list) + " " + Trace(upload), "-1:100 1:100 1:100");
    EXPECT_TRUE(untrusted.received().empty());
}

class Layer : public ::testing::Test {
protected:
    void SetUp() override {
        apr_initialize();
        ASSERT_EQ(aos_http_io_initialize(nullptr, 0), AOSE_OK);
        apr_pool_create(&pool_, nullptr);
        aos_str_set(&bucket_, "bkt");
        aos_str_set(&key_, "dir/a b+\xc3\xa9.bin");
    }
    void TearDown() override {
        apr_pool_destroy(pool_);
        aos_http_io_deinitialize();
        apr_terminate();
    }
    oss_request_options_t* Options(const std::string& endpoint) {
        oss_request_options_t* o = oss_request_options_create(pool_);
        o->config = oss_config_create(pool_);
        aos_str_set(&o->config->endpoint, apr_pstrdup(pool_, endpoint.c_str()));
        aos_str_set(&o->config->access_key_id, "test-id");
        aos_str_set(&o->config->access_key_secret, "test-secret");
        o->ctl = aos_http_controller_create(pool_, 0);
        o->ctl->options = aos_http_request_options_create(pool_);
        return o;
    }
    aos_status_t* Get(oss_request_options_t* o, aos_list_t* body, aos_table_t* headers = nullptr) {
        return oss_get_object_to_buffer(o, &bucket_, &key_, headers, nullptr, body, nullptr);
    }

    apr_pool_t* pool_ = nullptr;
    aos_string_t bucket_, key_;
    TempDir dir_;
};

// Answers in turn from one peer: each one's status (code, ok, error code,
// message of answers, request id), and which bodies reach the caller's list.
TEST_F(Layer, AnswersBecomeStatusesAndBodiesReachTheListOnlyWhenWholeAndRight) {
    const std::string data = RandomBytes(5000, 2);
    const std::string no_key =
        "<Error><Code>NoSuchKey</Code><Message>No such key.</Message></Error>";
    auto peer = ScriptedPeer(
        {Answer(403,
                "<?xml version=\"1.0\"?><Error><Code>SecurityTokenExpired</Code><Message>The "
                "security token you provided has expired.</Message><RequestId>R-XML</RequestId>"
                "</Error>",
                {"x-oss-request-id: R-HDR"}),
         // A HEAD answer has no body: the error document comes base64 encoded
         // in x-oss-err (left alone when it is not base64), the request id
         // from its header.
         Answer(404, "",
                {"x-oss-request-id: R-404",
                 "x-oss-err: " +
                     devserver::Base64Encode(reinterpret_cast<const unsigned char*>(no_key.data()),
                                             no_key.size())}),
         Answer(502, "<html>bad gateway</html>"), "", "this is not http\r\n\r\n", Answer(300, ""),
         Answer(299, ""), Answer(404, "", {"x-oss-err: PEVycm9yPg=!"}),
         Answer(206, data.substr(0, 1000), {"x-oss-hash-crc64ecma: " + Crc64(data)}),
         Answer(200, data, {"x-oss-hash-crc64ecma: " + Crc64("other")}),
         Answer(404, "<Error><Code>NoSuchKey</Code></Error>"), Answer(200, data),
         Answer(200, "<html>not a listing</html>"), "stall"});
    oss_request_options_t* o = Options(peer->url(""));
    auto text = [](const char* s) { return std::string(s ? s : "-"); };
    Lines statuses;
    for (int i = 0; i < 8; ++i) {
        aos_status_t* s = i == 1 || i == 7 ? oss_get_object_meta(o, &bucket_, &key_, nullptr)
                                           : oss_delete_object(o, &bucket_, &key_, nullptr);
        statuses.push_back(std::to_string(s->code) + " " + std::to_string(aos_status_is_ok(s)) +
                           " " + text(s->error_code) + "|" +
                           (s->code > 0 ? text(s->error_msg) + "|" : "") + text(s->req_id));
    }
    EXPECT_EQ(
        statuses,
        (Lines{"403 0 SecurityTokenExpired|The security token you provided has expired.|R-XML",
               "404 0 NoSuchKey|No such key.|R-404", "502 0 -|-|-",
               std::to_string(AOSE_CONNECTION_FAILED) + " 0 ConnectionFailed|-",
               std::to_string(AOSE_SERVICE_ERROR) + " 0 ServiceError|-", "300 0 -|-|-",
               "299 1 -|-|-", "404 0 -|-|-"}));

    aos_table_t* range = apr_table_make(pool_, 1);
    apr_table_set(range, "Range", "bytes=0-999");
    aos_list_t body;
    aos_list_init(&body);
    aos_buf_t* room = aos_create_buf(pool_, 600);
    room->last = static_cast<uint8_t*>(memcpy(room->last, "head:", 5)) + 5;
    aos_list_add_tail(&room->node, &body);
    // A range fills the room of the list's last buffer, then is appended;
    // its checksum describes the whole object, so it is not checked.
    EXPECT_TRUE(aos_status_is_ok(Get(o, &body, range)));
    EXPECT_EQ(unit::BodyText(&body) + std::to_string(aos_buf_size(room)),
              "head:" + data.substr(0, 1000) + "600");
    // Failed answers leave the list as it was, the room of its buffer too.
    std::string memory(8000, '\0');
    aos_buf_t own;
    aos_buf_over(&own, &memory[0], 8000);
    aos_list_t none;
    aos_list_init(&none);
    aos_list_add_tail(&own.node, &none);
    EXPECT_EQ(Get(o, &none)->code, AOSE_CRC_INCONSISTENT_ERROR);
    EXPECT_EQ(Get(o, &none)->code, 404);
    o->ctl->options->max_memory_size = 4096;
    EXPECT_EQ(Get(o, &none)->code, AOSE_OUT_MEMORY);
    EXPECT_TRUE(aos_buf_size(&own) == 0 && none.prev == &own.node);
    oss_list_object_params_t* params = oss_create_list_object_params(pool_);
    EXPECT_EQ(oss_list_object(o, &bucket_, params, nullptr)->code, AOSE_XML_PARSE_ERROR);
    o->ctl->options->speed_limit = 1;
    o->ctl->options->speed_time = 1;
    EXPECT_EQ(oss_delete_object(o, &bucket_, &key_, nullptr)->code, AOSE_REQUEST_TIMEOUT);
}

// TLS to the store: a trusted peer must carry the store's name.
TEST_F(Layer, TlsVerifiesThePeerAndItsName) {
    for (const auto& c : {std::make_pair("IP:127.0.0.1", 200),
                          std::make_pair("DNS:elsewhere.example", int{AOSE_FAILED_VERIFICATION})}) {
        SCOPED_TRACE(c.first);
        webtest::TestCertificate certificate(c.first);
        webtest::HttpServer store(certificate);
        store.get(".*", [](const httplib::Request&, httplib::Response& res) {
            res.set_header("Connection", "close");
            res.set_content("secure bytes", "application/octet-stream");
        });
        store.start();
        const std::string ca = dir_.file("ca.pem");
        FILE* f = fopen(ca.c_str(), "w");
        ASSERT_EQ(PEM_write_X509(f, certificate.cert()), 1);
        fclose(f);
        oss_request_options_t* o = Options(store.url(""));
        o->ctl->options->ca_file = apr_pstrdup(pool_, ca.c_str());
        aos_list_t body;
        aos_list_init(&body);
        EXPECT_EQ(Get(o, &body)->code, c.second);
        EXPECT_EQ(unit::BodyText(&body), c.second == 200 ? "secure bytes" : "");
    }
}

using Store = OnServer;

TEST_F(Store, ObjectsDigestsCopiesAndAddressing) {
    const std::string data = RandomBytes(300000, 1), object = "o/data";
    for (const Response& r :
         {Do("PUT", object, data), Do("GET", object), Do("HEAD", object + "?objectMeta")})
        EXPECT_EQ(Outcome(r) + " " + r.header("etag") + " " + r.header("x-oss-hash-crc64ecma"),
                  "200 " + QuotedMd5(data) + " " + Crc64(data));
    EXPECT_EQ((Lines{Outcome(Do("DELETE", object)), Outcome(Do("DELETE", object))}),
              (Lines{"204", "204"}));
    for (const char* method : {"GET", "HEAD"}) {
        const Response gone = Do(method, object);
        EXPECT_EQ(Outcome(gone) + " " + Xml(Error(gone), "RequestId"),
                  "404 NoSuchKey " + gone.header("x-oss-request-id"));
    }
    // A body in chunks of any size, as a client streaming it sends one, and
    // an empty one: the server stages the pieces it cannot write as they are
    // and leaves no temporary file behind.
    const std::string streamed = RandomBytes(3 * kMiB + 123, 5);
    const size_t sizes[] = {4096, 1001, 63, 64, 65, 127, 128, kMiB, 300000, 4095, 191, 255};
    std::map<std::string, std::string> h = {{"Content-Type", "text/plain"}};
    DevServer::SignRequest(server_->IssueCredentials(), "PUT", kBucket + "o/chunked", h);
    httplib::Client client("127.0.0.1", server_->store_port());
    size_t chunks = 0;
    auto provide = [&](size_t offset, httplib::DataSink& sink) {
        const size_t n = std::min(sizes[chunks++ % 12], streamed.size() - offset);
        sink.write(streamed.data() + offset, n);
        if (offset + n == streamed.size()) sink.done();
        return true;
    };
    auto chunked = client.Put((kBucket + "o/chunked").c_str(), httplib::Headers(h.begin(), h.end()),
                              provide, "text/plain");
    ASSERT_TRUE(chunked);
    EXPECT_EQ(chunked->get_header_value("ETag") + chunked->get_header_value("x-oss-hash-crc64ecma"),
              QuotedMd5(streamed) + Crc64(streamed));
    EXPECT_TRUE(Do("GET", "o/chunked").body == streamed);
    EXPECT_EQ(Do("PUT", "o/empty", "").header("etag"), QuotedMd5(""));
    EXPECT_EQ(FileNames(server_->data_dir() + "/tmp").size(), 0u);
    // A copy keeps the bytes and the type, and outlives its source (put
    // virtual-hosted: the bucket named by the Host header).
    ASSERT_EQ(Do("PUT", "/c/src%20a", data,
                 "Content-Type: image/png\nHost: nimbra-backup.oss.example.com")
                  .status,
              200);
    const std::string copy = "x-oss-copy-source: " + kBucket + "c/src%20a";
    EXPECT_EQ(Xml(Do("PUT", "c/dst", "", copy).body, "ETag"), QuotedMd5(data));
    ASSERT_EQ(Do("DELETE", "c/src%20a").status, 204);
    const Response got = Do("GET", "c/dst");
    EXPECT_TRUE(got.body == data && got.header("content-type") == "image/png");
    EXPECT_EQ(Outcome(Do("PUT", "c/x", "", copy)), "404 NoSuchKey");
}

TEST_F(Store, SignaturesAndCredentials) {
    const DevServer::Credentials creds = server_->IssueCredentials();
    EXPECT_EQ(creds.access_key_id.rfind("STS.", 0), 0u);
    const std::string target = kBucket + "a%20b?uploadId=U1&max-parts=5";
    auto signed_by = [&](DevServer::Credentials c, std::map<std::string, std::string> h = {}) {
        DevServer::SignRequest(c, "GET", target, h);
        return Code(server_->StoreExchange("GET", target, "", h));
    };
    auto dated = [&](int minutes) {
        const int64_t at = devserver::NowMillis() + minutes * 60000LL;
        return std::map<std::string, std::string>{{"x-oss-date", devserver::HttpDate(at)}};
    };
    DevServer::Credentials unknown = creds, wrong_token = creds, wrong_secret = creds;
    unknown.access_key_id = "STS.doesnotexist";
    wrong_token.security_token = "CAIS-not-the-token";
    wrong_secret.access_key_secret = "not-the-secret";
    EXPECT_EQ((Lines{signed_by(creds), signed_by(creds, dated(-10)),
                     Code(Do("GET", target, "", "Authorization: ")), signed_by(unknown),
                     signed_by(wrong_token), signed_by(wrong_secret), signed_by(creds, dated(-16)),
                     signed_by(creds, dated(16)), Code(Do("PUT", "/other-bucket"))}),
              (Lines{"NoSuchUpload", "NoSuchUpload", "AccessDenied", "InvalidAccessKeyId",
                     "InvalidSecurityToken", "SignatureDoesNotMatch", "RequestTimeTooSkewed",
                     "RequestTimeTooSkewed", "AccessDenied"}));
    server_->ExpireCredentials();
    EXPECT_EQ(signed_by(creds), "SecurityTokenExpired");
}

// The answer's status and error code, the headers a store answer may carry
// over from the object (Content-Range, the standard headers), its checksum
// and ETag, and the body of a GET, each by the name of the `named` bytes they
// describe ("of:" when checksum and ETag name the same; "@first+length" for a
// stretch of those named "obj").
std::string Describe(const Response& r, const std::map<std::string, std::string>& named) {
    std::string out = Outcome(r);
    for (const char* h :
         {"content-range", "cache-control", "content-disposition", "content-encoding", "expires"})
        if (!r.header(h).empty()) out += " " + std::string(h) + "=" + r.header(h);
    auto name_of = [&](const std::function<bool(const std::string&)>& is) {
        for (const auto& n : named)
            if (is(n.second)) return n.first;
        return std::string("?");
    };
    const std::string crc = r.header("x-oss-hash-crc64ecma"), etag = r.header("etag");
    const std::string of_crc =
        crc.empty() ? "" : name_of([&](const std::string& b) { return Crc64(b) == crc; });
    const std::string of_etag =
        etag.empty() || r.status >= 400 ? ""
        : etag.find('-') != std::string::npos  // of a multipart upload
            ? "parts"
            : name_of([&](const std::string& b) { return QuotedMd5(b) == etag; });
    if (!of_crc.empty() && of_crc == of_etag) out += " of:" + of_crc;
    if (!of_crc.empty() && of_crc != of_etag) out += " crc:" + of_crc;
    if (!of_etag.empty() && of_crc != of_etag) out += " etag:" + of_etag;
    if (r.body.empty() || r.header("content-type") == "application/xml") return out;
    const size_t at = named.at("obj").find(r.body);
    const std::string part = "@" + std::to_string(at) + "+" + std::to_string(r.body.size());
    return out + " body:" +
           (at == std::string::npos || r.body == named.at("obj")
                ? name_of([&](const std::string& b) { return b == r.body; })
                : part);
}

// One request per behaviour of the store's API reference, in order (a row
// may see what an earlier one stored): ranges by the store's default and by
// x-oss-range-behavior, conditions, no-overwrite, digests, bodies and
// standard headers as sent, buckets.
TEST_F(Store, AnswersAsTheStoreReferenceDocuments) {
    const std::string obj = "cf/obj", data = RandomBytes(1000, 70),
                      gz("\x1f\x8b\x08\x00\x00\x00\x00\x00\x02\xff\x4b\x4a\x4c\xce\x4e\x4d\x51\x28"
                         "\x2d\xd0\x51\x48\xaa\x2c\x49\x55\x48\xcb\x2f\x02\x33\x00\xd6\x98\x99\x90"
                         "\x18\x00\x00\x00",
                         40),
                      plain = "plain text", p1 = RandomBytes(kMinPart, 71), p2 = "tail";
    const std::map<std::string, std::string> named = {
        {"obj", data}, {"gz", gz}, {"plain", plain}, {"mp", p1 + p2}};
    ASSERT_EQ(Do("PUT", obj, data).status + Do("PUT", "cf/mp", "old").status, 400);
    const Response head = Do("HEAD", obj);
    const std::string etag = head.header("etag"), at = head.header("last-modified");
    time_t modified = 0;
    ASSERT_TRUE(devserver::ParseHttpDate(at, modified));
    const std::string before = devserver::HttpDate((modified - 1) * 1000LL), other = "\"0000\"";
    const std::string id = Xml(
        Do("POST", "cf/mp?uploads", "", "Cache-Control: no-store\nExpires: 0").body, "UploadId");
    const std::string xml =
        CompleteXml({{1, PutPart(*server_, "cf/mp", id, 1, p1).header("etag")},
                     {2, PutPart(*server_, "cf/mp", id, 2, p2).header("etag")}});
    const std::string part = "PUT mp?partNumber=2&uploadId=" + id, done = "POST mp?uploadId=" + id;
    const std::string standard = "x-oss-range-behavior: standard\nRange: bytes=",
                      forbid = "x-oss-forbid-overwrite: true", md5 = "Content-MD5: ",
                      given =
                          "Cache-Control: no-cache\nContent-Disposition: attachment; "
                          "filename=\"a.txt\"\nContent-Encoding: identity\nExpires: Sun, 01 Dec "
                          "2030 16:00:00 GMT",
                      kept =
                          " cache-control=no-cache content-disposition=attachment; "
                          "filename=\"a.txt\" content-encoding=identity expires=Sun, 01 Dec "
                          "2030 16:00:00 GMT of:plain";
    // Requests: the method, then the target after "cf/" (or, with a leading
    // '/', all of it), the header lines and the body.
    const struct {
        std::string request, headers, body, outcome;
    } rows[] = {
        // Ranges: by default one that does not lie within the object gets
        // all of it; "standard" gets the part that exists, or 416 beyond the
        // end. A range's answer carries the whole object's CRC-64.
        {"GET obj", "Range: bytes=0-9", "", "206 content-range=bytes 0-9/1000 of:obj body:@0+10"},
        {"GET obj", "Range: bytes=500-2000", "", "200 of:obj body:obj"},
        {"GET obj", standard + "500-2000", "",
         "206 content-range=bytes 500-999/1000 of:obj body:@500+500"},
        {"GET obj", standard + "1000-2000", "", "416 InvalidRange content-range=bytes */1000"},
        // Conditions, checked before the range, in HTTP's order: If-Match,
        // else If-Unmodified-Since (412); If-None-Match, else
        // If-Modified-Since (304).
        {"GET obj", "If-Match: " + other, "", "412 PreconditionFailed"},
        {"GET obj", "If-Unmodified-Since: " + before, "", "412 PreconditionFailed"},
        {"GET obj", "If-Unmodified-Since: " + at, "", "200 of:obj body:obj"},
        {"GET obj", "If-Match: " + etag + "\nIf-Unmodified-Since: " + before, "",
         "200 of:obj body:obj"},
        {"GET obj", "If-None-Match: " + other + ", " + etag + "\nRange: bytes=0-9", "",
         "304 etag:obj"},
        {"GET obj", "If-None-Match: *", "", "304 etag:obj"},
        {"GET obj", "If-Modified-Since: " + at, "", "304 etag:obj"},
        {"GET obj", "If-Modified-Since: " + before, "", "200 of:obj body:obj"},
        {"GET obj", "If-None-Match: " + other + "\nIf-Modified-Since: " + at, "",
         "200 of:obj body:obj"},
        {"GET obj", "If-Match: " + other + "\nIf-None-Match: " + etag, "",
         "412 PreconditionFailed"},
        {"HEAD obj", "If-None-Match: " + etag, "", "304 etag:obj"},
        // A PUT with a condition is refused, and stores nothing.
        {"PUT if", "If-Match: " + etag, "x", "400 NotImplemented"},
        {"PUT if", "If-Modified-Since: " + at, "x", "400 NotImplemented"},
        {"GET if", "", "", "404 NoSuchKey"},
        // No overwrite: a copy, and a completion, onto an object.
        {"PUT copy", forbid + "\nx-oss-copy-source: " + kBucket + obj, "", "200 of:obj"},
        {"PUT copy", forbid + "\nx-oss-copy-source: " + kBucket + obj, "", "409 FileAlreadyExists"},
        {done, forbid, xml, "409 FileAlreadyExists"},
        // Digests of a body: an object's, a part's, a completion's document.
        {"PUT md5", md5 + Base64Md5("x"), "y", "400 InvalidDigest"},
        {part, md5 + Base64Md5("x"), p2, "400 InvalidDigest"},
        {done, md5 + Base64Md5("x"), xml, "400 InvalidDigest"},
        {done, md5 + Base64Md5(xml), xml, "200 crc:mp etag:parts"},
        // The completed object has the headers its upload was initiated with.
        {"GET mp", "", "", "200 cache-control=no-store expires=0 crc:mp etag:parts body:mp"},
        // Bodies stored as sent, whatever their Content-Encoding says;
        // standard headers kept and returned, by a copy too unless it
        // replaces them.
        {"PUT gz", "Content-Encoding: gzip", gz, "200 of:gz"},
        {"GET gz", "", "", "200 content-encoding=gzip of:gz body:gz"},
        {"PUT not", "Content-Encoding: gzip", plain, "200 of:plain"},
        {"PUT std", given, plain, "200 of:plain"},
        {"GET std", "", "", "200" + kept + " body:plain"},
        {"PUT kept", "x-oss-copy-source: " + kBucket + "cf/std", "", "200 of:plain"},
        {"HEAD kept", "", "", "200" + kept},
        {"PUT new",
         "x-oss-copy-source: " + kBucket + "cf/std\nx-oss-metadata-directive: REPLACE\nExpires: 0",
         "", "200 of:plain"},
        {"HEAD new", "", "", "200 expires=0 of:plain"},
        // A bucket that does not exist.
        {"PUT /no-such-bucket/k", "", "v", "404 NoSuchBucket"},
    };
    for (const auto& row : rows) {
        const size_t space = row.request.find(' ');
        const std::string target = row.request.substr(space + 1);
        EXPECT_EQ(Describe(Do(row.request.substr(0, space),
                              target[0] == '/' ? target : "cf/" + target, row.body, row.headers),
                           named),
                  row.outcome)
            << row.request << " " << row.headers;
    }
}

TEST_F(Store, ListingFoldsByTheDelimiterAndPagesByMarker) {
    for (const char* key :
         {"ls/a.txt", "ls/b/1", "ls/b/2", "ls/b/c/3", "ls/c", "ls/d/", "ls/d/x", "ls/sp ace/k"})
        ASSERT_EQ(Do("PUT", devserver::PercentEncode(key, true), "x").status, 200);
    // Keys, then common prefixes, then "next" and the marker when truncated.
    auto list = [&](const std::string& query) {
        auto r = Do("GET", std::string("?") + (query.find("prefix=") ? "prefix=ls/&" : "") + query);
        std::string entries = Outcome(r);
        for (const std::string& key : XmlAll(r.body, "Key")) entries += " " + key;
        for (const std::string& common : XmlAll(r.body, "CommonPrefixes"))
            entries += " " + Xml(common, "Prefix");
        if (Xml(r.body, "IsTruncated") == "true") entries += " next " + Xml(r.body, "NextMarker");
        return entries;
    };
    const std::pair<std::string, std::string> cases[] = {
        {"delimiter=/", "200 ls/a.txt ls/c ls/b/ ls/d/ ls/sp ace/"},
        {"prefix=ls/b/&delimiter=/", "200 ls/b/1 ls/b/2 ls/b/c/"},
        {"prefix=ls/d/&delimiter=/", "200 ls/d/ ls/d/x"},  // the folder's own marker object
        {"prefix=ls/b&delimiter=/", "200 ls/b/"},
        {"", "200 ls/a.txt ls/b/1 ls/b/2 ls/b/c/3 ls/c ls/d/ ls/d/x ls/sp ace/k"},
        // max-keys counts keys and common prefixes together; markers are exclusive.
        {"delimiter=/&max-keys=2", "200 ls/a.txt ls/b/ next ls/b/"},
        {"delimiter=/&max-keys=2&marker=ls/b/", "200 ls/c ls/d/ next ls/d/"},
        {"delimiter=/&max-keys=2&marker=ls/d/", "200 ls/sp ace/"},
        {"marker=ls/b/1zz&max-keys=1", "200 ls/b/2 next ls/b/2"},
        {"prefix=ls/sp&encoding-type=url", "200 ls/sp%20ace/k"},
        {"max-keys=1001", "400 InvalidArgument"},
        {"encoding-type=gzip", "400 InvalidArgument"},
    };
    for (const auto& c : cases) EXPECT_EQ(list(c.first), c.second) << c.first;
    server_->Settings(R"({"max_list_keys":3})");
    EXPECT_EQ(list("max-keys=500"), "200 ls/a.txt ls/b/1 ls/b/2 next ls/b/2");
}

// Of several fault rules the first matching one in the order added applies,
// each `count` times (what one rule matches and does is fuzz_control_json's);
// the control route refuses a rule the fault book does not take.
TEST_F(Store, FaultRulesApplyInTheOrderAdded) {
    ASSERT_EQ(Do("PUT", "f/obj", "data").status, 200);
    server_->AddFault(R"({"method":"GET","subresource":"none","key_contains":"obj","count":2,
                          "status":503,"code":"SlowDown"})");
    server_->AddFault(R"({"method":"GET","status":500,"code":"Second"})");
    const std::pair<const char*, const char*> requests[] = {
        {"HEAD", "obj"}, {"GET", "other"}, {"GET", "obj"}, {"GET", "obj"}, {"GET", "obj"}};
    Lines got;
    for (const auto& r : requests)
        got.push_back(Outcome(Do(r.first, std::string("f/") + r.second)));
    EXPECT_EQ(got, (Lines{"200", "500 Second", "503 SlowDown", "503 SlowDown", "200"}));
    EXPECT_THROW(server_->AddFault(R"({"action":"explode"})"), std::runtime_error);  // refused
}

// GETs (whole and ranged), HEADs and copies race overwrites, copies and
// deletes of their object, each holding what it found before opening or
// linking its bytes: every answer is one version whole (or its exact range),
// or 404. Completions race a part sent again: they complete or answer 409
// PartChanged.
TEST_F(Store, ReadsRacingOverwritesAndDeletesSeeOneWholeVersionOr404) {
    const std::string key = "race/obj", put = RandomBytes(300000, 51),
                      p1 = RandomBytes(kMinPart, 52), p2 = RandomBytes(70000, 53);
    const Response mp = UploadParts(*server_, "race/mp", p1, p2);
    ASSERT_EQ(mp.status + Do("PUT", key, put).status, 400);
    const std::map<std::string, std::string> versions = {{QuotedMd5(put), put},
                                                         {mp.header("etag"), p1 + p2}};
    server_->Settings(R"({"open_delay_ms":15})");
    const std::string range = "Range: bytes=99000-120000",
                      copy = "x-oss-copy-source: " + kBucket + "race/mp";
    std::mutex mu;
    Lines wrong;
    auto note = [&](bool ok, const std::string& what) {
        std::lock_guard<std::mutex> lock(mu);
        if (!ok) wrong.push_back(what);
    };
    std::atomic<int> readers{3};
    std::thread writer([&] {
        for (int i = 0; readers > 0 && i < 1000; ++i) {
            const Response r = i % 3 == 2 ? Do("DELETE", key)
                                          : Do("PUT", key, i % 3 ? "" : put, i % 3 ? copy : "");
            note(r.status == 200 || r.status == 204, "write " + Outcome(r));
        }
    });
    auto read = [&](const std::string& copy_key) {
        for (int i = 0; i < 16; ++i) {
            const bool ranged = i % 4 == 1, head = i % 4 == 2, copied = i % 4 == 3;
            const Response r = copied
                                   ? Do("PUT", copy_key, "", "x-oss-copy-source: " + kBucket + key)
                                   : Do(head ? "HEAD" : "GET", key, "", ranged ? range : "");
            const auto v = versions.find(r.header("etag"));
            const std::string body = copied && r.status == 200 ? Do("GET", copy_key).body : r.body;
            note(r.status == 404 || (v != versions.end() && r.status == (ranged ? 206 : 200) &&
                                     body == (head     ? ""
                                              : ranged ? v->second.substr(99000, 21001)
                                                       : v->second)),
                 Outcome(r));
        }
        --readers;
    };
    auto complete = [&] {
        for (int i = 0; i < 4; ++i) {
            const std::string upload = Initiate(*server_, "race/done");
            const std::string e1 = PutPart(*server_, "race/done", upload, 1, p1).header("etag"),
                              e2 = PutPart(*server_, "race/done", upload, 2, p2).header("etag");
            std::thread again([&] {
                const Response r = PutPart(*server_, "race/done", upload, 1, p1);
                note(r.status == 200 || Code(r) == "NoSuchUpload", "part " + Outcome(r));
            });
            const Response r = Complete(*server_, "race/done", upload, {{1, e1}, {2, e2}});
            again.join();
            note(r.status == 200 || Code(r) == "PartChanged", "complete " + Outcome(r));
        }
        --readers;
    };
    std::thread r1(read, "race/copy1"), r2(read, "race/copy2"), r3(complete);
    for (std::thread* t : {&r1, &r2, &r3, &writer}) t->join();
    EXPECT_EQ(wrong, Lines{});
}

// A server of the test's own, which it kills and restarts: unsigned requests
// pass, signed ones are checked.
class Persistence : public ::testing::Test {
protected:
    Response Do(const std::string& method, const std::string& target, const std::string& body = "",
                const std::string& headers = "") {
        return Send(server_, method, target, body, headers);
    }
    DevServer server_{DevServerOptions{true}};
};

// What was acknowledged survives a kill (objects, records, credentials, parts;
// not unfinished writes). The upload then completes, once its part list passes
// the checks, as the blobs of the parts it names, which outlive a restart.
TEST_F(Persistence, WhatWasAcknowledgedSurvivesAKillAndCompletesAsItsParts) {
    const std::string data = RandomBytes(200000, 41), p1 = RandomBytes(kMinPart, 42), p2 = "tail",
                      p3 = RandomBytes(kMiB + 7, 43), whole = p1 + p3, dir = server_.data_dir();
    ASSERT_EQ(Do("PUT", "keep", data).status, 200);
    ASSERT_EQ(
        server_.ApiRequest("POST", "/uploadUserInfo", R"({"name":"carol","file_size":9})").first,
        200);
    const std::string id = Initiate(server_, "mp"), e3 = QuotedMd5(p3);
    ASSERT_EQ(id.size(), 32u);
    EXPECT_EQ(PutPart(server_, "mp", id, 3, p3).header("etag"), e3);
    const std::string e1 = PutPart(server_, "mp", id, 1, p1).header("etag");
    const DevServer::Credentials creds = server_.IssueCredentials();
    const std::string certificate = ReadFileBytes(dir + "/api-cert.pem");
    server_.Kill();
    ASSERT_TRUE(WriteFileBytes(dir + "/tmp/interrupted", "half"));
    server_.Restart();
    EXPECT_TRUE(Stored(server_, "keep") == data);
    EXPECT_EQ(server_.ApiRequest("GET", "/getUserSpace?name=carol").second, R"({"size":9})");
    std::map<std::string, std::string> h;
    DevServer::SignRequest(creds, "HEAD", kBucket + "keep", h);
    EXPECT_EQ(server_.StoreExchange("HEAD", kBucket + "keep", "", h).status, 200);
    const std::string anonymous = "Authorization: ";
    EXPECT_EQ((Lines{Outcome(Do("PUT", "/other-bucket", "", anonymous)),
                     Outcome(Do("PUT", "/other-bucket/k", "v", anonymous)),
                     Do("GET", "/other-bucket/k", "", anonymous).body,
                     Outcome(Do("HEAD", "keep", "", "Authorization: OSS x:y"))}),
              (Lines{"200", "200", "v", "403 InvalidAccessKeyId"}));
    EXPECT_EQ(ReadFileBytes(dir + "/tmp/interrupted"), "");
    EXPECT_EQ(ReadFileBytes(dir + "/api-cert.pem"), certificate);

    const std::string e2 = PutPart(server_, "mp", id, 2, p2).header("etag");
    const size_t before = FileNames(dir + "/objects").size();
    // Refused: parts out of order or repeated, an unknown part or ETag, no
    // part, a part below the minimum size that is not the last.
    using Parts = std::vector<std::pair<int, std::string>>;
    Lines codes;
    for (const Parts& list :
         {Parts{{3, e3}, {1, e1}}, Parts{{1, e1}, {1, e1}}, Parts{{1, e3}}, Parts{{1, e1}, {4, e1}},
          Parts{{2, e2}, {4, e1}}, Parts{}, Parts{{2, e2}, {3, e3}}})
        codes.push_back(Code(Complete(server_, "mp", id, list)));
    EXPECT_EQ(codes, (Lines{"InvalidPartOrder", "InvalidPartOrder", "InvalidPart", "InvalidPart",
                            "InvalidPart", "MalformedXML", "EntityTooSmall"}));
    // A part may be left out; ETags match whatever their quoting or case.
    std::string lower = e3.substr(1, 32);
    for (char& ch : lower) ch = static_cast<char>(tolower(ch));
    const Response done = Complete(server_, "mp", id, {{1, e1}, {3, lower}});
    ASSERT_EQ(done.status, 200) << done.body;
    EXPECT_EQ(done.header("x-oss-hash-crc64ecma"), Crc64(whole));
    EXPECT_EQ(Code(Do("GET", "mp?uploadId=" + id)), "NoSuchUpload");
    ASSERT_EQ(Do("PUT", "copy", "", "x-oss-copy-source: " + kBucket + "mp").status, 200);
    // The object is the named parts' blobs, moved; the others are gone.
    EXPECT_EQ(FileNames(dir + "/parts").size(), 0u);
    EXPECT_EQ(FileNames(dir + "/objects").size(), before + 4);
    server_.Restart();
    // Ranges within, up to and across the boundary, and deep in the second part.
    const size_t m = kMinPart,
                 ranges[][2] = {{0, 0}, {m - 1, m}, {m - 3, m + 3}, {m + kMiB, m + kMiB + 6}};
    for (const char* key : {"mp", "copy"}) {
        const Response got = Do("GET", key);
        EXPECT_TRUE(got.body == whole) << key;
        EXPECT_EQ(got.header("etag").substr(33) + " " + got.header("x-oss-object-type") + " " +
                      got.header("x-oss-hash-crc64ecma"),
                  "-2\" Multipart " + Crc64(whole));
        for (const auto& r : ranges) {
            const Response part =
                Do("GET", key, "",
                   "Range: bytes=" + std::to_string(r[0]) + "-" + std::to_string(r[1]));
            EXPECT_TRUE(part.status == 206 && part.body == whole.substr(r[0], r[1] - r[0] + 1))
                << key << " " << r[0];
        }
    }
    // The copy outlives its source; an object replaced or deleted releases its blobs.
    ASSERT_EQ(Do("DELETE", "mp").status, 204);
    EXPECT_TRUE(Stored(server_, "copy") == whole);
    ASSERT_EQ(Do("PUT", "copy", "small").status, 200);
    EXPECT_EQ(FileNames(dir + "/objects").size(), before + 1);

    // An aborted upload takes no more parts.
    const std::string gone = Initiate(server_, "gone");
    EXPECT_EQ(Do("DELETE", "gone?uploadId=" + gone).status, 204);
    EXPECT_EQ(Code(PutPart(server_, "gone", gone, 1, "z")), "NoSuchUpload");
    // A clean shutdown, also with an idle kept-alive connection open and a
    // request held by a long delay.
    httplib::Client idle("127.0.0.1", server_.store_port());
    idle.set_keep_alive(true);
    ASSERT_TRUE(idle.Get("/__dev/health"));
    server_.Reset();
    server_.AddFault(R"({"action":"delay","delay_ms":600000})");
    std::thread held([this] { Do("GET", "keep"); });
    while (server_.GetStats().requests["GetObject"] == 0) std::this_thread::yield();
    EXPECT_EQ(server_.Stop(), 0);
    held.join();
}

// Writers keep the server busy with puts, overwrites, deletes and multipart
// completions when it is killed. After each restart every acknowledged write
// reads back exactly (the one a kill cut off may have happened or not), and
// objects/ and parts/ hold exactly the blobs the database names, also when
// blobs were left that no commit named (as a kill between a blob's move into
// place and its commit leaves them; planted after the first kill).
TEST_F(Persistence, KillsDuringWritesLoseNothingAcknowledgedAndLeaveNoOrphans) {
    const std::string absent = "<status 404>", head = RandomBytes(kMinPart, 60);
    Stored(server_, "warm");  // the fixture's credentials, fetched before threads share them
    std::mutex mu;
    Lines wrong;
    // Deletes `key`, puts `bytes` there, or completes them as two parts:
    // whether that was acknowledged. Anything but that or no answer at all
    // (the server killed) is wrong.
    auto write = [&](const std::string& key, const std::string& bytes, int op) {
        const Response r = op == 3   ? Do("DELETE", key)
                           : op != 1 ? Do("PUT", key, bytes)
                                     : UploadParts(server_, key, head, bytes.substr(kMinPart));
        const int status = op == 3 ? 204 : 200;
        std::lock_guard<std::mutex> lock(mu);
        if (r.status != status && r.status != 0) wrong.push_back("write " + Outcome(r));
        return r.status == status;
    };
    struct Writer {
        std::map<std::string, std::string> acked;  // key: bytes, or absent
        std::string key, pending;                  // the write in flight
        int next = 0;
    } writers[3];
    for (int round = 0; round < 3; ++round) {
        std::condition_variable progress;
        int acks = 0;
        auto run = [&](int w) {
            for (Writer& me = writers[w]; me.next < 60 * (round + 1); ++me.next) {
                const int i = me.next, op = i % 4;
                const std::string bytes = RandomBytes(1 + i * 7919 % 300000, 100 * w + i);
                me.key = "crash/" + std::to_string(w) + "/" + std::to_string(i % 3);
                me.pending = op == 3 ? absent : op == 1 ? head + bytes : bytes;
                if (!write(me.key, me.pending, op)) return;
                me.acked[me.key] = me.pending;
                std::lock_guard<std::mutex> lock(mu);
                ++acks;
                progress.notify_one();
            }
        };
        std::thread threads[] = {std::thread(run, 0), std::thread(run, 1), std::thread(run, 2)};
        {
            std::unique_lock<std::mutex> lock(mu);
            progress.wait_for(lock, std::chrono::seconds(30), [&] { return acks >= 8; });
        }
        server_.Kill();
        for (std::thread& t : threads) t.join();
        if (round == 0) {
            EXPECT_TRUE(WriteFileBytes(server_.data_dir() + "/objects/0badc0de", "orphan") &&
                        WriteFileBytes(server_.data_dir() + "/parts/0badc0de", "orphan"));
        }
        server_.Restart();
        for (Writer& w : writers) {
            if (!w.key.empty()) w.acked.emplace(w.key, absent);
            for (auto& [key, bytes] : w.acked) {
                const std::string got = Stored(server_, key);
                EXPECT_TRUE(got == bytes || (key == w.key && got == w.pending))
                    << "round " << round << " " << key << ": " << got.size() << " bytes";
                bytes = got;
            }
            w.key.clear();
        }
        devserver::Database db(server_.data_dir() + "/devserver.db");
        EXPECT_EQ(FileNames(server_.data_dir() + "/objects"),
                  db.NamedBlobs(devserver::BlobKind::kObject))
            << round;
        EXPECT_EQ(FileNames(server_.data_dir() + "/parts"),
                  db.NamedBlobs(devserver::BlobKind::kPart))
            << round;
    }
    EXPECT_EQ(wrong, Lines{});
}

// A part sent again while its upload completes: the completion, holding the
// listing made before, is refused and stores nothing; made again, it succeeds.
TEST(MultipartRecords, CompletionRefusesAPartSentAgainMeanwhile) {
    TempDir dir;
    devserver::Database db(dir.file("db"));
    db.CreateUpload({"U1", "b", "k", 0, "", ""});
    db.PutPart("U1", {1, 3, "", 0, 0, "first"});
    std::vector<devserver::Part> listed = db.Parts("U1", 0, 10);
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(db.PutPart("U1", {1, 3, "", 0, 0, "again"}), "first");  // the blob it replaced
    const devserver::ObjectMeta m{"b", "k", 3, "", 0, 0, "", "Normal", "", {{"linked", 3}}};
    devserver::ObjectMeta stored;
    EXPECT_THROW(db.CompleteUpload("U1", m, {listed[0]}), devserver::PartChanged);
    EXPECT_FALSE(db.GetObject("b", "k", stored));
    listed = db.Parts("U1", 0, 10);
    EXPECT_NO_THROW(db.CompleteUpload("U1", m, {listed[0]}));
    ASSERT_TRUE(db.GetObject("b", "k", stored));
    EXPECT_EQ(stored.blobs.size(), 1u);
    EXPECT_THROW(db.CompleteUpload("U1", m, {listed[0]}), std::out_of_range);
}

// A database of the version before objects and uploads kept their standard
// headers is brought up to date on open, and keeps everything; one written by
// a later version is refused.
TEST(DatabaseSchema, EarlierDataIsMigratedAndLaterRefused) {
    TempDir dir;
    const std::pair<std::string, const char*> files[] = {
        {dir.file("earlier"),
         "CREATE TABLE objects (bucket TEXT NOT NULL, key TEXT NOT NULL, size INTEGER NOT NULL, "
         "etag TEXT NOT NULL, crc64 INTEGER NOT NULL, last_modified_ms INTEGER NOT NULL, "
         "content_type TEXT NOT NULL, type TEXT NOT NULL, user_meta TEXT NOT NULL, file TEXT NOT "
         "NULL, PRIMARY KEY (bucket, key)) WITHOUT ROWID;"
         "CREATE TABLE uploads (upload_id TEXT PRIMARY KEY, bucket TEXT NOT NULL, key TEXT NOT "
         "NULL, initiated_ms INTEGER NOT NULL, content_type TEXT NOT NULL, user_meta TEXT NOT "
         "NULL);"
         "INSERT INTO objects VALUES ('b', 'k', 3, '\"E\"', 7, 9, 'text/plain', 'Normal', '{}', "
         "'blob');"
         "INSERT INTO uploads VALUES ('U1', 'b', 'm', 5, 'text/plain', '{}');"},
        {dir.file("later"), "PRAGMA user_version = 2;"},
    };
    for (const auto& f : files) {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(f.first.c_str(), &db), SQLITE_OK);
        EXPECT_EQ(sqlite3_exec(db, f.second, nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(db);
    }
    devserver::Database db(files[0].first);
    devserver::ObjectMeta m;
    devserver::Upload u;
    ASSERT_TRUE(db.GetObject("b", "k", m) && db.GetUpload("U1", u));
    EXPECT_EQ(m.etag + m.content_type + m.blobs.at(0).name + m.content_headers + u.key +
                  u.content_headers,
              "\"E\"text/plainblob{}m{}");
    m.content_headers = R"({"Expires":"0"})";
    db.PutObject(m);
    ASSERT_TRUE(db.GetObject("b", "k", m));
    EXPECT_EQ(m.content_headers, R"({"Expires":"0"})");
    try {
        devserver::Database later(files[1].first);
        ADD_FAILURE() << "a later schema was opened";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("written by a newer nimbra-devserver"),
                  std::string::npos)
            << e.what();
    }
}

}  // namespace
