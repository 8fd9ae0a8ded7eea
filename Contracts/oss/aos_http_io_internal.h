// The calling thread's transport state, for the request sender.
#ifndef CONTRACTS_OSS_AOS_HTTP_IO_INTERNAL_H
#define CONTRACTS_OSS_AOS_HTTP_IO_INTERNAL_H

#include <curl/curl.h>

#include "Contracts/oss/aos_http_io.h"

// The thread's reusable handle, reset to libcurl's defaults (its
// connection cache kept); NULL when the thread is not initialised.
CURL* aos_http_io_thread_handle(void);

// The User-Agent value set by aos_http_io_initialize.
const char* aos_http_io_user_agent(void);

// Fills `o` with the defaults of aos_http_request_options_create.
void aos_http_request_options_set_defaults(aos_http_request_options_t* o);

#endif  // CONTRACTS_OSS_AOS_HTTP_IO_INTERNAL_H
