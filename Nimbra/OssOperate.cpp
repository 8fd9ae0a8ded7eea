// Store operations shared by every transfer (the pause/stop poll, the result
// maps) and the single-request operations: bucket creation, put from a file,
// move (copy, then delete) and delete.
#include "Nimbra/OssOperate.h"

#include <errno.h>
#include <time.h>

#include "Nimbra/ControlFlags.h"
#include "Nimbra/LogTexts.h"
#include "Nimbra/OssContext.h"

bool CheckPauseAndStop() {
    if (gbIsNeedStopEx) return true;
    while (gbIsNeedPause) {
        struct timespec ts = {1, 0};
        while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
        }
        if (gbIsNeedStopEx) return true;
    }
    return false;
}

int DownloadResultOf(int nStatusCode) {
    switch (nStatusCode) {
        case AOSE_REQUEST_TIMEOUT:
        case AOSE_CONNECTION_FAILED:
        case AOSE_NAME_LOOKUP_ERROR:
        case AOSE_SERVICE_ERROR:
            return 1;
        default:
            return -1;
    }
}

int TransferResultOf(int nStatusCode) {
    switch (nStatusCode) {
        case AOSE_INTERNAL_ERROR:
        case AOSE_REQUEST_TIMEOUT:
        case AOSE_CONNECTION_FAILED:
        case AOSE_NAME_LOOKUP_ERROR:
        case AOSE_FAILED_VERIFICATION:
        case AOSE_WRITE_BODY_ERROR:
        case AOSE_READ_BODY_ERROR:
        case AOSE_SERVICE_ERROR:
            return 1;
        default:
            return -1;
    }
}

bool CreateBucket(const char* szEndPoint, const char* szAccessKeyId, const char* szAccessKeySecret,
                  const char* szSecurityToken, const char* szBucketName) {
    COssSession session(szEndPoint, szAccessKeyId, szAccessKeySecret, szSecurityToken,
                        EHttpOptions::LayerDefaults);
    if (!session.IsOpen()) return false;
    const aos_string_t bucket = OssString(szBucketName);
    return StatusOk(
        oss_create_bucket(session.Options(), &bucket, OSS_ACL_PRIVATE, session.RespHeaders()));
}

bool UploadFile(const char* szEndPoint, const char* szAccessKeyId, const char* szAccessKeySecret,
                const char* szBucketName, const char* szSecurityToken, const char* szObjectKey,
                const char* szLocalPath) {
    COssSession session(szEndPoint, szAccessKeyId, szAccessKeySecret, szSecurityToken);
    if (!session.IsOpen()) return false;
    const _ST_OssObject target = OssObject(szBucketName, szObjectKey);
    const aos_string_t file = OssString(szLocalPath);
    aos_status_t* pStatus = oss_put_object_from_file(session.Options(), &target.bucket, &target.key,
                                                     &file, nullptr, session.RespHeaders());
    if (!StatusOk(pStatus))
        OSS_LOG("UploadFile", "oss_put_object_from_file fail, %s", StatusMessage(pStatus));
    return StatusOk(pStatus);
}

bool CopyObject(const char* szEndPoint, const char* szAccessKeyId, const char* szAccessKeySecret,
                const char* szSecurityToken, const char* szSrcBucketName,
                const char* szDestBucketName, const char* szSrcObjectKey,
                const char* szDestObjectKey) {
    COssSession session(szEndPoint, szAccessKeyId, szAccessKeySecret, szSecurityToken);
    if (!session.IsOpen()) return false;
    const _ST_OssObject source = OssObject(szSrcBucketName, szSrcObjectKey);
    const _ST_OssObject dest = OssObject(szDestBucketName, szDestObjectKey);
    const char* szBucketText = szSrcBucketName ? szSrcBucketName : "";
    const char* szKeyText = szSrcObjectKey ? szSrcObjectKey : "";

    aos_status_t* pStatus =
        oss_copy_object(session.Options(), &source.bucket, &source.key, &dest.bucket, &dest.key,
                        apr_table_make(session.Pool(), 0), session.RespHeaders());
    if (!StatusOk(pStatus)) {
        OSS_LOG("CopyObject", "oss_copy_object %s %s fail, %s", szBucketText, szKeyText,
                StatusMessage(pStatus));
        return false;
    }
    pStatus =
        oss_delete_object(session.Options(), &source.bucket, &source.key, session.RespHeaders());
    if (!StatusOk(pStatus)) {
        OSS_LOG("CopyObject", "oss_delete_object %s %s fail, %s", szBucketText, szKeyText,
                StatusMessage(pStatus));
        return false;
    }
    return true;
}

bool DeleteObject(const char* szEndPoint, const char* szAccessKeyId, const char* szAccessKeySecret,
                  const char* szBucketName, const char* szSecurityToken, const char* szObjectKey) {
    COssSession session(szEndPoint, szAccessKeyId, szAccessKeySecret, szSecurityToken);
    if (!session.IsOpen()) return false;
    const _ST_OssObject target = OssObject(szBucketName, szObjectKey);
    aos_status_t* pStatus =
        oss_delete_object(session.Options(), &target.bucket, &target.key, session.RespHeaders());
    if (!StatusOk(pStatus)) OSS_LOG("DeleteObject", kLogDeleteFailed, StatusMessage(pStatus));
    return StatusOk(pStatus);
}
