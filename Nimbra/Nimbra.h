// Nimbra: public interface for host applications.
//
// A host loads libNimbra, calls InitOssManager once or more, and drives
// backups through the returned IOssManager. Every operation is synchronous
// on the calling thread; progress, listing pages and records arrive through
// the host's IOssCallback from inside the call.
//
// This header is self-contained (standard headers only). The layout of the
// records and the order of the virtual operations are part of the binary
// interface: never reorder them.
#ifndef NIMBRA_NIMBRA_H
#define NIMBRA_NIMBRA_H

#include <ctime>

#if defined(_WIN32)
#define NIMBRA_API __declspec(dllexport)
#else
#define NIMBRA_API __attribute__((visibility("default")))
#endif

// One backup record, as registered with and listed by the web API.
// Text fields are NUL-terminated and never longer than their width.
struct _ST_UserInfo {
    int nId;                  // "id", assigned by the service; never sent
    char szName[255];         // "name": the user's name
    char szBackupName[100];   // "backup_name"
    char szDateTime[100];     // "date_time", as text
    char szFilePath[256];     // "file_path"
    char szFileName[100];     // "file_name"
    long long llFileSize;     // "file_size", bytes
    long long llExpireTime;   // "expire_time", passed through
};

// One entry of a listing page, relative to the listed prefix.
struct _ST_RemotePathInfo {
    bool bIsDir;              // folder entry
    long long llFileSize;     // object size; 0 for a folder
    time_t tLastModified;     // last-modified, local time; 0 for a folder
    char szPathName[255];     // relative name, folders without trailing "/"
};

// Implemented by the host. Only OnProgress is ever called.
//
// nResult: 0 progress, data, or ended without failure; 1 failed for a
// network reason; -1 failed otherwise. nPercent 100 marks the last
// notification of an operation. pData is valid during the call only:
//   std::vector<_ST_RemotePathInfo>*  a listing page   (0, 0)
//   _ST_UserInfo*                     a backup record  (0, 0)
//   null                              everything else
class IOssCallback {
public:
    virtual void OnProgress(int nResult, int nPercent, void* pData) = 0;

protected:
    ~IOssCallback() = default;
};

// The process-wide manager. Obtained from InitOssManager; never deleted by
// the host.
class IOssManager {
public:
    // Control flags for the running (or else the next) upload or download.
    // Safe to call from any thread.
    virtual void PauseDownload() = 0;
    virtual void ContinueDownload() = 0;
    virtual void Stop() = 0;

    // Backup records at the web API.
    virtual bool InsertUserInfo(_ST_UserInfo info) = 0;
    virtual long long GetUserUsedSize(const char* szUserName) = 0;
    virtual bool GetUserUploadInfo(const char* szUserName, IOssCallback* pCallback) = 0;

    // Store operations; each fetches fresh credentials first.
    virtual bool DeleteRemoteFile(const char* szUserName, const char* szObjectKey) = 0;
    virtual bool ListRemotePath(const char* szPrefix, IOssCallback* pCallback, bool* pbStop) = 0;
    virtual bool DownloadFile(const char* szObjectKey, const char* szLocalPath,
                              IOssCallback* pCallback) = 0;
    virtual bool UploadFile(const char* szLocalPath, long long llFileSize,
                            const char* szObjectKey, IOssCallback* pCallback) = 0;

    virtual ~IOssManager() {}
};

// Stores the manager singleton in *ppManager; a null ppManager does nothing.
extern "C" NIMBRA_API void InitOssManager(IOssManager** ppManager);

#endif  // NIMBRA_NIMBRA_H
