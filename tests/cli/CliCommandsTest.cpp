// Every subcommand against the development server: what it prints, what it
// leaves in the store and at the web API, and its exit status.
#include <sys/stat.h>

#include <ctime>
#include <regex>

#include "Nimbra/NimbraConfig.h"
#include "tests/cli/CliServerFixture.h"

namespace {

class CliCommandsTest : public CliServerTest {
protected:
    // The listing of `folder` as (type, name, size) from ls --json.
    struct Entry {
        std::string type, name;
        long long size = -1;
        long long modified = 0;
    };
    std::vector<Entry> ListJson(const std::string& folder) {
        const CliResult r = Run({"ls", folder, "--json"});
        EXPECT_EQ(r.status, 0) << r.err;
        JsonDoc doc = ParseJson(r.out);
        std::vector<Entry> entries;
        if (!doc) return entries;
        const cJSON* list = cJSON_GetObjectItemCaseSensitive(doc.get(), "entries");
        const cJSON* item = nullptr;
        cJSON_ArrayForEach(item, list) {
            Entry e;
            e.type = cJSON_GetObjectItemCaseSensitive(item, "type")->valuestring;
            e.name = cJSON_GetObjectItemCaseSensitive(item, "name")->valuestring;
            if (const cJSON* size = cJSON_GetObjectItemCaseSensitive(item, "size"))
                e.size = static_cast<long long>(size->valuedouble);
            if (const cJSON* when = cJSON_GetObjectItemCaseSensitive(item, "modified"))
                e.modified = static_cast<long long>(when->valuedouble);
            entries.push_back(e);
        }
        return entries;
    }

    JsonDoc RecordsJson(const std::string& user) {
        const CliResult r = Run({"records", user, "--json"});
        EXPECT_EQ(r.status, 0) << r.err;
        return ParseJson(r.out);
    }
};

int RecordCount(const JsonDoc& doc) {
    return doc ? cJSON_GetArraySize(cJSON_GetObjectItemCaseSensitive(doc.get(), "records")) : -1;
}

TEST_F(CliCommandsTest, UploadListAndDownloadRoundTrip) {
    const size_t size = 3 * 1024 * 1024 + 17;
    const std::string local = MakeFile("photo.raw", size);
    const time_t before = std::time(nullptr);

    CliResult up = Run({"upload", local, "trip/photos/"});
    ASSERT_EQ(up.status, 0) << up.err;
    EXPECT_NE(up.out.find("uploaded " + local + " to trip/photos/photo.raw"), std::string::npos)
        << up.out;
    // Not a terminal: plain progress lines, ending at 100%.
    EXPECT_NE(up.err.find("upload: 100% (3.0 MiB of 3.0 MiB"), std::string::npos) << up.err;

    const std::vector<Entry> entries = ListJson("trip/photos");
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].type, "file");
    EXPECT_EQ(entries[0].name, "photo.raw");
    EXPECT_EQ(entries[0].size, static_cast<long long>(size));
    // The listing's time is an instant, within a few seconds of the upload.
    EXPECT_GE(entries[0].modified, before - 5);
    EXPECT_LE(entries[0].modified, std::time(nullptr) + 5);

    CliResult text = Run({"ls", "trip/photos/"});
    ASSERT_EQ(text.status, 0) << text.err;
    EXPECT_TRUE(std::regex_search(text.out, std::regex("^- " + std::to_string(size) +
                                                       "  \\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d  "
                                                       "photo.raw\n$")))
        << text.out;

    CliResult down = Run({"download", "trip/photos/photo.raw", home_.file("copy.raw")});
    ASSERT_EQ(down.status, 0) << down.err;
    EXPECT_EQ(ReadFileBytes(home_.file("copy.raw")), ReadFileBytes(local));
    EXPECT_NE(down.err.find("download: 100%"), std::string::npos) << down.err;

    // Into an existing folder: the key's name is kept.
    ASSERT_EQ(mkdir(home_.file("into").c_str(), 0755), 0);
    CliResult into = Run({"download", "trip/photos/photo.raw", home_.file("into")});
    ASSERT_EQ(into.status, 0) << into.err;
    EXPECT_EQ(ReadFileBytes(home_.file("into/photo.raw")), ReadFileBytes(local));
}

