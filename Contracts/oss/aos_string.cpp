#include "Contracts/oss/aos_string.h"

char* aos_pstrdup(aos_pool_t* p, const aos_string_t* s) {
    if (s == NULL || s->data == NULL) return apr_pstrdup(p, "");
    return apr_pstrmemdup(p, s->data, (apr_size_t)s->len);
}

void aos_str_pset(aos_pool_t* p, aos_string_t* dst, const char* src, size_t len) {
    dst->data = apr_pstrmemdup(p, src ? src : "", src ? len : 0);
    dst->len = src ? (int)len : 0;
}

int aos_string_equals(const aos_string_t* str, const char* s) {
    size_t n = strlen(s);
    return str != NULL && str->len >= 0 && (size_t)str->len == n &&
           (n == 0 || memcmp(str->data, s, n) == 0);
}
