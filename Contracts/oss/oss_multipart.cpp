// Multipart upload: initiate, upload parts from a file, list the parts,
// complete.
#include <stdlib.h>
#include <string.h>

#include "Contracts/oss/aos_crc64.h"
#include "Contracts/oss/oss_api.h"
#include "Contracts/oss/oss_auth.h"
#include "Contracts/oss/oss_request.h"
#include "Contracts/oss/oss_xml.h"

namespace {

// What the layer keeps of a part it sent.
struct SentPart {
    uint64_t crc64;
    int64_t len;
};

// The key of part `part_num` of an upload among the configuration's sent parts.
const char* SentPartKey(aos_pool_t* p, const aos_string_t* upload_id, int part_num) {
    return apr_psprintf(p, "%d:%.*s", part_num, upload_id->len, upload_id->data);
}

// Keeps what was sent as the part, replacing an earlier sending.
void RecordSentPart(const oss_config_t* config, const aos_string_t* upload_id, int part_num,
                    const aos_http_response_t* resp) {
    if (config->sent_parts == NULL) return;
    aos_pool_t* p = apr_hash_pool_get(config->sent_parts);
    SentPart* part = (SentPart*)apr_palloc(p, sizeof(*part));
    part->crc64 = resp->sent_crc64;
    part->len = resp->sent_len;
    apr_hash_set(config->sent_parts, SentPartKey(p, upload_id, part_num), APR_HASH_KEY_STRING,
                 part);
}

// 1 with *crc the CRC-64 of the object the listed parts make, from what was
// sent as each of them; 0 when a part was not sent with this configuration.
int CombineSentParts(aos_pool_t* p, const oss_config_t* config, const aos_string_t* upload_id,
                     const aos_list_t* part_list, uint64_t* crc) {
    *crc = 0;
    if (config->sent_parts == NULL) return 0;
    for (const aos_list_t* it = part_list->next; it != part_list; it = it->next) {
        const oss_complete_part_content_t* c =
            aos_list_entry(it, oss_complete_part_content_t, node);
        const int part_num = atoi(aos_pstrdup(p, &c->part_number));
        const SentPart* part = (const SentPart*)apr_hash_get(
            config->sent_parts, SentPartKey(p, upload_id, part_num), APR_HASH_KEY_STRING);
        if (part == NULL) return 0;
        *crc = aos_crc64_combine(*crc, part->crc64, (uint64_t)part->len);
    }
    return 1;
}

bool ValidUploadId(const aos_string_t* upload_id) {
    return !aos_is_null_string(upload_id) &&
           memchr(upload_id->data, '\0', (size_t)upload_id->len) == NULL;
}

// Initialises `r` for a request on one upload (?uploadId=...), failing it
// when the upload id is missing.
int InitUploadRequest(oss_request_t* r, const oss_request_options_t* options, http_method_e method,
                      const aos_string_t* bucket, const aos_string_t* object,
                      const aos_string_t* upload_id, const aos_table_t* headers,
                      aos_table_t* query) {
    if (ValidUploadId(upload_id))
        apr_table_set(query, "uploadId", aos_pstrdup(options->pool, upload_id));
    int rc = oss_request_init(r, options, method, bucket, object, headers, query);
    if (rc != AOSE_OK) return rc;
    if (!ValidUploadId(upload_id)) {
        oss_request_fail(r, AOSE_INVALID_ARGUMENT, "upload id missing");
        return AOSE_INVALID_ARGUMENT;
    }
    return AOSE_OK;
}

}  // namespace

aos_status_t* oss_init_multipart_upload(const oss_request_options_t* options,
                                        const aos_string_t* bucket, const aos_string_t* object,
                                        aos_string_t* upload_id, aos_table_t* headers,
                                        aos_table_t** resp_headers) {
    if (!oss_options_usable(options)) return oss_invalid_options_status();
    aos_pool_t* p = options->pool;
    aos_table_t* query = apr_table_make(p, 1);
    apr_table_set(query, "uploads", "");
    oss_request_t r;
    if (oss_request_init(&r, options, HTTP_POST, bucket, object, headers, query) != AOSE_OK) {
        oss_request_export_headers(&r, resp_headers);
        return r.s;
    }
    if (upload_id == NULL) {
        oss_request_export_headers(&r, resp_headers);
        return oss_request_fail(&r, AOSE_INVALID_ARGUMENT, "upload id output missing");
    }
    // The object's content type is fixed at initiation.
    if (apr_table_get(r.req->headers, OSS_CONTENT_TYPE) == NULL)
        apr_table_set(r.req->headers, OSS_CONTENT_TYPE, OSS_DEFAULT_CONTENT_TYPE);
    aos_status_t* s = oss_request_send(&r);
    oss_request_export_headers(&r, resp_headers);
    if (!aos_status_is_ok(s)) return s;
    if (oss_upload_id_parse_from_body(p, &r.resp->body, upload_id) != AOSE_OK)
        return oss_request_fail(&r, AOSE_XML_PARSE_ERROR,
                                "the answer is no InitiateMultipartUploadResult");
    return s;
}

oss_upload_file_t* oss_create_upload_file(aos_pool_t* p) {
    oss_upload_file_t* f = (oss_upload_file_t*)apr_pcalloc(p, sizeof(*f));
    f->file_last = -1;
    return f;
}

