// What the library logs on each failure path, as a host's LogHandlerA gets
// it: the format (the message's own, so a sink may group lines by it) and
// the rendered line; and the cause nimbra names from those very lines.
#include <functional>

#include "hostkit/Diagnosis.h"
#include "tests/system/SystemTest.h"

namespace {

using namespace systest;

class LogFormats : public ServerSuite {};

TEST_F(LogFormats, EachFailureLogsItsOwnFormatAndNamesItsCause) {
    PutObject("logs/object.bin", "object");
    const std::string local = MakeFile("up.bin", RandomBytes(100, 1)), out = dir_.file("out.bin");
    RecordingCallback pages;
    const std::function<void()>
        up = [&] { m->UploadFile(local.c_str(), 100, "logs/up.bin", nullptr); },
        down = [&] { m->DownloadFile("logs/object.bin", out.c_str(), nullptr); },
        post = [&] { m->InsertUserInfo(_ST_UserInfo{}); },
        space = [&] { m->GetUserUsedSize("dora"); },
        records = [&] { m->GetUserUploadInfo("dora", nullptr); },
        erase = [&] { m->DeleteRemoteFile("dora", "logs/gone.bin"); },
        list = [&] { m->ListRemotePath("logs/", &pages, nullptr); };
    // Each line logged as "format|rendered line", or "format" when the two are
    // the same; an upload id is not compared.
    const std::string ok = "[Post]: SUCESS\n",
                      id = "Init multipart upload succeeded, upload_id:%.*s\n|*";
    const std::string e500 = "ERR:res = %d,rescode = %d\n|ERR:res = 0,rescode = 500\n";
    const char* const web500 = "web API failed: HTTP 500";
    const struct {
        std::string setup;  // an API script (path first) or a store fault (method first)
        std::function<void()> call;
        std::vector<std::string> lines;
        const char* tells;
    } cases[] = {
        {R"({"path":"/getStsKey","status":500})", down, {e500, "GetStsKey fail!"}, web500},
        {R"({"path":"/uploadUserInfo","status":500})",
         post,
         {e500, "InsertUserInfo fail!"},
         web500},
        {R"({"path":"/getUserSpace","status":500})", space, {e500, "getUserSpace fail!"}, web500},
        {R"({"path":"/getUser","status":500})", records, {e500, "GetUserUploadSize fail!"}, web500},
        {R"({"method":"DELETE","status":503,"message":"busy"})",
         erase,
         {ok, "delete object fail, %s|delete object fail, busy"},
         "store failed: busy"},
        {R"({"path":"/deleteUser","status":500})",
         erase,
         {ok, e500, "deleteUser %s fail!|deleteUser dora fail!"},
         web500},
        {R"({"method":"POST","subresource":"uploads","status":500,"message":"no uploads"})",
         up,
         {ok, "Init multipart upload failed, %s\n|Init multipart upload failed, no uploads\n"},
         "store failed: no uploads"},
        {R"({"method":"PUT","status":403,"code":"AccessDenied","message":"Denied."})",
         up,
         {ok, id, "error code: %s|error code: AccessDenied",
          "Multipart upload part from file failed, %lld, %s, %d\n|Multipart upload part from "
          "file failed, 10485760, Denied., 403\n"},
         "store failed: Denied. (AccessDenied)"},
        {R"({"method":"GET","subresource":"uploadId","status":500,"message":"no list"})",
         up,
         {ok, id, "List multipart failed, %s\n|List multipart failed, no list\n"},
         "store failed: no list"},
        {R"({"method":"POST","subresource":"uploadId","status":500,"message":"not now"})",
         up,
         {ok, id,
          "Complete multipart upload from file failed, %s\n|Complete multipart upload from file "
          "failed, not now\n"},
         "store failed: not now"},
        {R"({"method":"GET","subresource":"none","status":500,"message":"no range"})",
         down,
         {ok, "oss_get_object_to_file fail, %s|oss_get_object_to_file fail, no range"},
         "store failed: no range"},
        // The library's own check keeps its own format, and names the cause.
        {R"({"method":"GET","subresource":"none","action":"truncate_body","keep_bytes":2})",
         down,
         {ok, "range %lld-%lld returned %lld bytes|range 0-5 returned 2 bytes"},
         "store failed: range 0-5 returned 2 bytes"},
        // A listing logs nothing of its own.
        {R"({"method":"GET","subresource":"delimiter","status":500})",
         list,
         {ok},
         "web API answered"},
    };
    const char* const kLast[] = {"nothing", "web API answered", "web API failed", "store failed"};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.setup);
        server_->Reset();
        testlog::Clear();
        c.setup.rfind("{\"path\"", 0) == 0 ? server_->ScriptApi(c.setup)
                                           : server_->AddFault(c.setup);
        c.call();
        std::vector<std::string> got;
        std::vector<hostkit::LibraryLine> lines;
        for (const testlog::Entry& e : testlog::Snapshot()) {
            const bool same = e.message == e.format,
                       upload_id = e.format.find("%.*s") != std::string::npos;
            got.push_back(e.format + (same ? "" : "|" + (upload_id ? "*" : e.message)));
            // As nimbra's own sink keeps it: without the line end.
            lines.push_back(
                {e.function, e.message.substr(0, e.message.find_last_not_of("\n") + 1)});
        }
        EXPECT_EQ(got, c.lines);
        const hostkit::Diagnosis d = hostkit::Diagnose(lines);
        EXPECT_EQ(std::string(kLast[static_cast<int>(d.last)]) +
                      (d.unreachable ? ", unreachable" : "") +
                      (d.detail.empty() ? "" : ": " + d.detail),
                  c.tells);
    }
}

}  // namespace
