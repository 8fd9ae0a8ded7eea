// Strings as length plus pointer over someone else's bytes: setting one
// never copies. Strings the layer creates itself are NUL-terminated.
#ifndef CONTRACTS_OSS_AOS_STRING_H
#define CONTRACTS_OSS_AOS_STRING_H

#include <string.h>

#include "Contracts/oss/aos_define.h"

typedef struct {
    int len;
    char* data;
} aos_string_t;

#define aos_null_string \
    { 0, NULL }

static inline void aos_str_set(aos_string_t* str, const char* s) {
    str->data = (char*)s;
    str->len = s ? (int)strlen(s) : 0;
}

static inline void aos_str_null(aos_string_t* str) {
    str->data = NULL;
    str->len = 0;
}

static inline int aos_is_null_string(const aos_string_t* str) {
    return str == NULL || str->data == NULL || str->len == 0;
}

// A NUL-terminated copy in the pool (an empty string for a null one).
char* aos_pstrdup(aos_pool_t* p, const aos_string_t* s);

// Points `dst` at a NUL-terminated copy of `len` bytes of `src` in the pool.
void aos_str_pset(aos_pool_t* p, aos_string_t* dst, const char* src, size_t len);

// 1 when the string holds exactly the NUL-terminated text `s` (a null
// string holds the empty text).
int aos_string_equals(const aos_string_t* str, const char* s);

#endif  // CONTRACTS_OSS_AOS_STRING_H
