// The library's own pieces that need no socket: the result maps, listing
// entries, the web API's JSON documents and the response header store.
#include <cjson/cJSON.h>
#include <gtest/gtest.h>

#include <climits>
#include <cstring>

#include "Nimbra/OssContext.h"
#include "Nimbra/OssListEntry.h"
#include "Nimbra/OssOperate.h"
#include "Nimbra/WebApiJson.h"
#include "Nimbra/WebRequest.h"
#include "tests/unit/UnitSupport.h"

using unit::TimeZoneGuard;
using unit::Utc;

namespace {

TEST(ResultMaps, EveryRowOfBothTablesAndTheStatusTest) {
    const struct {
        int code, download, transfer;
    } rows[] = {{-996, -1, 1},  {-995, 1, 1},   {-994, -1, -1}, {-993, -1, -1}, {-992, 1, 1},
                {-991, -1, -1}, {-990, 1, 1},   {-989, -1, 1},  {-988, -1, 1},  {-987, -1, 1},
                {-986, 1, 1},   {-997, -1, -1}, {-985, -1, -1}, {-978, -1, -1}, {0, -1, -1},
                {1, -1, -1},    {301, -1, -1},  {404, -1, -1},  {500, -1, -1},  {503, -1, -1}};
    for (const auto& r : rows) {
        EXPECT_EQ(DownloadResultOf(r.code), r.download) << r.code;
        EXPECT_EQ(TransferResultOf(r.code), r.transfer) << r.code;
    }
    aos_status_t status = {};
    for (int code : {200, 299, 0, -992, 199, 300, 404}) {
        status.code = code;
        EXPECT_EQ(StatusOk(&status), code >= 200 && code <= 299) << code;
    }
    EXPECT_FALSE(StatusOk(nullptr));
    EXPECT_STREQ(StatusMessage(&status), "");  // no message: logged as empty
}

// The name field: NUL-terminated within its width and zero after it.
std::string Name(const _ST_RemotePathInfo& info) {
    const size_t len = strnlen(info.szPathName, sizeof info.szPathName);
    EXPECT_LT(len, sizeof info.szPathName);
    for (size_t i = len; i < sizeof info.szPathName; ++i) EXPECT_EQ(info.szPathName[i], 0) << i;
    return std::string(info.szPathName, len);
}

TEST(ListingEntries, NamesRelativeToThePrefix) {
    // Prefix, key or common prefix, relative name, folder entry (null: none).
    const struct {
        const char *prefix, *key, *relative, *folder;
    } cases[] = {{"photos/", "photos/a.jpg", "a.jpg", "a.jp"},
                 {"photos/", "photos/2019/", "2019/", "2019"},
                 {"photos/", "photos/", "", nullptr},  // the folder's own marker object
                 {"photos", "photos/", "/", nullptr},  // too short for a folder
                 {"photos", "photos.txt", ".txt", ".tx"},
                 {"a/", "a/b/", "b/", "b"},
                 {"", "top/", "top/", "top"},
                 {"/", "top.txt", "top.txt", "top.tx"},  // "/" does not begin the key
                 {"/", "/x", "x", nullptr},
                 {"docs/", "photos/a", "photos/a", "photos/"},
                 {"longer-prefix", "long", "long", "lon"}};
    for (const auto& c : cases) {
        EXPECT_EQ(ListRelativeName(c.prefix, c.key), c.relative) << c.prefix << " " << c.key;
        _ST_RemotePathInfo info;
        std::memset(&info, 0x5a, sizeof info);
        const bool folder = ListFolderEntry(c.prefix, c.key, info);
        EXPECT_EQ(folder, c.folder != nullptr) << c.prefix << " " << c.key;
        if (!folder) {
            EXPECT_EQ(info.szPathName[0], 0x5a);  // untouched
            continue;
        }
        EXPECT_TRUE(info.bIsDir);
        EXPECT_EQ(info.llFileSize, 0);
        EXPECT_EQ(info.tLastModified, 0);
        EXPECT_EQ(Name(info), c.folder);
    }

    _ST_RemotePathInfo file = ListFileEntry("p/", "p/file.bin", "1234567890123", "");
    EXPECT_FALSE(file.bIsDir);
    EXPECT_EQ(Name(file), "file.bin");
    EXPECT_EQ(file.llFileSize, 1234567890123LL);
    EXPECT_EQ(ListFileEntry("", "k", "not a number", "").llFileSize, 0);
    EXPECT_EQ(ListFileEntry("", "k", "12abc", "").llFileSize, 12);  // as atoll reads it
    // 254 bytes fit; a character that would straddle byte 254 is left out whole.
    const std::string fits = std::string(252, 'n') + "\xc3\xa9";
    EXPECT_EQ(Name(ListFileEntry("", fits, "1", "")), fits);
    EXPECT_EQ(Name(ListFileEntry("", std::string(253, 'n') + "\xe2\x82\xac" + "tail", "1", "")),
              std::string(253, 'n'));
}

TEST(ListingEntries, LastModifiedReadAsLocalStandardTime) {
    TimeZoneGuard utc("UTC0");
    struct tm time_only = {};
    time_only.tm_hour = 8;
    time_only.tm_min = 20;
    time_only.tm_sec = 31;
    const time_t no_date = timegm(&time_only);  // day 0 of month 0 of 1900
    const struct {
        const char* text;
        time_t expected;
    } cases[] = {{"2019-03-15T08:20:31.000Z", Utc(2019, 3, 15, 8, 20, 31)},
                 {"2019-03-15T08:20:31Z", Utc(2019, 3, 15, 8, 20, 31)},     // no "."
                 {"2019-03-15T08:20:31.5.9", Utc(2019, 3, 15, 8, 20, 31)},  // cut at the last "."
                 {"2019-03-15", Utc(2019, 3, 15)},             // no "T": the time fails
                 {"08:20:31", no_date},                        // no "T": the date fails
                 {"2019-03T08:20:31.000Z", no_date},           // two date fields
                 {"2019-03-15-01T08:20:31.000Z", no_date},     // four
                 {"2019-03-15T08:20.000Z", Utc(2019, 3, 15)},  // two time fields
                 {"2019-003-+15T08x:20:31z", Utc(2019, 3, 15, 8, 20, 31)},  // read as atoi reads
                 {"", Utc(1899, 12, 31)}};
    for (const auto& c : cases) EXPECT_EQ(ListLastModifiedTime(c.text), c.expected) << c.text;
    EXPECT_EQ(ListFileEntry("", "k", "0", cases[0].text).tLastModified, cases[0].expected);

    // Numbers beyond int are pinned to its range, never overflowing.
    struct tm pinned = {};
    pinned.tm_year = INT_MAX - 1900;
    pinned.tm_mday = 1;
    pinned.tm_sec = INT_MAX;
    EXPECT_EQ(ListLastModifiedTime("99999999999999999999999-1-1T00:00:99999999999999999999"),
              mktime(&pinned));

    TimeZoneGuard shanghai("Asia/Shanghai");
    EXPECT_EQ(ListLastModifiedTime(cases[0].text), cases[0].expected - 8 * 3600);
    TimeZoneGuard new_york("EST5EDT,M3.2.0,M11.1.0");  // July is summer time, read as standard
    EXPECT_EQ(ListLastModifiedTime("2019-07-01T12:00:00.000Z"), Utc(2019, 7, 1, 17));
}

struct Credentials {
    std::string id = "old-id", secret = "old-secret", token = "old-token";
    bool ok = false;
    explicit Credentials(const std::string& text) { ok = ParseStsKeyJson(text, id, secret, token); }
    std::string All() const { return (ok ? "ok " : "fail ") + id + "|" + secret + "|" + token; }
};

TEST(WebApiJson, CredentialsAndUsedSpace) {
    const struct {
        const char *text, *result;
    } cases[] = {{R"({"AccessKeyId":"STS.a","AccessKeySecret":"s","SecurityToken":"t","X":1})",
                  "ok STS.a|s|t"},
                 {R"({"AccessKeyId":"only"})", "ok only|old-secret|old-token"},
                 {R"({"SecurityToken":12,"AccessKeySecret":null,"AccessKeyId":{"x":1}})", "ok ||"},
                 {R"({"accesskeyid":"lower","AccessKeyId":"first","AccessKeyId":"last"})",
                  "ok last|old-secret|old-token"},
                 {R"({"Credentials":{"AccessKeyId":"nested"}})", "ok old-id|old-secret|old-token"},
                 {R"(["AccessKeyId","x"])", "ok old-id|old-secret|old-token"},
                 {"42", "ok old-id|old-secret|old-token"},
                 {"<html>502 Bad Gateway</html>", "fail old-id|old-secret|old-token"},
                 {"", "fail old-id|old-secret|old-token"}};
    for (const auto& c : cases) EXPECT_EQ(Credentials(c.text).All(), c.result) << c.text;

    const struct {
        const char* text;
        bool ok;
        long long size;
    } sizes[] = {{R"({"size":1900.7})", true, 1900},
                 {R"({"size":-3.9})", true, -3},
                 {R"({"size":6442450944})", true, 6442450944LL},
                 {R"({"size":1e300})", true, LLONG_MAX},
                 {R"({"size":"1234"})", true, 0},
                 {R"({"used":1234})", true, 0},
                 {R"({"Size":1234})", true, 0},
                 {R"({"size":10,"size":20})", true, 10},
                 {"size=10", false, 0}};
    for (const auto& c : sizes) {
        long long size = 7;
        EXPECT_EQ(ParseUsedSizeJson(c.text, size), c.ok) << c.text;
        EXPECT_EQ(size, c.size) << c.text;
    }
}

struct Page {
    long long total = -1;
    std::vector<_ST_UserInfo> records;
    bool Parse(const std::string& text) {
        return ParseUserPageJson(text, total,
                                 [this](const _ST_UserInfo& r) { records.push_back(r); });
    }
    std::vector<int> Ids() const {
        std::vector<int> ids;
        for (const auto& r : records) ids.push_back(r.nId);
        return ids;
    }
};

TEST(WebApiJson, RecordPages) {
    Page p;
    ASSERT_TRUE(p.Parse(R"({"total":1,"data":[{"id":7,"name":"alice","backup_name":"docs",
        "date_time":"2026-12-05 10:00:00","file_path":"/home/alice/a.tar","file_name":"a.tar",
        "file_size":5368709120,"expire_time":30}]})"));
    ASSERT_EQ(p.records.size(), 1u);
    const _ST_UserInfo& r = p.records[0];
    EXPECT_EQ(p.total, 1);
    EXPECT_EQ(r.nId, 7);
    EXPECT_STREQ(r.szName, "alice");
    EXPECT_STREQ(r.szBackupName, "docs");
    EXPECT_STREQ(r.szDateTime, "2026-12-05 10:00:00");
    EXPECT_STREQ(r.szFilePath, "/home/alice/a.tar");
    EXPECT_STREQ(r.szFileName, "a.tar");
    EXPECT_EQ(r.llFileSize, 5368709120LL);  // above 2^31, exact
    EXPECT_EQ(r.llExpireTime, 30);

    const struct {
        const char* text;
        long long total;
        std::vector<int> ids;
    } pages[] = {
        // Record members ignore case, top-level ones do not; the last "total" and "data" count.
        {R"({"total":3,"data":[{"ID":1}],"Total":99,"DATA":[{"id":2}]})", 3, {1}},
        {R"({"total":1,"data":[{"id":1}],"total":2,"data":[{"id":2},{"id":3}]})", 2, {2, 3}},
        {R"({"data":[{"name":"no id"},5,"x",null,[{"id":1}],{"id":4}]})", -1, {4}},
        {R"({"total":51,"data":[]})", 51, {}},
        {R"({"total":51,"data":{"id":1}})", 51, {}},
        {R"([{"id":1}])", -1, {}}};
    for (const auto& c : pages) {
        Page page;
        EXPECT_TRUE(page.Parse(c.text)) << c.text;
        EXPECT_EQ(page.total, c.total) << c.text;
        EXPECT_EQ(page.Ids(), c.ids) << c.text;
    }
    EXPECT_FALSE(Page().Parse("{\"total\":"));

    // Absent or non-string members leave zeroed fields; long texts are cut
    // at a character boundary within their field.
    Page cut;
    ASSERT_TRUE(cut.Parse(R"({"data":[{"iD":1,"NAME":"bob","file_name":5,"backup_name":")" +
                          std::string(99, 'a') + "\xc3\xa9\",\"file_path\":\"" +
                          std::string(300, 'p') + "\"}]})"));
    ASSERT_EQ(cut.records.size(), 1u);
    const _ST_UserInfo& c = cut.records[0];
    EXPECT_STREQ(c.szName, "bob");
    EXPECT_EQ(c.llFileSize + c.llExpireTime, 0);
    EXPECT_EQ(std::string(c.szBackupName), std::string(99, 'a'));
    EXPECT_EQ(std::string(c.szFilePath), std::string(255, 'p'));
    EXPECT_EQ(std::string(c.szFileName, sizeof c.szFileName), std::string(sizeof c.szFileName, 0));
    EXPECT_EQ(std::string(c.szDateTime, sizeof c.szDateTime), std::string(sizeof c.szDateTime, 0));
}

