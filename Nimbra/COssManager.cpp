#include "Nimbra/COssManager.h"

#include "Nimbra/ControlFlags.h"
#include "Nimbra/NimbraConfig.h"

// Deployment constants of this module (OssOperate keeps its own copy of the
// server URL with the same value).
static const std::string g_strServerUrl = NIMBRA_SERVER_URL;
const std::string g_strEndPoint = NIMBRA_ENDPOINT;
const std::string g_strBucketName = NIMBRA_BUCKET;

COssManager* COssManager::GetInstance() {
    // Constructed on first use; C++11 makes concurrent first calls safe.
    static COssManager s_manager;
    return &s_manager;
}

void COssManager::PauseDownload() { gbIsNeedPause.store(true, std::memory_order_relaxed); }

void COssManager::ContinueDownload() { gbIsNeedPause.store(false, std::memory_order_relaxed); }

void COssManager::Stop() { gbIsNeedStopEx.store(true, std::memory_order_relaxed); }

bool COssManager::InsertUserInfo(_ST_UserInfo /*info*/) { return false; }

long long COssManager::GetUserUsedSize(const char* /*szUserName*/) { return 0; }

bool COssManager::GetUserUploadInfo(const char* /*szUserName*/, IOssCallback* /*pCallback*/) {
    return false;
}

bool COssManager::DeleteRemoteFile(const char* /*szUserName*/, const char* /*szObjectKey*/) {
    return false;
}

bool COssManager::ListRemotePath(const char* /*szPrefix*/, IOssCallback* /*pCallback*/,
                                 bool* /*pbStop*/) {
    return false;
}

bool COssManager::DownloadFile(const char* /*szObjectKey*/, const char* /*szLocalPath*/,
                               IOssCallback* /*pCallback*/) {
    return false;
}

bool COssManager::UploadFile(const char* /*szLocalPath*/, long long /*llFileSize*/,
                             const char* /*szObjectKey*/, IOssCallback* /*pCallback*/) {
    return false;
}

bool COssManager::GetStsKey(std::string& /*strAccessKeyId*/, std::string& /*strAccessKeySecret*/,
                            std::string& /*strSecurityToken*/, bool& /*bNetError*/) {
    return false;
}
