// Process and thread set-up of the transport, and the per-request HTTP
// options.
//
// aos_http_io_initialize prepares the calling thread for requests: one
// libcurl handle that every request of the thread reuses, so the requests
// of one operation share a kept-alive connection. aos_http_io_deinitialize
// releases it (calls nest; the last one releases). Requests on a thread
// that has not been initialised fail with AOSE_FAILED_INITIALIZE.
#ifndef CONTRACTS_OSS_AOS_HTTP_IO_H
#define CONTRACTS_OSS_AOS_HTTP_IO_H

#include "Contracts/oss/aos_define.h"

// Per-request transport settings. Integer options at 0 (or below) take the
// defaults of aos_define.h, except dns_cache_timeout, where 0 means that
// resolved names are not kept between connections (harmless: requests of
// one operation reuse the connection anyway). dns_cache_timeout is the
// integer option that callers may set to 0. TLS checks are separate
// explicit switches that are on unless set to 0 on purpose; ca_file lets a
// caller trust a private certificate authority (a test store's) instead of
// the system's.
typedef struct {
    int speed_limit;          // abort below this many bytes/s ...
    int speed_time;           // ... sustained for this many seconds
    int dns_cache_timeout;    // seconds; 0: no cache
    int connect_timeout;      // seconds
    int64_t max_memory_size;  // largest response body held in memory, bytes
    int enable_crc;           // 1: CRC-64 of sent/received bodies checked against the store's
    int verify_peer;          // 1: the server's certificate chain is verified
    int verify_host;          // 1: the certificate must name the host
    char* ca_file;            // CA bundle instead of the system's, or NULL
} aos_http_request_options_t;

typedef struct {
    aos_pool_t* pool;
    int owner;
    aos_http_request_options_t* options;  // NULL: the defaults
} aos_http_controller_t;

// 0 on success, AOSE_FAILED_INITIALIZE otherwise. user_agent_info (may be
// NULL) is appended to the User-Agent; flags are reserved (pass 0).
int aos_http_io_initialize(const char* user_agent_info, int flags);
void aos_http_io_deinitialize(void);

aos_http_controller_t* aos_http_controller_create(aos_pool_t* p, int owner);

// Options holding the defaults.
aos_http_request_options_t* aos_http_request_options_create(aos_pool_t* p);

#endif  // CONTRACTS_OSS_AOS_HTTP_IO_H
