#include "Nimbra/OssContext.h"

COssSession::COssSession(const char* szEndPoint, const char* szAccessKeyId,
                         const char* szAccessKeySecret, const char* szSecurityToken,
                         EHttpOptions eHttpOptions)
    : m_bInitialised(false), m_pPool(nullptr), m_pOptions(nullptr), m_pRespHeaders(nullptr) {
    m_bInitialised = aos_http_io_initialize(nullptr, 0) == 0;
    if (!m_bInitialised) return;
    if (apr_pool_create_ex(&m_pPool, nullptr, nullptr, nullptr) != APR_SUCCESS) {
        m_pPool = nullptr;
        return;
    }
    oss_request_options_t* pOptions = oss_request_options_create(m_pPool);
    pOptions->config = oss_config_create(pOptions->pool);
    pOptions->config->is_cname = 0;
    pOptions->ctl = aos_http_controller_create(pOptions->pool, 0);
    if (eHttpOptions == EHttpOptions::ZeroDnsCache) {
        pOptions->ctl->options = aos_http_request_options_create(m_pPool);
        // The one integer option the layer lets callers zero: resolved names
        // are then not cached between connections. The requests of one
        // operation share a kept-alive connection anyway, and timeouts, speed
        // limits and TLS checks keep their defaults, so nothing is weakened.
        pOptions->ctl->options->dns_cache_timeout = 0;
    }
    m_pOptions = pOptions;
    SetCredentials(szEndPoint, szAccessKeyId, szAccessKeySecret, szSecurityToken);
}

COssSession::~COssSession() {
    if (!m_bInitialised) return;
    if (m_pPool) apr_pool_destroy(m_pPool);
    aos_http_io_deinitialize();
}

void COssSession::SetCredentials(const char* szEndPoint, const char* szAccessKeyId,
                                 const char* szAccessKeySecret, const char* szSecurityToken) {
    oss_config_t* pConfig = m_pOptions->config;
    aos_str_set(&pConfig->endpoint, szEndPoint);
    aos_str_set(&pConfig->access_key_id, szAccessKeyId);
    aos_str_set(&pConfig->access_key_secret, szAccessKeySecret);
    if (szSecurityToken) aos_str_set(&pConfig->sts_token, szSecurityToken);
}

COssChildPool::COssChildPool(const COssSession& session) : m_pPool(nullptr), m_pOptions(nullptr) {
    if (apr_pool_create(&m_pPool, session.Pool()) != APR_SUCCESS) {
        m_pPool = nullptr;
        return;
    }
    m_pOptions = oss_request_options_copy(m_pPool, session.Options());
}

COssChildPool::~COssChildPool() {
    if (m_pPool) apr_pool_destroy(m_pPool);
}

aos_string_t OssString(const char* szText) {
    aos_string_t str;
    aos_str_set(&str, szText);
    return str;
}

_ST_OssObject OssObject(const char* szBucketName, const char* szObjectKey) {
    return {OssString(szBucketName), OssString(szObjectKey)};
}

const char* StatusMessage(const aos_status_t* pStatus) {
    return pStatus && pStatus->error_msg ? pStatus->error_msg : "";
}

const char* StatusErrorCode(const aos_status_t* pStatus) {
    return pStatus && pStatus->error_code ? pStatus->error_code : "";
}

bool StatusOk(const aos_status_t* pStatus) {
    return aos_status_is_ok(pStatus) != 0;
}

int StatusCode(const aos_status_t* pStatus) {
    return pStatus ? pStatus->code : AOSE_OUT_MEMORY;
}
