#include "Contracts/oss/oss_util.h"

#include <arpa/inet.h>
#include <ctype.h>
#include <string.h>
#include <strings.h>

namespace {

bool IsUnreserved(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_' || c == '.' || c == '~';
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool IsHostChar(unsigned char c) {
    return isalnum(c) || c == '-' || c == '.' || c == '_';
}

}  // namespace

int oss_parse_endpoint(aos_pool_t* p, const aos_string_t* endpoint, oss_endpoint_t* out) {
    memset(out, 0, sizeof *out);
    if (aos_is_null_string(endpoint)) return AOSE_INVALID_ARGUMENT;
    const char* s = endpoint->data;
    const char* e = s + endpoint->len;
    while (s < e && isspace((unsigned char)*s)) ++s;
    while (e > s && isspace((unsigned char)e[-1])) --e;

    out->scheme = "http";
    const char* sep = NULL;
    for (const char* q = s; q + 2 < e; ++q) {
        if (q[0] == ':' && q[1] == '/' && q[2] == '/') {
            sep = q;
            break;
        }
    }
    if (sep) {
        size_t n = (size_t)(sep - s);
        if (n == 4 && strncasecmp(s, "http", 4) == 0) {
            out->scheme = "http";
        } else if (n == 5 && strncasecmp(s, "https", 5) == 0) {
            out->scheme = "https";
        } else {
            return AOSE_INVALID_ARGUMENT;
        }
        s = sep + 3;
    }
    while (e > s && e[-1] == '/') --e;  // "host/" is "host"
    if (s == e || memchr(s, '/', (size_t)(e - s)) || memchr(s, '?', (size_t)(e - s)) ||
        memchr(s, '@', (size_t)(e - s)))
        return AOSE_INVALID_ARGUMENT;

    const char *host_b = s, *host_e, *port_b = NULL;
    if (*s == '[') {  // [IPv6]:port
        const char* close = (const char*)memchr(s, ']', (size_t)(e - s));
        if (close == NULL) return AOSE_INVALID_ARGUMENT;
        host_b = s + 1;
        host_e = close;
        if (close + 1 < e) {
            if (close[1] != ':') return AOSE_INVALID_ARGUMENT;
            port_b = close + 2;
        }
        char* h = apr_pstrmemdup(p, host_b, (apr_size_t)(host_e - host_b));
        unsigned char addr[16];
        if (inet_pton(AF_INET6, h, addr) != 1) return AOSE_INVALID_ARGUMENT;
        out->host = h;
        out->is_ip = 1;
    } else {
        const char* colon = (const char*)memchr(s, ':', (size_t)(e - s));
        host_e = colon ? colon : e;
        if (colon) port_b = colon + 1;
        if (host_b == host_e) return AOSE_INVALID_ARGUMENT;
        for (const char* q = host_b; q < host_e; ++q) {
            if (!IsHostChar((unsigned char)*q)) return AOSE_INVALID_ARGUMENT;
        }
        char* h = apr_pstrmemdup(p, host_b, (apr_size_t)(host_e - host_b));
        unsigned char addr[4];
        out->host = h;
        out->is_ip = inet_pton(AF_INET, h, addr) == 1;
    }
    if (port_b) {
        if (port_b == e || e - port_b > 5) return AOSE_INVALID_ARGUMENT;
        long port = 0;
        for (const char* q = port_b; q < e; ++q) {
            if (!isdigit((unsigned char)*q)) return AOSE_INVALID_ARGUMENT;
            port = port * 10 + (*q - '0');
        }
        if (port < 1 || port > 65535) return AOSE_INVALID_ARGUMENT;
        out->port = apr_pstrmemdup(p, port_b, (apr_size_t)(e - port_b));
    }
    return AOSE_OK;
}

int oss_is_valid_bucket_name(const aos_string_t* bucket) {
    if (bucket == NULL || bucket->data == NULL || bucket->len < 3 || bucket->len > 63) return 0;
    for (int i = 0; i < bucket->len; ++i) {
        char c = bucket->data[i];
        if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-')) return 0;
    }
    return bucket->data[0] != '-' && bucket->data[bucket->len - 1] != '-';
}

char* oss_url_encode(aos_pool_t* p, const char* s, int len, int keep_slash) {
    static const char kHex[] = "0123456789ABCDEF";
    if (s == NULL || len <= 0) return apr_pstrdup(p, "");
    char* out = (char*)apr_palloc(p, (apr_size_t)len * 3 + 1);
    char* w = out;
    for (int i = 0; i < len; ++i) {
        unsigned char c = (unsigned char)s[i];
        if (IsUnreserved(c) || (keep_slash && c == '/')) {
            *w++ = (char)c;
        } else {
            *w++ = '%';
            *w++ = kHex[c >> 4];
            *w++ = kHex[c & 15];
        }
    }
    *w = '\0';
    return out;
}

char* oss_url_decode(aos_pool_t* p, const char* s, int len) {
    if (s == NULL || len <= 0) return apr_pstrdup(p, "");
    char* out = (char*)apr_palloc(p, (apr_size_t)len + 1);
    char* w = out;
    for (int i = 0; i < len; ++i) {
        char c = s[i];
        if (c == '%') {
            if (i + 2 >= len) return NULL;
            int hi = HexValue(s[i + 1]), lo = HexValue(s[i + 2]);
            if (hi < 0 || lo < 0) return NULL;
            c = (char)(hi * 16 + lo);
            i += 2;
        }
        if (c == '\0') return NULL;
        *w++ = c;
    }
    *w = '\0';
    return out;
}

char* oss_build_url(aos_pool_t* p, const oss_endpoint_t* ep, int is_cname,
                    const aos_string_t* bucket, const aos_string_t* key,
                    const aos_table_t* params) {
    bool has_bucket = !aos_is_null_string(bucket);
    const char* host = ep->host;
    if (strchr(host, ':')) host = apr_psprintf(p, "[%s]", host);  // IPv6 literal
    const char* port = ep->port ? apr_pstrcat(p, ":", ep->port, NULL) : "";
    const char* key_enc = aos_is_null_string(key) ? "" : oss_url_encode(p, key->data, key->len, 1);

    char* url;
    if (!has_bucket || is_cname) {
        url = apr_psprintf(p, "%s://%s%s/%s", ep->scheme, host, port, key_enc);
    } else if (ep->is_ip) {
        url = apr_psprintf(p, "%s://%s%s/%.*s/%s", ep->scheme, host, port, bucket->len,
                           bucket->data, key_enc);
    } else {
        url = apr_psprintf(p, "%s://%.*s.%s%s/%s", ep->scheme, bucket->len, bucket->data, host,
                           port, key_enc);
    }

    if (params && !apr_is_empty_table(params)) {
        const apr_array_header_t* arr = apr_table_elts(params);
        const apr_table_entry_t* e = (const apr_table_entry_t*)arr->elts;
        apr_array_header_t* parts = apr_array_make(p, arr->nelts * 4 + 1, sizeof(const char*));
        *(const char**)apr_array_push(parts) = url;
        for (int i = 0; i < arr->nelts; ++i) {
            if (e[i].key == NULL) continue;
            *(const char**)apr_array_push(parts) = parts->nelts == 1 ? "?" : "&";
            *(const char**)apr_array_push(parts) =
                oss_url_encode(p, e[i].key, (int)strlen(e[i].key), 0);
            if (e[i].val != NULL && e[i].val[0] != '\0') {
                *(const char**)apr_array_push(parts) = "=";
                *(const char**)apr_array_push(parts) =
                    oss_url_encode(p, e[i].val, (int)strlen(e[i].val), 0);
            }
        }
        url = apr_array_pstrcat(p, parts, '\0');
    }
    return url;
}