TEST_F(CliCommandsTest, ListingShowsFoldersFirst) {
    const std::string local = MakeFile("small.txt", 1000);
    for (const char* key : {"shelf/a.txt", "shelf/box/b.txt", "shelf/crate/c.txt", "shelf/z.txt"})
        ASSERT_EQ(Run({"upload", local, key}).status, 0);

    CliResult text = Run({"ls", "/shelf", "--human"});
    ASSERT_EQ(text.status, 0) << text.err;
    EXPECT_TRUE(std::regex_match(text.out, std::regex("d +-  -  +box/\n"
                                                      "d +-  -  +crate/\n"
                                                      "- 1000 B  [-0-9: ]{16}  a.txt\n"
                                                      "- 1000 B  [-0-9: ]{16}  z.txt\n")))
        << text.out;

    const std::vector<Entry> entries = ListJson("shelf/");
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[0].type + ":" + entries[0].name, "folder:box");
    EXPECT_EQ(entries[1].type + ":" + entries[1].name, "folder:crate");
    EXPECT_EQ(entries[2].type + ":" + entries[2].name, "file:a.txt");
    EXPECT_EQ(entries[2].size, 1000);
    EXPECT_EQ(entries[0].size, -1);  // folders carry no size

    // The top level holds the folder.
    bool found = false;
    for (const Entry& e : ListJson("/")) found |= e.type == "folder" && e.name == "shelf";
    EXPECT_TRUE(found);
}

TEST_F(CliCommandsTest, BackupRegistersARecordThatRecordsAndUsageShow) {
    const std::string local = MakeFile("notes.db", 12345);
    const time_t now = std::time(nullptr);
    CliResult backup =
        Run({"backup", local, "--user", "dora", "--name", "weekly", "--expire-days", "30"});
    ASSERT_EQ(backup.status, 0) << backup.err;
    EXPECT_NE(backup.out.find("registered backup 'weekly' of dora: notes.db"), std::string::npos)
        << backup.out;

    // The default key is USER/BACKUP/<file name>.
    const std::vector<Entry> entries = ListJson("dora/weekly");
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].name, "notes.db");

    JsonDoc doc = RecordsJson("dora");
    ASSERT_EQ(RecordCount(doc), 1);
    const cJSON* r = cJSON_GetArrayItem(cJSON_GetObjectItemCaseSensitive(doc.get(), "records"), 0);
    auto text = [&](const char* name) {
        return std::string(cJSON_GetObjectItemCaseSensitive(r, name)->valuestring);
    };
    auto number = [&](const char* name) {
        return static_cast<long long>(cJSON_GetObjectItemCaseSensitive(r, name)->valuedouble);
    };
    EXPECT_EQ(text("name"), "dora");
    EXPECT_EQ(text("backup_name"), "weekly");
    EXPECT_EQ(text("file_name"), "notes.db");
    EXPECT_EQ(text("file_path"), local);
    EXPECT_TRUE(std::regex_match(text("date_time"),
                                 std::regex("\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d")));
    EXPECT_EQ(number("file_size"), 12345);
    EXPECT_NEAR(number("expire_time"), now + 30 * 86400LL, 10);
    EXPECT_GT(number("id"), 0);

    CliResult table = Run({"records", "dora"});
    ASSERT_EQ(table.status, 0) << table.err;
    EXPECT_TRUE(std::regex_search(table.out,
                                  std::regex("^ *ID +DATE +BACKUP +SIZE +EXPIRES +FILE +PATH\n")))
        << table.out;
    EXPECT_NE(table.out.find("weekly"), std::string::npos);
    EXPECT_NE(table.out.find(local), std::string::npos);

    // A second backup adds to the used space.
    ASSERT_EQ(Run({"backup", MakeFile("more.db", 55), "--user", "dora"}).status, 0);
    CliResult usage = Run({"usage", "dora"});
    ASSERT_EQ(usage.status, 0) << usage.err;
    EXPECT_EQ(usage.out, "dora uses 12400 bytes (12.1 KiB)\n");
    CliResult usage_json = Run({"usage", "dora", "--json"});
    JsonDoc u = ParseJson(usage_json.out);
    ASSERT_TRUE(u);
    EXPECT_EQ(cJSON_GetObjectItemCaseSensitive(u.get(), "size")->valuedouble, 12400);
    EXPECT_EQ(RecordCount(RecordsJson("dora")), 2);

    // Nobody's records and usage are empty, not failures.
    CliResult none = Run({"records", "nobody-at-all"});
    EXPECT_EQ(none.status, 0);
    EXPECT_EQ(none.out, "nobody-at-all has no backup records\n");
    EXPECT_EQ(Run({"usage", "nobody-at-all"}).out, "nobody-at-all uses 0 bytes (0 B)\n");
}

