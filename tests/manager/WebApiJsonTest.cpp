// The web API documents on text alone: credentials, used space, record
// pages, and the record body the manager sends.
#include <cjson/cJSON.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "Nimbra/WebApiJson.h"

namespace {

struct Creds {
    std::string id = "old-id", secret = "old-secret", token = "old-token";
    bool Parse(const std::string& text) { return ParseStsKeyJson(text, id, secret, token); }
};

TEST(StsKeyJson, AllThreeMembers) {
    Creds c;
    ASSERT_TRUE(c.Parse(R"({"AccessKeyId":"STS.a","AccessKeySecret":"s","SecurityToken":"t",
                           "Expiration":"2026-12-05T10:00:00Z"})"));
    EXPECT_EQ(c.id, "STS.a");
    EXPECT_EQ(c.secret, "s");
    EXPECT_EQ(c.token, "t");
}

TEST(StsKeyJson, AbsentMembersKeepWhatTheStringsHeld) {
    Creds c;
    ASSERT_TRUE(c.Parse(R"({"AccessKeyId":"only"})"));
    EXPECT_EQ(c.id, "only");
    EXPECT_EQ(c.secret, "old-secret");
    EXPECT_EQ(c.token, "old-token");
}

TEST(StsKeyJson, NonStringValuesAssignEmpty) {
    Creds c;
    ASSERT_TRUE(c.Parse(R"({"SecurityToken":12,"AccessKeySecret":null,"AccessKeyId":{"x":1}})"));
    EXPECT_EQ(c.token, "");
    EXPECT_EQ(c.secret, "");
    EXPECT_EQ(c.id, "");
}

TEST(StsKeyJson, NamesAreExactAndLastOccurrenceWins) {
    Creds c;
    ASSERT_TRUE(c.Parse(R"({"accesskeyid":"lower","AccessKeyId":"first","AccessKeyId":"last"})"));
    EXPECT_EQ(c.id, "last");
}

TEST(StsKeyJson, NestedMembersAreIgnored) {
    Creds c;
    ASSERT_TRUE(c.Parse(R"({"Credentials":{"AccessKeyId":"nested"}})"));
    EXPECT_EQ(c.id, "old-id");
}

TEST(StsKeyJson, JsonThatIsNotAnObjectAssignsNothing) {
    for (const char* text : {R"(["AccessKeyId","x"])", "42", R"("AccessKeyId")", "null"}) {
        Creds c;
        EXPECT_TRUE(c.Parse(text)) << text;
        EXPECT_EQ(c.id, "old-id") << text;
    }
}

TEST(StsKeyJson, NotJsonFails) {
    Creds c;
    EXPECT_FALSE(c.Parse("<html>502 Bad Gateway</html>"));
    EXPECT_FALSE(c.Parse(""));
    EXPECT_EQ(c.id, "old-id");
}

TEST(UsedSizeJson, TruncatesTowardZero) {
    long long size = -1;
    ASSERT_TRUE(ParseUsedSizeJson(R"({"size":1900.7})", size));
    EXPECT_EQ(size, 1900);
    ASSERT_TRUE(ParseUsedSizeJson(R"({"size":-3.9})", size));
    EXPECT_EQ(size, -3);
}

TEST(UsedSizeJson, LargeValuesStayExact) {
    long long size = 0;
    ASSERT_TRUE(ParseUsedSizeJson(R"({"size":6442450944})", size));
    EXPECT_EQ(size, 6442450944LL);
    ASSERT_TRUE(ParseUsedSizeJson(R"({"size":1e300})", size));
    EXPECT_EQ(size, 9223372036854775807LL);
}

TEST(UsedSizeJson, StringAbsentOrOtherCaseGiveZero) {
    long long size = 7;
    ASSERT_TRUE(ParseUsedSizeJson(R"({"size":"1234"})", size));
    EXPECT_EQ(size, 0);
    size = 7;
    ASSERT_TRUE(ParseUsedSizeJson(R"({"used":1234})", size));
    EXPECT_EQ(size, 0);
    size = 7;
    ASSERT_TRUE(ParseUsedSizeJson(R"({"Size":1234})", size));
    EXPECT_EQ(size, 0);
}

TEST(UsedSizeJson, FirstSizeCounts) {
    long long size = 0;
    ASSERT_TRUE(ParseUsedSizeJson(R"({"size":10,"size":20})", size));
    EXPECT_EQ(size, 10);
}

TEST(UsedSizeJson, NotJsonFails) {
    long long size = 5;
    EXPECT_FALSE(ParseUsedSizeJson("size=10", size));
    EXPECT_EQ(size, 0);
}

struct Page {
    long long total = -1;
    std::vector<_ST_UserInfo> records;
    bool Parse(const std::string& text) {
        return ParseUserPageJson(text, total,
                                 [this](const _ST_UserInfo& r) { records.push_back(r); });
    }
};

TEST(UserPageJson, FullRecord) {
    Page p;
    ASSERT_TRUE(p.Parse(R"({"total":1,"data":[{"id":7,"name":"alice","backup_name":"docs",
        "date_time":"2026-12-05 10:00:00","file_path":"/home/alice/a.tar","file_name":"a.tar",
        "file_size":5368709120,"expire_time":30}]})"));
    EXPECT_EQ(p.total, 1);
    ASSERT_EQ(p.records.size(), 1u);
    const _ST_UserInfo& r = p.records[0];
    EXPECT_EQ(r.nId, 7);
    EXPECT_STREQ(r.szName, "alice");
    EXPECT_STREQ(r.szBackupName, "docs");
    EXPECT_STREQ(r.szDateTime, "2026-12-05 10:00:00");
    EXPECT_STREQ(r.szFilePath, "/home/alice/a.tar");
    EXPECT_STREQ(r.szFileName, "a.tar");
    EXPECT_EQ(r.llFileSize, 5368709120LL);  // above 2^31, exact
    EXPECT_EQ(r.llExpireTime, 30);
}

