#include "Nimbra/COssManager.h"

#include "Contracts/LogHandler.h"
#include "Nimbra/ControlFlags.h"
#include "Nimbra/LogTexts.h"
#include "Nimbra/NimbraConfig.h"
#include "Nimbra/OssOperate.h"
#include "Nimbra/StsClient.h"
#include "Nimbra/WebApiJson.h"
#include "Nimbra/WebRequest.h"

// Deployment constants of this module (OssOperate keeps its own copy of the
// server URL with the same value).
static const std::string g_strServerUrl = NIMBRA_SERVER_URL;
// Every web API request is verified against it when it is set.
static const std::string g_strWebApiCaFile = NIMBRA_WEBAPI_CA_FILE;
const std::string g_strEndPoint = NIMBRA_ENDPOINT;
const std::string g_strBucketName = NIMBRA_BUCKET;

#define MANAGER_LOG(szFunction, ...) \
    LogHandlerA(szFunction, "Nimbra/COssManager", __LINE__, 1, __VA_ARGS__)

namespace {

const char* const kJsonHeader = "Content-Type: application/json";
const long long kRecordsPerPage = 50;
// No service sends page after page without a record while its total asks for
// more; past this many in a row the paging is given up as endless.
const int kMaxEmptyPages = 100;

}  // namespace

COssManager* COssManager::GetInstance() {
    // Constructed on first use; C++11 makes concurrent first calls safe.
    static COssManager s_manager;
    return &s_manager;
}

void COssManager::PauseDownload() {
    gbIsNeedPause.store(true, std::memory_order_relaxed);
}

void COssManager::ContinueDownload() {
    gbIsNeedPause.store(false, std::memory_order_relaxed);
}

void COssManager::Stop() {
    gbIsNeedStopEx.store(true, std::memory_order_relaxed);
}

bool COssManager::GetStsKey(std::string& strAccessKeyId, std::string& strAccessKeySecret,
                            std::string& strSecurityToken, bool& bNetError) {
    const EStsFetch eFetch = FetchStsKey(g_strServerUrl, g_strWebApiCaFile, strAccessKeyId,
                                         strAccessKeySecret, strSecurityToken);
    if (eFetch == EStsFetch::NetworkFailed) bNetError = true;
    if (StsRequestFailed(eFetch)) MANAGER_LOG("GetStsKey", kLogStsKeyFailed);
    return eFetch == EStsFetch::Received;
}

bool COssManager::InsertUserInfo(_ST_UserInfo info) {
    CWebRequest request(g_strWebApiCaFile);
    request.AddHeader(kJsonHeader);
    // The body must outlive the transfer: the request does not copy it.
    const std::string strBody = BuildUserInfoJson(info);
    bool bResult = request.DoPost(g_strServerUrl + "/uploadUserInfo", strBody);
    if (bResult) {
        MANAGER_LOG("InsertUserInfo", kLogInsertSucceeded);
    } else {
        MANAGER_LOG("InsertUserInfo", kLogInsertFailed);
    }
    return bResult;
}

long long COssManager::GetUserUsedSize(const char* szUserName) {
    if (szUserName == nullptr) return 0;
    CWebRequest request(g_strWebApiCaFile);
    request.AddHeader(g_szFormHeader);
    if (!request.DoGet(g_strServerUrl + "/getUserSpace?name=" + szUserName)) {
        MANAGER_LOG("GetUserUsedSize", kLogUsedSpaceFailed);
        return 0;
    }
    long long llSize = 0;
    if (!ParseUsedSizeJson(request.GetResultText(), llSize)) return 0;
    return llSize;
}

