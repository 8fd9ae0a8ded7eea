// Request signing, version 1:
//   Authorization: OSS <id>:base64(HMAC-SHA1(secret, string to sign))
//   string to sign = VERB\nContent-MD5\nContent-Type\nDate\n
//                    CanonicalizedOSSHeaders CanonicalizedResource
#ifndef CONTRACTS_OSS_OSS_AUTH_H
#define CONTRACTS_OSS_OSS_AUTH_H

#include <time.h>

#include "Contracts/oss/oss_define.h"

// 1 when a query parameter is a sub-resource that the signature covers
// (uploads, uploadId, partNumber, acl, ...); listing parameters are not.
int oss_is_signed_sub_resource(const char* name);

// "/bucket/key" (the key raw), "/bucket/" for the bucket, "/" for the
// service, followed by "?" and the signed sub-resources of `params` sorted
// by name ("name" or "name=value", joined with '&').
char* oss_canonicalized_resource(aos_pool_t* p, const aos_string_t* bucket, const aos_string_t* key,
                                 const aos_table_t* params);

// The x-oss-* headers, names in lower case, values trimmed, sorted by
// name, each "name:value\n" (repeated names joined with ',').
char* oss_canonicalized_headers(aos_pool_t* p, const aos_table_t* headers);

const char* oss_method_name(http_method_e method);

char* oss_string_to_sign(aos_pool_t* p, http_method_e method, const char* canon_resource,
                         const aos_table_t* headers);

// base64(HMAC-SHA1(key, data)) into `out` (at least 29 bytes); its length.
int oss_hmac_sha1_base64(const char* key, int key_len, const char* data, size_t data_len,
                         char* out);

// base64(MD5(bytes of the list)), as for Content-MD5.
char* oss_content_md5_base64(aos_pool_t* p, const aos_list_t* body);

// RFC 1123 date in GMT, English names whatever the locale.
char* oss_gmt_date(aos_pool_t* p, time_t t);

// Sets Date (from `now`), the security token when the configuration has
// one, and Authorization (when it has an access key id).
void oss_sign_request(aos_pool_t* p, http_method_e method, aos_table_t* headers,
                      const char* canon_resource, const oss_config_t* config, time_t now);

#endif  // CONTRACTS_OSS_OSS_AUTH_H