TEST(WebApiJson, RecordBody) {
    _ST_UserInfo info;
    std::memset(&info, 0, sizeof info);
    info.nId = 99;
    std::strcpy(info.szName, "alice");
    std::strcpy(info.szFilePath, "/a/b \"q\".txt");
    info.llFileSize = 5368709120LL;
    info.llExpireTime = 7;
    const std::string body = BuildUserInfoJson(info);
    EXPECT_NE(body.find("\n\t\"backup_name\":\t\"\",\n"), body.npos) << body;  // cJSON_Print
    cJSON* doc = cJSON_Parse(body.c_str());
    ASSERT_NE(doc, nullptr) << body;
    std::string members;
    for (const cJSON* it = doc->child; it; it = it->next)
        members += std::string(it->string) + (cJSON_IsString(it)   ? "=s "
                                              : cJSON_IsNumber(it) ? "=n "
                                                                   : "=? ");
    EXPECT_EQ(
        members,
        "name=s backup_name=s date_time=s file_path=s file_name=s file_size=n expire_time=n ");
    EXPECT_STREQ(cJSON_GetObjectItem(doc, "file_path")->valuestring, "/a/b \"q\".txt");
    EXPECT_EQ(cJSON_GetObjectItem(doc, "file_size")->valuedouble, 5368709120.0);
    EXPECT_EQ(cJSON_GetObjectItem(doc, "expire_time")->valuedouble, 7.0);
    cJSON_Delete(doc);

    std::memset(&info, 'z', sizeof info);  // unterminated fields are read to their width only
    doc = cJSON_Parse(BuildUserInfoJson(info).c_str());
    ASSERT_NE(doc, nullptr);
    EXPECT_EQ(std::strlen(cJSON_GetObjectItem(doc, "name")->valuestring), 255u);
    EXPECT_EQ(std::strlen(cJSON_GetObjectItem(doc, "file_path")->valuestring), 256u);
    cJSON_Delete(doc);
}

