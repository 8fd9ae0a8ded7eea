// MultiUploadFile against the dev server: part layout and progress, the
// part listing continued across pages, the part limit, and failures of each
// step. Credential refresh has its own suite (RefreshTest.cpp).
#include "Nimbra/OssOperate.h"
#include "tests/ops/OpsTestUtil.h"

namespace {

using opstest::Event;
using opstest::RecordingCallback;
using opstest::ServerTest;

const long long kPart = 10485760;

class Multipart : public ServerTest {
protected:
    // Writes n pattern bytes to a local file and returns them.
    std::string MakeFile(const std::string& name, size_t n) {
        std::string data = opstest::RandomBytes(n, static_cast<uint32_t>(n) ^ 77);
        EXPECT_TRUE(WriteFileBytes(dir_.file(name), data));
        return data;
    }
    bool Run(const std::string& key, const std::string& name, long long size,
             RecordingCallback& cb) {
        return MultiUploadFile(ep(), ak(), sk(), bucket(), tok(), key.c_str(),
                               dir_.file(name).c_str(), size, &cb);
    }
    void ExpectStored(const std::string& key, const std::string& data) {
        auto got = GetObject(key);
        EXPECT_EQ(got.first, 200) << key;
        EXPECT_EQ(got.second.size(), data.size());
        EXPECT_TRUE(got.second == data) << key;
    }
    static std::string UploadIdIn(const std::string& line) {
        const std::string tag = "upload_id:";
        size_t at = line.find(tag);
        if (at == std::string::npos) return "";
        at += tag.size();
        return line.substr(at, line.find_first_of(" \n", at) - at);
    }
};

TEST_F(Multipart, ExactlyOnePart) {
    const std::string data = MakeFile("f", kPart);
    RecordingCallback cb;
    EXPECT_TRUE(Run("mp/one", "f", kPart, cb));
    EXPECT_EQ(cb.events, (std::vector<Event>{
                             {0, 20, false}, {0, 90, false}, {0, 95, false}, {0, 100, false}}));
    ExpectStored("mp/one", data);
    EXPECT_EQ(Requests("UploadPart"), 1);

    auto msgs = testlog::Messages("MultiUploadFile");
    ASSERT_EQ(msgs.size(), 2u);
    const std::string id = UploadIdIn(msgs[0]);
    EXPECT_FALSE(id.empty());
    EXPECT_EQ(msgs[0], "Init multipart upload succeeded, upload_id:" + id + "\n");
    EXPECT_EQ(msgs[1], "Complete multipart upload from file succeeded, upload_id:" + id + " " +
                           dir_.file("f") + "\n");
    for (const auto& e : testlog::Snapshot()) {
        EXPECT_EQ(e.file, "Nimbra/OssOperate");
        EXPECT_EQ(e.level, 1);
    }
}

TEST_F(Multipart, OnePartAndOneByte) {
    const std::string data = MakeFile("f", kPart + 1);
    RecordingCallback cb;
    EXPECT_TRUE(Run("mp/two", "f", kPart + 1, cb));
    // 20 + 70 * 10485760 / 10485761 truncates to 89.
    EXPECT_EQ(
        cb.events,
        (std::vector<Event>{
            {0, 20, false}, {0, 89, false}, {0, 90, false}, {0, 95, false}, {0, 100, false}}));
    ExpectStored("mp/two", data);
    EXPECT_EQ(Requests("UploadPart"), 2);
}

TEST_F(Multipart, EmptyFileGoesStraightToListingAndCompletion) {
    MakeFile("f", 0);
    RecordingCallback cb;
    // The store wants at least one part in a completion, so it refuses.
    EXPECT_FALSE(Run("mp/empty", "f", 0, cb));
    EXPECT_EQ(cb.events, (std::vector<Event>{{0, 20, false}, {0, 95, false}, {-1, 100, false}}));
    EXPECT_EQ(Requests("UploadPart"), 0);
    EXPECT_EQ(Requests("ListParts"), 1);
    EXPECT_EQ(Requests("CompleteMultipartUpload"), 1);
    auto msgs = testlog::Messages("MultiUploadFile");
    ASSERT_EQ(msgs.size(), 2u);
    EXPECT_EQ(msgs[1].rfind("Complete multipart upload from file failed, ", 0), 0u) << msgs[1];
}

TEST_F(Multipart, PartListingIsContinuedAcrossPages) {
    server().Settings(R"({"max_list_parts":2})");
    const std::string data = MakeFile("f", 2 * kPart + 1);
    RecordingCallback cb;
    EXPECT_TRUE(Run("mp/pages", "f", 2 * kPart + 1, cb));
    EXPECT_EQ(cb.events, (std::vector<Event>{{0, 20, false},
                                             {0, 54, false},
                                             {0, 89, false},
                                             {0, 90, false},
                                             {0, 95, false},
                                             {0, 100, false}}));
    EXPECT_EQ(Requests("ListParts"), 2);
    ExpectStored("mp/pages", data);
}

TEST_F(Multipart, MoreThanTenThousandPartsIsRefusedBeforeInitiation) {
    MakeFile("f", 1);
    const long long size = 10000 * kPart + 1;
    RecordingCallback cb;
    EXPECT_FALSE(Run("mp/huge", "f", size, cb));
    EXPECT_EQ(cb.events, (std::vector<Event>{{-1, 100, false}}));
    EXPECT_EQ(Requests("InitiateMultipartUpload"), 0);
    EXPECT_EQ(
        testlog::Messages("MultiUploadFile"),
        std::vector<std::string>{"file size 104857600001 needs 10001 parts, more than 10000"});
}

TEST_F(Multipart, InitiationFailures) {
    const std::string closed = "http://127.0.0.1:" + std::to_string(opstest::ClosedPort());
    RecordingCallback refused;
    EXPECT_FALSE(MultiUploadFile(closed.c_str(), ak(), sk(), bucket(), tok(), "mp/x",
                                 dir_.file("f").c_str(), 1, &refused));
    EXPECT_EQ(refused.events, (std::vector<Event>{{1, 100, false}}));
    auto msgs = testlog::Messages("MultiUploadFile");
    ASSERT_EQ(msgs.size(), 1u);
    EXPECT_EQ(msgs[0].rfind("Init multipart upload failed, ", 0), 0u) << msgs[0];

    testlog::Clear();
    server().AddFault(
        R"({"method":"POST","subresource":"uploads","action":"error","status":500,"code":"InternalError","message":"no"})");
    RecordingCallback rejected;
    EXPECT_FALSE(Run("mp/x", "f", 1, rejected));
    EXPECT_EQ(rejected.events, (std::vector<Event>{{-1, 100, false}}));
    EXPECT_EQ(testlog::Messages("MultiUploadFile"),
              std::vector<std::string>{"Init multipart upload failed, no\n"});
}

TEST_F(Multipart, PartFailureEndsTheUpload) {
    MakeFile("f", kPart + 1);
    // The second part is refused.
    RecordingCallback cb;
    cb.hook = [&](int, int percent) {
        if (percent == 89)
            server().AddFault(
                R"({"method":"PUT","subresource":"partNumber","action":"error","status":500,"code":"InternalError","message":"disk full"})");
    };
    EXPECT_FALSE(Run("mp/fail", "f", kPart + 1, cb));
    EXPECT_EQ(cb.events, (std::vector<Event>{{0, 20, false}, {0, 89, false}, {-1, 100, false}}));
    auto msgs = testlog::Messages("MultiUploadFile");
    ASSERT_EQ(msgs.size(), 3u);
    EXPECT_EQ(msgs[1], "error code: InternalError");
    // The nominal end of the part, not limited to the file size.
    EXPECT_EQ(msgs[2], "Multipart upload part from file failed, 20971520, disk full, 500\n");
    EXPECT_EQ(Requests("ListParts"), 0);
    EXPECT_EQ(Requests("AbortMultipartUpload"), 0);  // nothing is aborted
}

TEST_F(Multipart, ServerGoneDuringTheUploadIsANetworkFailure) {
    MakeFile("f", 1000);
    RecordingCallback cb;
    cb.hook = [&](int, int percent) {
        if (percent == 20) server().Kill();
    };
    EXPECT_FALSE(Run("mp/cut", "f", 1000, cb));
    server().Restart();
    EXPECT_EQ(cb.events, (std::vector<Event>{{0, 20, false}, {1, 100, false}}));
}

TEST_F(Multipart, MissingLocalFileFails) {
    RecordingCallback cb;
    EXPECT_FALSE(Run("mp/nofile", "absent", 5, cb));
    EXPECT_EQ(cb.events, (std::vector<Event>{{0, 20, false}, {-1, 100, false}}));
    auto msgs = testlog::Messages("MultiUploadFile");
    ASSERT_EQ(msgs.size(), 3u);
    EXPECT_EQ(msgs[2].rfind("Multipart upload part from file failed, 10485760, ", 0), 0u)
        << msgs[2];
}

TEST_F(Multipart, PartListingFailure) {
    MakeFile("f", 10);
    server().AddFault(
        R"({"method":"GET","subresource":"uploadId","action":"error","status":500,"code":"InternalError","message":"list broke"})");
    RecordingCallback cb;
    EXPECT_FALSE(Run("mp/list", "f", 10, cb));
    EXPECT_EQ(cb.events, (std::vector<Event>{{0, 20, false}, {0, 90, false}, {-1, 100, false}}));
    auto msgs = testlog::Messages("MultiUploadFile");
    ASSERT_EQ(msgs.size(), 2u);
    EXPECT_EQ(msgs[1], "List multipart failed, list broke\n");
    EXPECT_EQ(Requests("CompleteMultipartUpload"), 0);
}

TEST_F(Multipart, CompletionRejectedByTheStore) {
    MakeFile("f", 10);
    server().AddFault(
        R"({"method":"POST","subresource":"uploadId","action":"error","status":400,"code":"InvalidPart","message":"part gone"})");
    RecordingCallback cb;
    EXPECT_FALSE(Run("mp/done", "f", 10, cb));
    EXPECT_EQ(cb.events, (std::vector<Event>{
                             {0, 20, false}, {0, 90, false}, {0, 95, false}, {-1, 100, false}}));
    auto msgs = testlog::Messages("MultiUploadFile");
    ASSERT_EQ(msgs.size(), 2u);
    EXPECT_EQ(msgs[1], "Complete multipart upload from file failed, part gone\n");
    EXPECT_EQ(GetObject("mp/done").first, 404);
}

}  // namespace
