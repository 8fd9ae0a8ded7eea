// Ranged chunked download: the object's length from its metadata, then
// consecutive 1 MiB ranges, each written and flushed before the next is
// fetched, with the pause/stop poll between them (a range under way always
// finishes and is written first); the bytes written are checked against the
// object's CRC-64 when the store announces one.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>

#include "Contracts/oss/aos_crc64.h"
#include "Nimbra/ControlFlags.h"
#include "Nimbra/LogTexts.h"
#include "Nimbra/OssContext.h"
#include "Nimbra/OssLimits.h"
#include "Nimbra/OssOperate.h"
#include "Nimbra/OssOutcome.h"

namespace {

const long long kChunkSize = kOssRangeSize;

struct FileCloser {
    void operator()(FILE* pFile) const { fclose(pFile); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

// Fetches bytes llStart..llEnd (inclusive) into szBuffer, which holds
// kChunkSize bytes: the buffer is the body list's only buffer, and the store
// layer fills its room before appending any other, so the range arrives
// there with no staging copy. Everything else the request allocates goes
// with its child pool. A failure is logged and ends the download.
_ST_OssOutcome FetchChunk(const COssSession& session, const _ST_OssObject& target,
                          aos_table_t* pParams, long long llStart, long long llEnd,
                          char* szBuffer) {
    COssChildPool chunk(session);
    if (!chunk.IsValid()) {
        OSS_LOG("DownloadFile", kLogRangeFailed, "out of memory");
        return OssFailed(-1);
    }
    aos_table_t* pHeaders = apr_table_make(chunk.Pool(), 1);
    // APR's formatter has no %lld, so the value is formatted by the C library.
    char szRange[64];
    snprintf(szRange, sizeof szRange, "bytes=%lld-%lld", llStart, llEnd);
    apr_table_set(pHeaders, OSS_RANGE, szRange);
    aos_list_t body;
    aos_list_init(&body);
    aos_buf_t staging;
    aos_buf_over(&staging, szBuffer, kChunkSize);
    aos_list_add_tail(&staging.node, &body);
    aos_status_t* pStatus = oss_get_object_to_buffer(chunk.Options(), &target.bucket, &target.key,
                                                     pHeaders, pParams, &body, nullptr);
    if (!StatusOk(pStatus)) {
        OSS_LOG("DownloadFile", kLogRangeFailed, StatusMessage(pStatus));
        return OssFailed(DownloadResultOf(StatusCode(pStatus)));
    }
    // A store that ignores the Range header, or a short answer, would put
    // the wrong bytes at this offset: the chunk fails instead. A range of
    // the right length lies in the staging buffer whole.
    const long long llWant = llEnd - llStart + 1;
    const long long llGot = aos_buf_list_len(&body);
    if (llGot != llWant || aos_buf_size(&staging) != llWant) {
        OSS_LOG("DownloadFile", "range %lld-%lld returned %lld bytes", llStart, llEnd, llGot);
        return OssFailed(-1);
    }
    return OssGoOn();
}

_ST_OssOutcome Download(const char* szEndPoint, const char* szAccessKeyId,
                        const char* szAccessKeySecret, const char* szBucketName,
                        const char* szSecurityToken, const char* szObjectKey,
                        const char* szLocalPath, IOssCallback* pCallback) {
    COssSession session(szEndPoint, szAccessKeyId, szAccessKeySecret, szSecurityToken);
    if (!session.IsOpen()) return OssFailed(-1);
    const _ST_OssObject target = OssObject(szBucketName, szObjectKey);
    aos_table_t* pParams = apr_table_make(session.Pool(), 0);

    aos_status_t* pStatus =
        oss_get_object_meta(session.Options(), &target.bucket, &target.key, session.RespHeaders());
    if (!StatusOk(pStatus)) {
        OSS_LOG("DownloadFile", kLogMetaFailed, StatusMessage(pStatus));
        return OssFailed(DownloadResultOf(StatusCode(pStatus)));
    }
    const aos_table_t* pRespHeaders = *session.RespHeaders();
    const char* szLength = pRespHeaders ? apr_table_get(pRespHeaders, OSS_CONTENT_LENGTH) : nullptr;
    const long long llSize = szLength ? atoll(szLength) : 0;
    // Ranged answers carry no checksum of their own: the bytes written are
    // checked as a whole against the object's CRC-64 when the store gave one,
    // so a range that arrived with wrong bytes never ends as a success.
    uint64_t ullStoreCrc = 0;
    const bool bCheckCrc = oss_get_crc64_header(pRespHeaders, &ullStoreCrc) != 0;
    uint64_t ullCrc = 0;

    const char* szPath = szLocalPath ? szLocalPath : "";
    std::unique_ptr<char[]> szBuffer;
    FilePtr pFile(szLocalPath ? fopen(szLocalPath, "wb") : nullptr);
    if (!pFile) {
        OSS_LOG("DownloadFile", "open %s fail", szPath);
        return OssFailed(-1);
    }
    szBuffer.reset(new (std::nothrow) char[kChunkSize]);
    if (!szBuffer) {
        OSS_LOG("DownloadFile", "no memory for a %lld-byte chunk buffer", kChunkSize);
        return OssFailed(-1);
    }

    for (long long llStart = 0; llStart <= llSize - 1;) {
        if (CheckPauseAndStop()) {
            ConsumeStop();
            return OssStopped(true);
        }
        const long long llEnd =
            llStart + kChunkSize - 1 < llSize - 1 ? llStart + kChunkSize - 1 : llSize - 1;
        const _ST_OssOutcome fetched =
            FetchChunk(session, target, pParams, llStart, llEnd, szBuffer.get());
        if (fetched.bEnded) return fetched;
        const size_t nLen = static_cast<size_t>(llEnd - llStart + 1);
        if (fwrite(szBuffer.get(), 1, nLen, pFile.get()) != nLen || fflush(pFile.get()) != 0) {
            OSS_LOG("DownloadFile", "write %s fail", szPath);
            return OssFailed(-1);
        }
        ullCrc = aos_crc64(ullCrc, szBuffer.get(), nLen);
        Report(pCallback, 0, static_cast<int>(95 * (llEnd + 1) / llSize));
        llStart = llEnd + 1;
    }
    if (fclose(pFile.release()) != 0) {
        OSS_LOG("DownloadFile", "write %s fail", szPath);
        return OssFailed(-1);
    }
    if (bCheckCrc && ullCrc != ullStoreCrc) {
        OSS_LOG("DownloadFile", "crc64 of %s is %llu, the store's is %llu", szPath,
                static_cast<unsigned long long>(ullCrc),
                static_cast<unsigned long long>(ullStoreCrc));
        return OssFailed(-1);
    }
    return OssDone();
}

}  // namespace

bool DownloadFile(const char* szEndPoint, const char* szAccessKeyId, const char* szAccessKeySecret,
                  const char* szBucketName, const char* szSecurityToken, const char* szObjectKey,
                  const char* szLocalPath, IOssCallback* pCallback) {
    return Finish(pCallback, Download(szEndPoint, szAccessKeyId, szAccessKeySecret, szBucketName,
                                      szSecurityToken, szObjectKey, szLocalPath, pCallback));
}