bool COssManager::GetUserUploadInfo(const char* szUserName, IOssCallback* pCallback) {
    if (szUserName == nullptr) return false;

    // The total of the latest page that carried one decides whether another
    // page is fetched.
    long long llTotal = 0;
    int nEmptyPages = 0;
    for (long long llPage = 1;; ++llPage) {
        CWebRequest request(g_strWebApiCaFile);
        request.AddHeader(g_szFormHeader);
        std::string strUrl = g_strServerUrl + "/getUser?name=" + szUserName + "&per_page=50" +
                             "&page=" + std::to_string(llPage);
        if (!request.DoGet(strUrl)) {
            MANAGER_LOG("GetUserUploadInfo", kLogRecordsFailed);
            return false;
        }
        int nRecords = 0;
        bool bParsed = ParseUserPageJson(request.GetResultText(), llTotal,
                                         [pCallback, &nRecords](const _ST_UserInfo& info) {
                                             ++nRecords;
                                             if (pCallback == nullptr) return;
                                             _ST_UserInfo record = info;
                                             pCallback->OnProgress(0, 0, &record);
                                         });
        if (!bParsed) return false;
        if (llTotal < llPage * kRecordsPerPage) return true;
        nEmptyPages = nRecords > 0 ? 0 : nEmptyPages + 1;
        if (nEmptyPages == kMaxEmptyPages) {
            MANAGER_LOG("GetUserUploadInfo", "%d pages in a row without a record, total %lld",
                        kMaxEmptyPages, llTotal);
            return false;
        }
    }
}

namespace {

// Fetches credentials for a store operation. On a network failure the host
// hears (1, 100) when it gave a callback; any failure returns false.
bool FetchCredentials(COssManager& manager, _ST_StsKey& creds, IOssCallback* pCallback) {
    bool bNetError = false;
    if (manager.GetStsKey(creds.strAccessKeyId, creds.strAccessKeySecret, creds.strSecurityToken,
                          bNetError)) {
        return true;
    }
    if (bNetError && pCallback != nullptr) pCallback->OnProgress(1, 100, nullptr);
    return false;
}

}  // namespace

bool COssManager::UploadFile(const char* szLocalPath, long long llFileSize, const char* szObjectKey,
                             IOssCallback* pCallback) {
    if (szLocalPath == nullptr || szObjectKey == nullptr) return false;
    _ST_StsKey creds;
    if (!FetchCredentials(*this, creds, pCallback)) return false;
    return MultiUploadFile(g_strEndPoint.c_str(), creds.strAccessKeyId.c_str(),
                           creds.strAccessKeySecret.c_str(), g_strBucketName.c_str(),
                           creds.strSecurityToken.c_str(), szObjectKey, szLocalPath, llFileSize,
                           pCallback);
}

bool COssManager::DownloadFile(const char* szObjectKey, const char* szLocalPath,
                               IOssCallback* pCallback) {
    if (szLocalPath == nullptr || szObjectKey == nullptr) return false;
    _ST_StsKey creds;
    if (!FetchCredentials(*this, creds, pCallback)) return false;
    return ::DownloadFile(g_strEndPoint.c_str(), creds.strAccessKeyId.c_str(),
                          creds.strAccessKeySecret.c_str(), g_strBucketName.c_str(),
                          creds.strSecurityToken.c_str(), szObjectKey, szLocalPath, pCallback);
}

bool COssManager::ListRemotePath(const char* szPrefix, IOssCallback* pCallback, bool* pbStop) {
    if (szPrefix == nullptr || pCallback == nullptr) return false;
    _ST_StsKey creds;
    if (!FetchCredentials(*this, creds, pCallback)) return false;
    return ListObject(g_strEndPoint.c_str(), creds.strAccessKeyId.c_str(),
                      creds.strAccessKeySecret.c_str(), g_strBucketName.c_str(),
                      creds.strSecurityToken.c_str(), szPrefix, pCallback, pbStop);
}

bool COssManager::DeleteRemoteFile(const char* szUserName, const char* szObjectKey) {
    if (szObjectKey == nullptr) return false;
    _ST_StsKey creds;
    if (!FetchCredentials(*this, creds, nullptr)) return false;
    if (!DeleteObject(g_strEndPoint.c_str(), creds.strAccessKeyId.c_str(),
                      creds.strAccessKeySecret.c_str(), g_strBucketName.c_str(),
                      creds.strSecurityToken.c_str(), szObjectKey)) {
        return false;
    }
    if (szUserName == nullptr) return true;

    // The records go with the object; their deletion does not change the result.
    CWebRequest request(g_strWebApiCaFile);
    request.AddHeader(g_szFormHeader);
    if (!request.DoGet(g_strServerUrl + "/deleteUser?name=" + szUserName)) {
        MANAGER_LOG("DeleteRemoteFile", kLogDeleteRecordsFailed, szUserName);
    }
    return true;
}
