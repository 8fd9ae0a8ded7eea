// Outcome of one request. code > 0 is the HTTP status of the store's
// answer; 0 or below is a failure without an answer (aos_error_code_e).
#ifndef CONTRACTS_OSS_AOS_STATUS_H
#define CONTRACTS_OSS_AOS_STATUS_H

#include "Contracts/oss/aos_define.h"

typedef struct {
    int code;
    char* error_code;  // the store's error Code, or the layer's name for the failure; may be NULL
    char* error_msg;   // the store's error Message or a description; may be NULL
    char* req_id;      // the store's request id; may be NULL
} aos_status_t;

aos_status_t* aos_status_create(aos_pool_t* p);

// 1 for a 2xx answer, 0 for everything else.
static inline int aos_status_is_ok(const aos_status_t* s) {
    return s != NULL && s->code > 0 && s->code >= 200 && s->code <= 299;
}

// Marks `s` as a failure of the layer: the code, its name as error code
// and the message (copied into the pool). Returns s.
aos_status_t* aos_status_fail(aos_pool_t* p, aos_status_t* s, int code, const char* msg);

// Name given to a layer failure code as error code ("ConnectionFailed" ...),
// NULL for codes the layer does not produce.
const char* aos_error_code_name(int code);

#endif  // CONTRACTS_OSS_AOS_STATUS_H
