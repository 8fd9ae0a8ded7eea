// ListObjects: prefix, exclusive marker, delimiter folding, max-keys counting
// keys and common prefixes together, continuation, byte order, url encoding.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>

#include "tests/devserver/StoreTestUtil.h"
#include "tests/support/DevServer.h"

using namespace storetest;

namespace {

struct Page {
    std::vector<std::string> keys, prefixes;
    bool truncated = false;
    std::string next_marker;
};

class StoreListing : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        server_ = new DevServer();
        std::vector<std::string> keys = {"a.txt", "b/1", "b/2", "b/c/3",    "c",       "d/",
                                         "d/x",   "Z",   "_u",  "\xc3\xa9", "sp ace/k"};
        for (int i = 0; i < 250; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "many/k%04d", i);
            keys.push_back(name);
        }
        for (const auto& k : keys)
            ASSERT_EQ(server_->StoreRequest("PUT", "/nimbra-backup/" + UrlEncode(k), "x").first,
                      200);
    }
    static void TearDownTestSuite() {
        delete server_;
        server_ = nullptr;
    }
    void SetUp() override { server_->Reset(); }

    static Page List(const std::string& query) {
        auto r = server_->StoreRequest("GET", "/nimbra-backup/?" + query);
        EXPECT_EQ(r.first, 200) << r.second;
        Page p;
        for (const auto& c : XmlAll(r.second, "Contents"))
            p.keys.push_back(XmlText(XmlFirst(c, "Key")));
        for (const auto& c : XmlAll(r.second, "CommonPrefixes"))
            p.prefixes.push_back(XmlText(XmlFirst(c, "Prefix")));
        p.truncated = XmlFirst(r.second, "IsTruncated") == "true";
        p.next_marker = XmlText(XmlFirst(r.second, "NextMarker"));
        EXPECT_EQ(XmlFirst(r.second, "IsTruncated").empty(), false);
        return p;
    }
    // Follows NextMarker to the end; every entry in listing order.
    static std::vector<std::string> ListAll(const std::string& base, int* pages) {
        std::vector<std::string> all;
        std::string marker;
        *pages = 0;
        for (;;) {
            Page p = List(base + "&marker=" + UrlEncode(marker, false));
            ++*pages;
            for (auto& k : p.keys) all.push_back(k);
            for (auto& k : p.prefixes) all.push_back(k);
            if (!p.truncated) break;
            EXPECT_FALSE(p.next_marker.empty());
            marker = p.next_marker;
            if (*pages > 1000) break;
        }
        return all;
    }
    static DevServer* server_;
};
DevServer* StoreListing::server_ = nullptr;

}  // namespace

TEST_F(StoreListing, DelimiterFoldsDeeperKeysIntoCommonPrefixes) {
    Page top = List("delimiter=/&max-keys=1000");
    EXPECT_EQ(top.keys, (std::vector<std::string>{"Z", "_u", "a.txt", "c", "\xc3\xa9"}));
    EXPECT_EQ(top.prefixes, (std::vector<std::string>{"b/", "d/", "many/", "sp ace/"}));
    EXPECT_FALSE(top.truncated);

    Page b = List("prefix=b/&delimiter=/");
    EXPECT_EQ(b.keys, (std::vector<std::string>{"b/1", "b/2"}));
    EXPECT_EQ(b.prefixes, (std::vector<std::string>{"b/c/"}));
    // The folder's own marker object is listed under its prefix.
    Page d = List("prefix=d/&delimiter=/");
    EXPECT_EQ(d.keys, (std::vector<std::string>{"d/", "d/x"}));
    // A prefix without a trailing slash.
    Page bare = List("prefix=b&delimiter=/");
    EXPECT_TRUE(bare.keys.empty());
    EXPECT_EQ(bare.prefixes, (std::vector<std::string>{"b/"}));
}