TEST_F(CliCommandsTest, UserNamesReachTheWebApiIntact) {
    // Characters that would break a query string if passed on raw.
    const std::string user = "ann smith&page=9#x";
    ASSERT_EQ(Run({"backup", MakeFile("a.bin", 10), "--user", user, "--key", "ann/a.bin"}).status,
              0);
    ASSERT_EQ(Run({"backup", MakeFile("b.bin", 20), "--user", "ann", "--key", "ann/b.bin"}).status,
              0);

    JsonDoc doc = RecordsJson(user);
    ASSERT_EQ(RecordCount(doc), 1);
    const cJSON* r = cJSON_GetArrayItem(cJSON_GetObjectItemCaseSensitive(doc.get(), "records"), 0);
    EXPECT_STREQ(cJSON_GetObjectItemCaseSensitive(r, "name")->valuestring, user.c_str());
    EXPECT_EQ(Run({"usage", user}).out, user + " uses 10 bytes (10 B)\n");

    // Deleting with that user removes only that user's records.
    CliResult rm = Run({"rm", "ann/a.bin", "--user", user});
    ASSERT_EQ(rm.status, 0) << rm.err;
    EXPECT_EQ(RecordCount(RecordsJson(user)), 0);
    EXPECT_EQ(RecordCount(RecordsJson("ann")), 1);
}

TEST_F(CliCommandsTest, RemoveDeletesTheObjectAndOnRequestTheRecords) {
    ASSERT_EQ(Run({"backup", MakeFile("x.bin", 100), "--user", "eve"}).status, 0);
    ASSERT_EQ(Run({"backup", MakeFile("y.bin", 100), "--user", "eve"}).status, 0);

    // Without --user the records stay.
    CliResult plain = Run({"rm", "eve/default/y.bin"});
    ASSERT_EQ(plain.status, 0) << plain.err;
    EXPECT_EQ(plain.out, "removed eve/default/y.bin\n");
    EXPECT_EQ(RecordCount(RecordsJson("eve")), 2);

    CliResult with_user = Run({"rm", "eve/default/x.bin", "--user", "eve"});
    ASSERT_EQ(with_user.status, 0) << with_user.err;
    EXPECT_EQ(with_user.out, "removed eve/default/x.bin\ndeleted the backup records of eve\n");
    EXPECT_TRUE(ListJson("eve/default").empty());
    EXPECT_EQ(RecordCount(RecordsJson("eve")), 0);

    // Gone now: a second removal says so and deletes nothing.
    CliResult again = Run({"rm", "eve/default/x.bin"});
    EXPECT_EQ(again.status, 2);
    EXPECT_NE(again.err.find("no object eve/default/x.bin"), std::string::npos) << again.err;
}

TEST_F(CliCommandsTest, MissingAndUnsuitableInputsFailWithStatus2) {
    CliResult missing = Run({"download", "no/such/object.bin", home_.file("out.bin")});
    EXPECT_EQ(missing.status, 2);
    EXPECT_NE(missing.err.find("no object no/such/object.bin in bucket " NIMBRA_BUCKET),
              std::string::npos)
        << missing.err;
    EXPECT_NE(missing.err.find("nimbra ls no/such/"), std::string::npos) << missing.err;
    struct stat info {};
    EXPECT_NE(stat(home_.file("out.bin").c_str(), &info), 0);

    CliResult no_file = Run({"upload", home_.file("absent"), "k/absent"});
    EXPECT_EQ(no_file.status, 2);
    EXPECT_NE(no_file.err.find("No such file or directory"), std::string::npos);
    CliResult folder = Run({"upload", home_.path(), "k/folder"});
    EXPECT_EQ(folder.status, 2);
    EXPECT_NE(folder.err.find("is a folder"), std::string::npos);
    CliResult empty = Run({"upload", MakeFile("empty", 0), "k/empty"});
    EXPECT_EQ(empty.status, 2);
    EXPECT_NE(empty.err.find("is empty"), std::string::npos);
    CliResult no_dir = Run({"download", "k/x", home_.file("nowhere/x")});
    EXPECT_EQ(no_dir.status, 2);
    EXPECT_NE(no_dir.err.find("no folder"), std::string::npos);
    // None of these reached the store.
    EXPECT_EQ(
        server_->GetStats().requests["PutObject"] + server_->GetStats().requests["UploadPart"], 0);
}

