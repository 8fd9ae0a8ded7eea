// Nimbra: public interface for host applications.
//
// A host loads libNimbra, calls InitOssManager once or more, and drives
// backups through the returned IOssManager. The layout of the records and the
// order of the virtual operations are part of the binary interface: never
// reorder them. This header includes everything its types need.
//
// Threads. Every operation runs on the thread that calls it and returns when
// its work is done; the library starts no thread and keeps nothing between
// calls. Notifications reach the host's IOssCallback on that same thread,
// from inside the call. Only PauseDownload, ContinueDownload and Stop are
// meant to be called from another thread. Store operations (upload, download,
// listing, deletion) set up and release process-wide transport state, so the
// host runs them one at a time.
//
// Notifications. OnProgress(nResult, nPercent, pData): nResult 0 means
// progress, data, or ended without failure; 1 failed for a network reason; -1
// failed otherwise. A notification with nPercent 100 is the last one of an
// upload, download or listing, and each of them that reaches the store ends
// with exactly one. Early exits of the manager itself send none and only
// return false: a null argument, and a credentials request that failed for a
// reason other than the network (the web API answered an error, or not JSON).
// A credentials request that failed for a network reason sends (1, 100).
//
// Credentials. Each store operation first fetches short-lived credentials
// from the web API (GET /getStsKey). Uploads fetch new ones by themselves when
// the token expires between parts; downloads do not, so a download that
// outlives its token fails (the host starts it again).
//
// The web API's TLS certificate is not verified unless the library was built
// with NIMBRA_WEBAPI_CA_FILE (see the README's "Deploying").
#ifndef NIMBRA_NIMBRA_H
#define NIMBRA_NIMBRA_H

#include <ctime>
#include <vector>

#if defined(_WIN32)
#define NIMBRA_API __declspec(dllexport)
#else
#define NIMBRA_API __attribute__((visibility("default")))
#endif

// One backup record, as registered with and listed by the web API.
// Text fields are NUL-terminated; longer texts from the service are cut to
// their width (at a UTF-8 character boundary).
struct _ST_UserInfo {
    int nId;                 // "id", assigned by the service; never sent
    char szName[255];        // "name": the user's name
    char szBackupName[100];  // "backup_name"
    char szDateTime[100];    // "date_time", as text
    char szFilePath[256];    // "file_path"
    char szFileName[100];    // "file_name"
    long long llFileSize;    // "file_size", bytes
    long long llExpireTime;  // "expire_time", passed through
};

// One entry of a listing page, relative to the listed prefix.
struct _ST_RemotePathInfo {
    bool bIsDir;           // folder entry
    long long llFileSize;  // object size; 0 for a folder
    time_t tLastModified;  // last-modified, local time; 0 for a folder
    char szPathName[255];  // relative name, folders without trailing "/"
};