TEST(UserPageJson, RecordMembersIgnoreCaseButTopLevelDoesNot) {
    Page p;
    ASSERT_TRUE(p.Parse(R"({"total":3,"data":[{"ID":1,"NAME":"bob","File_Size":9}],
                           "Total":99,"DATA":[{"id":2}]})"));
    EXPECT_EQ(p.total, 3);
    ASSERT_EQ(p.records.size(), 1u);
    EXPECT_EQ(p.records[0].nId, 1);
    EXPECT_STREQ(p.records[0].szName, "bob");
    EXPECT_EQ(p.records[0].llFileSize, 9);
}

TEST(UserPageJson, ElementsWithoutIdOrNotObjectsAreSkipped) {
    Page p;
    ASSERT_TRUE(p.Parse(R"({"data":[{"name":"no id"},5,"x",null,[{"id":1}],{"id":4}]})"));
    ASSERT_EQ(p.records.size(), 1u);
    EXPECT_EQ(p.records[0].nId, 4);
    EXPECT_EQ(p.total, -1);  // no "total": the remembered value stays
}

TEST(UserPageJson, MissingMembersLeaveZeroedFields) {
    Page p;
    ASSERT_TRUE(p.Parse(R"({"data":[{"id":1,"name":5,"file_name":"f"}]})"));
    ASSERT_EQ(p.records.size(), 1u);
    const _ST_UserInfo& r = p.records[0];
    EXPECT_EQ(r.llFileSize, 0);
    EXPECT_EQ(r.llExpireTime, 0);
    EXPECT_STREQ(r.szName, "");  // not a string
    EXPECT_STREQ(r.szFileName, "f");
    _ST_UserInfo zero;
    std::memset(&zero, 0, sizeof zero);
    EXPECT_EQ(std::memcmp(r.szFilePath, zero.szFilePath, sizeof zero.szFilePath), 0);
}

TEST(UserPageJson, DataEmptyOrNotAnArrayDeliversNothing) {
    for (const char* text : {R"({"total":51,"data":[]})", R"({"total":51,"data":{"id":1}})",
                             R"({"total":51,"data":"x"})"}) {
        Page p;
        ASSERT_TRUE(p.Parse(text)) << text;
        EXPECT_TRUE(p.records.empty()) << text;
        EXPECT_EQ(p.total, 51) << text;
    }
}

TEST(UserPageJson, LastDataAndTotalCount) {
    Page p;
    ASSERT_TRUE(p.Parse(R"({"total":1,"data":[{"id":1}],"total":2,"data":[{"id":2},{"id":3}]})"));
    EXPECT_EQ(p.total, 2);
    ASSERT_EQ(p.records.size(), 2u);
    EXPECT_EQ(p.records[0].nId, 2);
    EXPECT_EQ(p.records[1].nId, 3);
}

