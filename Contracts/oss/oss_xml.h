// The store's XML documents: answers parsed into pool records, request
// bodies built. Parsers return AOSE_OK or AOSE_XML_PARSE_ERROR; a body that
// is not the expected document never yields partial results.
#ifndef CONTRACTS_OSS_OSS_XML_H
#define CONTRACTS_OSS_OSS_XML_H

#include "Contracts/oss/aos_buf.h"
#include "Contracts/oss/aos_status.h"
#include "Contracts/oss/oss_define.h"

// ListBucketResult: Contents (Key, LastModified, ETag, Size, StorageClass)
// appended to object_list, CommonPrefixes/Prefix to common_prefix_list;
// IsTruncated true/false as 1/0; NextMarker. Size and LastModified are kept
// as text whatever they hold. A truncated answer without a
// NextMarker continues after its last name. Names are percent-decoded when
// the answer's EncodingType is "url".
int oss_list_objects_parse_from_body(aos_pool_t* p, const aos_list_t* body, aos_list_t* object_list,
                                     aos_list_t* common_prefix_list, aos_string_t* next_marker,
                                     int* truncated);

// InitiateMultipartUploadResult: UploadId.
int oss_upload_id_parse_from_body(aos_pool_t* p, const aos_list_t* body, aos_string_t* upload_id);

// ListPartsResult: Part (PartNumber, ETag, Size, LastModified) appended to
// part_list; IsTruncated; NextPartNumberMarker.
int oss_list_parts_parse_from_body(aos_pool_t* p, const aos_list_t* body, aos_list_t* part_list,
                                   aos_string_t* next_part_number_marker, int* truncated);

// Error: Code, Message and RequestId into the status (left as they are
// when the body is no Error document).
int oss_error_parse_from_body(aos_pool_t* p, const aos_list_t* body, aos_status_t* s);

// CompleteMultipartUploadResult: AOSE_OK when the body is that document
// (the store made the object), whatever it holds.
int oss_complete_result_parse_from_body(aos_pool_t* p, const aos_list_t* body);

// CompleteMultipartUpload body from a list of oss_complete_part_content_t,
// appended to `body` as one buffer. AOSE_INVALID_ARGUMENT for an entry
// without part number or ETag.
int oss_build_complete_multipart_upload_body(aos_pool_t* p, const aos_list_t* part_list,
                                             aos_list_t* body);

#endif  // CONTRACTS_OSS_OSS_XML_H
