// The single-request operations against the dev server: bucket creation,
// put from a file, move (copy then delete) and delete.
#include "Nimbra/OssOperate.h"
#include "tests/ops/OpsTestUtil.h"

namespace {

using opstest::ServerTest;

class SimpleOps : public ServerTest {};

TEST_F(SimpleOps, UploadFileSendsTheWholeFile) {
    const std::string data = opstest::RandomBytes(300000, 1);
    ASSERT_TRUE(WriteFileBytes(dir_.file("up.bin"), data));
    EXPECT_TRUE(UploadFile(ep(), ak(), sk(), bucket(), tok(), "simple/up.bin",
                           dir_.file("up.bin").c_str()));
    auto got = GetObject("simple/up.bin");
    EXPECT_EQ(got.first, 200);
    EXPECT_TRUE(got.second == data);
    EXPECT_EQ(Requests("PutObject"), 1);
    EXPECT_TRUE(testlog::Messages().empty());
}

TEST_F(SimpleOps, NullTokenSignsWithTheKeyPairAlone) {
    ASSERT_TRUE(WriteFileBytes(dir_.file("t.bin"), "x"));
    // The server wants the token of the credential: without it the request is refused.
    EXPECT_FALSE(UploadFile(ep(), ak(), sk(), bucket(), nullptr, "simple/t.bin",
                            dir_.file("t.bin").c_str()));
    EXPECT_EQ(testlog::Messages("UploadFile"),
              std::vector<std::string>{
                  "oss_put_object_from_file fail, The security token you provided is invalid."});
    auto e = testlog::Snapshot().at(0);
    EXPECT_EQ(e.file, "Nimbra/OssOperate");
    EXPECT_EQ(e.level, 1);
    EXPECT_EQ(GetObject("simple/t.bin").first, 404);
}

TEST_F(SimpleOps, UploadFileOfAMissingFileFailsWithALog) {
    EXPECT_FALSE(
        UploadFile(ep(), ak(), sk(), bucket(), tok(), "simple/none", dir_.file("missing").c_str()));
    auto msgs = testlog::Messages("UploadFile");
    ASSERT_EQ(msgs.size(), 1u);
    EXPECT_EQ(msgs[0].rfind("oss_put_object_from_file fail, ", 0), 0u) << msgs[0];
    EXPECT_EQ(Requests("PutObject"), 0);
}

TEST_F(SimpleOps, CopyObjectMovesTheObject) {
    PutObject("simple/src", "payload");
    EXPECT_TRUE(
        CopyObject(ep(), ak(), sk(), tok(), bucket(), bucket(), "simple/src", "simple/dst"));
    EXPECT_EQ(GetObject("simple/dst"), std::make_pair(200, std::string("payload")));
    EXPECT_EQ(GetObject("simple/src").first, 404);
    EXPECT_TRUE(testlog::Messages().empty());
}

TEST_F(SimpleOps, CopyOfAMissingSourceFailsAndDeletesNothing) {
    EXPECT_FALSE(
        CopyObject(ep(), ak(), sk(), tok(), bucket(), bucket(), "simple/absent", "simple/dst2"));
    auto msgs = testlog::Messages("CopyObject");
    ASSERT_EQ(msgs.size(), 1u);
    EXPECT_EQ(msgs[0].rfind("oss_copy_object nimbra-backup simple/absent fail, ", 0), 0u)
        << msgs[0];
    EXPECT_EQ(Requests("DeleteObject"), 0);
    EXPECT_EQ(GetObject("simple/dst2").first, 404);
}

TEST_F(SimpleOps, CopyWhoseDeleteFailsLeavesBothObjects) {
    PutObject("simple/keep", "k");
    server().AddFault(
        R"({"method":"DELETE","action":"error","status":500,"code":"InternalError","message":"disk on fire"})");
    EXPECT_FALSE(
        CopyObject(ep(), ak(), sk(), tok(), bucket(), bucket(), "simple/keep", "simple/copy"));
    EXPECT_EQ(
        testlog::Messages("CopyObject"),
        std::vector<std::string>{"oss_delete_object nimbra-backup simple/keep fail, disk on fire"});
    EXPECT_EQ(GetObject("simple/copy").first, 200);
    EXPECT_EQ(GetObject("simple/keep").first, 200);
}

TEST_F(SimpleOps, DeleteObject) {
    PutObject("simple/gone", "g");
    EXPECT_TRUE(DeleteObject(ep(), ak(), sk(), bucket(), tok(), "simple/gone"));
    EXPECT_EQ(GetObject("simple/gone").first, 404);

    server().AddFault(
        R"({"method":"DELETE","action":"error","status":503,"code":"ServiceUnavailable","message":"busy"})");
    EXPECT_FALSE(DeleteObject(ep(), ak(), sk(), bucket(), tok(), "simple/gone"));
    EXPECT_EQ(testlog::Messages("DeleteObject"),
              std::vector<std::string>{"delete object fail, busy"});
}

TEST_F(SimpleOps, TransportFailureIsAFailureWithAnEmptyMessageNeverNull) {
    const std::string closed = "http://127.0.0.1:" + std::to_string(opstest::ClosedPort());
    EXPECT_FALSE(DeleteObject(closed.c_str(), ak(), sk(), bucket(), tok(), "simple/x"));
    auto msgs = testlog::Messages("DeleteObject");
    ASSERT_EQ(msgs.size(), 1u);
    EXPECT_EQ(msgs[0].rfind("delete object fail, ", 0), 0u);
    EXPECT_FALSE(CreateBucket(closed.c_str(), ak(), sk(), tok(), bucket()));
}

TEST_F(SimpleOps, CreateBucket) {
    EXPECT_TRUE(CreateBucket(ep(), ak(), sk(), tok(), bucket()));
    EXPECT_EQ(Requests("PutBucket"), 1);
    // An invalid name is refused by the layer before any request.
    EXPECT_FALSE(CreateBucket(ep(), ak(), sk(), tok(), "No_Such"));
    EXPECT_EQ(Requests("PutBucket"), 1);
    EXPECT_TRUE(testlog::Messages().empty());  // bucket creation logs nothing
}

TEST_F(SimpleOps, NullNamesFailCleanly) {
    EXPECT_FALSE(UploadFile(ep(), ak(), sk(), bucket(), tok(), "simple/n", nullptr));
    EXPECT_FALSE(UploadFile(ep(), ak(), sk(), nullptr, tok(), "simple/n", "/dev/null"));
    EXPECT_FALSE(CopyObject(ep(), ak(), sk(), tok(), bucket(), bucket(), nullptr, "simple/n"));
    EXPECT_FALSE(DeleteObject(ep(), ak(), sk(), bucket(), tok(), nullptr));
    EXPECT_FALSE(DeleteObject(nullptr, ak(), sk(), bucket(), tok(), "simple/n"));
    opstest::RecordingCallback download, upload, list;
    EXPECT_FALSE(DownloadFile(ep(), ak(), sk(), bucket(), tok(), nullptr, nullptr, &download));
    EXPECT_EQ(download.events, (std::vector<opstest::Event>{{-1, 100, false}}));
    EXPECT_FALSE(MultiUploadFile(ep(), ak(), sk(), bucket(), tok(), nullptr, nullptr, 5, &upload));
    EXPECT_EQ(upload.events, (std::vector<opstest::Event>{{-1, 100, false}}));
    EXPECT_FALSE(ListObject(ep(), ak(), sk(), nullptr, tok(), nullptr, &list, nullptr));
    EXPECT_EQ(list.events, (std::vector<opstest::Event>{{-1, 100, false}}));
    EXPECT_EQ(Requests("PutObject") + Requests("DeleteObject") + Requests("HeadObject"), 0);
}

TEST(LayerProbe, SeesALayerLeftInitialised) {
    ASSERT_TRUE(opstest::LayerReleased());
    ASSERT_EQ(aos_http_io_initialize(nullptr, 0), 0);
    EXPECT_FALSE(opstest::LayerReleased());
    aos_http_io_deinitialize();
    EXPECT_TRUE(opstest::LayerReleased());
}

}  // namespace
