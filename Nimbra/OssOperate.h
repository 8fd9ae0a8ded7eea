// Object-store operations. Each one initialises the store layer, builds one
// request context from the endpoint and the short-lived credentials it is
// given, runs its requests, tears everything down and returns. Strings are
// the caller's and must stay valid for the call; the security token may be
// null (requests are then signed with the key pair alone).
#ifndef NIMBRA_OSSOPERATE_H
#define NIMBRA_OSSOPERATE_H

#include "Nimbra/Nimbra.h"

// Polled before every range or part: true when the transfer is to stop.
// While paused it sleeps in one-second steps. Changes no flag itself.
bool CheckPauseAndStop();

// Callback result for a failed store status: the download map serves
// DownloadFile, the transfer map serves ListObject and MultiUploadFile.
// 1 is a network failure, -1 any other.
int DownloadResultOf(int nStatusCode);
int TransferResultOf(int nStatusCode);

bool CreateBucket(const char* szEndPoint, const char* szAccessKeyId, const char* szAccessKeySecret,
                  const char* szSecurityToken, const char* szBucketName);

// One request: the whole file in a single PUT.
bool UploadFile(const char* szEndPoint, const char* szAccessKeyId, const char* szAccessKeySecret,
                const char* szBucketName, const char* szSecurityToken, const char* szObjectKey,
                const char* szLocalPath);

// Moves an object: copy, then delete the source.
bool CopyObject(const char* szEndPoint, const char* szAccessKeyId, const char* szAccessKeySecret,
                const char* szSecurityToken, const char* szSrcBucketName,
                const char* szDestBucketName, const char* szSrcObjectKey,
                const char* szDestObjectKey);

bool DeleteObject(const char* szEndPoint, const char* szAccessKeyId, const char* szAccessKeySecret,
                  const char* szBucketName, const char* szSecurityToken, const char* szObjectKey);

// Ranged download in 1 MiB chunks; true when complete (and matching the
// object's CRC-64 when the store gives one) or stopped.
bool DownloadFile(const char* szEndPoint, const char* szAccessKeyId, const char* szAccessKeySecret,
                  const char* szBucketName, const char* szSecurityToken, const char* szObjectKey,
                  const char* szLocalPath, IOssCallback* pCallback);

// One level below szPrefix, 500 keys a page; true when it ran to its end
// or *pbStop ended it.
bool ListObject(const char* szEndPoint, const char* szAccessKeyId, const char* szAccessKeySecret,
                const char* szBucketName, const char* szSecurityToken, const char* szPrefix,
                IOssCallback* pCallback, bool* pbStop);

// Multipart upload in 10 MiB parts, refreshing an expired token itself;
// true when the upload was completed on the store.
bool MultiUploadFile(const char* szEndPoint, const char* szAccessKeyId,
                     const char* szAccessKeySecret, const char* szBucketName,
                     const char* szSecurityToken, const char* szObjectKey, const char* szLocalPath,
                     long long llFileSize, IOssCallback* pCallback);

#endif  // NIMBRA_OSSOPERATE_H
