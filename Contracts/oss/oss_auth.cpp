#include "Contracts/oss/oss_auth.h"

#include <ctype.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <stdlib.h>
#include <string.h>

#include "Contracts/oss/aos_buf.h"

namespace {

// Sorted, so a lookup is a binary search.
const char* const kSignedSubResources[] = {
    "acl",
    "append",
    "bucketInfo",
    "callback",
    "callback-var",
    "cname",
    "comp",
    "cors",
    "delete",
    "encryption",
    "endTime",
    "img",
    "inventory",
    "inventoryId",
    "lifecycle",
    "live",
    "location",
    "logging",
    "objectMeta",
    "partNumber",
    "policy",
    "position",
    "qos",
    "referer",
    "replication",
    "replicationLocation",
    "replicationProgress",
    "requestPayment",
    "response-cache-control",
    "response-content-disposition",
    "response-content-encoding",
    "response-content-language",
    "response-content-type",
    "response-expires",
    "restore",
    "security-token",
    "sequential",
    "startTime",
    "stat",
    "status",
    "style",
    "styleName",
    "symlink",
    "tagging",
    "udf",
    "udfApplication",
    "udfApplicationLog",
    "udfId",
    "udfImage",
    "udfImageDesc",
    "udfName",
    "uploadId",
    "uploads",
    "versionId",
    "versioning",
    "versions",
    "vod",
    "website",
    "worm",
    "wormExtend",
    "wormId",
    "x-oss-process",
};

int CompareCString(const void* a, const void* b) {
    return strcmp(*(const char* const*)a, *(const char* const*)b);
}

struct NameValue {
    const char* name;
    const char* value;
};

int CompareByName(const void* a, const void* b) {
    return strcmp(((const NameValue*)a)->name, ((const NameValue*)b)->name);
}

char* TrimCopy(aos_pool_t* p, const char* s) {
    while (*s == ' ' || *s == '\t') ++s;
    size_t n = strlen(s);
    while (n > 0 && (s[n - 1] == ' ' || s[n - 1] == '\t')) --n;
    return apr_pstrmemdup(p, s, n);
}

const char* HeaderOrEmpty(const aos_table_t* headers, const char* name) {
    const char* v = headers ? apr_table_get(headers, name) : NULL;
    return v ? v : "";
}

}  // namespace

int oss_is_signed_sub_resource(const char* name) {
    if (name == NULL) return 0;
    return bsearch(&name, kSignedSubResources,
                   sizeof(kSignedSubResources) / sizeof(kSignedSubResources[0]),
                   sizeof(kSignedSubResources[0]), CompareCString) != NULL;
}

char* oss_canonicalized_resource(aos_pool_t* p, const aos_string_t* bucket, const aos_string_t* key,
                                 const aos_table_t* params) {
    char* res;
    if (aos_is_null_string(bucket)) {
        res = apr_pstrdup(p, "/");
    } else {
        res = apr_psprintf(p, "/%.*s/%.*s", bucket->len, bucket->data,
                           aos_is_null_string(key) ? 0 : key->len,
                           aos_is_null_string(key) ? "" : key->data);
    }
    if (params == NULL || apr_is_empty_table(params)) return res;

    const apr_array_header_t* arr = apr_table_elts(params);
    const apr_table_entry_t* e = (const apr_table_entry_t*)arr->elts;
    NameValue* subs = (NameValue*)apr_palloc(p, sizeof(NameValue) * (size_t)arr->nelts + 1);
    int n = 0;
    for (int i = 0; i < arr->nelts; ++i) {
        if (e[i].key && oss_is_signed_sub_resource(e[i].key)) subs[n++] = {e[i].key, e[i].val};
    }
    if (n == 0) return res;
    qsort(subs, (size_t)n, sizeof(NameValue), CompareByName);
    apr_array_header_t* parts = apr_array_make(p, n * 4 + 1, sizeof(const char*));
    *(const char**)apr_array_push(parts) = res;
    for (int i = 0; i < n; ++i) {
        *(const char**)apr_array_push(parts) = i == 0 ? "?" : "&";
        *(const char**)apr_array_push(parts) = subs[i].name;
        if (subs[i].value && subs[i].value[0]) {
            *(const char**)apr_array_push(parts) = "=";
            *(const char**)apr_array_push(parts) = subs[i].value;
        }
    }
    return apr_array_pstrcat(p, parts, '\0');
}

