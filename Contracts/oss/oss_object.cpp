// Object requests: put from a file, copy, delete, metadata, get.
#include "Contracts/oss/oss_api.h"
#include "Contracts/oss/oss_request.h"
#include "Contracts/oss/oss_util.h"

aos_status_t* oss_put_object_from_file(const oss_request_options_t* options,
                                       const aos_string_t* bucket, const aos_string_t* object,
                                       const aos_string_t* filename, aos_table_t* headers,
                                       aos_table_t** resp_headers) {
    if (!oss_options_usable(options)) return oss_invalid_options_status();
    oss_request_t r;
    if (oss_request_init(&r, options, HTTP_PUT, bucket, object, headers, NULL) == AOSE_OK) {
        if (aos_is_null_string(filename)) {
            oss_request_fail(&r, AOSE_INVALID_ARGUMENT, "file name missing");
        } else {
            r.req->body_type = AOS_BODY_FILE;
            r.req->file_path = aos_pstrdup(options->pool, filename);
            r.req->file_pos = 0;
            r.req->file_last = -1;
            r.check_sent_crc = AOS_TRUE;
            oss_request_send(&r);
        }
    }
    oss_request_export_headers(&r, resp_headers);
    return r.s;
}

aos_status_t* oss_copy_object(const oss_request_options_t* options,
                              const aos_string_t* source_bucket, const aos_string_t* source_object,
                              const aos_string_t* dest_bucket, const aos_string_t* dest_object,
                              aos_table_t* headers, aos_table_t** resp_headers) {
    if (!oss_options_usable(options)) return oss_invalid_options_status();
    aos_pool_t* p = options->pool;
    oss_request_t r;
    if (oss_request_init(&r, options, HTTP_PUT, dest_bucket, dest_object, headers, NULL) ==
        AOSE_OK) {
        if (!oss_is_valid_bucket_name(source_bucket) || aos_is_null_string(source_object) ||
            source_object->len > OSS_MAX_OBJECT_KEY_LEN) {
            oss_request_fail(&r, AOSE_INVALID_ARGUMENT, "invalid copy source");
        } else {
            apr_table_set(
                r.req->headers, OSS_COPY_SOURCE,
                apr_psprintf(p, "/%.*s/%s", source_bucket->len, source_bucket->data,
                             oss_url_encode(p, source_object->data, source_object->len, 1)));
            oss_request_send(&r);
        }
    }
    oss_request_export_headers(&r, resp_headers);
    return r.s;
}

aos_status_t* oss_delete_object(const oss_request_options_t* options, const aos_string_t* bucket,
                                const aos_string_t* object, aos_table_t** resp_headers) {
    if (!oss_options_usable(options)) return oss_invalid_options_status();
    oss_request_t r;
    if (oss_request_init(&r, options, HTTP_DELETE, bucket, object, NULL, NULL) == AOSE_OK)
        oss_request_send(&r);
    oss_request_export_headers(&r, resp_headers);
    return r.s;
}

aos_status_t* oss_get_object_meta(const oss_request_options_t* options, const aos_string_t* bucket,
                                  const aos_string_t* object, aos_table_t** resp_headers) {
    if (!oss_options_usable(options)) return oss_invalid_options_status();
    oss_request_t r;
    if (oss_request_init(&r, options, HTTP_HEAD, bucket, object, NULL, NULL) == AOSE_OK)
        oss_request_send(&r);
    oss_request_export_headers(&r, resp_headers);
    return r.s;
}

aos_status_t* oss_get_object_to_buffer(const oss_request_options_t* options,
                                       const aos_string_t* bucket, const aos_string_t* object,
                                       aos_table_t* headers, aos_table_t* params,
                                       aos_list_t* buffer, aos_table_t** resp_headers) {
    if (!oss_options_usable(options)) return oss_invalid_options_status();
    oss_request_t r;
    if (oss_request_init(&r, options, HTTP_GET, bucket, object, headers, params) == AOSE_OK) {
        if (buffer == NULL) {
            oss_request_fail(&r, AOSE_INVALID_ARGUMENT, "body list missing");
        } else {
            r.body_out = buffer;
            r.check_body_crc = AOS_TRUE;
            r.req->object_body = AOS_TRUE;
            oss_request_send(&r);
        }
    }
    oss_request_export_headers(&r, resp_headers);
    return r.s;
}
