// Shared pieces of the store operations: one operation's hold on the store
// layer (initialisation, pool, request context, tear-down), child pools for
// per-request memory, and status helpers. Internal to the store module.
#ifndef NIMBRA_OSSCONTEXT_H
#define NIMBRA_OSSCONTEXT_H

#include "Contracts/LogHandler.h"
#include "Contracts/oss/oss_api.h"

// Every log line of the store module: level 1, source module
// "Nimbra/OssOperate", the calling function's name as a literal.
#define OSS_LOG(szFunction, ...) \
    LogHandlerA(szFunction, "Nimbra/OssOperate", __LINE__, 1, __VA_ARGS__)

// Whether an operation's requests zero the one integer HTTP option the
// layer lets callers set (every operation but bucket creation does), or
// keep the layer's defaults without any HTTP request options.
enum class EHttpOptions { ZeroDnsCache, LayerDefaults };

// One operation's session with the store layer, opened by the constructor:
// it initialises the layer, creates the operation's pool and the request
// context (options, configuration with the endpoint, the key pair, the
// token only when non-null and no CNAME, HTTP controller and, unless
// LayerDefaults, its HTTP request options). The configuration refers to the
// caller's text, which must outlive the session. The destructor destroys
// the pool (everything the layer allocated for the operation) and then
// de-initialises the layer, exactly once, whatever way the operation ends.
class COssSession {
public:
    COssSession(const char* szEndPoint, const char* szAccessKeyId, const char* szAccessKeySecret,
                const char* szSecurityToken,
                EHttpOptions eHttpOptions = EHttpOptions::ZeroDnsCache);
    ~COssSession();
    COssSession(const COssSession&) = delete;
    COssSession& operator=(const COssSession&) = delete;

    // False when the layer could not be initialised or the pool not be
    // created; no request may be made then.
    bool IsOpen() const { return m_pOptions != nullptr; }
    // False when already the layer's initialisation failed.
    bool IsInitialised() const { return m_bInitialised; }

    // Points the configuration at new credentials (token skipped when null).
    void SetCredentials(const char* szEndPoint, const char* szAccessKeyId,
                        const char* szAccessKeySecret, const char* szSecurityToken);

    aos_pool_t* Pool() const { return m_pPool; }
    oss_request_options_t* Options() const { return m_pOptions; }
    // Where a request puts the answer's headers (null before the first).
    aos_table_t** RespHeaders() { return &m_pRespHeaders; }

private:
    bool m_bInitialised;
    aos_pool_t* m_pPool;
    oss_request_options_t* m_pOptions;
    aos_table_t* m_pRespHeaders;
};

// A pool below the operation's pool for the memory of one request (its
// request, answer, headers and body buffers), freed when the scope ends,
// with request options that allocate in it and share the operation's
// configuration and controller.
class COssChildPool {
public:
    explicit COssChildPool(const COssSession& session);
    ~COssChildPool();
    COssChildPool(const COssChildPool&) = delete;
    COssChildPool& operator=(const COssChildPool&) = delete;

    // False when the pool could not be created.
    bool IsValid() const { return m_pPool != nullptr; }
    aos_pool_t* Pool() const { return m_pPool; }
    oss_request_options_t* Options() const { return m_pOptions; }

private:
    aos_pool_t* m_pPool;
    oss_request_options_t* m_pOptions;
};

// A layer string over the caller's NUL-terminated text, without a copy.
aos_string_t OssString(const char* szText);

// An object in the store: its bucket and key as layer strings over the
// caller's text.
struct _ST_OssObject {
    aos_string_t bucket;
    aos_string_t key;
};
_ST_OssObject OssObject(const char* szBucketName, const char* szObjectKey);

// The status's error message, or "" when it carries none.
const char* StatusMessage(const aos_status_t* pStatus);
// The status's error code text, or "" when it carries none.
const char* StatusErrorCode(const aos_status_t* pStatus);
// Success: a code above 0 within 200..299.
bool StatusOk(const aos_status_t* pStatus);
// The status code, or the layer's out-of-memory code for a missing status.
int StatusCode(const aos_status_t* pStatus);

#endif  // NIMBRA_OSSCONTEXT_H
