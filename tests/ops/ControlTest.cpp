// Pause, continue and stop of downloads and uploads through the process-wide
// flags, set from the callback or from a second thread as a host would.
#include <chrono>
#include <thread>

#include "Nimbra/OssOperate.h"
#include "tests/ops/OpsTestUtil.h"

namespace {

using opstest::Event;
using opstest::RecordingCallback;
using opstest::ServerTest;

const long long kMiB = 1048576;

class Control : public ServerTest {
protected:
    bool Download(const std::string& key, RecordingCallback& cb) {
        return DownloadFile(ep(), ak(), sk(), bucket(), tok(), key.c_str(),
                            dir_.file("out").c_str(), &cb);
    }
    bool Upload(const std::string& key, size_t size, RecordingCallback& cb) {
        EXPECT_TRUE(WriteFileBytes(dir_.file("in"), opstest::RandomBytes(size, 2)));
        return MultiUploadFile(ep(), ak(), sk(), bucket(), tok(), key.c_str(),
                               dir_.file("in").c_str(), static_cast<long long>(size), &cb);
    }
    static void ExpectFlagsClear() {
        EXPECT_FALSE(gbIsNeedPause);
        EXPECT_FALSE(gbIsNeedStopEx);
    }
    std::thread helper_;
    void TearDown() override {
        if (helper_.joinable()) helper_.join();
        ServerTest::TearDown();
    }
};

TEST_F(Control, StopDuringAPausedDownloadKeepsTheChunksWritten) {
    const std::string data = opstest::RandomBytes(3 * kMiB, 8);
    PutObject("ctl/dl", data);
    RecordingCallback cb;
    cb.hook = [&](int, int percent) {
        if (percent != 31) return;
        gbIsNeedPause = true;
        // Another host thread stops the paused download.
        helper_ = std::thread([] {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            gbIsNeedStopEx = true;
        });
    };
    EXPECT_TRUE(Download("ctl/dl", cb));
    EXPECT_EQ(cb.events, (std::vector<Event>{{0, 31, false}, {0, 100, false}}));
    ExpectFlagsClear();
    EXPECT_EQ(Requests("GetObject"), 1);
    EXPECT_TRUE(ReadFileBytes(dir_.file("out")) == data.substr(0, kMiB));
}

TEST_F(Control, PausedUploadWaitsAndContinues) {
    RecordingCallback cb;
    long parts_while_paused = -1;
    cb.hook = [&](int, int percent) {
        if (percent != 20) return;
        gbIsNeedPause = true;
        helper_ = std::thread([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            parts_while_paused = Requests("UploadPart");
            gbIsNeedPause = false;  // ContinueDownload
        });
    };
    EXPECT_TRUE(Upload("ctl/up", 1000, cb));
    helper_.join();
    EXPECT_EQ(parts_while_paused, 0);
    EXPECT_EQ(cb.events, (std::vector<Event>{
                             {0, 20, false}, {0, 90, false}, {0, 95, false}, {0, 100, false}}));
    ExpectFlagsClear();
}

TEST_F(Control, StopFromTheCallbackEndsTheDownloadAtTheNextChunk) {
    PutObject("ctl/dl2", opstest::RandomBytes(2 * kMiB, 3));
    RecordingCallback cb;
    cb.hook = [&](int, int percent) {
        if (percent < 100) gbIsNeedStopEx = true;
    };
    EXPECT_TRUE(Download("ctl/dl2", cb));
    EXPECT_EQ(cb.events, (std::vector<Event>{{0, 47, false}, {0, 100, false}}));
    EXPECT_EQ(Requests("GetObject"), 1);
    ExpectFlagsClear();
}

TEST_F(Control, PendingStopEndsTheNextDownloadAtItsFirstPoll) {
    PutObject("ctl/dl3", "abc");
    gbIsNeedStopEx = true;
    gbIsNeedPause = true;
    RecordingCallback cb;
    EXPECT_TRUE(Download("ctl/dl3", cb));
    EXPECT_EQ(cb.events, (std::vector<Event>{{0, 100, false}}));
    EXPECT_EQ(Requests("GetObject"), 0);
    EXPECT_EQ(ReadFileBytes(dir_.file("out")), "");  // created, nothing written
    ExpectFlagsClear();
}

TEST_F(Control, PendingStopEndsTheNextUploadBeforeItsFirstPart) {
    gbIsNeedStopEx = true;
    RecordingCallback cb;
    EXPECT_FALSE(Upload("ctl/up2", 10, cb));
    EXPECT_EQ(cb.events, (std::vector<Event>{{0, 20, false}, {0, 100, false}}));
    EXPECT_EQ(Requests("UploadPart"), 0);
    EXPECT_EQ(Requests("AbortMultipartUpload"), 0);
    ExpectFlagsClear();
}

TEST_F(Control, TransfersWithoutAPollLeaveTheStopPending) {
    PutObject("ctl/empty", "");
    gbIsNeedStopEx = true;
    RecordingCallback cb;
    EXPECT_TRUE(Download("ctl/empty", cb));  // no chunk, so no poll
    EXPECT_EQ(cb.events, (std::vector<Event>{{0, 100, false}}));
    EXPECT_TRUE(gbIsNeedStopEx);

    RecordingCallback list;
    EXPECT_TRUE(ListObject(ep(), ak(), sk(), bucket(), tok(), "ctl/", &list, nullptr));
    EXPECT_EQ(list.events.back(), (Event{0, 100, false}));
    EXPECT_TRUE(gbIsNeedStopEx);  // the listing ignores the flags
}

}  // namespace
