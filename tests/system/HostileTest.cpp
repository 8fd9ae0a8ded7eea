// A hostile web API and store, as a man in the middle could be: answers too
// big to hold, and listings and pagings that would never end. Each case must
// end after a bounded number of requests, with bounded memory and its one
// final notification. The peers give up after kPeerLimit requests, so that
// a library without the bounds fails here instead of running forever.
#include <zlib.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <functional>

#include "tests/support/TestServers.h"
#include "tests/system/SystemTest.h"

namespace {

using namespace systest;
using webtest::HttpServer;
using webtest::TestCertificate;

const int kPeerLimit = 150;
const char kCredentials[] =
    R"({"AccessKeyId":"STS.id","AccessKeySecret":"secret","SecurityToken":"token"})";

long StatusKiB(const char* field) {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind(field, 0) == 0) return std::stol(line.substr(std::strlen(field)));
    return -1;
}

// How far the process's peak resident size rose above its size at the start
// while `action` ran, in MiB. The peak is reset first, so what earlier tests
// used does not hide it.
long PeakGrowthMiB(const std::function<void()>& action) {
    std::ofstream reset("/proc/self/clear_refs");
    EXPECT_TRUE(reset << "5" << std::flush) << "the peak cannot be reset";
    const long before = StatusKiB("VmRSS:");
    action();
    return (StatusKiB("VmHWM:") - before) / 1024;
}

using Pieces = std::vector<std::pair<std::string, size_t>>;  // text, times

// Streams each piece its number of times: the body is never built in memory.
void StreamPieces(httplib::Response& res, const Pieces& pieces) {
    size_t total = 0;
    for (const auto& p : pieces) total += p.first.size() * p.second;
    res.set_content_provider(
        total, "application/json", [pieces](size_t offset, size_t, httplib::DataSink& sink) {
            for (const auto& p : pieces) {
                if (offset < p.first.size() * p.second) {
                    const size_t at = offset % p.first.size();
                    return sink.write(p.first.data() + at, p.first.size() - at);
                }
                offset -= p.first.size() * p.second;
            }
            return false;
        });
}

// A gzip stream of `mib` MiB of zeros: one compressed MiB, flushed with its
// history dropped so that copies of it follow one another, then the last
// block and the trailer (CRC-32 and length of the whole).
Pieces GzipOfZeros(size_t mib) {
    const std::string zeros(kMiB, '\0');
    z_stream z{};
    deflateInit2(&z, 9, Z_DEFLATED, 16 + 15, 9, Z_DEFAULT_STRATEGY);
    auto compress = [&] {
        std::string out(kMiB, '\0');
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(zeros.data()));
        z.avail_in = static_cast<uInt>(zeros.size());
        z.next_out = reinterpret_cast<Bytef*>(&out[0]);
        z.avail_out = static_cast<uInt>(out.size());
        deflate(&z, Z_FULL_FLUSH);
        out.resize(out.size() - z.avail_out);
        return out;
    };
    const std::string first = compress(), next = compress();  // with and without the header
    deflateEnd(&z);
    const uLong one = crc32(0, reinterpret_cast<const Bytef*>(zeros.data()), kMiB);
    uLong crc = one;
    for (size_t i = 1; i < mib; ++i) crc = crc32_combine(crc, one, kMiB);
    std::string trailer("\x03\0", 2);  // the last block, empty
    for (uLong word : {crc, static_cast<uLong>(mib * kMiB & 0xffffffffu)})
        for (int shift = 0; shift < 32; shift += 8) trailer += static_cast<char>(word >> shift);
    return {{first, 1}, {next, mib - 1}, {trailer, 1}};
}

class Hostile : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        cert_ = std::make_unique<TestCertificate>("IP:127.0.0.1,DNS:localhost");
    }
    static void TearDownTestSuite() { cert_.reset(); }
    void SetUp() override { testlog::Clear(); }

    // The web API: credentials unless told otherwise, and `handler` for every
    // other request, which it counts.
    void StartApi(HttpServer::Handler handler, bool credentials = true) {
        api_ = std::make_unique<HttpServer>(*cert_);
        if (credentials) {
            api_->get("/getStsKey", [](const httplib::Request&, httplib::Response& res) {
                res.set_content(kCredentials, "application/json");
            });
        }
        api_->get(".*", Counted(handler));
        api_->post(".*", Counted(handler));
        api_->start(PortOf(NIMBRA_SERVER_URL));
    }
    // The store (plain HTTP), answering every request with `handler`, and a
    // web API that hands out credentials.
    void StartStore(HttpServer::Handler handler) {
        StartApi([](const httplib::Request&, httplib::Response& res) { res.status = 404; });
        store_ = std::make_unique<HttpServer>();
        store_->get(".*", Counted(handler));
        store_->post(".*", Counted(handler));
        store_->put(".*", Counted(handler));
        store_->start(PortOf(NIMBRA_ENDPOINT));
    }
    // A store that starts the upload "u1" and answers every other request with `handler`.
    void StartMultipartStore(HttpServer::Handler handler) {
        StartStore([handler](const httplib::Request& req, httplib::Response& res) {
            if (!req.has_param("uploads")) return handler(req, res);
            res.set_content(
                "<InitiateMultipartUploadResult><UploadId>u1</UploadId>"
                "</InitiateMultipartUploadResult>",
                "application/xml");
        });
    }
    HttpServer::Handler Counted(HttpServer::Handler handler) {
        return [this, handler](const httplib::Request& req, httplib::Response& res) {
            if (++served_ > kPeerLimit)
                res.status = 500;
            else
                handler(req, res);
        };
    }

    static inline std::unique_ptr<TestCertificate> cert_;
    std::unique_ptr<HttpServer> api_, store_;
    std::atomic<int> served_{0};
    IOssManager* m = Manager();
    TempDir dir_;
};

