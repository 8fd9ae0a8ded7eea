// DownloadFile against the dev server: range layout, progress, exits,
// failures from the store, the network and the local file.
#include "Nimbra/OssOperate.h"
#include "tests/ops/OpsTestUtil.h"

namespace {

using opstest::Event;
using opstest::RecordingCallback;
using opstest::ServerTest;

const long long kMiB = 1048576;

class Download : public ServerTest {
protected:
    bool Run(const std::string& key, const std::string& path, RecordingCallback& cb) {
        return DownloadFile(ep(), ak(), sk(), bucket(), tok(), key.c_str(), path.c_str(), &cb);
    }
    // Puts an object of n bytes, downloads it, checks the bytes and the
    // number of ranged GETs, returns the notifications.
    std::vector<Event> RoundTrip(const std::string& key, size_t n, long gets) {
        const std::string data = opstest::RandomBytes(n, static_cast<uint32_t>(n));
        PutObject(key, data);
        RecordingCallback cb;
        EXPECT_TRUE(Run(key, dir_.file("out"), cb));
        EXPECT_TRUE(ReadFileBytes(dir_.file("out")) == data) << key;
        EXPECT_EQ(Requests("HeadObject"), 1);
        EXPECT_EQ(Requests("GetObject"), gets) << key;
        EXPECT_EQ(testlog::Messages(), std::vector<std::string>{});
        return cb.events;
    }
};

TEST_F(Download, EmptyObjectMakesNoRangedRequest) {
    ASSERT_TRUE(WriteFileBytes(dir_.file("out"), "old content"));
    EXPECT_EQ(RoundTrip("dl/empty", 0, 0), (std::vector<Event>{{0, 100, false}}));
}

TEST_F(Download, OneByte) {
    EXPECT_EQ(RoundTrip("dl/one", 1, 1), (std::vector<Event>{{0, 95, false}, {0, 100, false}}));
}

TEST_F(Download, ExactlyOneChunk) {
    EXPECT_EQ(RoundTrip("dl/mib", kMiB, 1), (std::vector<Event>{{0, 95, false}, {0, 100, false}}));
}

TEST_F(Download, OneChunkAndOneByte) {
    // 95 * 1048576 / 1048577 = 94 in integer division.
    EXPECT_EQ(RoundTrip("dl/mib1", kMiB + 1, 2),
              (std::vector<Event>{{0, 94, false}, {0, 95, false}, {0, 100, false}}));
}

TEST_F(Download, ProgressFollowsTheBytesWritten) {
    EXPECT_EQ(
        RoundTrip("dl/3mib", 3 * kMiB - 10, 3),
        (std::vector<Event>{{0, 31, false}, {0, 63, false}, {0, 95, false}, {0, 100, false}}));
}

TEST_F(Download, ExistingLongerFileIsTruncated) {
    ASSERT_TRUE(WriteFileBytes(dir_.file("out"), std::string(5000, 'z')));
    RoundTrip("dl/short", 10, 1);
}

TEST_F(Download, NullCallbackIsAllowed) {
    PutObject("dl/quiet", "abc");
    EXPECT_TRUE(DownloadFile(ep(), ak(), sk(), bucket(), tok(), "dl/quiet", dir_.file("q").c_str(),
                             nullptr));
    EXPECT_EQ(ReadFileBytes(dir_.file("q")), "abc");
}

TEST_F(Download, MissingObjectFailsAtTheMetadataAndCreatesNoFile) {
    RecordingCallback cb;
    EXPECT_FALSE(Run("dl/absent", dir_.file("none"), cb));
    EXPECT_EQ(cb.events, (std::vector<Event>{{-1, 100, false}}));
    // A HEAD answer has no body, so there is no store message to log.
    EXPECT_EQ(testlog::Messages("DownloadFile"),
              std::vector<std::string>{"oss_get_object_meta fail, "});
    EXPECT_NE(access(dir_.file("none").c_str(), F_OK), 0);
}

TEST_F(Download, UnopenableLocalPath) {
    PutObject("dl/x", "x");
    RecordingCallback cb;
    const std::string path = dir_.file("no/such/dir/file");
    EXPECT_FALSE(Run("dl/x", path, cb));
    EXPECT_EQ(cb.events, (std::vector<Event>{{-1, 100, false}}));
    EXPECT_EQ(testlog::Messages("DownloadFile"),
              std::vector<std::string>{"open " + path + " fail"});
    EXPECT_EQ(Requests("GetObject"), 0);
}

TEST_F(Download, FailedWriteFailsTheDownload) {
    PutObject("dl/full", "some bytes");
    RecordingCallback cb;
    // Writes to /dev/full fail with "no space left" once flushed.
    EXPECT_FALSE(Run("dl/full", "/dev/full", cb));
    EXPECT_EQ(cb.events, (std::vector<Event>{{-1, 100, false}}));
    EXPECT_EQ(testlog::Messages("DownloadFile"), std::vector<std::string>{"write /dev/full fail"});
}

TEST_F(Download, StoreIgnoringRangeFailsWithoutWritingTheBody) {
    PutObject("dl/norange", opstest::RandomBytes(kMiB + 1, 9));
    server().Settings(R"({"ignore_range":true})");
    RecordingCallback cb;
    EXPECT_FALSE(Run("dl/norange", dir_.file("out"), cb));
    EXPECT_EQ(cb.events, (std::vector<Event>{{-1, 100, false}}));
    EXPECT_EQ(testlog::Messages("DownloadFile"),
              std::vector<std::string>{"range 0-1048575 returned 1048577 bytes"});
    EXPECT_EQ(ReadFileBytes(dir_.file("out")), "");
}

TEST_F(Download, ChunkErrorKeepsTheChunksWrittenBefore) {
    const std::string data = opstest::RandomBytes(2 * kMiB + 5, 3);
    PutObject("dl/err", data);
    RecordingCallback cb;
    // After the first chunk, the next ranged GET gets a server error.
    cb.hook = [&](int, int percent) {
        if (percent < 100)
            server().AddFault(
                R"({"method":"GET","action":"error","status":500,"code":"InternalError","message":"boom"})");
    };
    EXPECT_FALSE(Run("dl/err", dir_.file("out"), cb));
    EXPECT_EQ(cb.events, (std::vector<Event>{{0, 47, false}, {-1, 100, false}}));
    EXPECT_EQ(testlog::Messages("DownloadFile"),
              std::vector<std::string>{"oss_get_object_to_file fail, boom"});
    EXPECT_TRUE(ReadFileBytes(dir_.file("out")) == data.substr(0, kMiB));
}

TEST_F(Download, ConnectionClosedMidBodyIsANetworkFailure) {
    PutObject("dl/cut", opstest::RandomBytes(kMiB, 4));
    server().AddFault(R"({"method":"GET","action":"close","close_after_bytes":1000})");
    RecordingCallback cb;
    EXPECT_FALSE(Run("dl/cut", dir_.file("out"), cb));
    EXPECT_EQ(cb.events, (std::vector<Event>{{1, 100, false}}));
    auto msgs = testlog::Messages("DownloadFile");
    ASSERT_EQ(msgs.size(), 1u);
    EXPECT_EQ(msgs[0].rfind("oss_get_object_to_file fail, ", 0), 0u) << msgs[0];
    EXPECT_EQ(ReadFileBytes(dir_.file("out")), "");
}

TEST_F(Download, RefusedConnectionIsANetworkFailure) {
    const std::string closed = "http://127.0.0.1:" + std::to_string(opstest::ClosedPort());
    RecordingCallback cb;
    EXPECT_FALSE(DownloadFile(closed.c_str(), ak(), sk(), bucket(), tok(), "dl/x",
                              dir_.file("out").c_str(), &cb));
    EXPECT_EQ(cb.events, (std::vector<Event>{{1, 100, false}}));
    auto msgs = testlog::Messages("DownloadFile");
    ASSERT_EQ(msgs.size(), 1u);
    EXPECT_EQ(msgs[0].rfind("oss_get_object_meta fail, ", 0), 0u) << msgs[0];
}

TEST_F(Download, ExpiredCredentialsFailLikeAnyError) {
    PutObject("dl/exp", "e");
    server().ExpireCredentials();
    RecordingCallback cb;
    EXPECT_FALSE(Run("dl/exp", dir_.file("out"), cb));
    EXPECT_EQ(cb.events, (std::vector<Event>{{-1, 100, false}}));
}

}  // namespace
