#include "Nimbra/WebApiJson.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "Nimbra/JsonDocument.h"

namespace {

const char* StringOrEmpty(const cJSON* pItem) {
    return cJSON_IsString(pItem) && pItem->valuestring ? pItem->valuestring : "";
}

// A JSON number as a 64-bit integer, truncated toward zero; values beyond
// the range saturate instead of overflowing.
long long NumberToInt64(const cJSON* pItem) {
    if (!cJSON_IsNumber(pItem)) return 0;
    double dValue = std::trunc(pItem->valuedouble);
    if (std::isnan(dValue)) return 0;
    if (dValue >= 9223372036854775807.0) return std::numeric_limits<long long>::max();
    if (dValue <= -9223372036854775808.0) return std::numeric_limits<long long>::min();
    return static_cast<long long>(dValue);
}

int NumberToInt32(const cJSON* pItem) {
    long long llValue = NumberToInt64(pItem);
    if (llValue > std::numeric_limits<int>::max()) return std::numeric_limits<int>::max();
    if (llValue < std::numeric_limits<int>::min()) return std::numeric_limits<int>::min();
    return static_cast<int>(llValue);
}

bool NameIs(const cJSON* pItem, const char* szName) {
    return pItem->string != nullptr && std::strcmp(pItem->string, szName) == 0;
}

// Members of the top-level object in document order; nothing for other kinds.
template <typename Visit>
void ForEachMember(const cJSON* pDoc, Visit visit) {
    if (!cJSON_IsObject(pDoc)) return;
    for (const cJSON* pItem = pDoc->child; pItem != nullptr; pItem = pItem->next) visit(pItem);
}

void CopyMember(const cJSON* pRecord, const char* szName, char* szField, size_t nFieldSize) {
    const cJSON* pItem = cJSON_GetObjectItem(pRecord, szName);
    if (cJSON_IsString(pItem) && pItem->valuestring)
        CopyToField(szField, nFieldSize, pItem->valuestring);
}

// Length of the longest prefix of szText (at most nMax bytes) that does not
// end inside a UTF-8 sequence.
size_t Utf8PrefixLength(const char* szText, size_t nMax) {
    size_t nLen = strnlen(szText, nMax + 1);
    if (nLen <= nMax) return nLen;
    size_t nCut = nMax;
    // Back up over continuation bytes to the start of the cut character.
    size_t nStart = nCut;
    while (nStart > 0 && (static_cast<unsigned char>(szText[nStart]) & 0xC0) == 0x80) --nStart;
    return nStart;
}

}  // namespace

void CopyToField(char* szField, size_t nFieldSize, const char* szText) {
    if (nFieldSize == 0) return;
    size_t nLen = Utf8PrefixLength(szText, nFieldSize - 1);
    std::memcpy(szField, szText, nLen);
    szField[nLen] = '\0';
}

bool ParseStsKeyJson(const std::string& strText, std::string& strAccessKeyId,
                     std::string& strAccessKeySecret, std::string& strSecurityToken) {
    CJsonDocument doc(cJSON_Parse(strText.c_str()));
    if (!doc) return false;
    ForEachMember(doc.get(), [&](const cJSON* pItem) {
        if (NameIs(pItem, "AccessKeyId")) {
            strAccessKeyId = StringOrEmpty(pItem);
        } else if (NameIs(pItem, "AccessKeySecret")) {
            strAccessKeySecret = StringOrEmpty(pItem);
        } else if (NameIs(pItem, "SecurityToken")) {
            strSecurityToken = StringOrEmpty(pItem);
        }
    });
    return true;
}

bool ParseUsedSizeJson(const std::string& strText, long long& llSize) {
    llSize = 0;
    CJsonDocument doc(cJSON_Parse(strText.c_str()));
    if (!doc) return false;
    if (cJSON_IsObject(doc.get())) {
        for (const cJSON* pItem = doc->child; pItem != nullptr; pItem = pItem->next) {
            if (NameIs(pItem, "size")) {
                llSize = NumberToInt64(pItem);
                break;
            }
        }
    }
    return true;
}

bool ParseUserPageJson(const std::string& strText, long long& llTotal,
                       const std::function<void(const _ST_UserInfo&)>& onRecord) {
    CJsonDocument doc(cJSON_Parse(strText.c_str()));
    if (!doc) return false;

    const cJSON* pData = nullptr;
    ForEachMember(doc.get(), [&](const cJSON* pItem) {
        if (NameIs(pItem, "total")) {
            llTotal = NumberToInt64(pItem);
        } else if (NameIs(pItem, "data")) {
            pData = pItem;
        }
    });
    if (!cJSON_IsArray(pData) || cJSON_GetArraySize(pData) < 1) return true;

    for (const cJSON* pRecord = pData->child; pRecord != nullptr; pRecord = pRecord->next) {
        if (!cJSON_IsObject(pRecord)) continue;
        const cJSON* pId = cJSON_GetObjectItem(pRecord, "id");
        if (pId == nullptr) continue;

        _ST_UserInfo info;
        std::memset(&info, 0, sizeof info);
        info.nId = NumberToInt32(pId);
        info.llFileSize = NumberToInt64(cJSON_GetObjectItem(pRecord, "file_size"));
        info.llExpireTime = NumberToInt64(cJSON_GetObjectItem(pRecord, "expire_time"));
        CopyMember(pRecord, "name", info.szName, sizeof info.szName);
        CopyMember(pRecord, "backup_name", info.szBackupName, sizeof info.szBackupName);
        CopyMember(pRecord, "date_time", info.szDateTime, sizeof info.szDateTime);
        CopyMember(pRecord, "file_path", info.szFilePath, sizeof info.szFilePath);
        CopyMember(pRecord, "file_name", info.szFileName, sizeof info.szFileName);
        if (onRecord) onRecord(info);
    }
    return true;
}

std::string BuildUserInfoJson(const _ST_UserInfo& info) {
    // A host field that lacks its terminator is read only up to its width.
    auto field = [](const char* szField, size_t nSize) {
        return std::string(szField, strnlen(szField, nSize));
    };
    CJsonDocument doc(cJSON_CreateObject());
    if (!doc) return std::string();
    cJSON* pObject = doc.get();
    cJSON_AddItemToObject(pObject, "name",
                          cJSON_CreateString(field(info.szName, sizeof info.szName).c_str()));
    cJSON_AddItemToObject(
        pObject, "backup_name",
        cJSON_CreateString(field(info.szBackupName, sizeof info.szBackupName).c_str()));
    cJSON_AddItemToObject(
        pObject, "date_time",
        cJSON_CreateString(field(info.szDateTime, sizeof info.szDateTime).c_str()));
    cJSON_AddItemToObject(
        pObject, "file_path",
        cJSON_CreateString(field(info.szFilePath, sizeof info.szFilePath).c_str()));
    cJSON_AddItemToObject(
        pObject, "file_name",
        cJSON_CreateString(field(info.szFileName, sizeof info.szFileName).c_str()));
    cJSON_AddItemToObject(pObject, "file_size",
                          cJSON_CreateNumber(static_cast<double>(info.llFileSize)));
    cJSON_AddItemToObject(pObject, "expire_time",
                          cJSON_CreateNumber(static_cast<double>(info.llExpireTime)));

    char* szText = cJSON_Print(pObject);
    if (szText == nullptr) return std::string();
    std::string strBody(szText);
    cJSON_free(szText);
    return strBody;
}
