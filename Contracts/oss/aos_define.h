// Base types, limits and status codes shared by the whole object-store layer.
#ifndef CONTRACTS_OSS_AOS_DEFINE_H
#define CONTRACTS_OSS_AOS_DEFINE_H

#include <apr_pools.h>
#include <apr_strings.h>
#include <apr_tables.h>
#include <stdint.h>

typedef apr_pool_t aos_pool_t;
typedef apr_table_t aos_table_t;

#define AOS_TRUE 1

typedef enum { HTTP_GET, HTTP_HEAD, HTTP_PUT, HTTP_POST, HTTP_DELETE } http_method_e;

// Codes of failures that produced no HTTP response (a status code > 0 is
// always the HTTP status of the store's answer).
typedef enum {
    AOSE_OK = 0,
    AOSE_OUT_MEMORY = -1000,
    AOSE_INTERNAL_ERROR = -996,
    AOSE_REQUEST_TIMEOUT = -995,
    AOSE_INVALID_ARGUMENT = -994,
    AOSE_NOT_IMPLEMENTED = -993,
    AOSE_CONNECTION_FAILED = -992,
    AOSE_FAILED_INITIALIZE = -991,
    AOSE_NAME_LOOKUP_ERROR = -990,
    AOSE_FAILED_VERIFICATION = -989,
    AOSE_WRITE_BODY_ERROR = -988,
    AOSE_READ_BODY_ERROR = -987,
    AOSE_SERVICE_ERROR = -986,
    AOSE_OPEN_FILE_ERROR = -985,
    AOSE_XML_PARSE_ERROR = -980,
    AOSE_CRC_INCONSISTENT_ERROR = -978
} aos_error_code_e;

// Defaults of aos_http_request_options_t.
#define AOS_DEFAULT_CONNECT_TIMEOUT 10          // seconds
#define AOS_DEFAULT_DNS_CACHE_TIMEOUT 60        // seconds
#define AOS_DEFAULT_SPEED_LIMIT 1024            // bytes per second ...
#define AOS_DEFAULT_SPEED_TIME 15               // ... sustained this many seconds
#define AOS_DEFAULT_MAX_MEMORY_SIZE (64 << 20)  // bytes of one response body
// Bytes kept of any answer but object data: listing pages (500 entries of
// the longest keys, percent-encoded, stay under 2 MiB), part listings,
// completion and error documents.
#define AOS_MAX_DOCUMENT_SIZE (4 << 20)

#endif  // CONTRACTS_OSS_AOS_DEFINE_H
