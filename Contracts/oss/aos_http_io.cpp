#include "Contracts/oss/aos_http_io.h"

#include <apr_general.h>
#include <curl/curl.h>
#include <pthread.h>
#include <stdio.h>
#include <string.h>

#include "Contracts/oss/aos_http_io_internal.h"

namespace {

const char kUserAgent[] = "nimbra-oss/1.0";

pthread_once_t g_global_once = PTHREAD_ONCE_INIT;
CURLcode g_global_result = CURLE_FAILED_INIT;

void GlobalInit() {
    g_global_result = curl_global_init(CURL_GLOBAL_ALL);
}

// One per thread: the handle lives from the outermost initialise to the
// matching deinitialise (or the thread's end).
struct ThreadIo {
    int refs = 0;
    CURL* curl = nullptr;
    char user_agent[256] = {0};

    ~ThreadIo() { Release(); }
    void Release() {
        if (curl) curl_easy_cleanup(curl);
        curl = nullptr;
        refs = 0;
    }
};

thread_local ThreadIo t_io;

}  // namespace

int aos_http_io_initialize(const char* user_agent_info, int flags) {
    (void)flags;
    pthread_once(&g_global_once, GlobalInit);
    if (g_global_result != CURLE_OK) return AOSE_FAILED_INITIALIZE;
    if (apr_initialize() != APR_SUCCESS) return AOSE_FAILED_INITIALIZE;
    if (t_io.refs == 0) {
        t_io.curl = curl_easy_init();
        if (t_io.curl == nullptr) {
            apr_terminate();
            return AOSE_FAILED_INITIALIZE;
        }
        if (user_agent_info && *user_agent_info) {
            snprintf(t_io.user_agent, sizeof t_io.user_agent, "%s %s", kUserAgent, user_agent_info);
        } else {
            snprintf(t_io.user_agent, sizeof t_io.user_agent, "%s", kUserAgent);
        }
    }
    ++t_io.refs;
    return AOSE_OK;
}

void aos_http_io_deinitialize(void) {
    if (t_io.refs <= 0) return;
    if (--t_io.refs == 0) t_io.Release();
    apr_terminate();
}

CURL* aos_http_io_thread_handle(void) {
    if (t_io.refs <= 0 || t_io.curl == nullptr) return nullptr;
    curl_easy_reset(t_io.curl);
    return t_io.curl;
}

const char* aos_http_io_user_agent(void) {
    return t_io.user_agent[0] ? t_io.user_agent : kUserAgent;
}

aos_http_controller_t* aos_http_controller_create(aos_pool_t* p, int owner) {
    aos_http_controller_t* ctl = (aos_http_controller_t*)apr_pcalloc(p, sizeof(*ctl));
    ctl->pool = p;
    ctl->owner = owner;
    return ctl;
}

void aos_http_request_options_set_defaults(aos_http_request_options_t* o) {
    memset(o, 0, sizeof *o);
    o->speed_limit = AOS_DEFAULT_SPEED_LIMIT;
    o->speed_time = AOS_DEFAULT_SPEED_TIME;
    o->dns_cache_timeout = AOS_DEFAULT_DNS_CACHE_TIMEOUT;
    o->connect_timeout = AOS_DEFAULT_CONNECT_TIMEOUT;
    o->max_memory_size = AOS_DEFAULT_MAX_MEMORY_SIZE;
    o->enable_crc = AOS_TRUE;
    o->verify_peer = AOS_TRUE;
    o->verify_host = AOS_TRUE;
}

aos_http_request_options_t* aos_http_request_options_create(aos_pool_t* p) {
    aos_http_request_options_t* o = (aos_http_request_options_t*)apr_palloc(p, sizeof(*o));
    aos_http_request_options_set_defaults(o);
    return o;
}
