// Bucket requests: creation and the object listing.
#include "Contracts/oss/oss_api.h"
#include "Contracts/oss/oss_request.h"
#include "Contracts/oss/oss_xml.h"

namespace {

const char* CannedAcl(oss_acl_e acl) {
    switch (acl) {
        case OSS_ACL_PRIVATE:
            return "private";
        case OSS_ACL_PUBLIC_READ:
            return "public-read";
        case OSS_ACL_PUBLIC_READ_WRITE:
            return "public-read-write";
        default:
            return NULL;
    }
}

void SetParam(aos_pool_t* p, aos_table_t* t, const char* name, const aos_string_t* value) {
    if (!aos_is_null_string(value)) apr_table_set(t, name, aos_pstrdup(p, value));
}

}  // namespace

aos_status_t* oss_create_bucket(const oss_request_options_t* options, const aos_string_t* bucket,
                                oss_acl_e oss_acl, aos_table_t** resp_headers) {
    if (!oss_options_usable(options)) return oss_invalid_options_status();
    aos_table_t* headers = apr_table_make(options->pool, 1);
    const char* acl = CannedAcl(oss_acl);
    if (acl) apr_table_set(headers, OSS_CANNED_ACL, acl);
    oss_request_t r;
    if (oss_request_init(&r, options, HTTP_PUT, bucket, NULL, headers, NULL) == AOSE_OK)
        oss_request_send(&r);
    oss_request_export_headers(&r, resp_headers);
    return r.s;
}

oss_list_object_params_t* oss_create_list_object_params(aos_pool_t* p) {
    oss_list_object_params_t* params = (oss_list_object_params_t*)apr_pcalloc(p, sizeof(*params));
    params->max_ret = OSS_PER_RET_NUM;
    aos_list_init(&params->object_list);
    aos_list_init(&params->common_prefix_list);
    return params;
}

aos_status_t* oss_list_object(const oss_request_options_t* options, const aos_string_t* bucket,
                              oss_list_object_params_t* params, aos_table_t** resp_headers) {
    if (!oss_options_usable(options)) return oss_invalid_options_status();
    aos_pool_t* p = options->pool;
    oss_request_t r;
    aos_table_t* query = apr_table_make(p, 5);
    if (params) {
        SetParam(p, query, "prefix", &params->prefix);
        SetParam(p, query, "marker", &params->marker);
        SetParam(p, query, "delimiter", &params->delimiter);
        SetParam(p, query, "encoding-type", &params->encoding_type);
        if (params->max_ret > 0) apr_table_set(query, "max-keys", apr_itoa(p, params->max_ret));
    }
    if (oss_request_init(&r, options, HTTP_GET, bucket, NULL, NULL, query) != AOSE_OK) {
        oss_request_export_headers(&r, resp_headers);
        return r.s;
    }
    if (params == NULL) {
        oss_request_export_headers(&r, resp_headers);
        return oss_request_fail(&r, AOSE_INVALID_ARGUMENT, "listing parameters missing");
    }
    aos_status_t* s = oss_request_send(&r);
    oss_request_export_headers(&r, resp_headers);
    if (!aos_status_is_ok(s)) return s;
    if (oss_list_objects_parse_from_body(p, &r.resp->body, &params->object_list,
                                         &params->common_prefix_list, &params->next_marker,
                                         &params->truncated) != AOSE_OK)
        return oss_request_fail(&r, AOSE_XML_PARSE_ERROR, "the answer is no ListBucketResult");
    return s;
}
