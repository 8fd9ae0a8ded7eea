// The path every store call takes: check the names, build the URL and the
// canonical resource, sign, send, and turn the answer into a status.
#ifndef CONTRACTS_OSS_OSS_REQUEST_H
#define CONTRACTS_OSS_OSS_REQUEST_H

#include "Contracts/oss/aos_status.h"
#include "Contracts/oss/aos_transport.h"
#include "Contracts/oss/oss_define.h"

typedef struct {
    const oss_request_options_t* options;
    aos_http_request_t* req;
    aos_http_response_t* resp;
    const char* resource;  // canonical resource for the signature
    aos_status_t* s;
    int check_sent_crc;    // compare the sent body's CRC-64 with the store's
    int check_body_crc;    // compare a whole (200) body's CRC-64 with the store's
    int check_object_crc;  // compare object_crc with the store's CRC-64 of the object made
    uint64_t object_crc;
    aos_list_t* body_out;  // receives the body of a successful answer, or NULL
} oss_request_t;

// 1 when options, its configuration and its pool are all present.
int oss_options_usable(const oss_request_options_t* options);

// The status returned for calls whose options cannot carry one (NULL
// options, configuration or pool): AOSE_INVALID_ARGUMENT, per thread.
aos_status_t* oss_invalid_options_status(void);

// Checks the names (object NULL for a bucket request) and builds the request with a copy of
// `headers` and the query `params` (both may be NULL). AOSE_OK, or the
// failure set in r->s.
int oss_request_init(oss_request_t* r, const oss_request_options_t* options, http_method_e method,
                     const aos_string_t* bucket, const aos_string_t* object,
                     const aos_table_t* headers, const aos_table_t* params);

// Signs and sends the request; returns r->s: the HTTP status with the
// store's error document read into it, or the layer's failure code. A 2xx
// answer whose CRC-64 differs from the one checked (the body sent, the body
// received, or object_crc) fails with AOSE_CRC_INCONSISTENT_ERROR. Only a
// successful answer's body reaches body_out, whole; for an object body
// (req->object_body) a buffer at body_out's tail with room receives it first.
aos_status_t* oss_request_send(oss_request_t* r);

// Hands the response headers to the caller's pointer, when given.
void oss_request_export_headers(const oss_request_t* r, aos_table_t** resp_headers);

// Marks r->s as failed with `code` and `msg`; returns r->s.
aos_status_t* oss_request_fail(oss_request_t* r, int code, const char* msg);

#endif  // CONTRACTS_OSS_OSS_REQUEST_H
