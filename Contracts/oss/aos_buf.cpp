#include "Contracts/oss/aos_buf.h"

#include <string.h>

aos_buf_t* aos_create_buf(aos_pool_t* p, int64_t size) {
    if (size < 0) return NULL;
    aos_buf_t* b = (aos_buf_t*)apr_pcalloc(p, sizeof(aos_buf_t));
    b->start = (uint8_t*)apr_palloc(p, (apr_size_t)(size > 0 ? size : 1));
    b->pos = b->start;
    b->last = b->start;
    b->end = b->start + size;
    aos_list_init(&b->node);
    return b;
}

void aos_buf_over(aos_buf_t* b, void* mem, int64_t size) {
    b->start = b->pos = b->last = (uint8_t*)mem;
    b->end = b->start + size;
    aos_list_init(&b->node);
}

aos_buf_t* aos_buf_pack(aos_pool_t* p, const void* data, int64_t len) {
    aos_buf_t* b = aos_create_buf(p, len);
    if (b == NULL) return NULL;
    if (len > 0) memcpy(b->last, data, (size_t)len);
    b->last += len;
    return b;
}

int64_t aos_buf_list_len(const aos_list_t* list) {
    int64_t n = 0;
    for (const aos_list_t* it = list->next; it != list; it = it->next) {
        const aos_buf_t* b = aos_list_entry(it, aos_buf_t, node);
        n += aos_buf_size(b);
    }
    return n;
}

char* aos_buf_list_flatten(aos_pool_t* p, const aos_list_t* list, int64_t* len) {
    int64_t n = aos_buf_list_len(list);
    char* out = (char*)apr_palloc(p, (apr_size_t)n + 1);
    char* w = out;
    for (const aos_list_t* it = list->next; it != list; it = it->next) {
        const aos_buf_t* b = aos_list_entry(it, aos_buf_t, node);
        size_t k = (size_t)aos_buf_size(b);
        if (k) memcpy(w, b->pos, k);
        w += k;
    }
    *w = '\0';
    if (len) *len = n;
    return out;
}