aos_status_t* oss_upload_part_from_file(const oss_request_options_t* options,
                                        const aos_string_t* bucket, const aos_string_t* object,
                                        const aos_string_t* upload_id, int part_num,
                                        oss_upload_file_t* upload_file,
                                        aos_table_t** resp_headers) {
    if (!oss_options_usable(options)) return oss_invalid_options_status();
    aos_pool_t* p = options->pool;
    aos_table_t* query = apr_table_make(p, 2);
    apr_table_set(query, "partNumber", apr_itoa(p, part_num));
    oss_request_t r;
    if (InitUploadRequest(&r, options, HTTP_PUT, bucket, object, upload_id, NULL, query) ==
        AOSE_OK) {
        if (part_num < 1 || part_num > OSS_MAX_PART_NUM) {
            oss_request_fail(&r, AOSE_INVALID_ARGUMENT, "part number out of range");
        } else if (upload_file == NULL || aos_is_null_string(&upload_file->filename)) {
            oss_request_fail(&r, AOSE_INVALID_ARGUMENT, "file name missing");
        } else {
            r.req->body_type = AOS_BODY_FILE;
            r.req->file_path = aos_pstrdup(p, &upload_file->filename);
            r.req->file_pos = upload_file->file_pos;
            r.req->file_last = upload_file->file_last;
            r.check_sent_crc = AOS_TRUE;
            if (aos_status_is_ok(oss_request_send(&r)))
                RecordSentPart(options->config, upload_id, part_num, r.resp);
        }
    }
    oss_request_export_headers(&r, resp_headers);
    return r.s;
}

oss_list_upload_part_params_t* oss_create_list_upload_part_params(aos_pool_t* p) {
    oss_list_upload_part_params_t* params =
        (oss_list_upload_part_params_t*)apr_pcalloc(p, sizeof(*params));
    params->max_ret = OSS_PER_RET_NUM;
    aos_list_init(&params->part_list);
    return params;
}

aos_status_t* oss_list_upload_part(const oss_request_options_t* options, const aos_string_t* bucket,
                                   const aos_string_t* object, const aos_string_t* upload_id,
                                   oss_list_upload_part_params_t* params,
                                   aos_table_t** resp_headers) {
    if (!oss_options_usable(options)) return oss_invalid_options_status();
    aos_pool_t* p = options->pool;
    aos_table_t* query = apr_table_make(p, 3);
    if (params) {
        if (params->max_ret > 0) apr_table_set(query, "max-parts", apr_itoa(p, params->max_ret));
        if (!aos_is_null_string(&params->part_number_marker))
            apr_table_set(query, "part-number-marker", aos_pstrdup(p, &params->part_number_marker));
    }
    oss_request_t r;
    if (InitUploadRequest(&r, options, HTTP_GET, bucket, object, upload_id, NULL, query) !=
        AOSE_OK) {
        oss_request_export_headers(&r, resp_headers);
        return r.s;
    }
    if (params == NULL) {
        oss_request_export_headers(&r, resp_headers);
        return oss_request_fail(&r, AOSE_INVALID_ARGUMENT, "part listing parameters missing");
    }
    aos_status_t* s = oss_request_send(&r);
    oss_request_export_headers(&r, resp_headers);
    if (!aos_status_is_ok(s)) return s;
    if (oss_list_parts_parse_from_body(p, &r.resp->body, &params->part_list,
                                       &params->next_part_number_marker,
                                       &params->truncated) != AOSE_OK)
        return oss_request_fail(&r, AOSE_XML_PARSE_ERROR, "the answer is no ListPartsResult");
    return s;
}

oss_complete_part_content_t* oss_create_complete_part_content(aos_pool_t* p) {
    oss_complete_part_content_t* c = (oss_complete_part_content_t*)apr_pcalloc(p, sizeof(*c));
    aos_list_init(&c->node);
    return c;
}

aos_status_t* oss_complete_multipart_upload(const oss_request_options_t* options,
                                            const aos_string_t* bucket, const aos_string_t* object,
                                            const aos_string_t* upload_id, aos_list_t* part_list,
                                            aos_table_t* headers, aos_table_t** resp_headers) {
    if (!oss_options_usable(options)) return oss_invalid_options_status();
    aos_pool_t* p = options->pool;
    oss_request_t r;
    if (InitUploadRequest(&r, options, HTTP_POST, bucket, object, upload_id, headers,
                          apr_table_make(p, 1)) == AOSE_OK) {
        int rc = part_list ? oss_build_complete_multipart_upload_body(p, part_list, &r.req->body)
                           : AOSE_INVALID_ARGUMENT;
        if (rc != AOSE_OK) {
            oss_request_fail(&r, rc, "invalid part list");
        } else {
            r.req->body_type = AOS_BODY_MEMORY;
            apr_table_set(r.req->headers, OSS_CONTENT_TYPE, "application/xml");
            const char* md5 = oss_content_md5_base64(p, &r.req->body);
            if (md5) apr_table_set(r.req->headers, OSS_CONTENT_MD5, md5);
            r.check_object_crc =
                CombineSentParts(p, options->config, upload_id, part_list, &r.object_crc);
            // A 2xx answer without the result document (an empty one, say)
            // does not show that the store made the object.
            aos_list_t answer;
            aos_list_init(&answer);
            r.body_out = &answer;
            if (aos_status_is_ok(oss_request_send(&r)) &&
                oss_complete_result_parse_from_body(p, &answer) != AOSE_OK)
                oss_request_fail(&r, AOSE_XML_PARSE_ERROR,
                                 "the answer is no CompleteMultipartUploadResult");
        }
    }
    oss_request_export_headers(&r, resp_headers);
    return r.s;
}
