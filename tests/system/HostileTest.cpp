// A hostile web API and store, as a man in the middle could be: answers too
// big to hold, and listings and pagings that would never end. Each case must
// end after a bounded number of requests and bounded answers, with its one
// final notification. The peers give up after kPeerLimit requests, so that
// a library without the bounds fails here instead of running forever.
#include <zlib.h>

#include <atomic>
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

// `text` as one gzip stream.
std::string Gzip(const std::string& text) {
    z_stream z{};
    deflateInit2(&z, 9, Z_DEFLATED, 16 + 15, 9, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&z, text.size()), '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    z.avail_in = static_cast<uInt>(text.size());
    z.next_out = reinterpret_cast<Bytef*>(&out[0]);
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
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

// Answers are kept up to 4 MiB as delivered (a POST's with its header lines,
// after gzip decoding): one byte more ends the request as a failed transfer,
// a write error and not the network's, so a download hears nothing.
TEST_F(Hostile, WebApiAnswersAreBoundedAfterDecoding) {
    std::atomic<size_t> extra{0};  // bytes beyond 4 MiB
    StartApi(
        [&](const httplib::Request& req, httplib::Response& res) {
            const std::string size = R"({"size":5})";
            const std::string body = size + std::string(4 * kMiB - size.size() + extra, ' ');
            if (req.method == "POST") res.set_header("Content-Encoding", "gzip");
            res.set_content(req.method == "POST" ? Gzip(body) : body, "application/json");
        },
        false);
    EXPECT_EQ(m->GetUserUsedSize("u"), 5);
    extra = 1;
    testlog::Clear();
    const std::string out = dir_.file("never.bin");
    RecordingCallback cb;
    EXPECT_EQ(m->GetUserUsedSize("u"), 0);
    EXPECT_FALSE(m->DownloadFile("k", out.c_str(), &cb));
    EXPECT_FALSE(m->InsertUserInfo(_ST_UserInfo{}));
    EXPECT_EQ(cb.trace(), "");
    const std::string failed = "ERR:res = 23,rescode = 200\n";
    EXPECT_EQ(testlog::Messages(),
              (std::vector<std::string>{failed, "getUserSpace fail!", failed, "GetStsKey fail!",
                                        failed, "InsertUserInfo fail!"}));
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