TEST(UserPageJson, NonObjectDocumentKeepsTotal) {
    Page p;
    p.total = 60;
    ASSERT_TRUE(p.Parse(R"([{"id":1}])"));
    EXPECT_EQ(p.total, 60);
    EXPECT_TRUE(p.records.empty());
}

TEST(UserPageJson, NotJsonFails) {
    Page p;
    EXPECT_FALSE(p.Parse("{\"total\":"));
}

TEST(UserPageJson, OverlongStringsAreCutAtCharacterBoundary) {
    // 99 bytes of ASCII then a 2-byte character: the field holds 99 bytes + NUL.
    std::string name(99, 'a');
    name += "\xC3\xA9";
    std::string longPath(300, 'p');
    Page p;
    ASSERT_TRUE(p.Parse("{\"data\":[{\"id\":1,\"backup_name\":\"" + name + "\",\"file_path\":\"" +
                        longPath + "\"}]}"));
    ASSERT_EQ(p.records.size(), 1u);
    EXPECT_EQ(std::string(p.records[0].szBackupName), std::string(99, 'a'));
    EXPECT_EQ(std::string(p.records[0].szFilePath), std::string(255, 'p'));
    EXPECT_EQ(p.records[0].szFileName[0], '\0');  // nothing spilled into the next field
}

TEST(CopyToField, CutsBeforeASplitCharacter) {
    char field[6];
    std::memset(field, 'X', sizeof field);
    CopyToField(field, sizeof field,
                "ab\xE2\x82\xAC"
                "cd");  // "ab€cd": € is 3 bytes
    EXPECT_STREQ(field, "ab\xE2\x82\xAC");
    CopyToField(field, sizeof field, "abcd\xE2\x82\xAC");
    EXPECT_STREQ(field, "abcd");
    CopyToField(field, sizeof field, "");
    EXPECT_STREQ(field, "");
}

TEST(UserInfoBody, MembersInOrderWithNumbersAndStrings) {
    _ST_UserInfo info;
    std::memset(&info, 0, sizeof info);
    info.nId = 99;
    std::strcpy(info.szName, "alice");
    std::strcpy(info.szFilePath, "/a/b \"q\".txt");
    info.llFileSize = 5368709120LL;
    info.llExpireTime = 7;
    std::string body = BuildUserInfoJson(info);

    cJSON* doc = cJSON_Parse(body.c_str());
    ASSERT_NE(doc, nullptr) << body;
    std::vector<std::string> names;
    for (cJSON* it = doc->child; it; it = it->next) names.push_back(it->string);
    EXPECT_EQ(names, (std::vector<std::string>{"name", "backup_name", "date_time", "file_path",
                                               "file_name", "file_size", "expire_time"}));
    EXPECT_TRUE(cJSON_IsString(cJSON_GetObjectItem(doc, "backup_name")));
    EXPECT_STREQ(cJSON_GetObjectItem(doc, "backup_name")->valuestring, "");
    EXPECT_STREQ(cJSON_GetObjectItem(doc, "file_path")->valuestring, "/a/b \"q\".txt");
    EXPECT_TRUE(cJSON_IsNumber(cJSON_GetObjectItem(doc, "file_size")));
    EXPECT_EQ(cJSON_GetObjectItem(doc, "file_size")->valuedouble, 5368709120.0);
    EXPECT_EQ(cJSON_GetObjectItem(doc, "expire_time")->valuedouble, 7.0);
    EXPECT_EQ(cJSON_GetObjectItem(doc, "id"), nullptr);
    cJSON_Delete(doc);
    // cJSON_Print's indented layout: one member per line.
    EXPECT_NE(body.find("\n\t\"backup_name\":\t\"\",\n"), std::string::npos) << body;
}

TEST(UserInfoBody, UnterminatedHostFieldIsReadOnlyToItsWidth) {
    _ST_UserInfo info;
    std::memset(&info, 'z', sizeof info);
    info.llFileSize = 1;
    info.llExpireTime = 2;
    cJSON* doc = cJSON_Parse(BuildUserInfoJson(info).c_str());
    ASSERT_NE(doc, nullptr);
    EXPECT_EQ(std::strlen(cJSON_GetObjectItem(doc, "name")->valuestring), 255u);
    EXPECT_EQ(std::strlen(cJSON_GetObjectItem(doc, "file_path")->valuestring), 256u);
    cJSON_Delete(doc);
}

}  // namespace
