#include "Contracts/oss/oss_api.h"

oss_request_options_t* oss_request_options_create(aos_pool_t* p) {
    oss_request_options_t* o = (oss_request_options_t*)apr_pcalloc(p, sizeof(*o));
    o->pool = p;
    return o;
}

oss_config_t* oss_config_create(aos_pool_t* p) {
    oss_config_t* c = (oss_config_t*)apr_pcalloc(p, sizeof(oss_config_t));
    c->sent_parts = apr_hash_make(p);
    return c;
}

oss_request_options_t* oss_request_options_copy(aos_pool_t* p, const oss_request_options_t* src) {
    oss_request_options_t* o = oss_request_options_create(p);
    if (src) {
        o->config = src->config;
        o->ctl = src->ctl;
    }
    return o;
}
