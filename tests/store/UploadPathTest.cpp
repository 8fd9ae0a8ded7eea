// The development server's upload path: the folded CRC-64 and its
// combination, blobs streamed in any piece sizes, and objects completed from
// their parts without a copy (whole, in ranges, copied, deleted, restarted).
#include <dirent.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <openssl/evp.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "Application.h"
#include "BlobWriter.h"
#include "Crc64.h"
#include "Database.h"
#include "ObjectFiles.h"
#include "tests/support/TempDir.h"

namespace {

using devserver::Crc64Combine;
using devserver::Crc64Update;

constexpr size_t kMiB = 1u << 20;
constexpr size_t kMinPart = 100 * 1024;

uint64_t BitwiseCrc64(const std::string& data) {
    uint64_t crc = ~0ULL;
    for (unsigned char c : data) {
        crc ^= c;
        for (int k = 0; k < 8; ++k) crc = (crc & 1) ? (crc >> 1) ^ 0xC96C5795D7870F42ULL : crc >> 1;
    }
    return ~crc;
}

std::string Bytes(size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::string out(n, '\0');
    for (char& c : out) c = static_cast<char>(gen() & 0xff);
    return out;
}

std::string Md5(const std::string& data) {
    unsigned char d[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    EVP_Digest(data.data(), data.size(), d, &n, EVP_md5(), nullptr);
    return std::string(reinterpret_cast<char*>(d), n);
}

size_t FilesIn(const std::string& dir) {
    size_t n = 0;
    if (DIR* d = opendir(dir.c_str())) {
        while (struct dirent* e = readdir(d))
            if (e->d_name[0] != '.') ++n;
        closedir(d);
    }
    return n;
}

TEST(DevServerCrc64, FoldedChecksumMatchesTheBitwiseDefinition) {
    const std::string data = Bytes(70000, 1);
    struct Case {
        size_t offset, length;
    } cases[] = {{0, 63},  {0, 64},  {1, 64},  {3, 65},    {0, 79},    {5, 80},     {7, 127},
                 {0, 128}, {9, 191}, {2, 255}, {13, 4096}, {0, 65536}, {11, 65000}, {0, 70000}};
    for (const Case& c : cases) {
        std::string piece = data.substr(c.offset, c.length);
        uint64_t want = BitwiseCrc64(piece);
        EXPECT_EQ(Crc64Update(0, piece.data(), piece.size()), want) << c.offset << "+" << c.length;
        // Continuing from a checksum so far gives the same.
        uint64_t head = Crc64Update(0, piece.data(), 10);
        EXPECT_EQ(Crc64Update(head, piece.data() + 10, piece.size() - 10), want)
            << c.offset << "+" << c.length;
    }
}

TEST(DevServerCrc64, CombinationOfPartChecksumsIsTheWholeObjects) {
    const std::vector<std::vector<size_t>> layouts = {
        {1}, {64, 64}, {kMinPart, kMinPart + 7, 3}, {0, 5, 0}, {kMiB, 1}, {17, 0}};
    unsigned seed = 10;
    for (const auto& sizes : layouts) {
        std::string whole;
        uint64_t combined = 0;
        for (size_t size : sizes) {
            std::string part = Bytes(size, seed++);
            combined = Crc64Combine(combined, Crc64Update(0, part.data(), part.size()), size);
            whole += part;
        }
        EXPECT_EQ(combined, BitwiseCrc64(whole)) << sizes.size() << " parts, " << whole.size();
    }
}

TEST(DevServerBlobWriter, AnyPieceSizesGiveTheSameBytesAndDigests) {
    TempDir dir;
    devserver::BlobStore store(dir.path());
    // Pieces from a page-aligned buffer in whole pages are written as they
    // are; any others go through the writer's staging buffer.
    struct Case {
        size_t total, piece;
        bool page_aligned;
    } cases[] = {{0, 1, false},
                 {1, 1, false},
                 {4095, 4095, false},
                 {4097, 1000, false},
                 {kMiB, 4096, false},
                 {kMiB + 1, kMiB, false},
                 {3 * kMiB + 123, 300000, false},
                 {2 * kMiB, 2 * kMiB, false},
                 {2 * kMiB, kMiB, true},
                 {kMiB + 8192 + 5, 4096, true},
                 {3 * kMiB + 7, kMiB, true}};
    unsigned seed = 20;
    for (const Case& c : cases) {
        const std::string data = Bytes(c.total, seed++);
        std::unique_ptr<char, decltype(&std::free)> aligned(
            static_cast<char*>(std::aligned_alloc(4096, (c.total / 4096 + 1) * 4096)), &std::free);
        ASSERT_TRUE(aligned);
        std::copy(data.begin(), data.end(), aligned.get());
        const char* source = c.page_aligned ? aligned.get() : data.data();
        devserver::BlobWriter w(store);
        for (size_t at = 0; at < data.size(); at += c.piece)
            ASSERT_TRUE(w.Write(source + at, std::min(c.piece, data.size() - at)));
        EXPECT_EQ(w.size(), static_cast<long long>(c.total));
        EXPECT_EQ(w.crc64(), BitwiseCrc64(data)) << c.total << "/" << c.piece;
        EXPECT_TRUE(w.Md5() == Md5(data)) << c.total << "/" << c.piece;
        std::string name;
        ASSERT_TRUE(w.Publish(devserver::BlobKind::kObject, name));
        EXPECT_TRUE(ReadFileBytes(store.Path(devserver::BlobKind::kObject, name)) == data)
            << c.total << "/" << c.piece;
    }
    EXPECT_EQ(FilesIn(dir.path() + "/tmp"), 0u);
}

TEST(DevServerDatabase, CompletionRefusesAPartSentAgainMeanwhile) {
    TempDir dir;
    devserver::Database db(dir.file("db"));
    devserver::Upload u;
    u.upload_id = "U1";
    u.bucket = "b";
    u.key = "k";
    db.CreateUpload(u);
    devserver::Part first;
    first.part_number = 1;
    first.size = 3;
    first.file = "first";
    db.PutPart("U1", first);
    std::vector<devserver::Part> listed = db.Parts("U1", 0, 10);
    ASSERT_EQ(listed.size(), 1u);
    devserver::Part again = first;
    again.file = "again";
    EXPECT_EQ(db.PutPart("U1", again), "first");

    devserver::ObjectMeta m;
    m.bucket = "b";
    m.key = "k";
    m.size = 3;
    m.blobs = {{"linked", 3}};
    EXPECT_THROW(db.CompleteUpload("U1", m, {&listed[0]}), devserver::PartChanged);
    devserver::ObjectMeta stored;
    EXPECT_FALSE(db.GetObject("b", "k", stored));
    listed = db.Parts("U1", 0, 10);
    EXPECT_NO_THROW(db.CompleteUpload("U1", m, {&listed[0]}));
    ASSERT_TRUE(db.GetObject("b", "k", stored));
    EXPECT_EQ(stored.blobs.size(), 1u);
    EXPECT_THROW(db.CompleteUpload("U1", m, {&listed[0]}), std::out_of_range);
}

// One in-process server over a data directory that outlives restarts.
class DevServerObjects : public ::testing::Test {
protected:
    void SetUp() override { Start(); }
    void TearDown() override { server_.reset(); }

    void Start() {
        devserver::ServerOptions options;
        options.data_dir = dir_.path();
        options.api_port = 0;
        options.store_port = 0;
        options.api_plain_http = true;
        options.allow_anonymous = true;
        server_ = std::make_unique<devserver::Application>(options);
        server_->Start();
        client_ = std::make_unique<httplib::Client>("127.0.0.1", server_->store_port());
    }
    void Restart() {
        client_.reset();
        server_.reset();
        Start();
    }

    static std::string Path(const std::string& key) { return "/nimbra-backup/" + key; }
    static std::string XmlField(const std::string& xml, const std::string& tag) {
        size_t a = xml.find("<" + tag + ">");
        size_t b = xml.find("</" + tag + ">");
        if (a == std::string::npos || b == std::string::npos) return "";
        a += tag.size() + 2;
        return xml.substr(a, b - a);
    }

    // Uploads `parts` (numbered from 1) and completes with the numbers in
    // `chosen`; returns the completion's answer.
    httplib::Result Multipart(const std::string& key, const std::vector<std::string>& parts,
                              const std::vector<int>& chosen) {
        auto init = client_->Post((Path(key) + "?uploads").c_str(), "", "text/plain");
        EXPECT_TRUE(init && init->status == 200);
        std::string id = init ? XmlField(init->body, "UploadId") : "";
        std::vector<std::string> etags;
        for (size_t i = 0; i < parts.size(); ++i) {
            auto r = client_->Put(
                (Path(key) + "?partNumber=" + std::to_string(i + 1) + "&uploadId=" + id).c_str(),
                parts[i], "application/octet-stream");
            EXPECT_TRUE(r && r->status == 200);
            etags.push_back(r ? r->get_header_value("ETag") : "");
        }
        std::string xml = "<CompleteMultipartUpload>";
        for (int n : chosen)
            xml += "<Part><PartNumber>" + std::to_string(n) + "</PartNumber><ETag>" +
                   etags[static_cast<size_t>(n - 1)] + "</ETag></Part>";
        xml += "</CompleteMultipartUpload>";
        return client_->Post((Path(key) + "?uploadId=" + id).c_str(), xml, "application/xml");
    }

    // Every byte range in `ranges` of the object reads as that part of `data`.
    void ExpectRanges(const std::string& key, const std::string& data,
                      const std::vector<std::pair<size_t, size_t>>& ranges) {
        for (const auto& r : ranges) {
            auto got = client_->Get(
                Path(key).c_str(),
                {{"Range", "bytes=" + std::to_string(r.first) + "-" + std::to_string(r.second)}});
            ASSERT_TRUE(got);
            EXPECT_EQ(got->status, 206) << key << " " << r.first << "-" << r.second;
            EXPECT_TRUE(got->body == data.substr(r.first, r.second - r.first + 1))
                << key << " " << r.first << "-" << r.second;
        }
    }

    TempDir dir_;
    std::unique_ptr<devserver::Application> server_;
    std::unique_ptr<httplib::Client> client_;
};

TEST_F(DevServerObjects, CompletedObjectsAreTheChosenPartsInOrder) {
    struct Case {
        std::string key;
        std::vector<size_t> sizes;
        std::vector<int> chosen;
    } cases[] = {{"mp/three", {kMinPart, kMinPart + 7, 10}, {1, 2, 3}},
                 {"mp/one", {5}, {1}},
                 {"mp/gap", {kMinPart, 3, kMinPart + 1}, {1, 3}},
                 {"mp/big", {kMiB + 5, kMiB, 4097}, {1, 2, 3}}};
    unsigned seed = 30;
    for (const Case& c : cases) {
        const size_t parts_before = FilesIn(dir_.path() + "/parts");
        const size_t objects_before = FilesIn(dir_.path() + "/objects");
        std::vector<std::string> parts;
        for (size_t size : c.sizes) parts.push_back(Bytes(size, seed++));
        std::string whole;
        std::vector<size_t> boundaries;
        for (int n : c.chosen) {
            whole += parts[static_cast<size_t>(n - 1)];
            boundaries.push_back(whole.size());
        }
        auto done = Multipart(c.key, parts, c.chosen);
        ASSERT_TRUE(done && done->status == 200) << c.key << (done ? done->body : "");
        EXPECT_EQ(done->get_header_value("x-oss-hash-crc64ecma"),
                  std::to_string(BitwiseCrc64(whole)))
            << c.key;

        auto get = client_->Get(Path(c.key).c_str());
        ASSERT_TRUE(get);
        EXPECT_EQ(get->status, 200);
        EXPECT_TRUE(get->body == whole) << c.key;
        EXPECT_EQ(get->get_header_value("x-oss-hash-crc64ecma"),
                  std::to_string(BitwiseCrc64(whole)));
        EXPECT_EQ(get->get_header_value("x-oss-object-type"), "Multipart");

        // Ranges within, up to and across every boundary between parts.
        std::vector<std::pair<size_t, size_t>> ranges = {{0, 0}, {0, whole.size() - 1}};
        for (size_t b : boundaries) {
            if (b >= whole.size()) continue;
            ranges.push_back({b - 1, b});
            ranges.push_back({b, b});
            ranges.push_back({b > 3 ? b - 3 : 0, std::min(whole.size() - 1, b + 3)});
        }
        ExpectRanges(c.key, whole, ranges);

        // Every part's blob is gone from parts/; the object holds one blob per
        // chosen part.
        EXPECT_EQ(FilesIn(dir_.path() + "/parts"), parts_before) << c.key;
        EXPECT_EQ(FilesIn(dir_.path() + "/objects"), objects_before + c.chosen.size()) << c.key;
    }
}

TEST_F(DevServerObjects, PartListObjectsOutliveRestartsAndCopiesAndAreDeletedWhole) {
    const size_t objects_before = FilesIn(dir_.path() + "/objects");
    std::vector<std::string> parts = {Bytes(kMinPart + 1, 40), Bytes(kMinPart, 41), Bytes(777, 42)};
    const std::string whole = parts[0] + parts[1] + parts[2];
    auto done = Multipart("keep/mp", parts, {1, 2, 3});
    ASSERT_TRUE(done && done->status == 200);
    const std::string etag = done->get_header_value("ETag");
    auto copy = client_->Put(Path("keep/copy").c_str(),
                             {{"x-oss-copy-source", "/nimbra-backup/keep/mp"}}, "", "text/plain");
    ASSERT_TRUE(copy && copy->status == 200);
    // An object replaced by a new one releases its blobs.
    auto replaced = Multipart("keep/replaced", {Bytes(kMinPart, 43), Bytes(9, 44)}, {1, 2});
    ASSERT_TRUE(replaced && replaced->status == 200);
    auto put = client_->Put(Path("keep/replaced").c_str(), "small", "text/plain");
    ASSERT_TRUE(put && put->status == 200);
    EXPECT_EQ(FilesIn(dir_.path() + "/objects"), objects_before + 3 + 3 + 1);

    Restart();
    for (const char* key : {"keep/mp", "keep/copy"}) {
        auto get = client_->Get(Path(key).c_str());
        ASSERT_TRUE(get);
        EXPECT_TRUE(get->body == whole) << key;
        EXPECT_EQ(get->get_header_value("ETag"), etag) << key;
        EXPECT_EQ(get->get_header_value("x-oss-hash-crc64ecma"),
                  std::to_string(BitwiseCrc64(whole)));
        ExpectRanges(key, whole, {{kMinPart, kMinPart + 1}, {2 * kMinPart - 5, whole.size() - 1}});
    }

    auto del = client_->Delete(Path("keep/mp").c_str());
    ASSERT_TRUE(del && del->status == 204);
    auto get = client_->Get(Path("keep/copy").c_str());
    ASSERT_TRUE(get);
    EXPECT_TRUE(get->body == whole);
    ASSERT_TRUE(client_->Delete(Path("keep/copy").c_str()));
    ASSERT_TRUE(client_->Delete(Path("keep/replaced").c_str()));
    EXPECT_EQ(FilesIn(dir_.path() + "/objects"), objects_before);
}

}  // namespace
