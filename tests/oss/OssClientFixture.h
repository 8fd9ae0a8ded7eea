// Request options for one endpoint and credentials, on the test's pool.
#ifndef TESTS_OSS_OSSCLIENTFIXTURE_H
#define TESTS_OSS_OSSCLIENTFIXTURE_H

#include <string>

#include "Contracts/oss/oss_api.h"
#include "OssTestPool.h"

class OssClientTest : public PoolTest {
protected:
    // Strings are kept in members: the options point at them.
    oss_request_options_t* Options(const std::string& endpoint, const std::string& id = "test-id",
                                   const std::string& secret = "test-secret",
                                   const std::string& token = "") {
        endpoint_ = endpoint;
        id_ = id;
        secret_ = secret;
        token_ = token;
        oss_request_options_t* o = oss_request_options_create(pool_);
        o->config = oss_config_create(o->pool);
        aos_str_set(&o->config->endpoint, endpoint_.c_str());
        aos_str_set(&o->config->access_key_id, id_.c_str());
        aos_str_set(&o->config->access_key_secret, secret_.c_str());
        if (!token_.empty()) aos_str_set(&o->config->sts_token, token_.c_str());
        o->config->is_cname = 0;
        o->ctl = aos_http_controller_create(o->pool, 0);
        o->ctl->options = aos_http_request_options_create(o->pool);
        return o;
    }
    static aos_string_t Str(const char* s) {
        aos_string_t out;
        aos_str_set(&out, s);
        return out;
    }
    static std::string Msg(const aos_status_t* s) {
        return std::to_string(s->code) + " " + (s->error_code ? s->error_code : "-") + " " +
               (s->error_msg ? s->error_msg : "-");
    }

private:
    std::string endpoint_, id_, secret_, token_;
};

#endif  // TESTS_OSS_OSSCLIENTFIXTURE_H
