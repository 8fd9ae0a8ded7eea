// The library's own pieces that need no socket: the result maps, listing
// entries and the record body of the web API. (The answers' walkers and the
// response header store are checked by their fuzz targets over the corpora.)
#include <cjson/cJSON.h>
#include <gtest/gtest.h>

#include <climits>
#include <cstring>

#include "Nimbra/OssContext.h"
#include "Nimbra/OssListEntry.h"
#include "Nimbra/OssOperate.h"
#include "Nimbra/WebApiJson.h"
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
                 {"2019-03-15T08:20:31Z", Utc(2019, 3, 15, 8, 20, 31)},      // no "."
                 {"2019-03-1.5T08:20:31.000Z", Utc(2019, 3, 1, 8, 20, 31)},  // cut at the last "."
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

}  // namespace
