// Multipart upload in 10 MiB parts with progress, pause/stop between parts,
// and a credential refresh from the web API when the security token expires
// part-way; then the part listing (continued page by page) and completion.
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

#include "Nimbra/ControlFlags.h"
#include "Nimbra/LogTexts.h"
#include "Nimbra/NimbraConfig.h"
#include "Nimbra/OssContext.h"
#include "Nimbra/OssLimits.h"
#include "Nimbra/OssOperate.h"
#include "Nimbra/OssOutcome.h"
#include "Nimbra/StsClient.h"

// Base URL of the web API, for the credential refresh, and its CA file.
static const std::string g_strServerUrl = NIMBRA_SERVER_URL;
static const std::string g_strWebApiCaFile = NIMBRA_WEBAPI_CA_FILE;

namespace {

const long long kPartSize = kOssPartSize;
static_assert(kOssMaxParts == OSS_MAX_PART_NUM, "the store layer numbers parts as the store does");
const int kListParts = 1000;
const char kExpiredText[] = "you provided has expired";

// What the steps of one upload share besides its session. The configuration
// points at the refreshed credentials once the token has expired, so they
// live as long.
struct _ST_Upload {
    _ST_OssObject target;
    aos_string_t uploadId;  // set by the initiation
    _ST_StsKey refreshed;   // empty until the first refresh
};

// Fetches fresh credentials after the token expired. Members missing from
// the answer keep their current value. False when the request fails
// (logged) or the answer is not JSON.
bool RefreshStsKey(_ST_StsKey& key) {
    const EStsFetch eFetch = FetchStsKey(g_strServerUrl, g_strWebApiCaFile, key.strAccessKeyId,
                                         key.strAccessKeySecret, key.strSecurityToken);
    if (StsRequestFailed(eFetch)) OSS_LOG("GetStsKey", kLogStsKeyFailed);
    return eFetch == EStsFetch::Received;
}

// One request of the upload: goes on when it succeeded; otherwise logs the
// store's message with szFailFormat (the step's own format, one %s) and ends
// the upload with the transfer map's result for its status.
__attribute__((format(printf, 2, 0))) _ST_OssOutcome UploadStep(const aos_status_t* pStatus,
                                                                const char* szFailFormat) {
    if (StatusOk(pStatus)) return OssGoOn();
    OSS_LOG("MultiUploadFile", szFailFormat, StatusMessage(pStatus));
    return OssFailed(TransferResultOf(StatusCode(pStatus)));
}

int PercentAfterPart(long long llPartEnd, long long llFileSize) {
    return static_cast<int>(
        static_cast<double>(llPartEnd) / static_cast<double>(llFileSize) * 70.0 + 20.0);
}

// The bytes the listed parts hold together; false when a part's size is
// not given (nothing to check then).
bool ListedBytes(const oss_list_upload_part_params_t* pParts, long long& llTotal) {
    llTotal = 0;
    oss_list_part_content_t* pPart;
    aos_list_for_each_entry(oss_list_part_content_t, pPart, &pParts->part_list, node) {
        if (pPart->size.len <= 0 || pPart->size.data == nullptr) return false;
        const long long llPart =
            atoll(std::string(pPart->size.data, static_cast<size_t>(pPart->size.len)).c_str());
        if (llPart < 0 || llPart > LLONG_MAX - llTotal) {
            llTotal = -1;  // no file has that size
            return true;
        }
        llTotal += llPart;
    }
    return true;
}

// Sends part nPart, bytes llOffset up to llEnd (exclusive) of the file,
// polling pause and stop before every attempt. When the token has expired
// it fetches fresh credentials and sends the part again.
_ST_OssOutcome SendPart(COssSession& session, _ST_Upload& upload, const char* szEndPoint,
                        const char* szLocalPath, int nPart, long long llOffset, long long llEnd) {
    for (;;) {
        if (CheckPauseAndStop()) {
            ConsumeStop();
            return OssStopped(false);
        }
        // The part's request and answer go with its own pool.
        COssChildPool part(session);
        if (!part.IsValid()) return OssFailed(-1);
        oss_upload_file_t* pFile = oss_create_upload_file(part.Pool());
        aos_str_set(&pFile->filename, szLocalPath);
        pFile->file_pos = llOffset;
        pFile->file_last = llEnd;
        aos_table_t* pPartHeaders = nullptr;
        aos_status_t* pStatus =
            oss_upload_part_from_file(part.Options(), &upload.target.bucket, &upload.target.key,
                                      &upload.uploadId, nPart, pFile, &pPartHeaders);
        if (StatusOk(pStatus)) return OssGoOn();
        if (*StatusErrorCode(pStatus))
            OSS_LOG("MultiUploadFile", kLogStoreErrorCode, StatusErrorCode(pStatus));
        if (!strstr(StatusMessage(pStatus), kExpiredText)) {
            OSS_LOG("MultiUploadFile", kLogPartFailed, llOffset + kPartSize, StatusMessage(pStatus),
                    StatusCode(pStatus));
            return OssFailed(TransferResultOf(StatusCode(pStatus)));
        }
        OSS_LOG("MultiUploadFile", kLogTokenExpired);
        _ST_StsKey& key = upload.refreshed;
        if (!RefreshStsKey(key)) return OssFailed(-1);
        session.SetCredentials(szEndPoint, key.strAccessKeyId.c_str(),
                               key.strAccessKeySecret.c_str(), key.strSecurityToken.c_str());
    }
}

// The listing's part-number marker as a number; 0 when empty. The layer
// holds it to NUL-terminated decimal digits up to 10,000.
int PartMarker(const aos_string_t& marker) {
    return marker.data ? atoi(marker.data) : 0;
}

// Parts appended to the listing after pAfter (its last node before a page).
int PartsAfter(const aos_list_t* pList, const aos_list_t* pAfter) {
    int nParts = 0;
    for (const aos_list_t* pNode = pAfter->next; pNode != pList; pNode = pNode->next) ++nParts;
    return nParts;
}

// Lists every uploaded part, continuing from the next-part marker while the
// store says the listing is truncated. The parts stay in the session's pool.
// Part numbers end at 10,000, so a marker that does not increase, or more
// parts than that, mean a broken or hostile store whose listing would never
// end or never fit: the upload fails.
_ST_OssOutcome ListParts(COssSession& session, _ST_Upload& upload,
                         oss_list_upload_part_params_t*& pParams) {
    pParams = oss_create_list_upload_part_params(session.Pool());
    pParams->max_ret = kListParts;
    int nListed = 0;
    for (;;) {
        const aos_list_t* pLast = pParams->part_list.prev;
        const _ST_OssOutcome listed = UploadStep(
            oss_list_upload_part(session.Options(), &upload.target.bucket, &upload.target.key,
                                 &upload.uploadId, pParams, session.RespHeaders()),
            kLogListPartsFailed);
        if (listed.bEnded) return listed;
        nListed += PartsAfter(&pParams->part_list, pLast);
        const char* szBroken = nullptr;
        if (nListed > OSS_MAX_PART_NUM) {
            szBroken = "the part listing holds more than 10000 parts";
        } else if (pParams->truncated == 1 && PartMarker(pParams->next_part_number_marker) <=
                                                  PartMarker(pParams->part_number_marker)) {
            szBroken = "the part listing does not advance";
        }
        if (szBroken) {
            OSS_LOG("MultiUploadFile", kLogListPartsFailed, szBroken);
            return OssFailed(-1);
        }
        if (pParams->truncated != 1) return listed;
        pParams->part_number_marker = pParams->next_part_number_marker;
    }
}

_ST_OssOutcome MultiUpload(const char* szEndPoint, const char* szAccessKeyId,
                           const char* szAccessKeySecret, const char* szBucketName,
                           const char* szSecurityToken, const char* szObjectKey,
                           const char* szLocalPath, long long llFileSize, IOssCallback* pCallback) {
    // The store numbers parts 1 to 10,000; a larger file could never complete.
    // (Rounded up without adding first, which would overflow near the limit.)
    const long long llParts =
        llFileSize > 0 ? llFileSize / kPartSize + (llFileSize % kPartSize != 0) : 0;
    if (llParts > kOssMaxParts) {
        OSS_LOG("MultiUploadFile", "file size %lld needs %lld parts, more than %d", llFileSize,
                llParts, kOssMaxParts);
        return OssFailed(-1);
    }

    COssSession session(szEndPoint, szAccessKeyId, szAccessKeySecret, szSecurityToken);
    if (!session.IsOpen()) {
        if (!session.IsInitialised()) OSS_LOG("MultiUploadFile", "aos_http_io_initialize fail!");
        return OssFailed(-1);
    }
    _ST_Upload upload = {OssObject(szBucketName, szObjectKey), aos_null_string, {}};
    aos_table_t* pInitHeaders = apr_table_make(session.Pool(), 1);
    aos_table_t* pCompleteHeaders = apr_table_make(session.Pool(), 1);

    const _ST_OssOutcome initiated = UploadStep(
        oss_init_multipart_upload(session.Options(), &upload.target.bucket, &upload.target.key,
                                  &upload.uploadId, pInitHeaders, session.RespHeaders()),
        kLogInitFailed);
    if (initiated.bEnded) return initiated;
    OSS_LOG("MultiUploadFile", kLogInitSucceeded, upload.uploadId.len, upload.uploadId.data);
    Report(pCallback, 0, 20);

    int nPart = 1;
    for (long long llOffset = 0; llOffset < llFileSize; llOffset += kPartSize, ++nPart) {
        const long long llEnd =
            llOffset + kPartSize < llFileSize ? llOffset + kPartSize : llFileSize;
        const _ST_OssOutcome sent =
            SendPart(session, upload, szEndPoint, szLocalPath, nPart, llOffset, llEnd);
        if (sent.bEnded) return sent;
        Report(pCallback, 0, PercentAfterPart(llEnd, llFileSize));
    }

    oss_list_upload_part_params_t* pParts = nullptr;
    const _ST_OssOutcome listed = ListParts(session, upload, pParts);
    if (listed.bEnded) return listed;
    // The parts are sent from the file as it is when each is read, so a file
    // that shrank during the upload leaves short parts: completing them would
    // store fewer bytes than the size given, reported as a success.
    long long llListed = 0;
    if (ListedBytes(pParts, llListed) && llListed != (llFileSize > 0 ? llFileSize : 0)) {
        OSS_LOG("MultiUploadFile", "uploaded parts hold %lld bytes, the file size is %lld",
                llListed, llFileSize);
        return OssFailed(-1);
    }

    aos_list_t completeList;
    aos_list_init(&completeList);
    oss_list_part_content_t* pPart;
    aos_list_for_each_entry(oss_list_part_content_t, pPart, &pParts->part_list, node) {
        oss_complete_part_content_t* pEntry = oss_create_complete_part_content(session.Pool());
        pEntry->part_number = pPart->part_number;
        pEntry->etag = pPart->etag;
        aos_list_add_tail(&pEntry->node, &completeList);
    }
    Report(pCallback, 0, 95);

    const _ST_OssOutcome completed =
        UploadStep(oss_complete_multipart_upload(
                       session.Options(), &upload.target.bucket, &upload.target.key,
                       &upload.uploadId, &completeList, pCompleteHeaders, session.RespHeaders()),
                   kLogCompleteFailed);
    if (completed.bEnded) return completed;
    OSS_LOG("MultiUploadFile", kLogCompleteSucceeded, upload.uploadId.len, upload.uploadId.data,
            szLocalPath ? szLocalPath : "");
    return OssDone();
}

}  // namespace

bool MultiUploadFile(const char* szEndPoint, const char* szAccessKeyId,
                     const char* szAccessKeySecret, const char* szBucketName,
                     const char* szSecurityToken, const char* szObjectKey, const char* szLocalPath,
                     long long llFileSize, IOssCallback* pCallback) {
    return Finish(pCallback,
                  MultiUpload(szEndPoint, szAccessKeyId, szAccessKeySecret, szBucketName,
                              szSecurityToken, szObjectKey, szLocalPath, llFileSize, pCallback));
}
