// The store's calls. Every call takes the request options (configuration,
// HTTP controller, pool), allocates everything it produces in
// options->pool, and returns a status there: aos_status_is_ok() tells
// success; otherwise code is the HTTP status of the store's answer (with
// the store's error Code, Message and RequestId) or a negative
// aos_error_code_e of the layer. resp_headers, when not NULL, receives the
// answer's headers (an empty table when none arrived). The thread must be
// between aos_http_io_initialize and aos_http_io_deinitialize.
#ifndef CONTRACTS_OSS_OSS_API_H
#define CONTRACTS_OSS_OSS_API_H

#include "Contracts/oss/aos_buf.h"
#include "Contracts/oss/aos_http_io.h"
#include "Contracts/oss/aos_list.h"
#include "Contracts/oss/aos_status.h"
#include "Contracts/oss/aos_string.h"
#include "Contracts/oss/oss_define.h"

// Context. The options hold config and ctl once they are set.
oss_request_options_t* oss_request_options_create(aos_pool_t* p);
oss_config_t* oss_config_create(aos_pool_t* p);
// Options allocating in `p` (e.g. a child pool for one request, so its
// memory goes with that pool) and sharing the configuration and controller
// of `src`.
oss_request_options_t* oss_request_options_copy(aos_pool_t* p, const oss_request_options_t* src);

// Buckets.
aos_status_t* oss_create_bucket(const oss_request_options_t* options, const aos_string_t* bucket,
                                oss_acl_e oss_acl, aos_table_t** resp_headers);

// Objects.
// The whole file in one PUT, streamed from disk with its CRC-64 checked.
aos_status_t* oss_put_object_from_file(const oss_request_options_t* options,
                                       const aos_string_t* bucket, const aos_string_t* object,
                                       const aos_string_t* filename, aos_table_t* headers,
                                       aos_table_t** resp_headers);
// Server-side copy of source_bucket/source_object to dest_bucket/dest_object.
aos_status_t* oss_copy_object(const oss_request_options_t* options,
                              const aos_string_t* source_bucket, const aos_string_t* source_object,
                              const aos_string_t* dest_bucket, const aos_string_t* dest_object,
                              aos_table_t* headers, aos_table_t** resp_headers);
aos_status_t* oss_delete_object(const oss_request_options_t* options, const aos_string_t* bucket,
                                const aos_string_t* object, aos_table_t** resp_headers);
// HEAD: the object's headers (Content-Length, ETag, Last-Modified, ...).
aos_status_t* oss_get_object_meta(const oss_request_options_t* options, const aos_string_t* bucket,
                                  const aos_string_t* object, aos_table_t** resp_headers);
// The object's CRC-64 from an answer's x-oss-hash-crc64ecma header (headers
// may be NULL): 1 with *crc set when the value is a decimal number within 64
// bits, 0 when the header is absent or holds anything else.
int oss_get_crc64_header(const aos_table_t* headers, uint64_t* crc);
// GET with the request `headers` (e.g. "Range": "bytes=0-1048575") and query
// `params` (both may be NULL); the body is appended to `buffer` as
// aos_buf_t in order: into the room of the list's last buffer first (one
// made with aos_buf_over, say), so a caller that leaves room for the whole
// body receives it there, copied once. A whole-object answer (200) is
// CRC-64 checked. On failure the list is as it was.
aos_status_t* oss_get_object_to_buffer(const oss_request_options_t* options,
                                       const aos_string_t* bucket, const aos_string_t* object,
                                       aos_table_t* headers, aos_table_t* params,
                                       aos_list_t* buffer, aos_table_t** resp_headers);

// Listing. Defaults: no prefix, marker or delimiter, max_ret 1000.
oss_list_object_params_t* oss_create_list_object_params(aos_pool_t* p);
aos_status_t* oss_list_object(const oss_request_options_t* options, const aos_string_t* bucket,
                              oss_list_object_params_t* params, aos_table_t** resp_headers);

// Multipart upload.
aos_status_t* oss_init_multipart_upload(const oss_request_options_t* options,
                                        const aos_string_t* bucket, const aos_string_t* object,
                                        aos_string_t* upload_id, aos_table_t* headers,
                                        aos_table_t** resp_headers);
// Defaults: no file name, file_pos 0, file_last -1 (the end of the file).
oss_upload_file_t* oss_create_upload_file(aos_pool_t* p);
// Part part_num (1..10000) from the file range, streamed from disk with its
// CRC-64 checked; once stored, its CRC-64 and length are kept with the
// options' configuration for the completion.
aos_status_t* oss_upload_part_from_file(const oss_request_options_t* options,
                                        const aos_string_t* bucket, const aos_string_t* object,
                                        const aos_string_t* upload_id, int part_num,
                                        oss_upload_file_t* upload_file, aos_table_t** resp_headers);
// Defaults: no marker, max_ret 1000.
oss_list_upload_part_params_t* oss_create_list_upload_part_params(aos_pool_t* p);
aos_status_t* oss_list_upload_part(const oss_request_options_t* options, const aos_string_t* bucket,
                                   const aos_string_t* object, const aos_string_t* upload_id,
                                   oss_list_upload_part_params_t* params,
                                   aos_table_t** resp_headers);
oss_complete_part_content_t* oss_create_complete_part_content(aos_pool_t* p);
// part_list: oss_complete_part_content_t in ascending part order. A 2xx
// answer that is no CompleteMultipartUploadResult document fails with
// AOSE_XML_PARSE_ERROR. When every listed part was sent through the
// options' configuration, the store's CRC-64 of the object (when it sends one)
// must be the one combined from what was sent, else
// AOSE_CRC_INCONSISTENT_ERROR.
aos_status_t* oss_complete_multipart_upload(const oss_request_options_t* options,
                                            const aos_string_t* bucket, const aos_string_t* object,
                                            const aos_string_t* upload_id, aos_list_t* part_list,
                                            aos_table_t* headers, aos_table_t** resp_headers);

#endif  // CONTRACTS_OSS_OSS_API_H
