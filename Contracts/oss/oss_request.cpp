#include "Contracts/oss/oss_request.h"

#include <errno.h>
#include <openssl/evp.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "Contracts/oss/oss_api.h"
#include "Contracts/oss/oss_auth.h"
#include "Contracts/oss/oss_util.h"
#include "Contracts/oss/oss_xml.h"

namespace {

thread_local aos_status_t t_invalid_options;

// The base64 text of an error document runs to a few hundred bytes; a longer
// x-oss-err value is not decoded.
const size_t kMaxErrorHeader = 16 * 1024;

bool IsSuccess(int code) {
    return code >= 200 && code <= 299;
}

int CrcEnabled(const oss_request_options_t* o) {
    return o->ctl == NULL || o->ctl->options == NULL || o->ctl->options->enable_crc;
}

// A HEAD answer has no body: the store sends the error document base64
// encoded in x-oss-err. Read into the status like a body's; a value that is
// too long or not base64 is left alone.
void ParseErrorHeader(aos_pool_t* p, const aos_table_t* headers, aos_status_t* s) {
    const char* v = apr_table_get(headers, OSS_ERROR_HEADER);
    const size_t len = v ? strlen(v) : 0;
    if (len == 0 || len > kMaxErrorHeader || len % 4 != 0) return;
    aos_buf_t* b = aos_create_buf(p, (int64_t)(len / 4 * 3));
    int n = EVP_DecodeBlock(b->last, (const unsigned char*)v, (int)len);
    if (n < 0) return;
    // The padding is counted as decoded zero bytes.
    n -= (v[len - 1] == '=') + (v[len - 2] == '=');
    b->last += n;
    aos_list_t body;
    aos_list_init(&body);
    aos_list_add_tail(&b->node, &body);
    oss_error_parse_from_body(p, &body, s);
}

// The caller's buffer at the tail of body_out with room left, which the
// body of a successful answer fills first, or NULL.
aos_buf_t* RoomAtTail(aos_list_t* list) {
    if (list == NULL || aos_list_empty(list)) return NULL;
    aos_buf_t* b = aos_list_entry(list->prev, aos_buf_t, node);
    return b->last < b->end ? b : NULL;
}

}  // namespace

int oss_options_usable(const oss_request_options_t* options) {
    return options != NULL && options->config != NULL && options->pool != NULL;
}

aos_status_t* oss_invalid_options_status(void) {
    t_invalid_options.code = AOSE_INVALID_ARGUMENT;
    t_invalid_options.error_code = (char*)"InvalidArgument";
    t_invalid_options.error_msg = (char*)"request options, configuration or pool missing";
    t_invalid_options.req_id = NULL;
    return &t_invalid_options;
}

int oss_get_crc64_header(const aos_table_t* headers, uint64_t* crc) {
    const char* v = headers ? apr_table_get(headers, OSS_HASH_CRC64_ECMA) : NULL;
    if (v == NULL || *v < '0' || *v > '9') return 0;
    char* end = NULL;
    errno = 0;
    unsigned long long n = strtoull(v, &end, 10);
    if (errno != 0 || *end != '\0') return 0;
    *crc = (uint64_t)n;
    return 1;
}

aos_status_t* oss_request_fail(oss_request_t* r, int code, const char* msg) {
    return aos_status_fail(r->options->pool, r->s, code, msg);
}

int oss_request_init(oss_request_t* r, const oss_request_options_t* options, http_method_e method,
                     const aos_string_t* bucket, const aos_string_t* object,
                     const aos_table_t* headers, const aos_table_t* params) {
    aos_pool_t* p = options->pool;
    memset(r, 0, sizeof *r);
    r->options = options;
    r->s = aos_status_create(p);
    r->req = aos_http_request_create(p);
    r->resp = aos_http_response_create(p);

    oss_endpoint_t ep;
    if (oss_parse_endpoint(p, &options->config->endpoint, &ep) != AOSE_OK) {
        oss_request_fail(r, AOSE_INVALID_ARGUMENT, "invalid endpoint");
        return AOSE_INVALID_ARGUMENT;
    }
    if (!oss_is_valid_bucket_name(bucket)) {
        oss_request_fail(r, AOSE_INVALID_ARGUMENT, "invalid bucket name");
        return AOSE_INVALID_ARGUMENT;
    }
    if (object && (aos_is_null_string(object) || object->len > OSS_MAX_OBJECT_KEY_LEN ||
                   memchr(object->data, '\0', (size_t)object->len))) {
        oss_request_fail(r, AOSE_INVALID_ARGUMENT, "invalid object key");
        return AOSE_INVALID_ARGUMENT;
    }

    aos_table_t* query = params ? apr_table_copy(p, params) : apr_table_make(p, 4);
    r->req->method = method;
    r->req->url = oss_build_url(p, &ep, options->config->is_cname, bucket, object, query);
    r->req->headers = headers ? apr_table_copy(p, headers) : apr_table_make(p, 8);
    r->resource = oss_canonicalized_resource(p, bucket, object, query);
    return AOSE_OK;
}