char* oss_canonicalized_headers(aos_pool_t* p, const aos_table_t* headers) {
    if (headers == NULL || apr_is_empty_table(headers)) return apr_pstrdup(p, "");
    const apr_array_header_t* arr = apr_table_elts(headers);
    const apr_table_entry_t* e = (const apr_table_entry_t*)arr->elts;
    const size_t prefix_len = strlen(OSS_CANNONICALIZED_HEADER_PREFIX);
    NameValue* hs = (NameValue*)apr_palloc(p, sizeof(NameValue) * (size_t)arr->nelts + 1);
    int n = 0;
    for (int i = 0; i < arr->nelts; ++i) {
        if (e[i].key == NULL ||
            strncasecmp(e[i].key, OSS_CANNONICALIZED_HEADER_PREFIX, prefix_len) != 0)
            continue;
        char* name = apr_pstrdup(p, e[i].key);
        for (char* c = name; *c; ++c) *c = (char)tolower((unsigned char)*c);
        hs[n++] = {name, TrimCopy(p, e[i].val ? e[i].val : "")};
    }
    // Equal names sort next to each other (stable order is not needed:
    // their values are joined in table order below).
    qsort(hs, (size_t)n, sizeof(NameValue), CompareByName);
    apr_array_header_t* parts = apr_array_make(p, n * 4 + 1, sizeof(const char*));
    for (int i = 0; i < n;) {
        *(const char**)apr_array_push(parts) = hs[i].name;
        *(const char**)apr_array_push(parts) = ":";
        *(const char**)apr_array_push(parts) = hs[i].value;
        int j = i + 1;
        for (; j < n && strcmp(hs[j].name, hs[i].name) == 0; ++j) {
            *(const char**)apr_array_push(parts) = ",";
            *(const char**)apr_array_push(parts) = hs[j].value;
        }
        *(const char**)apr_array_push(parts) = "\n";
        i = j;
    }
    return apr_array_pstrcat(p, parts, '\0');
}

const char* oss_method_name(http_method_e method) {
    switch (method) {
        case HTTP_GET:
            return "GET";
        case HTTP_HEAD:
            return "HEAD";
        case HTTP_PUT:
            return "PUT";
        case HTTP_POST:
            return "POST";
        case HTTP_DELETE:
            return "DELETE";
    }
    return "GET";
}

char* oss_string_to_sign(aos_pool_t* p, http_method_e method, const char* canon_resource,
                         const aos_table_t* headers) {
    return apr_pstrcat(p, oss_method_name(method), "\n", HeaderOrEmpty(headers, OSS_CONTENT_MD5),
                       "\n", HeaderOrEmpty(headers, OSS_CONTENT_TYPE), "\n",
                       HeaderOrEmpty(headers, OSS_DATE), "\n",
                       oss_canonicalized_headers(p, headers), canon_resource, NULL);
}

int oss_hmac_sha1_base64(const char* key, int key_len, const char* data, size_t data_len,
                         char* out) {
    unsigned char mac[EVP_MAX_MD_SIZE];
    unsigned int mac_len = 0;
    if (HMAC(EVP_sha1(), key, key_len, (const unsigned char*)data, data_len, mac, &mac_len) ==
        NULL) {
        out[0] = '\0';
        return 0;
    }
    return EVP_EncodeBlock((unsigned char*)out, mac, (int)mac_len);
}

char* oss_content_md5_base64(aos_pool_t* p, const aos_list_t* body) {
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int md_len = 0;
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    bool ok = ctx && EVP_DigestInit_ex(ctx, EVP_md5(), NULL) == 1;
    for (const aos_list_t* it = body->next; ok && it != body; it = it->next) {
        const aos_buf_t* b = aos_list_entry(it, aos_buf_t, node);
        ok = EVP_DigestUpdate(ctx, b->pos, (size_t)aos_buf_size(b)) == 1;
    }
    ok = ok && EVP_DigestFinal_ex(ctx, md, &md_len) == 1;
    EVP_MD_CTX_free(ctx);
    if (!ok) return NULL;
    char* out = (char*)apr_palloc(p, 4 * ((md_len + 2) / 3) + 1);
    EVP_EncodeBlock((unsigned char*)out, md, (int)md_len);
    return out;
}

char* oss_gmt_date(aos_pool_t* p, time_t t) {
    static const char kDays[7][4] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char kMonths[12][4] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    struct tm tm;
    gmtime_r(&t, &tm);
    return apr_psprintf(p, "%s, %02d %s %04d %02d:%02d:%02d GMT", kDays[tm.tm_wday], tm.tm_mday,
                        kMonths[tm.tm_mon], tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec);
}

void oss_sign_request(aos_pool_t* p, http_method_e method, aos_table_t* headers,
                      const char* canon_resource, const oss_config_t* config, time_t now) {
    apr_table_set(headers, OSS_DATE, oss_gmt_date(p, now));
    if (!aos_is_null_string(&config->sts_token)) {
        apr_table_set(headers, OSS_STS_SECURITY_TOKEN, aos_pstrdup(p, &config->sts_token));
    }
    if (aos_is_null_string(&config->access_key_id)) return;
    const char* to_sign = oss_string_to_sign(p, method, canon_resource, headers);
    char signature[64];
    oss_hmac_sha1_base64(config->access_key_secret.data ? config->access_key_secret.data : "",
                         config->access_key_secret.len, to_sign, strlen(to_sign), signature);
    apr_table_set(headers, OSS_AUTHORIZATION,
                  apr_psprintf(p, "OSS %.*s:%s", config->access_key_id.len,
                               config->access_key_id.data, signature));
}
