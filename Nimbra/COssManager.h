// COssManager: the one implementation of IOssManager, a process-wide
// singleton without data members.
#ifndef NIMBRA_COSSMANAGER_H
#define NIMBRA_COSSMANAGER_H

#include <string>

#include "Nimbra/Nimbra.h"

class COssManager : public IOssManager {
public:
    static COssManager* GetInstance();

    void PauseDownload() override;
    void ContinueDownload() override;
    void Stop() override;

    bool InsertUserInfo(_ST_UserInfo info) override;
    long long GetUserUsedSize(const char* szUserName) override;
    bool GetUserUploadInfo(const char* szUserName, IOssCallback* pCallback) override;

    bool DeleteRemoteFile(const char* szUserName, const char* szObjectKey) override;
    bool ListRemotePath(const char* szPrefix, IOssCallback* pCallback, bool* pbStop) override;
    bool DownloadFile(const char* szObjectKey, const char* szLocalPath,
                      IOssCallback* pCallback) override;
    bool UploadFile(const char* szLocalPath, long long llFileSize, const char* szObjectKey,
                    IOssCallback* pCallback) override;

    // Fetches a fresh STS credential triple from the web API. bNetError is
    // only ever set to true; the caller starts it at false.
    bool GetStsKey(std::string& strAccessKeyId, std::string& strAccessKeySecret,
                   std::string& strSecurityToken, bool& bNetError);

    COssManager() {}
    ~COssManager() override {}

    COssManager(const COssManager&) = delete;
    COssManager& operator=(const COssManager&) = delete;
};

#endif  // NIMBRA_COSSMANAGER_H