namespace {

aos_status_t* SendAndCheck(oss_request_t* r) {
    const oss_request_options_t* o = r->options;
    aos_pool_t* p = o->pool;
    aos_http_request_t* req = r->req;
    aos_http_response_t* resp = r->resp;
    aos_status_t* s = r->s;

    if (req->body_type != AOS_BODY_NONE && apr_table_get(req->headers, OSS_CONTENT_TYPE) == NULL)
        apr_table_set(req->headers, OSS_CONTENT_TYPE, OSS_DEFAULT_CONTENT_TYPE);
    oss_sign_request(p, req->method, req->headers, r->resource, o->config, time(NULL));

    const aos_http_request_options_t* http_opts = o->ctl ? o->ctl->options : NULL;
    if (aos_http_send_request(http_opts, req, resp, s) != AOSE_OK) return s;

    s->code = resp->status;
    const char* req_id = apr_table_get(resp->headers, OSS_REQUEST_ID);
    if (req_id) s->req_id = apr_pstrdup(p, req_id);
    if (!IsSuccess(resp->status)) {
        if (!aos_list_empty(&resp->body))
            oss_error_parse_from_body(p, &resp->body, s);
        else
            ParseErrorHeader(p, resp->headers, s);
        return s;
    }

    uint64_t store_crc = 0;
    if (CrcEnabled(o) && oss_get_crc64_header(resp->headers, &store_crc)) {
        if (r->check_sent_crc && store_crc != resp->sent_crc64) {
            return oss_request_fail(
                r, AOSE_CRC_INCONSISTENT_ERROR,
                apr_psprintf(p,
                             "CRC-64 of the %" APR_INT64_T_FMT " bytes sent is %" APR_UINT64_T_FMT
                             ", the store computed %" APR_UINT64_T_FMT,
                             (apr_int64_t)resp->sent_len, (apr_uint64_t)resp->sent_crc64,
                             (apr_uint64_t)store_crc));
        }
        if (r->check_object_crc && store_crc != r->object_crc) {
            return oss_request_fail(
                r, AOSE_CRC_INCONSISTENT_ERROR,
                apr_psprintf(p,
                             "the object's CRC-64 is %" APR_UINT64_T_FMT
                             ", its parts were sent with %" APR_UINT64_T_FMT,
                             (apr_uint64_t)store_crc, (apr_uint64_t)r->object_crc));
        }
        if (r->check_body_crc && resp->status == 200 && store_crc != resp->body_crc64) {
            return oss_request_fail(
                r, AOSE_CRC_INCONSISTENT_ERROR,
                apr_psprintf(p,
                             "CRC-64 of the %" APR_INT64_T_FMT
                             " bytes received is %" APR_UINT64_T_FMT
                             ", the store sent %" APR_UINT64_T_FMT,
                             (apr_int64_t)resp->body_len, (apr_uint64_t)resp->body_crc64,
                             (apr_uint64_t)store_crc));
        }
    }
    return s;
}

}  // namespace

aos_status_t* oss_request_send(oss_request_t* r) {
    aos_buf_t* own = r->req->object_body ? RoomAtTail(r->body_out) : NULL;
    uint8_t* const own_last = own ? own->last : NULL;
    r->req->object_buf = own;
    aos_status_t* s = SendAndCheck(r);
    if (aos_status_is_ok(s)) {
        if (r->body_out) aos_list_splice_tail(&r->resp->body, r->body_out);
    } else if (own) {
        own->last = own_last;  // what a failed answer put there is no body
    }
    return s;
}

void oss_request_export_headers(const oss_request_t* r, aos_table_t** resp_headers) {
    if (resp_headers) *resp_headers = r->resp->headers;
}
