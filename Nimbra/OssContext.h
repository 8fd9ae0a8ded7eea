// Shared pieces of the store operations: one operation's hold on the store
// layer (initialisation, pool, request context, tear-down), child pools for
// per-request memory, and status helpers. Internal to the store module.
#ifndef NIMBRA_OSSCONTEXT_H
#define NIMBRA_OSSCONTEXT_H

#include "Contracts/LogHandler.h"
#include "Contracts/oss/oss_api.h"
#include "Nimbra/Nimbra.h"

// Every log line of the store module: level 1, source module
// "Nimbra/OssOperate", the calling function's name as a literal.
#define OSS_LOG(szFunction, ...) \
    LogHandlerA(szFunction, "Nimbra/OssOperate", __LINE__, 1, __VA_ARGS__)

// One operation's session with the store layer. The constructor initialises
// the layer; when that succeeded, the destructor destroys the operation's
// pool (everything the layer allocated for the operation) and then
// de-initialises the layer, exactly once, whatever way the operation ends.
class COssSession {
public:
    COssSession();
    ~COssSession();
    COssSession(const COssSession&) = delete;
    COssSession& operator=(const COssSession&) = delete;

    // False when the layer could not be initialised; nothing is held then.
    bool IsInitialised() const { return m_bInitialised; }

    // Creates the pool and the request context: options, configuration
    // (endpoint, key pair, token only when non-null, no CNAME) and HTTP
    // controller; with bHttpOptions also the controller's HTTP request
    // options. The configuration refers to the caller's text, which must
    // outlive the session. False when the pool cannot be created.
    bool BuildContext(const char* szEndPoint, const char* szAccessKeyId,
                      const char* szAccessKeySecret, const char* szSecurityToken,
                      bool bHttpOptions);

    // Points the configuration at new credentials (token skipped when null).
    void SetCredentials(const char* szEndPoint, const char* szAccessKeyId,
                        const char* szAccessKeySecret, const char* szSecurityToken);

    aos_pool_t* Pool() const { return m_pPool; }
    oss_request_options_t* Options() const { return m_pOptions; }

private:
    bool m_bInitialised;
    aos_pool_t* m_pPool;
    oss_request_options_t* m_pOptions;
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

// The status's error message, or "" when it carries none.
const char* StatusMessage(const aos_status_t* pStatus);
// The status's error code text, or "" when it carries none.
const char* StatusErrorCode(const aos_status_t* pStatus);
// Success: a code above 0 within 200..299.
bool StatusOk(const aos_status_t* pStatus);
// The status code, or the layer's out-of-memory code for a missing status.
int StatusCode(const aos_status_t* pStatus);

// How a transfer or listing ended: the result it reports with percentage
// 100 and the value it returns.
struct _ST_OssOutcome {
    int nResult;
    bool bReturn;
};

// OnProgress(nResult, nPercent, pData) when a callback is given.
void Report(IOssCallback* pCallback, int nResult, int nPercent, void* pData = nullptr);
// Sends the final report (outcome.nResult, 100) and returns outcome.bReturn.
// Called after the operation's session is gone, so the host hears of the end
// only once everything is released.
bool Finish(IOssCallback* pCallback, const _ST_OssOutcome& outcome);

// Ends a transfer on a stop: clears the pause and the stop flag.
void ConsumeStop();

#endif  // NIMBRA_OSSCONTEXT_H
