#include "Nimbra/WebApiJson.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "Nimbra/FixedField.h"
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

}  // namespace

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
    // The text members in their fixed order. A host field that lacks its
    // terminator is read only up to its width.
    const struct {
        const char* szName;
        const char* szField;
        size_t nSize;
    } texts[] = {{"name", info.szName, sizeof info.szName},
                 {"backup_name", info.szBackupName, sizeof info.szBackupName},
                 {"date_time", info.szDateTime, sizeof info.szDateTime},
                 {"file_path", info.szFilePath, sizeof info.szFilePath},
                 {"file_name", info.szFileName, sizeof info.szFileName}};
    CJsonDocument doc(cJSON_CreateObject());
    if (!doc) return std::string();
    cJSON* pObject = doc.get();
    for (const auto& text : texts) {
        const std::string strValue(text.szField, strnlen(text.szField, text.nSize));
        cJSON_AddItemToObject(pObject, text.szName, cJSON_CreateString(strValue.c_str()));
    }
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
