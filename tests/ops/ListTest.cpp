// ListObject against the dev server: relative names, marker objects,
// folders, paging, the host's stop request, failures, local times.
#include <cstdlib>
#include <ctime>

#include "Nimbra/OssOperate.h"
#include "tests/ops/OpsTestUtil.h"

namespace {

using opstest::Event;
using opstest::RecordingCallback;
using opstest::ServerTest;

struct Entry {
    bool dir;
    long long size;
    std::string name;
    bool operator==(const Entry& o) const {
        return dir == o.dir && size == o.size && name == o.name;
    }
};

std::ostream& operator<<(std::ostream& os, const Entry& e) {
    return os << (e.dir ? "dir " : "file ") << e.name << " " << e.size;
}

using Page = std::vector<Entry>;

class List : public ServerTest {
protected:
    bool Run(const char* prefix, RecordingCallback& cb, bool* stop = nullptr) {
        return ListObject(ep(), ak(), sk(), bucket(), tok(), prefix, &cb, stop);
    }
    static std::vector<Page> Pages(const RecordingCallback& cb) {
        std::vector<Page> out;
        for (const auto& page : cb.pages) {
            Page p;
            for (const auto& info : page)
                p.push_back({info.bIsDir, info.llFileSize, info.szPathName});
            out.push_back(p);
        }
        return out;
    }
    // One (0, 0, data) per page, then (0, 100).
    static std::vector<Event> PageEvents(size_t pages) {
        std::vector<Event> ev(pages, Event{0, 0, true});
        ev.push_back({0, 100, false});
        return ev;
    }
};

TEST_F(List, FolderWithMarkerFilesAndSubfolder) {
    PutObject("photos/", "");
    PutObject("photos/a.jpg", "12345");
    PutObject("photos/2019/b.jpg", "b");
    RecordingCallback cb(true);
    EXPECT_TRUE(Run("photos/", cb));
    EXPECT_EQ(cb.events, PageEvents(1));
    EXPECT_EQ(Pages(cb), (std::vector<Page>{{{false, 5, "a.jpg"}, {true, 0, "2019"}}}));
    ASSERT_EQ(cb.pages.size(), 1u);
    EXPECT_EQ(cb.pages[0][1].tLastModified, 0);
    EXPECT_TRUE(testlog::Messages().empty());  // the listing logs nothing
}

TEST_F(List, PrefixWithoutTrailingSlash) {
    PutObject("photos/a.jpg", "1");
    PutObject("photos.txt", "22");
    RecordingCallback cb(true);
    EXPECT_TRUE(Run("photos", cb));
    // The common prefix "photos/" has the relative name "/" and gives no entry.
    EXPECT_EQ(Pages(cb), (std::vector<Page>{{{false, 2, ".txt"}}}));
    EXPECT_EQ(cb.events, PageEvents(1));
}

TEST_F(List, EmptyFolderStillGivesOnePage) {
    RecordingCallback cb(true);
    EXPECT_TRUE(Run("nothing-here/", cb));
    EXPECT_EQ(cb.events, PageEvents(1));
    EXPECT_EQ(Pages(cb), (std::vector<Page>{{}}));
}

TEST_F(List, PagesContinueAtTheNextMarker) {
    for (const char* k : {"pg/a", "pg/b", "pg/c/x", "pg/d", "pg/e/y"}) PutObject(k, "1");
    server().Settings(R"({"max_list_keys":2})");
    RecordingCallback cb(true);
    EXPECT_TRUE(Run("pg/", cb));
    EXPECT_EQ(cb.events, PageEvents(3));
    EXPECT_EQ(Pages(cb), (std::vector<Page>{{{false, 1, "a"}, {false, 1, "b"}},
                                            {{false, 1, "d"}, {true, 0, "c"}},
                                            {{true, 0, "e"}}}));
    EXPECT_EQ(Requests("ListObjects"), 3);
}

TEST_F(List, PagesHoldFiveHundredKeys) {
    for (int i = 0; i < 501; ++i) {
        char key[32];
        snprintf(key, sizeof key, "many/%03d", i);
        PutObject(key, "");
    }
    RecordingCallback cb(true);
    EXPECT_TRUE(Run("many/", cb));
    EXPECT_EQ(cb.events, PageEvents(2));
    ASSERT_EQ(cb.pages.size(), 2u);
    EXPECT_EQ(cb.pages[0].size(), 500u);
    ASSERT_EQ(cb.pages[1].size(), 1u);
    EXPECT_STREQ(cb.pages[0][499].szPathName, "499");
    EXPECT_STREQ(cb.pages[1][0].szPathName, "500");
}

TEST_F(List, NullCallbackAndNullStop) {
    PutObject("quiet/a", "1");
    EXPECT_TRUE(ListObject(ep(), ak(), sk(), bucket(), tok(), "quiet/", nullptr, nullptr));
    EXPECT_EQ(Requests("ListObjects"), 1);
}

TEST_F(List, StopBeforeTheFirstPageSendsNoRequest) {
    bool stop = true;
    RecordingCallback cb(true);
    EXPECT_TRUE(Run("pg/", cb, &stop));
    EXPECT_EQ(cb.events, (std::vector<Event>{{0, 100, false}}));
    EXPECT_EQ(Requests("ListObjects"), 0);
    EXPECT_TRUE(stop);  // read, never written
}

TEST_F(List, StopFromThePageCallbackEndsBeforeTheNextPage) {
    for (const char* k : {"st/a", "st/b", "st/c"}) PutObject(k, "1");
    server().Settings(R"({"max_list_keys":1})");
    bool stop = false;
    RecordingCallback cb(true);
    cb.hook = [&](int, int percent) {
        if (percent == 0) stop = true;
    };
    EXPECT_TRUE(Run("st/", cb, &stop));
    EXPECT_EQ(cb.events, PageEvents(1));
    EXPECT_EQ(Requests("ListObjects"), 1);
}

TEST_F(List, FailureOnALaterPageKeepsEarlierPages) {
    for (const char* k : {"fl/a", "fl/b"}) PutObject(k, "1");
    server().Settings(R"({"max_list_keys":1})");
    RecordingCallback cb(true);
    cb.hook = [&](int, int percent) {
        if (percent == 0) server().AddFault(R"({"method":"GET","action":"error","status":500})");
    };
    EXPECT_FALSE(Run("fl/", cb));
    EXPECT_EQ(cb.events, (std::vector<Event>{{0, 0, true}, {-1, 100, false}}));
    EXPECT_EQ(Pages(cb), (std::vector<Page>{{{false, 1, "a"}}}));
    EXPECT_TRUE(testlog::Messages().empty());
}

TEST_F(List, TransportFailuresUseTheTransferMap) {
    const std::string closed = "http://127.0.0.1:" + std::to_string(opstest::ClosedPort());
    RecordingCallback refused;
    EXPECT_FALSE(ListObject(closed.c_str(), ak(), sk(), bucket(), tok(), "x/", &refused, nullptr));
    EXPECT_EQ(refused.events, (std::vector<Event>{{1, 100, false}}));

    server().AddFault(R"({"method":"GET","action":"close","close_after_bytes":10})");
    RecordingCallback cut;
    EXPECT_FALSE(Run("x/", cut));
    EXPECT_EQ(cut.events, (std::vector<Event>{{1, 100, false}}));

    server().ExpireCredentials();
    RecordingCallback denied;
    EXPECT_FALSE(Run("x/", denied));
    EXPECT_EQ(denied.events, (std::vector<Event>{{-1, 100, false}}));
}

TEST_F(List, LongNamesAreCutToTheField) {
    std::string name(250, 'n');
    name += "\xe2\x82\xac\xe2\x82\xac";  // two 3-byte characters: bytes 251-256
    PutObject("long/" + name, "1");
    RecordingCallback cb(true);
    EXPECT_TRUE(Run("long/", cb));
    ASSERT_EQ(cb.pages.size(), 1u);
    ASSERT_EQ(cb.pages[0].size(), 1u);
    const _ST_RemotePathInfo& info = cb.pages[0][0];
    EXPECT_EQ(std::string(info.szPathName), name.substr(0, 253));
    EXPECT_EQ(info.szPathName[253], '\0');
    EXPECT_EQ(info.szPathName[254], '\0');
}

// A suite of its own, so the bucket's top level holds only what it puts.
class ListTopLevel : public List {};

TEST_F(ListTopLevel, SlashListsTheTopLevelAndSkipsTheKeySlash) {
    PutObject("top.txt", "abc");
    PutObject("dir1/x", "x");
    PutObject("/", "slash");
    RecordingCallback cb(true);
    EXPECT_TRUE(Run("/", cb));
    // The key "/" is itself a common prefix of the empty prefix, and its
    // relative name "/" is too short for a folder entry.
    EXPECT_EQ(Pages(cb), (std::vector<Page>{{{false, 3, "top.txt"}, {true, 0, "dir1"}}}));
    EXPECT_EQ(cb.events, PageEvents(1));
}

class ListLocalTime : public List {
protected:
    void SetUp() override {
        List::SetUp();
        const char* tz = getenv("TZ");
        had_tz_ = tz != nullptr;
        if (tz) old_tz_ = tz;
        setenv("TZ", "Asia/Shanghai", 1);
        tzset();
    }
    void TearDown() override {
        if (had_tz_)
            setenv("TZ", old_tz_.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
        List::TearDown();
    }

private:
    bool had_tz_ = false;
    std::string old_tz_;
};

TEST_F(ListLocalTime, StoreTimeIsReadAsLocalTime) {
    const time_t before = time(nullptr);
    PutObject("tz/file", "1");
    const time_t after = time(nullptr);
    RecordingCallback cb(true);
    EXPECT_TRUE(Run("tz/", cb));
    ASSERT_EQ(cb.pages.size(), 1u);
    ASSERT_EQ(cb.pages[0].size(), 1u);
    // The store's UTC fields read as Shanghai time (UTC+8, no daylight saving)
    // land eight hours before the instant.
    const time_t t = cb.pages[0][0].tLastModified + 8 * 3600;
    EXPECT_GE(t, before - 1);
    EXPECT_LE(t, after + 1);
}

}  // namespace
