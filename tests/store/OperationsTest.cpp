// The single-request operations, the ranged download and the listing
// against the development server (and, for what must be seen on the wire,
// against scripted peers); how transport failures map to results.
#include <cstdio>
#include <ctime>

#include "tests/store/StoreOpsTest.h"
#include "tests/support/TestServers.h"

namespace {

using namespace storeops;

std::string Url(const webtest::RefusingPort& port) {
    return "http://127.0.0.1:" + std::to_string(port.port());
}

class SimpleOps : public OpsTest {};

TEST_F(SimpleOps, PutSendsTheWholeFileUnderItsExactKey) {
    const std::string data = RandomBytes(300000, 1);
    const std::string name = "a b+c%d\xc3\xa9?#&=.bin";
    EXPECT_TRUE(UploadFile(ep(), ak(), sk(), bucket(), tok(), ("keys/" + name).c_str(),
                           Local("up", data).c_str()));
    EXPECT_EQ(Requests("PutObject"), 1);
    RecordingCallback list(testcb::Payload::kPages);
    EXPECT_TRUE(ListObject(ep(), ak(), sk(), bucket(), tok(), "keys/", &list, nullptr));
    ASSERT_EQ(list.pages().size(), 1u);
    ASSERT_EQ(list.pages()[0].size(), 1u);
    EXPECT_EQ(list.pages()[0][0].szPathName, name);
    EXPECT_EQ(list.pages()[0][0].llFileSize, 300000);
    EXPECT_TRUE(DownloadFile(ep(), ak(), sk(), bucket(), tok(), ("keys/" + name).c_str(),
                             dir_.file("down").c_str(), nullptr));
    EXPECT_TRUE(ReadFileBytes(dir_.file("down")) == data);
    EXPECT_TRUE(testlog::Messages().empty());
}

TEST_F(SimpleOps, PutFailuresAreLogged) {
    // The store wants the credential's token: a null token is not sent.
    EXPECT_FALSE(
        UploadFile(ep(), ak(), sk(), bucket(), nullptr, "simple/t", Local("t", "x").c_str()));
    EXPECT_FALSE(UploadFile(ep(), ak(), sk(), bucket(), tok(), "simple/t", "/no/such/file"));
    EXPECT_EQ(testlog::Messages("UploadFile"),
              (Lines{"oss_put_object_from_file fail, The security token you provided is invalid.",
                     "oss_put_object_from_file fail, cannot open /no/such/file: No such file or "
                     "directory"}));
    EXPECT_EQ(testlog::Snapshot().at(0).file, "Nimbra/OssOperate");
    EXPECT_EQ(testlog::Snapshot().at(0).level, 1);
    EXPECT_EQ(Requests("PutObject"), 1);
    EXPECT_EQ(Stored("simple/t"), "<status 404>");
}

TEST_F(SimpleOps, CopyMovesTheObjectAndKeepsTheSourceWhenAStepFails) {
    Put("simple/src", "payload");
    EXPECT_TRUE(CopyObject(ep(), ak(), sk(), tok(), bucket(), bucket(), "simple/src", "simple/a"));
    EXPECT_EQ(Stored("simple/a"), "payload");
    EXPECT_EQ(Stored("simple/src"), "<status 404>");
    // A missing source: nothing is deleted.
    EXPECT_FALSE(CopyObject(ep(), ak(), sk(), tok(), bucket(), bucket(), "simple/src", "simple/b"));
    EXPECT_EQ(Requests("DeleteObject"), 1);
    // The delete fails: the copy stays and so does the source.
    server_->AddFault(R"({"method":"DELETE","status":500,"message":"disk on fire"})");
    EXPECT_FALSE(CopyObject(ep(), ak(), sk(), tok(), bucket(), bucket(), "simple/a", "simple/c"));
    EXPECT_EQ(Stored("simple/a"), "payload");
    EXPECT_EQ(Stored("simple/c"), "payload");
    EXPECT_EQ(testlog::Messages("CopyObject"),
              (Lines{"oss_copy_object nimbra-backup simple/src fail, The specified key does not "
                     "exist.",
                     "oss_delete_object nimbra-backup simple/a fail, disk on fire"}));
}

TEST_F(SimpleOps, DeleteAndCreateBucket) {
    Put("simple/gone", "g");
    EXPECT_TRUE(DeleteObject(ep(), ak(), sk(), bucket(), tok(), "simple/gone"));  // 204
    EXPECT_EQ(Stored("simple/gone"), "<status 404>");
    server_->AddFault(R"({"method":"DELETE","status":503,"message":"busy"})");
    EXPECT_FALSE(DeleteObject(ep(), ak(), sk(), bucket(), tok(), "simple/gone"));
    webtest::RefusingPort refused;
    EXPECT_FALSE(DeleteObject(Url(refused).c_str(), ak(), sk(), bucket(), tok(), "simple/gone"));
    EXPECT_EQ(testlog::Messages("DeleteObject").at(0), "delete object fail, busy");
    EXPECT_EQ(testlog::Messages("DeleteObject").size(), 2u);

    EXPECT_TRUE(CreateBucket(ep(), ak(), sk(), tok(), bucket()));
    EXPECT_FALSE(CreateBucket(Url(refused).c_str(), ak(), sk(), tok(), bucket()));
    EXPECT_EQ(Requests("PutBucket"), 1);
    EXPECT_EQ(testlog::Messages("CreateBucket"), Lines{});
}

TEST_F(SimpleOps, NullArgumentsFailWithoutARequest) {
    EXPECT_FALSE(UploadFile(ep(), ak(), sk(), bucket(), tok(), "n", nullptr));
    EXPECT_FALSE(CopyObject(ep(), ak(), sk(), tok(), bucket(), bucket(), nullptr, "n"));
    EXPECT_FALSE(DeleteObject(nullptr, ak(), sk(), bucket(), tok(), "n"));
    EXPECT_FALSE(DownloadFile(ep(), ak(), sk(), bucket(), tok(), nullptr, nullptr, nullptr));
    EXPECT_FALSE(ListObject(ep(), ak(), sk(), nullptr, tok(), nullptr, nullptr, nullptr));
    EXPECT_FALSE(MultiUploadFile(ep(), ak(), sk(), bucket(), tok(), nullptr, nullptr, 5, nullptr));
    EXPECT_TRUE(server_->GetStats().requests.empty());
}

class Download : public OpsTest {};

TEST_F(Download, RangesCoverTheObjectOnceInOrder) {
    struct Case {
        size_t size;
        Lines ranges;
        Events events;
    } cases[] = {
        {0, {}, {{0, 100, false}}},
        {1, {"bytes=0-0"}, {{0, 95, false}, {0, 100, false}}},
        {kMiB, {"bytes=0-1048575"}, {{0, 95, false}, {0, 100, false}}},
        // 95 × 1048576 ÷ 1048577 is 94 in integer division.
        {kMiB + 1,
         {"bytes=0-1048575", "bytes=1048576-1048576"},
         {{0, 94, false}, {0, 95, false}, {0, 100, false}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        const std::string data = RandomBytes(c.size, 2);
        webtest::HttpServer peer;  // answers ranges itself
        peer.get("/nimbra-backup/obj", [&](const httplib::Request&, httplib::Response& res) {
            res.set_content(data, "application/octet-stream");
        });
        peer.start();
        const std::string path = Local("out", std::string(5000, 'z'));  // truncated first
        RecordingCallback cb;
        EXPECT_TRUE(DownloadFile(peer.url("").c_str(), ak(), sk(), bucket(), tok(), "obj",
                                 path.c_str(), &cb));
        EXPECT_EQ(cb.events(), c.events);
        EXPECT_TRUE(ReadFileBytes(path) == data);
        Lines ranges;
        for (const auto& r : peer.received())
            if (r.method == "GET") ranges.push_back(r.header("Range"));
        EXPECT_EQ(ranges, c.ranges);
    }
}

TEST_F(Download, FromTheStoreOnOneConnection) {
    const std::string data = RandomBytes(3 * kMiB - 10, 3);
    Put("dl/obj", data);
    server_->Reset();
    RecordingCallback cb;
    EXPECT_TRUE(
        DownloadFile(ep(), ak(), sk(), bucket(), tok(), "dl/obj", dir_.file("out").c_str(), &cb));
    EXPECT_EQ(cb.events(),
              (Events{{0, 31, false}, {0, 63, false}, {0, 95, false}, {0, 100, false}}));
    EXPECT_TRUE(ReadFileBytes(dir_.file("out")) == data);
    const DevServer::Stats stats = server_->GetStats();
    EXPECT_EQ(stats.connections_accepted, 1);
    EXPECT_EQ(stats.requests, (std::map<std::string, long>{{"GetObject", 3}, {"HeadObject", 1}}));
    EXPECT_TRUE(testlog::Messages().empty());
}

// Every failure ends with one log line and one report of percentage 100; the
// local file keeps the ranges written before it.
TEST_F(Download, FailuresKeepTheRangesWrittenBefore) {
    const std::string data = RandomBytes(2 * kMiB + 5, 4);
    const std::string out = dir_.file("out");
    struct Case {
        std::string settings, fault;
        bool after_first_range;
        Events events;
        std::string log;
        long kept;  // bytes of the object in the local file; -1: not checked
    } cases[] = {
        {"",
         R"({"method":"GET","status":500,"message":"boom"})",
         true,
         {{0, 47, false}, {-1, 100, false}},
         "oss_get_object_to_file fail, boom",
         kMiB},
        {"",
         R"({"method":"GET","action":"close","close_after_bytes":1000})",
         false,
         {{1, 100, false}},
         "oss_get_object_to_file fail, ",
         0},
        {"",
         R"({"method":"GET","action":"truncate_body","keep_bytes":10})",
         false,
         {{-1, 100, false}},
         "range 0-1048575 returned 10 bytes",
         0},
        {R"({"ignore_range":true})",
         "",
         false,
         {{-1, 100, false}},
         "range 0-1048575 returned 2097157 bytes",
         0},
        {"",
         R"({"method":"GET","action":"corrupt_body"})",
         true,
         {{0, 47, false}, {0, 94, false}, {0, 95, false}, {-1, 100, false}},
         "crc64 of " + out,
         -1},
        {"",
         R"({"method":"HEAD","action":"bad_crc"})",
         false,
         {{0, 47, false}, {0, 94, false}, {0, 95, false}, {-1, 100, false}},
         "crc64 of " + out,
         static_cast<long>(data.size())},
        // A HEAD answer has no body, so there is no store message to log.
        {"",
         R"({"method":"HEAD","action":"expire"})",
         false,
         {{-1, 100, false}},
         "oss_get_object_meta fail, ",
         0},
    };
    Put("dl/obj", data);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.log);
        server_->Reset();
        testlog::Clear();
        std::remove(out.c_str());
        if (!c.settings.empty()) server_->Settings(c.settings);
        if (!c.fault.empty() && !c.after_first_range) server_->AddFault(c.fault);
        RecordingCallback cb;
        cb.hook = [&](int, int percent) {
            if (c.after_first_range && percent == 47) server_->AddFault(c.fault);
        };
        EXPECT_FALSE(DownloadFile(ep(), ak(), sk(), bucket(), tok(), "dl/obj", out.c_str(), &cb));
        EXPECT_EQ(cb.events(), c.events);
        const Lines logs = testlog::Messages("DownloadFile");
        ASSERT_EQ(logs.size(), 1u);
        EXPECT_EQ(logs[0].substr(0, c.log.size()), c.log) << logs[0];
        EXPECT_TRUE(c.kept < 0 || ReadFileBytes(out) == data.substr(0, c.kept));
    }
}

TEST_F(Download, LocalFileFailures) {
    Put("dl/x", "some bytes");
    const std::string nowhere = dir_.file("no/such/dir/file");
    RecordingCallback unopenable, full;
    EXPECT_FALSE(
        DownloadFile(ep(), ak(), sk(), bucket(), tok(), "dl/x", nowhere.c_str(), &unopenable));
    // Writes to /dev/full fail with "no space left".
    EXPECT_FALSE(DownloadFile(ep(), ak(), sk(), bucket(), tok(), "dl/x", "/dev/full", &full));
    EXPECT_EQ(unopenable.events(), (Events{{-1, 100, false}}));
    EXPECT_EQ(full.events(), (Events{{-1, 100, false}}));
    EXPECT_EQ(testlog::Messages("DownloadFile"),
              (Lines{"open " + nowhere + " fail", "write /dev/full fail"}));
    EXPECT_EQ(Requests("GetObject"), 1);
}

// A listing page as "name size" for files and "name/" for folders.
std::vector<Lines> Pages(const RecordingCallback& cb) {
    std::vector<Lines> pages;
    for (const auto& page : cb.pages()) {
        pages.emplace_back();
        for (const _ST_RemotePathInfo& e : page) {
            pages.back().push_back(std::string(e.szPathName) +
                                   (e.bIsDir ? "/" : " " + std::to_string(e.llFileSize)));
            EXPECT_TRUE(!e.bIsDir || e.llFileSize + e.tLastModified == 0) << e.szPathName;
        }
    }
    return pages;
}

// One (0, 0, page) per page, then (0, 100).
Events PageEvents(size_t pages) {
    Events events(pages, Event{0, 0, true});
    events.push_back({0, 100, false});
    return events;
}

class List : public OpsTest {
protected:
    bool Run(const char* prefix, RecordingCallback& cb, bool* stop = nullptr,
             const std::string& endpoint = "") {
        return ListObject(endpoint.empty() ? ep() : endpoint.c_str(), ak(), sk(), bucket(), tok(),
                          prefix, &cb, stop);
    }
};

TEST_F(List, FilesThenFoldersRelativeToThePrefix) {
    Put("photos/", "");
    Put("photos/a.jpg", "12345");
    Put("photos/2019/b.jpg", "b");
    Put("photos.txt", "22");
    RecordingCallback folder(testcb::Payload::kPages), bare(testcb::Payload::kPages),
        empty(testcb::Payload::kPages);
    EXPECT_TRUE(Run("photos/", folder));
    // The common prefix "photos/" has the relative name "/": no entry.
    EXPECT_TRUE(Run("photos", bare));
    EXPECT_TRUE(Run("nothing-here/", empty));
    EXPECT_EQ(Pages(folder), (std::vector<Lines>{{"a.jpg 5", "2019/"}}));
    EXPECT_EQ(Pages(bare), (std::vector<Lines>{{".txt 2"}}));
    EXPECT_EQ(Pages(empty), (std::vector<Lines>{{}}));
    for (const auto* cb : {&folder, &bare, &empty}) EXPECT_EQ(cb->events(), PageEvents(1));
    EXPECT_TRUE(testlog::Messages().empty());
}

TEST_F(List, PagesContinueAtTheNextMarker) {
    for (const char* key : {"pg/a", "pg/b", "pg/c/x", "pg/d", "pg/e/y"}) Put(key, "1");
    server_->Settings(R"({"max_list_keys":2})");
    RecordingCallback cb(testcb::Payload::kPages);
    EXPECT_TRUE(Run("pg/", cb));
    EXPECT_EQ(Pages(cb), (std::vector<Lines>{{"a 1", "b 1"}, {"d 1", "c/"}, {"e/"}}));
    EXPECT_EQ(cb.events(), PageEvents(3));
    EXPECT_EQ(Requests("ListObjects"), 3);
}

TEST_F(List, StopsAndFailures) {
    for (const char* key : {"st/a", "st/b", "st/c"}) Put(key, "1");
    server_->Settings(R"({"max_list_keys":1})");
    bool stop = true;
    RecordingCallback before, within, later, cut, expired;
    EXPECT_TRUE(Run("st/", before, &stop));
    EXPECT_TRUE(stop);  // read, never written
    EXPECT_EQ(Requests("ListObjects"), 0);
    stop = false;
    within.hook = [&](int, int percent) { stop = percent == 0; };
    EXPECT_TRUE(Run("st/", within, &stop));
    EXPECT_EQ(Requests("ListObjects"), 1);
    // Pages delivered before a failure stay delivered.
    later.hook = [&](int, int percent) {
        if (percent == 0) server_->AddFault(R"({"method":"GET","status":500})");
    };
    EXPECT_FALSE(Run("st/", later));
    server_->AddFault(R"({"method":"GET","action":"close","close_after_bytes":10})");
    EXPECT_FALSE(Run("st/", cut));
    server_->ExpireCredentials();
    EXPECT_FALSE(Run("st/", expired));
    EXPECT_EQ(before.events(), (Events{{0, 100, false}}));
    EXPECT_EQ(within.events(), PageEvents(1));
    EXPECT_EQ(later.events(), (Events{{0, 0, true}, {-1, 100, false}}));
    EXPECT_EQ(cut.events(), (Events{{1, 100, false}}));
    EXPECT_EQ(expired.events(), (Events{{-1, 100, false}}));
    EXPECT_TRUE(testlog::Messages().empty());
}

// A store listing answer: objects (key, size) and common prefixes.
std::string Listing(bool truncated, const std::string& next_marker,
                    const std::vector<std::pair<std::string, std::string>>& objects,
                    const Lines& prefixes) {
    std::string xml = "<ListBucketResult><IsTruncated>" +
                      std::string(truncated ? "true" : "false") + "</IsTruncated><NextMarker>" +
                      next_marker + "</NextMarker>";
    for (const auto& o : objects)
        xml += "<Contents><Key>" + o.first + "</Key><Size>" + o.second +
               "</Size><LastModified>2019-03-15T08:20:31.000Z</LastModified></Contents>";
    for (const std::string& p : prefixes)
        xml += "<CommonPrefixes><Prefix>" + p + "</Prefix></CommonPrefixes>";
    return xml + "</ListBucketResult>";
}

// The query of each page and the entries made of each answer, against a
// scripted store.
TEST_F(List, QueriesAndEntriesOnTheWire) {
    Lines answers;
    bool stop = false, stop_while_serving = false;
    size_t served = 0;
    webtest::HttpServer peer;
    peer.get(".*", [&](const httplib::Request&, httplib::Response& res) {
        __atomic_store_n(&stop, stop_while_serving, __ATOMIC_RELAXED);
        res.set_content(answers[std::min(served++, answers.size() - 1)], "application/xml");
    });
    peer.start();
    auto targets = [&] {
        Lines out;
        for (const auto& r : peer.received()) out.push_back(r.target);
        return out;
    };

    answers = {Listing(true, "p/b", {{"p/", "0"}, {"p/a", "12"}}, {"p/d/", "p//"}),
               Listing(false, "", {{"p/c", "3"}}, {"p/e/"})};
    RecordingCallback paged(testcb::Payload::kPages);
    EXPECT_TRUE(Run("p/", paged, &stop, peer.url("")));
    EXPECT_EQ(Pages(paged), (std::vector<Lines>{{"a 12", "d/"}, {"c 3", "e/"}}));
    EXPECT_EQ(targets(),
              (Lines{"/nimbra-backup/?prefix=p%2F&delimiter=%2F&max-keys=500",
                     "/nimbra-backup/?prefix=p%2F&marker=p%2Fb&delimiter=%2F&max-keys=500"}));
    struct tm local = {};
    local.tm_year = 119, local.tm_mon = 2, local.tm_mday = 15;
    local.tm_hour = 8, local.tm_min = 20, local.tm_sec = 31;
    EXPECT_EQ(paged.pages()[0][0].tLastModified, mktime(&local));  // read as local time

    // "/" lists the top level: no prefix is sent, and neither the key "/"
    // nor the common prefix "/" gives an entry.
    answers = {Listing(false, "", {{"/", "5"}, {"top.txt", "3"}}, {"/", "dir1/"})};
    served = 0;
    RecordingCallback top(testcb::Payload::kPages);
    EXPECT_TRUE(Run("/", top, &stop, peer.url("")));
    EXPECT_EQ(Pages(top), (std::vector<Lines>{{"top.txt 3", "dir1/"}}));
    EXPECT_EQ(targets().back(), "/nimbra-backup/?delimiter=%2F&max-keys=500");

    // A stop that arrives while a page is on its way: its entries are not delivered.
    stop_while_serving = true;
    RecordingCallback stopped;
    EXPECT_TRUE(Run("/", stopped, &stop, peer.url("")));
    EXPECT_EQ(stopped.events(), (Events{{0, 100, false}}));
    EXPECT_EQ(targets().size(), 4u);
}

// A failed status becomes 1 or -1 by the download map for downloads and by
// the transfer map for listings and uploads.
TEST(ResultMaps, TransportFailuresFollowEachOperationsMap) {
    webtest::RefusingPort refused;
    webtest::TestCertificate certificate("IP:127.0.0.1");
    webtest::HttpServer untrusted(certificate);
    untrusted.get(".*", [](const httplib::Request&, httplib::Response&) {});
    untrusted.start();
    TempDir dir;
    struct Case {
        std::string endpoint;
        int download, transfer;
    } cases[] = {
        {Url(refused), 1, 1},        // the connection is refused
        {untrusted.url(""), -1, 1},  // the peer fails verification
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.endpoint);
        RecordingCallback download, list, upload;
        const char* e = c.endpoint.c_str();
        EXPECT_FALSE(
            DownloadFile(e, "id", "secret", "bkt", "t", "k", dir.file("f").c_str(), &download));
        EXPECT_FALSE(ListObject(e, "id", "secret", "bkt", "t", "k", &list, nullptr));
        EXPECT_FALSE(MultiUploadFile(e, "id", "secret", "bkt", "t", "k", "/dev/null", 1, &upload));
        EXPECT_EQ(download.events(), (Events{{c.download, 100, false}}));
        EXPECT_EQ(list.events(), (Events{{c.transfer, 100, false}}));
        EXPECT_EQ(upload.events(), (Events{{c.transfer, 100, false}}));
    }
    EXPECT_TRUE(untrusted.received().empty());
}

}  // namespace