TEST_F(CliCommandsTest, RefusedCredentialsFailWithStatus2AndNameTheWebApi) {
    const std::string local = MakeFile("c.bin", 100);
    server_->ScriptApi(R"({"path":"/getStsKey","status":500,"body":"{}","count":1})");
    CliResult r = Run({"upload", local, "creds/c.bin"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("failed: no credentials from the web API"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(NIMBRA_SERVER_URL), std::string::npos) << r.err;
    EXPECT_TRUE(ListJson("creds").empty());
}

TEST_F(CliCommandsTest, DroppedStoreConnectionIsANetworkFailure) {
    ASSERT_EQ(Run({"upload", MakeFile("d.bin", 3 * 1024 * 1024), "drop/d.bin"}).status, 0);
    server_->AddFault(
        R"({"method":"GET","subresource":"none","count":-1,"action":"close","close_after_bytes":10})");
    CliResult r = Run({"download", "drop/d.bin", home_.file("d.copy")});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("download of drop/d.bin failed (network failure)"), std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find(NIMBRA_ENDPOINT), std::string::npos) << r.err;
    // Nothing half-written is left behind.
    struct stat info {};
    EXPECT_NE(stat(home_.file("d.copy").c_str(), &info), 0);
    EXPECT_EQ(ReadFileBytes(home_.file("d.copy")), "");
}

TEST_F(CliCommandsTest, StoreErrorDuringUploadFailsWithStatus2) {
    server_->AddFault(
        R"({"method":"PUT","subresource":"partNumber","count":1,"action":"error","status":500,"code":"InternalError","message":"disk on fire"})");
    CliResult r = Run({"upload", MakeFile("e.bin", 2000), "err/e.bin"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("upload of"), std::string::npos);
    EXPECT_NE(r.err.find("failed"), std::string::npos) << r.err;
    EXPECT_NE(LogText().find("disk on fire"), std::string::npos);
    EXPECT_TRUE(ListJson("err").empty());
}

TEST_F(CliCommandsTest, UnregisteredBackupKeepsTheObjectAndSaysSo) {
    server_->ScriptApi(R"({"path":"/uploadUserInfo","status":500,"body":"{}","count":1})");
    CliResult r = Run({"backup", MakeFile("f.bin", 500), "--user", "fay"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("fay/default/f.bin is stored, but the web API did not register"),
              std::string::npos)
        << r.err;
    // The library's request trace went to the log, not the terminal.
    EXPECT_EQ(r.err.find("* Connected"), std::string::npos) << r.err;
    EXPECT_NE(LogText().find("uploadUserInfo"), std::string::npos);
    EXPECT_EQ(ListJson("fay/default").size(), 1u);
    EXPECT_EQ(RecordCount(RecordsJson("fay")), 0);
}

TEST_F(CliCommandsTest, LibraryLogGoesToTheLogFileOrWithVerboseToStderr) {
    const std::string local = MakeFile("g.bin", 300);
    CliResult quiet = Run({"upload", local, "log/g.bin"});
    ASSERT_EQ(quiet.status, 0);
    EXPECT_EQ(quiet.err.find("Init multipart upload succeeded"), std::string::npos);
    EXPECT_NE(LogText().find("MultiUploadFile Nimbra/OssOperate"), std::string::npos);

    CliResult verbose = Run({"--verbose", "upload", local, "log/g2.bin"});
    ASSERT_EQ(verbose.status, 0);
    EXPECT_NE(verbose.err.find("[L1] MultiUploadFile Nimbra/OssOperate"), std::string::npos)
        << verbose.err;

    // Without NIMBRA_LOG the file lands in the user's cache folder.
    env_.vars["NIMBRA_LOG"] = "";
    ASSERT_EQ(Run({"upload", local, "log/g3.bin"}).status, 0);
    EXPECT_NE(ReadFileBytes(home_.file(".cache/nimbra/nimbra.log"))
                  .find("Init multipart upload succeeded"),
              std::string::npos);
}

}  // namespace
