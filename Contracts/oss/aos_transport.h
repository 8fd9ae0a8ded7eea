// One HTTP exchange over the thread's reusable libcurl handle: the request
// as built and signed by the caller goes out unchanged; the answer's
// status, headers and body come back in pool memory.
#ifndef CONTRACTS_OSS_AOS_TRANSPORT_H
#define CONTRACTS_OSS_AOS_TRANSPORT_H

#include "Contracts/oss/aos_buf.h"
#include "Contracts/oss/aos_http_io.h"
#include "Contracts/oss/aos_status.h"

typedef enum {
    AOS_BODY_NONE,    // no request body (Content-Length 0 for PUT/POST)
    AOS_BODY_MEMORY,  // the buffers of `body`
    AOS_BODY_FILE     // the byte range [file_pos, file_last) of file_path
} aos_body_type_e;

typedef struct {
    aos_pool_t* pool;
    http_method_e method;
    char* url;             // complete and percent-encoded
    aos_table_t* headers;  // sent as they stand
    aos_body_type_e body_type;
    aos_list_t body;
    const char* file_path;
    int64_t file_pos;
    int64_t file_last;  // exclusive; -1 or past the end: up to the end of the file
    // 1: a 2xx answer's body is object data, kept up to max_memory_size.
    // Every other answer is a document, kept up to AOS_MAX_DOCUMENT_SIZE.
    int object_body;
    // With object_body: a buffer whose room [last, end) a 2xx body fills
    // before any pool buffer is made (it is not put in the response's body
    // list), or NULL.
    aos_buf_t* object_buf;
} aos_http_request_t;

typedef struct {
    int status;            // HTTP status of the answer
    aos_table_t* headers;  // names as received; lookups ignore case
    aos_list_t body;       // the body received (after what went into the request's object_buf)
    int64_t body_len;
    uint64_t body_crc64;  // CRC-64 of the body received with status 200 (else 0)
    int64_t sent_len;
    uint64_t sent_crc64;  // CRC-64 of the request body sent
} aos_http_response_t;

aos_http_request_t* aos_http_request_create(aos_pool_t* p);
aos_http_response_t* aos_http_response_create(aos_pool_t* p);

// Sends `req` with `opts` (NULL: defaults). AOSE_OK when an answer arrived,
// whatever its status; otherwise the failure code, also set in `s` with a
// description.
int aos_http_send_request(const aos_http_request_options_t* opts, aos_http_request_t* req,
                          aos_http_response_t* resp, aos_status_t* s);

#endif  // CONTRACTS_OSS_AOS_TRANSPORT_H
