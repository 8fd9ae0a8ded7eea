#include "Contracts/oss/aos_status.h"

#include <stddef.h>

static const struct {
    int code;
    const char* name;
} k_error_names[] = {
    {AOSE_OUT_MEMORY, "OutOfMemory"},
    {AOSE_INTERNAL_ERROR, "InternalError"},
    {AOSE_REQUEST_TIMEOUT, "RequestTimeout"},
    {AOSE_INVALID_ARGUMENT, "InvalidArgument"},
    {AOSE_NOT_IMPLEMENTED, "NotImplemented"},
    {AOSE_CONNECTION_FAILED, "ConnectionFailed"},
    {AOSE_FAILED_INITIALIZE, "FailedInitialize"},
    {AOSE_NAME_LOOKUP_ERROR, "NameLookupError"},
    {AOSE_FAILED_VERIFICATION, "FailedVerification"},
    {AOSE_WRITE_BODY_ERROR, "WriteBodyError"},
    {AOSE_READ_BODY_ERROR, "ReadBodyError"},
    {AOSE_SERVICE_ERROR, "ServiceError"},
    {AOSE_OPEN_FILE_ERROR, "OpenFileError"},
    {AOSE_XML_PARSE_ERROR, "XmlParseError"},
    {AOSE_CRC_INCONSISTENT_ERROR, "CrcInconsistent"},
};

const char* aos_error_code_name(int code) {
    for (size_t i = 0; i < sizeof(k_error_names) / sizeof(k_error_names[0]); ++i) {
        if (k_error_names[i].code == code) return k_error_names[i].name;
    }
    return NULL;
}

aos_status_t* aos_status_create(aos_pool_t* p) {
    return (aos_status_t*)apr_pcalloc(p, sizeof(aos_status_t));
}

aos_status_t* aos_status_fail(aos_pool_t* p, aos_status_t* s, int code, const char* msg) {
    s->code = code;
    const char* name = aos_error_code_name(code);
    s->error_code = name ? apr_pstrdup(p, name) : NULL;
    s->error_msg = msg ? apr_pstrdup(p, msg) : NULL;
    return s;
}