// Answers are kept up to 4 MiB as delivered, after gzip decoding: beyond it
// the request ends as a failed transfer (a write error, not the network's).
TEST_F(Hostile, WebApiAnswersAreBoundedAfterDecoding) {
    StartApi(
        [](const httplib::Request& req, httplib::Response& res) {
            if (req.method == "GET")  // 1 GiB
                return StreamPieces(res, {{std::string(64 * 1024, ' '), 16384}});
            res.set_header("Content-Encoding", "gzip");
            StreamPieces(res, GzipOfZeros(2048));  // 2 MiB inflating to 2 GiB
        },
        false);
    const std::string out = dir_.file("never.bin");
    RecordingCallback cb;
    const _ST_UserInfo info{0, "alice", "b", "d", "/p", "f", 1, 2};
    EXPECT_LT(PeakGrowthMiB([&] { EXPECT_FALSE(m->DownloadFile("k", out.c_str(), &cb)); }), 64);
    EXPECT_LT(PeakGrowthMiB([&] { EXPECT_FALSE(m->InsertUserInfo(info)); }), 64);
    EXPECT_EQ(cb.trace(), "");  // no network failure: no notification
    EXPECT_EQ(testlog::Messages(),
              (std::vector<std::string>{"ERR:res = 23,rescode = 200\n", "GetStsKey fail!",
                                        "ERR:res = 23,rescode = 200\n", "InsertUserInfo fail!"}));
}

// The total decides as ever, but 100 pages in a row without a record end the
// paging (a record-bearing page starts the count again).
TEST_F(Hostile, RecordPagingEndsAfterAHundredEmptyPages) {
    const std::string endless = R"({"total":9223372036854775807,"data":[]})";
    for (const bool first_has_record : {false, true}) {
        served_ = 0;
        StartApi([&](const httplib::Request&, httplib::Response& res) {
            const bool record = first_has_record && served_ == 1;
            res.set_content(record ? R"({"total":60,"data":[{"id":7}]})" : endless, "text/json");
        });
        testlog::Clear();
        RecordingCallback cb(Payload::kRecords);
        EXPECT_FALSE(m->GetUserUploadInfo("bob", &cb));
        EXPECT_EQ(served_, first_has_record ? 101 : 100);
        EXPECT_EQ(cb.records().size(), first_has_record ? 1u : 0u);
        EXPECT_EQ(testlog::Messages("GetUserUploadInfo"),
                  std::vector<std::string>{
                      "100 pages in a row without a record, total 9223372036854775807"});
    }
}

// An object listing goes on only while its marker increases (in byte order,
// "é" after "z"); one that goes back or repeats fails with -1 after the page
// that did.
TEST_F(Hostile, ObjectListingMarkersMustIncrease) {
    const struct {
        std::vector<std::string> markers;  // of pages 1, 2, ..., cycling
        int stop_after;                    // pages; 0: never stops
        const char* trace;
        int requests;
    } rows[] = {
        {{"h/b", "h/c"}, 0, "0:0+ 0:0+ 0:0+ -1:100", 3},
        {{"h/b"}, 0, "0:0+ 0:0+ -1:100", 2},  // a repeated marker
        {{"h/a", "h/z", "h/\xc3\xa9", "h/\xc3\xa9z"}, 4, "0:0+ 0:0+ 0:0+ 0:0+ 0:100", 4},
    };
    for (const auto& row : rows) {
        served_ = 0;
        StartStore([&](const httplib::Request&, httplib::Response& res) {
            const std::string& marker = row.markers[(served_ - 1) % row.markers.size()];
            res.set_content("<ListBucketResult><IsTruncated>true</IsTruncated><NextMarker>" +
                                marker + "</NextMarker><Contents><Key>" + marker +
                                "</Key></Contents></ListBucketResult>",
                            "application/xml");
        });
        bool stop = false;
        RecordingCallback cb;
        cb.hook = [&](int, int) { stop = static_cast<int>(cb.events().size()) == row.stop_after; };
        EXPECT_EQ(m->ListRemotePath("h/", &cb, &stop), row.stop_after > 0);
        EXPECT_EQ(cb.trace(), row.trace);
        EXPECT_EQ(served_, row.requests);
    }
}

