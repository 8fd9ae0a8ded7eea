// The store's request context and the records its calls fill or take.
#ifndef CONTRACTS_OSS_OSS_DEFINE_H
#define CONTRACTS_OSS_OSS_DEFINE_H

#include <apr_hash.h>

#include "Contracts/oss/aos_define.h"
#include "Contracts/oss/aos_http_io.h"
#include "Contracts/oss/aos_list.h"
#include "Contracts/oss/aos_string.h"

// Header names the layer sets or reads.
#define OSS_CONTENT_LENGTH "Content-Length"
#define OSS_CONTENT_TYPE "Content-Type"
#define OSS_CONTENT_MD5 "Content-MD5"
#define OSS_DATE "Date"
#define OSS_RANGE "Range"
#define OSS_AUTHORIZATION "Authorization"
#define OSS_CANNONICALIZED_HEADER_PREFIX "x-oss-"
#define OSS_STS_SECURITY_TOKEN "x-oss-security-token"
#define OSS_CANNED_ACL "x-oss-acl"
#define OSS_COPY_SOURCE "x-oss-copy-source"
#define OSS_HASH_CRC64_ECMA "x-oss-hash-crc64ecma"
#define OSS_REQUEST_ID "x-oss-request-id"
// A bodiless (HEAD) error answer's error document, base64 encoded.
#define OSS_ERROR_HEADER "x-oss-err"
#define OSS_DEFAULT_CONTENT_TYPE "application/octet-stream"

#define OSS_PER_RET_NUM 1000    // default page size of the listings
#define OSS_MAX_PART_NUM 10000  // highest part number of a multipart upload
#define OSS_MAX_OBJECT_KEY_LEN 1023

// Where and as whom requests go. Strings are the caller's (not copied).
typedef struct {
    aos_string_t endpoint;       // [http[s]://]host[:port]; http when no scheme
    aos_string_t access_key_id;  // empty: requests are sent unsigned
    aos_string_t access_key_secret;
    aos_string_t sts_token;  // security token of STS credentials, or empty
    int is_cname;            // 1: the endpoint is the bucket's own domain
    // The parts sent with this configuration, by upload id and part number
    // (CRC-64 and length of the bytes, in the table's pool), so that a
    // completion can check the object made of them; NULL: not kept.
    apr_hash_t* sent_parts;
} oss_config_t;

// The context every call takes. Everything a call allocates (its status,
// request, answer, response headers, listed records, body buffers) lives
// in `pool`; config and ctl may belong to a longer-lived pool.
typedef struct {
    oss_config_t* config;
    aos_http_controller_t* ctl;
    aos_pool_t* pool;
} oss_request_options_t;

typedef enum {
    OSS_ACL_PRIVATE = 0,
    OSS_ACL_PUBLIC_READ = 1,
    OSS_ACL_PUBLIC_READ_WRITE = 2
} oss_acl_e;

// Object listing: set prefix, marker, delimiter and max_ret; a call appends
// the page's objects and common prefixes to the lists and sets truncated
// and next_marker (the marker of the following page).
typedef struct {
    aos_string_t prefix;
    aos_string_t marker;
    aos_string_t delimiter;
    aos_string_t encoding_type;  // "url" asks for percent-encoded names (decoded on arrival)
    int max_ret;                 // 1..1000
    int truncated;               // 1: more pages follow
    aos_string_t next_marker;
    aos_list_t object_list;         // of oss_list_object_content_t
    aos_list_t common_prefix_list;  // of oss_list_object_common_prefix_t
} oss_list_object_params_t;

typedef struct {
    aos_list_t node;
    aos_string_t key;
    aos_string_t last_modified;  // e.g. 2019-03-15T08:20:31.000Z
    aos_string_t etag;
    aos_string_t size;  // decimal bytes
    aos_string_t storage_class;
} oss_list_object_content_t;

typedef struct {
    aos_list_t node;
    aos_string_t prefix;
} oss_list_object_common_prefix_t;

// A byte range of a local file: [file_pos, file_last); file_last -1 means
// up to the end of the file.
typedef struct {
    aos_string_t filename;
    int64_t file_pos;
    int64_t file_last;
} oss_upload_file_t;

// Part listing of one multipart upload: set part_number_marker and
// max_ret; a call appends to part_list and sets truncated and
// next_part_number_marker.
typedef struct {
    aos_string_t part_number_marker;
    int max_ret;  // 1..1000
    int truncated;
    aos_string_t next_part_number_marker;
    aos_list_t part_list;  // of oss_list_part_content_t
} oss_list_upload_part_params_t;

typedef struct {
    aos_list_t node;
    aos_string_t part_number;
    aos_string_t etag;
    aos_string_t size;
    aos_string_t last_modified;
} oss_list_part_content_t;

// One entry of the completion request.
typedef struct {
    aos_list_t node;
    aos_string_t part_number;
    aos_string_t etag;
} oss_complete_part_content_t;

#endif  // CONTRACTS_OSS_OSS_DEFINE_H
