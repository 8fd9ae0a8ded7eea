// Body buffers: a block of pool memory whose filled range is [pos, last).
// Bodies travel as lists of them, in order.
#ifndef CONTRACTS_OSS_AOS_BUF_H
#define CONTRACTS_OSS_AOS_BUF_H

#include "Contracts/oss/aos_define.h"
#include "Contracts/oss/aos_list.h"

typedef struct {
    aos_list_t node;
    uint8_t* pos;    // first filled byte
    uint8_t* last;   // one past the last filled byte
    uint8_t* start;  // the block
    uint8_t* end;    // one past the block
} aos_buf_t;

#define aos_buf_size(b) ((int64_t)((b)->last - (b)->pos))

// An empty buffer with room for `size` bytes, or NULL when size < 0.
aos_buf_t* aos_create_buf(aos_pool_t* p, int64_t size);

// An empty buffer over the caller's `size` bytes at `mem`, which must outlive
// it: a body list ending in such a buffer receives a body into its room
// first (see oss_get_object_to_buffer), so a caller can reuse one block.
void aos_buf_over(aos_buf_t* b, void* mem, int64_t size);

// A buffer over a copy of `len` bytes.
aos_buf_t* aos_buf_pack(aos_pool_t* p, const void* data, int64_t len);

// Sum of the filled sizes of every buffer in the list.
int64_t aos_buf_list_len(const aos_list_t* list);

// The list's bytes back to back, NUL-terminated, in the pool; *len gets the
// byte count (without the NUL).
char* aos_buf_list_flatten(aos_pool_t* p, const aos_list_t* list, int64_t* len);

#endif  // CONTRACTS_OSS_AOS_BUF_H