// The part listing of an upload goes on only while its part-number marker
// increases (not when it goes back or repeats), and holds at most 10,000 parts; otherwise the
// upload fails with -1 before its completion.
TEST_F(Hostile, PartListingMustAdvanceAndFit) {
    std::string thousand;
    for (int i = 1; i <= 1000; ++i)
        thousand += "<Part><PartNumber>" + std::to_string(i) + "</PartNumber><ETag>e</ETag></Part>";
    const struct {
        std::function<int(int)> next;  // marker after the given one
        std::string parts;             // of every page
        int lists;
        const char* log;
    } rows[] = {
        {[](int marker) { return marker % 3 + 1; }, "", 4, "the part listing does not advance"},
        {[](int marker) { return marker > 0 ? marker : 1; }, "", 2,
         "the part listing does not advance"},
        {[](int marker) { return marker + 1; }, thousand, 11,
         "the part listing holds more than 10000 parts"},
    };
    const std::string local = dir_.file("empty.bin");
    std::ofstream{local};
    for (const auto& row : rows) {
        served_ = 0;
        testlog::Clear();
        StartMultipartStore([&](const httplib::Request& req, httplib::Response& res) {
            const int marker = std::atoi(req.get_param_value("part-number-marker").c_str());
            res.set_content(
                "<ListPartsResult><IsTruncated>true</IsTruncated>"
                "<NextPartNumberMarker>" +
                    std::to_string(row.next(marker)) + "</NextPartNumberMarker>" + row.parts +
                    "</ListPartsResult>",
                "application/xml");
        });
        RecordingCallback cb;
        EXPECT_FALSE(m->UploadFile(local.c_str(), 0, "h/up.bin", &cb));
        EXPECT_EQ(cb.trace(), "0:20 -1:100");
        EXPECT_EQ(served_, 1 + row.lists);
        EXPECT_EQ(testlog::Messages("MultiUploadFile").back(),
                  "List multipart failed, " + std::string(row.log) + "\n");
    }
}

// An answer other than object data is kept up to 4 MiB: a listing page of
// exactly that size is read, one byte more fails the listing.
TEST_F(Hostile, StoreDocumentsAreKeptUpTo4MiB) {
    const std::string page =
        "<ListBucketResult><Contents><Key>h/a</Key></Contents></ListBucketResult>";
    for (const size_t extra : {0, 1}) {
        StartStore([&](const httplib::Request&, httplib::Response& res) {
            res.set_content(page + std::string(4 * kMiB - page.size() + extra, ' '),
                            "application/xml");
        });
        RecordingCallback cb;
        EXPECT_EQ(m->ListRemotePath("h/", &cb, nullptr), extra == 0);
        EXPECT_EQ(cb.trace(), extra == 0 ? "0:0+ 0:100" : "-1:100");
    }
}

// An upload succeeds only when the store answers its completion with the
// result document and, when it sends the object's CRC-64, the one of the
// bytes its parts were sent with; else -1 and the log line says why.
TEST_F(Hostile, CompletionsAreVerified) {
    const std::string local = dir_.file("check.bin"), crc = "11051210869376104954";
    ASSERT_TRUE(WriteFileBytes(local, "123456789"));  // the CRC-64/XZ check input
    const std::string result =
        "<CompleteMultipartUploadResult><Key>h/c.bin</Key>"
        "</CompleteMultipartUploadResult>";
    const std::string not_result = "the answer is no CompleteMultipartUploadResult";
    const struct {
        std::string body, object_crc, failure;
    } rows[] = {
        {"", "", not_result},
        {std::string(90 * 1024, ' '), "", not_result},
        {"<Error><Code>InternalError</Code></Error>", crc, not_result},
        {result, "1", "the object's CRC-64 is 1, its parts were sent with " + crc},
        {result, crc, ""},
        {result, "", ""},
    };
    for (const auto& row : rows) {
        testlog::Clear();
        StartMultipartStore([&](const httplib::Request& req, httplib::Response& res) {
            if (req.method == "PUT") return;  // no CRC-64: the layer knows what it sent
            if (req.method == "GET") {
                return res.set_content(
                    "<ListPartsResult><Part><PartNumber>1</PartNumber><ETag>e"
                    "</ETag><Size>9</Size></Part></ListPartsResult>",
                    "application/xml");
            }
            if (!row.object_crc.empty()) res.set_header("x-oss-hash-crc64ecma", row.object_crc);
            res.set_content(row.body, "application/xml");
        });
        RecordingCallback cb;
        EXPECT_EQ(m->UploadFile(local.c_str(), 9, "h/c.bin", &cb), row.failure.empty());
        EXPECT_EQ(cb.trace(),
                  row.failure.empty() ? "0:20 0:90 0:95 0:100" : "0:20 0:90 0:95 -1:100");
        if (!row.failure.empty()) {
            EXPECT_EQ(testlog::Messages("MultiUploadFile").back(),
                      "Complete multipart upload from file failed, " + row.failure + "\n");
        }
    }
}

}  // namespace
