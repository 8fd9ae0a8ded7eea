// Addressing: endpoints, names and the URLs built from them.
#ifndef CONTRACTS_OSS_OSS_UTIL_H
#define CONTRACTS_OSS_OSS_UTIL_H

#include "Contracts/oss/oss_define.h"

typedef struct {
    const char* scheme;  // "http" or "https"
    const char* host;    // without brackets for IPv6
    const char* port;    // NULL when not given
    int is_ip;           // host is an IPv4 or IPv6 address: path-style addressing
} oss_endpoint_t;

// Splits "[scheme://]host[:port][/]". AOSE_OK, or AOSE_INVALID_ARGUMENT for
// an empty endpoint, another scheme, a path, or a malformed host or port.
int oss_parse_endpoint(aos_pool_t* p, const aos_string_t* endpoint, oss_endpoint_t* out);

// 3 to 63 of a-z, 0-9 and '-', not starting or ending with '-'.
int oss_is_valid_bucket_name(const aos_string_t* bucket);

// Percent-encoding with upper-case hex; unreserved characters
// (A-Z a-z 0-9 - _ . ~) stay, and '/' stays when keep_slash is set.
char* oss_url_encode(aos_pool_t* p, const char* s, int len, int keep_slash);

// Decodes %XX sequences ('+' stays '+'). NULL on a malformed sequence or a
// NUL byte.
char* oss_url_decode(aos_pool_t* p, const char* s, int len);

// scheme://bucket.host[:port]/key (host names), scheme://host[:port]/bucket/key
// (IP addresses), scheme://host[:port]/key (is_cname). The key is
// percent-encoded keeping '/'; `params` (may be NULL) become the query.
// An empty bucket addresses the service, an empty key the bucket.
char* oss_build_url(aos_pool_t* p, const oss_endpoint_t* ep, int is_cname,
                    const aos_string_t* bucket, const aos_string_t* key, const aos_table_t* params);

#endif  // CONTRACTS_OSS_OSS_UTIL_H
