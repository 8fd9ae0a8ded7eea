// Multipart upload in 10 MiB parts with progress, pause/stop between parts,
// and a credential refresh from the web API when the security token expires
// part-way; then the part listing (continued page by page) and completion.
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

#include "Nimbra/ControlFlags.h"
#include "Nimbra/NimbraConfig.h"
#include "Nimbra/OssContext.h"
#include "Nimbra/OssOperate.h"
#include "Nimbra/WebApiJson.h"
#include "Nimbra/WebRequest.h"

// Base URL of the web API, for the credential refresh.
static const std::string g_strServerUrl = NIMBRA_SERVER_URL;

namespace {

const long long kPartSize = 10485760;
const int kListParts = 1000;
const char kExpiredText[] = "you provided has expired";

// Credentials fetched during the upload; the configuration points at them.
struct _ST_StsKey {
    std::string strAccessKeyId;
    std::string strAccessKeySecret;
    std::string strSecurityToken;
};

// Fetches a fresh credential triple from the web API. Members missing from
// the answer keep their current value. False when the request fails or the
// answer is not JSON.
bool GetStsKey(_ST_StsKey& key) {
    CWebRequest request;
    request.AddHeader("Content-Type: application/x-www-form-urlencoded");
    if (!request.DoGet(g_strServerUrl + "/getStsKey")) {
        OSS_LOG("GetStsKey", "GetStsKey fail!");
        return false;
    }
    return ParseStsKeyJson(request.GetResultText(), key.strAccessKeyId, key.strAccessKeySecret,
                           key.strSecurityToken);
}

int PercentAfterPart(long long llPartEnd, long long llFileSize) {
    return static_cast<int>(
        static_cast<double>(llPartEnd) / static_cast<double>(llFileSize) * 70.0 + 20.0);
}

bool SameText(const aos_string_t& a, const aos_string_t& b) {
    return a.len == b.len &&
           (a.len == 0 || memcmp(a.data, b.data, static_cast<size_t>(a.len)) == 0);
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

// Lists every uploaded part, continuing from the next-part marker while the
// store says the listing is truncated. The parts stay in the session's pool.
_ST_OssOutcome ListParts(const COssSession& session, const aos_string_t& bucket,
                         const aos_string_t& object, const aos_string_t& uploadId,
                         oss_list_upload_part_params_t*& pParams) {
    pParams = oss_create_list_upload_part_params(session.Pool());
    pParams->max_ret = kListParts;
    aos_table_t* pRespHeaders = nullptr;
    for (;;) {
        aos_status_t* pStatus = oss_list_upload_part(session.Options(), &bucket, &object, &uploadId,
                                                     pParams, &pRespHeaders);
        if (!StatusOk(pStatus)) {
            OSS_LOG("MultiUploadFile", "List multipart failed, %s\n", StatusMessage(pStatus));
            return {TransferResultOf(StatusCode(pStatus)), false};
        }
        if (pParams->truncated != 1) return {0, true};
        // A store that repeats its marker would make the listing endless.
        if (SameText(pParams->part_number_marker, pParams->next_part_number_marker)) {
            OSS_LOG("MultiUploadFile", "List multipart failed, %s\n",
                    "the part listing does not advance");
            return {-1, false};
        }
        pParams->part_number_marker = pParams->next_part_number_marker;
    }
}

_ST_OssOutcome MultiUpload(const char* szEndPoint, const char* szAccessKeyId,
                           const char* szAccessKeySecret, const char* szBucketName,
                           const char* szSecurityToken, const char* szObjectKey,
                           const char* szLocalPath, long long llFileSize, IOssCallback* pCallback) {
    // The store numbers parts 1 to 10,000; a larger file could never complete.
    const long long llParts = llFileSize > 0 ? (llFileSize + kPartSize - 1) / kPartSize : 0;
    if (llParts > OSS_MAX_PART_NUM) {
        OSS_LOG("MultiUploadFile", "file size %lld needs %lld parts, more than %d", llFileSize,
                llParts, OSS_MAX_PART_NUM);
        return {-1, false};
    }

    COssSession session;
    if (!session.IsInitialised()) {
        OSS_LOG("MultiUploadFile", "aos_http_io_initialize fail!");
        return {-1, false};
    }
    if (!session.BuildContext(szEndPoint, szAccessKeyId, szAccessKeySecret, szSecurityToken, true))
        return {-1, false};
    aos_string_t bucket = OssString(szBucketName);
    aos_string_t object = OssString(szObjectKey);
    const char* szPath = szLocalPath ? szLocalPath : "";
    aos_table_t* pInitHeaders = apr_table_make(session.Pool(), 1);
    aos_table_t* pCompleteHeaders = apr_table_make(session.Pool(), 1);
    aos_table_t* pRespHeaders = nullptr;

    aos_string_t uploadId;
    aos_str_null(&uploadId);
    aos_status_t* pStatus = oss_init_multipart_upload(session.Options(), &bucket, &object,
                                                      &uploadId, pInitHeaders, &pRespHeaders);
    if (!StatusOk(pStatus)) {
        OSS_LOG("MultiUploadFile", "Init multipart upload failed, %s\n", StatusMessage(pStatus));
        return {TransferResultOf(StatusCode(pStatus)), false};
    }
    OSS_LOG("MultiUploadFile", "Init multipart upload succeeded, upload_id:%.*s\n", uploadId.len,
            uploadId.data);
    Report(pCallback, 0, 20);

    _ST_StsKey refreshed;
    int nPart = 1;
    long long llOffset = 0;
    while (llOffset < llFileSize) {
        if (CheckPauseAndStop()) {
            ConsumeStop();
            return {0, false};
        }
        const long long llEnd =
            llOffset + kPartSize < llFileSize ? llOffset + kPartSize : llFileSize;
        // The part's request and answer go with its own pool.
        COssChildPool part(session);
        if (!part.IsValid()) return {-1, false};
        oss_upload_file_t* pFile = oss_create_upload_file(part.Pool());
        aos_str_set(&pFile->filename, szLocalPath);
        pFile->file_pos = llOffset;
        pFile->file_last = llEnd;
        aos_table_t* pPartHeaders = nullptr;
        pStatus = oss_upload_part_from_file(part.Options(), &bucket, &object, &uploadId, nPart,
                                            pFile, &pPartHeaders);
        if (StatusOk(pStatus)) {
            Report(pCallback, 0, PercentAfterPart(llEnd, llFileSize));
            ++nPart;
            llOffset += kPartSize;
            continue;
        }
        if (*StatusErrorCode(pStatus))
            OSS_LOG("MultiUploadFile", "error code: %s", StatusErrorCode(pStatus));
        if (strstr(StatusMessage(pStatus), kExpiredText)) {
            OSS_LOG("MultiUploadFile", "sts expire , try again!");
            if (!GetStsKey(refreshed)) return {-1, false};
            session.SetCredentials(szEndPoint, refreshed.strAccessKeyId.c_str(),
                                   refreshed.strAccessKeySecret.c_str(),
                                   refreshed.strSecurityToken.c_str());
            continue;
        }
        OSS_LOG("MultiUploadFile", "Multipart upload part from file failed, %lld, %s, %d\n",
                llOffset + kPartSize, StatusMessage(pStatus), StatusCode(pStatus));
        return {TransferResultOf(StatusCode(pStatus)), false};
    }

    oss_list_upload_part_params_t* pParts = nullptr;
    const _ST_OssOutcome listed = ListParts(session, bucket, object, uploadId, pParts);
    if (!listed.bReturn) return listed;
    // The parts are sent from the file as it is when each is read, so a file
    // that shrank during the upload leaves short parts: completing them would
    // store fewer bytes than the size given, reported as a success.
    long long llListed = 0;
    if (ListedBytes(pParts, llListed) && llListed != (llFileSize > 0 ? llFileSize : 0)) {
        OSS_LOG("MultiUploadFile", "uploaded parts hold %lld bytes, the file size is %lld",
                llListed, llFileSize);
        return {-1, false};
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

    pStatus = oss_complete_multipart_upload(session.Options(), &bucket, &object, &uploadId,
                                            &completeList, pCompleteHeaders, &pRespHeaders);
    if (!StatusOk(pStatus)) {
        OSS_LOG("MultiUploadFile", "Complete multipart upload from file failed, %s\n",
                StatusMessage(pStatus));
        return {TransferResultOf(StatusCode(pStatus)), false};
    }
    OSS_LOG("MultiUploadFile", "Complete multipart upload from file succeeded, upload_id:%.*s %s\n",
            uploadId.len, uploadId.data, szPath);
    return {0, true};
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