TEST_F(StoreListing, MaxKeysCountsKeysAndPrefixesAndContinuesAtTheMarker) {
    Page first = List("delimiter=/&max-keys=3");
    EXPECT_EQ(first.keys, (std::vector<std::string>{"Z", "_u", "a.txt"}));
    EXPECT_TRUE(first.prefixes.empty());
    EXPECT_TRUE(first.truncated);
    EXPECT_EQ(first.next_marker, "a.txt");
    Page second = List("delimiter=/&max-keys=3&marker=a.txt");
    EXPECT_EQ(second.keys, (std::vector<std::string>{"c"}));
    EXPECT_EQ(second.prefixes, (std::vector<std::string>{"b/", "d/"}));
    EXPECT_EQ(second.next_marker, "d/");
    // A common prefix as marker skips everything under it.
    Page third = List("delimiter=/&max-keys=3&marker=d/");
    EXPECT_EQ(third.keys, (std::vector<std::string>{"\xc3\xa9"}));
    EXPECT_EQ(third.prefixes, (std::vector<std::string>{"many/", "sp ace/"}));
    EXPECT_FALSE(third.truncated);

    int pages = 0;
    auto all = ListAll("delimiter=/&max-keys=2", &pages);
    EXPECT_EQ(pages, 5);
    EXPECT_EQ(all.size(), 9u);
    EXPECT_EQ(std::set<std::string>(all.begin(), all.end()).size(), all.size());
}

TEST_F(StoreListing, PagesThroughManyKeysInByteOrder) {
    Page def = List("prefix=many/");
    EXPECT_EQ(def.keys.size(), 100u);  // default max-keys
    EXPECT_TRUE(def.truncated);
    EXPECT_EQ(def.next_marker, "many/k0099");

    int pages = 0;
    auto all = ListAll("prefix=many/&max-keys=100", &pages);
    EXPECT_EQ(pages, 3);
    ASSERT_EQ(all.size(), 250u);
    for (int i = 0; i < 250; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "many/k%04d", i);
        EXPECT_EQ(all[static_cast<size_t>(i)], name);
    }
    // Marker is exclusive and may lie between keys.
    Page after = List("prefix=many/&marker=many/k0247");
    EXPECT_EQ(after.keys, (std::vector<std::string>{"many/k0248", "many/k0249"}));
    Page between = List("prefix=many/&marker=many/k0247zz");
    EXPECT_EQ(between.keys, (std::vector<std::string>{"many/k0248", "many/k0249"}));
    Page beyond = List("marker=%EF%BF%BF");
    EXPECT_TRUE(beyond.keys.empty());
    EXPECT_FALSE(beyond.truncated);
}

TEST_F(StoreListing, ServerSideCapForcesContinuation) {
    server_->Settings(R"({"max_list_keys": 7})");
    Page capped = List("prefix=many/&max-keys=500");
    EXPECT_EQ(capped.keys.size(), 7u);
    EXPECT_TRUE(capped.truncated);
    int pages = 0;
    auto all = ListAll("prefix=many/&max-keys=500", &pages);
    EXPECT_EQ(all.size(), 250u);
    EXPECT_EQ(pages, 36);
    server_->Reset();
    EXPECT_EQ(List("prefix=many/&max-keys=500").keys.size(), 250u);
}

TEST_F(StoreListing, ResultDocumentAndEncoding) {
    auto r = server_->StoreRequest("GET", "/nimbra-backup/?prefix=c&max-keys=5");
    ASSERT_EQ(r.first, 200);
    EXPECT_EQ(XmlFirst(r.second, "Name"), "nimbra-backup");
    EXPECT_EQ(XmlFirst(r.second, "MaxKeys"), "5");
    std::string contents = XmlFirst(r.second, "Contents");
    EXPECT_EQ(XmlFirst(contents, "Size"), "1");
    EXPECT_EQ(XmlFirst(contents, "Type"), "Normal");
    EXPECT_EQ(XmlFirst(contents, "StorageClass"), "Standard");
    EXPECT_EQ(XmlText(XmlFirst(contents, "ETag")), QuotedMd5("x"));
    std::string lm = XmlFirst(contents, "LastModified");
    ASSERT_EQ(lm.size(), 24u) << lm;
    EXPECT_EQ(lm.substr(19), ".000Z");
    EXPECT_EQ(lm[10], 'T');

    auto enc = server_->StoreRequest("GET", "/nimbra-backup/?prefix=sp%20&encoding-type=url");
    ASSERT_EQ(enc.first, 200);
    EXPECT_EQ(XmlFirst(enc.second, "Key"), "sp%20ace/k");
    EXPECT_EQ(XmlFirst(enc.second, "EncodingType"), "url");

    for (const char* bad : {"max-keys=1001", "max-keys=-1", "max-keys=abc", "encoding-type=gzip"}) {
        auto e = server_->StoreRequest("GET", std::string("/nimbra-backup/?") + bad);
        EXPECT_EQ(e.first, 400) << bad;
        EXPECT_EQ(XmlFirst(e.second, "Code"), "InvalidArgument");
    }
}