TEST(ResponseHeaders, StoredByExactNameInArrivalOrder) {
    CWebRequest request;
    const std::string lines[] = {"HTTP/1.1 302 Found\r\n",
                                 "Set-Cookie: a=1\r\n",
                                 "Location: /next\r\n",
                                 "\r\n",
                                 "HTTP/1.1 200 OK\r\n",
                                 "Content-Type: application/json\r\n",
                                 "Set-Cookie: b=2\r\n",
                                 "X-Odd:a:b\r\n",
                                 "\r\n"};
    std::string all;
    for (std::string line : lines) {
        all += line;
        // libcurl's size and count may split the byte count either way.
        const size_t n = all.size() % 2 ? line.size() : 1, count = line.size() / n;
        EXPECT_EQ(CWebRequest::WriteHeaderCallback(&line[0], n, count, &request), line.size());
    }
    EXPECT_EQ(request.GetResponseHeader(), all);
    EXPECT_EQ(request.SearchResponseHeader("Content-Type"), " application/json\r\n");
    EXPECT_EQ(request.SearchResponseHeader("content-type"), "");
    EXPECT_EQ(request.SearchResponseHeader("X-Odd"), "a:b\r\n");
    EXPECT_EQ(request.SearchResponseHeaders("Set-Cookie"),
              (std::vector<std::string>{" a=1\r\n", " b=2\r\n"}));
    EXPECT_EQ(request.SearchResponseHeader("Set-Cookie"), " a=1\r\n");
    EXPECT_TRUE(request.SearchResponseHeaders("Location:").empty());
    EXPECT_EQ(request.GetResponseHeaders().size(), 5u);

    std::atomic<bool> stop{false};
    EXPECT_EQ(ProgressFunctionCallback(&stop, 1, 2, 3, 4), 0);
    stop = true;
    EXPECT_EQ(ProgressFunctionCallback(&stop, 0, 0, 0, 0), -1);
}

}  // namespace