// Implemented by the host. Only OnProgress is ever called. pData is valid
// during that one call only; copy what you keep:
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
    // Control flags shared by every upload and download of the process; any
    // thread may set them, and they return at once. A transfer looks at them
    // before each 1 MiB range or 10 MiB part and once a second while paused.
    //
    // PauseDownload holds the running (or else the next) upload or download
    // before its next range or part; ContinueDownload lets it go on.
    virtual void PauseDownload() = 0;
    virtual void ContinueDownload() = 0;
    // Stop ends the running upload or download at its next look. A range or
    // part under way always finishes first (it is written or stored, and
    // reported): on a slow link that takes a while (a 10 MiB part at 1 Mbit/s
    // takes about 80 s), and a host that must end sooner ends its own process
    // or thread of work. A Stop during the last range or part lets the
    // transfer complete as usual, (0, 100) and true, and stays pending. Trap:
    // the flag stays set until a transfer ends on it, and no call clears it,
    // so a pending Stop (one made when nothing runs, a Cancel landing just
    // after a transfer ended, or one during the last range or part) stops the
    // next upload or download at its start. Call it only while a transfer of
    // yours runs. Listings and web API calls ignore it.
    virtual void Stop() = 0;

    // Backup records at the web API. User names are appended to the query
    // string as given, not percent-encoded: a name holding &, =, #, %, + or a
    // space changes the request (DeleteRemoteFile("ann&x=1", ...) deletes
    // ann's records). Encode names, or refuse such names, before passing them.
    //
    // InsertUserInfo posts the record (POST /uploadUserInfo; nId is not sent);
    // true when the service accepted it. No notification.
    virtual bool InsertUserInfo(_ST_UserInfo info) = 0;
    // The space the service reports for the user, in its unit; 0 for every
    // failure as well as for an empty account.
    virtual long long GetUserUsedSize(const char* szUserName) = 0;
    // Pages through the user's records, 50 a request, and hands each one to
    // the callback as OnProgress(0, 0, _ST_UserInfo*); pCallback may be null.
    // No final notification: true when every page was fetched and read, false
    // on the first failed page (records of earlier pages were delivered), and
    // false after 100 pages in a row without a record (a service that pages
    // forever).
    virtual bool GetUserUploadInfo(const char* szUserName, IOssCallback* pCallback) = 0;

    // Store operations; each fetches fresh credentials first (see above).
    //
    // Deletes the object, then, when szUserName is given, ALL records of that
    // user at the web API. False when the object was not deleted (records
    // untouched); true once it was, even if deleting the records failed.
    virtual bool DeleteRemoteFile(const char* szUserName, const char* szObjectKey) = 0;
    // Lists one level below szPrefix, 500 keys a request: each page arrives as
    // OnProgress(0, 0, std::vector<_ST_RemotePathInfo>*), files first, then
    // folders; the end as (0, 100) or a failure as (1 or -1, 100). "/" lists
    // the top level. Give folders with their trailing "/": "photos" lists the
    // keys beginning with "photos" (so "photos.txt" arrives as ".txt") and no
    // folder. Set *pbStop (any thread, or from the callback) to end it: the
    // page in progress is not delivered, and the result is (0, 100) and true.
    // pbStop may be null; pCallback may not. True when it ran to its end or
    // was stopped.
    virtual bool ListRemotePath(const char* szPrefix, IOssCallback* pCallback, bool* pbStop) = 0;
    // Downloads the object to szLocalPath in 1 MiB ranges: (0, 0..95) after
    // each range, then (0, 100) and true; a failure ends with (1 or -1, 100)
    // and false. A Stop also ends it with (0, 100) and TRUE: the host
    // remembers that it asked, to tell a stopped download from a whole one.
    // Traps: the local file is created (an existing one truncated) before the
    // first range and before the first look at the flags, so even a stopped
    // or failed download has replaced an existing file with a partial one;
    // download to a temporary name and rename it when the call succeeds.
    // pCallback may be null.
    virtual bool DownloadFile(const char* szObjectKey, const char* szLocalPath,
                              IOssCallback* pCallback) = 0;
    // Uploads llFileSize bytes of szLocalPath as a multipart upload in 10 MiB
    // parts, at most 10,000 of them (a larger size ends with (-1, 100) before
    // any request to the store): (0, 20) once started, (0, 20..90) after each
    // part, (0, 95) before completion, then (0, 100) and true; a failure ends
    // with (1 or -1, 100) and false, and so does a Stop, with (0, 100). The
    // size is trusted, not measured: pass the file's real size (a 45 MiB file
    // uploaded with size 5 stores its first 5 bytes). An upload that ends
    // early is not resumed later. pCallback may be null.
    virtual bool UploadFile(const char* szLocalPath, long long llFileSize, const char* szObjectKey,
                            IOssCallback* pCallback) = 0;

    virtual ~IOssManager() {}
};

// Stores the manager singleton in *ppManager; a null ppManager does nothing.
// Every call hands out the same object.
extern "C" NIMBRA_API void InitOssManager(IOssManager** ppManager);

#endif  // NIMBRA_NIMBRA_H
